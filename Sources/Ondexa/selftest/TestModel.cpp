#include "Ondexa/selftest/TestModel.h"

#include "Platform/media/MediaTime.h"

namespace ondexa::selftest {

const Track* screenTrack(const std::vector<Track>& tracks)
{
    for (const Track& track : tracks)
        if (track.fromRecording && track.media.kind == MediaKind::video && track.media.index == 0) return &track;
    return nullptr;
}

const Track* soundTrack(const std::vector<Track>& tracks)
{
    for (const Track& track : tracks)
        if (track.media.kind == MediaKind::audio) return &track;
    return nullptr;
}

std::set<Uuid> screenAndSoundIDs(const std::vector<Track>& tracks)
{
    std::set<Uuid> ids;
    if (const Track* screen = screenTrack(tracks)) ids.insert(screen->id);
    if (const Track* sound = soundTrack(tracks)) ids.insert(sound->id);
    return ids;
}

Completion<void> loaded(EditorModel& model)
{
    return completion([&model](std::function<void()> done) { model.load(std::move(done)); });
}

Completion<bool> exported(EditorModel& model, std::filesystem::path to, ExportOptions options)
{
    return completion<bool>([&model, to = std::move(to), options](std::function<void(bool)> done) {
        model.exportTo(to, options, std::move(done));
    });
}

Completion<std::optional<std::string>> savedProject(EditorModel& model, std::filesystem::path package)
{
    return completion<std::optional<std::string>>(
        [&model, package = std::move(package)](std::function<void(std::optional<std::string>)> done) {
            model.saveProject(package, std::move(done));
        });
}

Completion<void> imported(EditorModel& model, std::filesystem::path file)
{
    return completion([&model, file = std::move(file)](std::function<void()> done) {
        model.addMedia(file, std::move(done));
    });
}

Completion<void> allSaved(EditorModel& model)
{
    return completion([&model](std::function<void()> done) { model.whenSaved(std::move(done)); });
}

void placePlayhead(EditorModel& model, double time)
{
    model.clock().setTime(time);
    model.player().seek(platform::MediaTime::fromSeconds(time));
}

std::string failureText(const EditorModel& model)
{
    return "HIBA " + model.exportError().value_or(std::string());
}

} // namespace ondexa::selftest
