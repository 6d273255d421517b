#include "Ondexa/recording/SoundTimeLine.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace ondexa {

namespace {

// Weight of each buffer's difference in the smoothed one: about 20 buffers, a
// tenth of a second or more, averages the stamps' jitter out.
constexpr double kSmoothing = 0.05;
// A joining stream this much earlier than the line is not an overlap but a
// clock that jumped back.
constexpr std::int64_t kJoinOverlapLimit = 500'000'000;
// A stream's latency that moves by more than this from one buffer to the
// next is settling; one that has held for kLatencySettles is the stream's
// own, and its stamps are trusted again even where the line has to jump.
constexpr std::int64_t kLatencyJump = 10'000'000;
constexpr std::int64_t kLatencySettles = 2'500'000'000;
// Stamps needed before a young line's start is judged by their median.
constexpr std::size_t kSettleStamps = 8;

} // namespace

std::int64_t SoundTimeLine::lineAt(std::int64_t frames, int sampleRate) const
{
    return *start_ + frames * 1'000'000'000 / sampleRate;
}

std::optional<std::int64_t> SoundTimeLine::next() const
{
    if (!start_) return std::nullopt;
    return lineAt(frames_, sampleRate_);
}

std::optional<std::int64_t> SoundTimeLine::settle(std::int64_t difference, bool trusted, bool latencyJumped)
{
    // A stamp the line would not follow (a settling latency, one beyond the
    // restart limit) says nothing of where it should have started; nor do
    // stamps after the latency jumped, save the jump from the first stamp,
    // which is that stamp's own error.
    if (!trusted || (latencyJumped && !early_.empty()) || std::llabs(difference) > restartNanoseconds) {
        settled_ = true;
        early_.clear();
        return std::nullopt;
    }
    early_.push_back(difference);
    if (lineAt(frames_, sampleRate_) - *start_ < settleAfterNanoseconds || early_.size() < kSettleStamps)
        return std::nullopt;
    settled_ = true;
    const auto middle = early_.begin() + std::ptrdiff_t(early_.size() / 2);
    std::nth_element(early_.begin(), middle, early_.end());
    const std::int64_t median = *middle;
    early_.clear();
    if (std::llabs(median) <= settleNanoseconds) return std::nullopt;
    return median;
}

SoundTimeLine::Placement SoundTimeLine::place(int frames, int sampleRate, std::optional<std::int64_t> stamp,
                                              std::int64_t now)
{
    if (frames < 1 || sampleRate < 1) return {stamp.value_or(now), 0};

    int adjust = 0;  // frames repeated (> 0) or dropped (< 0)
    int skip = 0;    // leading frames cut
    const auto begin = [&](std::int64_t at) {
        start_ = at;
        frames_ = 0;
        sampleRate_ = sampleRate;
        drift_ = 0;
        credit_ = 0;
        correcting_ = 0;
        lag_ = double(now - at);
        latency_ = now - at;
        latencyChangedAt_ = now;
        settled_ = false;
        early_.clear();
        cutLeft_ = 0;
    };
    // With delivery checks: whether the stamp's distance from the line is
    // only the stream's latency changing (the buffer itself came on time).
    bool latencyMoved = false;
    // Whether the buffer's arrival bears out a stamp beyond the restart limit.
    bool borneOut = true;
    bool latencyJumped = false;
    if (start_ && stamp && checksDelivery_) {
        const std::int64_t latency = now - *stamp;
        latencyJumped = std::llabs(latency - latency_) > kLatencyJump;
        if (latencyJumped) latencyChangedAt_ = now;
        latency_ = latency;
        const std::int64_t line = lineAt(frames_, sampleRate);
        const double lag = double(now - line);
        const double came = lag - lag_;  // > 0: later than the buffers before it
        const double difference = double(*stamp - line);
        if (now - latencyChangedAt_ < kLatencySettles) {
            latencyMoved = std::abs(difference - came) > double(restartNanoseconds);
            // A stamp that moves a little less than the latency falls (the
            // server's steps are uneven) may lie beyond the limit while its
            // buffer came on time: only a buffer that itself came that much
            // late or early moves the line.
            borneOut = std::abs(came) > double(restartNanoseconds) && (came > 0) == (difference > 0);
        }
        lag_ += (lag - lag_) * kSmoothing;
    }
    if (!start_ || sampleRate != sampleRate_) {
        joining_ = false;
        begin(stamp.value_or(now));
    } else if (joining_ && stamp) {
        const std::int64_t difference = *stamp - lineAt(frames_, sampleRate);
        drift_ = 0;
        correcting_ = 0;
        // Where a joining stream goes on is the join's to say (a gap below starts afresh).
        settled_ = true;
        cutLeft_ = 0;
        if (latencyMoved) {
            // Goes on where the last stream ended.
        } else if (difference > joinNanoseconds || difference < -kJoinOverlapLimit) {
            begin(*stamp);
        } else if (difference < 0) {
            skip = int(std::min<std::int64_t>(-difference * sampleRate / 1'000'000'000, frames));
        }
        joining_ = skip == frames;  // all of it held already: the next one joins
    } else if (stamp) {  // without a stamp the line just goes on
        const std::int64_t difference = *stamp - lineAt(frames_, sampleRate);  // > 0: the line runs early
        const bool moves = !latencyMoved && borneOut;
        const std::optional<std::int64_t> offStart =
            settled_ ? std::nullopt : settle(difference, !latencyMoved, latencyJumped);
        if (offStart && *offStart > 0) {
            // The line started early: it goes on later, after a short gap.
            *start_ += *offStart;
            drift_ = 0;
            correcting_ = 0;
        } else if (offStart || cutLeft_ > 0) {
            // It started late: the sound it already holds is cut, from as
            // many buffers as that takes.
            if (offStart) cutLeft_ = -*offStart * sampleRate / 1'000'000'000;
            skip = int(std::min<std::int64_t>(cutLeft_, frames));
            cutLeft_ -= skip;
            drift_ = 0;
            correcting_ = 0;
        } else if (moves && (difference > restartNanoseconds || difference < -std::max(earlyCut_, restartNanoseconds))) {
            begin(*stamp);
        } else if (moves && difference < -restartNanoseconds) {
            // Sound the line already holds: cut, the line stays.
            skip = int(std::min<std::int64_t>(-difference * sampleRate / 1'000'000'000, frames));
        } else {
            // A settling latency steers no harder than a stamp at the restart limit.
            const double limit = double(restartNanoseconds);
            const double limited = std::clamp(double(difference), -limit, limit);
            drift_ += (limited - drift_) * kSmoothing;
            // One frame per correctionFrames placed, however small the
            // buffers: a server that hands over 300 frames at a time must not
            // get a correction in every one.
            credit_ = std::min<std::int64_t>(credit_ + frames, std::int64_t(correctionFrames) + frames);
            // Once past the dead band, the line is brought back onto the
            // stamps, not just inside the band (a clock that runs apart
            // steadily would otherwise hold it at the band's edge), and only
            // in that direction: near the stamps their jitter would
            // otherwise steer it to and fro.
            if (std::abs(drift_) > deadbandNanoseconds) correcting_ = drift_ > 0 ? 1 : -1;
            const double frame = 1e9 / sampleRate;
            if (double(correcting_) * drift_ < frame / 2) correcting_ = 0;
            if (correcting_ != 0 && credit_ >= correctionFrames) {
                const int most = std::min(int(credit_ / correctionFrames), frames - 1);
                const int wanted = std::max(1, int(std::lround(std::abs(drift_) / frame)));
                const int count = std::min(most, wanted);
                adjust = count * correcting_;
                credit_ -= std::int64_t(count) * correctionFrames;
                drift_ -= double(adjust) * frame;
            }
        }
    }

    const Placement placement{lineAt(frames_, sampleRate), frames - skip + adjust, skip};
    frames_ += placement.frames;
    return placement;
}

} // namespace ondexa
