#pragma once

// Checking one timeline edit whole: apply it and compare the entire track
// list with the expected one; undo and compare with the list before; redo
// and compare with the list after. Expected lists are written with ids:
//   - an id taken from the list before must come out unchanged;
//   - a nil id (Uuid()) stands for a new one: the actual id must be absent
//     from the list before and used once only in the list after;
//   - links are compared as classes: clips sharing an expected link must
//     share one actual link, clips with different expected links must have
//     different ones, and a clip without an expected link must have none.
//     So any Uuid (for example link(1), link(2)) names a group.
//
// A model for these tests is made from a track list alone (no media, no
// load): edits commit and rebuild over nothing, and autosave writes nothing.

#include "EditingFixtures.h"

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/model/Timeline.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace ondexa::testing {

// An editor over `tracks`, with settings of its own in `folder`.
inline std::unique_ptr<EditorModel> editorWith(const std::filesystem::path& folder, std::vector<Track> tracks)
{
    auto model = std::make_unique<EditorModel>(folder / "edit.mov", settingsIn(folder));
    model->setTracks(std::move(tracks));
    return model;
}

// A fixed id that names a link group in expected lists: link(1), link(2), …
inline Uuid link(unsigned char n)
{
    std::array<std::uint8_t, 16> bytes{};
    bytes[0] = 0x11;
    bytes[15] = n;
    return Uuid(bytes);
}

inline constexpr const char* kMediaPath = "/nowhere/screen.mov";

// A clip on the timeline; the media is a stream of kMediaPath.
inline Clip clipAt(double start, double duration, double sourceStart = 0, MediaKind kind = MediaKind::video)
{
    Clip clip;
    clip.start = start;
    clip.duration = duration;
    clip.sourceStart = sourceStart;
    clip.media = MediaRef{kMediaPath, kind, 0};
    return clip;
}

inline Clip linked(Clip clip, Uuid link)
{
    clip.link = link;
    return clip;
}

inline Track trackWith(std::string name, std::vector<Clip> clips, MediaKind kind = MediaKind::video)
{
    Track track;
    track.name = std::move(name);
    track.media = MediaRef{kind == MediaKind::effects ? std::string() : std::string(kMediaPath), kind, 0};
    track.clips = std::move(clips);
    return track;
}

// The JSON text of a track, for failure messages.
inline std::string describe(const Track& track)
{
    try {
        return encodeJson(track).dump();
    } catch (const std::exception& error) {
        return std::string("(not codable: ") + error.what() + ")";
    }
}

inline std::string describe(const std::vector<Track>& tracks)
{
    std::string text;
    for (const Track& track : tracks) text += describe(track) + "\n";
    return text;
}

namespace detail {

inline void collectIds(const std::vector<Track>& tracks, std::multiset<Uuid>& ids)
{
    for (const Track& track : tracks) {
        ids.insert(track.id);
        for (const Clip& clip : track.clips) {
            ids.insert(clip.id);
            if (clip.overlay) ids.insert(clip.overlay->id);
            for (const TrackAction& action : clip.actions) ids.insert(action.id);
        }
    }
}

// Takes the actual id where the expected one is nil and the actual one is new.
class IdMatcher {
public:
    IdMatcher(const std::vector<Track>& before, const std::vector<Track>& actual)
    {
        std::multiset<Uuid> old;
        collectIds(before, old);
        old_ = {old.begin(), old.end()};
        collectIds(actual, used_);
    }

    void match(const Uuid& expected, Uuid& actual, const std::string& where)
    {
        if (!expected.isNil()) return;  // compared as a value later
        if (old_.count(actual)) problems_ << where << ": id " << actual.string() << " is not new\n";
        else if (used_.count(actual) > 1) problems_ << where << ": new id " << actual.string() << " is used twice\n";
        actual = Uuid();
    }

    void matchLink(const std::optional<Uuid>& expected, std::optional<Uuid>& actual, const std::string& where)
    {
        if (expected.has_value() != actual.has_value()) {
            problems_ << where << ": link " << (actual ? "set" : "missing") << "\n";
            actual = expected;
            return;
        }
        if (!expected) return;
        const auto [forward, newForward] = forward_.try_emplace(*expected, *actual);
        const auto [backward, newBackward] = backward_.try_emplace(*actual, *expected);
        if (forward->second != *actual || backward->second != *expected)
            problems_ << where << ": link groups differ\n";
        actual = expected;
    }

    std::string problems() const { return problems_.str(); }

private:
    std::set<Uuid> old_;
    std::multiset<Uuid> used_;
    std::map<Uuid, Uuid> forward_, backward_;
    std::ostringstream problems_;
};

} // namespace detail

// Compares `actual` with `expected` under the id rules above.
inline ::testing::AssertionResult tracksMatch(const std::vector<Track>& before, const std::vector<Track>& expected,
                                              std::vector<Track> actual)
{
    if (actual.size() != expected.size())
        return ::testing::AssertionFailure() << actual.size() << " tracks, expected " << expected.size() << "\nactual:\n"
                                             << describe(actual) << "expected:\n" << describe(expected);
    detail::IdMatcher ids(before, actual);
    for (std::size_t t = 0; t < actual.size(); ++t) {
        Track& a = actual[t];
        const Track& e = expected[t];
        const std::string trackName = "track " + std::to_string(t);
        ids.match(e.id, a.id, trackName);
        if (a.clips.size() != e.clips.size()) continue;  // reported by the comparison below
        for (std::size_t c = 0; c < a.clips.size(); ++c) {
            Clip& ac = a.clips[c];
            const Clip& ec = e.clips[c];
            const std::string where = trackName + " clip " + std::to_string(c);
            ids.match(ec.id, ac.id, where);
            ids.matchLink(ec.link, ac.link, where);
            if (ac.overlay && ec.overlay) ids.match(ec.overlay->id, ac.overlay->id, where + " overlay");
            if (ac.actions.size() != ec.actions.size()) continue;
            for (std::size_t i = 0; i < ac.actions.size(); ++i)
                ids.match(ec.actions[i].id, ac.actions[i].id, where + " action " + std::to_string(i));
        }
    }
    std::ostringstream failure;
    failure << ids.problems();
    for (std::size_t t = 0; t < actual.size(); ++t) {
        if (actual[t] == expected[t]) continue;
        failure << "track " << t << " differs\n  actual:   " << describe(actual[t]) << "\n  expected: "
                << describe(expected[t]) << "\n";
    }
    const std::string text = failure.str();
    if (text.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << text;
}

// Applies `edit` as one undoable step and checks the track list after it,
// after undo (the list before, exactly) and after redo (the list after,
// exactly). `afterEdit` runs right after the edit, before the undo (for
// checks of the selection, which undo reduces).
inline ::testing::AssertionResult editGives(EditorModel& model, const std::function<void(EditorModel&)>& edit,
                                            const std::vector<Track>& expected,
                                            const std::function<void(EditorModel&)>& afterEdit = {})
{
    const std::vector<Track> before = model.tracks();
    const std::size_t steps = model.undoStack().size();
    edit(model);
    const std::vector<Track> after = model.tracks();
    if (auto result = tracksMatch(before, expected, after); !result) return result << "(after the edit)";
    if (afterEdit) afterEdit(model);
    if (model.undoStack().size() != steps + 1 && !(steps == EditorModel::undoLimit && model.undoStack().size() == steps))
        return ::testing::AssertionFailure() << "the edit pushed " << model.undoStack().size() - steps
                                             << " undo steps, not one";
    model.undo();
    if (model.tracks() != before)
        return ::testing::AssertionFailure() << "undo gave\n" << describe(model.tracks()) << "not\n" << describe(before);
    model.redo();
    if (model.tracks() != after)
        return ::testing::AssertionFailure() << "redo gave\n" << describe(model.tracks()) << "not\n" << describe(after);
    return ::testing::AssertionSuccess();
}

// Applies `edit` and checks that it changed nothing and pushed no undo step.
inline ::testing::AssertionResult editChangesNothing(EditorModel& model, const std::function<void(EditorModel&)>& edit)
{
    const std::vector<Track> before = model.tracks();
    const std::size_t steps = model.undoStack().size();
    edit(model);
    if (model.tracks() != before)
        return ::testing::AssertionFailure() << "the edit changed the tracks to\n" << describe(model.tracks());
    if (model.undoStack().size() != steps) return ::testing::AssertionFailure() << "the edit pushed an undo step";
    return ::testing::AssertionSuccess();
}

} // namespace ondexa::testing
