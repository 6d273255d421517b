#include "support/MediaFixtures.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include <fcntl.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fixtures {

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a program found on PATH with stdin closed, collecting its output.
Outcome run(const std::vector<std::string>& argv)
{
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    Outcome result;
    // Two pipes drained in turn could deadlock on a full one; the error
    // output of these programs is small, so read it after stdout with a
    // nonblocking loop over both.
    fcntl(outPipe[0], F_SETFL, O_NONBLOCK);
    fcntl(errPipe[0], F_SETFL, O_NONBLOCK);
    std::array<char, 65536> buf{};
    bool outOpen = true;
    bool errOpen = true;
    while (outOpen || errOpen) {
        fd_set fds;
        FD_ZERO(&fds);
        if (outOpen) FD_SET(outPipe[0], &fds);
        if (errOpen) FD_SET(errPipe[0], &fds);
        if (select(std::max(outPipe[0], errPipe[0]) + 1, &fds, nullptr, nullptr, nullptr) < 0) break;
        for (auto [fd, isOpen, text] : {std::tuple{outPipe[0], &outOpen, &result.out},
                                      std::tuple{errPipe[0], &errOpen, &result.err}}) {
            if (!*isOpen || !FD_ISSET(fd, &fds)) continue;
            const ssize_t n = read(fd, buf.data(), buf.size());
            if (n > 0) text->append(buf.data(), static_cast<std::size_t>(n));
            else *isOpen = false;
        }
    }
    close(outPipe[0]);
    close(errPipe[0]);
    waitpid(pid, &result.status, 0);
    return result;
}

std::string joined(const std::vector<std::string>& args)
{
    std::string s;
    for (const auto& a : args) s += (s.empty() ? "" : " ") + a;
    return s;
}

std::string hexColour(unsigned rgb)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%06X", rgb & 0xFFFFFF);
    return buf;
}

} // namespace

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "ondexa-media-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void runFfmpeg(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-hide_banner", "-v", "error", "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    const Outcome r = run(argv);
    if (!WIFEXITED(r.status) || WEXITSTATUS(r.status) != 0)
        throw std::runtime_error("ffmpeg failed: " + joined(args) + "\n" + r.err);
}

std::string runFfprobe(const std::vector<std::string>& args, const std::filesystem::path& file)
{
    std::vector<std::string> argv{"ffprobe", "-hide_banner", "-v", "error"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(file.string());
    const Outcome r = run(argv);
    if (!WIFEXITED(r.status) || WEXITSTATUS(r.status) != 0)
        throw std::runtime_error("ffprobe failed: " + joined(argv) + "\n" + r.err);
    return r.out;
}

std::filesystem::path makeNumberedVideo(const std::filesystem::path& file, const NumberedVideo& video)
{
    std::ostringstream graph;
    graph << "color=c=" << hexColour(video.rgb) << ":s=" << video.width << "x" << video.height << ":r=" << video.fps
          << ",format=rgb24";
    for (int b = 0; b < 9; ++b)
        graph << ",drawbox=x=" << b << "*iw/10:y=0:w=iw/10:h=ih/2:color=white:t=fill:enable='bitand(n\\," << (1 << b)
              << ")'";
    const bool bt709 = video.matrix == "bt709";
    const std::string matrix = bt709 ? "bt709" : "smpte170m";
    std::vector<std::string> args{"-f", "lavfi", "-i", graph.str(), "-frames:v", std::to_string(video.frames),
                                  "-vf", "scale=out_color_matrix=" + std::string(bt709 ? "bt709" : "bt601") +
                                             ":out_range=tv,format=yuv420p",
                                  "-colorspace", matrix, "-color_primaries", bt709 ? "bt709" : "smpte170m",
                                  "-color_trc", bt709 ? "bt709" : "smpte170m", "-color_range", "tv",
                                  "-c:v", "libx264", "-crf", "12", "-g", "30"};
    args.insert(args.end(), video.extra.begin(), video.extra.end());
    args.push_back(file.string());
    runFfmpeg(args);
    return file;
}

std::filesystem::path makeStereoSine(const std::filesystem::path& file, double seconds, int rate,
                                     const std::vector<std::string>& extra)
{
    std::ostringstream src;
    src << "aevalsrc=0.5*sin(2*PI*440*t)|0.25*sin(2*PI*660*t):s=" << rate << ":d=" << seconds << ":c=stereo";
    std::vector<std::string> args{"-f", "lavfi", "-i", src.str()};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(file.string());
    runFfmpeg(args);
    return file;
}

std::filesystem::path makePicture(const std::filesystem::path& file, int width, int height, unsigned rgb)
{
    runFfmpeg({"-f", "lavfi", "-i",
               "color=c=" + hexColour(rgb) + ":s=" + std::to_string(width) + "x" + std::to_string(height),
               "-frames:v", "1", file.string()});
    return file;
}

std::filesystem::path makeTextFile(const std::filesystem::path& file, const std::string& text)
{
    std::ofstream(file) << text;
    return file;
}

} // namespace fixtures
