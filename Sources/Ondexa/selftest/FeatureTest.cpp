#include "Ondexa/model/Log.h"
#include "Ondexa/rendering/AudioMixBuilder.h"
#include "Ondexa/selftest/LogText.h"
#include "Ondexa/selftest/SelfTests.h"
#include "Ondexa/selftest/TestFiles.h"
#include "Ondexa/selftest/TestModel.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <system_error>

namespace ondexa::selftest {

namespace {

namespace fs = std::filesystem;

std::vector<std::string> sortedNames(const fs::path& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

Task featureTest(AppState&, fs::path source, fs::path folder)
{
    const fs::path sound = folder / "max.m4a";
    const fs::path matrix = folder / "matrix.mp4";
    const fs::path package = folder / "teszt.vdlproj";
    if (!filesApart("Funkcióteszt", {{source}, std::nullopt, {sound, matrix, package}})) co_return;

    auto model = std::make_unique<EditorModel>(source);
    co_await loaded(*model);
    co_await delay(4.0);

    // The maximizer on every sound track, as the tracks are now.
    const std::vector<Track> tracks = model->tracks();
    for (const Track& track : tracks) {
        if (track.media.kind != MediaKind::audio) continue;
        Track changed = track;
        changed.maximize = true;
        model->updateTrack(changed, true);
        const double gain = 20.0 * std::log10(double(maximizerGain(changed, model->peaks())));
        logLine("Funkcióteszt: " + track.name + " maximalizáló erősítés " + fixed(gain, 1) + " dB");
    }

    const bool soundWritten =
        co_await exported(*model, sound, options(Range::all, Size::original, Encoding::fast, Format::m4a));

    model->setMatrixSelection(EditorModel::MatrixSelection{2.0, 5.0, screenAndSoundIDs(model->tracks())});
    const bool matrixWritten = co_await exported(*model, matrix,
                                                 options(Range::matrix, Size::hd, Encoding::normal, Format::mp4));

    const fs::path picture = folder / "kep.png";
    std::error_code error;
    if (fs::exists(picture, error)) co_await imported(*model, picture);
    co_await delay(3.0);

    std::vector<std::string> counts;
    for (const auto& [media, pictures] : model->thumbnails())
        counts.push_back(fs::path(media.path).filename().string() + "#" + std::to_string(media.index) + ": "
                         + std::to_string(pictures.size()));
    std::sort(counts.begin(), counts.end());
    logLine("Funkcióteszt: bélyegképek " + listText(counts));

    if (const auto failure = co_await savedProject(*model, package))
        logLine("Funkcióteszt projekt HIBA: " + *failure);

    // The reopen may draw only on the package's own copies. However the test
    // ends from here (a quit, SIGTERM, an exception), both come back.
    SetAside sourceAside(source);
    SetAside pictureAside(picture);
    logLine("Funkcióteszt: a csomagban: " + listText(sortedNames(package / "Media")));

    auto reopened = std::make_unique<EditorModel>(package);
    co_await loaded(*reopened);

    bool same = reopened->tracks().size() == model->tracks().size();
    for (const Track& track : reopened->tracks()) {
        same = same && std::any_of(model->tracks().begin(), model->tracks().end(), [&](const Track& tested) {
                   return tested.id == track.id && tested.maximize == track.maximize;
               });
    }
    logLine(std::string("Funkcióteszt: max.m4a ") + (soundWritten ? "OK" : "HIBA")
            + " · matrix.mp4 " + (matrixWritten ? std::string("OK") : failureText(*model))
            + " · projekt újranyitva: " + (same ? "egyezik" : "ELTÉR")
            + " (" + reopened->url().filename().string() + ")");

    // Both models' writes first: the tested one still autosaves into the package.
    co_await allSaved(*model);
    co_await allSaved(*reopened);
    sourceAside.putBack();
    pictureAside.putBack();
}

} // namespace ondexa::selftest
