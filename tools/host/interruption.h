// How the host ends when the user stops it: SIGINT, SIGTERM and SIGHUP ask
// for an orderly stop, which the delivery and the waits notice; a second one
// ends the process at once. SIGPIPE is ignored, so that a closed pipe on the
// standard output costs no track.
#pragma once

#include <atomic>

namespace host {

// Installs the handlers. A signal that was ignored when the host started
// (nohup, a background job) stays ignored.
void CatchInterruptions();

// The signal that asked for the stop; 0 while none came. Set only by the
// handlers.
const std::atomic<int> &StopRequest();

// Ends the process as the signal would have, once the stop is done, so that
// a calling shell sees 128 + signal and a script's loop stops too.
int EndBySignal(int signal);

// "SIGINT" and the like.
const char *SignalName(int signal);

}  // namespace host
