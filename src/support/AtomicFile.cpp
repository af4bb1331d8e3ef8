#include "support/AtomicFile.h"

#include <cstdio>
#include <mutex>
#include <random>
#include <set>

#include "support/FileSystem.h"
#include "support/NativeFile.h"
#include "support/ProcessWatch.h"
#include "support/Sha256.h"

namespace support {

namespace {

std::string RandomHex()
{
    thread_local std::mt19937_64 generator {std::random_device {}()};
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(generator()));
    return text;
}

// Temporary names carry the writing process's tag, so that a later run can tell the leftovers of a
// killed writer from the files a live one is still writing: ".zet-pelta-<host>-<pid>-<random>.part".
std::string TempFileName()
{
    return TempFilePrefix + ProcessTag() + "-" + RandomHex() + ".part";
}

// Folders that received a committed file and were not synced since.
struct CommittedFolders
{
    std::mutex lock;
    std::set<std::string> folders;
};

CommittedFolders& Committed()
{
    static CommittedFolders committed;
    return committed;
}

} // namespace

AtomicFile::~AtomicFile()
{
    Discard();
}

void AtomicFile::Discard()
{
    if (m_handle != NoFile && !m_closed) {
        native::Close(m_handle);
        m_closed = true;
    }
    if (!m_temp.empty()) {
        DeleteFile(m_temp);
        m_temp.clear();
    }
}

std::error_code AtomicFile::Create(const std::string& target)
{
    m_target = target;
    const std::string folder = FolderOf(target);
    for (int attempt = 0;; ++attempt) {
        const std::string temp = JoinPath(folder, TempFileName());
        const std::error_code error = native::CreateNew(temp, m_handle);
        if (m_handle != NoFile) {
            m_temp = temp; // removed again on failure, also when the create failed half-way
        }
        if (error != std::errc::file_exists || attempt == 16) {
            return error;
        }
    }
}

CopyResult AtomicFile::CreateAsCopy(
    const std::string& source, const std::string& target, Sha256& digest, const std::function<void()>& afterChunk)
{
    InputFile in;
    if (auto error = in.Open(source)) {
        return {error, true};
    }
    if (auto error = Create(target)) {
        return {error, false};
    }
    // One buffer for every copy the thread makes: allocating (and clearing) a fresh one per file cost
    // more than copying a small file.
    thread_local std::string buffer(FilePieceBytes, '\0');
    std::uint64_t copied = 0;
    for (std::size_t got = 0;; copied += got) {
        if (auto error = in.Read(buffer, got)) {
            return {error, true};
        }
        if (got == 0) {
            break;
        }
        if (auto error = Write(std::string_view(buffer).substr(0, got))) {
            return {error, false};
        }
        digest.Update(std::string_view(buffer).substr(0, got));
        if (afterChunk) {
            afterChunk();
        }
    }
    if (copied < in.SizeAtOpen()) {
        return {FileError::SizeChanged, true}; // the source shrank while it was read: a truncated copy
    }
    SetModified(in.ModifiedAtOpen());
    return {};
}

std::error_code AtomicFile::Write(std::string_view bytes)
{
    if (auto error = native::WriteAll(m_handle, bytes)) {
        return error;
    }
    if (m_head.size() < HeadBytes) {
        m_head.append(bytes.substr(0, HeadBytes - m_head.size()));
    }
    m_written += bytes.size();
    return {};
}

void AtomicFile::SetModified(const FileTime& time)
{
    native::SetModified(m_handle, time); // a lost time stamp is no reason to lose the image
}

std::error_code AtomicFile::Close()
{
    if (m_closed) {
        return {};
    }
    m_closed = true;
    // The bytes start on their way to the disk now, so that Sync later finds them written. Only a
    // start; what it cannot do, Sync does.
    native::StartWriteOut(m_handle);
    // Reported here too: on some file systems a failed write only shows at close.
    return native::Close(m_handle);
}

std::error_code AtomicFile::Sync()
{
    if (m_synced) {
        return {};
    }
    if (m_temp.empty()) {
        return std::make_error_code(std::errc::bad_file_descriptor);
    }
    if (auto error = m_closed ? native::SyncData(m_temp) : native::SyncData(m_handle)) {
        return error;
    }
    m_synced = true;
    return {};
}

std::error_code AtomicFile::Commit(Replace replace)
{
    if (auto error = Sync()) {
        return error;
    }
    if (auto error = Close()) {
        return error;
    }
    if (auto error = PublishFile(m_temp, m_target, replace)) {
        return error;
    }
    m_temp.clear();
    {
        const std::lock_guard lock(Committed().lock);
        Committed().folders.insert(FolderOf(m_target));
    }
    return {};
}

std::error_code SyncCommittedFolders()
{
    std::set<std::string> folders;
    {
        const std::lock_guard lock(Committed().lock);
        folders.swap(Committed().folders);
    }
    std::error_code first;
    for (const std::string& folder : folders) {
        if (auto error = SyncFolder(folder); error && !first) {
            first = error;
        }
    }
    return first;
}

std::error_code AtomicFile::CommitAs(const std::string& target, Replace replace)
{
    m_target = target;
    return Commit(replace);
}

std::error_code PublishFile(const std::string& temp, const std::string& target, Replace replace)
{
    return native::Rename(temp, target, replace);
}

std::size_t RemoveStaleTempFiles(const std::string& folder)
{
    FolderListing listing;
    if (ListFolder(folder, listing)) {
        return 0;
    }
    const std::string_view prefix = TempFilePrefix;
    std::size_t removed = 0;
    for (const std::string& name : listing.files) {
        if (name.starts_with(prefix) && name.ends_with(".part")
            && IsLeftoverOfDeadProcess(std::string_view(name).substr(prefix.size()))
            && !DeleteFile(JoinPath(folder, name))) {
            ++removed;
        }
    }
    return removed;
}

std::error_code CheckWritable(const std::string& folder)
{
    AtomicFile probe;
    std::error_code error = probe.Create(JoinPath(folder, std::string(TempFilePrefix) + "write-check"));
    if (!error) {
        error = probe.Write("x");
    }
    probe.Discard();
    return error;
}

} // namespace support
