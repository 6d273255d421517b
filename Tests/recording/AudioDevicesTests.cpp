#include "Ondexa/recording/AudioDevices.h"

#include "Platform/audio/AudioServer.h"

#include <gtest/gtest.h>

using ondexa::AudioInputDevice;
using platform::AudioSource;

namespace {

AudioSource source(std::uint32_t index, std::string name, std::string description, std::vector<std::string> channels,
                   bool monitor = false)
{
    AudioSource s;
    s.index = index;
    s.name = std::move(name);
    s.description = std::move(description);
    s.channelCount = int(channels.size());
    s.channelNames = std::move(channels);
    s.sampleRate = 48000;
    s.isMonitor = monitor;
    return s;
}

} // namespace

TEST(AudioDevices, listsTheInputsWithNumberedChannelNames)
{
    auto devices = ondexa::AudioDeviceList::devicesFrom({
        source(0, "desk.monitor", "Monitor of desk", {"front-left", "front-right"}, true),
        source(3, "iface", "Négycsatornás interfész", {"aux0", "aux1", "", "Mic"}),
        source(1, "silent", "Nincs csatorna", {}),
        source(2, "noname", "", {"mono"}),
        source(4, "", "Név nélküli", {"mono"}),
        source(5, "CADefaultDevice.aggregate", "Összesítő", {"mono"}),
        source(9, "usb", "USB mikrofon", {"mono"}),
    });

    ASSERT_EQ(devices.size(), 2u);  // in the server's order, the unusable ones left out
    EXPECT_EQ(devices[0], (AudioInputDevice{3, "iface", "Négycsatornás interfész",
                                            {"Bemenet 1 – aux0", "Bemenet 2 – aux1", "Bemenet 3", "Bemenet 4 – Mic"}}));
    EXPECT_EQ(devices[1], (AudioInputDevice{9, "usb", "USB mikrofon", {"Bemenet 1 – mono"}}));

    // Channel names missing altogether still number every channel.
    auto bare = source(1, "bare", "Csupasz", {});
    bare.channelCount = 2;
    auto named = ondexa::AudioDeviceList::devicesFrom({bare});
    ASSERT_EQ(named.size(), 1u);
    EXPECT_EQ(named[0].channelNames, (std::vector<std::string>{"Bemenet 1", "Bemenet 2"}));
}
