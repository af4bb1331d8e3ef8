#include "engine/report/MigratedBefore.h"

#include <algorithm>
#include <future>
#include <unordered_set>

#include "engine/common/Texts.h"
#include "engine/records/ReportRows.h"
#include "engine/records/RunsFolder.h"
#include "support/AtomicFile.h"
#include "support/FileSystem.h"
#include "support/Sha256.h"

namespace engine {

namespace {

Digest ReadyDigest(const std::string& hex)
{
    std::promise<std::string> digest;
    digest.set_value(hex);
    return digest.get_future().share();
}

} // namespace

void MigratedBefore::Clear()
{
    m_outputs.clear();
    m_unlisted.clear();
    m_destination.clear();
}

void MigratedBefore::Load(const std::string& runsFolder, const std::string& destination, const std::string& fingerprint)
{
    Clear();
    m_destination = destination;
    std::unordered_set<std::string> listed;
    for (const ReportOfRun& run : RunsInto(runsFolder, destination)) {
        const bool sameDisc = run.summary.fingerprint == fingerprint;
        ReadRows(run.rows, [&](const ReportRow& row) {
            if (!row.writtenFile.empty()) {
                listed.insert(row.writtenFile);
            }
            if (sameDisc && (row.Migrated() || row.Rejected()) && !row.writtenFile.empty() && row.size) {
                m_outputs[row.path].push_back({row.Migrated() ? Outcome::AlreadyMigrated : Outcome::AlreadyRejected,
                    *row.size, row.writtenFile, row.writtenSha256, row.sourceSha256});
            }
        });
    }
    // A run killed between an output's rename and its row leaves a file that no report lists.
    for (const std::string& folder : {std::string(), std::string(texts::QuarantineFolder)}) {
        support::FolderListing listing;
        if (support::ListFolder(folder.empty() ? destination : destination + "/" + folder, listing)) {
            continue;
        }
        for (const std::string& name : listing.files) {
            const std::string relative = folder.empty() ? name : folder + "/" + name;
            if (name.starts_with(support::TempFilePrefix) || listed.contains(relative)) {
                continue;
            }
            if (const auto size = support::FileSize(destination + "/" + relative)) {
                m_unlisted.emplace(*size, Stray {relative, std::nullopt});
            }
        }
    }
}

std::optional<FileRecord> MigratedBefore::Find(const std::string& relative, std::optional<std::uint64_t> size,
    const std::string& sourcePath, const std::string& destination, const std::function<void()>& pump) const
{
    const auto found = m_outputs.find(relative);
    if (found == m_outputs.end()) {
        return std::nullopt;
    }
    // The disc is read once more for this: only the source's own bytes tell one disc's file from
    // another's of the same name and size, and taking one for the other would leave an image behind.
    std::optional<std::optional<std::string>> source;
    const auto earlierOutput = std::find_if(found->second.rbegin(), found->second.rend(), [&](const Output& output) {
        if (size != output.size || output.sourceSha256.empty()
            || support::Sha256OfFile(destination + "/" + output.writtenFile) != output.writtenSha256) {
            return false;
        }
        if (!source) {
            source = support::Sha256OfFile(sourcePath, pump);
        }
        return *source == output.sourceSha256;
    });
    if (earlierOutput == found->second.rend()) {
        return std::nullopt;
    }
    const Output& earlier = *earlierOutput;
    FileRecord record;
    record.path = relative;
    record.size = size;
    record.selected = true;
    record.outcome = earlier.outcome;
    record.writtenFile = earlier.writtenFile;
    record.writtenSha256 = ReadyDigest(earlier.writtenSha256);
    record.sourceSha256 = ReadyDigest(earlier.sourceSha256);
    return record;
}

std::optional<std::string> MigratedBefore::Unlisted(std::string_view folder, std::uint64_t size, const Digest& digest)
{
    const auto [first, last] = m_unlisted.equal_range(size);
    for (auto at = first; at != last; ++at) {
        Stray& stray = at->second;
        const std::string_view name = stray.name;
        const bool inFolder = folder.empty() ? name.find('/') == std::string_view::npos
                                             : name.starts_with(folder) && name.substr(folder.size()).starts_with('/');
        if (!inFolder) {
            continue;
        }
        // Hashed when first asked, once: images of one kind often share their size.
        if (!stray.sha256) {
            stray.sha256 = support::Sha256OfFile(m_destination + "/" + stray.name).value_or("");
        }
        if (*stray.sha256 == digest.get()) {
            std::string found = std::move(stray.name);
            m_unlisted.erase(at);
            return found;
        }
    }
    return std::nullopt;
}

} // namespace engine
