#pragma once

// Which built-in tests a command line asks for, decided from the arguments
// alone. The tests run in the fixed order of `TestKind`, whatever the order
// of the flags, each at most once.

#include <QStringList>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ondexa::selftest {

enum class TestKind {
    recorder,    // "--selftest"
    feature,     // "--featuretest" source folder
    fade,        // "--fadetest" source folder
    move,        // "--movetest" source image folder
    gap,         // "--gaptest" source folder
    transition,  // "--transitiontest" source folder
    exporting,   // "--exporttest" source folder
    snapshot,    // "--snapshot" folder
    edit,        // "--edittest" source output
};

// The flag of a test and how many paths follow it.
const char* flagOf(TestKind kind);
int pathCountOf(TestKind kind);

struct PlannedTest {
    TestKind kind;
    std::vector<std::filesystem::path> paths;  // absolute, in command-line order
    friend bool operator==(const PlannedTest&, const PlannedTest&) = default;
};

struct TestPlan {
    // "Önteszt indul: " and the first argument after the program path.
    std::optional<std::string> launchLine;
    std::vector<PlannedTest> tests;
    friend bool operator==(const TestPlan&, const TestPlan&) = default;
};

// A command-line argument taken whole as a path; relative to `currentFolder`.
std::filesystem::path argumentPath(const std::string& argument,
                                   const std::filesystem::path& currentFolder = std::filesystem::current_path());

// `arguments` as argv's bytes (the program path first). A flag's paths are the arguments right after its first occurrence,
// taken verbatim even when they look like flags; a flag without enough of
// them is skipped. Relative paths are resolved against `currentFolder`.
// A launch whose arguments are only files from the desktop (none begins with
// "--") is no test run and writes no launch line.
TestPlan planTests(const std::vector<std::string>& arguments,
                   const std::filesystem::path& currentFolder = std::filesystem::current_path());

// "--help" or "-h" among the arguments (without the program path): the
// launch prints commandLineHelp() and ends, and starts nothing.
bool asksForHelp(const std::vector<std::string>& arguments);
// The command line: files, then each test flag with its paths and what it
// does, one line each.
std::string commandLineHelp();

} // namespace ondexa::selftest
