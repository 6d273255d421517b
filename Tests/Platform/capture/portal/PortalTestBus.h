#pragma once

// What the portal tests share: one application and one private session bus
// for the whole program, and a wait that keeps the event loop turning.

#include "support/PrivateBus.h"

#include <QCoreApplication>

#include <chrono>
#include <thread>

namespace portaltest {

inline QCoreApplication& application()
{
    static int argc = 1;
    static char name[] = "portal-tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return *app;
}

inline testsupport::PrivateBus& bus()
{
    static testsupport::PrivateBus instance;
    return instance;
}

template <typename Predicate>
bool pumpUntil(Predicate done)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace portaltest
