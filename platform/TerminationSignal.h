#pragma once

namespace korvane {

// Turns SIGINT and SIGTERM into a readable byte on a pipe, so an event loop
// can end the program the orderly way (settings written, pad link closed)
// instead of dying mid-step. Returns the pipe's read end, or -1. On Windows
// the console's Ctrl+C, Ctrl+Break and close events play the signals' part,
// and the pipe is one of the C runtime's.
int installTerminationSignalPipe();

// Reads the pending signal bytes; returns the last signal number seen, or 0.
int takeTerminationSignal(int readFd);

// Ends the process by `signalNumber` with its default action, as if it had
// never been caught, so the parent sees the usual death by that signal (on
// Windows the exit status of a console program ended by Ctrl+C).
[[noreturn]] void endBySignal(int signalNumber);

}  // namespace korvane
