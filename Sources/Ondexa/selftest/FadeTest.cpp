// Very short pieces and overlaps: a 20 ms matrix cut across the screen and
// sound tracks, the selection of a link group, a drag that makes two screen
// clips overlap and a fade-out on the last sound clip, then an export.

#include "Ondexa/model/Log.h"
#include "Ondexa/selftest/LogText.h"
#include "Ondexa/selftest/ScenarioTests.h"
#include "Ondexa/selftest/TestFiles.h"
#include "Ondexa/selftest/TestModel.h"

#include <cmath>

namespace ondexa::selftest {

Task fadeTest(AppState&, std::filesystem::path source, std::filesystem::path folder)
{
    const std::filesystem::path movie = folder / "fade.mp4";
    if (!filesApart("Fadeteszt", {{source}, std::nullopt, {movie}})) co_return;

    EditorModel model(source);
    co_await loaded(model);

    {
        const Track* screen = screenTrack(model.tracks());
        const Track* sound = soundTrack(model.tracks());
        // An empty track (possible in a saved project) has no first or last
        // clip to work on: the test has nothing to say.
        if (!screen || !sound || screen->clips.empty() || sound->clips.empty()) co_return;
        model.cutMatrix(2.0, 2.02, {screen->id, sound->id});
    }

    int pieces = 0;
    for (const Track& track : model.tracks())
        for (const Clip& clip : track.clips)
            if (std::abs(clip.duration - 0.02) < 0.001) ++pieces;

    model.selectClip(screenTrack(model.tracks())->clips.front().id, false, false);
    const std::size_t selected = model.selectedClips().size();
    model.clearSelection();

    // The piece that begins at the second cut, dragged back over the first.
    std::optional<Clip> piece;
    for (const Clip& clip : screenTrack(model.tracks())->clips) {
        if (clip.start > 2.01 && clip.start < 2.03) {
            piece = clip;
            break;
        }
    }
    if (piece) {
        model.pushUndo();
        model.moveClip(*piece, MediaKind::video, -1.0, std::nullopt, 0);
        model.endClipDrag();
    }
    const std::size_t rows = screenTrack(model.tracks())->lanes().size();

    if (!soundTrack(model.tracks())->clips.empty()) {
        Clip last = soundTrack(model.tracks())->clips.back();
        last.fadeOut = 2.0;
        model.pushUndo();
        model.updateClip(last);
    }
    const Clip& last = soundTrack(model.tracks())->clips.back();
    const double soundEnd = last.start + last.duration;

    logLine("Fadeteszt: 20 ms-os darabok=" + std::to_string(pieces) + " · összekötve kijelölve="
            + std::to_string(selected) + " · képernyő sávok átfedéssel=" + std::to_string(rows)
            + " · hang vége=" + fixed(soundEnd, 2));

    const bool written = co_await exported(model, movie,
                                           options(Range::all, Size::original, Encoding::fast, Format::mp4));
    logLine(std::string("Fadeteszt export: ") + (written ? "OK" : failureText(model)));
    // The side file holds the edits before the next test reads anything.
    co_await allSaved(model);
}

} // namespace ondexa::selftest
