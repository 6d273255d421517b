#pragma once

// The editing scenarios: fade, move, gap, transition and edit tests.

#include "Ondexa/recording/AppState.h"
#include "Ondexa/selftest/Task.h"

#include <filesystem>

namespace ondexa::selftest {

Task fadeTest(AppState& state, std::filesystem::path source, std::filesystem::path folder);
Task moveTest(AppState& state, std::filesystem::path source, std::filesystem::path image, std::filesystem::path folder);
Task gapTest(AppState& state, std::filesystem::path source, std::filesystem::path folder);
Task transitionTest(AppState& state, std::filesystem::path source, std::filesystem::path folder);
Task editTest(AppState& state, std::filesystem::path source, std::filesystem::path output);

} // namespace ondexa::selftest
