#include "Interrupt.h"

#include <signal.h>

#include <csignal>
#include <initializer_list>

namespace tessel::cli {
namespace {

volatile std::sig_atomic_t g_signal = 0;

extern "C" void recordSignal(int signal) {
    g_signal = signal;
}

} // namespace

void installInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = recordSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking wait returns EINTR, so the loops notice the signal.
    action.sa_flags = 0;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

int interruptSignal() {
    return g_signal;
}

void endIfInterrupted() {
    const int signal = g_signal;
    if (signal == 0)
        return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    ::raise(signal);
}

} // namespace tessel::cli
