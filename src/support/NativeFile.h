#pragma once

#include <string>
#include <string_view>
#include <system_error>

#include "support/AtomicFile.h"
#include "support/InputFile.h"

// The raw file calls that differ between systems, beneath AtomicFile: each platform implements them
// in a file of its own (NativeFilePosix.cpp here).
namespace support::native {

// Creates a new file for writing, readable and writable by its owner whatever the process's umask;
// an existing file of that name is std::errc::file_exists.
std::error_code CreateNew(const std::string& path, FileHandle& handle);
// Writes every byte, or fails.
std::error_code WriteAll(FileHandle handle, std::string_view bytes);
// Gives the file the time; a time that cannot be set is let go (no reason to lose the file).
void SetModified(FileHandle handle, const FileTime& time);
// Starts writing the file's bytes out to the disk, without waiting for them.
void StartWriteOut(FileHandle handle);
// Closes the file; a write that failed only shows here on some file systems.
std::error_code Close(FileHandle handle);
// Waits until the bytes of the open file, or of the closed file at path, are on the disk.
std::error_code SyncData(FileHandle handle);
std::error_code SyncData(const std::string& path);
// Renames from to to; with Replace::Never an existing to is std::errc::file_exists, checked
// atomically where the file system allows it.
std::error_code Rename(const std::string& from, const std::string& to, Replace replace);

} // namespace support::native
