// The install as a desktop reads it: the entry, the project type, the icon
// in every size, the metainfo, and the Debian package built from the same rules.

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
using ondexa::testing::TempFolder;

namespace {

struct Outcome {
    int status = -1;
    std::string output;
};

Outcome run(const std::string& command)
{
    Outcome result;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buffer{};
    while (const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe)) result.output.append(buffer.data(), n);
    result.status = ::pclose(pipe);
    return result;
}

std::string text(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// A desktop entry's value for key, from its main group.
std::string entryValue(const std::string& entry, const std::string& key)
{
    std::smatch match;
    const std::regex line("(^|\n)" + key + "=([^\n]*)");
    return std::regex_search(entry, match, line) ? match[2].str() : std::string();
}

// Width and height from a PNG's header.
std::pair<int, int> pngSize(const fs::path& file)
{
    const std::string bytes = text(file);
    if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0) return {0, 0};
    auto be32 = [&](std::size_t at) {
        return int((unsigned char)bytes[at]) << 24 | int((unsigned char)bytes[at + 1]) << 16 |
               int((unsigned char)bytes[at + 2]) << 8 | int((unsigned char)bytes[at + 3]);
    };
    return {be32(16), be32(20)};
}

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

class Install : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        prefix = new TempFolder;
        const Outcome installed = run("cmake --install " + quoted(ONDEXA_BUILD_DIR) + " --prefix " + quoted(prefix->path));
        ASSERT_EQ(installed.status, 0) << installed.output;
    }
    static void TearDownTestSuite()
    {
        delete prefix;
        prefix = nullptr;
    }
    static fs::path share() { return prefix->path / "share"; }
    static TempFolder* prefix;
};
TempFolder* Install::prefix = nullptr;

TEST_F(Install, TheDesktopFindsTheProgramItsIconAndItsProjects)
{
    ASSERT_TRUE(fs::is_regular_file(prefix->path / "bin/vendalum"));
    EXPECT_TRUE(fs::is_regular_file(share() / "vendalum/feed.xml")) << "the update check reads it beside the program";

    const fs::path desktopFile = share() / "applications/vendalum.desktop";
    ASSERT_TRUE(fs::is_regular_file(desktopFile));
    const Outcome desktopCheck = run("desktop-file-validate " + quoted(desktopFile));
    EXPECT_EQ(desktopCheck.status, 0) << desktopCheck.output;
    EXPECT_TRUE(desktopCheck.output.empty()) << desktopCheck.output;
    const std::string entry = text(desktopFile);
    EXPECT_EQ(entryValue(entry, "Exec").rfind("vendalum ", 0), 0u);

    // The icon the entry names, in the scalable folder and in every PNG size.
    const std::string icon = entryValue(entry, "Icon");
    ASSERT_FALSE(icon.empty());
    EXPECT_TRUE(fs::is_regular_file(share() / "icons/hicolor/scalable/apps" / (icon + ".svg")));
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const std::string dimension = std::to_string(size) + "x" + std::to_string(size);
        const fs::path png = share() / "icons/hicolor" / dimension / "apps" / (icon + ".png");
        ASSERT_TRUE(fs::is_regular_file(png)) << png;
        EXPECT_EQ(pngSize(png), std::make_pair(size, size)) << png;
    }

    // The MIME type the entry opens is the one the package defines, and the
    // shared MIME database built from it maps the package's extension to it.
    const std::string mimeType = entryValue(entry, "MimeType");
    ASSERT_EQ(mimeType, "application/x-vendalum-project;");
    const fs::path mimeDefinition = share() / "mime/packages/vendalum-project.xml";
    ASSERT_TRUE(fs::is_regular_file(mimeDefinition));
    const Outcome database = run("update-mime-database " + quoted(share() / "mime"));
    ASSERT_EQ(database.status, 0) << database.output;
    EXPECT_NE(text(share() / "mime/globs2").find("application/x-vendalum-project:*.vdlproj"), std::string::npos);

    // The metainfo is valid and launches this entry.
    const fs::path metainfo = share() / "metainfo/hu.vendalum.Vendalum.metainfo.xml";
    ASSERT_TRUE(fs::is_regular_file(metainfo));
    const Outcome appstream = run("appstreamcli validate --no-net " + quoted(metainfo));
    EXPECT_EQ(appstream.status, 0) << appstream.output;
    EXPECT_NE(text(metainfo).find("<launchable type=\"desktop-id\">vendalum.desktop</launchable>"), std::string::npos);
}

TEST(DebianPackage, CarriesTheInstallAndDependsOnTheLinkedLibraries)
{
    TempFolder out;
    // Stripped and gzipped: the test build's program is large, and cpack holds
    // it three times over (staged, packed, copied out), which an uncompressed
    // package made 700 MB of disk. gzip costs a second.
    const Outcome packed = run("cd " + quoted(ONDEXA_BUILD_DIR) + " && cpack -G DEB -B " + quoted(out.path) +
                               " -D CPACK_DEBIAN_COMPRESSION_TYPE=gzip -D CPACK_STRIP_FILES=ON");
    ASSERT_EQ(packed.status, 0) << packed.output << run("df -h " + quoted(out.path)).output;
    fs::path deb;
    for (const auto& file : fs::directory_iterator(out.path))
        if (file.path().extension() == ".deb") deb = file.path();
    ASSERT_FALSE(deb.empty()) << packed.output;

    const Outcome depends = run("dpkg-deb -f " + quoted(deb) + " Depends");
    ASSERT_EQ(depends.status, 0) << depends.output;
    for (const char* package : {"libavcodec", "libavformat", "libswscale", "libqt6widgets6", "libpulse0", "libxcb",
                                "libqt6svg6"})
        EXPECT_NE(depends.output.find(package), std::string::npos) << package << " missing from: " << depends.output;

    const Outcome contents = run("dpkg-deb -c " + quoted(deb));
    for (const char* file : {"./usr/bin/vendalum", "./usr/share/applications/vendalum.desktop",
                             "./usr/share/mime/packages/vendalum-project.xml",
                             "./usr/share/icons/hicolor/48x48/apps/vendalum.png",
                             "./usr/share/metainfo/hu.vendalum.Vendalum.metainfo.xml"})
        EXPECT_NE(contents.output.find(file), std::string::npos) << file;
}

} // namespace
