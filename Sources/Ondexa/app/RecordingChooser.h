#pragma once

#include "Ondexa/recording/AppState.h"

#include <functional>

class QFileDialog;
class QWidget;

namespace ondexa {

// The open dialog for a recording or a project: Qt's own (not the desktop's)
// dialog, so that a project package (a "*.vdlproj" folder, or any folder
// holding a "project.json") is chosen like a file: opening such a folder
// chooses it instead of showing its inside.
class RecordingChooser {
public:
    RecordingChooser() = delete;

    // Makes the dialog, starting in the recordings folder; not yet shown.
    static QFileDialog* makeDialog(QWidget* parent);
    // Shows the dialog, window-modal over `parent`, and calls `done` once with
    // the choice, or none when the user cancels.
    static QFileDialog* choose(QWidget* parent, AppState::Choice done);
    // Makes this dialog the controller's chooser; `parent` gives the window
    // it opens over at the moment it is asked.
    static void install(std::function<QWidget*()> parent);

    static constexpr const char* projectSuffix = ".vdlproj";
};

} // namespace ondexa
