#pragma once

// What every test of the editor does with its model: find the screen and
// sound tracks, await loading, exports, saves and imports, place the playhead.

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/selftest/Task.h"

#include <QSettings>  // an EditorModel is made with its default settings

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ondexa::selftest {

// The screen track: the first track from the recording whose media is video
// stream 0. The sound track: the first audio track. Either may be missing;
// the pointers are valid until the track list next changes.
const Track* screenTrack(const std::vector<Track>& tracks);
const Track* soundTrack(const std::vector<Track>& tracks);

// The ids of those of the two tracks that exist.
std::set<Uuid> screenAndSoundIDs(const std::vector<Track>& tracks);

// co_await loaded(model): load() has ended (successfully or not).
Completion<void> loaded(EditorModel& model);
// co_await exported(...): true only when the file was written completely.
Completion<bool> exported(EditorModel& model, std::filesystem::path to, ExportOptions options);
// co_await savedProject(...): the error's description, none on success.
Completion<std::optional<std::string>> savedProject(EditorModel& model, std::filesystem::path package);
// co_await imported(...): addMedia() has ended; failures are in exportError.
Completion<void> imported(EditorModel& model, std::filesystem::path file);
// co_await allSaved(model): every write asked for so far has ended.
Completion<void> allSaved(EditorModel& model);

// The playhead at `time`: the clock written, the player sought there exactly.
void placePlayhead(EditorModel& model, double time);

using Range = ExportOptions::Range;
using Size = ExportOptions::Size;
using Encoding = ExportOptions::Encoding;
using Format = ExportOptions::Format;

// Export options in one expression: options(Range::all, Size::original, ...).
inline ExportOptions options(ExportOptions::Range range, ExportOptions::Size size,
                             ExportOptions::Encoding encoding, ExportOptions::Format format)
{
    ExportOptions o;
    o.range = range;
    o.size = size;
    o.encoding = encoding;
    o.format = format;
    return o;
}

// "HIBA " and the model's export error (nothing after the blank when none).
std::string failureText(const EditorModel& model);

} // namespace ondexa::selftest
