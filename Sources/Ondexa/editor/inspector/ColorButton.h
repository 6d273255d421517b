#pragma once

#include <QAbstractButton>
#include <QColor>

#include <functional>
#include <optional>

namespace ondexa {

// A colour well: a swatch that opens a modal colour dialog with opacity.
// Each colour the user confirms is reported once by `picked`; an invalid
// colour from the dialog is reported as plain red. `setColor` from code
// reports nothing.
class ColorButton : public QAbstractButton {
    Q_OBJECT

public:
    // Asks the user for a colour, starting from `current`; none when cancelled.
    using Dialog = std::function<std::optional<QColor>(const QColor& current, QWidget* parent, const QString& title)>;

    explicit ColorButton(const QString& title, QWidget* parent = nullptr);

    QColor color() const { return color_; }
    void setColor(const QColor& color);
    // Opens the dialog as a click does.
    void choose();

    // The dialog every colour button uses; a null one restores QColorDialog.
    static void setDialog(Dialog dialog);

    QSize sizeHint() const override;

signals:
    void picked(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString title_;
    QColor color_;
};

} // namespace ondexa
