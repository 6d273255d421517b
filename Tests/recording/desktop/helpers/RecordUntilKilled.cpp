// record_until_killed FILE X Y WIDTH HEIGHT [parallel]: records that area of
// the first display with the system sound at 30 frames a second (with
// "parallel", encoded on frames in parallel as a large picture is), prints
// "recording" once the recording runs, and goes on until it is killed. The
// crash tests start it as a child process and kill it with SIGKILL.

#include "Ondexa/recording/Recorder.h"
#include "Platform/capture/ScreenContent.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

int main(int argc, char** argv)
{
    if (argc != 6 && !(argc == 7 && std::string(argv[6]) == "parallel")) {
        std::fprintf(stderr, "usage: record_until_killed FILE X Y WIDTH HEIGHT [parallel]\n");
        return 2;
    }
    av_log_set_level(AV_LOG_ERROR);
    QCoreApplication app(argc, argv);
    const QRectF area(std::atof(argv[2]), std::atof(argv[3]), std::atof(argv[4]), std::atof(argv[5]));
    const auto display = platform::ScreenContent::fetch().displays.at(0);
    ondexa::Recorder recorder(argv[1], ondexa::CaptureTarget::ofArea(display, area), true, nullptr, nullptr, 30);
    recorder.setShowsCursor(false);
    if (argc == 7) recorder.encodeFramesInParallelForTesting();
    recorder.start([](std::optional<std::string> error) {
        if (error) {
            std::fprintf(stderr, "record_until_killed: %s\n", error->c_str());
            std::exit(1);
        }
        std::printf("recording\n");
        std::fflush(stdout);
    });
    return app.exec();
}
