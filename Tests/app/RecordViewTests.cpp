// The record window: which rows each setting shows, what the button says in
// each phase, the error alert, and the hand-over of files to the editor.

#include "AppTestSupport.h"
#include "support/FakeShortcutsPortal.h"
#include "support/PrivateBus.h"
#include "support/WheelEvents.h"

#include "Ondexa/app/LevelMeter.h"
#include "Ondexa/app/OndexaApp.h"
#include "Ondexa/app/RecordView.h"
#include "Ondexa/recording/AccessMessages.h"
#include "Ondexa/ui/Elided.h"
#include "Ondexa/ui/SegmentedControl.h"
#include "Ondexa/ui/ToggleSwitch.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolTip>

namespace ondexa {
namespace {

using namespace testing;
using Mode = AppState::CaptureMode;
using Phase = AppState::Phase;

// The test's screens (screens.json): "wide" 1920 × 1200 at the origin,
// "laptop" 1366 × 768 to its right.
QScreen* screenNamed(const QString& name)
{
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->name() == name) return screen;
    ADD_FAILURE() << "no screen " << name.toStdString();
    return QGuiApplication::primaryScreen();
}

QRect onScreen(const QWidget& widget) { return QRect(widget.mapToGlobal(QPoint(0, 0)), widget.size()); }

void settled()
{
    for (int round = 0; round < 5; ++round) QApplication::processEvents();
}

class RecordViewTest : public RecordWindowTest {
protected:
    void SetUp() override
    {
        state = make();
        view = std::make_unique<RecordView>(*state, [this](const std::filesystem::path& file) { opened.push_back(file); });
        view->resize(view->sizeHint());
    }
    void TearDown() override
    {
        view.reset();
        AppState::setRecordingChooser({});
    }

    // The view at the size it asks for, as its window shows it.
    void shoot(const QString& name)
    {
        view->resize(view->sizeHint());
        saveScreenshot(*view, name);
    }

    // The view with its alert drawn over it where a window-modal dialog sits.
    void screenshotWithAlert(const QString& name)
    {
        view->resize(view->sizeHint());
        QPixmap picture = view->grab();
        QMessageBox* alert = view->errorAlert();
        alert->adjustSize();
        const QPixmap box = alert->grab();
        QPainter painter(&picture);
        painter.fillRect(picture.rect(), QColor(0, 0, 0, 90));
        painter.drawPixmap((picture.width() - box.width()) / 2, 60, box);
        painter.end();
        QLabel shot;
        shot.setPixmap(picture);
        shot.resize(picture.size());
        saveScreenshot(shot, name);
    }

    std::unique_ptr<AppState> state;
    std::unique_ptr<RecordView> view;
    std::vector<std::filesystem::path> opened;
};

TEST_F(RecordViewTest, TargetRowsFollowTheCaptureMode)
{
    const struct {
        Mode mode;
        bool display, area, window;
        const char* screenshot;
    } cases[] = {
        {Mode::display, true, false, false, "record-display"},
        {Mode::area, true, true, false, "record-area"},
        {Mode::window, false, false, true, "record-window"},
    };
    state->setArea(QRectF(10, 20, 1280.6, 720.2));
    state->setMicUID("iface");
    state->forceMicLevelsForTesting({0.5f, 0.1f, 0.9f});
    for (const auto& c : cases) {
        state->setCaptureMode(c.mode);
        EXPECT_EQ(shown(*view, "displayRow"), c.display) << c.screenshot;
        EXPECT_EQ(shown(*view, "areaRow"), c.area) << c.screenshot;
        EXPECT_EQ(shown(*view, "windowRow"), c.window) << c.screenshot;
        EXPECT_EQ(shown(*view, "refreshWindowsRow"), c.window) << c.screenshot;
        shoot(c.screenshot);
    }
    // The pickers list what the controller found, with its labels.
    const auto* windows = view->findChild<QWidget*>("windowRow")->findChild<QComboBox*>();
    ASSERT_EQ(windows->count(), 2);
    EXPECT_EQ(windows->itemText(1), "Böngésző – Kezdőlap");
    EXPECT_EQ(windows->currentData().toUInt(), state->windowID());
}

TEST_F(RecordViewTest, TheWindowFitsItsContentInEveryModeWithoutScrolling)
{
    view.reset();
    state->setArea(QRectF(10, 20, 1280, 720));
    state->setMicUID("iface");
    state->setMicChannels({0, 1, 2, 3});
    RecordWindow window(*state, {});
    window.show();
    const auto* scroll = window.findChild<QScrollArea*>();
    ASSERT_TRUE(scroll);
    for (const Mode mode : {Mode::display, Mode::area, Mode::window})
        for (const bool pairs : {true, false})
            for (const bool camera : {false, true}) {
                SCOPED_TRACE(::testing::Message() << "mode " << int(mode) << ", pairs " << pairs << ", camera " << camera);
                state->setCaptureMode(mode);
                state->setStereoPairs(pairs);
                state->setCameraEnabled(camera);
                settled();
                EXPECT_FALSE(scroll->verticalScrollBar()->isVisible());
                EXPECT_EQ(window.width(), RecordView::width);  // the fixed width stays
                // Every row as wide as the form allows, each wrapped text whole.
                for (const QLabel* label : window.findChildren<QLabel*>()) {
                    if (!label->isVisible() || !label->wordWrap()) continue;
                    EXPECT_GE(label->height(), label->heightForWidth(label->width())) << label->text().toStdString();
                }
                const auto* footer = window.view()->findChild<QWidget*>("micSection")->findChild<QLabel*>("footer");
                EXPECT_EQ(footer->width(), RecordView::width - 2 * 20);
            }
    state->setCaptureMode(Mode::area);
    state->setStereoPairs(false);
    state->setCameraEnabled(false);
    state->forceMicLevelsForTesting({0.5f, 0.1f, 0.9f, 0.3f});
    settled();
    saveScreenshot(window, "record-area-single-channels");
}

TEST_F(RecordViewTest, AWindowTallerThanItsScreenScrollsItsFormAndKeepsTheActionBarInView)
{
    view.reset();
    QScreen* laptop = screenNamed("laptop");
    QScreen* wide = screenNamed("wide");
    ASSERT_EQ(laptop->availableGeometry().height(), 768);
    system.mics.push_back(device("big", 16));
    state->refreshMicDevices();
    settle();
    state->setMicEnabled(true);
    state->setMicUID("big");
    state->setCaptureMode(Mode::area);
    RecordWindow window(*state, {});
    // Placed low on the laptop's screen: the window comes up to fit.
    window.move(laptop->geometry().topLeft() + QPoint(200, 300));
    window.show();
    settled();
    auto* scroll = window.findChild<QScrollArea*>();
    ASSERT_TRUE(scroll);
    const auto onItsScreen = [&](QScreen* screen) {
        SCOPED_TRACE(screen->name().toStdString());
        EXPECT_EQ(window.screen(), screen);
        const QRect available = screen->availableGeometry();
        EXPECT_EQ(window.width(), RecordView::width);
        EXPECT_TRUE(available.contains(window.frameGeometry()))
            << window.frameGeometry().y() << " + " << window.frameGeometry().height();
        for (const char* name : {"actionBar", "mainButton", "revealFolder", "open"}) {
            const QWidget* w = part(*window.view(), name);
            EXPECT_TRUE(w->isVisible()) << name;
            EXPECT_TRUE(available.contains(onScreen(*w))) << name;
        }
    };
    onItsScreen(laptop);
    ASSERT_TRUE(scroll->verticalScrollBar()->isVisible());
    // The form scrolls to its last row: the footer, whole.
    const QLabel* last = part(*window.view(), "micSection")->findChild<QLabel*>("footer");
    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    settled();
    const QRect lastInView(last->mapTo(scroll->viewport(), QPoint(0, 0)), last->size());
    EXPECT_TRUE(scroll->viewport()->rect().contains(lastInView)) << lastInView.y() << " + " << lastInView.height();
    EXPECT_GE(last->height(), last->heightForWidth(last->width()));
    saveScreenshot(window, "record-768-high-end");
    scroll->verticalScrollBar()->setValue(0);
    saveScreenshot(window, "record-768-high");

    // The wheel over a picker that lacks the focus scrolls the form on and
    // chooses nothing.
    int pickers = 0;
    for (QComboBox* picker : window.view()->findChildren<QComboBox*>()) {
        if (!picker->isVisibleTo(&window) || picker->count() < 2) continue;
        ++pickers;
        scroll->verticalScrollBar()->setValue(0);
        const int chosen = picker->currentIndex();
        EXPECT_TRUE(testing::turnWheel(*picker, {0, -120}));
        EXPECT_GT(scroll->verticalScrollBar()->value(), 0) << picker->objectName().toStdString();
        EXPECT_EQ(picker->currentIndex(), chosen) << picker->objectName().toStdString();
        EXPECT_FALSE(picker->hasFocus());
    }
    EXPECT_GE(pickers, 1);
    scroll->verticalScrollBar()->setValue(0);

    // Shorter content, a shorter window that no longer scrolls.
    state->setMicEnabled(false);
    settled();
    EXPECT_FALSE(scroll->verticalScrollBar()->isVisible());
    EXPECT_LT(window.frameGeometry().height(), 768);

    // On a screen with room for it the window takes its whole content and
    // comes up as it grows past the screen's bottom.
    window.move(wide->geometry().topLeft() + QPoint(100, 400));
    settled();
    state->setMicEnabled(true);
    settled();
    onItsScreen(wide);
    EXPECT_FALSE(scroll->verticalScrollBar()->isVisible());
    EXPECT_GT(window.frameGeometry().height(), 768);

    // Back on the smaller screen it fits that one again.
    window.move(laptop->geometry().topLeft() + QPoint(100, 0));
    settled();
    onItsScreen(laptop);
    EXPECT_TRUE(scroll->verticalScrollBar()->isVisible());
}

TEST_F(RecordViewTest, LongDeviceAndChannelNamesEndInAnEllipsisWithTheWholeNameAsTooltip)
{
    const std::string name = "Focusrite Scarlett 18i20 USB – Többcsatornás bemenet (analóg sztereó duplex)";
    const std::string channel = "Bemenet 1 – Felső középső hátsó, a második erősítőn";
    system.mics.push_back(AudioInputDevice{99, "long", name, {channel, "Bemenet 2"}});
    state->refreshMicDevices();
    settle();
    state->setMicUID("long");
    settle();
    view->resize(view->sizeHint());
    view->show();
    const auto* picker = part(*view, "micDeviceRow")->findChild<ElidedComboBox*>();
    ASSERT_TRUE(picker);
    ASSERT_EQ(picker->currentText().toStdString(), name);
    EXPECT_TRUE(picker->shownText().endsWith(QStringLiteral("…"))) << picker->shownText().toStdString();
    const QPoint middle(picker->width() / 2, picker->height() / 2);
    QHelpEvent asked(QEvent::ToolTip, middle, picker->mapToGlobal(middle));
    QApplication::sendEvent(const_cast<ElidedComboBox*>(picker), &asked);
    EXPECT_EQ(QToolTip::text().toStdString(), name);
    QToolTip::hideText();
    const auto* first = part<ElidedLabel>(*view, "channelName0");
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->isElided());
    EXPECT_EQ(first->toolTip().toStdString(), channel);
    EXPECT_FALSE(part<ElidedLabel>(*view, "channelName1")->isElided());
    shoot("record-long-names");
}

TEST_F(RecordViewTest, AreaLineShowsWholePointsOrNone)
{
    state->setCaptureMode(Mode::area);
    const auto* text = part<QLabel>(*view, "areaText");
    const struct {
        std::optional<QRectF> area;
        const char* shown;
        bool dimmed;
    } cases[] = {
        {QRectF(3, 4, 1280.6, 720.2), "1280 × 720", false},
        {std::nullopt, "nincs kijelölve", true},
        {QRectF(0, 0, 99.99, 1), "99 × 1", false},
        // What a start records of an area reaching past the 1920 × 1080 display.
        {QRectF(1800, 900, 400, 400), "120 × 180", false},
        {QRectF(2000, 0, 400, 400), "nincs kijelölve", true},
    };
    for (const auto& c : cases) {
        state->setArea(c.area);
        EXPECT_EQ(text->text().toStdString(), c.shown);
        EXPECT_EQ(text->palette().color(QPalette::WindowText).alphaF() < 0.7f, c.dimmed) << c.shown;
    }
}

TEST_F(RecordViewTest, ThePickerNamesADisplayWithoutAMonitorAndGivesEachDisplaysPixels)
{
    // The root of an X server without RandR monitors, and an output at scale 2.
    system.content.displays.resize(2);
    system.content.displays[0].name = platform::ScreenDisplay::wholeRootName;
    system.content.displays[1].id = 8;
    system.content.displays[1].name = "HEADLESS-1";
    system.content.displays[1].frame = QRect(1920, 0, 960, 540);
    system.content.displays[1].scale = 2;
    bool done = false;
    state->refreshSources([&] { done = true; });
    ASSERT_TRUE(pumpUntil([&] { return done; }));
    const auto* picker = part(*view, "displayRow")->findChild<QComboBox*>();
    ASSERT_EQ(picker->count(), 2);
    EXPECT_EQ(picker->itemText(0).toStdString(), "Kijelző – 1920×1080");
    EXPECT_EQ(picker->itemText(1).toStdString(), "HEADLESS-1 – 1920×1080");
}

TEST_F(RecordViewTest, AudioInterfaceSectionFollowsTheDevice)
{
    const struct {
        bool enabled;
        const char* uid;
        int rows;
        bool stereoSwitch;
    } cases[] = {
        {true, "iface", 4, true},
        {true, "mic", 1, false},
        {false, "iface", 4, false},
    };
    for (const auto& c : cases) {
        state->setMicUID(c.uid);
        state->setMicEnabled(c.enabled);
        EXPECT_EQ(shown(*view, "micSection"), c.enabled) << c.uid;
        EXPECT_TRUE(shown(*view, "micEnabledRow"));
        const auto* channels = part(*view, "channels");
        EXPECT_EQ(channels->findChildren<LevelMeter*>().size(), c.rows) << c.uid;
        EXPECT_EQ(shown(*view, "stereoRow"), c.stereoSwitch) << c.uid;
    }
}

TEST_F(RecordViewTest, FooterFollowsStereoPairs)
{
    state->setMicUID("iface");
    const auto* footer = part(*view, "micSection")->findChild<QLabel*>("footer");
    state->setStereoPairs(true);
    EXPECT_EQ(footer->text(), "A bejelölt párok (pl. 1–2) bal/jobb sztereóként, a magányos bemenetek középre kerülnek.");
    state->setStereoPairs(false);
    EXPECT_EQ(footer->text(), "Minden bejelölt bemenet középre kerül (mono). Egy mikrofonhoz ez a jó beállítás.");
}

TEST_F(RecordViewTest, MissingLevelsShowEmptyMeters)
{
    state->setMicUID("iface");
    state->forceMicLevelsForTesting({0.5f, 0.1f});
    const auto meters = part(*view, "channels")->findChildren<LevelMeter*>();
    ASSERT_EQ(meters.size(), 4);
    const float expected[] = {0.5f, 0.1f, 0.0f, 0.0f};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(part<LevelMeter>(*view, QStringLiteral("meter%1").arg(i).toUtf8())->level(), expected[i]);
    state->forceMicLevelsForTesting({});
    for (const auto* meter : meters) EXPECT_EQ(meter->level(), 0.0f);
}

TEST_F(RecordViewTest, ChannelSwitchesChangeOnlyTheirChannel)
{
    state->setMicUID("iface");
    state->setMicChannels({0, 1});
    auto* channel2 = part(*view, "channel2")->findChild<ToggleSwitch*>();
    auto* channel0 = part(*view, "channel0")->findChild<ToggleSwitch*>();
    EXPECT_TRUE(channel0->isChecked());
    EXPECT_FALSE(channel2->isChecked());
    channel2->click();
    EXPECT_EQ(state->micChannels(), (std::set<int>{0, 1, 2}));
    channel0->click();
    EXPECT_EQ(state->micChannels(), (std::set<int>{1, 2}));
    channel0->click();
    EXPECT_EQ(state->micChannels(), (std::set<int>{0, 1, 2}));
    // The rows are the same widgets after the change: one being clicked survives it.
    EXPECT_EQ(part(*view, "channel2")->findChild<ToggleSwitch*>(), channel2);
}

TEST_F(RecordViewTest, ControlsChangeTheSettings)
{
    part(*view, "captureModeRow")->findChild<SegmentedControl*>()->findChildren<QAbstractButton*>().at(2)->click();
    EXPECT_EQ(state->captureMode(), Mode::window);
    part(*view, "fpsRow")->findChild<SegmentedControl*>()->findChildren<QAbstractButton*>().at(1)->click();
    EXPECT_EQ(state->fps(), 60);
    for (const auto& [row, get] : std::vector<std::pair<const char*, std::function<bool()>>>{
             {"systemAudioRow", [&] { return state->systemAudio(); }},
             {"micEnabledRow", [&] { return state->micEnabled(); }},
             {"cameraEnabledRow", [&] { return state->cameraEnabled(); }}}) {
        const bool before = get();
        part(*view, row)->findChild<ToggleSwitch*>()->click();
        EXPECT_NE(get(), before) << row;
    }
    EXPECT_TRUE(shown(*view, "cameraRow"));
    auto* windows = part(*view, "windowRow")->findChild<QComboBox*>();
    windows->setCurrentIndex(1);
    emit windows->activated(1);
    EXPECT_EQ(state->windowID(), 42u);
}

TEST_F(RecordViewTest, TextsAndHelp)
{
    EXPECT_EQ(part<ElidedLabel>(*view, "hotKey")->text(), "Ctrl+Alt+A");
    view->show();
    settled();
    EXPECT_FALSE(part<ElidedLabel>(*view, "hotKey")->isElided());
    EXPECT_EQ(part(*view, "cameraEnabledRow")->toolTip(), "Beépített kamera, USB-kamera vagy más virtuális kamera");
    EXPECT_EQ(part(*view, "fpsRow")->toolTip(),
              "60 kép/mp folyamatosabb mozgást ad (pl. görgetésnél), de a gépet jobban terheli");
}

TEST_F(RecordViewTest, TheHotKeyNamesTheKeysTheDesktopGranted)
{
    // A Wayland desktop that binds the shortcut to keys of its own choosing,
    // and says so at length.
    testsupport::PrivateBus bus;
    const QString address = QString::fromStdString(bus.address());
    QDBusConnection client = QDBusConnection::connectToBus(address, "viewHotKeyClient");
    testsupport::FakeShortcutsPortal portal(QDBusConnection::connectToBus(address, "viewHotKeyService"));
    portal.triggerDescription = "Nyomd le egyszerre: Meta+Shift+R";
    system.hotKey = [client](std::function<void()> action) {
        return HotKey::throughPortal(client, HotKey::recordingKeyCode, HotKey::recordingModifiers, std::move(action));
    };
    view.reset();
    state = make();
    view = std::make_unique<RecordView>(*state, [](const std::filesystem::path&) {});
    auto* label = part<ElidedLabel>(*view, "hotKey");
    EXPECT_TRUE(pumpUntil([&] { return label->text() == portal.triggerDescription; }));
    view->resize(view->sizeHint());
    view->show();
    settled();
    // Between the main button and the folder button, never over them; what
    // does not fit there ends in "…", whole in the tooltip.
    EXPECT_GT(label->geometry().left(), part(*view, "mainButton")->geometry().right());
    EXPECT_LT(label->geometry().right(), part(*view, "revealFolder")->geometry().left());
    EXPECT_TRUE(label->isElided());
    EXPECT_EQ(label->toolTip(), portal.triggerDescription);
    shoot("record-granted-hot-key");
}

TEST_F(RecordViewTest, ButtonAndFormFollowThePhase)
{
    const struct {
        Phase phase;
        double elapsed;
        const char* title;
        bool buttonEnabled, formEnabled;
        const char* screenshot;
    } cases[] = {
        {Phase::idle, 0, "Felvétel indítása", true, true, nullptr},
        {Phase::starting, 0, "Indítás…", false, false, "record-starting"},
        {Phase::recording, 7.4, "Leállítás  00:07", true, false, "record-recording"},
        {Phase::recording, 3723, "Leállítás  1:02:03", true, false, nullptr},
        {Phase::finishing, 3723, "Mentés…", false, false, nullptr},
    };
    auto* button = part<QPushButton>(*view, "mainButton");
    for (const auto& c : cases) {
        state->forceElapsedForTesting(c.elapsed);
        state->forcePhaseForTesting(c.phase);
        EXPECT_EQ(button->text().toStdString(), c.title);
        EXPECT_EQ(button->isEnabled(), c.buttonEnabled) << c.title;
        EXPECT_EQ(part(*view, "form")->isEnabled(), c.formEnabled) << c.title;
        // The action bar's other buttons stay usable.
        EXPECT_TRUE(part(*view, "open")->isEnabled());
        if (c.screenshot) shoot(c.screenshot);
        // The longest titles still leave the action bar's parts side by side.
        view->resize(view->sizeHint());
        view->layout()->activate();
        part(*view, "actionBar")->layout()->activate();
        QRect previous;
        for (const char* name : {"mainButton", "hotKey", "revealFolder", "open"}) {
            const QRect r = part(*view, name)->geometry();
            EXPECT_GE(r.width(), part(*view, name)->minimumSizeHint().width()) << name << " " << c.title;
            if (previous.isValid()) {
                EXPECT_GT(r.left(), previous.right()) << name << " " << c.title;
            }
            previous = r;
        }
        EXPECT_LE(previous.right(), RecordView::width) << c.title;
    }
    state->forcePhaseForTesting(Phase::idle);
}

TEST_F(RecordViewTest, MainButtonStartsAndStops)
{
    view->show();
    auto* button = part<QPushButton>(*view, "mainButton");
    QStringList titles;  // the title at each change of phase
    QObject::connect(state.get(), &AppState::phaseChanged, [&] { titles << button->text(); });
    button->click();
    ASSERT_TRUE(pumpUntil([&] { return state->phase() == Phase::recording; }));
    button->click();
    ASSERT_TRUE(pumpUntil([&] { return state->phase() == Phase::idle; }));
    EXPECT_EQ(titles, (QStringList{"Indítás…", "Leállítás  00:00", "Mentés…", "Felvétel indítása"}));
    EXPECT_EQ(opened.size(), 1u);  // the stop hands the movie to the editor
}

TEST_F(RecordViewTest, ErrorAlertShowsOneMessageAndAgainAfterDismissal)
{
    view->show();
    QMessageBox* alert = view->errorAlert();
    state->setErrorMessage("Nem sikerült elindítani a felvételt: nincs kijelző.");
    ASSERT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->windowTitle(), "Hiba");
    EXPECT_EQ(alert->text(), "Nem sikerült elindítani a felvételt: nincs kijelző.");
    screenshotWithAlert("record-error");

    // A newer message replaces the text; no second alert.
    state->setErrorMessage("A felvétel lezárása hibával járt: betelt a lemez.");
    EXPECT_EQ(alert->text(), "A felvétel lezárása hibával járt: betelt a lemez.");
    EXPECT_EQ(view->findChildren<QMessageBox*>().size(), 1);

    alert->button(QMessageBox::Ok)->click();
    EXPECT_FALSE(alert->isVisible());
    EXPECT_FALSE(state->errorMessage().has_value());

    state->setErrorMessage("Újabb hiba.");
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->text(), "Újabb hiba.");

    // Cleared by the controller: the alert goes, and the clearing is not repeated.
    state->setErrorMessage(std::nullopt);
    EXPECT_FALSE(alert->isVisible());
}

TEST_F(RecordViewTest, ShowingInstallsTheOpenerAndHandsOverQueuedFiles)
{
    state->open(temp.path / "a.mov");
    state->open(temp.path / "b.vdlproj");
    EXPECT_TRUE(opened.empty());
    view->show();
    EXPECT_EQ(opened, (std::vector{temp.path / "a.mov", temp.path / "b.vdlproj"}));
    EXPECT_TRUE(state->pendingOpen().empty());
}

TEST_F(RecordViewTest, OpenButtonOpensTheChosenFile)
{
    std::optional<std::filesystem::path> answer;
    int asked = 0;
    AppState::setRecordingChooser([&](AppState::Choice done) {
        ++asked;
        done(answer);
    });
    auto* open = part<QPushButton>(*view, "open");
    open->click();  // cancelled
    answer = temp.path / "Felvétel.mov";
    open->click();
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(opened, std::vector{temp.path / "Felvétel.mov"});
}

TEST_F(RecordViewTest, PermissionNoticeAsksAgain)
{
    system.contentFails = true;
    bool done = false;
    state->refreshSources([&] { done = true; });
    ASSERT_TRUE(pumpUntil([&] { return done; }));
    ASSERT_TRUE(state->needsScreenPermission());
    EXPECT_TRUE(shown(*view, "permission"));
    // What holds here: an X display to ask, not a settings page of another system.
    const QString notice = part<QLabel>(*view, "permissionText")->text();
    EXPECT_TRUE(notice.startsWith("A Vendalumnak engedély kell a képernyő felvételéhez. ")) << notice.toStdString();
    EXPECT_TRUE(notice.contains("X kijelző")) << notice.toStdString();
    EXPECT_TRUE(notice.contains("X11")) << notice.toStdString();
    EXPECT_FALSE(notice.contains("Rendszerbeállítás")) << notice.toStdString();
    shoot("record-permission");

    system.contentFails = false;
    part<QPushButton>(*view, "grantPermission")->click();
    EXPECT_TRUE(pumpUntil([&] { return !state->needsScreenPermission(); }));
    EXPECT_FALSE(shown(*view, "permission"));
}

TEST_F(RecordViewTest, AWaylandSessionSaysRecordingIsNotAvailableInPlaceOfThePermissionNotice)
{
    EXPECT_FALSE(shown(*view, "waylandNotice"));
    // No X display either: the permission notice would have no answer.
    system.screenAccess = {false, "Wayland munkamenet.", platform::ScreenAccess::Refusal::waylandOnly};
    system.contentFails = true;
    bool done = false;
    state->refreshSources([&] { done = true; });
    ASSERT_TRUE(pumpUntil([&] { return done; }));
    EXPECT_TRUE(shown(*view, "waylandNotice"));
    EXPECT_FALSE(shown(*view, "permission"));
    const auto labels = view->findChild<QWidget*>("waylandNotice")->findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [](const QLabel* label) {
        return label->isVisibleTo(label->window()) && label->text() == QString(AppState::waylandNotice);
    }));
    shoot("record-wayland");
}

TEST_F(RecordViewTest, OnAWaylandSessionThePortalIsThePermissionAndTheNotesSayWhatIsLeftOut)
{
    view.reset();
    std::filesystem::remove(settingsFile());
    platform::ScreenCastOffer offer;
    offer.available = true;
    offer.monitors = true;
    offer.cursorEmbedded = true;
    system.portalOffer = offer;  // monitors only, the pointer drawn in
    system.hotKeyWhileFocused = true;
    state = make();
    ASSERT_TRUE(pumpUntil([&] { return state->screenCastOffer().has_value(); }));
    settled();
    view = std::make_unique<RecordView>(*state, [](const std::filesystem::path&) {});

    // No grant yet: the notice sends the user to the portal's dialog.
    EXPECT_TRUE(shown(*view, "permission"));
    EXPECT_EQ(part<QLabel>(*view, "permissionText")->text(), QString(access::portal::notice));
    EXPECT_FALSE(shown(*view, "waylandNotice"));
    // What such a session leaves out, once each.
    EXPECT_TRUE(shown(*view, "sessionNotes"));
    const QString notes = part<QLabel>(*view, "sessionNotesText")->text();
    for (const char* note :
         {access::portal::noClicks, access::portal::pointerEmbedded, access::portal::hotKeyWhileFocused})
        EXPECT_EQ(notes.count(QString(note)), 1) << note;
    shoot("record-wayland-portal");

    // No window list: this portal offers no windows, and the row says so.
    state->setCaptureMode(Mode::window);
    EXPECT_FALSE(shown(*view, "windowRow"));
    EXPECT_FALSE(shown(*view, "refreshWindowsRow"));
    EXPECT_TRUE(shown(*view, "windowNote"));
    EXPECT_EQ(part<QLabel>(*view, "windowNote")->text(), QString(access::portal::noWindowsHere));
    shoot("record-wayland-window");

    // "Engedély megadása…" asks the portal; its grant lifts the notice.
    platform::ScreenCastResult grant;
    grant.outcome = platform::ScreenCastResult::Outcome::started;
    grant.restoreToken = "t";
    grant.streams = {{42, QPoint(0, 0), QSize(1920, 1080), false}};
    system.portalAnswer = grant;
    part<QPushButton>(*view, "grantPermission")->click();
    EXPECT_TRUE(pumpUntil([&] { return !state->needsScreenPermission(); }));
    EXPECT_EQ(system.portalRequests.size(), 1u);
    EXPECT_FALSE(shown(*view, "permission"));
}

TEST_F(RecordViewTest, WithoutTheScreenCastPortalTheNoticeSaysSoBeforeAnyStart)
{
    view.reset();
    platform::ScreenCastOffer offer;  // the interface did not answer
    offer.failure = "A képernyőmegosztó szolgáltatás (xdg-desktop-portal ScreenCast) nem érhető el.";
    system.portalOffer = offer;
    state = make();
    ASSERT_TRUE(pumpUntil([&] { return state->screenCastOffer().has_value(); }));
    settled();
    view = std::make_unique<RecordView>(*state, [](const std::filesystem::path&) {});
    EXPECT_TRUE(shown(*view, "permission"));
    EXPECT_EQ(part<QLabel>(*view, "permissionText")->text(), QString(access::portal::unavailable));
    EXPECT_FALSE(shown(*view, "grantPermission"));  // no dialog to ask
    shoot("record-wayland-no-portal");
}

TEST_F(RecordViewTest, AStartThatObtainedThePortalsPermissionClearsTheNotice)
{
    view.reset();
    std::filesystem::remove(settingsFile());
    platform::ScreenCastOffer offer;
    offer.available = true;
    offer.monitors = true;
    offer.cursorEmbedded = true;
    system.portalOffer = offer;
    state = make();
    ASSERT_TRUE(pumpUntil([&] { return state->screenCastOffer().has_value(); }));
    settled();
    view = std::make_unique<RecordView>(*state, [](const std::filesystem::path&) {});
    ASSERT_TRUE(shown(*view, "permission"));

    platform::ScreenCastResult grant;
    grant.outcome = platform::ScreenCastResult::Outcome::started;
    grant.streams = {{42, QPoint(0, 0), QSize(1920, 1080), false}};
    system.portalAnswer = grant;
    start(*state);
    ASSERT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
    EXPECT_FALSE(state->needsScreenPermission());
    EXPECT_FALSE(shown(*view, "permission"));
    stop(*state);
    EXPECT_FALSE(shown(*view, "permission"));
}

} // namespace
} // namespace ondexa
