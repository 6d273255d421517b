// The end of the program while a sound thread posts to the main thread: a
// queued job that holds the last reference to a sound stream must not be
// deleted under the lock of the main thread's queue.

#include "Ondexa/app/AppDelegate.h"
#include "Platform/audio/AudioInputStream.h"
#include "Platform/audio/AudioOutputStream.h"
#include "Platform/audio/AudioServer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <csignal>
#include <memory>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace ondexa::testing {
namespace {

using namespace std::chrono_literals;

// In a child of its own (a process with no application object yet). Exit
// status 0: the application ended; 2: the sound server could not serve.
[[noreturn]] void endWhileTheSoundThreadPosts(bool dropFirst)
{
    auto* target = new QObject;  // like a level meter: outlives the application
    std::unique_ptr<platform::AudioInputStream> input;
    std::atomic<bool> posting = false;
    {
        int argc = 1;
        char name[] = "quit";
        char* argv[] = {name, nullptr};
        QCoreApplication application(argc, argv);
        try {
            const auto sources = platform::AudioServer::shared()->inputSources();
            if (sources.empty()) std::_Exit(2);
            // Each buffer's callback posts for a while, with the server's lock
            // held, as a meter posting its levels does, only longer.
            input = std::make_unique<platform::AudioInputStream>(
                platform::AudioInputStream::Options{sources.front().name, 0, 0, 1024},
                [&](const platform::AudioInputStream::Buffer&) {
                    posting = true;
                    const auto until = std::chrono::steady_clock::now() + 1500ms;
                    while (std::chrono::steady_clock::now() < until) {
                        QMetaObject::invokeMethod(target, [] {}, Qt::QueuedConnection);
                        std::this_thread::sleep_for(2ms);
                    }
                    posting = false;
                });
            auto output = std::make_shared<platform::AudioOutputStream>(platform::AudioOutputStream::Options{});
            QMetaObject::invokeMethod(target, [output] {}, Qt::QueuedConnection);
        } catch (const std::exception&) {
            std::_Exit(2);
        }
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!posting && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
        if (!posting) std::_Exit(2);
        if (dropFirst) AppDelegate::dropQueuedWork();
    }
    input.reset();
    delete target;
    std::_Exit(0);
}

// The child's exit status; -1 when it had not ended within the limit.
int statusOf(pid_t child, std::chrono::seconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(child, &status, WNOHANG) == child) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        std::this_thread::sleep_for(20ms);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    return -1;
}

TEST(ProgramEnd, QueuedWorkHoldingASoundStreamGoesWhileASoundThreadPosts)
{
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) endWhileTheSoundThreadPosts(true);
    const int status = statusOf(child, 30s);
    ASSERT_NE(status, 2) << "the test desktop's sound server could not serve";
    EXPECT_EQ(status, 0) << "the application's end hung (-1) or failed";
}

}  // namespace
}  // namespace ondexa::testing
