// How a clip looks and sounds at a moment: picture placement from its frame
// and actions, fade factors, automatic cross-fades and the gain automation.
// Pure functions of their arguments: the compositor calls them from its own
// queue, the audio mix and the timeline from theirs.

#include "Timeline.h"

#include <algorithm>

namespace ondexa {

namespace {

double smoothstep(double x)
{
    x = std::clamp(x, 0.0, 1.0);
    return x * x * (3 - 2 * x);
}

// Equal starts keep their stored order: the user sees them applied that way.
template <class T>
std::vector<T> sortedByStart(std::vector<T> items)
{
    std::stable_sort(items.begin(), items.end(), [](const T& a, const T& b) { return a.start < b.start; });
    return items;
}

std::vector<const TrackAction*> actionsByStart(const Clip& clip)
{
    std::vector<const TrackAction*> sorted;
    sorted.reserve(clip.actions.size());
    for (const TrackAction& action : clip.actions) sorted.push_back(&action);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const TrackAction* a, const TrackAction* b) { return a->start < b->start; });
    return sorted;
}

PictureState withTargets(PictureState state, const TrackAction& action)
{
    if (action.scale) state.scale = *action.scale;
    if (action.centerX) state.centerX = *action.centerX;
    if (action.centerY) state.centerY = *action.centerY;
    if (action.rotation) state.rotation = *action.rotation;
    return state;
}

// How far an action has moved the picture towards its target at clip time t.
double progress(const TrackAction& action, double t)
{
    const double length = action.end - action.start;
    if (!action.returns) {
        if (action.end <= t) return 1;
        return smoothstep((t - action.start) / std::max(length, 0.01));
    }
    // Eases in and back out; a very short action still needs a ramp to divide by.
    const double ramp = length >= 0.01 ? std::min(length / 3, 0.6) : 1.0 / 300;
    return smoothstep(std::min((t - action.start) / ramp, (action.end - t) / ramp));
}

PictureState mix(const PictureState& from, const PictureState& to, double p)
{
    return {from.scale + (to.scale - from.scale) * p, from.centerX + (to.centerX - from.centerX) * p,
            from.centerY + (to.centerY - from.centerY) * p, from.rotation + (to.rotation - from.rotation) * p};
}

} // namespace

PictureState Clip::baseState(double outputAspect) const
{
    PictureState state;
    state.rotation = rotation;
    if (!frame || overlay) return state;
    // Width of the fitted picture as a share of the output width.
    double fitted = outputAspect / aspect > 1 ? aspect / outputAspect : 1;
    // A zero aspect read from a file would make the scale infinite.
    if (!(fitted > 0)) fitted = 1;
    state.scale = frame->w / fitted;
    state.centerX = frame->x + frame->w / 2;
    state.centerY = frame->y + frame->h / 2;
    return state;
}

PictureState Clip::pictureState(double time, double outputAspect) const
{
    PictureState state = baseState(outputAspect);
    const double t = time - start;
    for (const TrackAction* action : actionsByStart(*this)) {
        if (action->start > t) continue;
        if (action->returns && action->end <= t) continue;
        state = mix(state, withTargets(state, *action), progress(*action, t));
    }
    return state;
}

PictureState Clip::targetState(const TrackAction& action, double outputAspect) const
{
    return withTargets(pictureState(start + action.start, outputAspect), action);
}

double Clip::fadeLevel(double time) const
{
    const double in = fadeIn > 0 ? std::clamp((time - start) / fadeIn, 0.0, 1.0) : 1.0;
    if (fadeOut <= 0) return in;
    const double out = std::max((start + duration - time) / fadeOut, 0.0);
    return std::min(out, in);
}

std::vector<Clip> Track::effectiveClips() const
{
    std::vector<Clip> sorted = sortedByStart(clips);
    // Every pair, not only neighbours: a long clip may overlap several later
    // ones. Later starts only shrink the overlap, so the first clip that
    // starts after this one's end ends its search (a long track stays linear).
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        for (std::size_t j = i + 1; j < sorted.size(); ++j) {
            const double overlap = sorted[i].end() - sorted[j].start;
            if (overlap <= 0) break;
            const double fade = std::min({overlap, sorted[j].duration, sorted[i].duration});
            sorted[i].fadeOut = std::max(sorted[i].fadeOut, fade);
            sorted[j].fadeIn = std::max(sorted[j].fadeIn, fade);
        }
    }
    for (Clip& clip : sorted) {
        clip.fadeIn = std::min(clip.fadeIn, clip.duration);
        clip.fadeOut = std::min(clip.fadeOut, clip.duration);
    }
    return sorted;
}

std::vector<VolumeStep> Track::volumeSteps(std::span<const Clip> given) const
{
    std::vector<VolumeStep> steps{VolumeStep::set(0, 0)};
    const float gain = volume;
    for (const Clip& clip : sortedByStart(std::vector<Clip>(given.begin(), given.end()))) {
        const double clipStart = clip.start;
        const double clipEnd = clip.start + clip.duration;
        // Fades longer than the clip would give ramps past its end or backwards.
        const double fadeIn = std::min(clip.fadeIn, clip.duration);
        const double fadeOut = std::min(clip.fadeOut, clip.duration);
        float level = gain * clip.volume;
        if (fadeIn > 0) {
            steps.push_back(VolumeStep::set(clipStart, 0));
            steps.push_back(VolumeStep::ramp(clipStart, clipStart + fadeIn, 0, level));
        } else {
            steps.push_back(VolumeStep::set(clipStart, level));
        }
        double cursor = clipStart + fadeIn;
        const double fadeOutStart = clipEnd - fadeOut;
        for (const TrackAction* action : actionsByStart(clip)) {
            if (!action->volume) continue;
            const double from = std::max(cursor, clipStart + action->start);
            const double to = std::min(clipStart + std::min(clip.duration, action->end), fadeOutStart);
            if (!(from < to)) continue;
            const float target = gain * *action->volume;
            if (action->returns) {
                const double ramp = std::min((to - from) / 3, 0.6);
                steps.push_back(VolumeStep::ramp(from, from + ramp, level, target));
                steps.push_back(VolumeStep::ramp(to - ramp, to, target, level));
            } else {
                steps.push_back(VolumeStep::ramp(from, to, level, target));
                level = target;
            }
            cursor = to;
        }
        if (fadeOut > 0) steps.push_back(VolumeStep::ramp(std::max(fadeOutStart, cursor), clipEnd, level, 0));
    }
    return steps;
}

} // namespace ondexa
