#pragma once

// What the tests do to the files they are given: they never write over what
// they read, and what they move out of reach comes back however they end.

#include "Ondexa/model/Files.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ondexa::selftest {

// One file under two names, through links, hard ones too.
using ondexa::sameFile;

// The files of one test: what it reads, the working copy of the first that it
// edits instead (if it makes one), and every file or package it writes.
struct TestFiles {
    std::vector<std::filesystem::path> sources;
    std::optional<std::filesystem::path> workingCopy;
    std::vector<std::filesystem::path> outputs;
};

// Why the test must not start, in the words of its refusal ("a forrás és a
// kimenet (move.mp4) ugyanaz"): a working copy or an output that is a source,
// or an output that is the working copy. None when each is a file of its own.
std::optional<std::string> clashOf(const TestFiles& files);

// False, after the line "<test>: HIBA: " and the reason, when the files clash;
// the test then touches nothing.
[[nodiscard]] bool filesApart(const std::string& test, const TestFiles& files);

// A file or folder moved out of reach under a name nothing else uses
// ("F.mov.aside", "F.mov.aside1" …) and put back however the test ends: by
// itself, by an exception, or destroyed by the quit road. When nothing
// destroys it (an exit that skips the quit road), the program's end puts it
// back. It is never put back over a file that has taken its place.
class SetAside {
public:
    explicit SetAside(std::filesystem::path original);  // a missing file is passed over
    ~SetAside();
    SetAside(const SetAside&) = delete;
    SetAside& operator=(const SetAside&) = delete;

    void putBack();
    // Where it is kept meanwhile; none when nothing was moved (or it is back).
    const std::optional<std::filesystem::path>& aside() const { return aside_; }

private:
    std::filesystem::path original_;
    std::optional<std::filesystem::path> aside_;
};

// Puts back everything still set aside: what the program's end does.
void putBackEverythingAside();

} // namespace ondexa::selftest
