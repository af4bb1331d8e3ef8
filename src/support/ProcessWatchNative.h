#pragma once

#include <string>

// What process tags need of the system: each platform implements it in a file of its own.
namespace support::native {

std::string HostName();
long ProcessId();
// True when no process with this id runs on this machine (one that runs but is not ours counts as
// running).
bool ProcessGone(long pid);

} // namespace support::native
