// The monitor's own name, read from its EDID: the parser on made-up blocks,
// and the display list of the test desktop once its output carries one.

#include "Platform/capture/ScreenContent.h"

#include "TestDesktop.h"

#include <gtest/gtest.h>

#include <xcb/randr.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#include <vector>

using platform::ScreenContent;

namespace {

using Edid = std::array<std::uint8_t, 128>;

// A base EDID block with the given 18-byte descriptors from byte 54 on.
Edid edidWith(const std::vector<std::array<std::uint8_t, 18>>& descriptors)
{
    Edid edid{};
    const std::uint8_t header[8] = {0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00};
    std::copy(std::begin(header), std::end(header), edid.begin());
    edid[8] = 0x10;  // "DEL"
    edid[9] = 0xac;
    for (std::size_t i = 0; i < descriptors.size() && i < 4; ++i)
        std::copy(descriptors[i].begin(), descriptors[i].end(), edid.begin() + 54 + 18 * i);
    edid[127] = std::uint8_t(256 - std::accumulate(edid.begin(), edid.end() - 1, 0u) % 256);
    return edid;
}

// A display descriptor with a tag and up to 13 bytes of text as EDID pads it.
std::array<std::uint8_t, 18> textDescriptor(std::uint8_t tag, const char* text)
{
    std::array<std::uint8_t, 18> d{};
    d[3] = tag;
    std::size_t i = 5;
    for (; *text && i < 18; ++text, ++i) d[i] = std::uint8_t(*text);
    if (i < 18) d[i++] = 0x0a;
    for (; i < 18; ++i) d[i] = 0x20;
    return d;
}

std::array<std::uint8_t, 18> timingDescriptor()
{
    std::array<std::uint8_t, 18> d{};
    d[0] = 0x56;  // a pixel clock: a detailed timing, not text
    d[1] = 0x5e;
    d[3] = 0xfc;  // bytes that would read as a name tag must not count here
    return d;
}

std::string nameOf(const Edid& edid, std::size_t size = 128) { return platform::monitorNameFromEdid(edid.data(), size); }

} // namespace

TEST(MonitorName, TheDisplayNameDescriptorGivesTheNameWithoutItsPadding)
{
    const auto serial = textDescriptor(0xff, "CFV9N123456");
    EXPECT_EQ(nameOf(edidWith({timingDescriptor(), serial, textDescriptor(0xfc, "DELL U2719D")})), "DELL U2719D");
    // Thirteen characters fill the descriptor with no line feed.
    EXPECT_EQ(nameOf(edidWith({textDescriptor(0xfc, "LG ULTRAFINE5")})), "LG ULTRAFINE5");
    EXPECT_EQ(nameOf(edidWith({textDescriptor(0xfc, " Padded ")})), "Padded");

    // No name: only timings, a serial, or a blank name; or no EDID at all.
    EXPECT_EQ(nameOf(edidWith({timingDescriptor(), serial})), "");
    EXPECT_EQ(nameOf(edidWith({textDescriptor(0xfc, "   ")})), "");
    Edid notEdid = edidWith({textDescriptor(0xfc, "DELL U2719D")});
    notEdid[1] = 0x00;
    EXPECT_EQ(nameOf(notEdid), "");
    EXPECT_EQ(nameOf(edidWith({textDescriptor(0xfc, "DELL U2719D")}), 127), "");  // cut short
    EXPECT_EQ(platform::monitorNameFromEdid(nullptr, 0), "");
}

// Xvfb's single output has no EDID; a client may give it one, as a monitor
// would give its driver.
TEST(MonitorName, TheTestDesktopsDisplayIsNamedFromItsOutputsEdid)
{
    ASSERT_TRUE(testdesktop::haveDisplay()) << "needs the test desktop (DISPLAY)";
    testdesktop::Client client;
    xcb_connection_t* c = client.get();
    xcb_randr_get_screen_resources_current_reply_t* resources = xcb_randr_get_screen_resources_current_reply(
        c, xcb_randr_get_screen_resources_current(c, client.root()), nullptr);
    ASSERT_TRUE(resources);
    ASSERT_GE(xcb_randr_get_screen_resources_current_outputs_length(resources), 1);
    const xcb_randr_output_t output = xcb_randr_get_screen_resources_current_outputs(resources)[0];
    std::free(resources);

    EXPECT_EQ(ScreenContent::fetch().displays.at(0).model, "");

    const xcb_atom_t edidAtom = client.atom("EDID");
    const Edid edid = edidWith({timingDescriptor(), textDescriptor(0xfc, "VDL Proba 27")});
    xcb_randr_change_output_property(c, output, edidAtom, XCB_ATOM_INTEGER, 8, XCB_PROP_MODE_REPLACE,
                                     std::uint32_t(edid.size()), edid.data());
    client.sync();
    struct Removed {
        xcb_connection_t* c;
        xcb_randr_output_t output;
        xcb_atom_t atom;
        ~Removed()
        {
            xcb_randr_delete_output_property(c, output, atom);
            std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        }
    } removed{c, output, edidAtom};

    const ScreenContent content = ScreenContent::fetch();
    ASSERT_EQ(content.displays.size(), 1u);
    EXPECT_EQ(content.displays[0].model, "VDL Proba 27");
    // The id stays the connector's: a stored choice keeps its display.
    EXPECT_EQ(content.displays[0].id, ScreenContent::displayId(content.displays[0].name));
}
