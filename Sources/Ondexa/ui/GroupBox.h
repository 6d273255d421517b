#pragma once

#include <QWidget>

namespace ondexa {

// The group of a settings form: a rounded, faintly lit box that lets the
// dark backdrop show through.
class GroupBox : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace ondexa
