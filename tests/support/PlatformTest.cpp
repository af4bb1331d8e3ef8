// What every platform's files must do alike, without calls of any one system, so that the same
// test runs on each.
#include "common/TestKit.h"

#include "support/FileLock.h"
#include "support/FileSystem.h"
#include "support/InputFile.h"
#include "support/Sha256.h"

// Paths are UTF-8 above the platform files, whatever the system's own encoding: names with umlauts
// and characters beyond 16 bits come back from every call as they went in, and a tree of any depth goes.
TEST(FileSystem, PathsAreUtf8InEveryCall)
{
    TempDir dir;
    const std::string folder = dir / "Röntgen Ärztin", name = "Bild ß \xF0\x9F\x98\x80.dcm";
    ASSERT_FALSE(support::CreateFolder(folder));
    WriteFile(dir / "src", "bytes");
    support::Sha256 digest;
    ASSERT_FALSE(support::CopyFileAtomic(dir / "src", support::JoinPath(folder, name), support::Replace::Never, digest));
    support::FolderListing listing;
    ASSERT_FALSE(support::ListFolder(folder, listing));
    EXPECT_EQ(listing.files, std::vector<std::string> {name});
    EXPECT_EQ(support::FileSize(support::JoinPath(folder, name)), 5u);
    EXPECT_EQ(support::Utf8Of(support::PathOf(folder)), folder);
    const fs::path before = fs::current_path();
    fs::current_path(dir.Path());
    // The system's own separators; a last one after ".." is there on some systems only.
    std::string absolute = support::AbsolutePath("Röntgen Ärztin/./x/..");
    absolute.erase(absolute.find_last_not_of("/\\") + 1);
    EXPECT_EQ(absolute, support::Utf8Of(fs::canonical(support::PathOf(folder))));
    fs::current_path(before);
    // A tree deeper than Windows' 260 characters, as a run's work folder in a deep temp folder is.
    std::string deep = folder;
    for (int level = 0; level < 12; ++level) {
        ASSERT_FALSE(support::CreateFolder(deep = support::JoinPath(deep, "Ärztehaus Übersicht ß Ω 中文")));
    }
    WriteFile(support::JoinPath(deep, name), "bytes");
    EXPECT_FALSE(support::RemoveTree(folder) || fs::exists(support::PathOf(folder)));
}

// Locks exclude every other holder, also in the same process, until unlocked; a file that changes
// after it was opened is told; a listing of a file says it is none.
TEST(FileSystem, LocksChangesAndListingsAreTheSameOnEverySystem)
{
    TempDir dir;
    const std::string locks = dir / "locks";
    support::FileLock first, second;
    ASSERT_FALSE(first.Lock(locks, 20, support::FileLock::Mode::Try));
    EXPECT_EQ(second.Lock(locks, 20, support::FileLock::Mode::Try), std::errc::resource_unavailable_try_again);
    EXPECT_FALSE(second.Lock(locks, 21, support::FileLock::Mode::Try)) << "another slot is free";
    first.Unlock();
    EXPECT_EQ(first.Lock(locks, 21, support::FileLock::Mode::Try), std::errc::resource_unavailable_try_again);
    EXPECT_FALSE(first.Lock(locks, 20, support::FileLock::Mode::Try));

    WriteFile(dir / "image", "12345");
    support::InputFile in;
    ASSERT_FALSE(in.Open(dir / "image"));
    EXPECT_TRUE(in.IsStill(dir / "image"));
    WriteFile(dir / "image", "123456");
    EXPECT_FALSE(in.IsStill(dir / "image"));
    support::FolderListing listing;
    EXPECT_EQ(support::ListFolder(dir / "image", listing), std::errc::not_a_directory);
    EXPECT_EQ(in.Open(dir.Path()), support::FileError::NotARegularFile);
}
