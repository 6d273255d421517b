#pragma once

// Damage done to media files the way crashes and bad disks do it: packets
// overwritten, files cut inside a box, a time stamp bit flipped. Header-only
// so each test executable takes what it uses.

#include "support/MediaFixtures.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fixtures {

// A movie laid out as the recorder writes it: a header with no samples
// (ftyp, moov), then a fragment (moof, mdat) every 2 s holding a 30 fps
// picture that starts each fragment with a key frame, and 48 kHz stereo AAC
// (a 440 Hz sine at 0.5).
inline std::filesystem::path makeFragmentedMovie(const std::filesystem::path& file, int seconds)
{
    const std::string d = std::to_string(seconds);
    runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=320x240:r=30:d=" + d, "-f", "lavfi", "-i",
               "aevalsrc=0.5*sin(2*PI*440*t)|0.5*sin(2*PI*440*t):s=48000:d=" + d, "-c:v", "libx264", "-g", "60",
               "-bf", "0", "-c:a", "aac", "-b:a", "256k", "-movflags", "frag_keyframe+empty_moov+default_base_moof",
               "-frag_duration", "2000000", file.string()});
    return file;
}

// One packet of a stream as ffprobe lists it.
struct PacketPlace {
    double time = 0;      // presentation time, s
    double duration = 0;  // s
    std::uint64_t pos = 0;
    std::uint64_t size = 0;
};

// The packets of the first stream of `type` ("a" or "v") in file order.
inline std::vector<PacketPlace> packetPlaces(const std::filesystem::path& file, const std::string& type)
{
    std::istringstream lines(runFfprobe(
        {"-select_streams", type + ":0", "-show_entries", "packet=pts_time,duration_time,pos,size", "-of", "csv=p=0"},
        file));
    std::vector<PacketPlace> places;
    for (std::string line; std::getline(lines, line);) {
        // ffprobe prints the fields in its own order: pts_time, duration_time, size, pos.
        std::istringstream fields(line);
        std::string pts, duration, size, pos;
        std::getline(fields, pts, ',');
        std::getline(fields, duration, ',');
        std::getline(fields, size, ',');
        std::getline(fields, pos, ',');
        if (pts.empty() || pos.empty() || pos == "N/A") continue;
        places.push_back({std::stod(pts), duration == "N/A" ? 0 : std::stod(duration), std::stoull(pos), std::stoull(size)});
    }
    return places;
}

// Overwrites `bytes.size()` bytes of `file` at `offset`.
inline void overwrite(const std::filesystem::path& file, std::uint64_t offset, const std::string& bytes)
{
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot overwrite " + file.string());
}

// A top-level (or nested) box of an ISO base media file.
struct Box {
    std::string type;
    std::uint64_t offset = 0;  // of its header
    std::uint64_t size = 0;    // header included
    std::uint64_t header = 8;
};

// The boxes that lie one after the other in [from, to) of `bytes`.
inline std::vector<Box> boxesIn(const std::string& bytes, std::uint64_t from, std::uint64_t to)
{
    auto be = [&](std::uint64_t at, int n) {
        std::uint64_t v = 0;
        for (int i = 0; i < n; ++i) v = v << 8 | static_cast<unsigned char>(bytes[at + std::uint64_t(i)]);
        return v;
    };
    std::vector<Box> boxes;
    for (std::uint64_t at = from; at + 8 <= to;) {
        Box b{bytes.substr(at + 4, 4), at, be(at, 4), 8};
        if (b.size == 1) {
            b.size = be(at + 8, 8);
            b.header = 16;
        } else if (b.size == 0) {
            b.size = to - at;
        }
        if (b.size < b.header) break;
        boxes.push_back(b);
        at += b.size;
    }
    return boxes;
}

inline std::string fileBytes(const std::filesystem::path& file)
{
    std::ifstream f(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// A copy of `file` cut to its first `size` bytes.
inline std::filesystem::path cutCopy(const std::filesystem::path& file, const std::filesystem::path& to, std::uint64_t size)
{
    std::filesystem::copy_file(file, to, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(to, size);
    return to;
}

} // namespace fixtures
