#include "Ondexa/model/Log.h"
#include "Ondexa/selftest/ScenarioTests.h"
#include "Ondexa/selftest/SelfTests.h"

#include <QCoreApplication>

#include <exception>

#include <optional>

namespace ondexa::selftest {

namespace {

Task run(AppState& state, const PlannedTest& test)
{
    const auto& p = test.paths;
    switch (test.kind) {
    case TestKind::recorder: return selfTest(state);
    case TestKind::feature: return featureTest(state, p[0], p[1]);
    case TestKind::fade: return fadeTest(state, p[0], p[1]);
    case TestKind::move: return moveTest(state, p[0], p[1], p[2]);
    case TestKind::gap: return gapTest(state, p[0], p[1]);
    case TestKind::transition: return transitionTest(state, p[0], p[1]);
    case TestKind::exporting: return exportTest(state, p[0], p[1]);
    case TestKind::snapshot: return snapshotWindows(state, p[0]);
    case TestKind::edit: return editTest(state, p[0], p[1]);
    }
    return selfTest(state);  // not reached: every kind is listed
}

} // namespace

Task runTests(AppState& state, TestPlan plan)
{
    if (plan.launchLine) logLine(*plan.launchLine);
    for (const PlannedTest& test : plan.tests) {
        try {
            co_await run(state, test);
        } catch (const std::exception& error) {
            // The tests report their own failures; one that escapes must not
            // pass unseen, nor keep the next test from running.
            logLine(std::string(flagOf(test.kind)) + " HIBA: " + error.what());
        }
    }
}

namespace {
std::optional<std::vector<std::string>>& installedArguments()
{
    static std::optional<std::vector<std::string>> arguments;
    return arguments;
}
} // namespace

std::vector<std::string> commandLine()
{
    if (installedArguments()) return *installedArguments();
    std::vector<std::string> arguments;
    for (const QString& argument : QCoreApplication::arguments()) arguments.push_back(argument.toStdString());
    return arguments;
}

void installSelfTests(std::vector<std::string> arguments)
{
    installedArguments() = std::move(arguments);
    AppState::setTestRunner([](AppState& state) {
        // The start-up task ends here; the tests go on in their own task.
        launch(runTests(state, planTests(commandLine())));
    });
}

} // namespace ondexa::selftest
