// Every clip transition rendered once: for each, a fresh timeline of a copied
// recording, the screen track cut in two, the second piece pulled back over
// the first by two seconds with the transition, the pointer drawn with click
// rings, and a quarter-size movie named after the transition.

#include "Ondexa/model/Log.h"
#include "Ondexa/model/RecordingInfo.h"
#include "Ondexa/selftest/ScenarioSupport.h"
#include "Ondexa/selftest/ScenarioTests.h"
#include "Ondexa/selftest/TestModel.h"
#include "Ondexa/timeline/TimelinePainting.h"

#include <algorithm>
#include <memory>
#include <system_error>

namespace ondexa::selftest {

namespace {

std::string rawValue(Transition transition)
{
    for (const auto& [value, text] : rawValues(transition))
        if (value == transition) return std::string(text);
    return {};
}

} // namespace

Task transitionTest(AppState&, std::filesystem::path source, std::filesystem::path folder)
{
    const std::filesystem::path working = workingCopyPath(folder, "transition-source", source);
    const auto movieOf = [&folder](Transition transition) { return folder / (rawValue(transition) + ".mp4"); };
    std::vector<std::filesystem::path> movies;
    for (const Transition transition : allTransitions()) movies.push_back(movieOf(transition));
    // The copy checks its pair again as it replaces the working copy.
    if (!filesApart("Átmenet-teszt", {{source}, working, movies}) || !replaceWithCopy(source, working)) co_return;

    for (const Transition transition : allTransitions()) {
        const std::string label = transitionName(transition).toStdString();

        // The previous pass's edits are dropped: every pass starts from the
        // timeline the recording gives.
        std::error_code ignored;
        std::filesystem::remove(RecordingInfo::sideFileURL(working), ignored);
        writeFreshSideFile(source, working);

        auto model = std::make_unique<EditorModel>(working);
        co_await loaded(*model);

        const Track* screen = screenTrack(model->tracks());
        if (!screen) {
            logLine("Átmenet-teszt: nincs képernyő");
            co_return;
        }
        model->cutMatrix(6.0, 6.01, {screen->id});
        model->deleteSelection(false);

        std::optional<Clip> second;
        for (const Clip& clip : screenTrack(model->tracks())->clips) {
            if (clip.start > 6.005) {
                second = clip;
                break;
            }
        }
        if (!second) {
            logLine("Átmenet-teszt: nincs második klip");
            co_return;
        }
        model->pushUndo();
        model->moveClip(*second, MediaKind::video, -2.01, std::nullopt, 0);
        model->endClipDrag();

        if (const Track* moved = screenTrack(model->tracks())) {
            const auto found = std::find_if(moved->clips.begin(), moved->clips.end(),
                                            [&](const Clip& clip) { return clip.id == second->id; });
            if (found != moved->clips.end()) {
                Clip clip = *found;
                clip.transition = transition;
                model->updateClip(clip);
            }
        }

        CursorStyle style = model->cursorStyle().value_or(CursorStyle{});
        style.enabled = true;
        style.ring = true;
        model->setCursorStyle(style);

        logLine("Átmenet-teszt " + label + " export indul");
        const bool written = co_await exported(*model, movieOf(transition),
                                               options(Range::all, Size::quarter, Encoding::fast, Format::mp4));
        logLine("Átmenet-teszt " + label + ": " + (written ? "OK" : failureText(*model)));
        // A write of this pass landing after the next pass's fresh side file
        // would hand that pass these edits.
        co_await allSaved(*model);
    }
}

} // namespace ondexa::selftest
