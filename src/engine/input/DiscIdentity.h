#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/input/DiscTree.h"
#include "engine/common/Profile.h"

namespace engine {

// What disc a run reads. The fingerprint is a SHA-256 over the relative path and size of every file
// the profile selects, in walk order: the same disc gives the same one whether it is in the drive, a
// mounted image or copied to a folder, and another disc of the same system does not. The label and
// serial are those of the disc the source is on, when it is on one.
struct DiscIdentity
{
    std::string label;
    std::string serial;
    std::string fingerprint;
    std::int64_t selected = 0; // by the profile
    std::int64_t toMigrate = 0; // of them, those the "." rule does not leave out
    std::vector<std::string> files; // the selected files' paths in walk order, of a compressed disc
    DiscTree tree; // the source as the run walks it
};

// Lists the source tree once, as the run walks it (links and the run's own output folders left out),
// without reading any file; pump is called now and then on a large disc.
DiscIdentity IdentifyDisc(const std::string& source, Profile profile,
    const std::function<bool(const std::string& folder)>& isOwnOutput, const std::function<void()>& pump);

} // namespace engine
