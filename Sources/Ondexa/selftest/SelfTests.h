#pragma once

// The built-in tests that command-line flags start (see TestPlan.h), run on
// the main thread by the recording controller's start-up task, one after the
// other. They report only through log lines; no failure stops them, none of
// them ends the program or sets an exit status.

#include "Ondexa/recording/AppState.h"
#include "Ondexa/selftest/Task.h"
#include "Ondexa/selftest/TestPlan.h"

#include <filesystem>
#include <string>
#include <vector>

namespace ondexa::selftest {

// Makes the controller's start-up task run the tests of this launch, named
// by `arguments` (argv's bytes, the program path first: a path need not be
// text). Called by the program before it first touches AppState::shared().
void installSelfTests(std::vector<std::string> arguments);
// The arguments installSelfTests() was given; else the process's, as text.
std::vector<std::string> commandLine();

// Logs the launch line and runs the planned tests in order.
Task runTests(AppState& state, TestPlan plan);

// The recorder and the windows ("--selftest", "--snapshot"). They read their
// option flags ("--fps60", "--area"; "--open" and its path) from the process's
// arguments, or from `arguments` (the program path first).
Task selfTest(AppState& state);
Task selfTest(AppState& state, std::vector<std::string> arguments);
Task snapshotWindows(AppState& state, std::filesystem::path folder);
Task snapshotWindows(AppState& state, std::filesystem::path folder, std::vector<std::string> arguments);

// PNG pictures of the visible top-level windows wider than 300, as
// "window<n>.png" in `folder`, n counting every window in creation order.
// Windows that can't be drawn and failed writes are passed over.
void saveWindowPictures(const std::filesystem::path& folder);

// The editor's file-producing features ("--featuretest") and a long export
// with a cancelled one ("--exporttest").
Task featureTest(AppState& state, std::filesystem::path source, std::filesystem::path folder);
Task exportTest(AppState& state, std::filesystem::path source, std::filesystem::path folder);

} // namespace ondexa::selftest
