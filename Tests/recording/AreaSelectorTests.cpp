// The area a drag spans and the highlight's bands around an area.

#include "Ondexa/recording/AreaHighlight.h"
#include "Ondexa/recording/AreaSelector.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QMouseEvent>
#include <QWindow>

#include <filesystem>

using ondexa::AreaDrag;
using ondexa::AreaHighlight;

TEST(AreaDrag, SpansBothPointsWithinTheDisplayFromSixteenPointsOn)
{
    struct Case {
        QSize display;
        std::vector<QPointF> points;
        std::optional<QRectF> area;
    };
    const std::vector<Case> cases = {
        {{1000, 800}, {{100, 50}, {180, 90}, {300, 200}}, QRectF(100, 50, 200, 150)},  // later moves keep the start
        {{1000, 800}, {{300, 200}, {100, 50}}, QRectF(100, 50, 200, 150)},             // up and to the left
        {{640, 480}, {{-40.0, 10.4}, {900.0, 479.6}}, QRectF(0, 10, 640, 470)},        // rounded, on the display
        {{1000, 800}, {{200, 300}, {184, 284}}, QRectF(184, 284, 16, 16)},
        {{1000, 800}, {{10, 10}, {25, 210}}, std::nullopt},  // 15 × 200: a slip of the hand
        {{1000, 800}, {{5, 5}}, std::nullopt},               // a click
    };
    for (const auto& c : cases) {
        AreaDrag drag(c.display);
        for (QPointF at : c.points) drag.moveTo(at);
        EXPECT_EQ(drag.finish(), c.area) << c.points.front().x() << "," << c.points.front().y();
    }

    // A rejected drag starts over: the next has a start of its own.
    AreaDrag drag(QSize(1000, 800));
    drag.moveTo({10, 10});
    drag.moveTo({25, 210});
    EXPECT_FALSE(drag.finish());
    EXPECT_FALSE(drag.selection());
    drag.moveTo({200, 300});
    drag.moveTo({400, 400});
    EXPECT_EQ(drag.finish(), QRectF(200, 300, 200, 100));
}

TEST(AreaHighlight, BandsLeaveEveryPixelOfTheAreaFree)
{
    const QRect frame(1920, 0, 1280, 1024);  // a second display
    EXPECT_EQ(AreaHighlight::hole(frame, QRectF(100.5, 50, 200, 100.25)), QRect(2020, 50, 201, 101));
    const int w = AreaHighlight::frameWidth;
    for (AreaHighlight::Style style : {AreaHighlight::Style::dimmed, AreaHighlight::Style::outlineOnly})
        for (const QRectF& area : {QRectF(100.5, 50, 200, 100.25), QRectF(0, 0, 300, 200) /* in a corner */,
                                   QRectF(1200, 900, 500, 500) /* beyond the display */,
                                   QRectF(300, 200, -100, -50) /* stored the wrong way round */,
                                   QRectF(500, 500, 0, 0), QRectF(5000, 5000, 10, 10) /* off the display */,
                                   QRectF(0, 0, 1280, 1024) /* all of it */}) {
            SCOPED_TRACE(::testing::Message() << area.x() << "," << area.y() << " " << area.width() << "x"
                                              << area.height() << (style == AreaHighlight::Style::dimmed ? " dim" : ""));
            // Every band on the display, touching neither the hole nor another
            // band, and together the outer rectangle less the hole.
            const QRect hole = AreaHighlight::hole(frame, area);
            const auto bands = AreaHighlight::bands(frame, area, style);
            const QRect outer = style == AreaHighlight::Style::dimmed ? frame : hole.adjusted(-w, -w, w, w) & frame;
            long covered = 0;
            for (std::size_t i = 0; i < bands.size(); ++i) {
                EXPECT_TRUE(frame.contains(bands[i]));
                EXPECT_FALSE(bands[i].intersects(hole));
                for (std::size_t j = i + 1; j < bands.size(); ++j) EXPECT_FALSE(bands[i].intersects(bands[j]));
                covered += long(bands[i].width()) * bands[i].height();
            }
            const QRect inside = hole & outer;
            EXPECT_EQ(covered, long(outer.width()) * outer.height() - long(inside.width()) * inside.height());
        }
    // The outline is a ring two pixels wide.
    EXPECT_EQ(AreaHighlight::bands(frame, QRectF(100, 50, 200, 100), AreaHighlight::Style::outlineOnly),
              (std::vector<QRect>{QRect(2018, 48, 204, 2), QRect(2018, 150, 204, 2), QRect(2018, 50, 2, 100),
                                  QRect(2220, 50, 2, 100)}));
}

TEST(AreaSelector, TheSizeLabelGivesEveryDigitTheWidestDigitsCell)
{
    // Proportional digits, as many fonts have them: a 1 is narrow.
    const auto advance = [](QChar ch) -> double {
        if (ch == QLatin1Char('1')) return 4;
        if (ch == QLatin1Char('7')) return 6;
        if (ch.isDigit()) return 8;
        return ch == QLatin1Char(' ') ? 3 : 7;
    };
    struct Case {
        QString text;
        std::vector<double> offsets;
        double width;
    };
    const std::vector<Case> cases = {
        {"17 × 8", {2, 9, 16, 19, 26, 29}, 37},
        {"88 × 8", {0, 8, 16, 19, 26, 29}, 37},  // as wide as the line above
        {"", {}, 0},
    };
    for (const auto& c : cases) {
        const ondexa::MonospacedDigits run(c.text, advance);
        EXPECT_EQ(run.offsets, c.offsets) << c.text.toStdString();
        EXPECT_EQ(run.width, c.width) << c.text.toStdString();
    }
}

TEST(AreaSelector, TheSizeLabelStandsAboveTheSelectionInWhiteOnItsCapsule)
{
    QImage grey(800, 600, QImage::Format_RGB32);
    grey.fill(QColor(128, 128, 128));
    const platform::ScreenDisplay display{1, "screen", QRect(0, 0, 800, 600), true};
    ondexa::AreaSelector selector(display, grey, [](std::optional<QRectF>) {});
    QWindow* window = selector.window();
    const double ratio = 1 / window->devicePixelRatio();
    for (auto [type, at] : {std::pair{QEvent::MouseButtonPress, QPointF(100, 100)},
                            std::pair{QEvent::MouseMove, QPointF(317, 255)}}) {
        QMouseEvent event(type, at * ratio, at * ratio, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QGuiApplication::sendEvent(window, &event);
    }
    const QImage shot = selector.snapshot();
    std::filesystem::create_directories("screenshots");
    shot.save("screenshots/area-selector-size-label.png");

    // "217 × 155" on a black capsule from the selection's left edge, 30 points up.
    int white = 0, capsule = 0;
    for (int y = 70; y < 100; ++y)
        for (int x = 100; x < 200; ++x) {
            const QColor c = shot.pixelColor(x, y);
            if (c.red() > 230 && c.green() > 230 && c.blue() > 230) ++white;
            if (c.red() < 40) ++capsule;  // grey under black at 0.7
        }
    EXPECT_GT(white, 40);
    EXPECT_GT(capsule, 1000);
    // Beyond the label the dimmed picture is untouched.
    EXPECT_EQ(shot.pixelColor(400, 80), QColor(70, 70, 70));
}
