// The program records on the Wayland test session as on X11: `vendalum
// --selftest` through the screen-cast portal (which picks the one output
// without asking) and PipeWire, with the system sound of pipewire-pulse,
// while a client draws a changing picture with a marker and then stands
// still. The movie is read back with the ffmpeg programs.

#include "app/shell/ProgramRun.h"
#include "support/MediaFixtures.h"
#include "support/wayland/MarkerWindowProcess.h"
#include "support/wayland/WaylandSession.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

using namespace std::chrono_literals;
using markerschedule::MarkerWindowProcess;
using ondexa::testing::ProgramHome;

namespace {

// The movie's pictures are read at a quarter of the screen's size.
constexpr int kScale = 4;
const QSize kScreen(1920, 1080);
const QSize kSmall(kScreen.width() / kScale, kScreen.height() / kScale);

struct Frame {
    double time = 0;  // s, from the movie's start
    QImage image;     // kSmall, RGB888
};

std::vector<Frame> videoFrames(const std::filesystem::path& movie, const std::filesystem::path& folder)
{
    std::vector<Frame> frames;
    std::istringstream times(fixtures::runFfprobe(
        {"-select_streams", "v:0", "-show_entries", "frame=pts_time", "-of", "csv=p=0"}, movie));
    const auto raw = folder / "frames.rgb";
    fixtures::runFfmpeg({"-i", movie.string(), "-map", "0:v:0", "-fps_mode", "passthrough", "-vf",
                         "scale=" + std::to_string(kSmall.width()) + ":" + std::to_string(kSmall.height()),
                         "-pix_fmt", "rgb24", "-f", "rawvideo", raw.string()});
    std::ifstream in(raw, std::ios::binary);
    const std::size_t bytes = std::size_t(kSmall.width()) * kSmall.height() * 3;
    for (std::string line; std::getline(times, line);) {
        if (line.empty()) continue;
        QImage image(kSmall, QImage::Format_RGB888);
        for (int y = 0; y < kSmall.height(); ++y)
            in.read(reinterpret_cast<char*>(image.scanLine(y)), kSmall.width() * 3);
        if (!in) break;
        frames.push_back({std::stod(line), image});
    }
    (void)bytes;
    return frames;
}

// The marker window's frame number from its counter strip (see MarkerSchedule.h).
int counterOf(const QImage& image)
{
    int value = 0;
    for (int bit = 0; bit < markerschedule::counterBits; ++bit) {
        const QPoint centre((bit * markerschedule::counterCell + markerschedule::counterCell / 2) / kScale,
                            markerschedule::counterCell / 2 / kScale);
        value = value << 1 | (qGreen(image.pixel(centre)) > 128 ? 1 : 0);
    }
    return value;
}

bool near(QRgb a, std::uint32_t rgb)
{
    const auto close = [](int x, int y) { return std::abs(x - y) <= 48; };
    return close(qRed(a), int(rgb >> 16 & 0xFF)) && close(qGreen(a), int(rgb >> 8 & 0xFF))
           && close(qBlue(a), int(rgb & 0xFF));
}

// The marker drawn at `rect` in its colour (its middle, through the encoder's blur).
bool showsMarker(const QImage& image, const QRect& rect, std::uint32_t rgb)
{
    const QRect small(rect.topLeft() / kScale, rect.size() / kScale);
    const QRect inner = small.adjusted(4, 4, -4, -4);
    for (const QPoint p : {inner.topLeft(), inner.bottomRight(), inner.center()})
        if (!image.rect().contains(p) || !near(image.pixel(p), rgb)) return false;
    return true;
}

double rms(const std::vector<float>& samples)
{
    double sum = 0;
    for (float s : samples) sum += double(s) * s;
    return samples.empty() ? 0 : std::sqrt(sum / double(samples.size()));
}

std::vector<float> soundOf(const std::filesystem::path& movie, int track, const std::filesystem::path& folder)
{
    const auto raw = folder / ("sound" + std::to_string(track) + ".f32");
    fixtures::runFfmpeg({"-i", movie.string(), "-map", "0:a:" + std::to_string(track), "-ac", "1", "-ar", "48000",
                         "-f", "f32le", raw.string()});
    std::ifstream in(raw, std::ios::binary);
    std::vector<float> samples;
    float s = 0;
    while (in.read(reinterpret_cast<char*>(&s), sizeof s)) samples.push_back(s);
    return samples;
}

std::vector<std::filesystem::path> moviesIn(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> movies;
    if (!std::filesystem::exists(folder)) return movies;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".mov") movies.push_back(entry.path());
    return movies;
}

std::string sessionLog(const std::string& name)
{
    std::ifstream in(waylandsession::stateFolder() + "/" + name + ".log");
    std::stringstream all;
    all << in.rdbuf();
    const std::string text = all.str();
    return "--- " + name + ".log:\n" + text.substr(text.size() > 2000 ? text.size() - 2000 : 0);
}

// The session's output at another scale for one test, back at its own after it.
class OutputScale {
public:
    explicit OutputScale(double scale) : before_(current()) { ok_ = before_ > 0 && set(scale); }
    ~OutputScale()
    {
        if (before_ > 0) set(before_);
    }
    bool ok() const { return ok_; }

private:
    static double current()
    {
        QProcess sway;
        sway.start("swaymsg", {"-r", "-t", "get_outputs"});
        if (!sway.waitForFinished(10000)) return 0;
        for (const QJsonValue output : QJsonDocument::fromJson(sway.readAllStandardOutput()).array())
            if (output["name"].toString() == "HEADLESS-1") return output["scale"].toDouble();
        return 0;
    }
    static bool set(double scale)
    {
        return QProcess::execute("swaymsg", {"output", "HEADLESS-1", "scale", QString::number(scale)}) == 0;
    }
    double before_ = 0;
    bool ok_ = false;
};

} // namespace

TEST(RecordOnWayland, SelftestRecordsTheMovingPictureItsStillStretchAndTheSystemSound)
{
    ASSERT_TRUE(waylandsession::inSession()) << "not run by the wayland fixture";
    ProgramHome home;
    fixtures::TempDir work;

    // The program is started first; the window comes once it records, so
    // that it is not hidden with the program's own windows. It changes its
    // picture at 30 fps, then stands still from 1.2 s to 2.7 s after its
    // first frame.
    QProcess program;
    home.start(program, {"--selftest"}, [](QProcessEnvironment& env) {
        // The session's runtime folder holds its Wayland socket.
        env.insert("XDG_RUNTIME_DIR", qEnvironmentVariable("XDG_RUNTIME_DIR"));
        // Mesa's software driver, which Qt's EGL set-up loads, leaks at exit
        // from a library already unloaded (LeakSanitizer can't name it for a
        // suppression). The program draws in shared memory without it.
        env.insert("LIBGL_DRIVERS_PATH", "/nonexistent");
    });
    ASSERT_TRUE(home.logHas("Önteszt: állapot indítás után = ", 120s)) << home.logText();
    ASSERT_NE(home.logText().find("Önteszt: állapot indítás után = recording"), std::string::npos)
        << home.logText() << sessionLog("xdg-desktop-portal-wlr");
    MarkerWindowProcess window({"--period", "300", "--still", "1.2-2.7"});
    ASSERT_TRUE(window.started());
    ASSERT_TRUE(window.waitUntilShown(kScreen, 1, 20s)) << window.output() << sessionLog("sway");

    ASSERT_TRUE(home.logHas("Önteszt: kész", 120s)) << home.logText();
    EXPECT_EQ(ondexa::testing::terminate(program), 0);
    const std::string log = home.logText();
    // A first recording in a new home still needs the portal's grant.
    EXPECT_NE(log.find("Önteszt: kijelzők=1 engedély=false mic=true "), std::string::npos) << log;
    EXPECT_NE(log.find(" · 30 kép/mp · "), std::string::npos) << log;
    EXPECT_EQ(log.find("HIBA"), std::string::npos) << log;

    const auto movies = moviesIn(home.recordings());
    ASSERT_EQ(movies.size(), 1u) << log;
    const std::filesystem::path movie = movies.front();
    EXPECT_EQ(fixtures::runFfprobe({"-select_streams", "v:0", "-show_entries", "stream=width,height", "-of",
                                    "csv=p=0"},
                                   movie),
              "1920,1080\n");
    const double duration = std::stod(fixtures::runFfprobe({"-show_entries", "format=duration", "-of", "csv=p=0"}, movie));
    EXPECT_GT(duration, 3.2);
    EXPECT_LT(duration, 6.5);

    const std::vector<Frame> frames = videoFrames(movie, work.path());
    ASSERT_GE(frames.size(), 5u);

    // The picture moves: many of the window's frame numbers are in the
    // movie, in the order drawn. How many depends on how fast a loaded
    // machine lets the compositor hand frames over, so the bound is a share
    // of the frames that show the window as handed over: not those before
    // it was shown, nor the recorder's repeats of a still picture (the same
    // number after more than half a second). A stream stuck on one buffer
    // gets only repeats, and one or two numbers; three is the least a moving
    // window shows.
    std::map<int, int> counters;
    std::size_t handedOver = 0;
    int lastCounter = 0;
    double lastTime = 0;
    for (const Frame& f : frames) {
        const int counter = counterOf(f.image);
        if (counter == 0) continue;  // before the window was shown
        EXPECT_GE(counter, lastCounter) << "a picture older than the one before it at " << f.time << " s";
        if (counter != lastCounter || f.time - lastTime <= 0.5) ++handedOver;
        ++counters[counter];
        lastCounter = counter;
        lastTime = f.time;
    }
    std::string seen;
    for (const auto& [counter, count] : counters) seen += " " + std::to_string(counter) + "×" + std::to_string(count);
    EXPECT_GE(counters.size(), std::clamp<std::size_t>(handedOver / 2, 3, 10))
        << frames.size() << " frames, " << handedOver << " handed over; numbers:" << seen;

    // Markers are where the window drew them, in their colours.
    int markersSeen = 0;
    const auto markers = window.markers();
    for (const auto& marker : markers)
        for (const Frame& f : frames)
            if (showsMarker(f.image, marker.rect, marker.rgb)) {
                ++markersSeen;
                break;
            }
    EXPECT_GE(markersSeen, 2) << markers.size() << " markers drawn";

    // No stretch without picture: while the window stood still its last
    // picture was repeated (at least once a second), up to the end.
    double longestGap = 0;
    bool stillRepeated = false;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        longestGap = std::max(longestGap, frames[i].time - frames[i - 1].time);
        if (counterOf(frames[i].image) == counterOf(frames[i - 1].image) && counterOf(frames[i].image) != 0
            && frames[i].time - frames[i - 1].time > 0.5)
            stillRepeated = true;
    }
    EXPECT_LT(longestGap, 1.2);
    EXPECT_TRUE(stillRepeated) << "no repeated picture in the still stretch";
    EXPECT_GT(frames.back().time, duration - 0.3);

    // The system sound of pipewire-pulse (its 440 Hz tone) is in the first sound track.
    const std::vector<float> system = soundOf(movie, 0, work.path());
    EXPECT_GT(double(system.size()) / 48000, duration - 0.5);
    EXPECT_GT(rms(system), 0.05);
}

namespace {

// Host-clock onsets of a 1 kHz tone in `samples` (48 kHz mono), in seconds
// from the first sample: where its strength first passes half its peak
// after at least 200 ms below that.
std::vector<double> toneOnsets(const std::vector<float>& samples)
{
    constexpr int window = 96;  // 2 ms: two periods of the tone
    constexpr int step = 24;    // 0.5 ms
    std::vector<double> strength;
    for (std::size_t start = 0; start + window <= samples.size(); start += step) {
        double re = 0, im = 0;
        for (int i = 0; i < window; ++i) {
            const double phase = 2 * M_PI * 1000.0 * i / 48000.0;
            re += samples[start + std::size_t(i)] * std::cos(phase);
            im += samples[start + std::size_t(i)] * std::sin(phase);
        }
        strength.push_back(std::hypot(re, im));
    }
    const double peak = strength.empty() ? 0 : *std::max_element(strength.begin(), strength.end());
    std::vector<double> onsets;
    int quiet = 0;
    for (std::size_t k = 0; k < strength.size(); ++k) {
        if (strength[k] < peak / 2) {
            ++quiet;
            continue;
        }
        if (quiet * step >= 48000 / 5) onsets.push_back(double(k * step + window / 2) / 48000.0);
        quiet = 0;
    }
    return onsets;
}

} // namespace

TEST(RecordOnWayland, SoundAndPictureStayWithinOneFrameOfEachOther)
{
    ASSERT_TRUE(waylandsession::inSession()) << "not run by the wayland fixture";
    ProgramHome home;
    fixtures::TempDir work;
    // A window that flashes white while a tone plays on the system sound,
    // every second; it runs before the program starts (the program's own
    // windows go away before its first frame).
    QProcess flashes;
    flashes.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    flashes.start(QStringLiteral(FLASH_AND_TONE), {});
    ASSERT_TRUE(flashes.waitForStarted(30000));
    QByteArray printed;
    ASSERT_TRUE(ondexa::testing::pumpUntil(
        [&] {
            printed += flashes.readAllStandardOutput();
            return printed.contains("flash ");
        },
        60s));
    QProcess program;
    home.start(program, {"--selftest"}, [](QProcessEnvironment& env) {
        env.insert("XDG_RUNTIME_DIR", qEnvironmentVariable("XDG_RUNTIME_DIR"));
        env.insert("LIBGL_DRIVERS_PATH", "/nonexistent");  // see above
    });
    ASSERT_TRUE(home.logHas("Önteszt: állapot indítás után = recording", 120s)) << home.logText();
    ASSERT_TRUE(home.logHas("Önteszt: kész", 120s)) << home.logText();
    EXPECT_EQ(ondexa::testing::terminate(program), 0);
    flashes.kill();
    flashes.waitForFinished();

    const auto movies = moviesIn(home.recordings());
    ASSERT_EQ(movies.size(), 1u) << home.logText();
    const std::vector<Frame> frames = videoFrames(movies.front(), work.path());
    std::vector<double> flashesSeen;
    bool white = false;
    for (const Frame& f : frames) {
        const bool now = qGreen(f.image.pixel(kSmall.width() / 2, kSmall.height() / 2)) > 200;
        if (now && !white) flashesSeen.push_back(f.time);
        white = now;
    }
    const std::vector<double> tones = toneOnsets(soundOf(movies.front(), 0, work.path()));
    ASSERT_FALSE(flashesSeen.empty()) << frames.size() << " frames";
    ASSERT_FALSE(tones.empty());
    // The flashes' tones lie within one frame (1/30 s) of them at the median:
    // that is the recording's own offset. A single pair may stray further on a
    // loaded machine, where the compositor shows a flash late or the tone
    // player starts late; neither is ours.
    std::vector<double> offsets;
    for (const double flash : flashesSeen) {
        const auto nearest = *std::min_element(tones.begin(), tones.end(), [&](double a, double b) {
            return std::abs(a - flash) < std::abs(b - flash);
        });
        if (std::abs(nearest - flash) > 0.5) continue;  // its tone began before the movie
        offsets.push_back(nearest - flash);
        EXPECT_LE(std::abs(nearest - flash), 0.25) << "flash at " << flash << " s, tone at " << nearest << " s";
    }
    ASSERT_GE(offsets.size(), 1u);
    std::sort(offsets.begin(), offsets.end());
    const double median = offsets.size() % 2 ? offsets[offsets.size() / 2]
                                              : (offsets[offsets.size() / 2 - 1] + offsets[offsets.size() / 2]) / 2;
    EXPECT_LE(std::abs(median), 1.0 / 30) << offsets.size() << " flashes";
}

TEST(RecordOnWayland, AnAreaIsCutFromTheMonitorsStream)
{
    ASSERT_TRUE(waylandsession::inSession()) << "not run by the wayland fixture";
    ProgramHome home;
    fixtures::TempDir work;
    MarkerWindowProcess window({"--period", "200"});
    ASSERT_TRUE(window.started());
    ASSERT_TRUE(window.waitUntilShown(kScreen, 1, 20s)) << window.output() << sessionLog("sway");
    // The self-test's area: 801 × 451 at (100, 120), recorded as 800 × 450.
    QProcess program;
    home.start(program, {"--selftest", "--area"}, [](QProcessEnvironment& env) {
        env.insert("XDG_RUNTIME_DIR", qEnvironmentVariable("XDG_RUNTIME_DIR"));
        env.insert("LIBGL_DRIVERS_PATH", "/nonexistent");  // see above
    });
    ASSERT_TRUE(home.logHas("Önteszt: kész", 120s)) << home.logText();
    EXPECT_EQ(ondexa::testing::terminate(program), 0);

    const auto movies = moviesIn(home.recordings());
    ASSERT_EQ(movies.size(), 1u) << home.logText();
    EXPECT_EQ(fixtures::runFfprobe({"-select_streams", "v:0", "-show_entries", "stream=width,height", "-of",
                                    "csv=p=0"},
                                   movies.front()),
              "800,450\n");
    // A marker inside the area is in the movie where it lies in the area.
    const auto frame = work.path() / "frame%03d.png";
    fixtures::runFfmpeg({"-i", movies.front().string(), "-map", "0:v:0", "-fps_mode", "passthrough", frame.string()});
    int seen = 0;
    for (const auto& marker : window.markers()) {
        const QRect inArea = marker.rect.translated(-100, -120);
        if (!QRect(0, 0, 800, 450).contains(inArea)) continue;
        for (const auto& entry : std::filesystem::directory_iterator(work.path())) {
            if (entry.path().extension() != ".png") continue;
            const QImage image(QString::fromStdString(entry.path().string()));
            if (near(image.pixel(inArea.center()), marker.rgb) && near(image.pixel(inArea.topLeft() + QPoint(6, 6)), marker.rgb)) {
                ++seen;
                break;
            }
        }
    }
    EXPECT_GE(seen, 1) << window.markers().size() << " markers drawn";
}

TEST(RecordOnWayland, AnAreaOfAScaledOutputHoldsExactlyItsPixels)
{
    ASSERT_TRUE(waylandsession::inSession()) << "not run by the wayland fixture";
    const OutputScale scaled(2);  // 1920 × 1080 pixels, 960 × 540 in the programs' units
    ASSERT_TRUE(scaled.ok()) << sessionLog("sway");
    const QSize logical(960, 540);
    ProgramHome home;
    fixtures::TempDir work;
    MarkerWindowProcess window({"--period", "200"});
    ASSERT_TRUE(window.started());
    ASSERT_TRUE(window.waitUntilShown(logical, 1, 20s)) << window.output() << sessionLog("sway");
    // The self-test's area, 801 × 451 at (100, 120), keeps to the display:
    // 801 × 420 units, twice that in pixels.
    QProcess program;
    home.start(program, {"--selftest", "--area"}, [](QProcessEnvironment& env) {
        env.insert("XDG_RUNTIME_DIR", qEnvironmentVariable("XDG_RUNTIME_DIR"));
        env.insert("LIBGL_DRIVERS_PATH", "/nonexistent");  // see above
    });
    ASSERT_TRUE(home.logHas("Önteszt: kész", 120s)) << home.logText();
    EXPECT_EQ(ondexa::testing::terminate(program), 0);

    const auto movies = moviesIn(home.recordings());
    ASSERT_EQ(movies.size(), 1u) << home.logText();
    EXPECT_EQ(fixtures::runFfprobe({"-select_streams", "v:0", "-show_entries", "stream=width,height", "-of",
                                    "csv=p=0"},
                                   movies.front()),
              "1602,840\n");
    // A marker inside the area lies where it does in the area, in pixels:
    // inside its edges its colour, just outside them not. Colours come back
    // every sixth step and the window draws steps past the recording's end,
    // so a frame shows a marker only where its middle and both inner corners
    // have its colour: a centre alone may lie in an earlier step of that
    // colour (step 47's centre lies in step 5's square).
    const auto frame = work.path() / "frame%03d.png";
    fixtures::runFfmpeg({"-i", movies.front().string(), "-map", "0:v:0", "-fps_mode", "passthrough", frame.string()});
    std::vector<QImage> images;
    for (const auto& entry : std::filesystem::directory_iterator(work.path()))
        if (entry.path().extension() == ".png") images.emplace_back(QString::fromStdString(entry.path().string()));
    int seen = 0;
    for (const auto& marker : window.markers()) {
        const QRect inArea = marker.rect.translated(-100, -120);
        if (!QRect(0, 0, 801, 420).adjusted(8, 8, -8, -8).contains(inArea)) continue;
        const QRect pixels(inArea.topLeft() * 2, inArea.size() * 2);
        const auto found = std::find_if(images.begin(), images.end(), [&](const QImage& image) {
            for (const QPoint inside : {pixels.center(), pixels.topLeft() + QPoint(6, 6), pixels.bottomRight() - QPoint(6, 6)})
                if (!near(image.pixel(inside), marker.rgb)) return false;
            return true;
        });
        if (found == images.end()) continue;
        ++seen;
        const QImage& image = *found;
        for (const QPoint outside : {pixels.topLeft() - QPoint(6, 6), pixels.bottomRight() + QPoint(6, 6)})
            EXPECT_FALSE(near(image.pixel(outside), marker.rgb)) << marker.step << " at " << outside.x() << "," << outside.y();
    }
    EXPECT_GE(seen, 3) << window.markers().size() << " markers drawn";
}
