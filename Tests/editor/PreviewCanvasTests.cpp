// The preview pane's zoom and pan (wheel, trackpad, pinch and the badge),
// and what it draws: the picture with its marks and guides, saved as
// screenshots for a person to look at.

#include "Ondexa/editor/PlayerView.h"
#include "Ondexa/editor/PreviewCanvas.h"
#include "editing/EditTestSupport.h"
#include "support/TempFolder.h"
#include "support/WidgetTestApplication.h"

#include <QApplication>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QPushButton>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <memory>
#include <set>
#include <vector>

namespace ondexa::testing {
namespace {

class PreviewCanvasTest : public ::testing::Test {
protected:
    void make(QSize pane, std::vector<Track> tracks = {})
    {
        model = editorWith(folder.path, std::move(tracks));
        model->clock().setTime(1);
        player = std::make_unique<PlayerView>(*model);
        canvas = std::make_unique<PreviewCanvas>(*model, *player);
        canvas->resize(pane);
        canvas->show();
    }
    // Returns whether the canvas took the event.
    bool wheel(QPoint pixelDelta, QPoint angleDelta, Qt::KeyboardModifiers modifiers = {}, QPointF at = {200, 150})
    {
        QWheelEvent event(at, canvas->mapToGlobal(at), pixelDelta, angleDelta, Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        event.setAccepted(false);
        QApplication::sendEvent(canvas.get(), &event);
        return event.isAccepted();
    }
    bool pinch(double value, QPointF at = {200, 150})
    {
        QNativeGestureEvent event(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(), 2, at, at,
                                  canvas->mapToGlobal(at), value, QPointF(), 1);
        event.setAccepted(false);
        QApplication::sendEvent(canvas.get(), &event);
        return event.isAccepted();
    }
    void mouse(QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        QMouseEvent event(type, at, canvas->mapToGlobal(at), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(canvas.get(), &event);
    }
    // The scale set directly, without pan.
    void zoomTo(double scale) { canvas->zoom(scale / canvas->scale(), {}); }
    // A picture as the player would show it: a grey gradient with a lighter
    // box where `box` (picture units) lies.
    void showPicture(NRect box)
    {
        QImage picture(1600, 900, QImage::Format_RGB32);
        QPainter painter(&picture);
        QLinearGradient gradient(0, 0, 1600, 900);
        gradient.setColorAt(0, QColor(40, 40, 40));
        gradient.setColorAt(1, QColor(90, 90, 90));
        painter.fillRect(picture.rect(), gradient);
        painter.fillRect(QRectF(box.x * 1600, box.y * 900, box.w * 1600, box.h * 900), QColor(150, 150, 150));
        painter.end();
        emit model->player().frameChanged(picture);
    }

    TempFolder folder;
    std::unique_ptr<EditorModel> model;
    std::unique_ptr<PlayerView> player;
    std::unique_ptr<PreviewCanvas> canvas;
};

TEST_F(PreviewCanvasTest, ZoomPanAndPinchKeepThePictureOverThePane)
{
    make({400, 300});
    EXPECT_TRUE(canvas->zoomBadge().isHidden()) << "no badge at 100 %";

    canvas->zoom(2, {100, 50});
    EXPECT_DOUBLE_EQ(canvas->scale(), 2);
    EXPECT_EQ(canvas->offset(), QPointF(-100, -50)) << "the point under the anchor stays";
    EXPECT_FALSE(canvas->zoomBadge().isHidden());
    EXPECT_EQ(canvas->zoomBadge().text(), QString::fromUtf8("200 %  \u00B7  Illesztés"));

    canvas->zoom(1.5, {0, 0});
    EXPECT_DOUBLE_EQ(canvas->scale(), 3);
    EXPECT_EQ(canvas->offset(), QPointF(-150, -75)) << "about the centre the pan grows with the zoom";
    canvas->zoom(2.0 / 3, {0, 0});

    EXPECT_TRUE(wheel({500, 0}, {}));
    EXPECT_EQ(canvas->offset(), QPointF(200, -50)) << "a trackpad pans, up to the zoomed edge";
    EXPECT_TRUE(wheel({0, -1000}, {}));
    EXPECT_EQ(canvas->offset(), QPointF(200, -150));

    EXPECT_TRUE(pinch(-0.6));
    EXPECT_DOUBLE_EQ(canvas->scale(), 0.8);
    EXPECT_EQ(canvas->offset(), QPointF(0, 0)) << "no pan at or below 100 %";
    EXPECT_EQ(canvas->zoomBadge().text(), QString::fromUtf8("80 %  \u00B7  Illesztés"));
}

TEST_F(PreviewCanvasTest, WheelAndTrackpadZoomByTheirOwnRules)
{
    struct Case {
        const char* name;
        double from;
        QPoint pixels;  // a trackpad's precise deltas
        QPoint angle;   // a mouse wheel's, in eighths of a degree
        Qt::KeyboardModifiers modifiers;
        double scale;
    };
    const Case cases[] = {
        {"a wheel notch away from the user zooms in", 1, {}, {0, 120}, {}, 1.1},
        {"a wheel notch towards the user zooms out", 1, {}, {0, -120}, {}, 0.9},
        {"a wheel zooms with Ctrl alike", 1, {}, {0, 120}, Qt::ControlModifier, 1.1},
        {"ten notches back land exactly on the least", 1, {}, {0, -1200}, {}, 0.2},
        {"the most is 8", 4, {}, {0, 1200}, {}, 8},
        {"a trackpad scrolling down at 100 % does nothing", 1, {0, 10}, {}, {}, 1},
        {"a trackpad scrolling up at 100 % zooms out", 1, {0, -10}, {}, {}, 0.9},
        {"below 100 % both directions zoom", 0.5, {0, 10}, {}, {}, 0.55},
        {"sideways motion at 100 % does nothing", 1, {10, -10}, {}, {}, 1},
        {"sideways motion below 100 % does nothing", 0.5, {-20, 10}, {}, {}, 0.5},
        {"zoomed in, a trackpad pans instead", 2, {0, 10}, {}, {}, 2},
        {"with Ctrl a trackpad zooms even zoomed in", 2, {0, 10}, {}, Qt::ControlModifier, 2.2},
    };
    make({400, 300});
    for (const Case& c : cases) {
        zoomTo(c.from);
        ASSERT_DOUBLE_EQ(canvas->scale(), c.from) << c.name;
        EXPECT_TRUE(wheel(c.pixels, c.angle, c.modifiers)) << c.name << ": wheel events are always taken";
        EXPECT_NEAR(canvas->scale(), c.scale, 1e-12) << c.name;
    }
}

TEST_F(PreviewCanvasTest, AMouseWithoutATrackpadPansWithItsSidewaysWheelAndTheMiddleButton)
{
    make({400, 300});
    zoomTo(2);
    ASSERT_EQ(canvas->offset(), QPointF(0, 0));
    EXPECT_TRUE(wheel({}, {-120, 0}));
    EXPECT_DOUBLE_EQ(canvas->scale(), 2) << "a sideways notch does not zoom";
    EXPECT_EQ(canvas->offset(), QPointF(-40, 0));
    EXPECT_TRUE(wheel({}, {-1200, 0}));
    EXPECT_EQ(canvas->offset(), QPointF(-200, 0)) << "up to the zoomed edge";
    EXPECT_TRUE(wheel({}, {240, 0}));
    EXPECT_EQ(canvas->offset(), QPointF(-120, 0));

    // A middle-button drag moves the picture with the pointer.
    mouse(QEvent::MouseButtonPress, {200, 150}, Qt::MiddleButton, Qt::MiddleButton);
    mouse(QEvent::MouseMove, {230, 110}, Qt::NoButton, Qt::MiddleButton);
    EXPECT_EQ(canvas->offset(), QPointF(-90, -40));
    mouse(QEvent::MouseMove, {230, 500}, Qt::NoButton, Qt::MiddleButton);
    EXPECT_EQ(canvas->offset(), QPointF(-90, 150)) << "clamped at the edge";
    mouse(QEvent::MouseButtonRelease, {230, 500}, Qt::MiddleButton, Qt::NoButton);
    mouse(QEvent::MouseMove, {100, 100}, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(canvas->offset(), QPointF(-90, 150)) << "the pan ends with the release";
    EXPECT_DOUBLE_EQ(canvas->scale(), 2);

    // At 100 % there is nothing to pan.
    zoomTo(1);
    EXPECT_TRUE(wheel({}, {-120, 0}));
    mouse(QEvent::MouseButtonPress, {200, 150}, Qt::MiddleButton, Qt::MiddleButton);
    mouse(QEvent::MouseMove, {260, 150}, Qt::NoButton, Qt::MiddleButton);
    mouse(QEvent::MouseButtonRelease, {260, 150}, Qt::MiddleButton, Qt::NoButton);
    EXPECT_EQ(canvas->offset(), QPointF(0, 0));
    EXPECT_DOUBLE_EQ(canvas->scale(), 1);
}

TEST_F(PreviewCanvasTest, TheBadgeNamesTheZoomAndEasesBackToFit)
{
    make({400, 300});
    struct Case {
        double scale;
        const char* text;
    };
    const Case cases[] = {{1.5, "150 %  \u00B7  Illesztés"},
                          {0.2, "20 %  \u00B7  Illesztés"},
                          {1.004, "100 %  \u00B7  Illesztés"}};
    for (const Case& c : cases) {
        zoomTo(c.scale);
        EXPECT_FALSE(canvas->zoomBadge().isHidden()) << c.text;
        EXPECT_EQ(canvas->zoomBadge().text(), QString::fromUtf8(c.text));
    }
    const QRect badge = canvas->zoomBadge().geometry();
    EXPECT_EQ(badge.top(), PreviewCanvas::badgeMargin);
    EXPECT_EQ(canvas->width() - badge.right() - 1, PreviewCanvas::badgeMargin) << "in the top-right corner";

    canvas->zoom(2, {120, -60});
    ASSERT_NE(canvas->offset(), QPointF());
    canvas->zoomBadge().click();
    EXPECT_GT(canvas->scale(), 1) << "the return is animated, not a jump";
    EXPECT_TRUE(runUntil([&] { return canvas->scale() == 1; }, std::chrono::seconds(10)));
    EXPECT_EQ(canvas->offset(), QPointF());
    EXPECT_TRUE(canvas->zoomBadge().isHidden());
}

// Whether some strongly coloured pixel of `image` inside `area` has the hue
// of `colour` (the test picture is grey, so only marks are coloured there).
bool shows(const QImage& image, const QRect& area, const QColor& colour)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            const int apart = std::abs(pixel.hsvHue() - colour.hsvHue());
            if (pixel.hsvSaturation() >= 100 && std::min(apart, 360 - apart) < 20) return true;
        }
    return false;
}

TEST_F(PreviewCanvasTest, ScreenshotsOfMarksGuidesAndZoom)
{
    // An 800 × 500 pane: the picture is 800 × 450 from y = 25.
    Clip screen = clipAt(0, 10);
    Clip camera = clipAt(0, 10);
    camera.frame = NRect{0.3, 0.3, 0.4, 0.4};
    camera.actions = {};
    TrackAction zoomIn;
    zoomIn.end = 2;
    zoomIn.scale = 0.5;
    zoomIn.centerX = 0.25;
    zoomIn.centerY = 0.3;
    screen.actions = {zoomIn};
    make({800, 500}, {trackWith("Kamera", {camera}), trackWith("Képernyő", {screen})});
    showPicture(*camera.frame);

    // A grab of the camera clip held on the centre: its outline, corner dot and both guides.
    const QPointF centre(400, 250);
    mouse(QEvent::MouseButtonPress, centre, Qt::LeftButton, Qt::LeftButton);
    mouse(QEvent::MouseMove, centre + QPointF(4, -3), Qt::NoButton, Qt::LeftButton);
    ASSERT_EQ(model->selectedClips(), std::set<Uuid>{camera.id});
    ASSERT_EQ(canvas->editingLayer().guides(), (PreviewEditingLayer::Guides{true, true}));
    QImage image = canvas->grab().toImage();
    saveScreenshot(*canvas, "preview-clip-guides");
    // The outline's top edge at y = 25 + 0.3 × 450, from x = 240; the guides through the centre.
    EXPECT_TRUE(shows(image, QRect(240, 158, 6, 5), Theme::accent())) << "an accent outline";
    EXPECT_FALSE(shows(image, QRect(240, 158, 6, 5), Theme::yellow()));
    EXPECT_TRUE(shows(image, QRect(399, 60, 3, 1), Theme::yellow())) << "the vertical guide";
    EXPECT_TRUE(shows(image, QRect(100, 249, 1, 3), Theme::yellow())) << "the horizontal guide";
    mouse(QEvent::MouseButtonRelease, centre + QPointF(4, -3), Qt::LeftButton, Qt::NoButton);
    image = canvas->grab().toImage();
    EXPECT_FALSE(shows(image, QRect(399, 60, 3, 1), Theme::yellow())) << "no guides after the release";

    // The screen's action: its target (half size about (0.25, 0.3)) outlined in yellow.
    model->selectAction(screen.actions[0].id);
    image = canvas->grab().toImage();
    saveScreenshot(*canvas, "preview-action");
    // Its top edge at y = 25 + 0.05 × 450, from x = 0.
    EXPECT_TRUE(shows(image, QRect(1, 45, 6, 5), Theme::yellow())) << "a yellow outline";

    canvas->zoom(2, {-150, -80});
    saveScreenshot(*canvas, "preview-zoom-200");
    EXPECT_EQ(canvas->zoomBadge().text(), QString::fromUtf8("200 %  \u00B7  Illesztés"));
    // Zoomed out, the picture's outline and shadow show on the canvas.
    zoomTo(0.6);
    saveScreenshot(*canvas, "preview-zoom-60");
}

} // namespace
} // namespace ondexa::testing
