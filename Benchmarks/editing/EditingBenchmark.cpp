// bench_editing: the timeline edits of EditorModel on an edit of 20 tracks ×
// 500 clips (two actions each, the tracks linked in pairs: picture and sound),
// each edit with its undo snapshot; the rebuild of the player item is
// stubbed and autosave writes nothing in a model that was never loaded, so
// the figures are the edits' own. Beside them the floor every structural
// edit pays, one copy of the track list (what a snapshot cost before
// snapshots shared their unchanged tracks), and the memory that a full undo
// history of 200 one-track edits holds, and of 200 edits that change every
// track (goal: 400 MB); and one pointer event of a group
// move, a trim and an action drag. Goal: each edit within one frame, 16 ms.
//
// Each edit runs kRuns times from the same timeline (undone, untimed, after
// each run); the median and the slowest run are printed in milliseconds.

#include "Ondexa/editing/EditorModel.h"

#include <QCoreApplication>
#include <QSettings>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <malloc.h>
#include <new>
#include <string>
#include <vector>

#include <unistd.h>

// Heap accounting for the snapshot memory: every allocation goes through these.
namespace {
std::atomic<std::size_t> liveBytes{0};
} // namespace

void* operator new(std::size_t size)
{
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    liveBytes += malloc_usable_size(p);
    return p;
}

void operator delete(void* p) noexcept
{
    if (!p) return;
    liveBytes -= malloc_usable_size(p);
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    operator delete(p);
}

using namespace ondexa;
namespace fs = std::filesystem;

namespace {

constexpr int kTracks = 20;
constexpr int kClipsPerTrack = 500;
constexpr double kClipLength = 2;
constexpr double kSpacing = 2.5;  // a 0.5 s gap after every clip
constexpr int kRuns = 30;
constexpr double kFrame = 16;  // ms

std::vector<Track> bigEdit()
{
    std::vector<Track> tracks;
    std::vector<Uuid> links(kClipsPerTrack);
    for (int t = 0; t < kTracks; ++t) {
        const bool sound = t % 2 == 1;
        if (!sound)
            for (Uuid& link : links) link = Uuid::random();
        Track track;
        track.name = (sound ? "Hangsáv " : "Képernyő ") + std::to_string(t / 2 + 1);
        track.media = MediaRef{"/home/user/Videos/Vendalum/Felvétel 2026-12-06 20.58.11.mov",
                               sound ? MediaKind::audio : MediaKind::video, t / 2};
        for (int c = 0; c < kClipsPerTrack; ++c) {
            Clip clip;
            clip.start = c * kSpacing;
            clip.sourceStart = c * kSpacing;
            clip.duration = kClipLength;
            clip.media = track.media;
            clip.link = links[std::size_t(c)];
            for (int a = 0; a < 2; ++a) {
                TrackAction action;
                action.start = 0.2 + a * 0.8;
                action.end = action.start + 0.6;
                action.scale = 1.5;
                action.centerX = 0.4;
                action.centerY = 0.6;
                clip.actions.push_back(action);
            }
            track.clips.push_back(std::move(clip));
        }
        tracks.push_back(std::move(track));
    }
    return tracks;
}

double milliseconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Figure {
    double median = 0, slowest = 0;
};

Figure measure(const std::function<void()>& prepare, const std::function<void()>& run,
               const std::function<void()>& after)
{
    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i) {
        prepare();
        const auto start = std::chrono::steady_clock::now();
        run();
        times.push_back(milliseconds(std::chrono::steady_clock::now() - start));
        after();
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back()};
}

void print(const char* name, Figure f)
{
    std::printf("  %-34s %8.2f ms median %8.2f ms slowest  %s\n", name, f.median, f.slowest,
                f.slowest <= kFrame ? "" : (f.median <= kFrame ? "(slowest over a frame)" : "OVER A FRAME"));
    std::fflush(stdout);
}

std::set<Uuid> clipsOf(const std::vector<Track>& tracks, int perTrack, int tracksUsed)
{
    std::set<Uuid> ids;
    for (int t = 0; t < tracksUsed; ++t)
        for (int c = 0; c < perTrack; ++c) ids.insert(tracks[std::size_t(t)].clips[std::size_t(c * 7 + 3)].id);
    return ids;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const fs::path folder = fs::temp_directory_path() / ("bench-editing-" + std::to_string(getpid()));
    fs::create_directories(folder);

    {
        auto settings = std::make_unique<QSettings>(QString::fromStdString((folder / "settings.ini").string()),
                                                    QSettings::IniFormat);
        EditorModel model(folder / "edit.mov", std::move(settings));
        const std::vector<Track> base = bigEdit();
        model.setTracks(base);
        int rebuilds = 0;
        model.setRebuildStub([&](double) { ++rebuilds; });

        auto nothing = [] {};
        auto undo = [&] { model.undo(); };
        auto reset = [&] {
            model.clearSelection();
            model.setMarkIn(std::nullopt);
            model.setMarkOut(std::nullopt);
        };
        const Track& first = base[0];
        const double middle = first.clips[250].start + 1;

        std::size_t clips = 0;
        for (const Track& t : base) clips += t.clips.size();
        std::printf("bench_editing: %d tracks × %d clips (%zu clips, 2 actions each, linked in pairs), %d runs\n",
                    kTracks, kClipsPerTrack, clips, kRuns);

        print("copy of the track list (floor)", measure(nothing, [&] { std::vector<Track> copy = model.tracks(); }, nothing));

        print("split at the playhead (20 clips)", measure([&] { reset(); model.clock().setTime(middle); },
                                                          [&] { model.splitAtPlayhead(); }, undo));
        print("ripple delete of 100 clips", measure([&] { reset(); model.setSelectedClips(clipsOf(base, 10, 10)); },
                                                    [&] { model.deleteSelection(true); }, undo));
        print("range removal 100-110 s, closed", measure([&] {
                  reset();
                  model.setMarkIn(100.0);
                  model.setMarkOut(110.0);
              },
                                                         [&] { model.deleteSelection(false); }, undo));
        print("gap close (one track and links)", measure([&] {
                  reset();
                  model.selectGap(first.id, first.clips[100].end() + 0.2);
              },
                                                         [&] { model.deleteSelection(false); }, undo));
        print("matrix cut 100-110 s, all tracks", measure(reset, [&] {
                  std::set<Uuid> ids;
                  for (const Track& t : base) ids.insert(t.id);
                  model.cutMatrix(100.3, 110.3, ids);
              },
                                                          undo));
        print("paste of 50 clips", measure([&] {
                  reset();
                  model.setSelectedClips(clipsOf(base, 5, 10));
                  model.copySelection();
              },
                                           [&] { model.paste(model.duration()); }, undo));
        print("link of 2 clips", measure([&] { reset(); model.setSelectedClips({first.clips[10].id, first.clips[11].id}); },
                                         [&] { model.linkSelection(); }, undo));
        print("duplicate track", measure(reset, [&] { model.duplicateTrack(first.id); }, undo));

        // One pointer event of each drag: the view pushed its snapshot when
        // the drag began (untimed), each event starts again from the
        // drag-start copies. 8 points of snapping at 100 points a second.
        const double tolerance = 0.08;
        {
            // 50 picture clips and their sound partners, two picture rows down.
            std::vector<Clip> group;
            for (int c = 0; c < 50; ++c)
                for (int t = 0; t < 2; ++t) group.push_back(base[std::size_t(t)].clips[std::size_t(c * 7 + 3)]);
            print("group move of 100 clips, 2 rows", measure([&] { reset(); model.pushUndo(); },
                                                             [&] { model.moveClips(group, group[0], 0.25, 2, tolerance); },
                                                             undo));
        }
        print("trim (front, linked partner)", measure([&] { reset(); model.pushUndo(); },
                                                      [&] {
                                                          model.trimClip(first.clips[250], EditorModel::ClipEdge::front,
                                                                         -0.3, tolerance);
                                                      },
                                                      undo));
        print("action drag", measure([&] {
                  reset();
                  model.setSelectedActionID(first.clips[250].actions[1].id);
                  model.pushUndo();
              },
                                     [&] { model.dragAction(first.clips[250].actions[1], 0, 0.15, tolerance); }, undo));

        // Undo and redo of a split, alternately.
        reset();
        model.clock().setTime(middle);
        model.splitAtPlayhead();
        print("undo (of a split)", measure(nothing, [&] { model.undo(); }, [&] { model.redo(); }));
        print("redo (of a split)", measure([&] { model.undo(); }, [&] { model.redo(); }, nothing));
        model.undo();

        std::printf("  (%d rebuilds stubbed)\n", rebuilds);
    }
    // A model of its own holding the big edit, rebuilds stubbed.
    const auto historyModel = [&] {
        auto model = std::make_unique<EditorModel>(
            folder / "edit.mov", std::make_unique<QSettings>(QString::fromStdString((folder / "settings.ini").string()),
                                                             QSettings::IniFormat));
        model->setTracks(bigEdit());
        model->setRebuildStub([](double) {});
        return model;
    };
    {
        // A full undo history, in a model of its own: 200 edits that each
        // change one track (links of two clips, on the tracks in turn), and
        // for comparison the same history held as whole copies.
        const auto owned = historyModel();
        EditorModel& model = *owned;
        const std::size_t heldBefore = liveBytes;
        for (std::size_t i = 0; i < EditorModel::undoLimit; ++i) {
            const Track& track = model.tracks()[i % kTracks];
            model.setSelectedClips({track.clips[i].id, track.clips[i + 1].id});
            model.linkSelection();
        }
        const std::size_t held = liveBytes - heldBefore;
        std::printf("  %-34s %8.1f MB (%.2f MB a snapshot)\n", "memory of 200 snapshots", held / 1e6,
                    held / 1e6 / double(EditorModel::undoLimit));

        const std::size_t copiesBefore = liveBytes;
        {
            std::vector<std::vector<Track>> copies;
            for (const EditorModel::Snapshot& snapshot : model.undoStack()) copies.push_back(snapshot.tracks);
            std::printf("  %-34s %8.1f MB\n", "  the same as whole copies", (liveBytes - copiesBefore) / 1e6);
        }
    }
    {
        // 200 edits that each change every track: splits at the playhead
        // with nothing selected, the playhead a few clips further each time.
        const auto owned = historyModel();
        EditorModel& model = *owned;
        const std::size_t heldBefore = liveBytes;
        for (std::size_t i = 0; i < EditorModel::undoLimit; ++i) {
            model.clearSelection();
            model.clock().setTime(double(2 * i + 5) * kSpacing + 1);
            model.splitAtPlayhead();
        }
        const std::size_t held = liveBytes - heldBefore;
        constexpr double kGoal = 400;  // MB
        std::printf("  %-34s %8.1f MB (%.2f MB a snapshot)  goal %.0f MB: %s\n", "memory of 200 all-track splits",
                    held / 1e6, held / 1e6 / double(EditorModel::undoLimit), kGoal,
                    held / 1e6 <= kGoal ? "met" : "not met");
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
