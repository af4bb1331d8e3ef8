#include "engine/RunReport.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "support/Csv.h"
#include "support/FileSystem.h"
#include "support/Sha256.h"

namespace engine {

namespace {

constexpr std::string_view SummarySuffix = "-summary.csv";
constexpr std::size_t HashChunk = 1 << 20;

enum Column {
    Path,
    Size,
    SourceSha,
    Selected,
    NotSelectedBecause,
    OutcomeColumn,
    WrittenFile,
    WrittenSha,
    Error,
    Dicom,
    SopUid,
    StudyUid,
    Modality,
    TransferSyntax,
    Duplicate,
    DuplicateOf,
    ColumnCount
};

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::map<std::string, std::string> ReadSummary(const std::string& path)
{
    std::map<std::string, std::string> values;
    for (const auto& record : support::ParseCsv(ReadWhole(path))) {
        if (record.size() >= 2) {
            values[record[0]] = record[1];
        }
    }
    return values;
}

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

// The summaries of finished reports on this destination, oldest first.
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

// Calls take with every row of the rows file that belongs to the summary, the column names left out.
// The file is read in pieces: an earlier run's report may hold a hundred thousand rows.
void ForEachRow(const std::string& summaryPath, const std::function<void(const std::vector<std::string>& row)>& take)
{
    const std::string rows = summaryPath.substr(0, summaryPath.size() - SummarySuffix.size()) + ".csv";
    std::ifstream in(rows, std::ios::binary);
    bool header = true;
    support::CsvParser parser([&](std::vector<std::string>& record) {
        if (!header && record.size() == ColumnCount) {
            take(record);
        }
        header = false;
    });
    std::string piece(64 * 1024, '\0');
    while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0) {
        parser.Feed(std::string_view(piece).substr(0, static_cast<std::size_t>(in.gcount())));
    }
    parser.Finish();
}

} // namespace

const std::vector<std::string>& ReportColumns()
{
    static const std::vector<std::string> columns = {"path", "size", "source_sha256", "selected",
        "not_selected_because", "outcome", "written_file", "written_sha256", "error", "dicom", "sop_instance_uid",
        "study_instance_uid", "modality", "transfer_syntax", "duplicate", "duplicate_of"};
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
    case Outcome::Skipped:
        break;
    }
    return "skipped";
}

RunReport::~RunReport()
{
    if (m_rows != nullptr) {
        std::fclose(m_rows);
    }
}

KnownImages::KnownImages()
    : m_uids(0, TextHash {&m_texts}, TextEqual {&m_texts})
{ }

void KnownImages::Clear()
{
    m_uids.clear();
    m_contents.clear();
    m_texts.clear();
}

std::string_view KnownImages::TextAt(const std::string& texts, Offset offset)
{
    Offset length = 0;
    std::memcpy(&length, texts.data() + offset, sizeof length);
    return std::string_view(texts).substr(offset + sizeof length, length);
}

std::size_t KnownImages::TextHash::operator()(Offset offset) const
{
    return std::hash<std::string_view> {}(KnownImages::TextAt(*texts, offset));
}

bool KnownImages::TextEqual::operator()(Offset a, Offset b) const
{
    return KnownImages::TextAt(*texts, a) == KnownImages::TextAt(*texts, b);
}

std::size_t KnownImages::DigestHash::operator()(const std::array<unsigned char, 32>& digest) const
{
    std::size_t value = 0; // a SHA-256 is evenly spread: its first bytes are a hash as good as any
    std::memcpy(&value, digest.data(), sizeof value);
    return value;
}

KnownImages::Offset KnownImages::Store(std::string_view text)
{
    const auto offset = static_cast<Offset>(m_texts.size());
    const auto length = static_cast<Offset>(text.size());
    m_texts.append(reinterpret_cast<const char*>(&length), sizeof length);
    m_texts.append(text);
    return offset;
}

std::optional<std::string> KnownImages::RememberUid(std::string_view uid, std::string_view file)
{
    const std::size_t before = m_texts.size();
    const Offset key = Store(uid);
    const auto [entry, added] = m_uids.emplace(key, 0);
    if (!added) {
        m_texts.resize(before); // known already: the text goes again
        return std::string(TextAt(entry->second));
    }
    entry->second = Store(file);
    return std::nullopt;
}

std::optional<std::string> KnownImages::RememberContent(std::string_view sha256Hex, std::string_view file)
{
    std::array<unsigned char, 32> digest {};
    if (sha256Hex.size() != 2 * digest.size()) {
        return std::nullopt; // no digest (a report edited by hand, say): nothing to compare
    }
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const auto nibble = [](char c) {
            return c >= '0' && c <= '9' ? c - '0'
                : c >= 'a' && c <= 'f'  ? c - 'a' + 10
                : c >= 'A' && c <= 'F'  ? c - 'A' + 10
                                        : -1;
        };
        const int high = nibble(sha256Hex[2 * i]), low = nibble(sha256Hex[2 * i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        digest[i] = static_cast<unsigned char>(high * 16 + low);
    }
    if (const auto known = m_contents.find(digest); known != m_contents.end()) {
        return std::string(TextAt(known->second));
    }
    m_contents.emplace(digest, Store(file));
    return std::nullopt;
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
    m_seen = m_selected = m_notDicom = m_duplicates = 0;
    m_bytesRead = m_bytesWritten = 0;
    m_run = run;
    // Folders are stored absolute: the report is read later, from wherever --verify is started.
    for (std::string* folder : {&m_run.source, &m_run.destination, &m_run.temp}) {
        std::error_code error;
        const auto absolute = std::filesystem::absolute(*folder, error);
        if (!error && !folder->empty()) {
            *folder = absolute.lexically_normal().string();
        }
    }
    m_folder = programFolder + "/Logs/Runs";
    support::CreateFolder(programFolder + "/Logs");
    support::CreateFolder(m_folder);
    RememberEarlierRuns(m_folder, run.destination, pump);

    const std::string stem = Stem(run);
    for (int number = 1; number < 100 && m_rows == nullptr; ++number) {
        m_stem = stem + (number == 1 ? "" : "_" + std::to_string(number));
        m_rows = std::fopen((m_folder + "/" + m_stem + ".csv").c_str(), "wbx"); // never over another report
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
    ++m_counts[static_cast<int>(record.outcome)];
    m_bytesRead += record.bytesRead;
    m_bytesWritten += record.bytesWritten;
    DicomInfo dicom;
    if (record.dicom.valid()) {
        try {
            dicom = record.dicom.get();
        } catch (const std::exception& e) {
            dicom.problem = e.what(); // the parser ran out of memory, say: the image stays unconfirmed
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
            ++m_duplicates;
        }
        m_notDicom += record.dicom.valid() && !dicom.parsed ? 1 : 0;
    }
    if (m_rows == nullptr) {
        return;
    }
    const std::string verdict = !record.dicom.valid() ? "" : dicom.parsed ? "ok" : "not DICOM: " + dicom.problem;
    const std::string line = support::CsvLine({record.path, record.size ? std::to_string(*record.size) : "", sourceSha,
        record.selected ? "yes" : "no", record.notSelectedBecause, std::string(OutcomeName(record.outcome)),
        record.writtenFile, writtenSha, record.error, verdict, dicom.sopInstanceUid, dicom.studyInstanceUid,
        dicom.modality, dicom.transferSyntax, record.duplicate, record.duplicateOf});
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
        {"not_dicom", std::to_string(m_notDicom)},
        {"duplicates", std::to_string(m_duplicates)},
        {"bytes_read", std::to_string(m_bytesRead)},
        {"bytes_written", std::to_string(m_bytesWritten)},
        {"rows", m_stem + ".csv"},
    };
    std::string summary = "\xEF\xBB\xBF" + support::CsvLine({"key", "value"});
    for (const auto& [key, value] : values) {
        summary += support::CsvLine({key, value});
    }
    support::AtomicFile file;
    if (file.Create(m_folder + "/" + m_stem + std::string(SummarySuffix)) || file.Write(summary)
        || file.Commit(support::Replace::Never)) {
        return {};
    }
    return m_folder + "/" + m_stem + ".csv";
}

Verification VerifyDestination(const std::string& programFolder, const std::string& destination)
{
    Verification result;
    const auto summaries = SummariesOf(programFolder + "/Logs/Runs", destination);
    if (summaries.empty()) {
        return result;
    }
    result.report = summaries.back().substr(0, summaries.back().size() - SummarySuffix.size()) + ".csv";

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
