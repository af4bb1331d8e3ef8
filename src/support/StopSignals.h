#pragma once

namespace support {

// Where signals ask a process to end (SIGTERM at logout or shutdown, SIGHUP, SIGINT: POSIX), a file
// descriptor that becomes readable when one comes, for an event loop to watch so that the program
// closes as its user would close it; -1 where there are none (Windows tells a window program through
// its window) or none could be made. Made once; later calls give the same descriptor.
int StopSignalDescriptor();

// Calls onStop when the user asks a console program to end: Ctrl+C or a termination signal, and on
// Windows also Ctrl+Break, closing the console window, logging off and shutting down (the system then
// gives the program a few seconds to end the file in hand). onStop runs in a signal handler or on a
// thread of the system's: it may only set a flag.
void WatchConsoleStop(void (*onStop)());

} // namespace support
