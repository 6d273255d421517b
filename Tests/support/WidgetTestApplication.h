#pragma once

// Widget tests need a QApplication with the program's look. Including this
// header makes one for the whole test run and destroys it at the end; the
// screenshots of the windows a test builds go to the build's screenshots
// folder (ONDEXA_SCREENSHOTS), for a person to look at.

#include "Ondexa/ui/QtTexts.h"
#include "Ondexa/ui/Theme.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QWidget>

#include <memory>
#include <ostream>

QT_BEGIN_NAMESPACE
// Failures show texts as text.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace ondexa::testing {

class WidgetTestApplication : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!QApplication::instance()) {
            application_ = std::make_unique<QApplication>(argc_, argv_);
            Theme::apply(*application_);
            installHungarianQtTexts(*application_);
        }
    }
    void TearDown() override { application_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "widget_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};

inline const bool widgetTestApplicationRegistered =
    (::testing::AddGlobalTestEnvironment(new WidgetTestApplication), true);

// Saves what the widget shows as screenshots/<name>.png.
inline void saveScreenshot(QWidget& widget, const QString& name)
{
#ifdef ONDEXA_SCREENSHOTS
    const QDir folder(QStringLiteral(ONDEXA_SCREENSHOTS));
    folder.mkpath(".");
    widget.grab().save(folder.filePath(name + ".png"));
#else
    (void)widget;
    (void)name;
#endif
}

} // namespace ondexa::testing
