// Recordings driven through the controller on the test desktop, with the real
// system behind it: the screen, the sound server, the click monitor, the hot
// key and the area selector. The pointer and the keyboard are driven by
// xdotool; movies are read back with ffprobe, side files with the model.

#include "Ondexa/model/Paths.h"
#include "Ondexa/recording/AccessMessages.h"
#include "Ondexa/recording/AreaSelector.h"
#include "Platform/capture/TestDesktop.h"
#include "Platform/media/Asset.h"
#include "Platform/media/Composition.h"
#include "Platform/media/Player.h"
#include "Platform/media/PlayerItem.h"
#include "recording/desktop/Tones.h"
#include "recording/AppStateFakes.h"
#include "support/MediaFixtures.h"
#include "support/SilentSoundServer.h"

#include <QWindow>

#include <cstdio>
#include <regex>
#include <utility>

using namespace std::chrono_literals;
using namespace ondexa::testing;
using ondexa::AppState;
using ondexa::RecordingInfo;
using Rows = std::vector<std::vector<double>>;

namespace {

class AppStateOnTheDesktop : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(testdesktop::haveDisplay());
        ASSERT_EQ(xdotool("mousemove 400 300"), 0);
        state = std::make_unique<AppState>(std::make_unique<QSettings>(settingsFile(), QSettings::IniFormat),
                                           AppState::Environment::system());
        // The start-up task lists the displays and audio inputs.
        ASSERT_TRUE(pumpUntil([&] { return !state->displays().empty(); }, 5s));
        ASSERT_EQ(state->displays().front().frame, QRect(0, 0, 1920, 1080));
        state->setOpenEditor([this](const std::filesystem::path& movie) { opened.push_back(movie); });
    }

    QString settingsFile() const { return QString::fromStdString((temp.path / "Vendalum.conf").string()); }

    // Records while `act` drives the desktop; the movie handed to the editor.
    std::filesystem::path record(const std::function<void()>& act)
    {
        bool ended = false;
        state->startRecording([&] { ended = true; });
        EXPECT_TRUE(pumpUntil([&] { return ended; }, 10s));
        EXPECT_EQ(state->phase(), AppState::Phase::recording) << state->errorMessage().value_or("");
        act();
        ended = false;
        state->stopRecording(true, [&] { ended = true; });
        EXPECT_TRUE(pumpUntil([&] { return ended; }, 15s));
        EXPECT_EQ(state->phase(), AppState::Phase::idle);
        EXPECT_FALSE(state->errorMessage()) << *state->errorMessage();
        EXPECT_EQ(opened.size(), 1u);
        return opened.empty() ? std::filesystem::path() : opened[0];
    }

    static std::string streams(const std::filesystem::path& movie)
    {
        return fixtures::runFfprobe({"-show_entries", "stream=codec_type,codec_name,width,height", "-of", "csv=p=0"},
                                    movie);
    }

    static bool hasRow(const Rows& rows, double x, double y)
    {
        return std::any_of(rows.begin(), rows.end(), [&](const auto& r) { return r[1] == x && r[2] == y; });
    }

    bool logHas(const std::string& text) const
    {
        return readFile(temp.path / "state" / "Vendalum" / "Vendalum.log").find(text) != std::string::npos;
    }

    TempFolder temp;
    ScopedEnv home{"HOME", temp.path.string()};
    ScopedEnv stateHome{"XDG_STATE_HOME", (temp.path / "state").string()};
    ScopedEnv configHome{"XDG_CONFIG_HOME", (temp.path / "config").string()};
    std::unique_ptr<AppState> state;
    std::vector<std::filesystem::path> opened;
};

} // namespace

TEST_F(AppStateOnTheDesktop, ARecordingOfTheDisplayWithSoundClicksAndPointer)
{
    ASSERT_TRUE(pumpUntil([&] { return state->mic() != nullptr; }, 5s)) << state->errorMessage().value_or("");
    const std::string input = state->currentMicDevice()->name;
    state->setMicChannels({0, 1});
    state->setCursorStyle({.ring = true});

    const auto movie = record([] {
        pumpFor(400ms);
        ASSERT_EQ(xdotool("mousemove 100 200 click 1"), 0);
        pumpFor(300ms);
        ASSERT_EQ(xdotool("mousemove 1500 900 click 3"), 0);
        pumpFor(600ms);
    });
    EXPECT_EQ(movie.parent_path(), ondexa::Paths::recordingsFolder());
    EXPECT_EQ(streams(movie), "h264,video,1920,1080\naac,audio\naac,audio\n");

    const auto info = RecordingInfo::load(movie);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->audioTracks, (std::vector<std::string>{"Rendszerhang", input}));
    ASSERT_EQ(info->clicks->size(), 2u);
    const auto &left = (*info->clicks)[0], &right = (*info->clicks)[1];
    EXPECT_GT(left[0], 0.2);
    EXPECT_GT(right[0], left[0]);
    EXPECT_LT(right[0], 3.0);
    EXPECT_EQ(*info->clicks,
              (Rows{{left[0], 100.0 / 1920, 200.0 / 1080, 0}, {right[0], 1500.0 / 1920, 900.0 / 1080, 1}}));
    EXPECT_EQ(info->showClicks, true);
    ASSERT_FALSE(info->cursor->empty());
    EXPECT_EQ(info->cursor->front(), (std::vector<double>{0, 400.0 / 1920, 300.0 / 1080}));  // before the first frame
    EXPECT_TRUE(hasRow(*info->cursor, 100.0 / 1920, 200.0 / 1080));
    EXPECT_TRUE(hasRow(*info->cursor, 1500.0 / 1920, 900.0 / 1080));
    ASSERT_TRUE(info->cursorStyle);
    EXPECT_DOUBLE_EQ(info->cursorStyle->base, 21.0 / 1080);
    EXPECT_TRUE(info->cursorStyle->ring);  // the rest of the style is the user's

    std::smatch match;
    const std::string log = readFile(temp.path / "state" / "Vendalum" / "Vendalum.log");
    ASSERT_TRUE(std::regex_search(
        log, match, std::regex("Felvétel mentve: (.*) · 30 kép/mp · ([0-9]+) képkocka, ([0-9]+) eldobva\n")))
        << log;
    EXPECT_EQ(match[1].str(), movie.string());
    EXPECT_GT(std::stoi(match[2].str()), 0);
}

TEST_F(AppStateOnTheDesktop, AnAreaRecordingKeepsOnlyTheClicksInsideTheArea)
{
    state->setMicEnabled(false);
    state->setSystemAudio(false);
    state->setArea(QRectF(200, 150, 640, 360));
    state->setCaptureMode(AppState::CaptureMode::area);
    const auto movie = record([&] {
        EXPECT_TRUE(state->isAreaHighlightShown());  // drawn outside the area, it stays
        pumpFor(300ms);
        ASSERT_EQ(xdotool("mousemove 520 330 click 1"), 0);
        pumpFor(200ms);
        ASSERT_EQ(xdotool("mousemove 100 100 click 3"), 0);
        pumpFor(300ms);
    });
    EXPECT_EQ(streams(movie), "h264,video,640,360\n");
    const auto info = RecordingInfo::load(movie);
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->audioTracks.empty());
    ASSERT_EQ(info->clicks->size(), 1u);
    EXPECT_EQ((*info->clicks)[0], (std::vector<double>{(*info->clicks)[0][0], 0.5, 0.5, 0}));
    // The pointer outside the area is kept, beyond 0 … 1.
    EXPECT_TRUE(hasRow(*info->cursor, (100.0 - 200) / 640, (100.0 - 150) / 360));
    EXPECT_DOUBLE_EQ(info->cursorStyle->base, 21.0 / 360);
}

TEST_F(AppStateOnTheDesktop, TheHotKeyStartsAndStops)
{
    state->setMicEnabled(false);
    ASSERT_EQ(xdotool("key ctrl+alt+a"), 0);
    ASSERT_TRUE(pumpUntil([&] { return state->phase() == AppState::Phase::recording; }, 10s))
        << state->errorMessage().value_or("");
    pumpFor(500ms);
    ASSERT_EQ(xdotool("key ctrl+alt+a"), 0);
    ASSERT_TRUE(pumpUntil([&] { return state->phase() == AppState::Phase::idle; }, 15s));
    EXPECT_FALSE(state->errorMessage());
    EXPECT_EQ(opened.size(), 1u);
}

TEST_F(AppStateOnTheDesktop, AnAreaDraggedOutIsStoredWithTheMode)
{
    state->setCaptureMode(AppState::CaptureMode::window);
    state->selectArea();
    ASSERT_TRUE(state->isSelectingArea());
    ASSERT_TRUE(pumpUntil([&] { return state->areaSelector()->window()->isExposed(); }, 5s));
    ASSERT_EQ(xdotool("mousemove 300 200 mousedown 1 mousemove 500 350 mousemove 700 500 mouseup 1"), 0);
    ASSERT_TRUE(pumpUntil([&] { return !state->isSelectingArea(); }, 5s));
    EXPECT_EQ(state->area(), QRectF(300, 200, 400, 300));
    EXPECT_EQ(state->captureMode(), AppState::CaptureMode::area);
    EXPECT_TRUE(state->isAreaHighlightShown());

    QSettings stored(settingsFile(), QSettings::IniFormat);
    EXPECT_EQ(stored.value("captureMode").toString(), "area");
    EXPECT_EQ(stored.value("area").toString(), "[300.0,200.0,400.0,300.0]");
}

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

bool hasDevice(const AppState& state, const std::string& uid)
{
    const auto& devices = state.micDevices();
    return std::any_of(devices.begin(), devices.end(), [&](const auto& d) { return d.uid == uid; });
}

// The sound server of this process is one that takes the connection and
// never answers. Each test runs in a process of its own (ctest), so the
// process's connection is first made here.
class AppStateWithASilentSoundServer : public AppStateOnTheDesktop {
protected:
    testsupport::SilentSoundServer silent;
    ScopedEnv pulse{"PULSE_SERVER", silent.address()};
};

} // namespace

TEST_F(AppStateWithASilentSoundServer, SettlesWithinTheDeadlineSaysWhyAndRecordsWithoutSound)
{
    ASSERT_TRUE(silent.listening());
    const std::string noAnswer = "A hangkiszolgáló (PulseAudio) nem válaszolt 5 másodpercen belül.";
    // The main thread keeps running its loop while the server is waited for.
    std::chrono::steady_clock::duration longestTurn{};
    auto last = std::chrono::steady_clock::now();
    const auto turnsUntil = [&](auto done, std::chrono::seconds limit) {
        return pumpUntil(
            [&] {
                const auto now = std::chrono::steady_clock::now();
                longestTurn = std::max(longestTurn, now - last);
                last = now;
                return done();
            },
            limit);
    };
    ASSERT_TRUE(turnsUntil([&] { return logHas("A hangbemenetek listája nem olvasható: " + noAnswer); }, 20s));
    EXPECT_TRUE(state->micDevices().empty());
    EXPECT_FALSE(state->mic());
    EXPECT_FALSE(state->errorMessage());

    // A start with the audio interface: refused within the deadline, with the reason in the log.
    bool ended = false;
    state->startRecording([&] { ended = true; });
    ASSERT_TRUE(turnsUntil([&] { return ended; }, 20s));
    EXPECT_EQ(state->phase(), AppState::Phase::idle);
    // A server that does not answer is not there: no word of permissions.
    EXPECT_EQ(state->errorMessage(), ondexa::access::soundRefusedAtStart({false, {}, false}));
    // A blocked main thread would have stood still for the whole deadline.
    EXPECT_LT(longestTurn, 2s);
    const std::string log = readFile(temp.path / "state" / "Vendalum" / "Vendalum.log");
    EXPECT_NE(log.rfind(noAnswer), log.find(noAnswer)) << log;  // the list and the start each say why

    // Without sound input the screen is still recorded.
    state->setMicEnabled(false);
    state->setSystemAudio(false);
    const auto movie = record([] { pumpFor(500ms); });
    EXPECT_EQ(streams(movie), "h264,video,1920,1080\n");
}

TEST_F(AppStateOnTheDesktop, AnUnpluggedInterfaceFailsTheStartInsteadOfRecordingSilence)
{
    // A two-channel input that can be plugged in and pulled out; never left behind.
    struct Input {
        std::string module;
        void plugIn() { module = run("pactl load-module module-null-source source_name=vanishing channels=2 "
                                     "description=Eltuno"); }
        void pullOut()
        {
            if (!module.empty()) run("pactl unload-module " + std::exchange(module, {}));
        }
        ~Input() { pullOut(); }
    } input;
    input.plugIn();
    ASSERT_FALSE(input.module.empty());
    ASSERT_TRUE(pumpUntil([&] { return hasDevice(*state, "vanishing"); }, 10s));
    state->setMicUID("vanishing");
    ASSERT_TRUE(pumpUntil([&] { return state->mic() && state->mic()->device().uid == "vanishing"; }, 10s))
        << state->errorMessage().value_or("");

    // Gone, and the start comes before the change report is handled.
    input.pullOut();
    bool ended = false;
    state->startRecording([&] { ended = true; });
    ASSERT_TRUE(pumpUntil([&] { return ended; }, 20s));
    EXPECT_EQ(state->phase(), AppState::Phase::idle);
    EXPECT_EQ(state->errorMessage(), "A hangkártya nem érhető el. Kapcsold ki, vagy válassz másik eszközt.");
    EXPECT_TRUE(opened.empty());

    // The change report moves the choice to an input that is there; the next
    // recording has its sound under that input's name.
    ASSERT_TRUE(pumpUntil([&] { return state->micUID() != "vanishing" && state->mic(); }, 10s));
    const std::string other = state->currentMicDevice()->name;
    const auto movie = record([] { pumpFor(500ms); });
    EXPECT_EQ(RecordingInfo::load(movie)->audioTracks, (std::vector<std::string>{"Rendszerhang", other}));

    // Plugged in again and chosen: recorded under its own name.
    opened.clear();
    input.plugIn();
    ASSERT_FALSE(input.module.empty());
    ASSERT_TRUE(pumpUntil([&] { return hasDevice(*state, "vanishing"); }, 10s));
    state->setMicUID("vanishing");
    ASSERT_TRUE(pumpUntil([&] { return state->mic() && state->mic()->device().uid == "vanishing"; }, 10s));
    const auto again = record([] { pumpFor(500ms); });
    EXPECT_EQ(RecordingInfo::load(again)->audioTracks, (std::vector<std::string>{"Rendszerhang", "Eltuno"}));
    EXPECT_EQ(streams(again), "h264,video,1920,1080\naac,audio\naac,audio\n");
}

// An editor's preview plays a tone of its own (1 kHz, far from the desktop's
// 440 Hz) into the default output when a recording starts: it falls silent
// as our windows go, so "Rendszerhang" holds the desktop's sine and nothing
// of ours.
TEST_F(AppStateOnTheDesktop, OurOwnPlaybackStaysOutOfTheSystemSound)
{
    using namespace platform;
    state->setMicEnabled(false);
    const auto tone = temp.path / "tone.wav";
    fixtures::runFfmpeg({"-f", "lavfi", "-i", "aevalsrc=0.25*sin(2*PI*1000*t):s=48000:d=20:c=stereo", "-c:a",
                         "pcm_f32le", tone.string()});
    const auto sound = Asset::open(tone);
    auto composition = std::make_shared<Composition>();
    const std::int32_t track = composition->addTrack(Composition::TrackKind::sound);
    composition->insertTimeRange(track, sound, sound->audioStreams().at(0),
                                 {MediaTime::zero(), MediaTime::fromSeconds(20)}, MediaTime::zero());
    Player player;
    player.replaceCurrentItem(std::make_shared<PlayerItem>(composition));
    player.play();
    pumpFor(700ms);  // the sound stream opens and plays
    ASSERT_TRUE(player.isPlaying());

    const auto movie = record([&] {
        EXPECT_FALSE(player.isPlaying());
        player.play();  // an editor shown again is asked to play
        pumpFor(1500ms);
        EXPECT_FALSE(player.isPlaying());
    });
    const auto tracks = fixtures::readMovie(movie);
    ASSERT_EQ(tracks.size(), 2u);
    const auto& system = tracks[1];
    const double end = system.soundEnd();
    EXPECT_GT(tones::toneAt(system, 440, 0.2, end - 0.2), 0.05);
    EXPECT_LT(tones::toneAt(system, 1000, 0.2, end - 0.2), 0.005);

    player.play();  // after the stop it plays again
    EXPECT_TRUE(player.isPlaying());
}
