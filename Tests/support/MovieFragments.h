#pragma once

// What a fragmented movie holds, as the ffprobe program lists its packets,
// and where its fragments begin, from the file's top-level boxes.

#include "support/MediaFixtures.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace fixtures {

struct ProbedPacket {
    int stream = -1;
    double pts = 0;       // s
    double duration = 0;  // s
    bool key = false;
    std::int64_t pos = -1;  // byte offset in the file
};

// Every packet ffprobe reads, in file order.
inline std::vector<ProbedPacket> probePackets(const std::filesystem::path& file)
{
    std::vector<ProbedPacket> packets;
    std::istringstream in(runFfprobe(
        {"-show_entries", "packet=stream_index,pts_time,duration_time,flags,pos", "-of", "compact=p=0"}, file));
    for (std::string line; std::getline(in, line);) {
        ProbedPacket p;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '|');) {
            const auto eq = field.find('=');
            if (eq == std::string::npos) continue;
            const std::string key = field.substr(0, eq), value = field.substr(eq + 1);
            if (value == "N/A") continue;
            if (key == "stream_index") p.stream = std::stoi(value);
            else if (key == "pts_time") p.pts = std::stod(value);
            else if (key == "duration_time") p.duration = std::stod(value);
            else if (key == "pos") p.pos = std::stoll(value);
            else if (key == "flags") p.key = value.find('K') != std::string::npos;
        }
        if (p.stream >= 0) packets.push_back(p);
    }
    return packets;
}

namespace detail {

struct Box {
    std::int64_t at = 0, body = 0, end = 0;  // start, start of its content, end
    std::string type;
};

inline std::uint64_t bigEndian(const std::string& data, std::int64_t at, int bytes)
{
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | static_cast<unsigned char>(data[std::size_t(at + i)]);
    return v;
}

// The boxes between `from` and `to`; a box cut short by `to` is left out.
inline std::vector<Box> boxesIn(const std::string& data, std::int64_t from, std::int64_t to)
{
    std::vector<Box> boxes;
    while (from + 8 <= to) {
        Box b;
        b.at = from;
        std::uint64_t size = bigEndian(data, from, 4);
        b.type = data.substr(std::size_t(from + 4), 4);
        b.body = from + 8;
        if (size == 1 && from + 16 <= to) {
            size = bigEndian(data, from + 8, 8);
            b.body = from + 16;
        } else if (size == 0) {
            size = std::uint64_t(to - from);
        }
        if (size < 8 || from + std::int64_t(size) > to) break;
        b.end = from + std::int64_t(size);
        boxes.push_back(b);
        from = b.end;
    }
    return boxes;
}

inline std::string fileBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace detail

// Offsets of the top-level boxes of `type` ("moof", "mdat", …); a box cut
// short by the end of the file is left out.
inline std::vector<std::int64_t> topLevelBoxes(const std::filesystem::path& file, const std::string& type)
{
    const std::string data = detail::fileBytes(file);
    std::vector<std::int64_t> offsets;
    for (const auto& b : detail::boxesIn(data, 0, std::int64_t(data.size())))
        if (b.type == type) offsets.push_back(b.at);
    return offsets;
}

// Where each track of a fragmented movie ends as written, in seconds, in
// track order: its last fragment's base decode time plus the durations of
// its samples there (tfdt + trun, or the tfhd/trex default), over its
// timescale (mdhd). Unlike a demuxer's packet durations, this is exactly
// what the file states.
inline std::vector<double> fragmentedTrackEnds(const std::filesystem::path& file)
{
    const std::string data = detail::fileBytes(file);
    using detail::bigEndian;
    using detail::boxesIn;
    std::vector<std::uint32_t> ids;
    std::vector<double> timescales, ends;
    std::vector<std::uint64_t> trexDuration;
    auto indexOf = [&](std::uint32_t id) {
        for (std::size_t i = 0; i < ids.size(); ++i)
            if (ids[i] == id) return int(i);
        return -1;
    };
    for (const auto& top : boxesIn(data, 0, std::int64_t(data.size()))) {
        if (top.type == "moov") {
            for (const auto& b : boxesIn(data, top.body, top.end)) {
                if (b.type == "trak") {
                    std::uint32_t id = 0;
                    double timescale = 1;
                    for (const auto& t : boxesIn(data, b.body, b.end)) {
                        if (t.type == "tkhd") id = std::uint32_t(bigEndian(data, t.body + (data[std::size_t(t.body)] == 1 ? 20 : 12), 4));
                        if (t.type == "mdia")
                            for (const auto& m : boxesIn(data, t.body, t.end))
                                if (m.type == "mdhd")
                                    timescale = double(bigEndian(data, m.body + (data[std::size_t(m.body)] == 1 ? 20 : 12), 4));
                    }
                    ids.push_back(id);
                    timescales.push_back(timescale);
                    ends.push_back(0);
                    trexDuration.push_back(0);
                }
                if (b.type == "mvex")
                    for (const auto& x : boxesIn(data, b.body, b.end))
                        if (x.type == "trex")
                            if (const int i = indexOf(std::uint32_t(bigEndian(data, x.body + 4, 4))); i >= 0)
                                trexDuration[std::size_t(i)] = bigEndian(data, x.body + 12, 4);
            }
        }
        if (top.type != "moof") continue;
        for (const auto& traf : boxesIn(data, top.body, top.end)) {
            if (traf.type != "traf") continue;
            int track = -1;
            std::uint64_t defaultDuration = 0, time = 0;
            for (const auto& b : boxesIn(data, traf.body, traf.end)) {
                if (b.type == "tfhd") {
                    const auto flags = bigEndian(data, b.body, 4) & 0xFFFFFF;
                    track = indexOf(std::uint32_t(bigEndian(data, b.body + 4, 4)));
                    if (track < 0) break;
                    defaultDuration = trexDuration[std::size_t(track)];
                    std::int64_t at = b.body + 8;
                    if (flags & 0x1) at += 8;
                    if (flags & 0x2) at += 4;
                    if (flags & 0x8) defaultDuration = bigEndian(data, at, 4);
                } else if (b.type == "tfdt") {
                    time = data[std::size_t(b.body)] == 1 ? bigEndian(data, b.body + 4, 8) : bigEndian(data, b.body + 4, 4);
                } else if (b.type == "trun" && track >= 0) {
                    const auto flags = bigEndian(data, b.body, 4) & 0xFFFFFF;
                    const auto count = bigEndian(data, b.body + 4, 4);
                    std::int64_t at = b.body + 8;
                    if (flags & 0x1) at += 4;
                    if (flags & 0x4) at += 4;
                    for (std::uint64_t i = 0; i < count; ++i) {
                        time += (flags & 0x100) ? bigEndian(data, at, 4) : defaultDuration;
                        at += 4 * (((flags & 0x100) != 0) + ((flags & 0x200) != 0) + ((flags & 0x400) != 0) + ((flags & 0x800) != 0));
                    }
                    ends[std::size_t(track)] = double(time) / timescales[std::size_t(track)];
                }
            }
        }
    }
    return ends;
}

} // namespace fixtures
