#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "common/TempTree.h"
#include "support/FileSystem.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

mode_t ModeOf(const std::string& path)
{
    struct stat st
    { };
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

} // namespace

TEST(CopyFileAtomic, CopiesBytesAsAWritableFileWithTheSourceTime)
{
    TempDir dir;
    std::string bytes(3 << 20, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7 + (i >> 13));
    }
    WriteFile(dir / "disc/IMG 1", bytes);
    ::chmod((dir / "disc/IMG 1").c_str(), 0444); // as on a CD
    const auto time = fs::last_write_time(dir / "disc/IMG 1") - std::chrono::hours(24 * 400);
    fs::last_write_time(dir / "disc/IMG 1", time);
    MakeFolders(dir / "dest");

    ASSERT_FALSE(support::CopyFileAtomic(dir / "disc/IMG 1", dir / "dest/a.dcm", support::Replace::Never));
    EXPECT_EQ(ReadFile(dir / "dest/a.dcm"), bytes);
    EXPECT_EQ(ModeOf(dir / "dest/a.dcm") & 0600, 0600u);
    EXPECT_EQ(fs::last_write_time(dir / "dest/a.dcm"), time);
    EXPECT_EQ(Names(dir / "dest"), std::vector<std::string> {"a.dcm"});
}

TEST(CopyFileAtomic, ReplacesOnlyWhenAllowed)
{
    TempDir dir;
    WriteFile(dir / "new", "new");
    WriteFile(dir / "old", "old");
    EXPECT_EQ(support::CopyFileAtomic(dir / "new", dir / "old", support::Replace::Never), std::errc::file_exists);
    EXPECT_EQ(ReadFile(dir / "old"), "old");
    EXPECT_FALSE(support::CopyFileAtomic(dir / "new", dir / "old", support::Replace::Allowed));
    EXPECT_EQ(ReadFile(dir / "old"), "new");
    EXPECT_EQ(Names(dir.Path()), (std::vector<std::string> {"new", "old"}));
}

TEST(CopyFileAtomic, FailuresLeaveNoTargetAndNoTemporaryFile)
{
    TempDir dir;
    MakeFolders(dir / "dest");
    WriteFile(dir / "big", std::string(256 * 1024, 'x'));
    ::mkfifo((dir / "fifo").c_str(), 0644);
    fs::create_symlink(dir / "gone", dir / "dangling");

    {
        const FileSizeLimit fullDisk(100 * 1024);
        EXPECT_EQ(
            support::CopyFileAtomic(dir / "big", dir / "dest/big", support::Replace::Never), std::errc::file_too_large);
    }
    const auto notRegular = support::CopyFileAtomic(dir / "fifo", dir / "dest/fifo", support::Replace::Never);
    EXPECT_EQ(notRegular, support::FileError::NotARegularFile);
    EXPECT_EQ(support::ErrorNumber(notRegular), -1);
    EXPECT_EQ(support::ErrorDescription(notRegular), "Not a regular file.");

    const auto dangling = support::CopyFileAtomic(dir / "dangling", dir / "dest/x", support::Replace::Never);
    EXPECT_EQ(support::ErrorNumber(dangling), ENOENT);
    EXPECT_EQ(support::ErrorDescription(dangling), "No such file or directory");

    EXPECT_EQ(support::CopyFileAtomic(dir / "big", dir / "no/folder/x", support::Replace::Never),
        std::errc::no_such_file_or_directory);
    EXPECT_TRUE(Names(dir / "dest").empty());
}

TEST(ListFolder, SortsAndKeepsLinkedFoldersApart)
{
    TempDir dir;
    WriteFile(dir / "f/b", "");
    WriteFile(dir / "f/A", "");
    WriteFile(dir / "f/sub/x", "");
    MakeFolders(dir / "f/empty");
    fs::create_symlink(dir / "f/sub", dir / "f/link-to-sub");
    fs::create_symlink(dir / "f/b", dir / "f/link-to-file");
    fs::create_symlink(dir / "nowhere", dir / "f/dangling");
    ::mkfifo((dir / "f/fifo").c_str(), 0644);

    support::FolderListing listing;
    ASSERT_FALSE(support::ListFolder(dir / "f", listing));
    EXPECT_EQ(listing.files, (std::vector<std::string> {"A", "b", "dangling", "fifo", "link-to-file"}));
    EXPECT_EQ(listing.folders, (std::vector<std::string> {"empty", "sub"}));
    EXPECT_EQ(listing.linkedFolders, std::vector<std::string> {"link-to-sub"});

    EXPECT_EQ(support::ListFolder(dir / "missing", listing), std::errc::no_such_file_or_directory);
    EXPECT_EQ(support::ListFolder(dir / "f/b", listing), std::errc::not_a_directory);
}

TEST(RemoveTree, NeverFollowsSymbolicLinks)
{
    TempDir dir;
    WriteFile(dir / "keep/precious", "x");
    WriteFile(dir / "work/staged", "y");
    fs::create_symlink(dir / "keep", dir / "work/link");
    EXPECT_FALSE(support::RemoveTree(dir / "work"));
    EXPECT_FALSE(fs::exists(dir / "work"));
    EXPECT_EQ(ReadFile(dir / "keep/precious"), "x");

    fs::create_symlink(dir / "keep", dir / "linked-work");
    EXPECT_FALSE(support::IsRealFolder(dir / "linked-work"));
    EXPECT_TRUE(support::FolderExists(dir / "linked-work"));
}

TEST(Paths, ProgramFolderIsTheExecutablesFolderNotTheWorkingDirectory)
{
    TempDir elsewhere;
    const auto before = fs::current_path();
    fs::current_path(elsewhere.Path());
    const std::string folder = support::ProgramFolder();
    fs::current_path(before);
    EXPECT_EQ(fs::path(folder), fs::canonical("/proc/self/exe").parent_path());

    EXPECT_EQ(support::JoinPath("/src", "a"), "/src/a");
    EXPECT_EQ(support::JoinPath("/src/", "a"), "/src/a");
    EXPECT_FALSE(support::FolderExists(""));
}
