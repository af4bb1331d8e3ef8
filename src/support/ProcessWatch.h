#pragma once

#include <cstdint>
#include <string>

namespace support {

// The process identifier of the first running process, in the order the system lists them, whose
// executable file name (without folder) contains name, letter case ignored (ASCII); 0 when none does
// or when no process list can be had. An empty name matches the first process listed.
//
// Linux lists processes in /proc in ascending identifier order. The name is taken from the
// executable's path where it can be read, else from the first word of the command line; the kernel's
// short name ("comm") is the last resort, because it is cut to 15 characters.
std::uint32_t FindProcess(const std::string& name);

} // namespace support
