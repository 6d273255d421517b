#pragma once

#include <QDialog>

namespace ondexa {

// "A Vendalum névjegye": the header with the program's icon and name, and
// this build's version as the update check knows it.
class AboutDialog : public QDialog {
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);

    // "Verzió: 1.0 (10)": the version shown, then the one compared.
    static QString versionText();
};

} // namespace ondexa
