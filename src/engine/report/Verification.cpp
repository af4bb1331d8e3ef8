#include "engine/report/Verification.h"

#include <algorithm>

#include "engine/report/DicomCheck.h"
#include "engine/report/ReportFiles.h"
#include "support/AtomicFile.h"
#include "support/FileSystem.h"
#include "support/Sha256.h"

namespace engine {

namespace {

constexpr std::size_t HashChunk = 1 << 20;

std::string HashOfFile(const std::string& path, bool& readable)
{
    support::InputFile in;
    readable = !in.Open(path);
    support::Sha256 digest;
    std::string buffer(HashChunk, '\0');
    std::size_t got = 0;
    while (readable && !in.Read(buffer, got) && got > 0) {
        digest.Update(std::string_view(buffer).substr(0, got));
    }
    return digest.HexDigest();
}

} // namespace

Verification VerifyDestination(const std::string& programFolder, const std::string& destination)
{
    Verification result;
    const auto summaries = SummariesOf(RunsFolder(programFolder), destination);
    if (summaries.empty()) {
        return result;
    }
    result.report = RowsFileOf(summaries.back());

    std::vector<std::string> known;
    for (const std::string& summary : summaries) {
        ForEachRow(summary, [&known](const std::vector<std::string>& row) {
            if (!row[WrittenFile].empty()) {
                known.push_back(row[WrittenFile]);
            }
        });
    }
    std::sort(known.begin(), known.end());

    ForEachRow(summaries.back(), [&](const std::vector<std::string>& row) {
        if (row[WrittenFile].empty() || (row[OutcomeColumn] != "migrated" && row[OutcomeColumn] != "rejected")) {
            return;
        }
        ++result.checked;
        const std::string path = destination + "/" + row[WrittenFile];
        bool readable = false;
        const std::string hash = HashOfFile(path, readable);
        if (!readable) {
            ++result.missing;
            result.problems.push_back("missing: " + row[WrittenFile] + " (" + row[Path] + ")");
        } else if (hash != row[WrittenSha]) {
            ++result.changed;
            result.problems.push_back("changed: " + row[WrittenFile] + " (" + row[Path] + ")");
        } else if (row[Dicom] == "ok" && !CheckDicomFile(path).parsed) {
            ++result.notDicom;
            result.problems.push_back("no longer DICOM: " + row[WrittenFile] + " (" + row[Path] + ")");
        }
    });

    const auto addedIn = [&](const std::string& folder, const std::string& prefix) {
        support::FolderListing listing;
        if (support::ListFolder(folder, listing)) {
            return;
        }
        for (const std::string& name : listing.files) {
            if (!name.starts_with(".") && !std::binary_search(known.begin(), known.end(), prefix + name)) {
                ++result.added;
                result.problems.push_back("added: " + prefix + name);
            }
        }
    };
    addedIn(destination, "");
    addedIn(destination + "/BadObjects", "BadObjects/");
    return result;
}

} // namespace engine
