#pragma once

// The thread pools of the editors' background work. Decoding for the
// timeline's pictures can keep every thread busy for minutes after a long
// recording opens; the user's own work (opening a file, saving, copying
// media) runs on threads it can't take.

class QThreadPool;

namespace ondexa {

enum class WorkPool {
    general,   // opening media and other short jobs: Qt's global pool
    decoding,  // waveform peaks and filmstrips: low-priority threads, as many as cores
    files,     // document writes and media copies
};

QThreadPool& workPool(WorkPool pool);

// Waits until no job of any of the pools runs or waits (before measuring,
// before a fork). Call it on the main thread.
void waitForBackgroundWork();

} // namespace ondexa
