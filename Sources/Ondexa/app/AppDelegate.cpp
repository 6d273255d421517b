#include "Ondexa/app/AppDelegate.h"

#include "Platform/session/SessionClient.h"

#include "Ondexa/model/JsonCoding.h"
#include "Ondexa/model/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ondexa {

namespace {

// The self-pipe: the signal handler may only write to it; the main loop reads.
int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(signalPipe[0], &byte, 1);
    errno = saved;
}

constexpr int handOverWaitMs = 5000;

// One hand-over is one line of JSON. A launch sends a few paths; a line
// longer than this comes from something else and is not kept.
constexpr qint64 longestHandOver = 1024 * 1024;
// Each file handed over opens an editor window: more than this at once is no
// selection a person makes, and would only bury the desktop in windows.
constexpr qsizetype mostFilesPerHandOver = 64;
constexpr std::size_t longestLaunchValue = 1024;

// The files of one hand-over, or none when it is refused as a whole. Entries
// that can't be paths are left out; the log says why.
std::optional<std::vector<std::filesystem::path>> handedOverFiles(const QByteArray& line)
{
    // Paths are coded as the documents code them, so a name that is not
    // UTF-8 arrives byte for byte.
    Json list;
    try {
        list = parseJson(std::string_view(line.constData(), static_cast<std::size_t>(line.size())));
    } catch (const std::exception&) {
    }
    if (!list.is_array()) list = Json::array();
    if (list.size() > static_cast<std::size_t>(mostFilesPerHandOver)) {
        logLine("Egyszerre túl sok fájl érkezett megnyitásra (" + std::to_string(list.size()) + ", legfeljebb " +
                std::to_string(mostFilesPerHandOver) + "), egyik sem nyílik meg.");
        return std::nullopt;
    }
    std::vector<std::filesystem::path> files;
    for (const auto& value : list) {
        std::string path;
        try {
            path = decodeJson<PathText>(value).value;
        } catch (const std::exception&) {
        }
        if (path.empty() || path.size() >= PATH_MAX) {
            logLine("Érvénytelen útvonal érkezett megnyitásra (" + std::to_string(path.size()) +
                    " bájt), nem nyílik meg.");
            continue;
        }
        files.emplace_back(path);
    }
    return files;
}

// A later launch's second line: what its launcher gave it to bring a window
// forward. Anything else there gives nothing.
LaunchActivation handedOverLaunch(const QByteArray& line)
{
    LaunchActivation launch;
    Json given;
    try {
        given = parseJson(std::string_view(line.constData(), static_cast<std::size_t>(line.size())));
    } catch (const std::exception&) {
    }
    if (!given.is_object()) return launch;
    const auto text = [&given](const char* key) {
        const auto found = given.find(key);
        if (found == given.end() || !found->is_string()) return std::string();
        std::string value = found->get<std::string>();
        // Ids and tokens are short; a long one is nobody's.
        return value.size() <= longestLaunchValue ? value : std::string();
    };
    launch.startupId = text("startupId");
    launch.token = text("activationToken");
    return launch;
}

// The fallback folder of the socket lies in a folder everyone may write to:
// it is used only when it is ours alone. Empty, with the reason, otherwise.
QString privateFolder(const QString& folder, QString& why)
{
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        const QString error = QString::fromLocal8Bit(std::strerror(errno));
        why = QString("a kapcsolat mappája (%1) nem hozható létre (%2).").arg(folder, error);
        return {};
    }
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        why = QString("a kapcsolat helyén (%1) nem mappa áll.").arg(folder);
        return {};
    }
    if (info.st_uid != ::geteuid()) {
        why = QString("a kapcsolat mappája (%1) egy másik felhasználóé.").arg(folder);
        return {};
    }
    if (info.st_mode & (S_IWGRP | S_IWOTH)) {
        why = QString("a kapcsolat mappájába (%1) mások is írhatnak.").arg(folder);
        return {};
    }
    // Ours and closed to writers, but readable by others (made so by an
    // earlier version): nothing can have been put in it, so it is closed.
    if ((info.st_mode & 077) && ::chmod(path.constData(), 0700) != 0) {
        why = QString("a kapcsolat mappája (%1) mások számára is nyitott.").arg(folder);
        return {};
    }
    return folder;
}

} // namespace

AppDelegate::AppDelegate(AppState& state, std::function<void()> quit, QObject* parent)
    : QObject(parent), state_(state), quit_(std::move(quit))
{
    // exit, not quit: quit first asks every window to close and gives up
    // when one refuses, and this road has already decided.
    if (!quit_) quit_ = [] { QCoreApplication::exit(0); };
    connect(&state_, &AppState::phaseChanged, this, [this] {
        if (quitRequested_) proceed();
    });
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::openFiles(const std::vector<std::filesystem::path>& files)
{
    for (const auto& file : files) state_.open(file);
}

void AppDelegate::requestQuit()
{
    quitRequested_ = true;
    proceed();
}

void AppDelegate::proceed()
{
    if (finished_) return;
    switch (state_.phase()) {
    case AppState::Phase::idle:
        return finish();
    case AppState::Phase::recording:
        if (stopping_) return;
        stopping_ = true;
        // The movie is finished and kept whatever the stop says; then we go.
        state_.stopRecording(false, [self = QPointer<AppDelegate>(this)] {
            if (self) self->finish();
        });
        return;
    case AppState::Phase::starting:
        // A start that waits for the portal may wait for its dialog, or for
        // a portal that never answers: given up, it comes back here idle.
        // Any other start settles soon, like a finish.
        state_.cancelStart();
        return;
    case AppState::Phase::finishing:
        // Back here on the next phase change: a started recording is then
        // stopped, a finished one lets us go.
        return;
    }
}

void AppDelegate::finish()
{
    if (finished_) return;
    finished_ = true;
    quit_();
}

void AppDelegate::dropQueuedWork()
{
    // Deleted with the queue's lock let go, unlike at the application's end.
    QCoreApplication::removePostedEvents(nullptr);
}

void AppDelegate::handleTerminationSignals()
{
    if (signalNotifier_) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) {
        logLine("A leállító jelzések nem kezelhetők (socketpair).");
        return;
    }
    signalNotifier_ = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, this);
    connect(signalNotifier_, &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(signalPipe[1], buffer, sizeof buffer) > 0) {
        }
        requestQuit();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    // Started under nohup, the program was asked to outlive its terminal.
    struct sigaction hangUp = {};
    if (::sigaction(SIGHUP, nullptr, &hangUp) == 0 && hangUp.sa_handler != SIG_IGN)
        ::sigaction(SIGHUP, &action, nullptr);
}

void AppDelegate::handleSessionEnd(const std::string& sessionManager)
{
    if (followsSession_) return;
    followsSession_ = true;
    QCoreApplication::instance()->installEventFilter(this);
    if (sessionManager.empty()) return;
    platform::SessionClient::Handlers handlers;
    // Asked while recording before the session ends: the stop starts now, so
    // that the movie is done before the session manager's last word, or soon
    // after it. A checkpoint ("save the session now") is no end.
    handlers.save = [this](bool shutdown) {
        if (shutdown && state_.phase() != AppState::Phase::idle) requestQuit();
    };
    handlers.die = [this] { requestQuit(); };
    std::string why;
    session_ = platform::SessionClient::connect(sessionManager, QCoreApplication::applicationFilePath().toStdString(),
                                                std::move(handlers), &why);
    if (!session_) {
        logLine("A munkamenet-kezelő nem érhető el: " + why);
        return;
    }
    auto* notifier = new QSocketNotifier(session_->fd(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, notifier] {
        session_->process();
        if (session_->fd() < 0) notifier->setEnabled(false);
    });
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    // Our own end comes through exit(), never as this event.
    if (event->type() == QEvent::Quit && watched == QCoreApplication::instance()) {
        requestQuit();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

std::vector<std::filesystem::path> AppDelegate::filesOf(const std::vector<std::string>& arguments)
{
    // The arguments' own bytes, not their text: a name that is not UTF-8
    // would not survive a trip through QString.
    std::vector<std::filesystem::path> files;
    for (const std::string& argument : arguments) {
        if (argument.starts_with("--") || argument.empty()) continue;
        std::error_code error;
        std::filesystem::path file = std::filesystem::absolute(argument, error).lexically_normal();
        if (error) continue;
        // "X.vdlproj/" from the shell's completion names the package itself.
        if (!file.has_filename() && file.has_relative_path()) file = file.parent_path();
        files.push_back(std::move(file));
    }
    return files;
}

bool AppDelegate::takesPartInHandOver(const QStringList& arguments)
{
    return std::none_of(arguments.begin(), arguments.end(), [](const QString& a) { return a.startsWith("--"); });
}

QString AppDelegate::serverName(QString* why)
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty()) {
        QString reason;
        folder = privateFolder(QDir::tempPath() + "/vendalum-" + QString::number(::getuid()), reason);
        if (folder.isEmpty()) {
            if (why) *why = reason;
            return {};
        }
    } else {
        QDir().mkpath(folder);
    }
    return folder + "/vendalum.socket";
}

bool AppDelegate::handOver(const std::vector<std::filesystem::path>& files, const LaunchActivation& launch)
{
    // Runs before the event loop of a launch that ends right after: waiting
    // here freezes no window.
    const QString name = serverName();
    if (name.isEmpty()) return false;
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(1000)) return false;
    Json list = Json::array();
    for (const auto& file : files) list.push_back(encodeJson(PathText{file.string()}));
    // The files on the first line, as every version reads them; the
    // launcher's id and token on a second, which an earlier version leaves
    // unread.
    Json given = Json::object();
    const auto add = [&given](const char* key, const std::string& value) {
        if (!value.empty() && QByteArrayView(value).isValidUtf8()) given[key] = value;
    };
    add("startupId", launch.startupId);
    add("activationToken", launch.token);
    socket.write(QByteArray::fromStdString(dumpJson(list)) + '\n' + QByteArray::fromStdString(dumpJson(given)) + '\n');
    if (!socket.waitForBytesWritten(handOverWaitMs)) return false;
    // The running program answers once it has taken the files.
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(handOverWaitMs)) return false;
    }
    if (socket.readLine().trimmed() != "ok") return false;
    // It hangs up once its window has come forward with them.
    if (socket.state() == QLocalSocket::ConnectedState) socket.waitForDisconnected(handOverWaitMs);
    return true;
}

bool AppDelegate::serve()
{
    QString why;
    const QString name = serverName(&why);
    if (name.isEmpty()) {
        logLine("A fájlok átvétele nem indul: " + why.toStdString());
        return false;
    }
    // Nobody answered the hand-over: a socket file left there is stale.
    QLocalServer::removeServer(name);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name)) {
        logLine("A fájlok átvétele nem indul: " + server_->errorString().toStdString());
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            socket->setReadBufferSize(longestHandOver + 1);
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            // One hand-over per connection: the files, then (from launches of
            // this version on) what the launcher gave. Gone unsaid, the
            // connection ends after a while.
            struct Progress {
                bool filesRead = false;
                bool filesTaken = false;  // not refused
            };
            auto progress = std::make_shared<Progress>();
            QTimer::singleShot(2 * handOverWaitMs, socket, [socket] { socket->abort(); });
            connect(socket, &QLocalSocket::readyRead, this, [this, socket, progress] {
                while (socket->canReadLine()) {
                    const QByteArray line = socket->readLine();
                    if (!progress->filesRead) {
                        progress->filesRead = true;
                        const auto files = handedOverFiles(line);
                        // Answered even when refused: the launch must not go
                        // on to start a second program.
                        socket->write("ok\n");
                        if (!files) continue;
                        progress->filesTaken = true;
                        if (files->empty()) emit activationRequested();
                        openFiles(*files);
                        continue;
                    }
                    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
                    const LaunchActivation launch = handedOverLaunch(line);
                    if (progress->filesTaken && !launch.empty()) emit launchActivation(launch);
                    socket->disconnectFromServer();
                    return;
                }
                if (socket->bytesAvailable() > longestHandOver) {
                    logLine("A fájlok átvétele elmaradt: túl hosszú üzenet érkezett.");
                    socket->abort();
                }
            });
        }
    });
    return true;
}

} // namespace ondexa
