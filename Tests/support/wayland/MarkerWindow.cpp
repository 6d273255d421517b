// A full-screen window for the Wayland test session that keeps changing (see
// MarkerSchedule.h for what it draws and prints).
//
//   wayland_marker_window [--fps N] [--period MS] [--still FROM-TO]
//
// --fps      new frames per second (default 30)
// --period   how long each marker step stays, in ms (default 500)
// --still    seconds after the first frame during which nothing is redrawn,
//            for example 2-3.5 (default: none)

#include "MarkerSchedule.h"

#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QRasterWindow>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace markerschedule;

namespace {

std::int64_t hostNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class MarkerWindow : public QRasterWindow {
public:
    MarkerWindow(int fps, int periodMs, double stillFrom, double stillTo)
        : periodNs_(std::int64_t(periodMs) * 1000000), stillFrom_(stillFrom), stillTo_(stillTo)
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1000 / std::max(1, fps));
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
    }

protected:
    void resizeEvent(QResizeEvent*) override
    {
        std::printf("size %d %d\n", width(), height());
        std::fflush(stdout);
        drawn_ = -1;
        update();
    }

    void exposeEvent(QExposeEvent* event) override
    {
        QRasterWindow::exposeEvent(event);
        if (isExposed() && !timer_.isActive()) {
            start_ = hostNanoseconds();
            timer_.start();
        }
    }

    void paintEvent(QPaintEvent* event) override
    {
        QPainter p(this);
        p.fillRect(event->rect(), QColor::fromRgb(backgroundRgb));
        for (int bit = 0; bit < counterBits; ++bit) {
            const bool one = (frame_ >> (counterBits - 1 - bit)) & 1;
            p.fillRect(bit * counterCell, 0, counterCell, counterCell, one ? Qt::white : Qt::black);
        }
        p.fillRect(markerRect(step_, size()), QColor::fromRgb(markerRgb(step_)));
        if (drawn_ != step_) {
            const QPoint at = markerAt(step_, size());
            std::printf("marker %d %d %d %d %06X %lld\n", step_, at.x(), at.y(), markerSize, markerRgb(step_),
                        static_cast<long long>(hostNanoseconds()));
            std::fflush(stdout);
            drawn_ = step_;
        }
    }

private:
    void tick()
    {
        const std::int64_t now = hostNanoseconds();
        const double seconds = double(now - start_) / 1e9;
        const bool still = seconds >= stillFrom_ && seconds < stillTo_;
        if (still != still_) {
            std::printf("%s %lld\n", still ? "still" : "moving", static_cast<long long>(now));
            std::fflush(stdout);
            still_ = still;
        }
        if (still) return;
        ++frame_;
        const int step = int((now - start_) / periodNs_);
        QRegion changed(counterRect());
        if (step != step_) {
            changed += markerRect(step_, size());
            changed += markerRect(step, size());
            step_ = step;
        }
        update(changed);
    }

    QTimer timer_;
    std::int64_t periodNs_;
    double stillFrom_, stillTo_;
    std::int64_t start_ = 0;
    int frame_ = 0;
    int step_ = 0;
    int drawn_ = -1;  // the step last announced
    bool still_ = false;
};

} // namespace

int main(int argc, char** argv)
{
    int fps = 30, period = 500;
    double stillFrom = -1, stillTo = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--fps" && value) {
            fps = std::atoi(value);
        } else if (arg == "--period" && value) {
            period = std::max(1, std::atoi(value));
        } else if (arg == "--still" && value && std::strchr(value, '-')) {
            stillFrom = std::atof(value);
            stillTo = std::atof(std::strchr(value, '-') + 1);
        } else {
            std::fprintf(stderr, "usage: %s [--fps N] [--period MS] [--still FROM-TO]\n", argv[0]);
            return 2;
        }
        ++i;
    }
    // Full screen needs no frame; Qt's own would cover the picture's edges.
    qputenv("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1");
    QGuiApplication app(argc, argv);
    MarkerWindow window(fps, period, stillFrom, stillTo);
    window.setTitle("Ondexa marker window");
    window.showFullScreen();
    return app.exec();
}
