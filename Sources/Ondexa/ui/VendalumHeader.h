#pragma once

#include <QWidget>

class QLabel;

namespace ondexa {

// The header atop the record window, the inspector and the export dialog:
// the application's icon with an accent glow, "VENDALUM" in metal and a
// subtitle shown as given.
class VendalumHeader : public QWidget {
    Q_OBJECT

public:
    explicit VendalumHeader(const QString& subtitle, QWidget* parent = nullptr);

    QString subtitle() const;
    static constexpr int iconSize = 46;

protected:
    void changeEvent(QEvent* event) override;

private:
    void refreshIcon();

    QLabel* icon_ = nullptr;
    QLabel* subtitle_ = nullptr;
};

} // namespace ondexa
