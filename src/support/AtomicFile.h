#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "support/InputFile.h"

namespace support {

class Sha256;

enum class Replace { Allowed, Never };

// How a copy ended: its error, if any, and whether it was reading the source that failed (the copy's
// own writing otherwise).
struct CopyResult
{
    std::error_code error;
    bool sourceFailed = false;
};

// Temporary files of an unfinished write carry this prefix and the suffix ".part".
inline constexpr const char* TempFilePrefix = ".zet-pelta-";

// A file that appears under its name only complete: the bytes go to a hidden temporary file in the
// target's folder (named TempFilePrefix...".part"), which Commit renames to the target after every
// write succeeded and the bytes reached the disk (synced), so that a power cut cannot leave an empty
// or partial file under the target's name. The rename itself is durable once the folder is synced:
// Commit notes the folder for SyncCommittedFolders. Destroyed without a successful Commit, it removes
// the temporary file, so a failure (a full disk, an exception) leaves nothing behind. The file is
// created owner-readable and owner-writable whatever the process's umask.
//
// Many files are made durable together by closing each once it is written (which starts writing its
// bytes out), then syncing all, then committing all, then syncing their folders: the system then
// writes its journal about once for the lot instead of once per file (a rename between two syncs would
// make each sync write it again).
// Nothing when a file can be made in folder (a temporary one is made and removed, as an output is);
// else why not: a read-only file system, no permission, a full disk.
std::error_code CheckWritable(const std::string& folder);

class AtomicFile
{
public:
    AtomicFile() = default;
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    std::error_code Create(const std::string& target);
    // Create, filled with a copy of the regular file at source and given its modification time. A
    // source that ends before its size at opening reports FileError::SizeChanged. The bytes pass
    // through the digest on their way, and afterChunk is called after every MiB of them, so that a
    // large file does not hold up the caller.
    CopyResult CreateAsCopy(const std::string& source, const std::string& target, Sha256& digest,
        const std::function<void()>& afterChunk = {});
    std::error_code Write(std::string_view bytes);
    void SetModified(const FileTime& time);
    // Gives the file back to the system once every byte is written; a failed write that only shows at closing
    // is told here. The file waits, under its temporary name, for Sync and Commit.
    std::error_code Close();
    // Makes the bytes written durable, once; Commit does it when it was not done.
    std::error_code Sync();
    // With Replace::Never an existing target stays and the result is std::errc::file_exists; the
    // temporary file then stays and may be committed under another name.
    std::error_code Commit(Replace replace);
    std::error_code CommitAs(const std::string& target, Replace replace);

    // Gives up the file now rather than at destruction, so its space is free for what follows.
    void Discard();

    std::uint64_t BytesWritten() const { return m_written; }
    // The first bytes written (up to HeadBytes): what the file is can be told without reading it again.
    std::string_view Head() const { return m_head; }
    static constexpr std::size_t HeadBytes = 4096;
    // The name the file has, or gets on Commit.
    const std::string& Target() const { return m_target; }
    // The temporary file's name until Commit.
    const std::string& TemporaryPath() const { return m_temp; }

private:
    FileHandle m_handle = NoFile;
    bool m_closed = false;
    bool m_synced = false;
    std::string m_target;
    std::string m_temp;
    std::string m_head;
    std::uint64_t m_written = 0;
};

// Syncs the folders that files were committed into since the last call, so that their names survive a
// power cut. Syncing a folder costs about what syncing a file does: callers do it in batches, before
// they count the files as written (a run before the report rows that name them are synced).
std::error_code SyncCommittedFolders();

// Renames the finished file at temp to target; without replacing, an existing target is an error
// (std::errc::file_exists), checked atomically where the file system allows it.
std::error_code PublishFile(const std::string& temp, const std::string& target, Replace replace);

// Removes from folder the temporary files that writers on this machine left when they were killed
// (their process no longer runs); files of live writers and of other machines stay. Returns how many
// went.
std::size_t RemoveStaleTempFiles(const std::string& folder);

} // namespace support
