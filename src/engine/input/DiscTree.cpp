#include "engine/input/DiscTree.h"

namespace engine {

DiscTree ListTree(const std::string& root, const std::function<bool(const std::string& folder)>& leaveOut,
    const std::function<void()>& pump)
{
    DiscTree tree;
    std::vector<std::pair<std::string, std::string>> waiting {{root, ""}}; // path, relative; the next last
    while (!waiting.empty()) {
        ListedFolder folder;
        std::tie(folder.path, folder.relative) = std::move(waiting.back());
        waiting.pop_back();
        folder.error = support::ListFolder(folder.path, folder.listing);
        const std::vector<std::string>& children = folder.listing.folders;
        for (auto child = children.rbegin(); child != children.rend(); ++child) {
            const std::string path = support::JoinPath(folder.path, *child);
            if (!leaveOut || !leaveOut(path)) {
                waiting.emplace_back(path, folder.relative + *child + "/");
            }
        }
        tree.push_back(std::move(folder));
        // Now and then, not at every folder: a disc of a few folders is listed before anything else
        // happens, as a run always began.
        if (pump && tree.size() % 8 == 0) {
            pump();
        }
    }
    return tree;
}

} // namespace engine
