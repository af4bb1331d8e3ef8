#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/DicomCheck.h"

// The report of a run, the operator's proof that a disc arrived: Logs/Runs/<start>_<PACS>.csv with a
// row for every file the walk saw, and <start>_<PACS>-summary.csv with the run's folders, times and
// totals. Both are UTF-8 CSV (RFC 4180) that a spreadsheet opens as they are. The rows are written as
// the run goes, so memory does not grow with the disc; the summary is written last, so a report
// without one belongs to a run that did not end.
namespace engine {

enum class Outcome { Migrated, Rejected, Failed, Skipped };

// A SHA-256 in lower-case hex, as the background thread delivers it; empty (not valid) when nothing was hashed.
using Digest = std::shared_future<std::string>;

struct FileRecord
{
    std::string path; // relative to the source folder
    std::optional<std::uint64_t> size;
    Digest sourceSha256; // of the bytes read while copying; none when the file was not read
    bool selected = false;
    std::string notSelectedBecause; // "profile" or "dot rule"
    Outcome outcome = Outcome::Skipped;
    std::string writtenFile; // the destination file's name, or "BadObjects/<name>"
    Digest writtenSha256;
    std::string error;
    std::shared_future<DicomInfo> dicom; // for migrated images; parsed on the background thread
    std::string duplicate; // "SOP Instance UID", "content" or both, when an earlier image had them
    std::string duplicateOf;
    std::uint64_t bytesRead = 0;
    std::uint64_t bytesWritten = 0;
};

struct RunDescription
{
    std::string pacs;
    std::string source;
    std::string destination;
    std::string temp;
    std::string started; // local time, ISO 8601
};

// The images already written into a destination, by SOP Instance UID and by content, each with the
// name of the first file that had it. A disc may hold 100,000 images, so it is kept compact: digests as
// 32 bytes, every text once in one arena, entries as offsets into it.
class KnownImages
{
public:
    KnownImages();
    KnownImages(const KnownImages&) = delete; // the maps' functors point at this object's arena
    KnownImages& operator=(const KnownImages&) = delete;
    void Clear();
    // Remembers the file under the key; returns the earlier file's name when the key was known.
    std::optional<std::string> RememberUid(std::string_view uid, std::string_view file);
    std::optional<std::string> RememberContent(std::string_view sha256Hex, std::string_view file);

private:
    using Offset = std::uint32_t;
    struct TextHash
    {
        const std::string* texts;
        std::size_t operator()(Offset offset) const;
    };
    struct TextEqual
    {
        const std::string* texts;
        bool operator()(Offset a, Offset b) const;
    };
    struct DigestHash
    {
        std::size_t operator()(const std::array<unsigned char, 32>& digest) const;
    };

    Offset Store(std::string_view text);
    std::string_view TextAt(Offset offset) const { return TextAt(m_texts, offset); }
    static std::string_view TextAt(const std::string& texts, Offset offset);

    std::string m_texts; // each text as its length (4 bytes) and its bytes
    std::unordered_map<Offset, Offset, TextHash, TextEqual> m_uids; // UID -> file name
    std::unordered_map<std::array<unsigned char, 32>, Offset, DigestHash> m_contents; // digest -> file name
};

class RunReport
{
public:
    RunReport() = default;
    ~RunReport();
    RunReport(const RunReport&) = delete;
    RunReport& operator=(const RunReport&) = delete;

    // Starts the report of a run. Images that earlier reports of the same destination list are
    // remembered, so that duplicates across runs are flagged; pump is called now and then while they
    // are read. A report that cannot be written is given up without a word: it must never stop a
    // migration.
    void Begin(const std::string& programFolder, const RunDescription& run, const std::function<void()>& pump = {});
    // Takes the row of a file; it is written, and flagged as a duplicate where it is one, once its
    // digests are ready, in the order the rows came.
    void Add(FileRecord record);
    // Writes the remaining rows and the summary; returns the rows file's path, empty when there is no
    // report. The counts below are final only after it.
    std::string End(const std::string& ended, bool stopped);

    std::int64_t NotDicom() const { return m_notDicom; }
    std::int64_t Duplicates() const { return m_duplicates; }

private:
    void RememberEarlierRuns(
        const std::string& runsFolder, const std::string& destination, const std::function<void()>& pump);
    void WriteReadyRows(bool wait);
    void Write(FileRecord& record);

    // Rows waiting for the background thread beyond this many are waited for.
    static constexpr std::size_t MaxWaitingRows = 64;

    std::FILE* m_rows = nullptr;
    std::deque<FileRecord> m_waiting; // rows whose digests are still being computed
    std::string m_folder;
    std::string m_stem;
    RunDescription m_run;
    KnownImages m_known;
    std::int64_t m_counts[4] = {};
    std::int64_t m_seen = 0;
    std::int64_t m_selected = 0;
    std::int64_t m_notDicom = 0;
    std::int64_t m_duplicates = 0;
    std::uint64_t m_bytesRead = 0;
    std::uint64_t m_bytesWritten = 0;
};

// The column names of the rows file, in order.
const std::vector<std::string>& ReportColumns();
std::string_view OutcomeName(Outcome outcome);

// Checks a destination against the latest finished report that wrote into it: every file the report
// lists is there with the same SHA-256, every image that parsed as DICOM still does, and no file is
// there that no report of this destination lists.
struct Verification
{
    std::string report; // the rows file checked against; empty when none wrote into the destination
    std::int64_t checked = 0;
    std::int64_t missing = 0;
    std::int64_t changed = 0;
    std::int64_t added = 0;
    std::int64_t notDicom = 0;
    std::vector<std::string> problems; // a line per file that does not match

    bool Matches() const { return !report.empty() && missing + changed + added + notDicom == 0; }
};
Verification VerifyDestination(const std::string& programFolder, const std::string& destination);

} // namespace engine
