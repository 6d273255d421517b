#include "EditingFixtures.h"

#include "support/TempFolder.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <sstream>

namespace ondexa::testing {

namespace fs = std::filesystem;

namespace {

std::string hexColour(unsigned rgb)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%06X", rgb & 0xFFFFFF);
    return buf;
}

} // namespace

fs::path makeRecording(const fs::path& file, const RecordingRecipe& recipe)
{
    const std::string seconds = std::to_string(recipe.seconds);
    std::vector<std::string> args;
    std::vector<std::string> maps;
    int input = 0;
    if (recipe.video) {
        std::ostringstream graph;
        graph << "color=c=" << hexColour(screenColour) << ":s=" << recipe.width << "x" << recipe.height
              << ":r=" << recipe.fps << ",format=rgb24";
        for (int b = 0; b < 9; ++b)
            graph << ",drawbox=x=" << b << "*iw/10:y=0:w=iw/10:h=ih/2:color=white:t=fill:enable='bitand(n\\,"
                  << (1 << b) << ")'";
        args.insert(args.end(), {"-f", "lavfi", "-i", graph.str()});
        maps.insert(maps.end(), {"-map", std::to_string(input++) + ":v"});
        if (recipe.camera) {
            args.insert(args.end(), {"-f", "lavfi", "-i", "color=c=0x0000FF:s=640x480:r=" + std::to_string(recipe.fps)});
            maps.insert(maps.end(), {"-map", std::to_string(input++) + ":v"});
        }
    }
    for (int t = 0; t < recipe.tones; ++t) {
        args.insert(args.end(),
                    {"-f", "lavfi", "-i", "sine=frequency=" + std::to_string(440 + 220 * t) + ":sample_rate=48000"});
        maps.insert(maps.end(), {"-map", std::to_string(input++) + ":a"});
    }
    args.insert(args.end(), maps.begin(), maps.end());
    args.insert(args.end(), {"-t", seconds});
    if (recipe.video)
        args.insert(args.end(), {"-c:v", "libx264", "-preset", "ultrafast", "-g", std::to_string(recipe.fps * 2),
                                 "-pix_fmt", "yuv420p"});
    if (recipe.tones) args.insert(args.end(), {"-c:a", "aac"});
    if (!recipe.rotation) {
        args.push_back(file.string());
        fixtures::runFfmpeg(args);
        return file;
    }
    // The turn is stored only when the streams are copied, not while encoding.
    const fs::path plain = fs::path(file).replace_extension(".plain" + file.extension().string());
    args.push_back(plain.string());
    fixtures::runFfmpeg(args);
    fixtures::runFfmpeg({"-i", plain.string(), "-map", "0", "-c", "copy", "-metadata:s:v:0",
                         "rotate=" + std::to_string(recipe.rotation), file.string()});
    fs::remove(plain);
    return file;
}

const fs::path& sharedRecording()
{
    // Kept in the build folder between runs: every test process would
    // otherwise encode the same 20 s of 1080p. Renamed into place when
    // complete, so processes running side by side never read a half file.
    static const fs::path file = [] {
        const fs::path folder = fs::current_path() / "editing-fixtures";
        fs::create_directories(folder);
        const fs::path done = folder / "recording-20s-v1.mov";
        if (fs::exists(done)) return done;
        const fs::path making = folder / ("making-" + std::to_string(getpid()) + ".mov");
        makeRecording(making);
        fs::rename(making, done);
        return done;
    }();
    return file;
}

const fs::path& smallRecording()
{
    static TempFolder folder;
    static const fs::path file = makeRecording(
        folder.path / "small.mov", RecordingRecipe{.seconds = 6, .width = 640, .height = 360, .camera = false});
    return file;
}

fs::path copyOf(const fs::path& file, const fs::path& folder, const std::string& name)
{
    fs::create_directories(folder);
    fs::copy_file(file, folder / name, fs::copy_options::overwrite_existing);
    return folder / name;
}

std::unique_ptr<QSettings> settingsIn(const fs::path& folder)
{
    return std::make_unique<QSettings>(QString::fromStdString((folder / "settings.ini").string()), QSettings::IniFormat);
}

bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    if (done()) return true;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start();
    deadline.start(limit);
    loop.exec();
    return done();
}

bool loadAndWait(EditorModel& model)
{
    bool finished = false;
    model.load([&] { finished = true; });
    return runUntil([&] { return finished; });
}

void waitForSaves(EditorModel& model)
{
    bool finished = false;
    model.whenSaved([&] { finished = true; });
    runUntil([&] { return finished; });
}

int occurrencesIn(const fs::path& file, const std::string& text)
{
    std::ifstream in(file, std::ios::binary);
    const std::string all{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    int n = 0;
    for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + text.size())) ++n;
    return n;
}

} // namespace ondexa::testing
