// One fixed scenario of everyday edits: a matrix cut, a text overlay, a split
// and a duplicate, two timed actions, a new frame for the screen clip and,
// for every still named on the command line, two imports and a drag of one
// image clip onto the other image track; then an export of the whole.

#include "Ondexa/model/Log.h"
#include "Ondexa/selftest/ScenarioSupport.h"
#include "Ondexa/selftest/ScenarioTests.h"
#include "Ondexa/selftest/SelfTests.h"
#include "Ondexa/selftest/TestModel.h"

#include <QCoreApplication>

#include <algorithm>

namespace ondexa::selftest {

namespace {

void placeAtMost(EditorModel& model, double time)
{
    placePlayhead(model, std::min(model.duration(), time));
}

std::string summary(const EditorModel& model)
{
    return timelineSummary(model.tracks(), 1, true);
}

// Every argument, the program path and the flags too: a still is any that ends in ".png".
std::vector<std::filesystem::path> stillsOf(const std::vector<std::string>& arguments)
{
    std::vector<std::filesystem::path> stills;
    for (const std::string& argument : arguments)
        if (argument.ends_with(".png")) stills.push_back(std::filesystem::absolute(argument));
    return stills;
}

} // namespace

Task editTest(AppState&, std::filesystem::path source, std::filesystem::path output)
{
    const std::vector<std::filesystem::path> stills = stillsOf(commandLine());
    std::vector<std::filesystem::path> read{source};
    read.insert(read.end(), stills.begin(), stills.end());
    if (!filesApart("Szerkesztés-teszt", {read, std::nullopt, {output}})) co_return;

    EditorModel model(source);
    co_await loaded(model);

    model.cutMatrix(2.0, 4.0, screenAndSoundIDs(model.tracks()));
    logLine("Mátrix-teszt: kijelölve=" + std::to_string(model.selectedClips().size()) + " | " + summary(model));

    model.clearSelection();
    placeAtMost(model, 1.0);
    model.addOverlay(OverlayKind::text);

    placeAtMost(model, 3.0);
    model.splitAtPlayhead();
    model.duplicateSelection();

    {
        const auto effects = std::find_if(model.tracks().begin(), model.tracks().end(),
                                          [](const Track& track) { return track.media.kind == MediaKind::effects; });
        if (effects != model.tracks().end() && !effects->clips.empty()) {
            model.selectClip(effects->clips.front().id, false, false);
            placeAtMost(model, 1.2);
            model.addAction();
            if (const auto selected = model.selectedAction()) {
                TrackAction action = selected->action;
                action.end = 1.8;
                action.rotation = 20.0;
                action.scale = 1.5;
                model.updateAction(action);
            }
        }
    }

    if (const Track* screen = screenTrack(model.tracks()); screen && !screen->clips.empty()) {
        Clip clip = screen->clips.front();
        double centerX = 0.5, centerY = 0.5;
        if (clip.frame && !clip.overlay) {
            centerX = clip.frame->x + clip.frame->w / 2;
            centerY = clip.frame->y + clip.frame->h / 2;
        }
        // 0.7 of the output in the direction the picture fills first.
        const double outputAspect = model.aspect();
        double w = 0.7, h = 0.7;
        if (outputAspect / clip.aspect > 1) w = 0.7 * clip.aspect / outputAspect;
        else h = 0.7 * outputAspect / clip.aspect;
        clip.frame = NRect{centerX - w / 2, centerY - h / 2, w, h};
        model.updateClip(clip);

        model.selectClip(clip.id, false, false);
        placeAtMost(model, 6.0);
        model.addAction();
        if (const auto selected = model.selectedAction()) {
            TrackAction action = selected->action;
            action.scale = 1.3;
            model.updateAction(action);
        }
    }

    for (const std::filesystem::path& image : stills) {
        for (int i = 0; i < 2; ++i) {
            placeAtMost(model, 2.0);
            co_await imported(model, image);
        }
        std::vector<int> imageRows;
        for (std::size_t i = 0; i < model.tracks().size(); ++i)
            if (model.tracks()[i].media.kind == MediaKind::image) imageRows.push_back(int(i));
        if (imageRows.size() >= 2 && !model.tracks()[std::size_t(imageRows[0])].clips.empty()) {
            const Clip still = model.tracks()[std::size_t(imageRows[0])].clips.front();
            model.pushUndo();
            model.moveClip(still, MediaKind::image, 4.0, imageRows[1], 0.1);
            model.endClipDrag();
        }
    }

    logLine("Szerkesztés-teszt: " + summary(model));
    const bool written = co_await exported(model, output,
                                           options(Range::all, Size::original, Encoding::fast, Format::mp4));
    logLine(std::string("Szerkesztés-teszt export: ") + (written ? "OK" : failureText(model)));
    co_await allSaved(model);
}

} // namespace ondexa::selftest
