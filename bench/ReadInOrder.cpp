// The floor of a drive-bound run: one process reading every file the PACS system's profile migrates
// whole and once, in the order the migration walks the disc.
//
//   zet-pelta-read-in-order PACS DISC
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/common/Profile.h"
#include "support/FileSystem.h"

namespace {

void ReadFolder(const std::string& folder, engine::Profile profile, std::vector<char>& buffer)
{
    support::FolderListing listing;
    if (support::ListFolder(folder, listing)) {
        return;
    }
    for (const std::string& name : listing.files) {
        if (engine::IsSelected(profile, name) && !engine::SkippedByDotRule(profile, name)) {
            const int fd = ::open(support::JoinPath(folder, name).c_str(), O_RDONLY);
            while (fd >= 0 && ::read(fd, buffer.data(), buffer.size()) > 0) { }
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    for (const std::string& name : listing.folders) {
        ReadFolder(support::JoinPath(folder, name), profile, buffer);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const auto profile = argc == 3 ? engine::ProfileFor(argv[1]) : std::nullopt;
    if (!profile) {
        std::fprintf(stderr, "usage: zet-pelta-read-in-order PACS DISC\n");
        return 2;
    }
    std::vector<char> buffer(1 << 20);
    ReadFolder(argv[2], *profile, buffer);
    return 0;
}
