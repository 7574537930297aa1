#pragma once

#include "platform/Waitable.h"

namespace platform {

// Waits for the event while the calling thread's Qt event loop goes on handling posted
// events (hidden-window messages, queued signals), timers and paint, but throws away
// keyboard and mouse input. Without an application object there is no event loop to
// keep running, and the wait is a plain one.
DWORD WaitWithMessages(TWaitable &Event, DWORD TimeoutMs);

} // namespace platform
