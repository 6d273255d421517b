// Runs on the test desktop (scripts/desktop-session): the default sink "desk"
// plays a 440 Hz sine, "iface" is a 4-channel input.

#include "Platform/audio/AudioError.h"
#include "Platform/audio/AudioInputStream.h"
#include "Platform/audio/AudioServer.h"
#include "Platform/core/HostClock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;

namespace {

std::string run(const std::string& command)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buf[256];
    while (fgets(buf, sizeof buf, pipe)) out += buf;
    pclose(pipe);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

// Stands in for the main thread's event loop.
class MainQueue {
public:
    AudioServer::Post post()
    {
        return [this](std::function<void()> job) {
            std::lock_guard guard(mutex_);
            jobs_.push_back(std::move(job));
            wake_.notify_all();
        };
    }
    // Runs posted jobs until `done` holds or the time is up.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
    {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            std::unique_lock lock(mutex_);
            if (!wake_.wait_until(lock, deadline, [&] { return !jobs_.empty(); })) return done();
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
        }
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
};

bool hasSource(const std::vector<AudioSource>& list, const std::string& name)
{
    return std::any_of(list.begin(), list.end(), [&](const AudioSource& s) { return s.name == name; });
}

} // namespace

TEST(AudioServer, listsInputsWithTheirChannelsAndNotTheMonitors)
{
    auto server = AudioServer::shared();
    ASSERT_TRUE(server->isConnected());
    EXPECT_EQ(server, AudioServer::shared());  // one connection per process

    auto inputs = server->inputSources();
    auto iface = std::find_if(inputs.begin(), inputs.end(), [](const AudioSource& s) { return s.name == "iface"; });
    ASSERT_NE(iface, inputs.end());
    EXPECT_EQ(iface->channelCount, 4);
    EXPECT_EQ(iface->channelNames, (std::vector<std::string>{"aux0", "aux1", "aux2", "aux3"}));
    EXPECT_GT(iface->sampleRate, 0);
    EXPECT_FALSE(iface->description.empty());
    for (const auto& source : inputs) EXPECT_FALSE(source.isMonitor) << source.name;
    EXPECT_FALSE(hasSource(inputs, "desk.monitor"));
    EXPECT_FALSE(hasSource(inputs, "iface_in.monitor"));

    auto all = server->sources();
    EXPECT_TRUE(hasSource(all, "desk.monitor"));
    EXPECT_EQ(server->systemSoundSource(), "desk.monitor");
}

TEST(AudioServer, reportsSourcesAddedAndRemovedButNotVolumeChanges)
{
    auto server = AudioServer::shared();
    MainQueue main;
    int calls = 0;
    std::thread::id callingThread;
    int id = AudioServer::addDeviceObserver(
        [&] {
            ++calls;
            callingThread = std::this_thread::get_id();
        },
        main.post());

    std::string module = run("pactl load-module module-null-source source_name=extra_in channels=2");
    ASSERT_FALSE(module.empty());
    ASSERT_TRUE(main.runUntil([&] { return calls > 0; }, 5s)) << "no report of the new source";
    EXPECT_EQ(callingThread, std::this_thread::get_id());  // delivered through the post function
    EXPECT_TRUE(hasSource(server->inputSources(), "extra_in"));

    calls = 0;
    run("pactl set-source-volume extra_in 50%");
    run("pactl set-source-mute extra_in toggle");
    main.runUntil([] { return false; }, 300ms);
    EXPECT_EQ(calls, 0);

    run("pactl unload-module " + module);
    ASSERT_TRUE(main.runUntil([&] { return calls > 0; }, 5s)) << "no report of the removed source";
    EXPECT_FALSE(hasSource(server->inputSources(), "extra_in"));

    // Removed: a change after that (and one already posted) calls nothing.
    calls = 0;
    module = run("pactl load-module module-null-source source_name=extra_in2");
    AudioServer::removeDeviceObserver(id);
    run("pactl unload-module " + module);
    main.runUntil([] { return false; }, 300ms);
    EXPECT_EQ(calls, 0);
}

TEST(AudioInputStream, systemSoundCarriesTheSineStampedOnTheHostClock)
{
    auto server = AudioServer::shared();
    std::mutex mutex;
    std::vector<float> left;
    struct Stamp {
        std::int64_t host;
        std::int64_t delivered;
        int frames;
    };
    std::vector<Stamp> stamps;
    int rate = 0;

    std::int64_t opened = HostClock::nowNanoseconds();
    {
        AudioInputStream stream({server->systemSoundSource(), 2, 48000, 1024}, [&](const AudioInputStream::Buffer& b) {
            std::lock_guard guard(mutex);
            rate = b.sampleRate;
            ASSERT_EQ(b.channels, 2);
            for (int i = 0; i < b.frames; ++i) left.push_back(b.samples[i * 2]);
            if (b.hostTime) stamps.push_back({*b.hostTime, HostClock::nowNanoseconds(), b.frames});
        });
        EXPECT_EQ(stream.channels(), 2);
        EXPECT_EQ(stream.sampleRate(), 48000);
        for (int i = 0; i < 100; ++i) {
            {
                std::lock_guard guard(mutex);
                if (left.size() >= 48000 * 6 / 10) break;
            }
            std::this_thread::sleep_for(20ms);
        }
    }
    std::lock_guard guard(mutex);
    EXPECT_EQ(rate, 48000);
    ASSERT_GE(left.size(), 48000u / 2);

    // Frequency from the rising zero crossings over the last half second.
    std::vector<float> tail(left.end() - 24000, left.end());
    double first = -1, last = -1;
    int crossings = 0;
    for (std::size_t i = 1; i < tail.size(); ++i) {
        if (tail[i - 1] < 0 && tail[i] >= 0) {
            double at = double(i - 1) + tail[i - 1] / (tail[i - 1] - tail[i]);
            if (first < 0) first = at;
            last = at;
            ++crossings;
        }
    }
    ASSERT_GT(crossings, 100);
    double frequency = (crossings - 1) / ((last - first) / 48000.0);
    EXPECT_NEAR(frequency, 440.0, 2.0);
    float peak = 0;
    for (float s : tail) peak = std::max(peak, std::abs(s));
    EXPECT_GT(peak, 0.05f);

    // Stamps: the first frame was captured before its delivery (give or take
    // the server's timing interpolation), not long before the stream opened,
    // and the line advances with the frames delivered.
    ASSERT_GE(stamps.size(), 10u);
    for (std::size_t i = 0; i < stamps.size(); ++i) {
        EXPECT_LE(stamps[i].host, stamps[i].delivered + 10'000'000);
        EXPECT_GT(stamps[i].host, opened - 500'000'000);
        if (i > 0) {
            double expected = double(stamps[i - 1].frames) / 48000.0;
            double step = double(stamps[i].host - stamps[i - 1].host) / 1e9;
            EXPECT_NEAR(step, expected, 0.03) << "buffer " << i;
        }
    }
}

TEST(AudioInputStream, keepsEachInterfaceChannelApart)
{
    // A different tone on each of the interface's four channels, played into
    // the sink behind it.
    const int rate = 44100;
    const double tones[4] = {300, 500, 700, 900};
    std::string file = ::testing::TempDir() + "ondexa_four_tones.raw";
    {
        std::vector<float> samples(std::size_t(rate) * 3 / 2 * 4);
        for (std::size_t f = 0; f < samples.size() / 4; ++f)
            for (int c = 0; c < 4; ++c)
                samples[f * 4 + std::size_t(c)] = float(0.5 * std::sin(2 * M_PI * tones[c] * double(f) / rate));
        FILE* out = std::fopen(file.c_str(), "wb");
        ASSERT_TRUE(out);
        std::fwrite(samples.data(), sizeof(float), samples.size(), out);
        std::fclose(out);
    }

    std::mutex mutex;
    std::vector<float> recorded;  // 4 channels, from the first loud frame on
    int channels = 0;
    AudioInputStream stream({"iface"}, [&](const AudioInputStream::Buffer& b) {
        std::lock_guard guard(mutex);
        channels = b.channels;
        for (int f = 0; f < b.frames; ++f) {
            const float* frame = b.samples + f * b.channels;
            bool loud = std::any_of(frame, frame + b.channels, [](float x) { return std::abs(x) > 0.1f; });
            if (!recorded.empty() || loud) recorded.insert(recorded.end(), frame, frame + b.channels);
        }
    });
    EXPECT_EQ(stream.channels(), 4);
    EXPECT_EQ(stream.sampleRate(), rate);
    EXPECT_EQ(stream.channelNames(), (std::vector<std::string>{"aux0", "aux1", "aux2", "aux3"}));
    std::thread player([&] {
        run("pacat -d iface_in --channels=4 --channel-map=aux0,aux1,aux2,aux3 --format=float32le --rate=44100 "
            "--raw " + file);
    });
    for (int i = 0; i < 150; ++i) {
        {
            std::lock_guard guard(mutex);
            if (recorded.size() >= std::size_t(rate) / 2 * 4 + 4096) break;
        }
        std::this_thread::sleep_for(20ms);
    }
    player.join();
    std::remove(file.c_str());

    std::lock_guard guard(mutex);
    ASSERT_EQ(channels, 4);
    ASSERT_GE(recorded.size(), std::size_t(rate) / 2 * 4);
    for (int c = 0; c < 4; ++c) {
        // Rising zero crossings of channel c over 0.4 s, from 0.05 s in.
        int crossings = 0;
        double first = -1, last = -1;
        for (int f = rate / 20 + 1; f < rate / 20 + rate * 2 / 5; ++f) {
            float a = recorded[std::size_t(f - 1) * 4 + std::size_t(c)], b = recorded[std::size_t(f) * 4 + std::size_t(c)];
            if (a < 0 && b >= 0) {
                double at = double(f - 1) + a / (a - b);
                if (first < 0) first = at;
                last = at;
                ++crossings;
            }
        }
        ASSERT_GT(crossings, 10) << "channel " << c;
        EXPECT_NEAR((crossings - 1) / ((last - first) / rate), tones[c], 3.0) << "channel " << c;
    }
}

TEST(AudioInputStream, endsWhenItsSourceGoes)
{

    std::string module = run("pactl load-module module-null-source source_name=going channels=2");
    ASSERT_FALSE(module.empty());
    std::mutex mutex;
    std::condition_variable wake;
    std::string ended;
    AudioInputStream stream({"going"}, [](const AudioInputStream::Buffer&) {},
                            [&](const std::string& why) {
                                std::lock_guard guard(mutex);
                                ended = why;
                                wake.notify_all();
                            });
    run("pactl unload-module " + module);
    std::unique_lock lock(mutex);
    ASSERT_TRUE(wake.wait_for(lock, 5s, [&] { return !ended.empty(); }));
    EXPECT_NE(ended.find("A hangbemenet leállt"), std::string::npos) << ended;
}

TEST(AudioInputStream, unknownSourceIsAClearError)
{
    try {
        AudioInputStream stream({"nincs_ilyen"}, [](const AudioInputStream::Buffer&) {});
        FAIL() << "opened a source that does not exist";
    } catch (const AudioError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("A hangforrás nem található: nincs_ilyen (", 0), 0u) << error.what();
    }
}

TEST(AudioServerDeathTest, aServerThatRefusesUsIsAClearError)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("PULSE_SERVER", "unix:/nonexistent/ondexa/native", 1);
            try {
                AudioServer::shared();
            } catch (const AudioError& error) {
                std::fprintf(stderr, "%s\n", error.what());
                std::exit(0);
            }
            std::exit(1);
        },
        ::testing::ExitedWithCode(0), "A hangkiszolgáló \\(PulseAudio\\) nem fogadta a kapcsolódást \\(.+\\)\\.");
}
