#pragma once

#include "Ondexa/app/LaunchActivation.h"
#include "Ondexa/recording/AppState.h"

#include <QObject>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLocalServer;
class QSocketNotifier;

namespace platform {
class SessionClient;
}

namespace ondexa {

// The program's ties to the desktop: files handed over at launch or by a
// second launch, the one road out of the program (the tray, the menu, the
// last window, SIGTERM, SIGINT and SIGHUP, Qt's quit and the end of the
// desktop session), which never cuts a recording short.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    // `quit` ends the event loop; the default is QCoreApplication::exit,
    // which does not come back here as Qt's quit event.
    explicit AppDelegate(AppState& state, std::function<void()> quit = {}, QObject* parent = nullptr);
    ~AppDelegate() override;

    // The open step for each file, in order: to the editor opener when the
    // record window has installed it, else queued until it does.
    void openFiles(const std::vector<std::filesystem::path>& files);

    // Ends the program: at once when idle; a running recording is stopped
    // (its movie finished, no editor opened) first; a start that waits for
    // the screen-cast portal is given up; any other start, or a recording
    // being finished, is waited for.
    void requestQuit();
    bool isQuitting() const { return quitRequested_; }

    // After the event loop and before the application object ends: what is
    // still queued for the main thread is dropped here. The application's
    // own end would delete it under the lock of its event queue, which a
    // sound thread holding the sound server's lock may be waiting for to
    // post a level; queued work that holds a sound stream (a player's)
    // takes the server's lock as it goes: both would wait for ever.
    static void dropQueuedWork();

    // SIGTERM, SIGINT and SIGHUP (the launching terminal closed; left alone
    // when ignored, as under nohup) take the quit road.
    void handleTerminationSignals();
    // The session manager at `sessionManager` (SESSION_MANAGER's value,
    // kept from Qt's own client): its save request before the session ends,
    // and its last word, take the quit road; a checkpoint leaves a recording
    // running. Qt's own quit (refused by no window while a recording hides
    // them) takes it too.
    void handleSessionEnd(const std::string& sessionManager);

    // --- One program per desktop session ---
    // The files of a launch: the arguments that are not flags, made absolute.
    static std::vector<std::filesystem::path> filesOf(const std::vector<std::string>& arguments);
    // A launch with a "--" flag (the self-tests) neither hands over nor serves.
    static bool takesPartInHandOver(const QStringList& arguments);
    // The local socket of the running program, in $XDG_RUNTIME_DIR, else in
    // a folder of the temporary folder that is ours alone (made 0700). Empty,
    // with the reason in `why`, when that folder is not ours alone.
    static QString serverName(QString* why = nullptr);
    // Hands the files, and what the launcher gave this launch to bring a
    // window forward, to a running program; false when none answers. Comes
    // back once the running program has used them (or after a while).
    static bool handOver(const std::vector<std::filesystem::path>& files, const LaunchActivation& launch = {});
    // Accepts files (and what their launchers gave them) from later
    // launches; false, with the reason in the log, when the socket can't be
    // made.
    bool serve();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    // A later launch handed over no files: the user wants to see the program.
    void activationRequested();
    // A later launch's files are open (or the program was asked to show
    // itself): the window that came forward for it is to be activated with
    // what its launcher gave it.
    void launchActivation(const ondexa::LaunchActivation& launch);

private:
    void proceed();
    void finish();

    AppState& state_;
    std::function<void()> quit_;
    bool quitRequested_ = false;
    bool stopping_ = false;
    bool finished_ = false;
    bool followsSession_ = false;
    std::unique_ptr<platform::SessionClient> session_;
    QSocketNotifier* signalNotifier_ = nullptr;  // child of this
    QLocalServer* server_ = nullptr;              // child of this
};

} // namespace ondexa
