#include "support/Mounts.h"

namespace support {

std::vector<Mount> MountWatch::Arrived(const std::string& folder)
{
    std::vector<Mount> arrived;
    std::set<std::string> seen;
    for (Mount& mount : MountsAtOrBelow(folder)) {
        seen.insert(mount.Key());
        if (!m_seen.contains(mount.Key())) {
            arrived.push_back(std::move(mount));
        }
    }
    m_seen = std::move(seen);
    return arrived;
}

} // namespace support
