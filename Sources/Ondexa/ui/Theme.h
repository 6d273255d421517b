#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QLinearGradient>
#include <QPalette>
#include <QRectF>

class QApplication;
class QWidget;

namespace ondexa {

// The program's dark look in one place: the palette, the named colours, the
// two gradients and the fonts. Sizes given in points elsewhere are pixel
// sizes here.
class Theme {
public:
    Theme() = delete;

    // The palette.
    static QColor background();  // the timeline
    static QColor panel();       // the editor window
    static QColor raised();      // the track headers
    static QColor canvas();      // the preview canvas
    static QColor accent();      // controls, selections, the header's glow
    static QColor record();      // the record window's button
    static QColor orange();      // footer, track headers, export dialog

    // The system's named colours.
    static QColor red();
    static QColor systemOrange();
    static QColor yellow();
    static QColor green();
    static QColor blue();
    // Label and fill styles over a dark background: white at falling opacity.
    static QColor primary();
    static QColor secondary();
    static QColor tertiary();
    static QColor quaternary();

    // Top left to bottom right over `rect`.
    static QLinearGradient backdrop(const QRectF& rect);
    // Top to bottom over `rect`.
    static QLinearGradient metal(const QRectF& rect);

    enum class Weight { regular, medium, semibold, bold, heavy };
    static QFont font(int pixelSize, Weight weight = Weight::regular);
    static QFont monoFont(int pixelSize, Weight weight = Weight::regular);
    static constexpr int bodySize = 13;
    static constexpr int captionSize = 10;

    // The dark palette with Highlight = accent.
    static QPalette palette();
    // The program's own icon, from its resources.
    static QIcon appIcon();
    // Fusion, the dark palette, the system font, the icon theme, the
    // program's icon and dark title bars; once per application, before the
    // first window.
    static void apply(QApplication& application);
    // The same look for one window's content, whatever the application uses.
    static void style(QWidget& widget);
};

} // namespace ondexa
