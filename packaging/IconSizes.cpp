// Draws the program's SVG icon as the PNG sizes the hicolor theme keeps, for
// desktops and menus that don't read SVG: icon-sizes SVG OUTDIR SIZE...
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: icon-sizes SVG OUTDIR SIZE...\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QIcon icon(QString::fromLocal8Bit(argv[1]));
    const QString out = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        const int size = QString::fromLatin1(argv[i]).toInt();
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        icon.paint(&painter, image.rect());
        painter.end();
        // A blank picture means the SVG plugin is missing: fail the build rather than install empty icons.
        bool drawn = false;
        for (int y = 0; y < size && !drawn; ++y)
            for (int x = 0; x < size && !drawn; ++x) drawn = qAlpha(image.pixel(x, y)) != 0;
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
        if (!drawn || !QDir().mkpath(dir) || !image.save(dir + QStringLiteral("/vendalum.png"))) {
            std::fprintf(stderr, "icon-sizes: could not draw %s at %d px\n", argv[1], size);
            return 1;
        }
    }
    return 0;
}
