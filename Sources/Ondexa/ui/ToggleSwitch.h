#pragma once

#include <QAbstractButton>

namespace ondexa {

// An on/off switch: a capsule whose knob slides right and turns the accent
// colour when on. Checkable; `toggled` says when the user flips it.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT

public:
    explicit ToggleSwitch(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace ondexa
