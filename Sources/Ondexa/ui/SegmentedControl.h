#pragma once

#include <QWidget>

class QButtonGroup;
class QHBoxLayout;

namespace ondexa {

// A row of mutually exclusive choices joined into one rounded control.
class SegmentedControl : public QWidget {
    Q_OBJECT

public:
    explicit SegmentedControl(QWidget* parent = nullptr);

    void addSegment(const QString& text);
    int count() const;
    QString text(int index) const;
    int currentIndex() const;  // -1 when none is chosen
    // Chooses a segment without emitting `activated`.
    void setCurrentIndex(int index);

signals:
    // The user chose a segment.
    void activated(int index);

private:
    QButtonGroup* group_;
    QHBoxLayout* row_;
};

} // namespace ondexa
