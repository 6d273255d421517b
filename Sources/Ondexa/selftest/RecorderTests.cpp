#include "Ondexa/model/Log.h"
#include "Ondexa/selftest/LogText.h"
#include "Ondexa/selftest/SelfTests.h"
#include "Ondexa/selftest/TestFiles.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QPixmap>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace ondexa::selftest {

namespace {

const char* phaseName(AppState::Phase phase)
{
    switch (phase) {
    case AppState::Phase::idle: return "idle";
    case AppState::Phase::starting: return "starting";
    case AppState::Phase::recording: return "recording";
    case AppState::Phase::finishing: return "finishing";
    }
    return "idle";
}

// The widget that a top-level window shows, if it is one of ours.
QWidget* widgetOf(const QWindow* window)
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->windowHandle() == window) return widget;
    return nullptr;
}

std::filesystem::path pictureFile(const std::filesystem::path& folder, qsizetype n)
{
    return folder / ("window" + std::to_string(n) + ".png");
}

} // namespace

Task selfTest(AppState& state) { return selfTest(state, commandLine()); }

Task selfTest(AppState& state, std::vector<std::string> arguments)
{
    const auto has = [&](const char* flag) { return std::find(arguments.begin(), arguments.end(), flag) != arguments.end(); };
    const bool fps60 = has("--fps60");
    const bool area = has("--area");

    const AppState::CaptureMode keptMode = state.captureMode();
    const std::optional<QRectF> keptArea = state.area();
    const int keptFps = state.fps();

    if (fps60) state.setFps(60);
    if (area) {
        state.setCaptureMode(AppState::CaptureMode::area);
        state.setArea(QRectF(100, 120, 801, 451));
    }

    const auto device = state.currentMicDevice();
    logLine("Önteszt: kijelzők=" + std::to_string(state.displays().size())
            + " engedély=" + boolText(state.screenAccessGranted() && !state.needsPortalGrant())
            + " mic=" + boolText(state.mic() != nullptr)
            + " hangkártya=" + (device ? device->name : std::string("-"))
            + " csatornák=" + numberList(state.micChannels()));

    // As a user would: the record window has been on the screen a moment
    // before the start takes it away (on Wayland it first shows only now).
    co_await delay(0.5);
    co_await completion([&state](std::function<void()> done) { state.startRecording(std::move(done)); });
    logLine(std::string("Önteszt: állapot indítás után = ") + phaseName(state.phase()));
    if (state.phase() == AppState::Phase::recording) {
        co_await delay(fps60 ? 6.0 : 4.0);
        co_await completion([&state](std::function<void()> done) { state.stopRecording(false, std::move(done)); });
        logLine("Önteszt: kész");
    }

    // Through the setters: stored again, and the highlight follows.
    state.setCaptureMode(keptMode);
    state.setArea(keptArea);
    state.setFps(keptFps);
}

Task snapshotWindows(AppState& state, std::filesystem::path folder)
{
    return snapshotWindows(state, std::move(folder), commandLine());
}

Task snapshotWindows(AppState& state, std::filesystem::path folder, std::vector<std::string> arguments)
{
    const auto open = std::find(arguments.begin(), arguments.end(), "--open");
    std::vector<std::filesystem::path> opened;
    if (open != arguments.end() && open + 1 != arguments.end()) {
        opened.push_back(argumentPath(*(open + 1)));
        co_await delay(1.5);
        if (state.hasOpenEditor()) state.open(opened.front());
    }
    co_await delay(4.0);
    std::vector<std::filesystem::path> pictures;
    for (qsizetype n = 0; n < QGuiApplication::topLevelWindows().size(); ++n) pictures.push_back(pictureFile(folder, n));
    if (!filesApart("Ablakképek", {opened, std::nullopt, pictures})) co_return;
    saveWindowPictures(folder);
    logLine("Ablakképek mentve: " + folder.string());
}

void saveWindowPictures(const std::filesystem::path& folder)
{
    // Numbered over every window, skipped ones included.
    const QWindowList windows = QGuiApplication::topLevelWindows();
    for (qsizetype n = 0; n < windows.size(); ++n) {
        const QWindow* window = windows[n];
        if (!window->isVisible() || window->frameGeometry().width() <= 300) continue;
        QWidget* widget = widgetOf(window);
        if (!widget) continue;
        const QPixmap picture = widget->grab();
        if (picture.isNull()) continue;
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!picture.save(&buffer, "PNG") || png.isEmpty()) continue;
        const auto file = pictureFile(folder, n);
        QFile out(QString::fromStdString(file.string()));
        if (out.open(QIODevice::WriteOnly | QIODevice::Truncate)) out.write(png);  // a failed write is passed over
    }
}

} // namespace ondexa::selftest
