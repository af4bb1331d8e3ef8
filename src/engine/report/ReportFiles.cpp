#include "engine/report/ReportFiles.h"

#include "support/InputFile.h"
#include "support/Csv.h"
#include "support/FileSystem.h"
#include "support/Log.h"

namespace engine {

const std::vector<std::string>& ReportColumns()
{
    static const std::vector<std::string> columns = {"path", "size", "source_sha256", "selected",
        "not_selected_because", "outcome", "written_file", "written_sha256", "error", "dicom", "sop_instance_uid",
        "study_instance_uid", "modality", "transfer_syntax", "duplicate", "duplicate_of", "series_instance_uid",
        "sop_class_uid", "retried", "patient_id", "patient_name"};
    return columns;
}

std::string_view OutcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Migrated:
        return "migrated";
    case Outcome::Rejected:
        return "rejected";
    case Outcome::Failed:
        return "failed";
    case Outcome::AlreadyMigrated:
        return "already migrated";
    case Outcome::AlreadyRejected:
        return "already rejected";
    case Outcome::Skipped:
        break;
    }
    return "skipped";
}

std::string RunsFolder(const std::string& logsHome)
{
    return support::LogsFolder(logsHome) + "/Runs";
}

std::string LocksFile(const std::string& runsFolder)
{
    return runsFolder + "/.locks";
}

std::string FolderKey(const std::string& folder)
{
    const auto identity = support::IdentityOf(folder);
    return identity ? std::to_string(identity->device) + ":" + std::to_string(identity->inode) : folder;
}

std::string RowsFileOf(const std::string& summaryPath)
{
    return summaryPath.substr(0, summaryPath.size() - SummarySuffix.size()) + ".csv";
}

std::map<std::string, std::string> ReadSummary(const std::string& path)
{
    std::string content;
    support::ReadWholeFile(path, content);
    std::map<std::string, std::string> values;
    for (const auto& record : support::ParseCsv(content)) {
        if (record.size() >= 2) {
            values[record[0]] = record[1];
        }
    }
    return values;
}

std::vector<std::string> SummariesOf(const std::string& runsFolder, const std::string& destination)
{
    std::vector<std::string> found;
    support::FolderListing listing;
    const auto target = support::IdentityOf(destination);
    if (!target || support::ListFolder(runsFolder, listing)) {
        return found;
    }
    for (const std::string& name : listing.files) {
        if (name.ends_with(SummarySuffix)) {
            const std::string path = runsFolder + "/" + name;
            if (support::IdentityOf(ReadSummary(path)["destination"]) == target) {
                found.push_back(path);
            }
        }
    }
    return found; // ListFolder sorts by name, and names begin with the start time
}

RowParser::RowParser(RowTake take)
    : m_parser([this, take = std::move(take)](std::vector<std::string>& record) {
        if (!m_header && record.size() >= FirstColumnCount && record.size() <= ColumnCount) {
            record.resize(ColumnCount);
            take(ReportRow(std::move(record)));
        }
        m_header = false;
    })
{ }

void ReadRows(const std::string& rowsPath, const RowTake& take)
{
    // Read in pieces: an earlier run's report may hold a hundred thousand rows.
    support::InputFile in;
    if (in.Open(rowsPath)) {
        return;
    }
    RowParser parser(take);
    std::string piece(64 * 1024, '\0');
    std::size_t got = 0;
    while (!in.Read(piece, got) && got > 0) {
        parser.Feed(std::string_view(piece).substr(0, got));
    }
}

} // namespace engine
