#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace support {

// "<host>-<pid>" of this process. Files and folders that a run leaves in shared places carry it, so
// that a later run can tell the leftovers of a killed one from the work of one still running.
std::string ProcessTag();

// True when name is a process tag (of any machine).
bool IsProcessTag(std::string_view name);

// True when name begins with the tag of a process of this machine that no longer runs. Tags of other
// machines that share a folder are never taken for leftovers.
bool IsLeftoverOfDeadProcess(std::string_view name);

} // namespace support
