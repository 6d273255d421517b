#pragma once

// What the editing scenarios share beyond the model helpers: the one-line
// timeline summary of their log lines and the fresh working copy that the
// move, gap and transition tests edit instead of the recording itself.

#include "Ondexa/model/Timeline.h"
#include "Ondexa/selftest/TestFiles.h"

#include <filesystem>
#include <string>
#include <vector>

namespace ondexa::selftest {

// "name: a-b,c-d | name: …": every track in order, each clip as its start
// and end with `decimals` digits; with `countActions`, a clip that has
// actions is followed by "*" and their number.
std::string timelineSummary(const std::vector<Track>& tracks, int decimals, bool countActions = false);

// `folder`/`stem` + "." + the extension of `source` (without its dot).
std::filesystem::path workingCopyPath(const std::filesystem::path& folder, const std::string& stem,
                                      const std::filesystem::path& source);

// The working copy replaced by a copy of `source`; failures to copy are
// ignored. False, touching nothing, when the working copy is the source
// itself: removing it would delete the recording.
[[nodiscard]] bool replaceWithCopy(const std::filesystem::path& source, const std::filesystem::path& working);

// The side file of `source` written for `working` without its editing
// state, so the copy starts from the timeline the recording gives. Nothing
// is written when the source's side file can't be read.
void writeFreshSideFile(const std::filesystem::path& source, const std::filesystem::path& working);

} // namespace ondexa::selftest
