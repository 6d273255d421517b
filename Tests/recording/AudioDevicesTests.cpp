// The audio input devices made of the sound server's sources: which are
// listed, and how their channels are named.

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

TEST(AudioDeviceList, ListsInputsWithNumberedChannelsNamedOnlyWhereThePositionSaysMore)
{
    auto shortMap = source(9, "short", "Rövid", {"front-left"});
    shortMap.channelCount = 2;  // a map shorter than the channels: the rest are numbers
    auto silent = source(10, "silent", "Néma", {});
    const std::vector<AudioSource> sources = {
        source(1, "iface", "Hangkártya", {"aux0", "aux1", "aux2", "aux3"}),
        source(2, "desk.monitor", "Monitor of Desk", {"front-left", "front-right"}, true),
        source(3, "usb-mic", "USB mikrofon", {"mono"}),
        source(4, "CADefaultDevice-in", "Alapértelmezett", {"mono"}),
        source(5, "headset", "Fejhallgató", {"front-left", "front-right"}),
        source(6, "", "Névtelen", {"mono"}),
        source(7, "unnamed", "", {"mono"}),
        source(8, "odd", "Furcsa", {"bogus", "", "lfe"}),
        shortMap,
        silent,
    };
    const std::vector<AudioInputDevice> expected = {
        {1, "iface", "Hangkártya", {"Bemenet 1", "Bemenet 2", "Bemenet 3", "Bemenet 4"}},
        {3, "usb-mic", "USB mikrofon", {"Bemenet 1"}},
        {5, "headset", "Fejhallgató",
         {"Bemenet 1 – Bal első", "Bemenet 2 – Jobb első"}},  // Hungarian whatever the locale
        {8, "odd", "Furcsa", {"Bemenet 1", "Bemenet 2", "Bemenet 3 – Mélysugárzó"}},
        {9, "short", "Rövid", {"Bemenet 1 – Bal első", "Bemenet 2"}},
    };
    const auto devices = ondexa::AudioDeviceList::devicesFrom(sources);
    ASSERT_EQ(devices.size(), expected.size());
    for (std::size_t i = 0; i < devices.size(); ++i) {
        EXPECT_EQ(devices[i], expected[i]) << i;
        for (const auto& channel : devices[i].channelNames)
            EXPECT_EQ(channel.find('-'), std::string::npos) << channel;  // never a raw token
    }
}
