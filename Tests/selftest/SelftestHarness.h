#pragma once

// The program run with test flags, the way CI runs it: on the test desktop,
// with a temporary HOME, XDG folders and XDG_RUNTIME_DIR, on fresh copies of
// recordings made by the ffmpeg program. A launch waits for the test's last
// log line, ends the program with SIGTERM (it must be gone within 10 s with
// status 0) and hands back the log's lines without their dates.
//
// Adding a case:
//
//     TEST(SelftestRun, Something)
//     {
//         SelftestLaunch launch;
//         const auto source = launch.freshRecording();          // F.mov and its side file
//         launch.run({"--sometest", path(source), path(launch.work())},
//                    startsWith("Valami-teszt export: "));      // the test's last line
//         expectLines(launch.lines({"Önteszt", "Valami-teszt"}), {exact("Önteszt indul: --sometest"),
//                                      startsWith("Valami-teszt export: OK")});
//     }
//
// ASSERT_ and EXPECT_ failures inside run() end the case as usual.

#include "app/shell/ProgramRun.h"

#include <QStringList>

#include <chrono>
#include <functional>
#include <filesystem>
#include <string>
#include <vector>

namespace ondexa::testing {

// The inputs, made once per test program in a folder of their own; launches
// never touch them, only their copies.
struct SelftestInputs {
    // F: 20 s of 640 × 360 at 30 fps (H.264) with one stereo 48 kHz PCM sine
    // at amplitude 0.25 lasting 0.05 s longer than the picture, and its side
    // file (audio track "Rendszerhang", a few clicks and pointer samples).
    std::filesystem::path recording;
    // The same, 6 s long.
    std::filesystem::path shortRecording;
    // A 320 × 180 still picture.
    std::filesystem::path picture;
};
const SelftestInputs& selftestInputs();

// One expected log line: the whole line, or its beginning.
struct LineMatch {
    std::string text;
    bool prefix = false;
    bool matches(const std::string& line) const
    {
        return prefix ? line.compare(0, text.size(), text) == 0 : line == text;
    }
};
inline LineMatch exact(std::string text) { return {std::move(text), false}; }
inline LineMatch startsWith(std::string text) { return {std::move(text), true}; }

// Every line, in order, matches its entry; a missing or extra line fails.
void expectLines(const std::vector<std::string>& lines, const std::vector<LineMatch>& expected);

// An argument from a path.
inline QString path(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

class SelftestLaunch {
public:
    SelftestLaunch();

    // A folder for this launch's inputs and results (also its current folder).
    const std::filesystem::path& work() const { return work_; }
    const ProgramHome& home() const { return home_; }

    // Fresh copies in `folder` (default: work()): F (or the 6 s F) with its
    // side file under `name`, and the picture as "kep.png".
    std::filesystem::path freshRecording(const std::string& name = "F.mov");
    std::filesystem::path freshShortRecording(const std::string& name = "F6.mov");
    std::filesystem::path freshPicture(const std::filesystem::path& folder = {});

    // Starts the program with `arguments`, waits until a log line matches
    // `last` (within `limit`), then ends it: SIGTERM, gone within 10 s,
    // status 0. Fails the case when any of this does not happen. With
    // `settled`, the end also waits (within `limit`) until it holds: work a
    // test does after its last line.
    void run(const QStringList& arguments, const LineMatch& last,
             std::chrono::seconds limit = std::chrono::seconds(240), std::function<bool()> settled = {});

    // The log's lines without the date in front; with `heads`, only those
    // beginning with one of them (the program writes lines of its own, such
    // as the audio interface's start, at times of their own).
    std::vector<std::string> lines() const;
    std::vector<std::string> lines(const std::vector<std::string>& heads) const;

private:
    ProgramHome home_;
    std::filesystem::path work_;
};

} // namespace ondexa::testing
