// Vendalum's entry: the application with its look, the recording controller,
// the windows and the tray, files from the desktop and the update check.

#include "Ondexa/app/AppDelegate.h"
#include "Ondexa/app/LaunchActivation.h"
#include "Ondexa/app/OndexaApp.h"
#include "Ondexa/app/SmoothScrolling.h"
#include "Ondexa/app/Updates.h"
#include "Ondexa/recording/AppState.h"
#include "Ondexa/selftest/SelfTests.h"
#include "Ondexa/ui/QtTexts.h"
#include "Ondexa/ui/Theme.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

using namespace ondexa;

int main(int argc, char** argv)
{
    // Before anything starts: the help needs no display and opens no log.
    if (selftest::asksForHelp(std::vector<std::string>(argv + 1, argv + argc))) {
        std::fputs(selftest::commandLineHelp().c_str(), stdout);
        return 0;
    }

    // FFmpeg would otherwise write its warnings to the terminal.
    av_log_set_level(AV_LOG_ERROR);

    // Before Qt's X11 plugin takes the id for the window this launch may show.
    const LaunchActivation launch = LaunchActivation::fromEnvironment();
    // Our own client of the session manager, not Qt's: Qt's tells a
    // checkpoint from the session's end to no one. Kept for the programs
    // we start.
    const char* manager = std::getenv("SESSION_MANAGER");
    const std::string sessionManager = manager ? manager : "";
    ::unsetenv("SESSION_MANAGER");
    QApplication application(argc, argv);
    if (!sessionManager.empty()) ::setenv("SESSION_MANAGER", sessionManager.c_str(), 1);
    QApplication::setApplicationName("Vendalum");
    QApplication::setOrganizationName("Vendalum");
    // Desktops match our windows to the installed entry (its icon, its name) by this.
    QGuiApplication::setDesktopFileName("vendalum");
    // The program lives on in the tray; without one, our own close handlers
    // decide when the last window has gone.
    QApplication::setQuitOnLastWindowClosed(false);
    Theme::apply(application);
    installHungarianQtTexts(application);
    installSmoothScrolling();

    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    const bool handsOver = AppDelegate::takesPartInHandOver(arguments);
    // Files come from the desktop only; a launch with flags (the self-tests)
    // names its sources and folders for the tests, which must not meet an
    // editor window of their own file autosaving beside them.
    // Qt has taken its own options out of argv by now.
    const std::vector<std::string> given(argv + 1, argv + argc);
    const auto files = handsOver ? AppDelegate::filesOf(given) : std::vector<std::filesystem::path>();
    if (handsOver && AppDelegate::handOver(files, launch)) {
        // The running program's window came forward for this launch, which
        // opens none of its own: its launcher's feedback ends here.
        launch.endStartupNotice();
        return 0;
    }

    // Run by the controller's start-up work; argv after Qt took its own options.
    selftest::installSelfTests(std::vector<std::string>(argv, argv + argc));
    int status = 0;
    {
        AppState& state = AppState::shared();  // starts its own start-up work
        AppDelegate delegate(state);
        delegate.handleTerminationSignals();
        delegate.handleSessionEnd(sessionManager);
        OndexaApp app(state, delegate, Updates::shared(), {});
        if (handsOver) delegate.serve();
        delegate.openFiles(files);  // queued until the record window is shown
        app.showRecordWindow();

        status = QApplication::exec();
    }
    // The windows, and the players in them, are gone; work they queued is not.
    AppDelegate::dropQueuedWork();
    return status;
}
