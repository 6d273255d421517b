#pragma once

// The program itself in a child process, with a temporary home and XDG
// folders of its own: its log, settings, recordings and local socket.

#include "recording/AppStateFakes.h"  // pumpUntil, readFile
#include "support/TempFolder.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <chrono>
#include <filesystem>
#include <string>

namespace ondexa::testing {

// Generous: a sanitized Qt program starts slowly on a loaded machine.
constexpr auto programDeadline = std::chrono::seconds(60);

struct ProgramHome {
    TempFolder temp;
    std::filesystem::path runtime = temp.path / "run";

    ProgramHome()
    {
        std::filesystem::create_directories(runtime);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    }
    std::filesystem::path log() const { return temp.path / "state" / "Vendalum" / "Vendalum.log"; }
    std::string logText() const { return readFile(log()); }
    std::filesystem::path recordings() const { return temp.path / "Videos" / "Vendalum"; }
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const auto at = [&](const char* sub) { return QString::fromStdString((temp.path / sub).string()); };
        env.insert("HOME", QString::fromStdString(temp.path.string()));
        env.insert("XDG_STATE_HOME", at("state"));
        env.insert("XDG_CONFIG_HOME", at("config"));
        env.insert("XDG_DATA_HOME", at("data"));
        env.insert("XDG_CACHE_HOME", at("cache"));
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.string()));
        env.remove("VENDALUM_FEED");
        return env;
    }
    // Starts the program; `change` adjusts the environment first.
    template <typename Change>
    void start(QProcess& process, const QStringList& arguments, Change change) const
    {
        QProcessEnvironment env = environment();
        change(env);
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QStringLiteral(VENDALUM_PROGRAM), arguments);
        ASSERT_TRUE(process.waitForStarted(30000));
    }
    void start(QProcess& process, const QStringList& arguments) const
    {
        start(process, arguments, [](QProcessEnvironment&) {});
    }
    bool logHas(const std::string& text, std::chrono::milliseconds limit = programDeadline) const
    {
        return pumpUntil([&] { return logText().find(text) != std::string::npos; }, limit);
    }
};

// Ends the program the way the desktop does and gives its exit status.
inline int terminate(QProcess& process)
{
    process.terminate();
    if (!pumpUntil([&] { return process.state() == QProcess::NotRunning; }, programDeadline)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace ondexa::testing
