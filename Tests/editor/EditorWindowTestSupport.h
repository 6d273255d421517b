#pragma once

// Editor windows over recordings made by the ffmpeg program, with their
// side files, for the window's, toolbar's and footer's tests.

#include "EditingFixtures.h"

#include "Ondexa/editor/EditorWindow.h"
#include "Ondexa/model/RecordingInfo.h"

#include <gtest/gtest.h>

#include <QStandardPaths>
#include <QTest>

#include <filesystem>
#include <memory>
#include <string>

namespace ondexa::testing {

// The windows' models keep their settings (snapping, row height) in the test
// area of the user's folders, not among the user's own.
inline const bool editorSettingsInTestMode = (QStandardPaths::setTestModeEnabled(true), true);

// A short recording (screen and one tone) with its side file.
inline std::filesystem::path makeEditorRecording(const std::filesystem::path& file, double seconds = 3,
                                                 int width = 640, int height = 360)
{
    RecordingRecipe recipe;
    recipe.seconds = seconds;
    recipe.width = width;
    recipe.height = height;
    recipe.camera = false;
    recipe.tones = 1;
    makeRecording(file, recipe);
    RecordingInfo info;
    info.audioTracks = {"Rendszerhang"};
    info.save(file);
    return file;
}

// A window on `file`, shown and active, its model loaded (or failed).
inline std::unique_ptr<EditorWindow> openEditor(const std::filesystem::path& file)
{
    auto window = std::make_unique<EditorWindow>(file);
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->show();
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_TRUE(runUntil([&] { return window->model().isLoaded() || window->model().loadError(); }));
    return window;
}

} // namespace ondexa::testing
