#pragma once

class QCoreApplication;

namespace ondexa {

// Qt's own texts (the file dialog's columns, standard buttons, context menus)
// in Hungarian, like the rest of the program. False when the translation is
// not installed; the texts then stay English.
bool installHungarianQtTexts(QCoreApplication& application);

} // namespace ondexa
