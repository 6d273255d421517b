// Runs on the test desktop (scripts/desktop-session): the default sink "desk"
// plays a 440 Hz sine, "iface" is a 4-channel input. On the Wayland session
// (PipeWire) some tests switch the server's rate for their own scope.

#include "Platform/audio/AudioError.h"
#include "Platform/audio/AudioInputStream.h"
#include "Platform/audio/AudioServer.h"
#include "support/SilentSoundServer.h"

#include <gtest/gtest.h>

#include <pulse/channelmap.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <fstream>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;

namespace {

// A command's first line of output.
std::string run(const std::string& command)
{
    char line[256] = {};
    if (FILE* pipe = popen(command.c_str(), "r")) {
        if (!fgets(line, sizeof line, pipe)) line[0] = 0;
        pclose(pipe);
    }
    return std::string(line, std::strcspn(line, "\n"));
}

bool hasInput(const std::string& name)
{
    auto inputs = AudioServer::shared()->inputSources();
    return std::any_of(inputs.begin(), inputs.end(), [&](const AudioSource& s) { return s.name == name; });
}

// A buffer's first frame: its number in the recording and its host time.
struct Stamp {
    double frame = 0;
    double hostTime = 0;
};

// Records an input's interleaved samples until `frames` frames came (or 3 s
// passed); `rate` (optional) gets the rate they came at, `stamps` (optional)
// each stamped buffer's place.
std::vector<float> record(AudioInputStream::Options options, std::size_t frames, int* channels, int* rate = nullptr,
                          std::vector<Stamp>* stamps = nullptr)
{
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<float> samples;
    AudioInputStream stream(options, [&](const AudioInputStream::Buffer& b) {
        std::lock_guard guard(mutex);
        *channels = b.channels;
        if (rate) *rate = b.sampleRate;
        if (stamps && b.hostTime)
            stamps->push_back({double(samples.size() / std::size_t(b.channels)), double(*b.hostTime)});
        samples.insert(samples.end(), b.samples, b.samples + b.frames * b.channels);
        wake.notify_all();
    });
    std::unique_lock lock(mutex);
    wake.wait_for(lock, 3s, [&] { return *channels && samples.size() >= frames * std::size_t(*channels); });
    return samples;
}

// The frequency of one channel from the median time between its rising zero
// crossings in frames [from, to). Not from their count: a dropout of the
// player (silence, around which a resampler rings) adds crossings to a count
// and would read as another pitch, but leaves the median alone.
double frequency(const std::vector<float>& samples, int channels, int channel, int rate, int from, int to)
{
    std::vector<double> crossings;
    for (int f = from + 1; f < to; ++f) {
        const float a = samples[std::size_t((f - 1) * channels + channel)], b = samples[std::size_t(f * channels + channel)];
        if (a < 0 && b >= 0 && b - a > 0.01f) crossings.push_back(double(f - 1) + a / (a - b));
    }
    if (crossings.size() <= 10) return 0.0;
    std::vector<double> periods;
    for (std::size_t i = 1; i < crossings.size(); ++i) periods.push_back(crossings[i] - crossings[i - 1]);
    std::nth_element(periods.begin(), periods.begin() + std::ptrdiff_t(periods.size() / 2), periods.end());
    return rate / periods[periods.size() / 2];
}

// Host nanoseconds per frame, fitted through the buffers' stamps.
double nanosecondsPerFrame(const std::vector<Stamp>& stamps)
{
    double frames = 0, times = 0;
    for (const auto& s : stamps) frames += s.frame, times += s.hostTime;
    frames /= double(stamps.size());
    times /= double(stamps.size());
    double covariance = 0, variance = 0;
    for (const auto& s : stamps) {
        covariance += (s.frame - frames) * (s.hostTime - times);
        variance += (s.frame - frames) * (s.frame - frames);
    }
    return variance > 0 ? covariance / variance : 0.0;
}

// Plays a different tone on each of the interface's four channels into the
// sink behind it, from 0.2 s on (once a recording runs), for 1.5 s.
const double interfaceTones[4] = {300, 500, 700, 900};
std::thread playIntoInterface()
{
    return std::thread([] {
        const int rate = 44100;
        std::vector<float> samples(std::size_t(rate) * 3 / 2 * 4);
        for (std::size_t f = 0; f < samples.size() / 4; ++f)
            for (int c = 0; c < 4; ++c)
                samples[f * 4 + std::size_t(c)] = float(0.5 * std::sin(2 * M_PI * interfaceTones[c] * double(f) / rate));
        FILE* pacat = popen("sleep 0.2; pacat -d iface_in --channels=4 --channel-map=aux0,aux1,aux2,aux3 "
                            "--format=float32le --rate=44100 --raw", "w");
        if (!pacat) return;
        std::fwrite(samples.data(), sizeof(float), samples.size(), pacat);
        pclose(pacat);
    });
}

// The samples from the first loud frame on.
void dropLeadingSilence(std::vector<float>& samples, int channels)
{
    auto loud = std::find_if(samples.begin(), samples.end(), [](float x) { return std::abs(x) > 0.1f; });
    samples.erase(samples.begin(), samples.begin() + (loud - samples.begin()) / channels * channels);
}

int runningRate(const std::string& source)
{
    for (const auto& s : AudioServer::shared()->sources())
        if (s.name == source) return s.sampleRate;
    return 0;
}

// Runs the sound server at 44.1 kHz for a scope. The test desktop's PulseAudio
// runs there already; PipeWire (48 kHz) is made to, and then to go back.
class ServerAt44100 {
public:
    ServerAt44100()
    {
        pipewire_ = run("pactl info | grep -c 'on PipeWire'") != "0";
        before_ = runningRate("desk.monitor");
        if (pipewire_ && before_ != 44100) force(44100);
    }
    ~ServerAt44100()
    {
        if (!pipewire_ || before_ <= 0 || before_ == 44100) return;
        // Unforced, the graph stays at the rate it runs at: first back to the old one.
        force(before_);
        for (int i = 0; i < 10 && run("pw-metadata -n settings 0 clock.force-rate | grep -c \"value:'0'\"") != "1"; ++i)
            run("pw-metadata -n settings 0 clock.force-rate 0");
    }

private:
    // Told again while it does not take: now and then a setting written by
    // pw-metadata does not reach PipeWire.
    static void force(int rate)
    {
        // Up to 15 s: a loaded machine switches the graph slowly.
        for (int i = 0; i < 300 && runningRate("desk.monitor") != rate; ++i) {
            if (i % 10 == 0) run("pw-metadata -n settings 0 clock.force-rate " + std::to_string(rate));
            std::this_thread::sleep_for(50ms);
        }
    }

    bool pipewire_ = false;
    int before_ = 0;
};

} // namespace

TEST(AudioServer, listsTheInterfaceWithItsChannelsAndNoMonitors)
{
    auto server = AudioServer::shared();
    ASSERT_TRUE(server->isConnected());
    auto inputs = server->inputSources();
    auto iface = std::find_if(inputs.begin(), inputs.end(), [](const AudioSource& s) { return s.name == "iface"; });
    ASSERT_NE(iface, inputs.end());
    EXPECT_EQ(iface->channelCount, 4);
    EXPECT_EQ(iface->channelNames, (std::vector<std::string>{"aux0", "aux1", "aux2", "aux3"}));
    for (const auto& source : inputs) EXPECT_FALSE(source.isMonitor) << source.name;
    EXPECT_EQ(server->systemSoundSource(), "desk.monitor");
}

TEST(AudioServer, reportsSourcesAddedAndRemovedButNotVolumeChanges)
{
    auto server = AudioServer::shared();  // observers are served by a live connection
    std::mutex mutex;
    std::vector<std::function<void()>> posted;  // stands in for the main thread's queue
    int calls = 0;
    const auto mainThread = std::this_thread::get_id();
    // Runs the posted jobs for `limit` or until a call came.
    const auto called = [&](std::chrono::milliseconds limit) {
        for (auto end = std::chrono::steady_clock::now() + limit; !calls; std::this_thread::sleep_for(10ms)) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::unique_lock lock(mutex);
            auto jobs = std::exchange(posted, {});
            lock.unlock();
            for (auto& job : jobs) job();
        }
        return true;
    };
    const int id = AudioServer::addDeviceObserver(
        [&] {
            ++calls;
            EXPECT_EQ(std::this_thread::get_id(), mainThread);  // delivered through the post function
        },
        [&](std::function<void()> job) {
            std::lock_guard lock(mutex);
            posted.push_back(std::move(job));
        });

    // PipeWire's PulseAudio server has no null source: its null sink makes one when told to.
    const bool pipewire = run("pactl info | grep -c 'on PipeWire'") != "0";
    const std::string module =
        run(pipewire ? "pactl load-module module-null-sink media.class=Audio/Source/Virtual sink_name=extra_in channels=2"
                     : "pactl load-module module-null-source source_name=extra_in channels=2");
    ASSERT_FALSE(module.empty());
    EXPECT_TRUE(called(5s)) << "no report of the new source";
    EXPECT_TRUE(hasInput("extra_in"));

    calls = 0;
    run("pactl set-source-volume extra_in 50%; pactl set-source-mute extra_in toggle");
    EXPECT_FALSE(called(300ms)) << "a volume change reported";

    run("pactl unload-module " + module);
    EXPECT_TRUE(called(5s)) << "no report of the removed source";
    EXPECT_FALSE(hasInput("extra_in"));
    AudioServer::removeDeviceObserver(id);
}

TEST(AudioServer, reportsASwitchOfTheDefaultOutputAndNamesItsMonitor)
{
    auto server = AudioServer::shared();
    ASSERT_EQ(server->systemSoundSource(), "desk.monitor");
    std::mutex mutex;
    std::condition_variable wake;
    int calls = 0;  // guarded by mutex
    const int id = AudioServer::addServerObserver(
        [&] {
            std::lock_guard lock(mutex);
            ++calls;
            wake.notify_all();
        },
        [](std::function<void()> job) { job(); });  // in place, on the sound thread
    const auto called = [&] {
        std::unique_lock lock(mutex);
        const bool came = wake.wait_for(lock, 5s, [&] { return calls > 0; });
        calls = 0;
        return came;
    };

    run("pactl set-default-sink drain");
    EXPECT_TRUE(called()) << "no report of the new default output";
    EXPECT_EQ(server->systemSoundSource(), "drain.monitor");
    run("pactl set-default-sink desk");
    EXPECT_TRUE(called());
    EXPECT_EQ(server->systemSoundSource(), "desk.monitor");
    AudioServer::removeDeviceObserver(id);

    // The desktop's sources are virtual: no card of their own.
    for (const auto& source : server->sources()) EXPECT_EQ(source.card, "") << source.name;
}

TEST(AudioInputStream, findsTheSineOnTheSystemSound)
{
    int channels = 0;
    const auto samples = record({AudioServer::shared()->systemSoundSource(), 2, 48000, 1024}, 36000, &channels);
    ASSERT_EQ(channels, 2);
    ASSERT_GE(samples.size(), 36000u * 2);
    const int end = int(samples.size() / 2);
    EXPECT_NEAR(frequency(samples, 2, 0, 48000, end - 24000, end), 440.0, 2.0);
    EXPECT_NEAR(frequency(samples, 2, 1, 48000, end - 24000, end), 440.0, 2.0);
}

TEST(AudioInputStream, keepsEachInterfaceChannelApart)
{
    std::thread player = playIntoInterface();
    int channels = 0;
    int recorded = 0;  // the source's own rate: PulseAudio's 44.1 kHz, PipeWire's 48 kHz
    auto samples = record({"iface"}, std::size_t(44100) * 13 / 10, &channels, &recorded);
    player.join();

    ASSERT_EQ(channels, 4);
    ASSERT_GT(recorded, 0);
    dropLeadingSilence(samples, 4);
    ASSERT_GE(samples.size(), std::size_t(recorded) / 2 * 4);
    for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(frequency(samples, 4, c, recorded, recorded / 20, recorded / 20 + recorded * 2 / 5),
                    interfaceTones[c], 3.0)
            << c;
}

// The system sound is always recorded at 48 kHz, and an interface that comes
// back is opened at the rate its track was made for: when the server runs at
// another rate, what arrives must still be the asked rate, at the right pitch
// and with time stamps that count its frames at that rate.
TEST(AudioInputStream, givesTheAskedRateWhenTheServerRunsAtAnother)
{
    ServerAt44100 server;
    ASSERT_EQ(runningRate("desk.monitor"), 44100);
    const int rate = 48000;
    int channels = 0;
    int delivered = 0;
    std::vector<Stamp> stamps;
    const auto samples =
        record({AudioServer::shared()->systemSoundSource(), 2, rate, 1024}, std::size_t(rate) * 5 / 2, &channels,
               &delivered, &stamps);
    ASSERT_EQ(channels, 2);
    ASSERT_EQ(delivered, rate);
    ASSERT_GE(samples.size(), std::size_t(rate) * 2 * 2);
    const int end = int(samples.size() / 2);
    for (int c = 0; c < 2; ++c) EXPECT_NEAR(frequency(samples, 2, c, rate, end - rate, end), 440.0, 4.4) << c;
    // Fitted over the whole recording, so that one late delivery weighs little.
    ASSERT_GE(stamps.size(), 20u);
    EXPECT_NEAR(nanosecondsPerFrame(stamps), 1e9 / rate, 0.03 * 1e9 / rate);
}

TEST(AudioInputStream, keepsEachInterfaceChannelApartWhenTheServerRunsAtAnotherRate)
{
    ServerAt44100 server;
    ASSERT_EQ(runningRate("desk.monitor"), 44100);
    const int rate = 48000;
    std::thread player = playIntoInterface();
    int channels = 0;
    int delivered = 0;
    auto samples = record({"iface", 4, rate, 1024}, std::size_t(rate) * 13 / 10, &channels, &delivered);
    player.join();

    ASSERT_EQ(channels, 4);
    ASSERT_EQ(delivered, rate);
    dropLeadingSilence(samples, 4);
    ASSERT_GE(samples.size(), std::size_t(rate) / 2 * 4);
    for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(frequency(samples, 4, c, rate, rate / 20, rate / 20 + rate * 2 / 5), interfaceTones[c],
                    interfaceTones[c] / 100)
            << c;
}

TEST(AudioServerDeathTest, aServerThatRefusesUsIsAClearError)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("PULSE_SERVER", "unix:/nonexistent/ondexa/native", 1);
            // Not there is not turned away: the user's sentence differs.
            const SoundAccess access = SoundAccess::check();
            if (access.granted || access.refused || access.reason.empty()) std::exit(4);
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

namespace {

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The sentence of every wait that ran out, and how long it may take at most
// on a busy machine beyond the deadline itself.
const std::string noAnswer = "A hangkiszolgáló (PulseAudio) nem válaszolt 5 másodpercen belül.";
constexpr double deadline = 5.0;
constexpr double slack = 15.0;

// Holds the test desktop's sound server still (SIGSTOP) for a scope: it keeps
// its socket, takes connections into the backlog and answers nothing.
class FrozenSoundServer {
public:
    FrozenSoundServer()
    {
        const char* runtime = std::getenv("PULSE_RUNTIME_PATH");
        if (runtime) std::ifstream(std::string(runtime) + "/pid") >> pid_;
        if (pid_ > 0 && ::kill(pid_, SIGSTOP) != 0) pid_ = 0;
    }
    ~FrozenSoundServer()
    {
        if (pid_ > 0) ::kill(pid_, SIGCONT);
    }
    bool frozen() const { return pid_ > 0; }

private:
    pid_t pid_ = 0;
};

} // namespace

TEST(AudioServerDeathTest, aServerThatAcceptsAndNeverAnswersIsGivenUpAfterTheDeadline)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // In a child of its own: the connection of this process is made once.
    EXPECT_EXIT(
        {
            testsupport::SilentSoundServer silent;
            if (!silent.listening()) std::exit(3);
            setenv("PULSE_SERVER", silent.address().c_str(), 1);
            const auto start = std::chrono::steady_clock::now();
            try {
                AudioServer::shared();
            } catch (const AudioError& error) {
                const double waited = secondsSince(start);
                std::fprintf(stderr, "%s after %.1f s\n", error.what(), waited);
                std::exit(waited >= deadline - 0.1 && waited < deadline + slack ? 0 : 2);
            }
            std::exit(1);
        },
        ::testing::ExitedWithCode(0), "nem válaszolt 5 másodpercen belül\\. after");
}

TEST(AudioServer, aServerThatStopsAnsweringFailsEachWaitAtItsDeadlineAndIsReachedAgainAfterwards)
{
    auto server = AudioServer::shared();
    ASSERT_TRUE(hasInput("iface"));
    {
        FrozenSoundServer frozen;
        ASSERT_TRUE(frozen.frozen()) << "no pid of the test desktop's sound server";
        // A query on the connection we have.
        auto start = std::chrono::steady_clock::now();
        try {
            server->sources();
            ADD_FAILURE() << "a frozen server answered";
        } catch (const AudioError& error) {
            EXPECT_EQ(std::string(error.what()), noAnswer);
        }
        EXPECT_GE(secondsSince(start), deadline - 0.1);
        EXPECT_LT(secondsSince(start), deadline + slack);
        // That connection is given up: a stream connects afresh, and that waits no longer.
        start = std::chrono::steady_clock::now();
        try {
            AudioInputStream stream({"iface"}, [](const AudioInputStream::Buffer&) {});
            ADD_FAILURE() << "a stream opened on a frozen server";
        } catch (const AudioError& error) {
            EXPECT_EQ(std::string(error.what()), noAnswer);
        }
        EXPECT_LT(secondsSince(start), deadline + slack);
    }
    // Awake again: the next caller gets a working connection.
    EXPECT_TRUE(hasInput("iface"));
}

TEST(AudioServer, namesAChannelPositionOnlyWhenItSaysMoreThanItsNumber)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"mono", ""},
        {"aux0", ""},
        {"aux31", ""},
        {"bogus", ""},
        {"", ""},
        {"front-left", "Bal első"},  // Hungarian whatever the locale
        {"front-right", "Jobb első"},
        {"rear-right", "Jobb hátsó"},
        {"side-left", "Bal oldalsó"},
        {"top-rear-center", "Felső középső hátsó"},
        {"lfe", "Mélysugárzó"},
    };
    for (const auto& [token, label] : cases) EXPECT_EQ(AudioServer::channelLabel(token), label) << token;
    EXPECT_NE(AudioServer::channelLabel("front-left"), "front-left");
}
