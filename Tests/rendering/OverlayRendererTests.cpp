// Overlay drawing: the text box rule, text inside its box, backgrounds,
// shadows, shapes and arrow heads, checked at pixels computed from the rules.

#include "Ondexa/rendering/OverlayRenderer.h"

#include "rendering/GuiTestApplication.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QImage>

#include <cmath>

using namespace ondexa;
using OverlayRenderer::OverlayImage;

namespace {

// Liberation Sans: (ascender + descender + line gap) / units per em, from its
// hhea table (1854, 434, 67; 2048).
constexpr double lineHeightPerPoint = (1854.0 + 434.0 + 67.0) / 2048.0;

// The premultiplied pixel of the output picture that an overlay image stands for.
QRgb at(const OverlayImage& drawn, int x, int y)
{
    const QPoint local = QPoint(x, y) - drawn.origin;
    if (drawn.image.isNull() || !drawn.image.rect().contains(local)) return 0;
    return reinterpret_cast<const QRgb*>(drawn.image.constScanLine(local.y()))[local.x()];
}

Overlay red(OverlayKind kind, NRect rect = {}, double lineWidth = 0.01)
{
    Overlay overlay;
    overlay.kind = kind;
    overlay.rect = rect;
    overlay.lineWidth = lineWidth;
    overlay.fontSize = 0.05;
    overlay.color = RGBA{1, 0, 0, 1};
    return overlay;
}

Overlay text(std::string string, NRect rect)
{
    Overlay overlay = red(OverlayKind::text, rect, 0);
    overlay.text = std::move(string);
    return overlay;
}

OverlayImage draw(const Overlay& overlay, QSize size = {1000, 1000})
{
    const auto drawn = OverlayRenderer::render(overlay, size);
    EXPECT_TRUE(drawn.has_value());
    return drawn.value_or(OverlayImage{});
}

// The bounding box of the text's own (red) ink, leaving out its black shadow.
QRect redInk(const OverlayImage& drawn)
{
    QRect ink;
    for (int y = 0; y < drawn.image.height(); ++y)
        for (int x = 0; x < drawn.image.width(); ++x)
            if (qRed(reinterpret_cast<const QRgb*>(drawn.image.constScanLine(y))[x]) > 40)
                ink |= QRect(drawn.origin + QPoint(x, y), QSize(1, 1));
    return ink;
}

} // namespace

TEST(OverlayRenderer, FontIsBoldDefaultFamilyAtLeastFourPoints)
{
    Overlay overlay = text("", {0, 0, 0.5, 0.1});
    auto attributed = OverlayRenderer::attributed(overlay, 720);
    EXPECT_EQ(attributed.text, QStringLiteral(" "));  // an empty text still has a line
    EXPECT_DOUBLE_EQ(attributed.font.pointSizeF(), 36);
    EXPECT_EQ(QFontInfo(attributed.font).family(), QStringLiteral("Liberation Sans"));
    EXPECT_TRUE(QFontInfo(attributed.font).bold());

    overlay.fontSize = 0.001;  // 0.72 points at this height
    overlay.bold = false;
    overlay.fontFamily = "Nincs Ilyen Betűcsalád";
    attributed = OverlayRenderer::attributed(overlay, 720);
    EXPECT_DOUBLE_EQ(attributed.font.pointSizeF(), 4);
    EXPECT_FALSE(QFontInfo(attributed.font).bold());
    EXPECT_EQ(QFontInfo(attributed.font).family(), QStringLiteral("Liberation Sans"));
}

TEST(OverlayRenderer, TextBoxHeightIsPaddingPlusLinesAtTheReferenceHeight)
{
    // 50 points at the reference height: padding 17.5 on each side.
    const double line = 50 * lineHeightPerPoint, aspect = 16.0 / 9.0;
    EXPECT_NEAR(OverlayRenderer::textBoxHeight(text("", {0, 0, 0.5, 0.1}), aspect), (35 + line) / 1000, 0.001);
    EXPECT_NEAR(OverlayRenderer::textBoxHeight(text("Első\nmásodik", {0, 0, 0.5, 0.1}), aspect),
                (35 + 2 * line) / 1000, 0.001);
    // A text too long for its box wraps into whole lines.
    const Overlay narrow = text("Egy hosszabb szöveg, amely több sorba tördelődik", {0, 0, 0.15, 0.1});
    const double lines = (OverlayRenderer::textBoxHeight(narrow, aspect) * 1000 - 35) / line;
    EXPECT_GE(lines, 2.9);
    EXPECT_NEAR(lines, std::round(lines), 0.01);

    // The rule depends on the aspect only; position and width come from rect.
    const Overlay overlay = text("Szöveg", {0.1, 0.2, 0.5, 0.9});
    const QRectF small = OverlayRenderer::textBox(overlay, QSizeF(1280, 720));
    EXPECT_EQ(small.topLeft(), QPointF(128, 144));
    EXPECT_DOUBLE_EQ(small.width(), 640);
    EXPECT_NEAR(small.height(), (35 + line) / 1000 * 720, 0.72);
    EXPECT_NEAR(OverlayRenderer::textBox(overlay, QSizeF(2560, 1440)).height(), 2 * small.height(), 1e-9);
}

TEST(OverlayRenderer, DrawnTextStaysInsideItsMeasuredBox)
{
    const QSize size(333, 187);
    Overlay overlay = text("Egy hosszabb szöveg, amely több sorba tördelődik a keskeny dobozban", {0.3, 0.1, 0.2, 0.1});
    overlay.alignment = TextAlignment::justified;
    const QRect ink = redInk(draw(overlay, size));
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_TRUE(OverlayRenderer::textBox(overlay, QSizeF(size)).adjusted(-1, -1, 1, 1).contains(QRectF(ink)));
}

TEST(OverlayRenderer, BackgroundHugsTheTextOnTheSideOfItsAlignment)
{
    const QSize size(1280, 720);
    const double padding = 0.35 * 0.05 * 720;  // 12.6
    Overlay overlay = text("Hi", {0.1, 0.1, 0.6, 0.2});
    overlay.background = true;
    const QRectF box = OverlayRenderer::textBox(overlay, QSizeF(size));
    const double textWidth =
        OverlayRenderer::suggestedSize(OverlayRenderer::attributed(overlay, 720), box.width() - 2 * padding).width();
    const double hugging = std::ceil(textWidth) + 2 * padding + 2;
    ASSERT_LT(hugging + 20, box.width());
    const int middle = int(box.center().y());

    struct Case {
        TextAlignment alignment;
        double left, width;
    };
    for (const Case& c : {
             Case{TextAlignment::left, box.left(), hugging},
             Case{TextAlignment::center, box.center().x() - hugging / 2, hugging},
             Case{TextAlignment::right, box.right() - hugging, hugging},
             Case{TextAlignment::justified, box.left(), box.width()},
         }) {
        overlay.alignment = c.alignment;
        const OverlayImage drawn = draw(overlay, size);
        const double right = c.left + c.width;
        SCOPED_TRACE(::testing::Message() << "alignment " << int(c.alignment) << ", background " << c.left << " … "
                                          << right);
        EXPECT_NEAR(qAlpha(at(drawn, int(c.left + 4), middle)), 153, 2);  // black at 0.6
        EXPECT_EQ(qAlpha(at(drawn, int(c.left - 3), middle)), 0);
        EXPECT_NEAR(qAlpha(at(drawn, int(right - 4), middle)), 153, 2);
        EXPECT_EQ(qAlpha(at(drawn, int(right + 3), middle)), 0);
    }
    // Centred, the text itself sits in the middle of the box too.
    overlay.alignment = TextAlignment::center;
    EXPECT_NEAR(redInk(draw(overlay, size)).center().x(), box.center().x(), 3);
}

TEST(OverlayRenderer, ShapesAreStrokedInsideTheirRectangleWithAShadowBelow)
{
    // 1000 × 1000: line width 10, shadow 4 px down, blur 15.
    const OverlayImage rectangle = draw(red(OverlayKind::rectangle, {0.2, 0.3, 0.4, 0.2}));
    EXPECT_EQ(at(rectangle, 205, 400), qRgba(255, 0, 0, 255));
    EXPECT_EQ(qAlpha(at(rectangle, 400, 400)), 0);
    // Shadow: 0.45 × (Φ(1/3) − Φ(−1)) ≈ 0.212 just below the lower band,
    // 0.45 × (Φ(2.2) − Φ(0.867)) ≈ 0.081 just above the upper one.
    const QRgb below = at(rectangle, 400, 501), above = at(rectangle, 400, 297);
    EXPECT_EQ(qRed(below) + qRed(above), 0);
    EXPECT_NEAR(qAlpha(below), 54, 8);
    EXPECT_NEAR(qAlpha(above), 21, 6);

    const OverlayImage ellipse = draw(red(OverlayKind::ellipse, {0.2, 0.3, 0.4, 0.2}));
    EXPECT_EQ(qRed(at(ellipse, 400, 305)), 255);
    EXPECT_EQ(qRed(at(ellipse, 205, 305)), 0);
    // A line width of 0 draws one pixel wide.
    const OverlayImage thin = draw(red(OverlayKind::rectangle, {0.2, 0.3, 0.4, 0.2}, 0));
    EXPECT_EQ(at(thin, 200, 400), qRgba(255, 0, 0, 255));
    EXPECT_EQ(qRed(at(thin, 201, 400)), 0);
    // Zoom areas and pictures-in-picture are not drawn as overlays.
    EXPECT_TRUE(draw(red(OverlayKind::zoom, {0.2, 0.3, 0.4, 0.2})).image.isNull());
    EXPECT_TRUE(draw(red(OverlayKind::pip, {0.2, 0.3, 0.4, 0.2})).image.isNull());
}

TEST(OverlayRenderer, ArrowHeadIsBoundedByLength)
{
    // 20 px long: head 12 px (0.6 of the length), base at x = 508, 14.4 px wide.
    Overlay overlay = red(OverlayKind::arrow);
    overlay.from = NPoint{0.5, 0.5};
    overlay.to = NPoint{0.52, 0.5};
    const OverlayImage arrow = draw(overlay);
    EXPECT_EQ(qRed(at(arrow, 508, 505)), 255);
    EXPECT_EQ(qRed(at(arrow, 505, 506)), 0);
}
