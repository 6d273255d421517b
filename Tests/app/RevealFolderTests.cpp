// "Felvételek mappa" on a desktop that can't show a folder: the record
// window's alert says so; where a file manager opens it, nothing is said.

#include "AppTestSupport.h"
#include "support/ScopedEnv.h"

#include "Ondexa/app/RecordView.h"
#include "Ondexa/model/Paths.h"
#include "Ondexa/recording/FileManager.h"

#include <QFile>
#include <QMessageBox>
#include <QPushButton>

#include <fstream>

namespace ondexa {
namespace {

using namespace testing;

using RevealFolder = RecordWindowTest;

TEST_F(RevealFolder, WithoutAFileManagerTheAlertSaysSo)
{
    const std::filesystem::path bin = temp.path / "bin";
    std::filesystem::create_directories(bin);
    const auto fakeOpener = [&](int exitCode) {
        const std::filesystem::path script = bin / "xdg-open";
        std::ofstream(script) << "#!/bin/sh\necho \"$1\" > \"" << (temp.path / "asked").string() << "\"\nexit "
                              << exitCode << "\n";
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    };
    const struct {
        const char* label;
        int exitCode;  // of the fake xdg-open; -1: none on the path
        bool told;
    } cases[] = {
        {"no xdg-open", -1, true},
        {"xdg-open finds no program for folders", 3, true},
        {"a file manager shows it", 0, false},
    };
    const std::string sentence = "A felvételek mappája nem nyitható meg: nincs fájlkezelő, amely megmutatná. A mappa: " +
                                 Paths::recordingsFolder().string();
    for (const auto& c : cases) {
        std::filesystem::remove(bin / "xdg-open");
        std::filesystem::remove(temp.path / "asked");
        if (c.exitCode >= 0) fakeOpener(c.exitCode);
        testsupport::ScopedEnv path("PATH", bin.string());
        auto env = system.environment();
        env.openFolder = [](const std::filesystem::path& folder, std::function<void()> unopened) {
            showInFileManager(folder, std::move(unopened));
        };
        auto state = makeWith(std::move(env));
        RecordView view(*state, [](const std::filesystem::path&) {});
        view.show();
        part<QPushButton>(view, "revealFolder")->click();
        if (c.told) {
            ASSERT_TRUE(pumpUntil([&] { return view.errorAlert()->isVisible(); }, std::chrono::seconds(20))) << c.label;
            EXPECT_EQ(view.errorAlert()->text().toStdString(), sentence) << c.label;
        } else {
            ASSERT_TRUE(pumpUntil([&] { return std::filesystem::exists(temp.path / "asked"); },
                                  std::chrono::seconds(20)));
            pumpFor(std::chrono::milliseconds(300));
            EXPECT_FALSE(view.errorAlert()->isVisible());
            EXPECT_FALSE(state->errorMessage());
        }
        if (c.exitCode >= 0) {
            ASSERT_TRUE(pumpUntil([&] { return std::filesystem::exists(temp.path / "asked"); }));
            std::string asked;
            std::getline(std::ifstream(temp.path / "asked"), asked);
            EXPECT_EQ(asked, Paths::recordingsFolder().string()) << c.label;
        }
        EXPECT_TRUE(std::filesystem::is_directory(Paths::recordingsFolder())) << c.label;
    }
}

} // namespace
} // namespace ondexa
