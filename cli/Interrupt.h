// SIGINT, SIGTERM and SIGHUP end tessel through its normal path: the work in progress stops at
// the next subfile, the open databases are closed (the reader removes its temporary folder), and
// the program then ends by the same signal, so that its caller sees how it ended.
#pragma once

namespace tessel::cli {

// Installs the handlers; they only record the signal.
void installInterruptHandlers();
// The signal received, or 0.
int interruptSignal();
// After everything is closed: ends the process by the signal received, if any; returns otherwise.
void endIfInterrupted();

} // namespace tessel::cli
