#include "Ondexa/selftest/TestPlan.h"

#include <algorithm>
#include <array>

namespace ondexa::selftest {

namespace {

constexpr std::array order{TestKind::recorder, TestKind::feature,    TestKind::fade,
                           TestKind::move,     TestKind::gap,        TestKind::transition,
                           TestKind::exporting, TestKind::snapshot,  TestKind::edit};

} // namespace

std::filesystem::path argumentPath(const std::string& argument, const std::filesystem::path& currentFolder)
{
    // The whole argument is the path: "--fadetest" after a short flag is a
    // file of that name in the current folder. Its bytes, as the file
    // system has them: a name need not be text.
    std::filesystem::path path(argument);
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

namespace {

// What follows the flag on the command line, and what the test does.
struct Usage {
    const char* arguments;
    const char* does;
};

Usage usageOf(TestKind kind)
{
    switch (kind) {
    case TestKind::recorder: return {"[--fps60] [--area]", "rövid valódi felvétel a tárolt beállításokkal"};
    case TestKind::feature:
        return {"F.mov KIMENET", "maximalizálás, M4A- és mátrixexport, képbeemelés, projekt"};
    case TestKind::fade: return {"F.mov KIMENET", "nagyon rövid darabok, átfedés, elhalkulás, export"};
    case TestKind::move: return {"F.mov kep.png KIMENET", "klipek áthúzása sávok között, export"};
    case TestKind::gap: return {"F.mov KIMENET", "lyuk az idővonalon, bezárása, projektként mentés"};
    case TestKind::transition: return {"F.mov KIMENET", "minden átmenet egy-egy filmben"};
    case TestKind::exporting: return {"F.mov KIMENET", "10 mp-es HEVC-export, majd egy megszakított"};
    case TestKind::snapshot: return {"KIMENET [--open F.mov]", "PNG-képek az ablakokról"};
    case TestKind::edit: return {"F.mov KIMENET/edit.mp4", "mindennapi szerkesztések, export"};
    }
    return {"", ""};
}

} // namespace

bool asksForHelp(const std::vector<std::string>& arguments)
{
    return std::any_of(arguments.begin(), arguments.end(),
                       [](const std::string& a) { return a == "--help" || a == "-h"; });
}

std::string commandLineHelp()
{
    std::string text =
        "Használat: vendalum [FÁJL…]\n"
        "A felvételeket és projekteket szerkesztőablakban nyitja meg; ha a Vendalum már fut, az kapja meg őket.\n"
        "\n"
        "Beépített öntesztek (egyszerre több is; az eredmény a naplóba kerül, a program utána is fut):\n";
    const auto line = [&text](const std::string& synopsis, const char* does) {
        // Bytes, not letters, would misalign the column after "…" or "é".
        const std::size_t width = QString::fromStdString(synopsis).size();
        text += "  " + synopsis + std::string(width < 36 ? 36 - width : 1, ' ') + does + "\n";
    };
    for (const TestKind kind : order) {
        const Usage usage = usageOf(kind);
        line(std::string(flagOf(kind)) + " " + usage.arguments, usage.does);
    }
    text += "\n";
    line("--updatecheck", "egy csendes frissítés-keresés, az eredmény a naplóba kerül");
    line("-h, --help", "ez a leírás");
    return text;
}

TestPlan planTests(const std::vector<std::string>& arguments, const std::filesystem::path& currentFolder)
{
    TestPlan plan;
    if (arguments.size() < 2) return plan;
    // Files from the desktop arrive as arguments here; they are no test run.
    const bool anyFlag = std::any_of(arguments.begin() + 1, arguments.end(),
                                     [](const std::string& a) { return a.starts_with("--"); });
    if (!anyFlag) return plan;
    plan.launchLine = "Önteszt indul: " + arguments[1];

    for (const TestKind kind : order) {
        const auto at = std::find(arguments.begin() + 1, arguments.end(), flagOf(kind));
        if (at == arguments.end()) continue;
        const std::size_t i = std::size_t(at - arguments.begin());
        const std::size_t n = std::size_t(pathCountOf(kind));
        if (i + n >= arguments.size()) continue;
        PlannedTest test{kind, {}};
        for (int k = 1; k <= n; ++k) test.paths.push_back(argumentPath(arguments[i + k], currentFolder));
        plan.tests.push_back(std::move(test));
    }
    return plan;
}

} // namespace ondexa::selftest
