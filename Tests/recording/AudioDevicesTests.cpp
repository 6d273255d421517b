#include "Ondexa/recording/AudioDevices.h"

#include "Platform/audio/AudioServer.h"

#include <gtest/gtest.h>

TEST(AudioDevices, ListsTheUsableInputsWithNumberedChannelNames)
{
    auto source = [](std::uint32_t index, std::string name, std::string description, std::vector<std::string> channels,
                     int count, bool monitor = false) {
        return platform::AudioSource{.index = index, .name = std::move(name), .description = std::move(description),
                                     .channelNames = std::move(channels), .channelCount = count, .sampleRate = 48000,
                                     .isMonitor = monitor};
    };
    // In the server's order; monitors, nameless, silent and aggregate sources left out.
    EXPECT_EQ(ondexa::AudioDeviceList::devicesFrom({
                  source(0, "desk.monitor", "Monitor of desk", {"front-left", "front-right"}, 2, true),
                  source(3, "iface", "Négycsatornás interfész", {"aux0", "aux1", "", "Mic"}, 4),
                  source(1, "silent", "Nincs csatorna", {}, 0),
                  source(2, "noname", "", {"mono"}, 1),
                  source(4, "", "Név nélküli", {"mono"}, 1),
                  source(5, "CADefaultDevice.aggregate", "Összesítő", {"mono"}, 1),
                  source(6, "bare", "Csupasz", {}, 2),
              }),
              (std::vector<ondexa::AudioInputDevice>{
                  {3, "iface", "Négycsatornás interfész",
                   {"Bemenet 1 – aux0", "Bemenet 2 – aux1", "Bemenet 3", "Bemenet 4 – Mic"}},
                  {6, "bare", "Csupasz", {"Bemenet 1", "Bemenet 2"}},
              }));
}
