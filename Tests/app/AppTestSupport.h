#pragma once

// The record window's tests: a controller over the fake system with a
// display, two windows, a camera and audio inputs, and helpers to find the
// view's parts by name.

#include "support/WidgetTestApplication.h"  // before the fakes: widgets need a QApplication
#include "recording/AppStateFakes.h"

#include <QWidget>

namespace ondexa::testing {

class RecordWindowTest : public AppStateTest {
protected:
    RecordWindowTest()
    {
        system.content.displays[0].name = "DP-1";
        platform::ScreenWindow editor;
        editor.id = 41;
        editor.application = "Szövegszerkesztő";
        editor.title = "jegyzet.txt";
        editor.frame = QRect(100, 100, 800, 600);
        editor.onScreen = true;
        editor.pid = 5151;  // another program: the controller leaves out its own windows
        platform::ScreenWindow browser = editor;
        browser.id = 42;
        browser.application = "Böngésző";
        browser.title = "Kezdőlap";
        system.content.windows = {editor, browser};
        system.cameras = {CameraCapture::Device{"usb-cam-1", "USB-kamera", "/dev/video0"}};
        system.mics = {device("iface", 4), device("mic", 1)};
    }

    template <typename T = QWidget>
    static T* part(const QWidget& view, const char* name)
    {
        T* found = view.findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    static bool shown(const QWidget& view, const char* name)
    {
        const QWidget* w = view.findChild<QWidget*>(name);
        return w && w->isVisibleTo(&view);
    }
};

} // namespace ondexa::testing
