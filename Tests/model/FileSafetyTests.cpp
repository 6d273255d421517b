// Files that someone else made: pipes, devices and huge files where a side
// file or project is expected, links in a package, a package saved over its
// own media, paths with NUL, and the litter of interrupted saves.

#include "ChildProcess.h"
#include "Ondexa/model/Files.h"
#include "Ondexa/model/OndexaError.h"
#include "Ondexa/model/ProjectFile.h"
#include "Ondexa/model/RecordingInfo.h"
#include "support/ProjectFixtures.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <thread>

using namespace ondexa;
using ondexa::testing::ChildOutcome;
using ondexa::testing::entries;
using ondexa::testing::makeFile;
using ondexa::testing::projectOf;
using ondexa::testing::trackOf;
using ondexa::testing::runInChild;
using ondexa::testing::TempFolder;
namespace fs = std::filesystem;

namespace {

template <class Action> void expectMessage(Action action, const std::string& message)
{
    try {
        action();
        ADD_FAILURE() << "no error, wanted: " << message;
    } catch (const OndexaError& e) {
        EXPECT_EQ(e.message, message);
    }
}

std::string notRegular(const fs::path& path)
{
    return "A fájl nem olvasható, mert nem szabályos fájl: " + path.string() + ".";
}

// Runs the save in a child whose files may not grow past `limit` bytes: the
// system kills it in the middle of the write that crosses the limit.
ChildOutcome killedWhileWriting(rlim_t limit, const std::function<void()>& save)
{
    return runInChild([&] {
        const rlimit noCore{0, 0}, small{limit, limit};
        setrlimit(RLIMIT_CORE, &noCore);
        setrlimit(RLIMIT_FSIZE, &small);
        save();
    }, std::chrono::seconds(60));
}

} // namespace

TEST(FileReading, PipesAndDevicesAreRefusedAtOnceWhereverAFileIsRead)
{
    TempFolder temp;
    enum class Place { sideFile, packageProject, flatProject };
    int n = 0;
    for (const Place place : {Place::sideFile, Place::packageProject, Place::flatProject}) {
        for (const bool pipe : {true, false}) {
            const fs::path folder = temp.path / std::to_string(n++);
            const fs::path movie = folder / "rec.mov", package = folder / "p.vdlproj";
            fs::create_directories(package);
            const fs::path target = place == Place::sideFile         ? RecordingInfo::sideFileURL(movie)
                                    : place == Place::packageProject ? package / "project.json"
                                                                     : folder / "p.json";
            if (pipe) {
                ASSERT_EQ(mkfifo(target.c_str(), 0600), 0);
            } else {
                fs::create_symlink("/dev/zero", target);  // endless: reading it whole never ends
            }
            const ChildOutcome outcome = runInChild([&] {
                if (place == Place::sideFile) {
                    EXPECT_EQ(RecordingInfo::load(movie), std::nullopt);
                } else {
                    const fs::path opened = place == Place::packageProject ? package : target;
                    expectMessage([&] { ProjectFile::read(opened); }, notRegular(target));
                }
            });
            EXPECT_TRUE(outcome.passed()) << target << (pipe ? " (pipe): " : " (/dev/zero): ") << outcome.describe();
        }
    }
    TempFolder folder;
    expectMessage([&] { readFile(folder.path); }, notRegular(folder.path));
}

TEST(FileReading, SizeIsBoundedBeforeAndWhileReading)
{
    TempFolder temp;
    const fs::path ten = makeFile(temp.path / "tiz", "0123456789");
    const fs::path huge = makeFile(temp.path / "nagy.ondexa.json", "");
    fs::resize_file(huge, largestReadableFile + 1);  // sparse: costs no disk
    const fs::path proc = "/proc/self/status";       // a regular file that says it is empty
    struct Case {
        fs::path path;
        std::uintmax_t limit;
        bool fits;
    };
    for (const Case& c : {Case{ten, 10, true}, Case{ten, 9, false}, Case{huge, largestReadableFile, false},
                          Case{proc, 10, false}, Case{proc, largestReadableFile, true}}) {
        if (c.fits) {
            EXPECT_GE(readFile(c.path, c.limit).size(), 10u) << c.path;
        } else {
            expectMessage([&] { readFile(c.path, c.limit); },
                          "A fájl túl nagy, nem olvasható be: " + c.path.string() + ".");
        }
    }
    EXPECT_EQ(RecordingInfo::load(temp.path / "nagy.mov"), std::nullopt);
}

TEST(ProjectCoding, PathsHoldingNulAreRefused)
{
    // A system call would cut such a path at the NUL and reach another file.
    const std::string cut("/a/rec.mov\0/etc/passwd", 22);
    ProjectFile file = projectOf("/a/rec.mov", {trackOf("/a/cam.mov")});
    file.info.project->tracks[0].clips[0].overlay.emplace().mediaPath = "/a/kep.png";
    const Json good = encodeJson(file);
    for (const char* place : {"/recording", "/recordingRelative", "/info/project/tracks/0/media/path",
                              "/info/project/tracks/0/clips/0/media/path",
                              "/info/project/tracks/0/clips/0/overlay/mediaPath"}) {
        Json json = good;
        json[Json::json_pointer(place)] = "/b/c.mov";
        ASSERT_NO_THROW(decodeJson<ProjectFile>(json)) << place;
        json[Json::json_pointer(place)] = cut;
        try {
            decodeJson<ProjectFile>(json);
            ADD_FAILURE() << place;
        } catch (const DecodingError& e) {
            EXPECT_NE(std::string(e.what()).find("NUL"), std::string::npos) << e.what();
        }
    }
}

TEST(ProjectPackage, MediaMustBeARealFolder)
{
    struct Case {
        const char* what;
        std::function<void(const fs::path& media, const fs::path& elsewhere)> make;
    };
    const std::vector<Case> cases{
        {"link to a folder", [](const fs::path& m, const fs::path& e) { fs::create_directory_symlink(e, m); }},
        {"link to nowhere", [](const fs::path& m, const fs::path& e) { fs::create_symlink(e / "nincs", m); }},
        {"file", [](const fs::path& m, const fs::path&) { makeFile(m, "x"); }},
    };
    for (const Case& c : cases) {
        TempFolder temp;
        const fs::path package = temp.path / "p.vdlproj", elsewhere = temp.path / "máshol";
        fs::create_directories(package);
        fs::create_directories(elsewhere);
        c.make(package / "Media", elsewhere);
        const auto rec = makeFile(temp.path / "a" / "rec.mov", "felvétel").string();
        expectMessage([&] { projectOf(rec, {trackOf(rec)}).writePackage(package, true); },
                      "A projekt Media mappája nem valódi mappa, nem írható bele: " + (package / "Media").string()
                          + ".");
        EXPECT_TRUE(entries(elsewhere).empty()) << c.what;
        EXPECT_EQ(entries(package), std::vector<std::string>{"Media"}) << c.what;
    }

    // Links at single names inside Media hold their names; nothing is written through them.
    TempFolder temp;
    const fs::path package = temp.path / "p.vdlproj", media = package / "Media";
    fs::create_directories(media);
    const auto target = makeFile(temp.path / "cél.mov", "eredeti");
    fs::create_symlink(target, media / "rec.mov");
    fs::create_symlink(temp.path / "nincs.mov", media / "x.mov");
    const auto rec = makeFile(temp.path / "a" / "rec.mov", "felvétel").string();
    const auto x = makeFile(temp.path / "a" / "x.mov", "x").string();
    const auto copies = projectOf(rec, {trackOf(x)}).writePackage(package, true);
    EXPECT_EQ(copies, (std::map<std::string, std::string>{{rec, (media / "rec 2.mov").string()},
                                                          {x, (media / "x 2.mov").string()}}));
    EXPECT_EQ(readFile(target), "eredeti");
    EXPECT_FALSE(entryExists(temp.path / "nincs.mov"));
    EXPECT_EQ(readFile(media / "rec 2.mov"), "felvétel");
}

TEST(ProjectPackage, APathThatIsTheRecordingOrAMediumIsRefusedAndNothingIsWritten)
{
    TempFolder temp;
    const fs::path rec = makeFile(temp.path / "rec.mov", "felvétel");
    const fs::path camera = makeFile(temp.path / "kamera.mov", "kamera");
    const fs::path hardLink = temp.path / "kemény.vdlproj", softLink = temp.path / "lágy.vdlproj";
    fs::create_hard_link(rec, hardLink);
    fs::create_symlink(rec, softLink);
    const std::vector<std::string> before = entries(temp.path);

    struct Case {
        fs::path package;
        ProjectFile file;
    };
    Track cameraByRelativePath = trackOf("../kamera.mov");  // relative to the package: the camera file
    cameraByRelativePath.media.path = "/nincs/más.mov";
    const std::vector<Case> cases{
        {rec, projectOf(rec, {})},
        {hardLink, projectOf(rec, {})},
        {softLink, projectOf(rec, {})},
        {camera, projectOf("/nincs/rec.mov", {trackOf(camera)})},
        {camera, projectOf("/nincs/rec.mov", {cameraByRelativePath})},
    };
    for (const Case& c : cases) {
        for (const bool copyMedia : {true, false}) {
            expectMessage([&] { c.file.writePackage(c.package, copyMedia); },
                          "A projekt nem menthető oda, ahol a felvétel vagy egy médiafájlja áll: "
                              + c.package.string() + ".");
        }
    }
    EXPECT_EQ(entries(temp.path), before);
    EXPECT_EQ(readFile(rec), "felvétel");
    EXPECT_EQ(readFile(camera), "kamera");
    EXPECT_TRUE(fs::is_symlink(softLink));
}

TEST(InterruptedSaves, TheNextSaveLeavesOnlyRealFiles)
{
    TempFolder temp;
    const fs::path package = temp.path / "p.vdlproj", recordings = temp.path / "felvételek";
    const std::string bigMovie(3 << 20, 'm');
    const auto rec = makeFile(temp.path / "a" / "rec.mov", bigMovie).string();
    const fs::path movie = makeFile(recordings / "rec.mov", "felvétel");

    // A project already in the package whose project.json alone is far over 16 KiB.
    const std::string inside = (package / "Media" / "rec.mov").string();
    ProjectFile large = projectOf(inside, {trackOf(inside)});
    large.info.project->tracks[0].clips.resize(200, large.info.project->tracks[0].clips[0]);
    RecordingInfo longRecording;
    longRecording.audioTracks = {"Rendszerhang"};
    longRecording.cursor.emplace(10000, std::vector<double>{1.25, 0.5, 0.5});

    struct Case {
        const char* what;
        rlim_t limit;
        std::function<void()> save;
        fs::path folder;
        std::vector<std::string> realFiles;
    };
    const std::vector<Case> cases{
        {"media copy", 1 << 20, [&] { projectOf(rec, {trackOf(rec)}).writePackage(package, true); }, package / "Media",
         {"rec.mov"}},
        {"project.json", 16 << 10, [&] { large.writePackage(package, true); }, package, {"Media", "project.json"}},
        {"side file", 16 << 10, [&] { longRecording.save(movie); }, recordings, {"rec.mov", "rec.ondexa.json"}},
    };
    for (const Case& c : cases) {
        const ChildOutcome outcome = killedWhileWriting(c.limit, c.save);
        ASSERT_TRUE(outcome.killedBy(SIGXFSZ)) << c.what << ": " << outcome.describe();
        const auto names = entries(c.folder);
        EXPECT_TRUE(std::any_of(names.begin(), names.end(), [](const auto& name) { return isTemporaryName(name); }))
            << c.what << ": the kill left no partial file";

        c.save();
        EXPECT_EQ(entries(c.folder), c.realFiles) << c.what;
    }
    EXPECT_EQ(entries(package), (std::vector<std::string>{"Media", "project.json"}));
    EXPECT_EQ(readFile(package / "Media" / "rec.mov"), bigMovie);
    EXPECT_EQ(ProjectFile::read(package), large);
    EXPECT_EQ(RecordingInfo::load(movie), longRecording);
}

TEST(InterruptedSaves, OnlyOurOwnTemporaryFilesAreRemoved)
{
    TempFolder temp;
    const std::string hex = "0123456789abcdef";
    // Named by a process that has ended: only litter.
    const ChildOutcome child = runInChild([&] { makeFile(temp.path / temporaryName("más.mov"), "régi"); });
    ASSERT_TRUE(child.passed()) << child.describe();
    const std::vector<std::string> ours{".adat.json." + hex + ".vdltmp", ".más.mov." + hex + ".vdltmp"};
    const std::vector<std::string> others{"." + hex + ".vdltmp",
                                          ".adat.json.0123456789ABCDEF.vdltmp",
                                          ".adat.json.0123456789abcde.vdltmp",
                                          ".adat.json." + hex + "0.vdltmp",
                                          "adat.json." + hex + ".vdltmp",
                                          ".adat.json." + hex + ".tmp",
                                          ".adat.json-" + hex + ".vdltmp",
                                          ".adat.json." + hex + ".012-0123456789ab.vdltmp",
                                          ".adat.json." + hex + ".12-0123456789a.vdltmp",
                                          ".adat.json." + hex + ".-0123456789ab.vdltmp",
                                          ".adat.json.12-0123456789ab.vdltmp"};
    for (const auto& name : ours) makeFile(temp.path / name, "régi");
    for (const auto& name : others) makeFile(temp.path / name, "más");
    // A folder and a link with our kind of name are not our files either.
    const std::string folder = ".mappa." + hex + ".vdltmp", link = ".link." + hex + ".vdltmp";
    fs::create_directories(temp.path / folder / "benne");
    fs::create_symlink(temp.path / others[0], temp.path / link);
    // Being written by this process, which lives on.
    const std::string living = temporaryName("adat.json");
    makeFile(temp.path / living, "készül");

    writeFileAtomically(temp.path / "adat.json", "új");
    std::vector<std::string> expected = others;
    expected.insert(expected.end(), {"adat.json", folder, link, living});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(entries(temp.path), expected);
    EXPECT_EQ(readFile(temp.path / others[0]), "más");
}

TEST(InterruptedSaves, AWriterIsJudgedByItsProcessOnThisSystemElseByAge)
{
    TempFolder temp;
    // "<pid>-<system>" of a name, and a name with another owner put in.
    const auto ownerOf = [](const std::string& name) {
        const std::size_t end = name.size() - std::string_view(".vdltmp").size();
        const std::size_t start = name.rfind('.', end - 1) + 1;
        return std::pair{name.substr(start, end - start), [=](const std::string& owner) {
                             return std::string(name).replace(start, end - start, owner);
                         }};
    };
    const auto [mine, withOwner] = ownerOf(temporaryName("adat.json"));
    const std::string system = mine.substr(mine.find('-') + 1);
    const std::string otherSystem = system == "000000000000" ? "111111111111" : "000000000000";
    EXPECT_EQ(mine, std::to_string(getpid()) + "-" + system);
    ASSERT_TRUE(isTemporaryName(withOwner(mine)));

    pid_t endedPid = 0;
    {
        const ChildOutcome maker = runInChild([&] {
            const int out = ::open((temp.path / "pid").c_str(), O_WRONLY | O_CREAT, 0600);
            const std::string text = std::to_string(getpid());
            EXPECT_EQ(::write(out, text.data(), text.size()), ssize_t(text.size()));
            ::close(out);
        });
        ASSERT_TRUE(maker.passed());
        endedPid = std::stoi(readFile(temp.path / "pid"));
        fs::remove(temp.path / "pid");
    }
    const std::string ended = std::to_string(endedPid);

    struct Case {
        const char* what;
        std::string owner;
        bool old;  // not written to for two hours
        bool stays;
    };
    const std::vector<Case> cases{
        {"this process", mine, false, true},
        {"the first process of the system", "1-" + system, false, true},
        {"an ended process", ended + "-" + system, false, false},
        {"an ended process's id elsewhere", ended + "-" + otherSystem, false, true},
        {"this process, long untouched", mine, true, false},
        {"elsewhere, long untouched", ended + "-" + otherSystem, true, false},
    };
    const auto twoHoursAgo = fs::file_time_type::clock::now() - std::chrono::hours(2);
    for (const Case& c : cases) {
        const std::string name = withOwner(c.owner);
        ASSERT_TRUE(isTemporaryName(name)) << name;
        makeFile(temp.path / name, c.what);
        if (c.old) fs::last_write_time(temp.path / name, twoHoursAgo);
        writeFileAtomically(temp.path / "adat.json", "új");
        EXPECT_EQ(entryExists(temp.path / name), c.stays) << c.what;
        fs::remove(temp.path / name);
    }
}

TEST(InterruptedSaves, TwoProcessesWritingInOneFolderLoseNoWrite)
{
    TempFolder temp;
    const auto movie = [&](char process, int i) { return temp.path / (process + std::to_string(i) + ".mov"); };
    const auto infoOf = [](char process, int i) {
        RecordingInfo info;
        info.audioTracks = {std::string(1, process), std::to_string(i)};
        return info;
    };
    const auto writer = [&](char process) {
        return [=] {
            for (int i = 0; i < 200; ++i) infoOf(process, i).save(movie(process, i));
        };
    };
    const auto outcomes = ondexa::testing::runTogether({writer('a'), writer('b')});
    for (const ChildOutcome& outcome : outcomes) ASSERT_TRUE(outcome.passed()) << outcome.describe();

    int missing = 0;
    for (const char process : {'a', 'b'})
        for (int i = 0; i < 200; ++i)
            if (RecordingInfo::load(movie(process, i)) != infoOf(process, i)) ++missing;
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(entries(temp.path).size(), 400u);  // and no litter
}

TEST(InterruptedSaves, WritesOnOtherThreadsAreNotTakenForLitter)
{
    TempFolder temp;
    std::atomic<int> failures{0};
    const auto writeMany = [&](const std::string& name) {
        for (int i = 0; i < 150; ++i) {
            try {
                writeFileAtomically(temp.path / name, std::string(4096, 'a' + i % 26));
            } catch (const OndexaError&) {
                ++failures;
            }
        }
    };
    std::thread other(writeMany, "b.ondexa.json");
    writeMany("a.ondexa.json");
    other.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(entries(temp.path), (std::vector<std::string>{"a.ondexa.json", "b.ondexa.json"}));
}

TEST(FileNames, OneFileUnderTwoNamesIsTheSameFile)
{
    TempFolder temp;
    const fs::path file = temp.path / "felvétel.mov";
    std::ofstream(file) << "x";
    fs::create_directory(temp.path / "sub");
    fs::create_directory_symlink(temp.path, temp.path / "link");
    fs::create_hard_link(file, temp.path / "másik.mov");
    std::ofstream(temp.path / "harmadik.mov") << "x";

    EXPECT_TRUE(sameFile(file, temp.path / "." / "sub" / ".." / "felvétel.mov"));
    EXPECT_TRUE(sameFile(file, temp.path / "link" / "felvétel.mov"));
    EXPECT_TRUE(sameFile(file, temp.path / "másik.mov"));  // a second link to the same content
    EXPECT_FALSE(sameFile(file, temp.path / "harmadik.mov"));
    // Names of nothing are compared by their spelling alone.
    EXPECT_TRUE(sameFile(temp.path / "nincs" / "a.vdlproj", temp.path / "link" / "nincs" / "." / "a.vdlproj"));
    EXPECT_FALSE(sameFile(temp.path / "nincs" / "a.vdlproj", temp.path / "nincs" / "b.vdlproj"));
    EXPECT_EQ(normalisedPath(temp.path / "link" / "nincs" / ".." / "felvétel.mov"), fs::canonical(file));
}
