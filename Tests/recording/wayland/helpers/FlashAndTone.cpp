// A full-screen window for the Wayland test session that turns white while
// a 1 kHz tone sounds on the default output, both together: black and
// silent, then every second a flash with its tone, 300 ms long.
//
// The sound is written ahead; the server's latency says when each sample
// will be heard, and the window changes at that host time. It prints
//   flash NS      a flash (and its tone) began at CLOCK_MONOTONIC NS
// on its standard output.

#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <QTimer>

#include <pulse/error.h>
#include <pulse/simple.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include <time.h>

namespace {

constexpr int kRate = 48000;
constexpr int kChunk = 480;  // 10 ms
constexpr int kPeriod = kRate;          // a flash every second
constexpr int kFlash = kRate * 3 / 10;  // lasting 300 ms
constexpr double kPi = 3.14159265358979323846;

std::int64_t hostNanoseconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

class FlashWindow : public QRasterWindow {
public:
    void setWhite(bool white)
    {
        white_ = white;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(QRect(QPoint(0, 0), size()), white_ ? Qt::white : Qt::black);
    }

private:
    bool white_ = false;
};

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    FlashWindow window;
    window.showFullScreen();

    std::atomic<bool> stopping{false};
    std::thread sound([&] {
        pa_sample_spec format{PA_SAMPLE_FLOAT32LE, kRate, 1};
        // A short buffer, so that a sample written is heard soon after.
        pa_buffer_attr attr{};
        attr.maxlength = std::uint32_t(-1);
        attr.tlength = kChunk * 4 * 4;
        attr.prebuf = std::uint32_t(-1);
        attr.minreq = std::uint32_t(-1);
        attr.fragsize = std::uint32_t(-1);
        int error = 0;
        pa_simple* out = pa_simple_new(nullptr, "flash-and-tone", PA_STREAM_PLAYBACK, nullptr, "tone", &format, nullptr,
                                       &attr, &error);
        if (!out) {
            std::fprintf(stderr, "no sound: %s\n", pa_strerror(error));
            return;
        }
        std::vector<float> chunk(kChunk);
        std::int64_t written = 0;
        // The first second silent, so that the stream has settled.
        while (!stopping) {
            std::int64_t onset = -1;
            for (int i = 0; i < kChunk; ++i) {
                const std::int64_t n = written + i;
                const std::int64_t inPeriod = n % kPeriod;
                const bool on = n >= kPeriod && inPeriod < kFlash;
                if (on && inPeriod == 0) onset = n;
                chunk[std::size_t(i)] = on ? float(0.5 * std::sin(2 * kPi * 1000.0 * double(inPeriod) / kRate)) : 0.f;
            }
            if (pa_simple_write(out, chunk.data(), chunk.size() * sizeof(float), &error) < 0) break;
            written += kChunk;
            if (onset >= 0) {
                // The last sample written is heard after the latency; the onset that much earlier.
                const pa_usec_t latency = pa_simple_get_latency(out, &error);
                const std::int64_t now = hostNanoseconds();
                const std::int64_t heard = now + std::int64_t(latency) * 1000 - (written - onset) * 1'000'000'000 / kRate;
                QMetaObject::invokeMethod(&window, [&window, heard] {
                    const std::int64_t wait = std::max<std::int64_t>(0, heard - hostNanoseconds());
                    auto* on = new QTimer(&window);
                    on->setSingleShot(true);
                    on->setTimerType(Qt::PreciseTimer);
                    QObject::connect(on, &QTimer::timeout, &window, [&window, on] {
                        window.setWhite(true);
                        std::printf("flash %lld\n", static_cast<long long>(hostNanoseconds()));
                        std::fflush(stdout);
                        on->deleteLater();
                        QTimer::singleShot(300, &window, [&window] { window.setWhite(false); });
                    });
                    on->start(int(wait / 1'000'000));
                });
            }
        }
        pa_simple_free(out);
    });

    const int status = app.exec();
    stopping = true;
    sound.join();
    return status;
}
