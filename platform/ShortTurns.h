#pragma once

// A thread that does a short burst of work for every recorded buffer and then waits
// asks the kernel for short turns on the processor. The processes it wakes during the
// burst (the sound server, when the thread hands back the audio it has read) then run
// once the burst is over, instead of taking the processor from the middle of it: a
// buffer costs one wake-up instead of two. Kernels from 6.12 on take the request;
// older ones ignore it. The thread's policy and nice value stay as they were.

namespace platform {

// Asks for the calling thread only. False when the kernel refused the request or the
// thread runs under another policy than the normal or batch one (real-time, idle),
// which is then left alone; nothing else changes either way.
bool AskForShortTurns();

} // namespace platform
