#pragma once

// The test recording the editing benchmarks open, made once by the ffmpeg
// program: a screen, a camera and two sound tracks. Needs ONDEXA_BENCH_CACHE
// (the folder it is kept in) defined by the including program.

#include "support/RunProgram.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace bench {

inline void ffmpeg(std::vector<std::string> args)
{
    args.insert(args.begin(), {"ffmpeg", "-nostdin", "-v", "error", "-y"});
    runProgram(args);
}

// Where generated recordings are kept; the environment may override it.
inline std::filesystem::path cacheFolder()
{
    const char* override = std::getenv("ONDEXA_BENCH_CACHE");
    return override ? std::filesystem::path(override) : std::filesystem::path(ONDEXA_BENCH_CACHE);
}

// ffmpeg arguments for `seconds` of the four streams, up to the output's own
// settings: H.264 video with a key frame every 2 s.
inline std::vector<std::string> recordingArguments(int seconds)
{
    const std::string d = std::to_string(seconds);
    return {"-f", "lavfi", "-i", "testsrc2=s=1920x1080:r=30:d=" + d,
            "-f", "lavfi", "-i", "testsrc=s=640x480:r=30:d=" + d,
            "-f", "lavfi", "-i", "aevalsrc=0.3*sin(2*PI*220*t)*(0.6+0.4*sin(2*PI*0.3*t))|0.3*sin(2*PI*330*t):s=48000:d=" + d,
            "-f", "lavfi", "-i", "aevalsrc=0.2*sin(2*PI*440*t)+0.05*(random(0)-0.5)|0.2*sin(2*PI*550*t):s=48000:d=" + d,
            "-map", "0:v", "-map", "1:v", "-map", "2:a", "-map", "3:a",
            "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-g", "60"};
}

} // namespace bench
