#pragma once

#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "support/FileSystem.h"

namespace engine {

// A folder of a tree as listed once: its path, its path relative to the tree's root ("" for the root,
// else ending in "/"), and its entries; a folder that could not be listed has its error instead.
struct ListedFolder
{
    std::string path;
    std::string relative;
    support::FolderListing listing;
    std::error_code error;
};

// A tree listed once, its folders in the order a walk reaches them: a folder before its sub-folders,
// the sub-folders in name order, depth first (a walk takes each folder's files before going on to the
// next folder). Symbolic links to folders are not followed; leaveOut (when given) drops a folder and
// everything below it. The run's walk, the disc reader's list and the disc's fingerprint all come from
// one such listing, so they cannot disagree; --verify lists a destination the same way. pump is called
// now and then on a large tree.
using DiscTree = std::vector<ListedFolder>;
DiscTree ListTree(const std::string& root, const std::function<bool(const std::string& folder)>& leaveOut = {},
    const std::function<void()>& pump = {});

} // namespace engine
