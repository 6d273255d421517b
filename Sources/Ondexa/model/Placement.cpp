// How a clip looks and sounds at a moment: picture placement from its frame
// and actions, fade factors, automatic cross-fades and the gain automation.
// Pure functions of their arguments: the compositor calls them from its own
// queue, the audio mix and the timeline from theirs.

#include "CrossFades.h"
#include "Timeline.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <optional>

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

// Durations of the clips seen so far, each at a fixed position, with the
// largest of every prefix of positions at hand (a Fenwick tree of maxima).
class PrefixMaxima {
public:
    explicit PrefixMaxima(std::size_t count) : tree_(count + 1, -std::numeric_limits<double>::infinity()) {}

    void raise(std::size_t position, double value)
    {
        for (std::size_t k = position + 1; k < tree_.size(); k += k & (~k + 1)) tree_[k] = std::max(tree_[k], value);
    }

    // The largest min(overlap(p), value at p) over the positions p < limit
    // that hold a value; none when none does. overlap must not grow with p.
    // Beyond the first p at which the largest value so far reaches
    // overlap(p), overlap alone decides, and before it the values do; that p
    // is found by descending the tree.
    template <class Overlap>
    std::optional<double> largestOverlap(std::size_t limit, Overlap overlap) const
    {
        constexpr double none = -std::numeric_limits<double>::infinity();
        std::size_t below = 0;  // positions before the crossing
        double largest = none;  // the largest value among them
        for (std::size_t step = std::bit_floor(tree_.size() - 1); step > 0; step >>= 1) {
            const std::size_t next = below + step;
            if (next > limit) continue;
            const double upTo = std::max(largest, tree_[next]);
            if (upTo < overlap(next - 1)) {
                below = next;
                largest = upTo;
            }
        }
        if (below < limit) return std::max(largest, overlap(below));
        if (largest == none) return std::nullopt;
        return largest;
    }

private:
    std::vector<double> tree_;  // 1-based
};

// A time and the index of the clip it belongs to.
struct Key {
    double start;  // or, ordering by end, the end
    std::size_t index;
};

// Sorts stably by the given order of times. A time that is not a number
// breaks the ordering that std::sort relies on; the stable sort copes.
template <class Before>
void sortKeys(std::vector<Key>& keys, Before before)
{
    // Tracks mostly store their clips in order already.
    if (std::is_sorted(keys.begin(), keys.end(), before)) return;
    if (std::any_of(keys.begin(), keys.end(), [](const Key& key) { return std::isnan(key.start); })) {
        std::stable_sort(keys.begin(), keys.end(), before);
    } else {
        std::sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
            return before(a, b) || (!before(b, a) && a.index < b.index);
        });
    }
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

CrossFades crossFades(const std::vector<Clip>& clips)
{
    // Sorted as small keys: moving whole clips about costs more than all the rest.
    const std::size_t count = clips.size();
    std::vector<Key> keys(count);
    for (std::size_t i = 0; i < count; ++i) keys[i] = {clips[i].start, i};
    // Equal starts keep their stored order.
    sortKeys(keys, [](const Key& a, const Key& b) { return a.start < b.start; });
    CrossFades result{std::vector<std::size_t>(count), std::vector<double>(count), std::vector<double>(count)};
    std::vector<double> starts(count), ends(count), durations(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Clip& clip = clips[keys[i].index];
        result.order[i] = keys[i].index;
        result.fadeIn[i] = clip.fadeIn;
        result.fadeOut[i] = clip.fadeOut;
        starts[i] = clip.start;
        ends[i] = clip.end();
        durations[i] = clip.duration;
    }
    std::vector<double>& fadeIn = result.fadeIn;
    std::vector<double>& fadeOut = result.fadeOut;

    // Every overlapping pair counts, not only neighbours: a long clip may
    // overlap several later ones. Clip i before clip j (in sorted order)
    // overlap when ends[i] > starts[j], by min(ends[i] − starts[j],
    // durations[i], durations[j]). The longest such overlap of each clip is
    // found with prefix maxima instead of by visiting every pair.

    // Fade-ins. Usually the clip that ends last so far overlaps clip j the
    // most; only when its own length caps that overlap are the others asked.
    // The earlier clips that end after clip j starts are a prefix of the
    // clips ordered by descending end.
    std::vector<std::size_t> endRank;
    std::vector<double> descendingEnds;
    PrefixMaxima earlier(count);
    std::size_t entered = 0;  // clips before this one are in `earlier`
    double lastEnd = -std::numeric_limits<double>::infinity(), longestEndingLast = lastEnd;
    for (std::size_t j = 0; j < count; ++j) {
        const double start = starts[j];
        std::optional<double> longest;
        if (j > 0 && lastEnd > start) {
            if (lastEnd - start <= longestEndingLast) {
                longest = lastEnd - start;
            } else {
                if (endRank.empty()) {
                    std::vector<Key> byEnd(count);
                    for (std::size_t i = 0; i < count; ++i) byEnd[i] = {ends[i], i};
                    sortKeys(byEnd, [](const Key& a, const Key& b) { return a.start > b.start; });
                    endRank.resize(count);
                    descendingEnds.resize(count);
                    for (std::size_t p = 0; p < count; ++p) {
                        endRank[byEnd[p].index] = p;
                        descendingEnds[p] = byEnd[p].start;
                    }
                }
                for (; entered < j; ++entered) earlier.raise(endRank[entered], durations[entered]);
                const auto reaching = static_cast<std::size_t>(
                    std::partition_point(descendingEnds.begin(), descendingEnds.end(),
                                         [&](double end) { return end > start; })
                    - descendingEnds.begin());
                longest = earlier.largestOverlap(reaching, [&](std::size_t p) { return descendingEnds[p] - start; });
            }
        }
        if (longest) fadeIn[j] = std::max(fadeIn[j], std::min(*longest, durations[j]));
        if (ends[j] > lastEnd) {
            lastEnd = ends[j];
            longestEndingLast = durations[j];
        } else if (ends[j] == lastEnd) {
            longestEndingLast = std::max(longestEndingLast, durations[j]);
        }
    }

    // Fade-outs. Usually the next clip overlaps clip i the most; only when
    // it ends inside clip i are the others asked. The later clips that start
    // before clip i ends are, in sorted order, the ones up to the first start
    // at or after that end.
    PrefixMaxima later(count);
    std::size_t firstEntered = count;  // clips from here on are in `later`
    for (std::size_t i = count; i-- > 0;) {
        const double end = ends[i];
        if (i + 1 == count || !(starts[i + 1] < end)) continue;  // no later clip starts in time
        std::optional<double> longest;
        if (end - starts[i + 1] <= durations[i + 1]) {
            longest = end - starts[i + 1];
        } else {
            for (; firstEntered > i + 1; --firstEntered) later.raise(firstEntered - 1, durations[firstEntered - 1]);
            const auto reached = static_cast<std::size_t>(
                std::partition_point(starts.begin() + static_cast<std::ptrdiff_t>(i + 1), starts.end(),
                                     [&](double start) { return start < end; })
                - starts.begin());
            longest = later.largestOverlap(reached, [&](std::size_t p) { return end - starts[p]; });
        }
        if (longest) fadeOut[i] = std::max(fadeOut[i], std::min(*longest, durations[i]));
    }

    for (std::size_t i = 0; i < count; ++i) {
        fadeIn[i] = std::min(fadeIn[i], durations[i]);
        fadeOut[i] = std::min(fadeOut[i], durations[i]);
    }
    return result;
}

std::vector<Clip> Track::effectiveClips() const
{
    const CrossFades fades = crossFades(clips);
    std::vector<Clip> sorted;
    sorted.reserve(clips.size());
    for (std::size_t i = 0; i < clips.size(); ++i) {
        Clip& clip = sorted.emplace_back(clips[fades.order[i]]);
        clip.fadeIn = fades.fadeIn[i];
        clip.fadeOut = fades.fadeOut[i];
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
