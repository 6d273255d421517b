#pragma once

// Media files for tests, made at test time by the ffmpeg program (an
// independent producer) in a temporary folder.

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace fixtures {

// A fresh temporary folder, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Runs `ffmpeg -nostdin -v error -y <args>`; throws std::runtime_error with
// its error output when it fails.
void runFfmpeg(const std::vector<std::string>& args);
// Runs `ffprobe -v error <args> <file>` and returns what it prints.
std::string runFfprobe(const std::vector<std::string>& args, const std::filesystem::path& file);

// How many descriptors this process holds open on `file`.
int openCount(const std::filesystem::path& file);

// Frame-numbered video: the upper half shows the frame number as 9 bars
// (bit b white when set, 32 px wide, from the left; readable with
// `frameNumberOf`), the lower half the solid colour `rgb` (0xRRGGBB).
// H.264 4:2:0 tagged BT.709 limited range unless `matrix` names another
// ("bt601" tags and converts as smpte170m). `extra` goes before the output
// name (for example {"-movflags", "frag_keyframe+empty_moov+default_base_moof"}).
struct NumberedVideo {
    explicit NumberedVideo(int frames = 90, int width = 320, int height = 240)
        : frames(frames), width(width), height(height)
    {
    }
    NumberedVideo(int frames, std::vector<std::string> extra) : frames(frames), extra(std::move(extra)) {}

    int frames;
    int fps = 30;
    int width = 320;
    int height = 240;
    unsigned rgb = 0xC8285A;
    std::string matrix = "bt709";
    std::vector<std::string> extra;
};
std::filesystem::path makeNumberedVideo(const std::filesystem::path& file, const NumberedVideo& video = NumberedVideo());

// Reads the frame number drawn by makeNumberedVideo from a picture's pixels
// (any 32-bit QImage-compatible buffer: pixel at (x, y) as 0xAARRGGBB).
template <typename PixelAt>
int frameNumberOf(PixelAt pixelAt, int width, int height)
{
    int n = 0;
    for (int b = 0; b < 9; ++b) {
        unsigned p = pixelAt(b * width / 10 + width / 20, height / 4);
        unsigned grey = ((p >> 16) & 0xff) + ((p >> 8) & 0xff) + (p & 0xff);
        if (grey > 3 * 128) n |= 1 << b;
    }
    return n;
}

// Two channels of sine: left 440 Hz at amplitude 0.5, right 660 Hz at 0.25.
// The codec follows the extension unless `extra` names one.
std::filesystem::path makeStereoSine(const std::filesystem::path& file, double seconds = 2.0, int rate = 48000,
                                     const std::vector<std::string>& extra = {});

// A single-picture file (PNG, JPEG, … by extension) of the given size.
std::filesystem::path makePicture(const std::filesystem::path& file, int width, int height, unsigned rgb = 0x3060C0);

// A copy of `from` (every stream copied as it is) whose first video stream
// is shown mirrored left to right when `mirrored`, then turned `clockwise`
// degrees (a multiple of 90). The display matrix is written with
// libavformat: this ffmpeg program can store a turn but no mirror.
std::filesystem::path copyShownAs(const std::filesystem::path& from, const std::filesystem::path& to, int clockwise,
                                  bool mirrored);

// A movie read back with libavformat and libavcodec, one entry a stream in
// file order.
struct MovieStream {
    struct Packet {
        double pts, dts;  // s
        bool key;
    };

    bool video = false;  // else sound
    std::string codec;   // "h264", "aac", …
    std::string handlerName;
    int width = 0, height = 0;
    int sampleRate = 0, channels = 0;
    std::int64_t bitRate = 0;        // as the container states it
    double start = 1e9, end = -1e9;  // first presentation and end of the last packet, s
    // The track's duration as the container states it, s (-1: not stated).
    // A fragment's last picture is read with a nominal frame's duration,
    // where the container holds its true one.
    double statedDuration = -1;
    std::vector<Packet> packets;
    std::string firstPacket;  // its bytes (x264 states its settings there)
    // Sound: the first two channels decoded (mono on both), from `soundStart` s.
    double soundStart = 0;
    std::vector<float> left, right;
    // Picture: the first one decoded, as R, G, B bytes (BT.709 limited range).
    std::vector<std::uint8_t> firstPicture;

    double duration() const { return end - start; }
    double soundEnd() const { return soundStart + double(left.size()) / sampleRate; }
    // Root mean square of the left channel from `from` to `to` s; -1 when empty.
    double rms(double from, double to) const;
};
std::vector<MovieStream> readMovie(const std::filesystem::path& file);

} // namespace fixtures

#include "Platform/media/MediaTime.h"

#include <ostream>

namespace platform {
// Readable MediaTime values in test failures.
inline void PrintTo(const MediaTime& t, std::ostream* os)
{
    *os << t.value() << "/" << t.timescale() << " (" << t.seconds() << " s)";
}
} // namespace platform
