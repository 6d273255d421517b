#include "selftest/SelftestHarness.h"

#include "Ondexa/model/Overlays.h"
#include "Ondexa/model/RecordingInfo.h"
#include "support/MediaFixtures.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>

namespace ondexa::testing {

namespace {

void makeRecording(const std::filesystem::path& file, double seconds)
{
    const std::string length = std::to_string(seconds);
    const std::string soundLength = std::to_string(seconds + 0.05);
    fixtures::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30:duration=" + length,
                         "-f", "lavfi", "-i",
                         "aevalsrc=0.25*sin(2*PI*440*t)|0.25*sin(2*PI*440*t):s=48000:d=" + soundLength,
                         "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-g", "30",
                         "-c:a", "pcm_s16le", file.string()});
    RecordingInfo info;
    info.audioTracks = {"Rendszerhang"};
    info.clicks = std::vector<std::vector<double>>{{1.0, 0.25, 0.5, 0}, {2.5, 0.6, 0.4, 1}, {4.0, 0.5, 0.5, 0}};
    std::vector<std::vector<double>> cursor;
    for (int i = 0; i <= 40; ++i) cursor.push_back({i * 0.1, 0.2 + i * 0.01, 0.3 + i * 0.005});
    info.cursor = cursor;
    info.save(file);
}

void copyWithSideFile(const std::filesystem::path& from, const std::filesystem::path& to)
{
    const auto options = std::filesystem::copy_options::overwrite_existing;
    std::filesystem::copy_file(from, to, options);
    const auto side = RecordingInfo::sideFileURL(from);
    if (std::filesystem::exists(side)) std::filesystem::copy_file(side, RecordingInfo::sideFileURL(to), options);
}

std::string describe(const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines) text += "  " + line + "\n";
    return text.empty() ? "  (none)\n" : text;
}

// Every thread's stack of a program that hangs, when gdb is there to tell.
std::string stacksOf(qint64 pid)
{
    // Each thread's name, state and kernel wait first: gdb can't attach while
    // the leak checker holds the program at its end.
    std::string result;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code error;
    for (std::filesystem::directory_iterator it(tasks, error), end; !error && it != end; it.increment(error)) {
        const auto field = [&](const char* name) {
            std::ifstream in(it->path() / name);
            std::string text;
            std::getline(in, text);
            return text;
        };
        const std::string stat = field("stat");
        const auto close = stat.rfind(')');
        result += it->path().filename().string() + " " + field("comm") + " "
                  + (close == std::string::npos ? std::string("?") : stat.substr(close + 2, 1)) + " "
                  + field("wchan") + "\n";
    }
    QProcess gdb;
    gdb.setProcessChannelMode(QProcess::MergedChannels);
    gdb.start("gdb", {"-p", QString::number(pid), "-batch", "-nx", "-ex", "thread apply all bt 25"});
    if (!gdb.waitForStarted(5000)) return "(no gdb for the stacks)\n";
    if (!gdb.waitForFinished(60000)) gdb.kill();
    return result + gdb.readAllStandardOutput().toStdString();
}

} // namespace

const SelftestInputs& selftestInputs()
{
    // Kept for the whole test program; removed when it ends.
    static const auto folder = std::make_unique<TempFolder>();
    static const SelftestInputs inputs = [] {
        SelftestInputs made;
        made.recording = folder->path / "F.mov";
        made.shortRecording = folder->path / "F6.mov";
        made.picture = folder->path / "kep.png";
        makeRecording(made.recording, 20.0);
        makeRecording(made.shortRecording, 6.0);
        fixtures::makePicture(made.picture, 320, 180, 0xE0A030);
        return made;
    }();
    return inputs;
}

void expectLines(const std::vector<std::string>& lines, const std::vector<LineMatch>& expected)
{
    bool same = lines.size() == expected.size();
    for (std::size_t i = 0; same && i < lines.size(); ++i) same = expected[i].matches(lines[i]);
    if (same) return;
    std::vector<std::string> wanted;
    for (const auto& e : expected) wanted.push_back(e.text + (e.prefix ? "…" : ""));
    ADD_FAILURE() << "log lines:\n" << describe(lines) << "expected:\n" << describe(wanted);
}

SelftestLaunch::SelftestLaunch() : work_(home_.temp.path / "work")
{
    std::filesystem::create_directories(work_);
}

std::filesystem::path SelftestLaunch::freshRecording(const std::string& name)
{
    const auto file = work_ / name;
    copyWithSideFile(selftestInputs().recording, file);
    return file;
}

std::filesystem::path SelftestLaunch::freshShortRecording(const std::string& name)
{
    const auto file = work_ / name;
    copyWithSideFile(selftestInputs().shortRecording, file);
    return file;
}

std::filesystem::path SelftestLaunch::freshPicture(const std::filesystem::path& folder)
{
    const auto file = (folder.empty() ? work_ : folder) / "kep.png";
    std::filesystem::copy_file(selftestInputs().picture, file, std::filesystem::copy_options::overwrite_existing);
    return file;
}

void SelftestLaunch::run(const QStringList& arguments, const LineMatch& last, std::chrono::seconds limit,
                         std::function<bool()> settled)
{
    QProcess program;
    program.setWorkingDirectory(path(work_));
    home_.start(program, arguments);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool seen = false;
    while (!seen && std::chrono::steady_clock::now() < deadline && program.state() != QProcess::NotRunning) {
        // The pause between looks: short, so that SIGTERM follows a line closely;
        // an early end shows at once.
        program.waitForFinished(20);
        for (const auto& line : lines()) seen = seen || last.matches(line);
    }
    if (program.state() == QProcess::NotRunning) {
        ADD_FAILURE() << "the program ended by itself (status " << program.exitCode() << ")\n" << describe(lines());
        return;
    }
    EXPECT_TRUE(seen) << "no line " << last.text << " within " << limit.count() << " s\n" << describe(lines());
    while (seen && settled && !settled() && std::chrono::steady_clock::now() < deadline) program.waitForFinished(100);

    program.terminate();  // SIGTERM: the desktop's way to end a program
    // Generous: the leak checker's pass at the end runs on a loaded machine.
    if (!program.waitForFinished(20000)) {
        const std::string stacks = stacksOf(program.processId());
        program.kill();
        program.waitForFinished(10000);
        ADD_FAILURE() << "the program did not end within 20 s of SIGTERM\n" << describe(lines()) << stacks;
        return;
    }
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
}

std::vector<std::string> SelftestLaunch::lines() const
{
    // "2025-01-31 13:05:09 +0000 message": the message after the third blank.
    std::vector<std::string> result;
    std::istringstream text(home_.logText());
    for (std::string line; std::getline(text, line);) {
        std::size_t at = 0;
        for (int blank = 0; blank < 3 && at != std::string::npos; ++blank) {
            at = line.find(' ', at);
            if (at != std::string::npos) ++at;
        }
        result.push_back(at == std::string::npos ? line : line.substr(at));
    }
    return result;
}

std::vector<std::string> SelftestLaunch::lines(const std::vector<std::string>& heads) const
{
    std::vector<std::string> kept;
    for (const auto& line : lines())
        if (std::any_of(heads.begin(), heads.end(), [&](const std::string& head) { return line.starts_with(head); }))
            kept.push_back(line);
    return kept;
}

} // namespace ondexa::testing
