#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "support/AtomicFile.h"

// The file-system service of both programs. Paths are plain byte strings and are never converted,
// so names that are not valid UTF-8 survive unchanged. Failures come back as std::error_code;
// nothing here throws.
namespace support {

// Failures the program detects itself, as opposed to the operating system's errno values.
enum class FileError {
    NotARegularFile = 1,
    SizeChanged,
};
const std::error_category& FileErrorCategory();
std::error_code make_error_code(FileError e);

// An English description of an error whatever LC_MESSAGES says (the logs are English).
std::string ErrorDescription(const std::error_code& error);
// errno as an error code, for the call that just failed.
std::error_code LastError();

// The number a log line shows: the operating system's errno value, or -1 for a failure the program
// detected itself.
int ErrorNumber(const std::error_code& error);

// The folder that holds the running executable, from the executable's own path; never the working
// directory. Settings.ini and Logs/ live there.
std::string ProgramFolder();

// folder & "/" & name, without doubling a separator that the folder already ends with.
std::string JoinPath(const std::string& folder, const std::string& name);
// A path as the system's own programs show it to a user: with "\" between the names on Windows
// (where "/" works in every call but reads as foreign), as it is elsewhere.
std::string ShownPath(std::string path);
// Paths are UTF-8 strings everywhere above the platform files. These convert them to and from the
// standard library's paths, which hold the platform's own encoding (UTF-16 on some systems).
std::filesystem::path PathOf(std::string_view utf8);
std::string Utf8Of(const std::filesystem::path& path);
// The path made absolute against the working folder, and normalised; as it is when that fails.
std::string AbsolutePath(const std::string& path);

// True for a folder, also one reached through a symbolic link; false for an empty path.
bool FolderExists(const std::string& path);
// Nothing when path is a folder now; else why not (it vanished, or is something else).
std::error_code CheckFolder(const std::string& path);
// True for a folder that is not itself a symbolic link.
bool IsRealFolder(const std::string& path);
// True for anything under that name, a dangling symbolic link included.
bool PathExists(const std::string& path);
bool IsOwnerWritable(const std::string& path);
// Bytes an unprivileged writer may still put on the file system that holds path; nothing when that
// cannot be asked.
std::optional<std::uint64_t> FreeSpace(const std::string& path);
// The size of the file at path (links followed); nothing when it cannot be had.
std::optional<std::uint64_t> FileSize(const std::string& path);
// The last component of a path, and the folder it lies in ("." for a bare name).
std::string NameOf(const std::string& path);
std::string FolderOf(const std::string& path);

// The whole content of a regular file. Anything else (a folder, a FIFO) is refused with
// FileError::NotARegularFile rather than read.
std::error_code ReadWholeFile(const std::string& path, std::string& content);

// Creates one folder level; an existing folder is an error (std::errc::file_exists).
std::error_code CreateFolder(const std::string& path);
// Deletes a folder with everything in it. Symbolic links inside are removed, never followed.
std::error_code RemoveTree(const std::string& path);
std::error_code DeleteFile(const std::string& path);
// Makes the folder's entries (a file created or renamed in it) durable.
std::error_code SyncFolder(const std::string& path);
// Writes out all that the file system holding the folder has waiting, in one go, with one commit of its
// journal, where a sync per file would commit it once per file and hold up every other change of the
// file system meanwhile. Where the system has no such call, nothing is done. Errors of single files are
// told by their own sync afterwards, which then finds little left to do.
std::error_code SyncFileSystem(const std::string& folder);
// Removes a folder only when it is empty (std::errc::directory_not_empty otherwise).
std::error_code RemoveEmptyFolder(const std::string& path);

// One folder's entries, each list sorted by name (byte order). Symbolic links to folders are kept
// apart so that a walk can refuse to descend into them (a link cycle would never end); every other
// entry that is not a folder counts as a file, including dangling links and special files, which then
// fail loudly when copied instead of vanishing from the count.
struct FolderListing
{
    std::vector<std::string> files;
    std::vector<std::string> folders;
    std::vector<std::string> linkedFolders;
};
std::error_code ListFolder(const std::string& path, FolderListing& listing);

// Device and inode: tells whether two paths name the same folder.
struct FileIdentity
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> IdentityOf(const std::string& path);

// Which file is at path, its size and when it was last changed: a file replaced by another, or
// changed, has another stamp.
struct FileStamp
{
    FileIdentity identity;
    std::uint64_t size = 0;
    std::int64_t modifiedNanoseconds = 0;
    bool operator==(const FileStamp&) const = default;
};
std::optional<FileStamp> StampOf(const std::string& path);

// Copies a regular file through an AtomicFile: the target appears only complete, owner-writable
// whatever the source's mode (a disc's files are read-only), with the source's modification time.
// With Replace::Never an existing target is left alone and the result is std::errc::file_exists.
std::error_code CopyFileAtomic(const std::string& source, const std::string& target, Replace replace, Sha256& digest);

} // namespace support

template <> struct std::is_error_code_enum<support::FileError> : std::true_type
{ };
