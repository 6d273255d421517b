#pragma once

// Tests that use fonts need a QGuiApplication. Including this header makes
// one for the whole test run (once, however many files include it) and
// destroys it at the end, so that the leak checker sees Qt's font database
// torn down properly.

#include <gtest/gtest.h>

#include <QGuiApplication>

#include <memory>

namespace ondexa::testing {

class GuiTestApplication : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!QGuiApplication::instance())
            application_ = std::make_unique<QGuiApplication>(argc_, argv_);
    }
    void TearDown() override { application_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "rendering_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QGuiApplication> application_;
};

inline const bool guiTestApplicationRegistered =
    (::testing::AddGlobalTestEnvironment(new GuiTestApplication), true);

} // namespace ondexa::testing
