#include "engine/report/Verification.h"

#include <algorithm>

#include "engine/input/DiscTree.h"
#include "engine/check/DicomCheck.h"
#include "engine/common/Texts.h"
#include "engine/records/ReportRows.h"
#include "engine/records/RunsFolder.h"
#include "support/AtomicFile.h"
#include "support/FileSystem.h"
#include "support/ProcessWatch.h"
#include "support/Sha256.h"

namespace engine {

namespace {

// "2026-12-06T10:05:03" and "HIPAX" become "2026-12-06_10-05-03 HIPAX", as the report files are named.
std::string DiscName(const ReportSummary& summary)
{
    std::string started = summary.started;
    std::replace(started.begin(), started.end(), 'T', '_');
    std::replace(started.begin(), started.end(), ':', '-');
    return started + " " + summary.pacs;
}

void CheckListedFile(const std::string& destination, const ReportRow& row, DiscVerification& disc, Verification& result)
{
    ++result.rowsChecked;
    ++disc.listed;
    const std::string path = destination + "/" + row.writtenFile;
    const std::string what = row.writtenFile + " (" + disc.name + ": " + row.path + ")";
    const auto hash = support::Sha256OfFile(path);
    if (!hash) {
        ++result.missing;
        result.problems.push_back("missing: " + what);
        return;
    }
    if (*hash != row.writtenSha256) {
        ++result.changed;
        result.problems.push_back("changed: " + what);
        return;
    }
    if (!row.dicom.empty()) {
        const std::string verdict = CheckDicomFile(path).VerdictText();
        if (verdict != row.dicom) {
            ++result.verdictChanged;
            result.problems.push_back(
                "verdict: " + what + ": report says \"" + row.dicom + "\", now \"" + verdict + "\"");
            return;
        }
    }
    ++disc.present;
}

} // namespace

Verification VerifyDestination(const std::string& logsHome, const std::string& destination)
{
    Verification result;
    std::vector<std::string> known;
    for (const ReportOfRun& run : RunsInto(RunsFolder(logsHome), destination)) {
        DiscVerification disc {DiscName(run.summary), run.rows};
        ReadRows(disc.report, [&](const ReportRow& row) {
            if (row.writtenFile.empty()) {
                return;
            }
            known.push_back(row.writtenFile);
            if (row.Migrated() || row.Rejected()) {
                CheckListedFile(destination, row, disc, result);
            }
        });
        result.discs.push_back(std::move(disc));
    }
    if (result.discs.empty()) {
        return result;
    }
    std::sort(known.begin(), known.end());

    const std::string_view tempPrefix = support::TempFilePrefix;
    // Every file below the destination, sub-folders included, listed as a run lists a disc.
    for (const ListedFolder& folder : ListTree(destination)) {
        for (const std::string& name : folder.listing.files) {
            const std::string relative = folder.relative + name;
            ++result.filesInFolder;
            if (std::binary_search(known.begin(), known.end(), relative)) {
                continue;
            }
            if (name.starts_with(tempPrefix) && name.ends_with(".part")) {
                if (support::IsLeftoverOfDeadProcess(std::string_view(name).substr(tempPrefix.size()))) {
                    ++result.leftovers;
                    result.problems.push_back("leftover: " + relative + " (its writer no longer runs)");
                } else {
                    ++result.inProgress;
                    result.problems.push_back(
                        "in progress: " + relative + " (its writer runs, or runs on another machine)");
                }
                continue;
            }
            ++result.added;
            result.problems.push_back("added: " + relative);
        }
    }
    return result;
}

std::vector<FolderImage> UnlistedImages(const std::string& destination, const std::set<std::string>& listed)
{
    std::vector<FolderImage> images;
    const std::string_view tempPrefix = support::TempFilePrefix;
    const std::string quarantine = support::JoinPath(destination, std::string(texts::QuarantineFolder));
    const auto leaveOut = [&quarantine](const std::string& folder) { return folder == quarantine; };
    for (const ListedFolder& folder : ListTree(destination, leaveOut)) {
        for (const std::string& name : folder.listing.files) {
            const std::string relative = folder.relative + name;
            if (listed.count(relative) != 0 || (name.starts_with(tempPrefix) && name.ends_with(".part"))) {
                continue;
            }
            DicomInfo info = CheckDicomFile(support::JoinPath(destination, relative));
            if ((info.verdict == DicomVerdict::Ok || info.verdict == DicomVerdict::NoPart10Header)
                && !info.sopInstanceUid.empty() && !info.sopClassUid.empty()) {
                images.push_back({relative, std::move(info)});
            }
        }
    }
    return images;
}

} // namespace engine
