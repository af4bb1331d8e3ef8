#include "engine/input/DiscIdentity.h"

#include <utility>

#include "support/FileSystem.h"
#include "support/Mounts.h"
#include "support/Sha256.h"

namespace engine {

DiscIdentity IdentifyDisc(const std::string& source, Profile profile,
    const std::function<bool(const std::string& folder)>& isOwnOutput, const std::function<void()>& pump)
{
    DiscIdentity disc;
    if (const auto mount = support::MountOf(source)) {
        support::VolumeName name = support::NameOfVolume(*mount);
        disc.label = std::move(name.label);
        disc.serial = std::move(name.serial);
    }
    disc.tree = ListTree(source, isOwnOutput, pump);
    support::Sha256 digest;
    // A folder that cannot be listed adds nothing (the walk will log it).
    for (const ListedFolder& folder : disc.tree) {
        for (const std::string& name : folder.listing.files) {
            if (IsSelected(profile, name)) {
                const std::string file = support::JoinPath(folder.path, name);
                const auto size = support::FileSize(file);
                if (IsCompressed(profile)) {
                    disc.files.push_back(file); // only the reader of compressed discs needs them
                }
                digest.Update(folder.relative + name + '\0' + (size ? std::to_string(*size) : "-") + '\n');
                ++disc.selected;
                disc.toMigrate += SkippedByDotRule(profile, name) ? 0 : 1;
            }
        }
    }
    disc.fingerprint = digest.HexDigest();
    return disc;
}

} // namespace engine
