#pragma once

#include <QString>

class QCoreApplication;
class QFileDialog;
class QFileInfo;

namespace ondexa {

// Qt's own texts (the file dialog's columns, standard buttons, context menus)
// in Hungarian, like the rest of the program, and Hungarian as the default
// locale (dates, MIME type names). False when the translation is not
// installed; Qt's texts then stay English.
bool installHungarianQtTexts(QCoreApplication& application);

// The name the file dialogs show for a file's type: ours for the types the
// program reads and writes (project packages, folders themselves, included),
// and for folders; empty for the rest, which get the system's name.
QString fileTypeName(const QFileInfo& file);
// A file dialog of ours names types as above, writes sizes and dates in
// Hungarian (Qt's own model writes them in the desktop's locale) and labels
// its fields in Hungarian.
void speakHungarian(QFileDialog& dialog);

} // namespace ondexa
