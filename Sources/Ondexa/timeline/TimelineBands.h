#pragma once

// The timeline's cached picture drawn by several threads at once. Inside one
// painter the raster engine hands each large fill to Qt's own thread pool
// and waits for it, fill after fill; here the picture is cut into
// horizontal bands instead, the ruler and then each row, and each band is
// drawn by a painter of its own on a small pool of threads, the calling
// thread drawing bands too rather than waiting. Every painter draws on its
// own QImage over the same pixels, clipped to its band's scan lines: no two
// touch the same memory. Bands end where rows meet, not inside a row: the
// paint engine draws some shapes cut by a clip a level or a pixel off the
// uncut ones (wide straight lines, bars thinner than a pixel, images at a
// fraction of a pixel), and only the rows' own backgrounds cross there, so
// each pixel comes out exactly as one painter drawing the same rectangles
// leaves it. At a device pixel ratio that is not a whole number one painter
// on the calling thread draws it all.

#include "Ondexa/timeline/TimelineSnapshot.h"

#include <QImage>
#include <QRegion>
#include <QSize>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace ondexa {

class TimelineBands {
public:
    // `helpers` threads beside the caller's: by default one core is the caller's.
    explicit TimelineBands(int helpers = defaultHelpers());
    ~TimelineBands();
    TimelineBands(const TimelineBands&) = delete;
    TimelineBands& operator=(const TimelineBands&) = delete;

    // paintTimelineBack of `snapshot` over each rectangle of `damage` into
    // `image`, whose device pixel ratio maps the `size` area to its pixels.
    // Returns when all of it is drawn. Called from the main thread (it makes
    // the symbol images there first); one call at a time.
    void paint(QImage& image, const TimelineSnapshot& snapshot, QSize size, const QRegion& damage);

    // The parts of `damage` drawn by one painter each: the ruler, then the
    // rows, cut where one row meets the next (rows scrolled by `scrollY`).
    static std::vector<QRegion> bands(const QRegion& damage, double trackHeight, double scrollY);

    int helpers() const { return int(threads_.size()); }
    static int defaultHelpers();
    // The one pool every timeline canvas draws with: started when the first
    // asks for it, stopped when the last lets go (its threads end while the
    // application lives, and Qt frees what they cached). Main thread only.
    static std::shared_ptr<TimelineBands> shared();

private:
    // Runs job(0) … job(count − 1) on the helpers and the calling thread.
    void run(int count, const std::function<void(int)>& job);
    void work();

    struct Batch;
    std::mutex mutex_;
    std::condition_variable wake_;      // a batch is posted, or stopping_
    std::condition_variable finished_;  // a helper left its batch
    Batch* batch_ = nullptr;            // mutex_; the caller's, while it runs
    std::uint64_t posted_ = 0;          // mutex_; batches posted so far
    int busy_ = 0;                      // mutex_; helpers inside batch_
    bool stopping_ = false;             // mutex_
    std::vector<std::thread> threads_;  // started by the constructor, joined by the destructor
};

} // namespace ondexa
