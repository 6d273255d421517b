// The launcher's reading of the command line, the log's number and list
// texts, and the await style of the tests.

#include "Ondexa/selftest/LogText.h"
#include "Ondexa/selftest/Task.h"
#include "Ondexa/selftest/TestModel.h"
#include "Ondexa/selftest/TestPlan.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <thread>

namespace ondexa::selftest {
namespace {

using std::filesystem::path;

const path here = "/work/here";

struct PlanCase {
    const char* name;
    std::vector<std::string> arguments;  // after the program path
    std::optional<std::string> launchLine;
    std::vector<PlannedTest> tests;
    friend void PrintTo(const PlanCase& c, std::ostream* out) { *out << c.name; }
};

class SelftestPlan : public ::testing::TestWithParam<PlanCase> {};

TEST_P(SelftestPlan, ReadsTheFlagsInTheirFixedOrder)
{
    const PlanCase& c = GetParam();
    std::vector<std::string> arguments{"/usr/bin/vendalum"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const TestPlan plan = planTests(arguments, here);
    EXPECT_EQ(plan.launchLine, c.launchLine);
    EXPECT_EQ(plan.tests.size(), c.tests.size());
    EXPECT_EQ(plan.tests, c.tests) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    SelftestCommandLines, SelftestPlan,
    ::testing::Values(
        PlanCase{"NoArguments", {}, std::nullopt, {}},
        // Files from the desktop are no test run: no launch line.
        PlanCase{"OnlyFiles", {"/a/F.mov", "b.vdlproj"}, std::nullopt, {}},
        PlanCase{"UnknownFlag", {"--updatecheck"}, "Önteszt indul: --updatecheck", {}},
        PlanCase{"FirstArgumentIsLoggedWhateverItIs",
                 {"/a/F.mov", "--selftest"},
                 "Önteszt indul: /a/F.mov",
                 {{TestKind::recorder, {}}}},
        PlanCase{"FadeWithTwoPaths",
                 {"--fadetest", "/s/F.mov", "/out"},
                 "Önteszt indul: --fadetest",
                 {{TestKind::fade, {"/s/F.mov", "/out"}}}},
        PlanCase{"RecorderRunsBeforeEditWhateverTheOrder",
                 {"--edittest", "/s/F.mov", "/o/edit.mp4", "--selftest"},
                 "Önteszt indul: --edittest",
                 {{TestKind::recorder, {}}, {TestKind::edit, {"/s/F.mov", "/o/edit.mp4"}}}},
        // A flag takes what follows it, flags included, relative to the current folder.
        PlanCase{"FeatureTakesTheNextFlagAsItsFolder",
                 {"--featuretest", "x", "--fadetest", "a", "b"},
                 "Önteszt indul: --featuretest",
                 {{TestKind::feature, {here / "x", here / "--fadetest"}}, {TestKind::fade, {here / "a", here / "b"}}}},
        PlanCase{"FeatureAtTheEndWithOnePathIsSkipped",
                 {"--fadetest", "a", "b", "--featuretest", "c"},
                 "Önteszt indul: --fadetest",
                 {{TestKind::fade, {here / "a", here / "b"}}}},
        PlanCase{"RepeatedFlagRunsOnceWithItsFirstPaths",
                 {"--featuretest", "/1", "/2", "--featuretest", "/3", "/4"},
                 "Önteszt indul: --featuretest",
                 {{TestKind::feature, {"/1", "/2"}}}},
        PlanCase{"SnapshotAloneIsSkipped", {"--snapshot"}, "Önteszt indul: --snapshot", {}},
        PlanCase{"SnapshotTakesOnePath",
                 {"--snapshot", "/shots", "--open", "/s/F.mov"},
                 "Önteszt indul: --snapshot",
                 {{TestKind::snapshot, {"/shots"}}}},
        PlanCase{"GapTakesAnOptionFlagAsItsSource",
                 {"--gaptest", "--area", "/out"},
                 "Önteszt indul: --gaptest",
                 {{TestKind::gap, {here / "--area", "/out"}}}},
        PlanCase{"MoveTakesThreePaths",
                 {"--movetest", "/s", "/k.png", "/o", "--transitiontest", "/s"},
                 "Önteszt indul: --movetest",
                 {{TestKind::move, {"/s", "/k.png", "/o"}}}},
        PlanCase{"MoveWithTwoPathsIsSkipped", {"--movetest", "/s", "/k.png"}, "Önteszt indul: --movetest", {}},
        // Case-sensitive, whole-string flags.
        PlanCase{"NearFlagsAreNoFlags",
                 {"--SELFTEST", "--selftest=1", "--exporttest", "/s", "/o"},
                 "Önteszt indul: --SELFTEST",
                 {{TestKind::exporting, {"/s", "/o"}}}},
        PlanCase{"AllNineInTheirOrder",
                 {"--edittest", "/s", "/e", "--snapshot", "/w", "--exporttest", "/s", "/x", "--transitiontest", "/s",
                  "/t", "--gaptest", "/s", "/g", "--movetest", "/s", "/k", "/m", "--fadetest", "/s", "/f",
                  "--featuretest", "/s", "/u", "--selftest"},
                 "Önteszt indul: --edittest",
                 {{TestKind::recorder, {}},
                  {TestKind::feature, {"/s", "/u"}},
                  {TestKind::fade, {"/s", "/f"}},
                  {TestKind::move, {"/s", "/k", "/m"}},
                  {TestKind::gap, {"/s", "/g"}},
                  {TestKind::transition, {"/s", "/t"}},
                  {TestKind::exporting, {"/s", "/x"}},
                  {TestKind::snapshot, {"/w"}},
                  {TestKind::edit, {"/s", "/e"}}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SelftestPlanPaths, KeepsUnicodeBlanksAndBytesThatAreNoTextOfAPath)
{
    const TestPlan plan = planTests({"vendalum", "--snapshot", "ablak képek/ő"}, here);
    ASSERT_EQ(plan.tests.size(), 1u);
    EXPECT_EQ(plan.tests[0].paths[0], here / "ablak képek/ő");
    // A Latin-1 name ("kép.mov" with é as one byte) is not UTF-8.
    const std::string latin1 = "/s/k\xe9p.mov";
    const TestPlan bytes = planTests({"vendalum", "--fadetest", latin1, "/o\xf5"}, here);
    ASSERT_EQ(bytes.tests.size(), 1u);
    EXPECT_EQ(bytes.tests[0].paths, (std::vector<path>{latin1, "/o\xf5"}));
}

TEST(SelftestLogText, FormatsNumbersLikeTheCLocale)
{
    struct Case {
        double value;
        int decimals;
        const char* text;
    } cases[] = {{11.0338, 1, "11.0"}, {0.0926, 4, "0.0926"}, {20.0, 2, "20.00"}, {2.345, 1, "2.3"},
                 {-3.25, 2, "-3.25"},  {0.05, 1, "0.1"},      {1234.5, 0, "1234"}, {1e-7, 2, "0.00"}};
    for (const auto& c : cases) EXPECT_EQ(fixed(c.value, c.decimals), c.text) << c.value;
    EXPECT_EQ(fixed(std::numeric_limits<double>::quiet_NaN(), 1), "nan");
    EXPECT_EQ(fixed(-std::numeric_limits<double>::infinity(), 1), "-inf");
}

TEST(SelftestLogText, WritesListsWithDebugEscapes)
{
    EXPECT_EQ(listText({}), "[]");
    EXPECT_EQ(listText({"F.mov#0: 12", "kep.png#0: 3"}), R"(["F.mov#0: 12", "kep.png#0: 3"])");
    EXPECT_EQ(listText({"Rendszerhang"}), R"(["Rendszerhang"])");
    EXPECT_EQ(quotedText("a\"b\\c\nd\te\rf"), R"("a\"b\\c\nd\te\rf")");
    EXPECT_EQ(quotedText(std::string("x\0y\x01\x7f", 5)), R"("x\0y\u{01}\u{7F}")");
    EXPECT_EQ(quotedText("it's"), R"("it\'s")");
    EXPECT_EQ(quotedText("Képernyő"), "\"Képernyő\"");
    EXPECT_EQ(numberList({}), "[]");
    EXPECT_EQ(numberList({3, 0, 1}), "[0, 1, 3]");
}

TEST(SelftestTracks, FindsTheScreenAndTheSoundTrack)
{
    const auto track = [](const char* name, MediaKind kind, int index, bool fromRecording) {
        Track t;
        t.name = name;
        t.media = MediaRef{"/r/F.mov", kind, index};
        t.fromRecording = fromRecording;
        return t;
    };
    const std::vector<Track> tracks{
        track("kep", MediaKind::image, 0, false),       track("Kamera", MediaKind::video, 1, true),
        track("Import", MediaKind::video, 0, false),     track("Effekt", MediaKind::effects, 0, true),
        track("Képernyő", MediaKind::video, 0, true),    track("Zene", MediaKind::audio, 1, false),
        track("Rendszerhang", MediaKind::audio, 0, true)};
    ASSERT_NE(screenTrack(tracks), nullptr);
    EXPECT_EQ(screenTrack(tracks)->name, "Képernyő");
    // Any audio track, the first one.
    ASSERT_NE(soundTrack(tracks), nullptr);
    EXPECT_EQ(soundTrack(tracks)->name, "Zene");
    EXPECT_EQ(screenAndSoundIDs(tracks), (std::set<Uuid>{tracks[4].id, tracks[5].id}));

    const std::vector<Track> none{tracks[0], tracks[1], tracks[2]};
    EXPECT_EQ(screenTrack(none), nullptr);
    EXPECT_EQ(soundTrack(none), nullptr);
    EXPECT_TRUE(screenAndSoundIDs(none).empty());
}

// --- The await style ---

class SelftestTask : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "selftest";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    }
    // Runs the event loop until `done` or 10 s have passed.
    static bool pumpUntil(const std::function<bool()>& done)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < 10000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return done();
    }
};

Task steps(std::vector<std::string>& trace, std::function<void(std::function<void(int)>)> start)
{
    trace.push_back("begin");
    const int value = co_await completion<int>(std::move(start));
    trace.push_back("value " + std::to_string(value));
    co_await delay(0.05);
    trace.push_back("waited");
}

Task outer(std::vector<std::string>& trace, std::function<void(std::function<void(int)>)> start)
{
    co_await steps(trace, std::move(start));
    trace.push_back("outer end");
}

TEST_F(SelftestTask, ResumesFromTheEventLoopNeverInsideTheCompletion)
{
    std::vector<std::string> trace;
    std::function<void(int)> later;
    bool ended = false;
    launch(outer(trace, [&](std::function<void(int)> done) { later = std::move(done); }), [&] { ended = true; });
    // Runs up to its first suspension at once.
    EXPECT_EQ(trace, (std::vector<std::string>{"begin"}));
    ASSERT_TRUE(later);
    later(7);
    trace.push_back("completion returned");
    later(8);  // a second call changes nothing
    ASSERT_TRUE(pumpUntil([&] { return ended; }));
    EXPECT_EQ(trace, (std::vector<std::string>{"begin", "completion returned", "value 7", "waited", "outer end"}));
}

TEST_F(SelftestTask, ACompletionCalledBeforeStartReturnsStillResumesLater)
{
    std::vector<std::string> trace;
    bool ended = false;
    launch(outer(trace, [&](std::function<void(int)> done) { done(3); }), [&] { ended = true; });
    EXPECT_EQ(trace, (std::vector<std::string>{"begin"}));
    ASSERT_TRUE(pumpUntil([&] { return ended; }));
    EXPECT_EQ(trace, (std::vector<std::string>{"begin", "value 3", "waited", "outer end"}));
}

Task waitFor(double seconds, QElapsedTimer& clock, qint64& waited)
{
    clock.start();
    co_await delay(seconds);
    waited = clock.elapsed();
}

TEST_F(SelftestTask, DelaysWaitAtLeastTheirTimeWithoutBlocking)
{
    QElapsedTimer clock;
    qint64 waited = -1;
    bool ended = false;
    // Long enough for Qt's coarse timers, which may fire 5 % early.
    launch(waitFor(2.0, clock, waited), [&] { ended = true; });
    EXPECT_EQ(waited, -1);  // suspended, not sleeping
    ASSERT_TRUE(pumpUntil([&] { return ended; }));
    EXPECT_GE(waited, 2000);
}

Task failing()
{
    co_await delay(0);
    throw std::runtime_error("elromlott");
}

Task catching(std::string& caught)
{
    try {
        co_await failing();
    } catch (const std::exception& error) {
        caught = error.what();
    }
}

TEST_F(SelftestTask, AnExceptionReachesTheAwaitingTask)
{
    std::string caught;
    bool ended = false;
    launch(catching(caught), [&] { ended = true; });
    ASSERT_TRUE(pumpUntil([&] { return ended; }));
    EXPECT_EQ(caught, "elromlott");
    // A launched task that fails still ends and says so.
    ended = false;
    launch(failing(), [&] { ended = true; });
    ASSERT_TRUE(pumpUntil([&] { return ended; }));
}

struct Destroyed {
    bool& flag;
    ~Destroyed() { flag = true; }
};

Task waitsLong(bool& destroyed, bool& resumed)
{
    Destroyed guard{destroyed};
    co_await delay(0.2);
    resumed = true;
}

TEST_F(SelftestTask, QuittingDestroysTheTasksStillWaitingAndLaterOnesRunAsUsual)
{
    bool destroyed = false, resumed = false, ended = false;
    launch(waitsLong(destroyed, resumed), [&] { ended = true; });
    QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    EXPECT_TRUE(destroyed);
    // Its timer may still fire: it must not resume what is gone.
    QElapsedTimer clock;
    clock.start();
    pumpUntil([&] { return clock.elapsed() > 400; });
    EXPECT_FALSE(resumed);
    EXPECT_FALSE(ended);

    std::vector<std::string> trace;
    launch(outer(trace, [](std::function<void(int)> done) { done(5); }), [&] { ended = true; });
    ASSERT_TRUE(pumpUntil([&] { return ended; }));
    EXPECT_EQ(trace, (std::vector<std::string>{"begin", "value 5", "waited", "outer end"}));
}

} // namespace
} // namespace ondexa::selftest
