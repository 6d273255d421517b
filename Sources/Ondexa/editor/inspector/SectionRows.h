#pragma once

// Rows that the clip, action, track and partner sections share beyond the
// inspector's common rows: a title with its symbol, a value line, a symbol
// button, and the pair of fade sliders whose ranges follow each other.

#include "Ondexa/model/Timeline.h"
#include "Ondexa/model/Uuid.h"

#include <QWidget>

#include <optional>

class QAbstractButton;
class QHBoxLayout;
class QLabel;
class QToolButton;
class QVBoxLayout;

namespace ondexa {

class ElidedLabel;

class EditorModel;
class SliderRow;

// A symbol and a title in the headline font on one line (elided when it
// doesn't fit), then a flexible space and room for buttons.
class TitleRow : public QWidget {
    Q_OBJECT

public:
    TitleRow(const QString& symbol, const QString& title, QWidget* parent = nullptr);

    QString title() const { return title_; }
    QString symbol() const { return symbol_; }
    void setTitle(const QString& symbol, const QString& title);
    void addButton(QAbstractButton* button);

private:
    QString symbol_;
    QString title_;
    QLabel* icon_ = nullptr;
    ElidedLabel* text_ = nullptr;
    QHBoxLayout* row_ = nullptr;
};

// A label, a flexible space and a value in monospaced digits and the
// secondary style, then room for buttons.
class ValueRow : public QWidget {
    Q_OBJECT

public:
    ValueRow(const QString& label, QWidget* parent = nullptr);

    QString label() const;
    QString valueText() const;
    void setValueText(const QString& text);
    void addButton(QAbstractButton* button);

private:
    QLabel* label_ = nullptr;
    QLabel* value_ = nullptr;
    QHBoxLayout* row_ = nullptr;
};

// A flat button that shows only a symbol.
QToolButton* symbolButton(const QString& symbol, const QString& toolTip, QWidget* parent = nullptr);
// The same in the destructive colour.
QToolButton* deleteButton(const QString& toolTip, QWidget* parent = nullptr);

// "Fade in" and "Fade out" of a clip: each slider ends where the other fade
// leaves off. A slider whose end moves is replaced in place, unless it is
// held (its own end never moves while it is dragged). With a clip id the
// values go to that clip (a linked partner), else to the selected clip.
class FadeRows : public QWidget {
    Q_OBJECT

public:
    FadeRows(EditorModel& model, std::optional<Uuid> clipID, const Clip& clip, QWidget* parent = nullptr);

    SliderRow* fadeIn() const { return in_; }
    SliderRow* fadeOut() const { return out_; }
    void refresh(const Clip& clip);

private:
    SliderRow* makeRow(bool in, double limit);
    void show(SliderRow*& row, bool in, double limit, double value);

    EditorModel& model_;
    std::optional<Uuid> clipID_;
    QVBoxLayout* column_ = nullptr;
    SliderRow* in_ = nullptr;
    SliderRow* out_ = nullptr;
};

} // namespace ondexa
