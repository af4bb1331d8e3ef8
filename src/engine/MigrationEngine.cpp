#include "engine/MigrationEngine.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <functional>
#include <new>
#include <system_error>

#include "engine/Decompression.h"
#include "engine/DicomCheck.h"
#include "engine/ImageContainer.h"
#include "engine/SelectionProfile.h"
#include "engine/Texts.h"
#include "support/AtomicFile.h"
#include "support/Background.h"
#include "support/ProcessWatch.h"
#include "support/Sha256.h"

namespace engine {

namespace {

// A destination name that is somehow taken already is replaced by a fresh one, a few times over.
constexpr int UniqueNameAttempts = 8;
// Quarantine names are numbered up to here; beyond, the copy fails loudly instead of searching on.
constexpr int MaxQuarantineNumber = 100000;
// Compressed files up to this size are read whole, into a buffer kept for the next file; larger ones
// stream through the decoder, so that memory stays bounded whatever a disc holds.
constexpr std::uint64_t WholeInputLimit = std::uint64_t {16} << 20;

// Local time as ISO 8601, for the run report.
std::string LocalIsoTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// How many decompressed bytes an image may have: no more than the cap, nor than the folder that
// receives them can hold.
std::uint64_t DecompressionBound(const std::string& outputFolder)
{
    return std::min(
        DefaultMaxDecompressedBytes, support::FreeSpace(outputFolder).value_or(DefaultMaxDecompressedBytes));
}

// Runs one step of the per-file work and turns what it throws for file or memory reasons into an
// error code, so that every such failure takes the same way into the log.
template <typename Step> std::error_code Guarded(Step&& step)
{
    try {
        return step();
    } catch (const std::system_error& e) {
        return e.code();
    } catch (const std::bad_alloc&) {
        return std::make_error_code(std::errc::not_enough_memory);
    }
}

} // namespace

MigrationEngine::MigrationEngine(RunHost& host, std::string programFolder, support::Log::Clock timeStamp)
    : m_host(host)
    , m_programFolder(programFolder)
    , m_log(std::move(programFolder), std::bind_front(&MigrationEngine::DebugOn, this), std::move(timeStamp))
{ }

bool MigrationEngine::DebugOn()
{
    return m_host.DebugValue() == 1;
}

void MigrationEngine::SetTimer(bool enabled)
{
    m_timerEnabled = enabled;
    m_host.SetTimerEnabled(enabled);
}

std::string MigrationEngine::WorkFolder() const
{
    return m_state.TempRoot + "/" + std::string(texts::WorkFolderName);
}

std::string MigrationEngine::RunFolder() const
{
    // Runs that share a temp folder (two programs started with the same settings) each stage their
    // files in a folder of their own inside the work folder, so that none takes the other's files.
    return WorkFolder() + "/" + support::ProcessTag();
}

void MigrationEngine::Refuse(std::string_view logMessage, std::string_view boxText)
{
    m_log.WriteError(-1, logMessage, texts::SourceStart, "");
    m_host.ShowMessage(MessageKind::Stop, boxText, texts::AppTitle);
    m_host.SetQuitEnabled(true);
}

void MigrationEngine::StartRun()
{
    m_host.SetQuitEnabled(false);
    if (m_running) {
        // The running run keeps its profile and work folder; one further run follows it.
        m_runQueued = true;
        return;
    }
    if (!support::FolderExists(m_host.SourceText())) {
        return Refuse(texts::SourceMissingLog, texts::SourceMissingBox);
    }
    if (!support::FolderExists(m_host.DestText())) {
        return Refuse(texts::DestMissingLog, texts::DestMissingBox);
    }
    const std::string temp = m_host.TempText();
    if (!support::FolderExists(temp)) {
        return Refuse(texts::TempMissingLog, texts::TempMissingBox);
    }
    // Refused before the work folder is made: a run without a profile has nothing to do.
    const std::string pacs = m_host.PacsText();
    const auto filter = FileFilterFor(pacs);
    if (!filter) {
        return Refuse(texts::UnknownPacsLog, texts::UnknownPacsBox);
    }
    m_state.TempRoot = temp;
    if (!CreateWorkFolders()) {
        return Refuse(texts::WorkFolderLog, texts::WorkFolderBox);
    }
    m_state.FileFilter = *filter;
    m_state.RunPacs = pacs;
    SetTimer(true);
}

void MigrationEngine::OnTimerTick()
{
    SetTimer(false);
    if (m_running) {
        return; // never nested inside the run it would share its state with
    }
    m_running = true;
    m_stopRequested = false;
    m_state.ScannedCount = m_state.FailedCount = m_state.RejectedCount = m_state.SkippedCount = 0;
    RemoveLeftovers();
    m_sourceRoot = m_host.SourceText();
    m_report.Begin(m_programFolder,
        {m_state.RunPacs, m_sourceRoot, m_host.DestText(), m_state.TempRoot, LocalIsoTime()},
        [this] { m_host.ProcessPendingMessages(); });
    try {
        ScanFolder(m_sourceRoot);
    } catch (const std::exception& e) {
        // Per-file errors never get here; this keeps an unexpected one from leaving the run open.
        m_log.WriteError(-1, e.what(), texts::SourceScanFolder, "");
        ++m_state.FailedCount;
    }
    FinishRun();
    m_running = false;
    m_host.SetQuitEnabled(true);
    if (m_runQueued) {
        m_runQueued = false;
        if (!m_stopRequested) {
            StartRun();
        }
    }
}

void MigrationEngine::RunUntilIdle()
{
    while (m_timerEnabled) {
        OnTimerTick();
    }
}

void MigrationEngine::RequestStop()
{
    m_runQueued = false;
    if (m_running) {
        m_stopRequested = true; // the walk ends after the file in hand; FinishRun cleans up
    } else if (m_timerEnabled) {
        SetTimer(false); // armed, not started: only the work folder to take back
        RemoveWorkFolder();
        m_host.SetQuitEnabled(true);
    }
}

void MigrationEngine::RemoveLeftovers()
{
    // A run that was killed leaves its unfinished files under hidden temporary names; they never
    // became images, so they go before this run writes into the same folders.
    const std::string dest = m_host.DestText();
    for (const std::string& folder : {dest, dest + "/" + std::string(texts::QuarantineFolder)}) {
        if (const std::size_t removed = support::RemoveStaleTempFiles(folder); removed > 0) {
            m_log.WriteDebug(std::to_string(removed) + " unfinished file(s) of an earlier run removed from " + folder);
        }
    }
    RemoveStaleRunFolders();
}

void MigrationEngine::RemoveStaleRunFolders()
{
    support::FolderListing listing;
    if (support::ListFolder(WorkFolder(), listing)) {
        return;
    }
    // Folders of runs that still go on (here or on another machine sharing the folder) stay.
    for (const std::string& name : listing.folders) {
        if (!support::IsProcessTag(name) || support::IsLeftoverOfDeadProcess(name)) {
            support::RemoveTree(WorkFolder() + "/" + name);
        }
    }
}

bool MigrationEngine::CreateWorkFolders()
{
    // Another run that ends at this moment may remove the work folder between the two steps.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!support::FolderExists(WorkFolder())) {
            support::CreateFolder(WorkFolder());
        }
        if (support::FolderExists(RunFolder()) || !support::CreateFolder(RunFolder())) {
            return true;
        }
    }
    return false;
}

void MigrationEngine::RemoveWorkFolder()
{
    // Only the work folder this run used, and never through a symbolic link: the temp field may name
    // another folder by now. One the operator made read-only stays, as do files that cannot be removed.
    const std::string work = WorkFolder();
    if (!support::IsRealFolder(work)) {
        return;
    }
    if (support::IsRealFolder(RunFolder())) {
        support::RemoveTree(RunFolder());
    }
    if (!support::IsOwnerWritable(work)) {
        return;
    }
    // Another run may still stage in its own folder here: the last one to finish removes the work
    // folder, which is why it goes only once empty.
    RemoveStaleRunFolders();
    support::FolderListing listing;
    if (!support::ListFolder(work, listing)) {
        for (const auto* names : {&listing.files, &listing.linkedFolders}) {
            for (const std::string& name : *names) {
                support::DeleteFile(work + "/" + name);
            }
        }
    }
    support::RemoveEmptyFolder(work);
}

void MigrationEngine::FinishRun()
{
    m_predecoder.Cancel(); // a stopped walk may have left the next file in decoding
    const std::string report = m_report.End(LocalIsoTime(), m_stopRequested); // first: it completes the counts
    m_lastRun = {m_state.ScannedCount, m_state.CheckedCount, m_state.MigratedCount, m_state.FailedCount,
        m_state.RejectedCount, m_state.SkippedCount, m_stopRequested, m_report.NotDicom(), m_report.Duplicates(),
        report};
    if (DebugOn() && !m_lastRun.report.empty()) {
        m_log.WriteDebug("Run report: " + m_lastRun.report);
    }
    if (!m_stopRequested) {
        m_host.SetProgressText(texts::ClosingProgress(m_state.ScannedCount));
        m_host.ShowMessage(MessageKind::Information, texts::Summary(m_state.MigratedCount, m_state.CheckedCount),
            texts::SummaryCaption);
    }
    RemoveWorkFolder();
    m_state.MigratedCount = 0;
    m_state.CheckedCount = 0;
    m_host.SetProgressText("");
    m_host.SetProgressValue(0);
    m_host.SetStatusLine("");
}

bool MigrationEngine::IsOwnOutput(const std::string& folder) const
{
    const auto identity = support::IdentityOf(folder);
    if (!identity) {
        return false;
    }
    return identity == support::IdentityOf(m_host.DestText()) || identity == support::IdentityOf(WorkFolder());
}

void MigrationEngine::ScanFolder(const std::string& folder)
{
    if (m_stopRequested) {
        return;
    }
    support::FolderListing listing;
    if (auto error = support::ListFolder(folder, listing)) {
        // The folder vanished or cannot be read: say which, and go on with its next sibling.
        m_log.WriteError(
            support::ErrorNumber(error), support::ErrorDescription(error), texts::SourceScanFolder, folder);
        ++m_state.FailedCount;
        m_record = {};
        m_record.path = RelativePath(folder) + "/";
        m_record.outcome = Outcome::Failed;
        m_record.error = support::ErrorDescription(error);
        m_report.Add(std::move(m_record));
        return;
    }

    m_state.FolderFileCount = static_cast<std::int64_t>(listing.files.size());
    if (m_state.FolderFileCount > 0) {
        m_host.SetProgressMax(m_state.FolderFileCount);
    }
    m_state.ScanPosition = -1;
    std::int64_t handled = 0;
    // With compressed images, the next selected file of the folder is named for the predecoder; the
    // look-ahead only moves forward, so a folder costs one pass whatever it holds.
    const bool compressed = IsCompressedProfile(m_state.FileFilter);
    std::size_t lookahead = 0;
    for (std::size_t index = 0; index < listing.files.size(); ++index) {
        const std::string& name = listing.files[index];
        if (m_stopRequested) {
            return;
        }
        lookahead = std::max(lookahead, index + 1);
        while (compressed && lookahead < listing.files.size()
            && !IsSelected(m_state.FileFilter, listing.files[lookahead])) {
            ++lookahead;
        }
        m_nextCompressed
            = compressed && lookahead < listing.files.size() ? support::JoinPath(folder, listing.files[lookahead]) : "";
        ++m_state.ScanPosition;
        m_host.SetProgressText(texts::ScanProgress(m_state.ScanPosition, m_state.FolderFileCount));
        m_host.SetProgressValue(++handled);
        m_host.ProcessPendingMessages();

        const std::string path = support::JoinPath(folder, name);
        m_host.SetStatusLine(texts::Status(path));
        m_state.CurrentFileName = name;
        ++m_state.ScannedCount;
        m_record = {};
        m_record.path = RelativePath(path);
        m_record.size = support::FileSize(path);
        if (IsSelected(m_state.FileFilter, name)) {
            ++m_state.CheckedCount;
            m_record.selected = true;
            m_record.outcome = Outcome::Failed; // until it is migrated, rejected or left out
            HandleSelectedFile(path, name);
        } else {
            m_record.notSelectedBecause = "profile";
        }
        m_report.Add(std::move(m_record));
        m_host.ProcessPendingMessages();
    }

    for (const std::string& name : listing.linkedFolders) {
        if (DebugOn()) {
            m_log.WriteDebug("Symbolic link to a folder not followed: " + support::JoinPath(folder, name));
        }
    }
    for (const std::string& name : listing.folders) {
        const std::string path = support::JoinPath(folder, name);
        // A destination or temp folder inside the source tree holds this program's own output.
        if (!IsOwnOutput(path)) {
            ScanFolder(path);
        }
        if (m_stopRequested) {
            return;
        }
    }
}

void MigrationEngine::HandleSelectedFile(const std::string& sourcePath, const std::string& name)
{
    std::error_code error;
    try {
        error = Guarded([&] {
            if (!IsCompressedProfile(m_state.FileFilter)) {
                return MigratePlainImage(sourcePath);
            }
            // Decompression runs in this process, so the disc's file is read as it is, without a
            // staged copy in the work folder. The predecoder may have decoded it already while the
            // file before it was decoded here. Otherwise it takes up the next file now, so that the
            // two decode at once, and this one is decoded here: a file that fits in memory is read
            // whole, which is where a failure to read it is told; a larger one streams.
            std::unique_ptr<Predecoder::Result> predecoded = m_predecoder.Take(sourcePath);
            if (!predecoded && !m_nextCompressed.empty()) {
                m_predecoder.Start(m_nextCompressed);
            }
            std::error_code read;
            support::InputFile source;
            CompressedInput input;
            if (predecoded) {
                input = {&*predecoded->file, predecoded->Compressed(), predecoded.get()};
            } else if (!(read = source.Open(sourcePath))) {
                input.file = &source;
                std::size_t length = 0;
                if (source.SizeAtOpen() <= WholeInputLimit && !(read = source.ReadRest(m_compressed, length))) {
                    input.whole = std::string_view(m_compressed.data(), length);
                }
            }
            if (!read) {
                m_record.bytesRead = m_record.size.value_or(0);
                MigrateCompressedImage(input, sourcePath, name);
            }
            m_predecoder.Recycle(std::move(predecoded));
            return read;
        });
    } catch (const std::exception& e) {
        // The file's error boundary: whatever went wrong, one line and on to the next file.
        m_log.WriteError(-1, e.what(), texts::SourceScanFolder, m_state.CurrentFileName);
        ++m_state.FailedCount;
        m_record.error = e.what();
        return;
    }
    if (error) {
        LogFileError(error, ErrorExtra::FileName);
    }
}

void MigrationEngine::LogFileError(const std::error_code& error, ErrorExtra extra)
{
    // Conversion and quarantine name the file only for errors the system reports; their own (-1)
    // messages stand alone. The walk names it always.
    const int number = support::ErrorNumber(error);
    const bool named = extra == ErrorExtra::FileName || number != -1;
    m_log.WriteError(number, support::ErrorDescription(error), texts::SourceScanFolder,
        named ? m_state.CurrentFileName : std::string());
    ++m_state.FailedCount;
    if (m_record.error.empty()) {
        m_record.error = support::ErrorDescription(error);
    }
}

std::string MigrationEngine::DestinationPath()
{
    return m_host.DestText() + "/" + NextUniqueName() + ".dcm";
}

std::error_code MigrationEngine::CommitUnique(support::AtomicFile& file)
{
    // Never over an existing file: the destination may hold earlier discs' images. A name that is
    // taken after all is replaced by a fresh one.
    std::error_code error = file.Commit(support::Replace::Never);
    for (int attempt = 1; error == std::errc::file_exists && attempt < UniqueNameAttempts; ++attempt) {
        error = file.CommitAs(DestinationPath(), support::Replace::Never);
    }
    return error;
}

std::error_code MigrationEngine::CopyToDestination(
    const std::string& sourcePath, const std::string& target, support::Sha256* digest)
{
    support::AtomicFile out;
    // A large image takes a while: the window keeps answering during it.
    if (auto error = out.CreateAsCopy(sourcePath, target, digest, [this] { m_host.ProcessPendingMessages(); })) {
        return error;
    }
    if (auto error = CommitUnique(out)) {
        return error;
    }
    m_record.writtenFile = support::NameOf(out.Target());
    m_record.bytesWritten = out.BytesWritten();
    return {};
}

std::error_code MigrationEngine::MigratePlainImage(const std::string& sourcePath)
{
    m_state.WorkPath = DestinationPath();
    if (SkippedByDotRule(m_state.RunPacs, m_state.CurrentFileName)) {
        ++m_state.SkippedCount;
        m_record.selected = false;
        m_record.notSelectedBecause = "dot rule";
        m_record.outcome = Outcome::Skipped;
        return {};
    }
    support::Sha256 digest;
    if (auto error = CopyToDestination(sourcePath, m_state.WorkPath, &digest)) {
        return error;
    }
    // The bytes read are the bytes written.
    m_record.sourceSha256 = m_record.writtenSha256 = digest.Finish();
    m_record.bytesRead = m_record.bytesWritten;
    Migrated();
    m_host.ProcessPendingMessages();
    return {};
}

void MigrationEngine::MigrateCompressedImage(
    const CompressedInput& input, const std::string& sourcePath, const std::string& name)
{
    if (auto error = Guarded([&] { return ConvertCompressedImage(input, sourcePath, name); })) {
        LogFileError(error, ErrorExtra::SystemErrorsOnly);
    }
}

std::error_code MigrationEngine::ConvertCompressedImage(
    const CompressedInput& input, const std::string& sourcePath, const std::string& name)
{
    // A "STARC" image goes to the destination as it is; a "Z" container passes through the cut on
    // its way, so that no container is ever held whole. Either way the decompressed bytes may not
    // pass the cap nor the free space of the folder that was made to receive them (for "STARC" the
    // work folder, where the image used to be decompressed): a small file that expands beyond is
    // refused as corrupt before it fills the disk.
    const bool starc = m_state.FileFilter == "STARC";
    support::AtomicFile out;
    ContainerCut cut;
    support::Sha256 digest;
    support::Sha256 sourceDigest;
    m_state.WorkPath = DestinationPath();
    std::error_code error = out.Create(m_state.WorkPath);
    if (error) {
        return error;
    }
    const ContainerCut::Sink write = [this, &out, &digest](std::string_view image) {
        digest.Update(image);
        const auto failed = out.Write(image);
        m_host.ProcessPendingMessages(); // a large image streams in pieces: the window keeps answering
        return failed;
    };
    const ByteSink sink = starc ? ByteSink(write) : [&](std::string_view bytes) { return cut.Feed(bytes, write); };
    const std::uint64_t bound = DecompressionBound(starc ? WorkFolder() : m_host.DestText());
    const Predecoder::Result* ahead = input.predecoded;
    if (input.whole) {
        sourceDigest.Update(*input.whole);
    }
    if (ahead != nullptr && ahead->error != DecompressError::TooLarge && ahead->decoded.size() <= bound) {
        // Decoded ahead to its end (or to the damage) within this run's cap: the same bytes and
        // verdict that decoding now would give, handed on as that would.
        error = ahead->decoded.empty() ? std::error_code {} : sink(ahead->decoded);
        if (!error) {
            error = ahead->error;
        }
    } else if (input.whole) {
        error = DecompressWhole(*input.whole, sink, bound);
    } else {
        error = DecompressFrom(*input.file, sink, bound, &sourceDigest);
    }
    if (error) {
        if (!IsDataError(error)) {
            return error; // the file system failed (a full disk, say), which says nothing about the image
        }
        if (DebugOn()) {
            m_log.WriteDebug(name + ": " + support::ErrorDescription(error));
        }
        out.Discard(); // a bomb's beginning must not take the room its quarantine copy needs
        RejectImage(sourcePath, name);
        return {};
    }
    m_record.sourceSha256 = sourceDigest.Finish();
    if (!starc && !cut.Found()) {
        out.Discard();
        RejectImage(sourcePath, name);
        return {};
    }
    out.SetModified(input.file->ModifiedAtOpen());
    if (auto failed = CommitUnique(out)) {
        return failed;
    }
    m_record.writtenFile = support::NameOf(out.Target());
    m_record.writtenSha256 = digest.Finish();
    m_record.bytesWritten = out.BytesWritten();
    Migrated();
    if (!starc && DebugOn()) {
        m_log.WriteDebug(name + " is migrated.");
    }
    return {};
}

void MigrationEngine::RejectImage(const std::string& sourcePath, const std::string& name)
{
    m_log.WriteError(-1, "File " + name + " could not be migrated.", texts::SourceCorrectImage, "");
    ++m_state.RejectedCount;
    m_record.outcome = Outcome::Rejected;
    if (auto error = Guarded([&] { return QuarantineImage(sourcePath, name); })) {
        LogFileError(error, ErrorExtra::SystemErrorsOnly);
    }
}

std::error_code MigrationEngine::QuarantineImage(const std::string& sourcePath, const std::string& name)
{
    const std::string folder = m_host.DestText() + "/" + std::string(texts::QuarantineFolder) + "/";
    if (!support::FolderExists(folder)) {
        if (auto error = support::CreateFolder(folder); error && error != std::errc::file_exists) {
            return error;
        }
    }
    // The source file as it came from the disc, under "<stem>.err", "<stem>2.err", "<stem>3.err" ...
    const std::string stem = folder + BaseName(name);
    std::error_code error = std::make_error_code(std::errc::file_exists);
    for (int number = 1; error == std::errc::file_exists && number <= MaxQuarantineNumber; ++number) {
        const std::string target = stem + (number == 1 ? std::string() : std::to_string(number)) + ".err";
        if (!support::PathExists(target)) {
            support::Sha256 digest;
            error = support::CopyFileAtomic(sourcePath, target, support::Replace::Never, &digest);
            if (!error) {
                m_record.writtenFile = std::string(texts::QuarantineFolder) + "/" + support::NameOf(target);
                // The copy is the source, byte for byte.
                m_record.writtenSha256 = m_record.sourceSha256 = digest.Finish();
                m_record.bytesWritten = m_record.size.value_or(0);
            }
        }
    }
    return error;
}

void MigrationEngine::Migrated()
{
    ++m_state.MigratedCount;
    m_record.outcome = Outcome::Migrated;
    // Parsed on the background thread while the run goes on with the next file; the report waits.
    m_record.dicom = support::Background::Instance().Run(
        [path = m_host.DestText() + "/" + m_record.writtenFile] { return CheckDicomFile(path); });
}

std::string MigrationEngine::RelativePath(const std::string& path) const
{
    if (path.size() > m_sourceRoot.size() + 1 && path.starts_with(m_sourceRoot) && path[m_sourceRoot.size()] == '/') {
        return path.substr(m_sourceRoot.size() + 1);
    }
    return path == m_sourceRoot ? "." : path;
}

std::string MigrationEngine::NextUniqueName()
{
    if (!m_names) {
        m_names = std::make_unique<UniqueNameSource>();
    }
    return m_names->Next();
}

} // namespace engine
