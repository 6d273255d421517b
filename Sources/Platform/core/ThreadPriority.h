#pragma once

namespace platform {

// Makes the calling thread give way to threads of normal priority, for work
// that may take as long as it needs (waveforms, filmstrips). On Linux its
// nice value goes up to `backgroundNiceness`: Qt's lowest thread priority
// changes nothing under the normal scheduler. A thread lowered once stays so.
void lowerThreadPriority();

// The calling thread's nice value (0 for normal work).
int threadNiceness();

// About a tenth of a normal thread's share while both want the processor,
// all of it when nothing else does: below normal work, yet never starved
// on a busy machine as idle scheduling would be.
inline constexpr int backgroundNiceness = 10;

} // namespace platform
