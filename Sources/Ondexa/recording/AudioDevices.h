#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {
struct AudioSource;
}

namespace ondexa {

// One audio input device of the machine (an input source of the sound server).
struct AudioInputDevice {
    std::uint32_t id = 0;                   // the server's index of the source
    std::string uid;                        // the source's name: stable, the id the settings keep
    std::string name;                       // the name to show
    std::vector<std::string> channelNames;  // "Bemenet 1", "Bemenet 2 – Jobb első", …; its length is the channel count

    bool operator==(const AudioInputDevice&) const = default;
};

// The machine's audio input devices, read afresh on every call.
namespace AudioDeviceList {

// The inputs of the sound server, monitors left out, in the server's order.
// Never fails: without a server the list is empty. Blocks until the server
// answers (at most its deadline): not on the main thread.
std::vector<AudioInputDevice> inputDevices();
// The same, but a server that can't be reached or does not answer in time
// throws its AudioError, which says why.
std::vector<AudioInputDevice> read();

// The devices made of the given sources: monitors and unusable sources left
// out, channel names made ("Bemenet 3", "Bemenet 1 – Bal első": the
// position's name only where it says more than the number).
std::vector<AudioInputDevice> devicesFrom(const std::vector<platform::AudioSource>& sources);

// Calls `callback` on the main thread (through the Qt event loop) whenever an
// input is added or removed. The listener lives as long as the process.
void observeChanges(std::function<void()> callback);

} // namespace AudioDeviceList

} // namespace ondexa

template <>
struct std::hash<ondexa::AudioInputDevice> {
    std::size_t operator()(const ondexa::AudioInputDevice& device) const noexcept;
};
