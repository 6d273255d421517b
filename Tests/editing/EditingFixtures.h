#pragma once

// Recordings and an event loop for the editor's tests. Media are made by the
// ffmpeg program; the settings live in a temporary INI file.

#include "Ondexa/editing/EditorModel.h"
#include "support/MediaFixtures.h"

#include <QSettings>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace ondexa::testing {

// A recording as the recorder writes one: a frame-numbered screen (the
// lower half in `screenColour`), optionally a blue camera, and sine tones
// of 440, 660, … Hz, one a sound track.
struct RecordingRecipe {
    double seconds = 20;
    int width = 1920;
    int height = 1080;
    int fps = 30;
    bool camera = true;
    int tones = 2;
    int rotation = 0;  // display rotation stored with the screen stream
    bool video = true;
};
inline constexpr unsigned screenColour = 0xC8285A;

std::filesystem::path makeRecording(const std::filesystem::path& file, const RecordingRecipe& recipe = {});

// The 20 s recording with screen, camera and two tones, made once in the
// test's working folder; tests copy it (with copyOf) before they let an
// editor write beside it.
const std::filesystem::path& sharedRecording();
// A small recording (6 s, 640×360, no camera, two sounds), made once per
// run in a temporary folder.
const std::filesystem::path& smallRecording();
// A copy of `file` in `folder` under `name`.
std::filesystem::path copyOf(const std::filesystem::path& file, const std::filesystem::path& folder,
                             const std::string& name);

// Settings of their own for one test.
std::unique_ptr<QSettings> settingsIn(const std::filesystem::path& folder);

// Runs the event loop until `done` or the limit; true when done.
bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(60));
// Loads the model and waits for load() to finish.
bool loadAndWait(EditorModel& model);
// Waits until every write asked for so far has ended.
void waitForSaves(EditorModel& model);

// How often `text` stands in `file` (none when it is missing), e.g. a line in the log.
int occurrencesIn(const std::filesystem::path& file, const std::string& text);

} // namespace ondexa::testing
