#include "Ondexa/selftest/ScenarioTests.h"

namespace ondexa::selftest {

Task fadeTest(AppState&, std::filesystem::path, std::filesystem::path) { co_return; }
Task moveTest(AppState&, std::filesystem::path, std::filesystem::path, std::filesystem::path) { co_return; }
Task gapTest(AppState&, std::filesystem::path, std::filesystem::path) { co_return; }
Task transitionTest(AppState&, std::filesystem::path, std::filesystem::path) { co_return; }
Task editTest(AppState&, std::filesystem::path, std::filesystem::path) { co_return; }

} // namespace ondexa::selftest
