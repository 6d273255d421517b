#pragma once

// What a fragmented movie holds, as the ffprobe program lists its packets,
// and where its fragments begin, from the file's top-level boxes.

#include "support/MediaFixtures.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
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

// Offsets of the top-level boxes of `type` ("moof", "mdat", …); a box cut
// short by the end of the file is left out.
inline std::vector<std::int64_t> topLevelBoxes(const std::filesystem::path& file, const std::string& type)
{
    std::vector<std::int64_t> offsets;
    std::ifstream in(file, std::ios::binary);
    const auto fileSize = std::int64_t(std::filesystem::file_size(file));
    std::int64_t at = 0;
    while (at + 8 <= fileSize) {
        unsigned char header[16];
        in.seekg(at);
        if (!in.read(reinterpret_cast<char*>(header), 8)) break;
        std::uint64_t size = (std::uint64_t(header[0]) << 24) | (header[1] << 16) | (header[2] << 8) | header[3];
        const std::string name(reinterpret_cast<const char*>(header + 4), 4);
        if (size == 1) {
            if (!in.read(reinterpret_cast<char*>(header + 8), 8)) break;
            size = 0;
            for (int i = 8; i < 16; ++i) size = (size << 8) | header[i];
        } else if (size == 0) {
            size = std::uint64_t(fileSize - at);
        }
        if (size < 8 || at + std::int64_t(size) > fileSize) break;
        if (name == type) offsets.push_back(at);
        at += std::int64_t(size);
    }
    return offsets;
}

} // namespace fixtures
