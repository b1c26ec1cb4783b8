#include "interruption.h"

#include <signal.h>
#include <unistd.h>

namespace host {

namespace {

std::atomic<int> stopRequest{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler may only touch a lock-free flag");

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Only async-signal-safe work: the flag, a write and _exit.
void OnStopSignal(int signal) {
    int expected = 0;
    if (stopRequest.compare_exchange_strong(expected, signal)) return;
    static const char message[] =
        "\nencbridge-host: stopped at once: files of the rip may be left; --resume picks up from them\n";
    ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
    (void)ignored;
    _exit(128 + signal);
}

}  // namespace

void CatchInterruptions() {
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Restarted calls: every loop that must notice the stop looks at the flag.
    action.sa_flags = SA_RESTART;
    for (int each : kStopSignals) {
        struct sigaction before = {};
        if (sigaction(each, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        sigaction(each, &action, nullptr);
    }
    signal(SIGPIPE, SIG_IGN);
}

const std::atomic<int> &StopRequest() { return stopRequest; }

int EndBySignal(int signal) {
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    raise(signal);
    // Should the signal not end the process (a blocked one), the status says the same.
    return 128 + signal;
}

const char *SignalName(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "a signal";
    }
}

}  // namespace host
