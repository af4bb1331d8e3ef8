#pragma once

namespace support {

// A descriptor that becomes readable when the process is asked to end (SIGTERM at logout or
// shutdown, SIGHUP, SIGINT), for an event loop to watch so that the program closes as its user
// would close it; -1 when none could be made. Made once; later calls give the same descriptor.
int StopSignalDescriptor();

} // namespace support
