#pragma once

// Small project files and files on disk for the model's file tests.

#include "Ondexa/model/Files.h"
#include "Ondexa/model/ProjectFile.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace ondexa::testing {

inline std::filesystem::path makeFile(const std::filesystem::path& path, const std::string& content)
{
    std::filesystem::create_directories(path.parent_path());
    writeFileAtomically(path, content);
    return path;
}

// A track with one clip, both showing the path.
inline Track trackOf(const std::string& path, MediaKind kind = MediaKind::video)
{
    Track track;
    track.media = MediaRef{path, kind, 0};
    track.clips.resize(1);
    track.clips[0].duration = 2;
    track.clips[0].media = track.media;
    return track;
}

inline ProjectFile projectOf(const std::string& recording, std::vector<Track> tracks)
{
    ProjectFile file;
    file.recording = recording;
    file.info.audioTracks = {"Rendszerhang"};
    file.info.project = Project{Project::currentVersion, std::move(tracks), std::nullopt};
    return file;
}

} // namespace ondexa::testing
