#include "Ondexa/app/AppDelegate.h"

#include "Ondexa/model/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>

#include <algorithm>
#include <csignal>
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
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

void AppDelegate::handleSessionEnd()
{
    if (followsSession_) return;
    followsSession_ = true;
    QCoreApplication::instance()->installEventFilter(this);
#if QT_CONFIG(sessionmanager)
    // Asked while recording: the stop starts now, so that the movie is done
    // before the session manager's final word, or soon after it.
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(gui, &QGuiApplication::commitDataRequest, this, [this] {
            if (state_.phase() != AppState::Phase::idle) requestQuit();
        });
    }
#endif
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

std::vector<std::filesystem::path> AppDelegate::filesOf(const QStringList& arguments)
{
    std::vector<std::filesystem::path> files;
    for (const QString& argument : arguments) {
        if (argument.startsWith("--")) continue;
        files.emplace_back(QFileInfo(argument).absoluteFilePath().toStdString());
    }
    return files;
}

bool AppDelegate::takesPartInHandOver(const QStringList& arguments)
{
    return std::none_of(arguments.begin(), arguments.end(), [](const QString& a) { return a.startsWith("--"); });
}

QString AppDelegate::serverName()
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty()) folder = QDir::tempPath() + "/vendalum-" + QString::number(::getuid());
    QDir().mkpath(folder);
    return folder + "/vendalum.socket";
}

bool AppDelegate::handOver(const std::vector<std::filesystem::path>& files)
{
    // Runs before the event loop of a launch that ends right after: waiting
    // here freezes no window.
    QLocalSocket socket;
    socket.connectToServer(serverName());
    if (!socket.waitForConnected(1000)) return false;
    QJsonArray list;
    for (const auto& file : files) list.append(QString::fromStdString(file.string()));
    socket.write(QJsonDocument(list).toJson(QJsonDocument::Compact) + '\n');
    if (!socket.waitForBytesWritten(handOverWaitMs)) return false;
    // The running program answers once it has taken the files.
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(handOverWaitMs)) return false;
    }
    return socket.readLine().trimmed() == "ok";
}

bool AppDelegate::serve()
{
    const QString name = serverName();
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
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine()) return;
                const QJsonArray list = QJsonDocument::fromJson(socket->readLine()).array();
                socket->write("ok\n");
                socket->flush();
                std::vector<std::filesystem::path> files;
                for (const auto& value : list) files.emplace_back(value.toString().toStdString());
                if (files.empty()) emit activationRequested();
                openFiles(files);
            });
        }
    });
    return true;
}

} // namespace ondexa
