#include "Ondexa/ui/Theme.h"

#include "Ondexa/ui/DarkWindows.h"
#include "Ondexa/ui/Symbols.h"

#include <QApplication>
#include <QStyleFactory>
#include <QWidget>

namespace ondexa {

namespace {
QColor rgb(double r, double g, double b) { return QColor::fromRgbF(float(r), float(g), float(b)); }
QColor white(double alpha) { return QColor::fromRgbF(1, 1, 1, float(alpha)); }
} // namespace

QColor Theme::background() { return rgb(0.047, 0.075, 0.15); }
QColor Theme::panel() { return rgb(0.075, 0.11, 0.21); }
QColor Theme::raised() { return rgb(0.11, 0.16, 0.29); }
QColor Theme::canvas() { return rgb(0.2, 0.25, 0.36); }
QColor Theme::accent() { return rgb(0.27, 0.58, 1.0); }
QColor Theme::record() { return rgb(1.0, 0.25, 0.24); }
QColor Theme::orange() { return rgb(1.0, 0.62, 0.12); }

QColor Theme::red() { return rgb(1.0, 0.27, 0.23); }
QColor Theme::systemOrange() { return rgb(1.0, 0.62, 0.04); }
QColor Theme::yellow() { return rgb(1.0, 0.84, 0.04); }
QColor Theme::green() { return rgb(0.19, 0.82, 0.35); }
QColor Theme::blue() { return rgb(0.04, 0.52, 1.0); }
QColor Theme::primary() { return white(0.85); }
QColor Theme::secondary() { return white(0.55); }
QColor Theme::tertiary() { return white(0.25); }
QColor Theme::quaternary() { return white(0.10); }

QLinearGradient Theme::backdrop(const QRectF& rect)
{
    QLinearGradient g(rect.topLeft(), rect.bottomRight());
    g.setColorAt(0.0, rgb(0.06, 0.1, 0.2));
    g.setColorAt(0.5, rgb(0.08, 0.1, 0.24));
    g.setColorAt(1.0, rgb(0.14, 0.09, 0.27));
    return g;
}

QLinearGradient Theme::metal(const QRectF& rect)
{
    QLinearGradient g(rect.topLeft(), rect.bottomLeft());
    g.setColorAt(0.0, rgb(0.92, 0.92, 0.92));
    g.setColorAt(0.5, rgb(0.62, 0.68, 0.78));
    g.setColorAt(1.0, rgb(0.85, 0.85, 0.85));
    return g;
}

namespace {
QFont::Weight qtWeight(Theme::Weight weight)
{
    switch (weight) {
    case Theme::Weight::regular: return QFont::Normal;
    case Theme::Weight::medium: return QFont::Medium;
    case Theme::Weight::semibold: return QFont::DemiBold;
    case Theme::Weight::bold: return QFont::Bold;
    case Theme::Weight::heavy: return QFont::Black;
    }
    return QFont::Normal;
}

QFont family(const QString& name, int pixelSize, Theme::Weight weight)
{
    QFont f(name);
    f.setPixelSize(pixelSize);
    f.setWeight(qtWeight(weight));
    return f;
}
} // namespace

QFont Theme::font(int pixelSize, Weight weight) { return family("DejaVu Sans", pixelSize, weight); }

QFont Theme::monoFont(int pixelSize, Weight weight)
{
    QFont f = family("DejaVu Sans Mono", pixelSize, weight);
    f.setStyleHint(QFont::Monospace);
    return f;
}

QPalette Theme::palette()
{
    const QColor window = rgb(0.11, 0.12, 0.17);
    const QColor base = rgb(0.07, 0.08, 0.12);
    const QColor button = rgb(0.18, 0.2, 0.27);
    const QColor text = white(0.92);
    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, rgb(0.16, 0.17, 0.22));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, secondary());
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, red());
    p.setColor(QPalette::Light, rgb(0.3, 0.32, 0.4));
    p.setColor(QPalette::Midlight, rgb(0.24, 0.26, 0.33));
    p.setColor(QPalette::Mid, rgb(0.16, 0.17, 0.22));
    p.setColor(QPalette::Dark, rgb(0.05, 0.05, 0.08));
    p.setColor(QPalette::Shadow, QColor(0, 0, 0));
    p.setColor(QPalette::Highlight, accent());
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, accent());
    p.setColor(QPalette::LinkVisited, accent().darker(130));
    // Disabled controls dim their labels the way the form does.
    const QColor dim = white(0.35);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, dim);
    p.setColor(QPalette::Disabled, QPalette::Highlight, rgb(0.25, 0.3, 0.4));
    p.setColor(QPalette::Disabled, QPalette::Button, rgb(0.14, 0.15, 0.2));
    return p;
}

void Theme::apply(QApplication& application)
{
    application.setStyle(QStyleFactory::create("Fusion"));
    application.setPalette(palette());
    application.setFont(font(bodySize));
    Symbols::useIconTheme();
    application.setWindowIcon(appIcon());
    application.installEventFilter(new DarkWindows(&application));
}

QIcon Theme::appIcon() { return QIcon(QStringLiteral(":/vendalum.svg")); }

void Theme::style(QWidget& widget)
{
    widget.setPalette(palette());
    widget.setFont(font(bodySize));
}

} // namespace ondexa
