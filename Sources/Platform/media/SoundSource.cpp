#include "Platform/media/SoundSource.h"

#include "Platform/media/SampleReader.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace platform {

namespace {

// Lanes of one stream whose offsets differ by up to this share one decode: a
// reader whose window ends at most this far before the wanted frame reads on
// to it, and keeps at most this much (and a margin for the blocks) behind.
constexpr double kShareSeconds = 3.0;
constexpr double kWindowSeconds = kShareSeconds + 0.5;
constexpr std::int64_t kNone = std::numeric_limits<std::int64_t>::max();

} // namespace

SoundSource::SoundSource(std::shared_ptr<const Asset> asset, StreamInfo stream, int rate, int channels,
                         std::shared_ptr<SourceFiles> files)
    : asset_(std::move(asset)), stream_(std::move(stream)), rate_(rate), channels_(channels), files_(std::move(files))
{
}

SoundSource::~SoundSource() = default;

void SoundSource::read(std::int64_t first, float* out, std::size_t frames, std::uint64_t block)
{
    if (frames == 0) return;
    Slot& slot = slotFor(first, block);
    if (slot.block != block) {
        slot.earliestBefore = slot.block + 1 == block ? slot.earliest : kNone;
        slot.earliest = first;
        slot.block = block;
    } else {
        slot.earliest = std::min(slot.earliest, first);
    }
    const std::int64_t last = first + std::int64_t(frames);
    extend(slot, last);
    const std::size_t from = slot.head + std::size_t(first - slot.start) * std::size_t(channels_);
    std::memcpy(out, slot.window.data() + from, frames * std::size_t(channels_) * sizeof(float));
    // Kept from where the lanes that read it last block and this one stood:
    // each reads on from there in the next.
    trim(slot, std::max(std::min(slot.earliest, slot.earliestBefore), last - std::int64_t(kWindowSeconds * rate_)));
}

std::size_t SoundSource::readersIn(std::uint64_t block) const
{
    return std::size_t(std::count_if(slots_.begin(), slots_.end(), [&](const Slot& s) { return s.block == block; }));
}

SoundSource::Slot& SoundSource::slotFor(std::int64_t first, std::uint64_t block)
{
    // Of the readers that hold the frame or reach it by reading on, the one
    // whose window starts earliest: lanes further behind can still use it,
    // and the others fall idle instead of decoding the same sound again.
    const std::int64_t readOn = std::int64_t(kShareSeconds * rate_);
    Slot* chosen = nullptr;
    for (Slot& slot : slots_) {
        if (slot.start > first || first > slot.end(channels_) + readOn) continue;
        if (!chosen || slot.start < chosen->start) chosen = &slot;
    }
    if (chosen) return *chosen;

    // Else a reader no other lane read in this block, the least recently
    // used, jumps; else a new one.
    for (Slot& slot : slots_) {
        if (slot.block == block) continue;
        if (!chosen || slot.block < chosen->block) chosen = &slot;
    }
    if (!chosen) {
        Slot slot;
        slot.reader = std::make_unique<SampleReader>(*asset_, stream_, rate_, channels_, files_);
        slots_.push_back(std::move(slot));
        chosen = &slots_.back();
    }
    restart(*chosen, first);
    return *chosen;
}

void SoundSource::restart(Slot& slot, std::int64_t first)
{
    slot.reader->seek(MediaTime(first, rate_));
    slot.window.clear();
    slot.head = 0;
    slot.start = first;
    slot.ended = false;
    slot.earliest = slot.earliestBefore = kNone;
}

void SoundSource::extend(Slot& slot, std::int64_t to)
{
    const std::int64_t end = slot.end(channels_);
    if (end >= to) return;
    const std::size_t missing = std::size_t(to - end);
    const std::size_t old = slot.window.size();
    slot.window.resize(old + missing * std::size_t(channels_), 0.0f);
    // Past the stream's end the rest stays silent, without asking the reader again.
    if (slot.ended) return;
    const std::size_t got = slot.reader->read(slot.window.data() + old, missing);
    if (got < missing) slot.ended = true;
}

void SoundSource::trim(Slot& slot, std::int64_t keepFrom)
{
    if (keepFrom <= slot.start) return;
    const std::size_t drop = std::size_t(std::min(keepFrom, slot.end(channels_)) - slot.start);
    slot.head += drop * std::size_t(channels_);
    slot.start += std::int64_t(drop);
    // Moved down once the dropped part outweighs what is kept.
    if (slot.head > slot.window.size() / 2) {
        slot.window.erase(slot.window.begin(), slot.window.begin() + std::ptrdiff_t(slot.head));
        slot.head = 0;
    }
}

} // namespace platform
