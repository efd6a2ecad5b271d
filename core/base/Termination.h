#pragma once
// Termination requests (an interrupt from the terminal, a polite request to end) taken as a
// flag that the program polls, so that it still ends through its own orderly path.

namespace kiv {

// Starts catching the requests. One that was held back until now arrives at once.
void CatchTerminationRequests();
// True once a request has arrived.
bool TerminationRequested();

} // namespace kiv
