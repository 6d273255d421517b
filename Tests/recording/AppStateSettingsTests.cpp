// The controller's persisted settings: lenient reading and writing at once.

#include "AppStateFakes.h"
#include "Ondexa/model/JsonCoding.h"

using ondexa::AppState;
using ondexa::CursorStyle;
using namespace ondexa::testing;

using AppStateSettings = AppStateTest;

namespace {

std::string join(const auto& values)
{
    std::string text;
    for (const auto& v : values) text += (text.empty() ? "" : " ") + QString::number(v).toStdString();
    return text;
}

// One setting as text, so that a table can say what was read.
std::string read(const AppState& s, const std::string& key)
{
    if (key == "fps") return std::to_string(s.fps());
    if (key == "area") {
        const auto a = s.area();
        return a ? join(std::vector{a->x(), a->y(), a->width(), a->height()}) : "none";
    }
    if (key == "captureMode") return AppState::rawValue(s.captureMode());
    if (key == "cursorStyle") {
        const CursorStyle& c = s.cursorStyle();
        if (c == CursorStyle{}) return "default";
        return "scale " + join(std::vector{c.scale}) + (c.ring ? " ring" : "") + (c.enabled ? "" : " off");
    }
    if (key == "displayID") return std::to_string(s.displayID());
    if (key == "cameraEnabled") return std::to_string(s.cameraEnabled());
    if (key == "cameraID") return s.cameraID();
    if (key == "systemAudio") return std::to_string(s.systemAudio());
    if (key == "micEnabled") return std::to_string(s.micEnabled());
    if (key == "micChannels") return join(s.micChannels());
    ADD_FAILURE() << "unknown key " << key;
    return {};
}

} // namespace

TEST_F(AppStateSettings, MalformedValuesFallBackOneByOne)
{
    struct Case {
        const char* key;
        QString value;
        std::string read;
        bool handEdited = false;  // written into the file as is, unquoted
    };
    const std::vector<Case> cases = {
        {"fps", "24", "30"}, {"fps", "120", "30"}, {"fps", "sixty", "30"}, {"fps", "60", "60"},
        {"area", "[1, 2, 3]", "none"}, {"area", "[1, 2, 3, 4, 5]", "none"}, {"area", "[1, 2, \"3\", 4]", "none"},
        {"area", "[1, 2, 3, 4", "none"}, {"area", "{\"x\": 1}", "none"},
        {"area", "[10, 20.5, 300, 0]", "10 20.5 300 0"},
        // The INI reader splits unquoted commas; the area is still four numbers.
        {"area", "[5, 6, 700, 400]", "5 6 700 400", true}, {"micChannels", "[0,2]", "0 2", true},
        {"captureMode", "Area", "display"}, {"captureMode", "screen", "display"},
        {"captureMode", "window", "window"}, {"captureMode", "area", "area"},
        {"cursorStyle", "{not json", "default"}, {"cursorStyle", "{\"scale\": \"big\"}", "default"},
        {"cursorStyle", "{\"scale\": 2, \"ring\": true}", "scale 2 ring"},
        {"displayID", "4294967296", "0"}, {"displayID", "-3", "0"}, {"displayID", "12x", "0"},
        {"displayID", "4294967295", "4294967295"},
        {"cameraEnabled", "yes", "0"}, {"cameraEnabled", "true", "1"},
        {"systemAudio", "1", "1"}, {"systemAudio", "false", "0"},
        {"micEnabled", "no", "1"}, {"micEnabled", "false", "0"},
        {"micChannels", "[0, \"1\"]", "0"}, {"micChannels", "[1.5]", "0"}, {"micChannels", "3", "0"},
        {"micChannels", "[3, 1, 3]", "1 3"}, {"micChannels", "[]", ""},
        {"cameraID", "usb-0000:00:14.0-1", "usb-0000:00:14.0-1"},
    };
    for (const auto& c : cases) {
        const std::string line = std::string(c.key) + "=" + c.value.toStdString();
        SCOPED_TRACE(line);
        std::filesystem::remove(settingsFile());
        if (c.handEdited) {
            std::ofstream(settingsFile()) << "[General]\n" << line << "\n";
        } else {
            store(c.key, c.value);
        }
        auto state = make(false);
        EXPECT_EQ(read(*state, c.key), c.read);
        if (!c.handEdited) {
            EXPECT_EQ(stored(c.key).toString(), c.value);  // reading rewrites nothing
        }
    }
}

TEST_F(AppStateSettings, ASettingIsWrittenAtOnceAndOtherDevicesStereoChoicesStay)
{
    store("stereoPairs", "{\"gone\": true}");
    auto state = make();
    state->setArea(QRectF(12.5, 30, 640, 360));
    state->setMicUID("other");
    state->setStereoPairs(false);
    EXPECT_EQ(stored("area").toString(), "[12.5,30.0,640.0,360.0]");
    EXPECT_EQ(ondexa::parseJson(stored("stereoPairs").toString().toStdString()),
              ondexa::parseJson(R"({"gone": true, "other": false})"));
}

TEST_F(AppStateSettings, NumbersAreHeldToWhatTheirControlsAllow)
{
    struct Case {
        const char* key;
        QString value;
        std::string read;
    };
    // Areas lie on one X11 display; channels are those a sound-server input can have.
    for (const Case& c : std::vector<Case>{
             {"area", "[-50, 1e12, 1e9, -4]", "0 32767 32767 0"},
             {"area", "[10, 20, 1e300, 400]", "10 20 32767 400"},
             {"fps", "100000000000", "30"},
             {"micChannels", "[0, 40, -1, 2147483647, 31]", "0 31"},
         }) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value.toStdString());
        std::filesystem::remove(settingsFile());
        store(c.key, c.value);
        auto state = make(false);
        EXPECT_EQ(read(*state, c.key), c.read);
        EXPECT_EQ(stored(c.key).toString(), c.value);  // reading rewrites nothing
    }

    // The pointer style: each size within its slider's range, colours within 0…1.
    std::filesystem::remove(settingsFile());
    store("cursorStyle", R"({"scale": 1e9, "ringSize": 0, "ringWidth": -1, "base": 0.05,
                            "fill": {"r": 5, "g": -1, "b": 0.5, "a": 2}})");
    auto state = make(false);
    const CursorStyle& style = state->cursorStyle();
    EXPECT_EQ(style.scale, CursorStyle::maxScale);
    EXPECT_EQ(style.ringSize, CursorStyle::minRingSize);
    EXPECT_EQ(style.ringWidth, CursorStyle::minRingWidth);
    EXPECT_EQ(style.base, 0.05);  // replaced by the recording's own when saved
    EXPECT_EQ(style.fill, (ondexa::RGBA{1, 0, 0.5, 1}));
    EXPECT_EQ(style.outline, CursorStyle{}.outline);

    store("cursorStyle", R"({"scale": 0, "ringSize": 1e300, "ringWidth": 1e9})");
    state.reset();
    state = make(false);
    EXPECT_EQ(state->cursorStyle().scale, CursorStyle::minScale);
    EXPECT_EQ(state->cursorStyle().ringSize, CursorStyle::maxRingSize);
    EXPECT_EQ(state->cursorStyle().ringWidth, CursorStyle::maxRingWidth);
}
