#include "engine/report/MigratedBefore.h"

#include <charconv>

#include "engine/report/ReportFiles.h"
#include "support/Sha256.h"

namespace engine {

void MigratedBefore::Load(const std::string& runsFolder, const std::string& destination, const std::string& fingerprint)
{
    m_outputs.clear();
    for (const std::string& summary : SummariesOf(runsFolder, destination)) {
        if (ReadSummary(summary)["fingerprint"] != fingerprint) {
            continue;
        }
        ForEachRow(summary, [this](const std::vector<std::string>& row) {
            const std::string& outcome = row[OutcomeColumn];
            const bool migrated
                = outcome == OutcomeName(Outcome::Migrated) || outcome == OutcomeName(Outcome::AlreadyMigrated);
            const bool rejected
                = outcome == OutcomeName(Outcome::Rejected) || outcome == OutcomeName(Outcome::AlreadyRejected);
            std::uint64_t size = 0;
            const auto [end, error] = std::from_chars(row[Size].data(), row[Size].data() + row[Size].size(), size);
            if ((migrated || rejected) && !row[WrittenFile].empty() && error == std::errc()
                && end == row[Size].data() + row[Size].size()) {
                m_outputs[row[Path]] = {migrated ? Outcome::AlreadyMigrated : Outcome::AlreadyRejected, size,
                    row[WrittenFile], row[WrittenSha], row[SourceSha]};
            }
        });
    }
}

std::optional<MigratedBefore::Output> MigratedBefore::Find(
    const std::string& relative, std::optional<std::uint64_t> size, const std::string& destination) const
{
    const auto found = m_outputs.find(relative);
    if (found == m_outputs.end() || size != found->second.size
        || support::Sha256OfFile(destination + "/" + found->second.writtenFile) != found->second.writtenSha256) {
        return std::nullopt;
    }
    return found->second;
}

} // namespace engine
