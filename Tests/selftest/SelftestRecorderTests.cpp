// The recorder self-test on a controller over a fake system, and the window
// pictures on offscreen widgets.

#include "support/WidgetTestApplication.h"  // first: the widgets need a QApplication

#include "Ondexa/selftest/SelfTests.h"
#include "recording/AppStateFakes.h"

#include <QImage>
#include <QWindow>
#include <QWidget>

namespace ondexa::testing {
namespace {

using selftest::launch;

class SelftestRecorderRun : public AppStateTest {
protected:
    void runToEnd(selftest::Task task)
    {
        bool ended = false;
        launch(std::move(task), [&] { ended = true; });
        ASSERT_TRUE(pumpUntil([&] { return ended; }, std::chrono::seconds(30)));
    }
    // The test's own lines, without their dates.
    std::vector<std::string> testLines() const
    {
        std::vector<std::string> lines;
        std::istringstream text(readFile(temp.path / "state" / "Vendalum" / "Vendalum.log"));
        for (std::string line; std::getline(text, line);) {
            const auto at = line.find("Önteszt");
            if (at != std::string::npos) lines.push_back(line.substr(at));
        }
        return lines;
    }
    void expectStoredSettingsOfAUser()
    {
        EXPECT_EQ(stored("captureMode").toString(), "window");
        EXPECT_EQ(stored("fps").toInt(), 30);
        EXPECT_FALSE(stored("area").isValid());
    }
};

TEST_F(SelftestRecorderRun, WithoutScreenAccessReportsIdleAndPutsTheSettingsBack)
{
    system.screenAccess = {false, "Nincs X kijelző."};
    store("captureMode", "window");
    store("fps", 30);
    auto state = make();
    runToEnd(selftest::selfTest(*state, {"vendalum", "--selftest", "--fps60", "--area"}));

    EXPECT_EQ(testLines(), (std::vector<std::string>{
                               "Önteszt: kijelzők=1 engedély=false mic=true hangkártya=Eszköz iface csatornák=[0]",
                               "Önteszt: állapot indítás után = idle"}));
    EXPECT_EQ(system.recordersMade, 0);
    EXPECT_EQ(state->captureMode(), AppState::CaptureMode::window);
    EXPECT_EQ(state->fps(), 30);
    EXPECT_FALSE(state->area());
    expectStoredSettingsOfAUser();
}

TEST_F(SelftestRecorderRun, OnThePortalsPathWithoutAGrantTheScreenIsNotYetAllowed)
{
    platform::ScreenCastOffer offer;
    offer.available = offer.monitors = offer.cursorEmbedded = true;
    offer.version = 4;
    system.portalOffer = offer;
    system.pointer.reset();  // a Wayland session
    auto state = make();
    ASSERT_TRUE(pumpUntil([&] { return state->screenCastOffer().has_value(); }));
    ASSERT_TRUE(state->needsPortalGrant());
    runToEnd(selftest::selfTest(*state, {"vendalum", "--selftest"}));
    const auto lines = testLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines[0].starts_with("Önteszt: kijelzők=1 engedély=false ")) << lines[0];
}

TEST_F(SelftestRecorderRun, At60WithAreaRecordsThatAreaAndPutsTheSettingsBack)
{
    system.mics.clear();
    store("captureMode", "window");
    store("fps", 30);
    auto state = make();
    state->setMicEnabled(false);
    state->setMicChannels({2, 0});
    runToEnd(selftest::selfTest(*state, {"vendalum", "--area", "--selftest", "--fps60"}));

    EXPECT_EQ(testLines(), (std::vector<std::string>{
                               "Önteszt: kijelzők=1 engedély=true mic=false hangkártya=- csatornák=[0, 2]",
                               "Önteszt: állapot indítás után = recording", "Önteszt: kész"}))
        << readFile(temp.path / "state" / "Vendalum" / "Vendalum.log");
    ASSERT_EQ(system.recordersMade, 1);
    EXPECT_EQ(state->phase(), AppState::Phase::idle);
    EXPECT_EQ(state->captureMode(), AppState::CaptureMode::window);
    EXPECT_EQ(state->fps(), 30);
    EXPECT_FALSE(state->area());
    expectStoredSettingsOfAUser();
    // The recorder was asked for 60 fps of that area; the movie was saved
    // and no editor opened.
    EXPECT_TRUE(logHas("Felvétel mentve: "));
    EXPECT_TRUE(logHas(" · 60 kép/mp · "));
    EXPECT_TRUE(state->pendingOpen().empty());
}

// --- Window pictures ---

TEST(SelftestWindowPictures, NumbersEveryWindowAndSavesTheVisibleWideOnes)
{
    TempFolder folder;
    QWidget hidden;  // made, never shown
    hidden.resize(500, 300);
    (void)hidden.winId();
    QWidget wide;
    wide.resize(400, 250);
    wide.setStyleSheet("background: #2a6");
    wide.show();
    QWidget exactly300;  // its frame is not wider than 300
    (void)exactly300.winId();
    const QMargins frame = exactly300.windowHandle()->frameMargins();
    exactly300.resize(300 - frame.left() - frame.right(), 300);
    exactly300.show();
    QWidget narrow;
    narrow.resize(200, 100);
    narrow.show();
    ASSERT_TRUE(pumpUntil([&] { return narrow.windowHandle() && narrow.windowHandle()->isExposed(); }));

    selftest::saveWindowPictures(folder.path);
    EXPECT_EQ(entries(folder.path), std::vector<std::string>{"window1.png"});
    const QImage picture(QString::fromStdString((folder.path / "window1.png").string()));
    EXPECT_EQ(picture.size(), QSize(400, 250));

    // A folder that isn't there: nothing written, nothing thrown.
    selftest::saveWindowPictures(folder.path / "nincs");
    EXPECT_FALSE(std::filesystem::exists(folder.path / "nincs"));
}

} // namespace
} // namespace ondexa::testing
