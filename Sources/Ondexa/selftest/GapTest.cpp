// Holes in the timeline on a fresh copy of a recording: a two-second hole cut
// out of the screen and sound tracks, the partners linked to the screen clip,
// the hole selected and closed, an overlap with a transition, a quieter
// sound clip, a text overlay, and the whole saved as a project package.

#include "Ondexa/model/Log.h"
#include "Ondexa/selftest/LogText.h"
#include "Ondexa/selftest/ScenarioSupport.h"
#include "Ondexa/selftest/ScenarioTests.h"
#include "Ondexa/selftest/TestModel.h"

#include <algorithm>

namespace ondexa::selftest {

Task gapTest(AppState&, std::filesystem::path source, std::filesystem::path folder)
{
    const std::filesystem::path working = workingCopyPath(folder, "gap-source", source);
    const std::filesystem::path package = folder / "hezag.vdlproj";
    // The copy checks its pair again as it replaces the working copy.
    if (!filesApart("Hézag-teszt", {{source}, working, {package}}) || !replaceWithCopy(source, working)) co_return;
    writeFreshSideFile(source, working);

    EditorModel model(working);
    co_await loaded(model);

    const Track* screen = screenTrack(model.tracks());
    const Track* sound = soundTrack(model.tracks());
    if (!screen || !sound) co_return;
    const Uuid screenID = screen->id;
    model.cutMatrix(3.0, 5.0, {screenID, sound->id});
    model.deleteSelection(false);
    logLine("Hézag-teszt lyukkal: " + timelineSummary(model.tracks(), 2));

    if (const Track* s = screenTrack(model.tracks()); s && !s->clips.empty()) {
        model.selectClip(s->clips.front().id, false, false);
        std::vector<std::string> names;
        for (const EditorModel::PlacedClip& partner : model.linkedPartners()) names.push_back(partner.track->name);
        logLine("Hézag-teszt összekötött társak: " + listText(names));
    }

    model.clearSelection();
    model.selectGap(screenID, 4.0);
    const auto& gap = model.gap();
    logLine("Hézag-teszt kijelölt hézag: " + (gap ? fixed(gap->start, 2) + "-" + fixed(gap->end, 2) : "nincs"));

    model.deleteSelection(false);
    logLine("Hézag-teszt bezárva: " + timelineSummary(model.tracks(), 2) + " · min lépték "
            + fixed(std::max(model.timelineWidth(), 100.0) / 10800, 4) + " pont/mp");

    if (const Track* s = screenTrack(model.tracks()); s && !s->clips.empty()) {
        const Clip last = s->clips.back();
        model.pushUndo();
        model.moveClip(last, MediaKind::video, -1.0, std::nullopt, 0);
        model.endClipDrag();
        if (const Track* moved = screenTrack(model.tracks())) {
            const auto found = std::find_if(moved->clips.begin(), moved->clips.end(),
                                            [&](const Clip& clip) { return clip.id == last.id; });
            if (found != moved->clips.end()) {
                Clip clip = *found;
                clip.transition = Transition::circle;
                model.updateClip(clip);
            }
        }
    }

    if (const Track* s = soundTrack(model.tracks()); s && !s->clips.empty()) {
        Clip clip = s->clips.front();
        clip.volume = 0.3f;
        model.updateClip(clip);
    }

    model.addOverlay(OverlayKind::text);

    const std::optional<std::string> error = co_await savedProject(model, package);
    logLine(std::string("Hézag-teszt projekt mentve: ") + boolText(!error));
    co_await allSaved(model);
}

} // namespace ondexa::selftest
