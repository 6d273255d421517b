#include "Ondexa/model/Log.h"
#include "Ondexa/rendering/AudioMixBuilder.h"
#include "Ondexa/selftest/LogText.h"
#include "Ondexa/selftest/SelfTests.h"
#include "Ondexa/selftest/TestModel.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <system_error>

namespace ondexa::selftest {

namespace {

namespace fs = std::filesystem;

// Something moved out of reach and back again: the reopened package must
// stand on its own copies, yet the operator's files are not destroyed.
class SetAside {
public:
    explicit SetAside(fs::path original) : original_(std::move(original))
    {
        std::error_code error;
        if (!fs::exists(fs::symlink_status(original_, error))) return;
        // A name nothing else uses, so that no file is replaced by the move.
        for (int n = 0; n < 1000; ++n) {
            fs::path aside = original_;
            aside += ".aside" + (n ? std::to_string(n) : std::string());
            if (fs::exists(fs::symlink_status(aside, error))) continue;
            fs::rename(original_, aside, error);
            if (!error) aside_ = aside;
            return;
        }
    }
    void putBack()
    {
        if (!aside_) return;
        std::error_code error;
        if (!fs::exists(fs::symlink_status(original_, error))) fs::rename(*aside_, original_, error);
        aside_.reset();
    }

private:
    fs::path original_;
    std::optional<fs::path> aside_;
};

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
        co_await exported(*model, folder / "max.m4a", options(Range::all, Size::original, Encoding::fast, Format::m4a));

    model->setMatrixSelection(EditorModel::MatrixSelection{2.0, 5.0, screenAndSoundIDs(model->tracks())});
    const bool matrixWritten = co_await exported(*model, folder / "matrix.mp4",
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

    const fs::path package = folder / "teszt.vdlproj";
    if (const auto failure = co_await savedProject(*model, package))
        logLine("Funkcióteszt projekt HIBA: " + *failure);

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
