#include "engine/DiscIdentity.h"

#include <vector>

#include "support/FileSystem.h"
#include "support/Mounts.h"
#include "support/Sha256.h"

namespace engine {

DiscIdentity IdentifyDisc(const std::string& source, Profile profile,
    const std::function<bool(const std::string& folder)>& isOwnOutput, const std::function<void()>& pump)
{
    DiscIdentity disc;
    if (const auto mount = support::MountOf(source)) {
        disc.label = support::VolumeLabel(*mount);
    }
    support::Sha256 digest;
    // Depth first, files before sub-folders, as the walk goes; a folder that cannot be listed adds
    // nothing (the walk will log it).
    std::vector<std::pair<std::string, std::string>> folders {{source, ""}};
    std::size_t listed = 0;
    while (!folders.empty()) {
        const auto [path, relative] = folders.back();
        folders.pop_back();
        support::FolderListing listing;
        if (support::ListFolder(path, listing)) {
            continue;
        }
        for (const std::string& name : listing.files) {
            if (IsSelected(profile, name)) {
                const std::string file = support::JoinPath(path, name);
                const auto size = support::FileSize(file);
                if (IsCompressed(profile)) {
                    disc.files.push_back(file); // only the reader of compressed discs needs them
                }
                digest.Update(relative + name + '\0' + (size ? std::to_string(*size) : "-") + '\n');
                ++disc.selected;
            }
        }
        for (auto folder = listing.folders.rbegin(); folder != listing.folders.rend(); ++folder) {
            const std::string child = support::JoinPath(path, *folder);
            if (!isOwnOutput(child)) {
                folders.emplace_back(child, relative + *folder + "/");
            }
        }
        // Now and then, not at every folder: a disc of a few folders is identified before anything else
        // happens, as a run always began.
        if (pump && ++listed % 8 == 0) {
            pump();
        }
    }
    disc.fingerprint = digest.HexDigest();
    return disc;
}

} // namespace engine
