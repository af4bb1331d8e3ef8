#include "engine/records/ReportRows.h"

#include <array>

#include "support/AtomicFile.h"
#include "support/FileSystem.h"
#include "support/InputFile.h"

namespace engine {

namespace {

constexpr std::array Outcomes = {Outcome::Migrated, Outcome::Rejected, Outcome::Failed, Outcome::Skipped,
    Outcome::AlreadyMigrated, Outcome::AlreadyRejected};

std::string YesNo(bool yes)
{
    return yes ? "yes" : "no";
}

using R = ReportRow;
const Column<R> ReportColumns[] = {
    TextColumn<R, &R::path>("path"),
    {"size", [](const R& row) { return row.size ? std::to_string(*row.size) : std::string(); },
        [](R& row, std::string&& cell) {
            const auto count = CountOf(cell);
            row.size = count && *count >= 0 ? std::optional<std::uint64_t>(*count) : std::nullopt;
        }},
    TextColumn<R, &R::sourceSha256>("source_sha256"),
    {"selected", [](const R& row) { return YesNo(row.selected); },
        [](R& row, std::string&& cell) { row.selected = cell == "yes"; }},
    TextColumn<R, &R::notSelectedBecause>("not_selected_because"),
    {"outcome", [](const R& row) { return std::string(OutcomeName(row.outcome.value_or(Outcome::Skipped))); },
        [](R& row, std::string&& cell) {
            row.outcome.reset();
            for (const Outcome outcome : Outcomes) {
                if (cell == OutcomeName(outcome)) {
                    row.outcome = outcome;
                }
            }
        }},
    TextColumn<R, &R::writtenFile>("written_file"),
    TextColumn<R, &R::writtenSha256>("written_sha256"),
    TextColumn<R, &R::error>("error"),
    TextColumn<R, &R::dicom>("dicom"),
    TextColumn<R, &R::sopInstanceUid>("sop_instance_uid"),
    TextColumn<R, &R::studyInstanceUid>("study_instance_uid"),
    TextColumn<R, &R::modality>("modality"),
    TextColumn<R, &R::transferSyntax>("transfer_syntax"),
    TextColumn<R, &R::duplicate>("duplicate"),
    TextColumn<R, &R::duplicateOf>("duplicate_of"),
    TextColumn<R, &R::seriesInstanceUid>("series_instance_uid"),
    TextColumn<R, &R::sopClassUid>("sop_class_uid"),
    {"retried", [](const R& row) { return std::string(row.retried ? "yes" : ""); },
        [](R& row, std::string&& cell) { row.retried = cell == "yes"; }},
    TextColumn<R, &R::patientId>("patient_id"),
    TextColumn<R, &R::patientName>("patient_name"),
};
// Reports of the first version have this many columns; a row with fewer is none.
constexpr std::size_t FirstReportColumns = 16;

using S = ReportSummary;
const Column<S> SummaryKeys[] = {
    TextColumn<S, &S::pacs>("pacs"),
    TextColumn<S, &S::source>("source"),
    TextColumn<S, &S::destination>("destination"),
    TextColumn<S, &S::temp>("temp"),
    TextColumn<S, &S::started>("started"),
    TextColumn<S, &S::ended>("ended"),
    {"stopped", [](const S& summary) { return YesNo(summary.stopped); },
        [](S& summary, std::string&& cell) { summary.stopped = cell != "no"; }},
    CountColumn<S, &S::filesSeen>("files_seen"),
    CountColumn<S, &S::selected>("selected"),
    CountColumn<S, &S::migrated>("migrated"),
    CountColumn<S, &S::rejected>("rejected"),
    CountColumn<S, &S::failed>("failed"),
    CountColumn<S, &S::skipped>("skipped"),
    CountColumn<S, &S::notDicom>("not_dicom"),
    CountColumn<S, &S::duplicates>("duplicates"),
    CountColumn<S, &S::bytesRead>("bytes_read"),
    CountColumn<S, &S::bytesWritten>("bytes_written"),
    TextColumn<S, &S::rows>("rows"),
    CountColumn<S, &S::notAnImage>("not_an_image"),
    CountColumn<S, &S::noPart10Header>("no_part10_header"),
    CountColumn<S, &S::images>("images"),
    CountColumn<S, &S::studies>("studies"),
    CountColumn<S, &S::patients>("patients"),
    TextColumn<S, &S::studiesFile>("studies_file"),
    TextColumn<S, &S::label>("label"),
    TextColumn<S, &S::fingerprint>("fingerprint"),
    CountColumn<S, &S::alreadyMigrated>("already_migrated"),
    CountColumn<S, &S::alreadyRejected>("already_rejected"),
    CountColumn<S, &S::retried>("retried"),
    TextColumn<S, &S::writer>("writer"),
    TextColumn<S, &S::looksLike>("looks_like"),
    CountColumn<S, &S::damagedImages>("damaged_images"),
};

using T = StudyRow;
const Column<T> StudyColumns[] = {
    TextColumn<T, &T::patientId>("patient_id"),
    TextColumn<T, &T::patientName>("patient_name"),
    TextColumn<T, &T::patientBirthDate>("patient_birth_date"),
    TextColumn<T, &T::studyDate>("study_date"),
    TextColumn<T, &T::studyDescription>("study_description"),
    TextColumn<T, &T::accessionNumber>("accession_number"),
    TextColumn<T, &T::modalities>("modalities"),
    CountColumn<T, &T::series>("series"),
    CountColumn<T, &T::images>("images"),
    TextColumn<T, &T::studyInstanceUid>("study_instance_uid"),
};

// The summary is a column of keys and one of their values, for it is read by a person.
std::string SummaryText(const ReportSummary& summary)
{
    std::string text = std::string(Utf8Mark) + support::CsvLine({"key", "value"});
    for (const Column<S>& key : SummaryKeys) {
        text += support::CsvLine({std::string(key.name), key.write(summary)});
    }
    return text;
}

} // namespace

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

bool ReportRow::Sendable() const
{
    const auto verdict = Verdict();
    return Migrated() && !writtenFile.empty() && !sopInstanceUid.empty()
        && (verdict == DicomVerdict::Ok || verdict == DicomVerdict::NoPart10Header);
}

Table<ReportRow> ReportTable()
{
    return ReportColumns;
}

RowParser::RowParser(RowTake take)
    : m_reader(ReportColumns, FirstReportColumns)
    , m_parser([this, take = std::move(take)](std::vector<std::string>& record) {
        if (m_reader.Read(record, m_row)) {
            take(m_row);
        }
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

ReportSummary ReadSummary(const std::string& path)
{
    ReportSummary summary;
    std::string content;
    if (support::ReadWholeFile(path, content)) {
        return summary;
    }
    for (auto& record : support::ParseCsv(content)) {
        for (const Column<S>& key : SummaryKeys) {
            if (record.size() >= 2 && record[0] == key.name) {
                key.read(summary, std::move(record[1]));
            }
        }
    }
    return summary;
}

std::vector<ReportOfRun> RunsInto(const std::string& runsFolder, const std::string& destination)
{
    std::vector<ReportOfRun> found;
    support::FolderListing listing;
    const auto target = support::IdentityOf(destination);
    if (!target || support::ListFolder(runsFolder, listing)) {
        return found;
    }
    for (const std::string& name : listing.files) {
        if (name.ends_with(SummarySuffix)) {
            const std::string path = runsFolder + "/" + name;
            ReportSummary summary = ReadSummary(path);
            if (support::IdentityOf(summary.destination) == target) {
                found.push_back({RowsFileOf(path), std::move(summary)});
            }
        }
    }
    return found; // ListFolder sorts by name, and names begin with the start time
}

bool ReportWriter::Create(const std::string& runsFolder, const std::string& stem, ReportSummary opening)
{
    Close();
    m_folder = runsFolder;
    for (int number = 1; number < 100 && !m_rows.IsOpen(); ++number) {
        m_stem = number == 1 ? stem : stem + "_" + std::to_string(number);
        if (m_rows.CreateNew(m_folder + "/" + m_stem + std::string(RowsSuffix)) != std::errc::file_exists) {
            break; // never over another report
        }
    }
    if (!m_rows.IsOpen()) {
        m_stem.clear();
        return false;
    }
    Write(HeaderLine(ReportTable()));
    opening.rows = RowsName();
    opening.studiesFile = m_stem + std::string(StudiesSuffix);
    // Without its summary the report would never be found.
    m_failed = !Publish(SummarySuffix, SummaryText(opening), false) || m_failed;
    return true;
}

void ReportWriter::Write(const std::string& lines)
{
    if (m_rows.IsOpen() && m_rows.Write(lines)) {
        m_failed = true;
    }
}

void ReportWriter::Sync()
{
    if (m_rows.IsOpen() && m_rows.Sync()) {
        m_failed = true;
    }
}

bool ReportWriter::Finish(const std::vector<StudyRow>& studies, ReportSummary summary)
{
    if (!m_rows.IsOpen()) {
        return false;
    }
    Sync();
    if (m_rows.Close() || m_failed) {
        return false;
    }
    summary.rows = RowsName();
    summary.studiesFile = m_stem + std::string(StudiesSuffix);
    std::string text = HeaderLine<StudyRow>(StudyColumns);
    for (const StudyRow& study : studies) {
        text += Line<StudyRow>(StudyColumns, study);
    }
    // The summary comes last, in place of the one without an end.
    const bool published = Publish(StudiesSuffix, text, false) && Publish(SummarySuffix, SummaryText(summary), true);
    support::SyncCommittedFolders();
    return published;
}

void ReportWriter::Close()
{
    m_rows.Close();
    m_failed = false;
    m_stem.clear();
}

bool ReportWriter::Publish(std::string_view suffix, const std::string& text, bool replace) const
{
    support::AtomicFile file;
    return !file.Create(m_folder + "/" + m_stem + std::string(suffix)) && !file.Write(text)
        && !file.Commit(replace ? support::Replace::Allowed : support::Replace::Never);
}

} // namespace engine
