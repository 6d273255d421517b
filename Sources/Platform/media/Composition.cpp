#include "Platform/media/Composition.h"

#include "Platform/media/MediaError.h"

#include <algorithm>

namespace platform {

namespace {

constexpr std::int32_t kFineTimescale = MediaTime::kDefaultTimescale;

// t × num / den, rounded at the finer of t's timescale and 60000.
MediaTime scaled(const MediaTime& t, const MediaTime& num, const MediaTime& den)
{
    const std::int32_t ts = std::max(t.timescale(), kFineTimescale);
    const __int128 n = static_cast<__int128>(t.value()) * num.value() * den.timescale() * ts;
    const __int128 d = static_cast<__int128>(t.timescale()) * num.timescale() * den.value();
    const __int128 q = n >= 0 ? (n + d / 2) / d : (n - d / 2) / d;
    return {static_cast<std::int64_t>(q), ts};
}

bool isSpan(const TimeRange& r)
{
    return r.isValid() && r.start.isNumeric() && r.duration.isNumeric() && r.duration > MediaTime(0, 1);
}

bool isTimeFromZero(const MediaTime& t)
{
    return t.isNumeric() && t >= MediaTime(0, 1);
}

[[noreturn]] void badSpan()
{
    throw MediaError("Érvénytelen időtartomány a kompozícióban.");
}

// Cuts the segment that holds `t` strictly inside into two at `t`.
void splitAt(Composition::Track& track, const MediaTime& t)
{
    auto& segments = track.segments;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const Composition::Segment& s = segments[i];
        if (!(s.target.start < t && t < s.target.end())) continue;
        Composition::Segment first = s;
        Composition::Segment second = s;
        first.target.duration = t - s.target.start;
        second.target = TimeRange::fromStartEnd(t, s.target.end());
        if (!s.isEmpty()) {
            first.source.duration = s.source.duration == s.target.duration
                                        ? first.target.duration
                                        : scaled(first.target.duration, s.source.duration, s.target.duration);
            second.source = TimeRange::fromStartEnd(first.source.end(), s.source.end());
        }
        segments[i] = std::move(first);
        segments.insert(segments.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::move(second));
        return;
    }
}

// Opens room of `length` at `at` (a segment boundary or the end) and puts
// `segment` there.
void place(Composition::Track& track, Composition::Segment segment, const MediaTime& at, const MediaTime& length)
{
    const MediaTime end = track.end();
    if (at >= end) {
        // Appending, as a builder does clip after clip: nothing to split or
        // move, so a lane of n clips is built in O(n), not O(n²).
        if (at > end) {
            Composition::Segment pad;
            pad.target = TimeRange::fromStartEnd(end, at);
            track.segments.push_back(std::move(pad));
        }
        segment.target = TimeRange(at, length);
        track.segments.push_back(std::move(segment));
        return;
    }
    splitAt(track, at);
    auto position = std::find_if(track.segments.begin(), track.segments.end(),
                                 [&](const Composition::Segment& s) { return s.target.start >= at; });
    for (auto it = position; it != track.segments.end(); ++it) it->target.start += length;
    segment.target = TimeRange(at, length);
    track.segments.insert(position, std::move(segment));
}

} // namespace

MediaTime Composition::Segment::sourceTime(const MediaTime& t) const
{
    const MediaTime offset = t - target.start;
    if (source.duration == target.duration) return source.start + offset;
    return source.start + scaled(offset, source.duration, target.duration);
}

MediaTime Composition::Track::end() const
{
    return segments.empty() ? MediaTime::zero() : segments.back().target.end();
}

const Composition::Segment* Composition::Track::segmentAt(const MediaTime& t) const
{
    if (!t.isNumeric()) return nullptr;
    // The last segment starting at or before t.
    auto it = std::upper_bound(segments.begin(), segments.end(), t,
                               [](const MediaTime& time, const Segment& s) { return time < s.target.start; });
    if (it == segments.begin()) return nullptr;
    --it;
    return t < it->target.end() ? &*it : nullptr;
}

std::int32_t Composition::addTrack(TrackKind kind, std::int32_t preferredId)
{
    std::int32_t id = preferredId;
    if (id <= 0 || track(id)) {
        while (track(nextId_)) ++nextId_;
        id = nextId_++;
    }
    Track t;
    t.id = id;
    t.kind = kind;
    tracks_.push_back(std::move(t));
    return id;
}

void Composition::removeTrack(std::int32_t id)
{
    std::erase_if(tracks_, [id](const Track& t) { return t.id == id; });
}

const Composition::Track* Composition::track(std::int32_t id) const
{
    for (const Track& t : tracks_)
        if (t.id == id) return &t;
    return nullptr;
}

Composition::Track& Composition::editable(std::int32_t id)
{
    for (Track& t : tracks_)
        if (t.id == id) return t;
    throw MediaError("A kompozícióban nincs ilyen sáv.");
}

void Composition::insertTimeRange(std::int32_t trackId, std::shared_ptr<const Asset> asset, const StreamInfo& stream,
                                  const TimeRange& sourceRange, const MediaTime& at)
{
    Track& track = editable(trackId);
    if (!asset) throw MediaError("Nincs megadva a beillesztendő forrásfájl.");
    const bool fits = track.kind == TrackKind::video
                          ? stream.kind == StreamKind::video || stream.kind == StreamKind::image
                          : stream.kind == StreamKind::audio;
    if (!fits) throw MediaError("A folyam nem illik a sáv fajtájához.");
    if (!isSpan(sourceRange) || !isTimeFromZero(at)) badSpan();
    Segment segment;
    segment.asset = std::move(asset);
    segment.stream = stream;
    segment.source = sourceRange;
    place(track, std::move(segment), at, sourceRange.duration);
}

void Composition::insertEmptyTimeRange(std::int32_t trackId, const TimeRange& range)
{
    Track& track = editable(trackId);
    if (!isSpan(range) || !isTimeFromZero(range.start)) badSpan();
    place(track, Segment{}, range.start, range.duration);
}

void Composition::scaleTimeRange(std::int32_t trackId, const TimeRange& range, const MediaTime& duration)
{
    Track& track = editable(trackId);
    if (track.kind != TrackKind::video) throw MediaError("Hangsáv nem nyújtható.");
    if (!isSpan(range) || !isTimeFromZero(range.start) || !isSpan(TimeRange(MediaTime::zero(), duration))) badSpan();
    const MediaTime start = range.start;
    const MediaTime end = std::min(range.end(), track.end());
    if (start >= end) return;
    const MediaTime length = end - start;
    splitAt(track, start);
    splitAt(track, end);
    for (Segment& s : track.segments) {
        if (s.target.start >= end) {
            s.target.start += duration - length;
        } else if (s.target.start >= start) {
            const MediaTime from = start + scaled(s.target.start - start, duration, length);
            const MediaTime to = start + scaled(s.target.end() - start, duration, length);
            s.target = TimeRange::fromStartEnd(from, to);
        }
    }
}

MediaTime Composition::duration() const
{
    MediaTime longest = MediaTime::zero();
    for (const Track& t : tracks_) longest = std::max(longest, t.end());
    return longest;
}

} // namespace platform
