#include "Ondexa/selftest/TestPlan.h"

#include <algorithm>
#include <array>

namespace ondexa::selftest {

namespace {

constexpr std::array order{TestKind::recorder, TestKind::feature,    TestKind::fade,
                           TestKind::move,     TestKind::gap,        TestKind::transition,
                           TestKind::exporting, TestKind::snapshot,  TestKind::edit};

} // namespace

std::filesystem::path argumentPath(const QString& argument, const std::filesystem::path& currentFolder)
{
    // The whole argument is the path: "--fadetest" after a short flag is a
    // file of that name in the current folder. Qt's 8-bit form is the
    // file-system encoding.
    std::filesystem::path path(argument.toLocal8Bit().toStdString());
    return path.is_absolute() ? path : currentFolder / path;
}

const char* flagOf(TestKind kind)
{
    switch (kind) {
    case TestKind::recorder: return "--selftest";
    case TestKind::feature: return "--featuretest";
    case TestKind::fade: return "--fadetest";
    case TestKind::move: return "--movetest";
    case TestKind::gap: return "--gaptest";
    case TestKind::transition: return "--transitiontest";
    case TestKind::exporting: return "--exporttest";
    case TestKind::snapshot: return "--snapshot";
    case TestKind::edit: return "--edittest";
    }
    return "";
}

int pathCountOf(TestKind kind)
{
    switch (kind) {
    case TestKind::recorder: return 0;
    case TestKind::move: return 3;
    case TestKind::snapshot: return 1;
    default: return 2;
    }
}

TestPlan planTests(const QStringList& arguments, const std::filesystem::path& currentFolder)
{
    TestPlan plan;
    if (arguments.size() < 2) return plan;
    // Files from the desktop arrive as arguments here; they are no test run.
    const bool anyFlag = std::any_of(arguments.begin() + 1, arguments.end(),
                                     [](const QString& a) { return a.startsWith(QLatin1String("--")); });
    if (!anyFlag) return plan;
    plan.launchLine = "Önteszt indul: " + arguments[1].toStdString();

    for (const TestKind kind : order) {
        const qsizetype i = arguments.indexOf(QLatin1String(flagOf(kind)), 1);
        if (i < 0) continue;
        const int n = pathCountOf(kind);
        if (i + n >= arguments.size()) continue;
        PlannedTest test{kind, {}};
        for (int k = 1; k <= n; ++k) test.paths.push_back(argumentPath(arguments[i + k], currentFolder));
        plan.tests.push_back(std::move(test));
    }
    return plan;
}

} // namespace ondexa::selftest
