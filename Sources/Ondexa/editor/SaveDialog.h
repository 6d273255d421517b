#pragma once

// The save dialog of the editor's documents: one file type, whose extension
// is added to a name that doesn't end in it.

#include <QString>

#include <filesystem>

class QFileDialog;
class QWidget;

namespace ondexa {

// A non-native dialog in the folder of `suggested` with its name filled in,
// offering only files "*.<extension>" under `typeName`; Hungarian labels.
// With `packages`, a folder named with the extension is a document of the
// type. Not yet shown; it deletes itself when closed.
QFileDialog* makeSaveDialog(QWidget* parent, const QString& title, const std::filesystem::path& suggested,
                            const QString& typeName, const QString& extension, bool packages = false);

} // namespace ondexa
