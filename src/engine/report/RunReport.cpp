#include "engine/report/RunReport.h"

#include <algorithm>
#include <chrono>
#include <iterator>

#include "engine/report/ReportFiles.h"
#include "support/AtomicFile.h"
#include "support/Csv.h"
#include "support/FileSystem.h"
#include "support/Log.h"
#include "support/ProcessWatch.h"

namespace engine {

namespace {

// "2026-12-06T10:05:03" and "Arzt und Praxis" become "2026-12-06_10-05-03_Arzt-und-Praxis": file
// names that sort by time and need no quoting anywhere.
std::string Stem(const RunDescription& run)
{
    std::string stem = run.started + "_" + run.pacs;
    for (char& c : stem) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-';
        if (c == 'T' && &c == &stem[10]) {
            c = '_';
        } else if (!plain && c != '_') {
            c = '-';
        }
    }
    return stem;
}

// Rows are made durable at least this often, each time after the folders of the files they name:
// between two syncs a power cut may take rows whose files are there, which the next run of the disc
// recognises by their content. A sync costs about a write of the file system's journal.
constexpr std::size_t SyncRows = 256;
constexpr auto SyncInterval = std::chrono::seconds(1);

} // namespace

RunReport::~RunReport() = default;

void RunReport::Begin(const std::string& logsHome, const RunDescription& run, const std::function<void()>& pump)
{
    m_rows.Close();
    m_rowsFailed = false;
    m_unsynced = 0;
    m_destinationLock.Unlock();
    m_waiting.clear();
    m_known.Clear();
    m_tally = Tally();
    m_findings = {};
    m_studies.Clear();
    m_bytesRead = m_bytesWritten = 0;
    m_run = run;
    m_stem.clear();
    // Folders are stored absolute: the report is read later, from wherever --verify is started.
    for (std::string* folder : {&m_run.source, &m_run.destination, &m_run.temp}) {
        *folder = support::AbsolutePath(*folder);
    }
    m_folder = RunsFolder(logsHome);
    support::CreateFolder(support::LogsFolder(logsHome));
    support::CreateFolder(m_folder);
    m_destinationSlot = support::LockSlot("destination " + FolderKey(m_run.destination));

    const std::string stem = Stem(run);
    for (int number = 1; number < 100 && !m_rows.IsOpen(); ++number) {
        m_stem = stem;
        if (number > 1) {
            m_stem.append("_").append(std::to_string(number));
        }
        if (m_rows.CreateNew(m_folder + "/" + m_stem + ".csv") != std::errc::file_exists) {
            break; // never over another report
        }
    }
    if (!m_rows.IsOpen()) {
        m_stem.clear();
    }
    m_others.Begin(
        m_folder, run.destination, RowsName(), [this](const ReportRow& row) { RememberRow(row); }, pump);
    if (m_rows.IsOpen()) {
        // The byte-order mark tells spreadsheets that the file is UTF-8.
        m_rowsFailed = static_cast<bool>(m_rows.Write("\xEF\xBB\xBF" + support::CsvLine(ReportColumns())));
        support::AtomicFile summary;
        if (summary.Create(m_folder + "/" + m_stem + std::string(SummarySuffix))
            || summary.Write(SummaryText({}, true, {})) || summary.Commit(support::Replace::Never)) {
            m_rowsFailed = true; // without its summary the report would never be found
        }
        MakeDurable();
    }
}

void RunReport::RememberRow(const ReportRow& row)
{
    using enum ReportColumn;
    if (row[OutcomeColumn] != OutcomeName(Outcome::Migrated)) {
        return;
    }
    // A damaged file's UID is shown, but a file that does not parse is no image to repeat.
    if (!row[SopUid].empty() && !row[Dicom].starts_with("not DICOM")) {
        m_known.RememberUid(row[SopUid], row[WrittenFile]);
    }
    m_known.RememberContent(row[WrittenSha], row[WrittenFile]);
}

void RunReport::MakeDurable()
{
    // The folders first: a durable row must not name a file whose name could still be lost.
    support::SyncCommittedFolders();
    if (m_rows.IsOpen() && m_rows.Sync()) {
        m_rowsFailed = true;
    }
    m_unsynced = 0;
    m_synced = std::chrono::steady_clock::now();
}

void RunReport::Add(FileRecord record)
{
    ++m_tally.rows;
    const bool folder = record.path.ends_with('/'); // a folder that could not be read
    m_tally.scanned += folder ? 0 : 1;
    m_tally.selected += record.selected ? 1 : 0;
    m_tally.withError += record.error.empty() ? 0 : 1;
    m_tally.dotRule += record.notSelectedBecause == LeftOutByDotRule ? 1 : 0;
    m_tally.checked += record.selected || record.notSelectedBecause == LeftOutByDotRule ? 1 : 0;
    ++m_tally.byOutcome[static_cast<int>(record.outcome)];
    m_waiting.push_back(std::move(record));
    // Written by WriteReady, a few at a time. The background thread may fall behind (many small files, each parsed
    // there): the run then waits for it rather than holding rows without bound.
    if (m_waiting.size() > MaxWaitingRows) {
        WriteRows(m_waiting.size() - MaxWaitingRows);
    }
}

void RunReport::WriteReady()
{
    // Not at every file: rows that are written together cost one write and one turn of the lock, and
    // asking a digest whether it is ready costs a call into the system when it is not.
    constexpr auto Interval = std::chrono::milliseconds(50);
    constexpr std::size_t Rows = 32; // a batch's
    if (const auto now = std::chrono::steady_clock::now();
        m_waiting.size() >= Rows || now - m_lookedForReady >= Interval) {
        m_lookedForReady = now;
        WriteReadyRows(false);
    }
}

void RunReport::WriteReadyRows(bool wait)
{
    const auto ready = [](const auto& future) {
        return !future.valid() || future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    };
    std::size_t count = 0;
    while (count < m_waiting.size()
        && (wait
            || (ready(m_waiting[count].sourceSha256) && ready(m_waiting[count].writtenSha256)
                && ready(m_waiting[count].dicom)))) {
        ++count;
    }
    WriteRows(count);
}

void RunReport::WriteRows(std::size_t count)
{
    if (count == 0) {
        return;
    }
    // Other programs writing into the destination take turns: what they wrote before these rows is
    // known when they are written, and these rows before theirs.
    m_destinationLock.Lock(LocksFile(m_folder), m_destinationSlot,
        support::FileLock::Mode::Wait); // without it (no reports folder), the run goes on unlocked
    m_others.CatchUp();
    std::string lines;
    for (std::size_t i = 0; i < count; ++i) {
        lines += Row(m_waiting.front());
        m_waiting.pop_front();
    }
    if (m_rows.IsOpen()) {
        m_rowsFailed = m_rows.Write(lines) || m_rowsFailed;
        m_unsynced += count;
    }
    m_destinationLock.Unlock();
    if (m_unsynced >= SyncRows || std::chrono::steady_clock::now() - m_synced >= SyncInterval) {
        MakeDurable();
    }
}

std::string RunReport::Row(FileRecord& record)
{
    const std::string sourceSha = record.sourceSha256.valid() ? record.sourceSha256.get() : std::string();
    const std::string writtenSha = record.writtenSha256.valid() ? record.writtenSha256.get() : std::string();
    m_findings.retried += record.retried ? 1 : 0;
    m_bytesRead += record.bytesRead;
    m_bytesWritten += record.bytesWritten;
    DicomInfo dicom;
    if (record.dicom.valid()) {
        try {
            dicom = record.dicom.get();
        } catch (const std::exception& e) {
            dicom.problem = e.what(); // the parser ran out of memory, say: the image stays unconfirmed
            dicom.verdict = DicomVerdict::NotDicom;
        }
    }
    if (record.outcome == Outcome::Migrated) {
        std::vector<std::string> repeated;
        // A damaged file's UID is shown, but a file that does not parse is no image to repeat.
        if (!dicom.sopInstanceUid.empty() && dicom.Parsed()) {
            if (const auto earlier = m_known.RememberUid(dicom.sopInstanceUid, record.writtenFile)) {
                repeated.push_back("SOP Instance UID");
                record.duplicateOf = *earlier;
            }
        }
        if (const auto earlier = m_known.RememberContent(writtenSha, record.writtenFile)) {
            repeated.push_back("content");
            record.duplicateOf = *earlier;
        }
        if (!repeated.empty()) {
            record.duplicate = repeated.size() == 2 ? repeated[0] + ", " + repeated[1] : repeated[0];
            ++m_findings.duplicates;
        }
        if (record.dicom.valid()) {
            m_findings.notDicom += dicom.verdict == DicomVerdict::NotDicom ? 1 : 0;
            m_findings.damaged += dicom.verdict == DicomVerdict::NotDicom && dicom.damaged ? 1 : 0;
            m_findings.notAnImage += dicom.verdict == DicomVerdict::NotAnImage ? 1 : 0;
            m_findings.noPart10Header += dicom.verdict == DicomVerdict::NoPart10Header ? 1 : 0;
            m_studies.Add(dicom);
        }
    }
    const std::string verdict = record.dicom.valid() ? dicom.VerdictText() : std::string();
    return support::CsvLine({record.path, record.size ? std::to_string(*record.size) : "", sourceSha,
        record.selected ? "yes" : "no", record.notSelectedBecause, std::string(OutcomeName(record.outcome)),
        record.writtenFile, writtenSha, record.error, verdict, dicom.sopInstanceUid, dicom.studyInstanceUid,
        dicom.modality, dicom.transferSyntax, record.duplicate, record.duplicateOf, dicom.seriesInstanceUid,
        dicom.sopClassUid, record.retried ? "yes" : "", dicom.patientId, dicom.patientName});
}

std::string RunReport::SummaryText(const std::string& ended, bool stopped, const std::string& looksLike) const
{
    const std::pair<std::string, std::string> values[] = {
        {"pacs", m_run.pacs}, {"source", m_run.source}, {"destination", m_run.destination}, {"temp", m_run.temp},
        {"started", m_run.started}, {"ended", ended}, {"stopped", stopped ? "yes" : "no"},
        {"files_seen", std::to_string(m_tally.rows)}, {"selected", std::to_string(m_tally.selected)},
        {"migrated", std::to_string(Count(Outcome::Migrated))}, {"rejected", std::to_string(Count(Outcome::Rejected))},
        {"failed", std::to_string(Count(Outcome::Failed))}, {"skipped", std::to_string(Count(Outcome::Skipped))},
        {"not_dicom", std::to_string(m_findings.notDicom)}, {"duplicates", std::to_string(m_findings.duplicates)},
        {"bytes_read", std::to_string(m_bytesRead)}, {"bytes_written", std::to_string(m_bytesWritten)},
        {"rows", m_stem + ".csv"}, {"not_an_image", std::to_string(m_findings.notAnImage)},
        {"no_part10_header", std::to_string(m_findings.noPart10Header)}, {"images", std::to_string(m_studies.Images())},
        {"studies", std::to_string(m_studies.Studies())}, {"patients", std::to_string(m_studies.Patients())},
        {"studies_file", m_stem + std::string(StudiesSuffix)}, {"label", m_run.label},
        {"fingerprint", m_run.fingerprint}, {"already_migrated", std::to_string(Count(Outcome::AlreadyMigrated))},
        {"already_rejected", std::to_string(Count(Outcome::AlreadyRejected))},
        {"retried", std::to_string(m_findings.retried)},
        {"writer", support::ProcessTag()}, // while the run has not ended: whether it still runs
        {"looks_like", looksLike}, {"damaged_images", std::to_string(m_findings.damaged)}, // of not_dicom
    };
    std::string summary = "\xEF\xBB\xBF" + support::CsvLine({"key", "value"});
    for (const auto& [key, value] : values) {
        summary += support::CsvLine({key, value});
    }
    return summary;
}

std::string RunReport::End(const std::string& ended, bool stopped, const std::string& looksLike)
{
    WriteReadyRows(true);
    if (!m_rows.IsOpen()) {
        return {};
    }
    MakeDurable();
    if (m_rows.Close() || m_rowsFailed) {
        return {};
    }
    // The summary comes last, in place of the one without an end.
    const auto publish = [this](std::string_view suffix, const std::string& text, support::Replace replace) {
        support::AtomicFile file;
        return !file.Create(m_folder + "/" + m_stem + std::string(suffix)) && !file.Write(text)
            && !file.Commit(replace);
    };
    const bool published = publish(StudiesSuffix, m_studies.Csv(), support::Replace::Never)
        && publish(SummarySuffix, SummaryText(ended, stopped, looksLike), support::Replace::Allowed);
    support::SyncCommittedFolders();
    return published ? m_folder + "/" + m_stem + ".csv" : std::string();
}

Findings RunReport::RunFindings() const
{
    Findings findings = m_findings;
    findings.images = m_studies.Images();
    findings.studies = m_studies.Studies();
    findings.patients = m_studies.Patients();
    return findings;
}

} // namespace engine
