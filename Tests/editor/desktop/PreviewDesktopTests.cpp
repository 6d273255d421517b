// The preview in a window of the test desktop, driven by the X server's own
// pointer and keyboard: a clip dragged on the picture moves, and one Ctrl+Z
// puts it back.

#include "DesktopInput.h"

#include "Ondexa/editor/PlayerView.h"
#include "Ondexa/editor/PreviewCanvas.h"
#include "editing/EditTestSupport.h"
#include "support/TempFolder.h"
#include "support/WidgetTestApplication.h"

#include <QShortcut>
#include <QVBoxLayout>

#include <chrono>
#include <cmath>
#include <memory>
#include <string>

namespace ondexa::testing {
namespace {

TEST(PreviewDesktop, AClipDraggedWithThePointerMovesAndOneUndoPutsItBack)
{
    TempFolder folder;
    Clip camera = clipAt(0, 10);
    camera.frame = NRect{0.1, 0.1, 0.3, 0.3};
    auto model = editorWith(folder.path, {trackWith("Kamera", {camera}), trackWith("Képernyő", {clipAt(0, 10)})});
    model->clock().setTime(1);
    PlayerView player(*model);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Előnézet húzása"));
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* canvas = new PreviewCanvas(*model, player, &window);
    layout->addWidget(canvas);
    // What the editor's menu does with Ctrl+Z.
    QShortcut undo(QKeySequence::Undo, &window);
    QObject::connect(&undo, &QShortcut::activated, model.get(), &EditorModel::undo);
    window.resize(800, 450);
    window.show();
    ASSERT_TRUE(runUntil([&] { return canvas->isVisible() && canvas->width() == 800; }, std::chrono::seconds(10)));
    runUntil([] { return false; }, std::chrono::milliseconds(300));

    // The camera clip's centre, (0.25, 0.25) of the 800 × 450 picture.
    const QPoint from = canvas->mapToGlobal(QPoint(200, 112));
    const QPoint to = from + QPoint(80, 45);
    ASSERT_EQ(xdotool("mousemove --sync " + std::to_string(from.x()) + " " + std::to_string(from.y())), 0);
    ASSERT_EQ(xdotool("mousedown 1"), 0);
    for (int step = 1; step <= 4; ++step) {
        const QPoint at = from + (to - from) * step / 4;
        xdotool("mousemove --sync " + std::to_string(at.x()) + " " + std::to_string(at.y()));
    }
    ASSERT_EQ(xdotool("mouseup 1"), 0);

    const auto frame = [&] { return *model->tracks()[0].clips[0].frame; };
    EXPECT_TRUE(runUntil([&] { return std::abs(frame().x - 0.2) < 1e-9 && std::abs(frame().y - 0.2) < 1e-9; },
                         std::chrono::seconds(10)))
        << "frame at " << frame().x << ", " << frame().y;
    EXPECT_EQ(model->selectedClips(), std::set<Uuid>{camera.id});
    EXPECT_EQ(model->undoStack().size(), 1u) << "the whole drag is one undo step";

    window.activateWindow();
    const std::string id = std::to_string(window.winId());
    xdotool("windowfocus --sync " + id);
    ASSERT_EQ(xdotool("key ctrl+z"), 0);
    EXPECT_TRUE(runUntil([&] { return frame() == NRect{0.1, 0.1, 0.3, 0.3}; }, std::chrono::seconds(10)));
    EXPECT_FALSE(model->canUndo());
}

} // namespace
} // namespace ondexa::testing
