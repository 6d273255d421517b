// The level bar as drawn: how much of it is filled, in which colour.

#include "support/WidgetTestApplication.h"

#include "Ondexa/app/LevelMeter.h"
#include "Ondexa/ui/Theme.h"

#include <QImage>

namespace ondexa {
namespace {

bool near(QRgb pixel, const QColor& color)
{
    return std::abs(qRed(pixel) - color.red()) < 12 && std::abs(qGreen(pixel) - color.green()) < 12
           && std::abs(qBlue(pixel) - color.blue()) < 12;
}

TEST(LevelMeter, FillsLinearlyInDecibelsWithThreeColours)
{
    const struct {
        float level;
        double filled;  // of the width
        QColor color;
    } cases[] = {
        {0.5f, 0.90, Theme::yellow()},  // −6 dB
        {0.1f, 2.0 / 3, Theme::green()},  // −20 dB
        {0.25f, 0.80, Theme::green()},  // −12.04 dB: not above −12
        {0.75f, 0.958, Theme::red()},  // −2.5 dB
        {1.0f, 1.0, Theme::red()},
        {1.6f, 1.0, Theme::red()},
        {0.001f, 0.0, Theme::green()},  // −60 dB
        {0.0f, 0.0, Theme::green()},
    };
    const int width = 400;
    for (const auto& c : cases) {
        LevelMeter meter;
        meter.resize(width, LevelMeter::barHeight);
        meter.setLevel(c.level);
        EXPECT_EQ(meter.height(), 6);
        QImage picture(meter.size(), QImage::Format_ARGB32);
        picture.fill(Qt::black);
        meter.render(&picture);
        int filled = 0;
        for (int x = 0; x < width; ++x) filled += near(picture.pixel(x, 3), c.color);
        EXPECT_NEAR(double(filled) / width, c.filled, 0.01) << c.level;
        EXPECT_EQ(LevelMeter::color(c.level), c.color) << c.level;
        // The rest is the faint track, never the fill colour of another level.
        if (c.filled < 0.95) {
            EXPECT_FALSE(near(picture.pixel(width - 4, 3), c.color)) << c.level;
        }
    }
}

} // namespace
} // namespace ondexa
