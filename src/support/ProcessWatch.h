#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace support {

// The process identifier of the first running process, in the order the system lists them, whose
// executable file name (without folder) contains name, letter case ignored (ASCII); 0 when none does
// or when no process list can be had. An empty name matches the first process listed.
//
// Linux lists processes in /proc in ascending identifier order. The name is taken from the
// executable's path where it can be read, else from the first word of the command line; the kernel's
// short name ("comm") is the last resort, because it is cut to 15 characters.
std::uint32_t FindProcess(const std::string& name);

// "<host>-<pid>" of this process. Files and folders that a run leaves in shared places carry it, so
// that a later run can tell the leftovers of a killed one from the work of one still running.
std::string ProcessTag();

// True when name is a process tag (of any machine).
bool IsProcessTag(std::string_view name);

// True when name begins with the tag of a process of this machine that no longer runs. Tags of other
// machines that share a folder are never taken for leftovers.
bool IsLeftoverOfDeadProcess(std::string_view name);

} // namespace support
