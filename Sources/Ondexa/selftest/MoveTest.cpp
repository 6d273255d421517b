// Clip moves across tracks on a fresh copy of a recording: an imported still
// dragged onto the screen track, then the screen clip with its link group
// dragged one track up and one second back, then a quarter-size export.

#include "Ondexa/model/Log.h"
#include "Ondexa/selftest/ScenarioSupport.h"
#include "Ondexa/selftest/ScenarioTests.h"
#include "Ondexa/selftest/TestModel.h"

#include <algorithm>

namespace ondexa::selftest {

namespace {

std::optional<int> firstImageTrack(const std::vector<Track>& tracks)
{
    for (std::size_t i = 0; i < tracks.size(); ++i)
        if (tracks[i].media.kind == MediaKind::image) return int(i);
    return std::nullopt;
}

std::optional<int> screenTrackIndex(const std::vector<Track>& tracks)
{
    const Track* screen = screenTrack(tracks);
    if (!screen) return std::nullopt;
    return int(screen - tracks.data());
}

} // namespace

Task moveTest(AppState&, std::filesystem::path source, std::filesystem::path image, std::filesystem::path folder)
{
    const std::filesystem::path working = workingCopyPath(folder, "move-source", source);
    const std::filesystem::path movie = folder / "move.mp4";
    // The copy checks its pair again as it replaces the working copy.
    if (!filesApart("Mozgatás-teszt", {{source, image}, working, {movie}}) || !replaceWithCopy(source, working))
        co_return;
    writeFreshSideFile(source, working);

    EditorModel model(working);
    co_await loaded(model);
    placePlayhead(model, std::min(model.duration(), 9.0));
    co_await imported(model, image);

    const std::optional<int> imageRow = firstImageTrack(model.tracks());
    const std::optional<int> screenRow = screenTrackIndex(model.tracks());
    // An image track without a clip has nothing to drag either.
    if (!imageRow || !screenRow || model.tracks()[std::size_t(*imageRow)].clips.empty()) {
        logLine("Mozgatás-teszt: nincs sáv");
        co_return;
    }
    logLine("Mozgatás-teszt kezdet: " + timelineSummary(model.tracks(), 1));

    const Clip still = model.tracks()[std::size_t(*imageRow)].clips.front();
    model.pushUndo();
    model.moveClip(still, MediaKind::image, 3.0, *screenRow, 0);
    model.endClipDrag();
    logLine("Mozgatás-teszt kép a képernyő sávon: " + timelineSummary(model.tracks(), 1));

    if (const Track* screen = screenTrack(model.tracks()); screen && !screen->clips.empty()) {
        const Clip grabbed = screen->clips.front();
        model.selectClip(grabbed.id, false, false);
        std::vector<Clip> group;
        for (const Track& track : model.tracks())
            for (const Clip& clip : track.clips)
                if (model.selectedClips().count(clip.id)) group.push_back(clip);
        model.pushUndo();
        model.moveClips(group, grabbed, -1.0, *imageRow - *screenRow, 0);
        model.endClipDrag();
    }
    logLine("Mozgatás-teszt csoport egy sávval feljebb: " + timelineSummary(model.tracks(), 1));

    const bool written = co_await exported(model, movie,
                                           options(Range::all, Size::quarter, Encoding::fast, Format::mp4));
    logLine(std::string("Mozgatás-teszt export: ") + (written ? "OK" : failureText(model)));
    co_await allSaved(model);
}

} // namespace ondexa::selftest
