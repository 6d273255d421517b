#pragma once

// A PipeWire video source made for the tests: a driver node that sends a
// picture of our choosing (32-bit, in PipeWire's shared memory) at a fixed
// rate, stamped with the host clock, optionally with the pointer as
// metadata, the way a compositor's screen cast does.

#include <QPoint>
#include <QSize>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace testsupport {

class VideoSource {
public:
    struct Options {
        QSize size{320, 240};
        std::uint32_t format = 0;  // an spa_video_format; 0: BGRx
        int fps = 30;
        bool cursorMetadata = false;
        // How far before its sending each picture is stamped, ns: shows
        // whether the consumer takes the producer's time or the arrival.
        std::int64_t stampEarlier = 0;
    };
    // Fills one picture: pixels in the chosen format, `stride` bytes a row;
    // `index` counts the pictures sent.
    using Painter = std::function<void(std::uint8_t* pixels, int stride, std::int64_t index)>;

    VideoSource(Options options, Painter painter);
    ~VideoSource();

    VideoSource(const VideoSource&) = delete;
    VideoSource& operator=(const VideoSource&) = delete;

    std::uint32_t nodeId() const;
    // Links our output to `consumerNode`'s input (there is no session manager).
    void linkTo(std::uint32_t consumerNode);
    // The pointer sent with the next pictures: its position in the
    // picture's pixels; its image is a 4 × 4 opaque red square with the hot
    // spot at (1, 1).
    void setPointer(QPoint position);
    // While paused no picture is sent (a still screen).
    void setPaused(bool paused);
    // Takes another client's node out of the graph, as the desktop's
    // session manager does with a screen cast's consumer once the user
    // ended the sharing.
    void removeNode(std::uint32_t node);
    // The time stamps of the pictures sent so far.
    std::vector<std::int64_t> sentTimes() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace testsupport
