#pragma once

// Driving the inspector in tests: a model from track lists with a panel over
// it, and user gestures on its rows sent as plain events.

#include "EditTestSupport.h"

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/editor/inspector/DoubleSlider.h"
#include "Ondexa/editor/inspector/InspectorPanel.h"
#include "support/TempFolder.h"
#include "support/WidgetTestApplication.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>

#include <memory>
#include <vector>

namespace ondexa::testing {

// The x of a slider's groove at `fraction` of its length.
inline int sliderX(const DoubleSlider& slider, double fraction)
{
    QStyleOptionSlider option;
    option.initFrom(&slider);
    option.orientation = Qt::Horizontal;
    option.minimum = slider.QSlider::minimum();
    option.maximum = slider.QSlider::maximum();
    option.sliderPosition = slider.sliderPosition();
    option.sliderValue = slider.QSlider::value();
    const QRect groove = slider.style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, &slider);
    const QRect handle = slider.style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &slider);
    const int span = groove.width() - handle.width();
    return groove.left() + handle.width() / 2 + int(span * fraction);
}

inline void sendMouse(QWidget& widget, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held)
{
    QMouseEvent event(type, QPointF(at), widget.mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

// Presses the slider's groove at the first fraction (a click jumps there),
// moves through the others and releases at the last.
inline void dragSlider(DoubleSlider& slider, const std::vector<double>& fractions)
{
    const int y = slider.height() / 2;
    sendMouse(slider, QEvent::MouseButtonPress, {sliderX(slider, fractions.front()), y}, Qt::LeftButton,
              Qt::LeftButton);
    for (std::size_t i = 1; i < fractions.size(); ++i)
        sendMouse(slider, QEvent::MouseMove, {sliderX(slider, fractions[i]), y}, Qt::NoButton, Qt::LeftButton);
    sendMouse(slider, QEvent::MouseButtonRelease, {sliderX(slider, fractions.back()), y}, Qt::LeftButton,
              Qt::NoButton);
}

inline void sendKey(QWidget& widget, int key, const QString& text = {})
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(&widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(&widget, &release);
}

inline void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

// A model made from track lists with the inspector over it, shown offscreen.
struct InspectorHarness {
    explicit InspectorHarness(std::vector<Track> tracks)
    {
        model = editorWith(folder.path, std::move(tracks));
        model->setRebuildStub([](double) {});
        panel = std::make_unique<InspectorPanel>(*model);
        panel->resize(280, 900);
        panel->show();
        QApplication::setActiveWindow(panel.get());
    }
    ~InspectorHarness()
    {
        panel.reset();
        flushDeletes();
    }

    std::size_t undoSteps() const { return model->undoStack().size(); }
    const Clip& clip(std::size_t track, std::size_t index) const { return model->tracks()[track].clips[index]; }

    TempFolder folder;
    std::unique_ptr<EditorModel> model;
    std::unique_ptr<InspectorPanel> panel;
};

} // namespace ondexa::testing
