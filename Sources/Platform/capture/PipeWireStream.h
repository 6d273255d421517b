#pragma once

#include "Platform/capture/PictureSource.h"

#include <QRectF>
#include <QSize>
#include <QSizeF>

#include <cstdint>
#include <memory>

namespace platform {

// Receives the pictures of one PipeWire video node (a screen-cast stream
// of the desktop's portal) on PipeWire's own thread.
//
// The stream takes 32-bit RGB pictures (BGRx, BGRA, RGBx, RGBA) in shared
// memory, and linear DMA-BUFs, which it maps. Each delivered picture is the
// crop, fitted into the output size as ScreenStream does, with the
// producer's presentation time when that lies on the host clock (else the
// time it arrived). A producer that sends pictures only when the screen
// changes is what this expects: nothing arrives while it stands still.
//
// Where the producer sends the pointer as metadata, each position goes to
// the pointer handler in desktop coordinates, and with `showsCursor` the
// pointer's image is drawn into the pictures (a pointer that moves over a
// still screen gives a new picture). Where the pointer is drawn into the
// pictures by the producer, or hidden, no pointer sample comes.
class PipeWireStream final : public PictureSource {
public:
    struct Configuration {
        // A connection to PipeWire (the portal's OpenPipeWireRemote); the
        // stream takes it over and closes it. -1: the user's own daemon.
        int remoteFd = -1;
        std::uint32_t nodeId = 0;  // the node to read
        // The stream's size in desktop units (the portal's "size"): the
        // picture's pixels per unit follow from it. Empty: one pixel per unit.
        QSizeF logicalSize;
        // Where the picture's top left lies on the desktop, for pointer positions.
        QPointF desktopOrigin;
        // The part to deliver, in desktop units relative to the picture's
        // top left. Empty: the whole picture.
        QRectF crop;
        // Size of the delivered pictures; must not be empty.
        QSize outputSize;
        int framesPerSecond = 30;  // the rate asked of the producer; 1 to 240
        bool showsCursor = true;   // draw the pointer of the metadata into the pictures
    };

    using PointerHandler = std::function<void(const PointerSample& sample)>;

    PipeWireStream(Configuration configuration, FrameHandler onFrame, ErrorHandler onError,
                   PointerHandler onPointer = {});
    ~PipeWireStream() override;  // stops

    PipeWireStream(const PipeWireStream&) = delete;
    PipeWireStream& operator=(const PipeWireStream&) = delete;

    // Connects and waits (a few seconds at most) until PipeWire has taken
    // the stream in. Throws CaptureError when PipeWire can't be reached or
    // refuses the stream.
    void start() override;
    void stop() override;
    QSize outputSize() const override { return configuration_.outputSize; }
    Statistics statistics() const override;

    // Our own node in the PipeWire graph (0 before start()): a graph without
    // a session manager (the tests') must be linked by hand.
    std::uint32_t nodeId() const;

    // The host time of a producer's presentation time `pts` (ns) that
    // arrived at host time `arrival`: the producer's own time when it lies
    // on the host clock, within reach of the arrival, else the arrival.
    static std::int64_t hostTimeOf(std::int64_t pts, std::int64_t arrival);

private:
    struct Impl;

    Configuration configuration_;
    FrameHandler onFrame_;
    ErrorHandler onError_;
    PointerHandler onPointer_;
    std::unique_ptr<Impl> impl_;  // created by start()
};

} // namespace platform
