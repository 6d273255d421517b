#include "Ondexa/timeline/TimelineBands.h"

#include "Ondexa/timeline/TimelinePainting.h"
#include "Ondexa/timeline/TimelineSymbols.h"

#include <QPainter>

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

namespace ondexa {

namespace {

// More helpers than this find no bands left: a canvas shows some twenty rows.
constexpr int kMostHelpers = 15;
// The thinnest band: rows lower than this are drawn a few to a band, which
// goes over every clip of each again.
constexpr int kThinnestBand = 16;

} // namespace

struct TimelineBands::Batch {
    const std::function<void(int)>& job;
    const int count;
    std::atomic<int> next{0};  // the next job to take, on any thread
};

TimelineBands::TimelineBands(int helpers)
{
    threads_.reserve(std::size_t(std::max(helpers, 0)));
    for (int i = 0; i < helpers; ++i) {
        threads_.emplace_back([this] { work(); });
        pthread_setname_np(threads_.back().native_handle(), "ondexa.bands");
    }
}

TimelineBands::~TimelineBands()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

int TimelineBands::defaultHelpers()
{
    return std::clamp(int(std::thread::hardware_concurrency()) - 1, 0, kMostHelpers);
}

std::shared_ptr<TimelineBands> TimelineBands::shared()
{
    static std::weak_ptr<TimelineBands> running;  // main thread
    std::shared_ptr<TimelineBands> pool = running.lock();
    if (!pool) {
        pool = std::make_shared<TimelineBands>();
        running = pool;
    }
    return pool;
}

void TimelineBands::work()
{
    std::uint64_t seen = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || (batch_ && posted_ != seen); });
        if (stopping_) return;
        seen = posted_;
        Batch& batch = *batch_;
        ++busy_;
        lock.unlock();
        for (int i; (i = batch.next.fetch_add(1)) < batch.count;) batch.job(i);
        lock.lock();
        if (--busy_ == 0) finished_.notify_one();
    }
}

void TimelineBands::run(int count, const std::function<void(int)>& job)
{
    if (threads_.empty() || count <= 1) {
        for (int i = 0; i < count; ++i) job(i);
        return;
    }
    Batch batch{job, count};
    {
        const std::lock_guard lock(mutex_);
        batch_ = &batch;
        ++posted_;
    }
    for (int i = std::min(count - 1, helpers()); i > 0; --i) wake_.notify_one();
    for (int i; (i = batch.next.fetch_add(1)) < count;) job(i);
    // Every job is taken; the batch lives until the helpers still drawing let go of it.
    std::unique_lock lock(mutex_);
    batch_ = nullptr;
    finished_.wait(lock, [&] { return busy_ == 0; });
}

std::vector<QRegion> TimelineBands::bands(const QRegion& damage, double trackHeight, double scrollY)
{
    std::vector<QRegion> result;
    if (damage.isEmpty()) return result;
    const QRect bounds = damage.boundingRect();
    const int end = bounds.bottom() + 1;
    const auto add = [&](int top, int bottom) {
        const QRegion part = damage & QRect(bounds.left(), top, bounds.width(), bottom - top);
        if (bottom > top && !part.isEmpty()) result.push_back(part);
    };
    const int ruler = int(rulerHeight);
    add(bounds.top(), std::min(ruler, end));
    int top = std::max(ruler, bounds.top());
    if (!(trackHeight >= 1 && trackHeight < 1e6) || !(std::abs(scrollY) < 1e9)) {
        add(top, end);
        return result;
    }
    // Where row k starts, to the nearest pixel row.
    const auto edge = [&](long long k) { return std::llround(rulerHeight + double(k) * trackHeight - scrollY); };
    long long k = std::max(0LL, static_cast<long long>(std::floor((top - rulerHeight + scrollY) / trackHeight)));
    while (top < end) {
        long long bottom = edge(++k);
        while (bottom - top < kThinnestBand && bottom < end) bottom = edge(++k);
        bottom = std::min<long long>(bottom, end);
        add(top, int(bottom));
        top = int(bottom);
    }
    return result;
}

void TimelineBands::paint(QImage& image, const TimelineSnapshot& snapshot, QSize size, const QRegion& damage)
{
    if (image.isNull() || damage.isEmpty()) return;
    const qreal ratio = image.devicePixelRatio();
    // Made here, on the main thread, before any band needs them.
    (void)TimelineSymbolImages::at(ratio);
    // Only at a whole ratio do the bands' edges fall between the image's rows.
    const std::vector<QRegion> parts =
        ratio == std::round(ratio) ? bands(damage, snapshot.trackHeight, snapshot.scrollY) : std::vector<QRegion>{damage};
    uchar* const bits = image.bits();  // detached here, before the threads share it
    const int width = image.width();
    const int height = image.height();
    const qsizetype stride = image.bytesPerLine();
    const QImage::Format format = image.format();
    run(int(parts.size()), [&](int i) {
        // A painter is one image's at a time: each band draws on an image of its own over the same pixels.
        QImage view(bits, width, height, stride, format);
        view.setDevicePixelRatio(ratio);
        QPainter painter(&view);
        for (const QRect& rect : parts[std::size_t(i)]) paintTimelineBack(painter, snapshot, size, rect);
    });
}

} // namespace ondexa
