#pragma once

#include <filesystem>

namespace ondexa {

// Where recordings go and how a new one is named.
struct Paths {
    Paths() = delete;

    // <videos folder>/Vendalum, where the videos folder is XDG_VIDEOS_DIR of
    // user-dirs.dirs, else ~/Videos. An "Ondexa" folder of earlier versions is
    // renamed to it when it does not exist yet. Not created here.
    static std::filesystem::path recordingsFolder();

    // "Felvétel yyyy-MM-dd HH.mm.ss.mov" (local time) in the recordings folder,
    // which is created. Never the name of an existing movie or side file:
    // " 2", " 3", … are added when needed. Throws OndexaError.
    static std::filesystem::path newRecordingURL();
};

// $HOME, else the home folder of the password database.
std::filesystem::path homeFolder();

// The folder named by an XDG base-directory variable when it holds an
// absolute path, else homeFolder()/fallback.
std::filesystem::path xdgFolder(const char* variable, const char* fallback);

} // namespace ondexa
