#include "engine/report/RunReport.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iterator>

#include "engine/report/ReportFiles.h"
#include "support/AtomicFile.h"
#include "support/Csv.h"
#include "support/FileSystem.h"
#include "support/Log.h"

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

} // namespace

RunReport::~RunReport()
{
    if (m_rows != nullptr) {
        std::fclose(m_rows);
    }
}

void RunReport::Begin(const std::string& programFolder, const RunDescription& run, const std::function<void()>& pump)
{
    if (m_rows != nullptr) {
        std::fclose(m_rows);
        m_rows = nullptr;
    }
    m_waiting.clear();
    m_known.Clear();
    std::fill(std::begin(m_counts), std::end(m_counts), 0);
    m_seen = m_selected = 0;
    m_findings = {};
    m_studies.Clear();
    m_bytesRead = m_bytesWritten = 0;
    m_run = run;
    m_stem.clear();
    // Folders are stored absolute: the report is read later, from wherever --verify is started.
    for (std::string* folder : {&m_run.source, &m_run.destination, &m_run.temp}) {
        std::error_code error;
        const auto absolute = std::filesystem::absolute(*folder, error);
        if (!error && !folder->empty()) {
            *folder = absolute.lexically_normal().string();
        }
    }
    m_folder = RunsFolder(programFolder);
    support::CreateFolder(support::LogsFolder(programFolder));
    support::CreateFolder(m_folder);
    RememberEarlierRuns(m_folder, run.destination, pump);

    const std::string stem = Stem(run);
    for (int number = 1; number < 100 && m_rows == nullptr; ++number) {
        m_stem = stem + (number == 1 ? "" : "_" + std::to_string(number));
        m_rows = std::fopen((m_folder + "/" + m_stem + ".csv").c_str(), "wbx"); // never over another report
    }
    if (m_rows == nullptr) {
        m_stem.clear();
    }
    if (m_rows != nullptr) {
        // The byte-order mark tells spreadsheets that the file is UTF-8.
        const std::string head = "\xEF\xBB\xBF" + support::CsvLine(ReportColumns());
        std::fwrite(head.data(), 1, head.size(), m_rows);
    }
}

void RunReport::RememberEarlierRuns(
    const std::string& runsFolder, const std::string& destination, const std::function<void()>& pump)
{
    std::size_t rows = 0;
    for (const std::string& summary : SummariesOf(runsFolder, destination)) {
        ForEachRow(summary, [&](const std::vector<std::string>& row) {
            if (row[OutcomeColumn] == "migrated") {
                if (!row[SopUid].empty()) {
                    m_known.RememberUid(row[SopUid], row[WrittenFile]);
                }
                m_known.RememberContent(row[WrittenSha], row[WrittenFile]);
            }
            // Many earlier discs into one destination take a while to read.
            if (++rows % 4096 == 0 && pump) {
                pump();
            }
        });
    }
}

void RunReport::Add(FileRecord record)
{
    m_waiting.push_back(std::move(record));
    WriteReadyRows(false);
    // The background thread may fall behind (many small files, each parsed there): the run then waits
    // for it rather than holding rows without bound.
    while (m_waiting.size() > MaxWaitingRows) {
        Write(m_waiting.front());
        m_waiting.pop_front();
    }
}

void RunReport::WriteReadyRows(bool wait)
{
    const auto ready = [](const auto& future) {
        return !future.valid() || future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    };
    while (!m_waiting.empty()
        && (wait
            || (ready(m_waiting.front().sourceSha256) && ready(m_waiting.front().writtenSha256)
                && ready(m_waiting.front().dicom)))) {
        Write(m_waiting.front());
        m_waiting.pop_front();
    }
}

void RunReport::Write(FileRecord& record)
{
    const std::string sourceSha = record.sourceSha256.valid() ? record.sourceSha256.get() : std::string();
    const std::string writtenSha = record.writtenSha256.valid() ? record.writtenSha256.get() : std::string();
    ++m_seen;
    m_selected += record.selected ? 1 : 0;
    m_findings.retried += record.retried ? 1 : 0;
    ++m_counts[static_cast<int>(record.outcome)];
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
        const std::string uid = dicom.sopInstanceUid;
        std::vector<std::string> repeated;
        if (!uid.empty()) {
            if (const auto earlier = m_known.RememberUid(uid, record.writtenFile)) {
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
            m_findings.notAnImage += dicom.verdict == DicomVerdict::NotAnImage ? 1 : 0;
            m_findings.noPart10Header += dicom.verdict == DicomVerdict::NoPart10Header ? 1 : 0;
            m_studies.Add(dicom);
        }
    }
    if (m_rows == nullptr) {
        return;
    }
    const std::string verdict = record.dicom.valid() ? dicom.VerdictText() : std::string();
    const std::string line = support::CsvLine({record.path, record.size ? std::to_string(*record.size) : "", sourceSha,
        record.selected ? "yes" : "no", record.notSelectedBecause, std::string(OutcomeName(record.outcome)),
        record.writtenFile, writtenSha, record.error, verdict, dicom.sopInstanceUid, dicom.studyInstanceUid,
        dicom.modality, dicom.transferSyntax, record.duplicate, record.duplicateOf, dicom.seriesInstanceUid,
        dicom.sopClassUid, record.retried ? "yes" : ""});
    std::fwrite(line.data(), 1, line.size(), m_rows);
}

std::string RunReport::End(const std::string& ended, bool stopped)
{
    WriteReadyRows(true);
    if (m_rows == nullptr) {
        return {};
    }
    const bool written = std::fclose(m_rows) == 0;
    m_rows = nullptr;
    if (!written) {
        return {};
    }
    const std::pair<std::string, std::string> values[] = {
        {"pacs", m_run.pacs},
        {"source", m_run.source},
        {"destination", m_run.destination},
        {"temp", m_run.temp},
        {"started", m_run.started},
        {"ended", ended},
        {"stopped", stopped ? "yes" : "no"},
        {"files_seen", std::to_string(m_seen)},
        {"selected", std::to_string(m_selected)},
        {"migrated", std::to_string(m_counts[static_cast<int>(Outcome::Migrated)])},
        {"rejected", std::to_string(m_counts[static_cast<int>(Outcome::Rejected)])},
        {"failed", std::to_string(m_counts[static_cast<int>(Outcome::Failed)])},
        {"skipped", std::to_string(m_counts[static_cast<int>(Outcome::Skipped)])},
        {"not_dicom", std::to_string(m_findings.notDicom)},
        {"duplicates", std::to_string(m_findings.duplicates)},
        {"bytes_read", std::to_string(m_bytesRead)},
        {"bytes_written", std::to_string(m_bytesWritten)},
        {"rows", m_stem + ".csv"},
        {"not_an_image", std::to_string(m_findings.notAnImage)},
        {"no_part10_header", std::to_string(m_findings.noPart10Header)},
        {"images", std::to_string(m_studies.Images())},
        {"studies", std::to_string(m_studies.Studies())},
        {"patients", std::to_string(m_studies.Patients())},
        {"studies_file", m_stem + std::string(StudiesSuffix)},
        {"label", m_run.label},
        {"fingerprint", m_run.fingerprint},
        {"already_migrated", std::to_string(m_counts[static_cast<int>(Outcome::AlreadyMigrated)])},
        {"already_rejected", std::to_string(m_counts[static_cast<int>(Outcome::AlreadyRejected)])},
        {"retried", std::to_string(m_findings.retried)},
    };
    std::string summary = "\xEF\xBB\xBF" + support::CsvLine({"key", "value"});
    for (const auto& [key, value] : values) {
        summary += support::CsvLine({key, value});
    }
    // The summary comes last: a report with one is complete.
    const auto publish = [this](std::string_view suffix, const std::string& text) {
        support::AtomicFile file;
        return !file.Create(m_folder + "/" + m_stem + std::string(suffix)) && !file.Write(text)
            && !file.Commit(support::Replace::Never);
    };
    if (!publish(StudiesSuffix, m_studies.Csv()) || !publish(SummarySuffix, summary)) {
        return {};
    }
    return m_folder + "/" + m_stem + ".csv";
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
