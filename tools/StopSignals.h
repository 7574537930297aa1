#pragma once

// Ctrl-C (SIGINT) and SIGTERM as a polite request to stop: a blocked read returns
// early, and the program ends its work as if the input had ended. A second signal
// ends the process at once.

void CatchStopSignals();
bool StopRequested();
