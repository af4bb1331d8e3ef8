#include "engine/report/RunReport.h"

#include <algorithm>
#include <chrono>
#include <iterator>

#include "engine/records/RunsFolder.h"
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
    m_writer.Close();
    m_unsynced = 0;
    m_destinationLock.Unlock();
    m_waiting.clear();
    m_known.Clear();
    m_tally = RunTally();
    m_findings = {};
    m_studies.Clear();
    m_bytesRead = m_bytesWritten = 0;
    m_run = run;
    // Folders are stored absolute: the report is read later, from wherever --verify is started.
    for (std::string* folder : {&m_run.source, &m_run.destination, &m_run.temp}) {
        *folder = support::AbsolutePath(*folder);
    }
    m_folder = RunsFolder(logsHome);
    CreateRunsFolder(logsHome);
    m_destinationSlot = DestinationLockSlot(m_run.destination);
    m_writer.Create(m_folder, Stem(run), Summary({}, true, {}));
    m_others.Begin(
        m_folder, run.destination, RowsName(), [this](const ReportRow& row) { RememberRow(row); }, pump);
    if (m_writer.IsOpen()) {
        MakeDurable();
    }
}

void RunReport::RememberRow(const ReportRow& row)
{
    if (!row.Is(Outcome::Migrated)) {
        return;
    }
    // A damaged file's UID is shown, but a file that does not parse is no image to repeat.
    if (!row.sopInstanceUid.empty() && row.Verdict() != DicomVerdict::NotDicom) {
        m_known.RememberUid(row.sopInstanceUid, row.writtenFile);
    }
    m_known.RememberContent(row.writtenSha256, row.writtenFile);
}

void RunReport::MakeDurable()
{
    // The folders first: a durable row must not name a file whose name could still be lost.
    support::SyncCommittedFolders();
    m_writer.Sync();
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
    if (m_writer.IsOpen()) {
        m_writer.Write(lines);
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
    ReportRow row;
    row.path = record.path;
    row.size = record.size;
    row.sourceSha256 = sourceSha;
    row.selected = record.selected;
    row.notSelectedBecause = record.notSelectedBecause;
    row.outcome = record.outcome;
    row.writtenFile = record.writtenFile;
    row.writtenSha256 = writtenSha;
    row.error = record.error;
    row.dicom = record.dicom.valid() ? dicom.VerdictText() : std::string();
    row.sopInstanceUid = dicom.sopInstanceUid;
    row.studyInstanceUid = dicom.studyInstanceUid;
    row.modality = dicom.modality;
    row.transferSyntax = dicom.transferSyntax;
    row.duplicate = record.duplicate;
    row.duplicateOf = record.duplicateOf;
    row.seriesInstanceUid = dicom.seriesInstanceUid;
    row.sopClassUid = dicom.sopClassUid;
    row.retried = record.retried;
    row.patientId = dicom.patientId;
    row.patientName = dicom.patientName;
    return Line(ReportTable(), row);
}

ReportSummary RunReport::Summary(const std::string& ended, bool stopped, const std::string& looksLike) const
{
    ReportSummary summary;
    summary.pacs = m_run.pacs;
    summary.source = m_run.source;
    summary.destination = m_run.destination;
    summary.temp = m_run.temp;
    summary.started = m_run.started;
    summary.ended = ended;
    summary.stopped = stopped;
    summary.filesSeen = m_tally.rows;
    summary.selected = m_tally.selected;
    summary.migrated = Count(Outcome::Migrated);
    summary.rejected = Count(Outcome::Rejected);
    summary.failed = Count(Outcome::Failed);
    summary.skipped = Count(Outcome::Skipped);
    summary.notDicom = m_findings.notDicom;
    summary.duplicates = m_findings.duplicates;
    summary.bytesRead = static_cast<std::int64_t>(m_bytesRead);
    summary.bytesWritten = static_cast<std::int64_t>(m_bytesWritten);
    summary.notAnImage = m_findings.notAnImage;
    summary.noPart10Header = m_findings.noPart10Header;
    summary.images = m_studies.Images();
    summary.studies = m_studies.Studies();
    summary.patients = m_studies.Patients();
    summary.label = m_run.label;
    summary.fingerprint = m_run.fingerprint;
    summary.alreadyMigrated = Count(Outcome::AlreadyMigrated);
    summary.alreadyRejected = Count(Outcome::AlreadyRejected);
    summary.retried = m_findings.retried;
    summary.writer = support::ProcessTag();
    summary.looksLike = looksLike;
    summary.damagedImages = m_findings.damaged;
    return summary;
}

std::string RunReport::End(const std::string& ended, bool stopped, const std::string& looksLike)
{
    WriteReadyRows(true);
    if (!m_writer.IsOpen()) {
        return {};
    }
    MakeDurable();
    const std::string rows = m_writer.RowsPath();
    return m_writer.Finish(m_studies.Rows(), Summary(ended, stopped, looksLike)) ? rows : std::string();
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
