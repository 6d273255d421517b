#pragma once

#include <QComboBox>
#include <QWidget>

class QFontMetricsF;

namespace ondexa {

// `text` as it fits in `width`: whole, or whole letters and "…"; empty where
// not even the ellipsis fits. For text drawn by hand (the timeline's clips).
QString elidedToFit(const QFontMetricsF& metrics, const QString& text, double width);

// One line of text that ends in "…" where it does not fit, never cut
// mid-letter; while cut, the whole text is its tooltip. It asks for its whole
// width but takes what it is given. Its colour is the palette's WindowText.
class ElidedLabel : public QWidget {
public:
    explicit ElidedLabel(const QString& text = {}, QWidget* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return text_; }
    void setAlignment(Qt::Alignment alignment);
    // The text as drawn at the present width.
    QString shownText() const;
    bool isElided() const { return shownText() != text_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refreshToolTip();

    QString text_;
    Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignVCenter;
};

// A picker whose chosen entry ends in "…" where the box is too narrow, with
// the whole entry as its tooltip (looked up when asked: pickers are refilled
// with their signals blocked); the open list elides entries itself.
class ElidedComboBox : public QComboBox {
public:
    explicit ElidedComboBox(QWidget* parent = nullptr);

    // The chosen entry as drawn at the present width.
    QString shownText() const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QRect textRect() const;
};

} // namespace ondexa
