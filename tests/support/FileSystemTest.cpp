#include "common/TestKit.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstdlib>

#include "support/FileSystem.h"
#include "support/Places.h"
#include "support/Sha256.h"

TEST(CopyFileAtomic, AWritableCopyWithTheSourceTimeThatNeverReplacesUnlessAllowed)
{
    TempDir dir;
    const std::string bytes = RandomBytes(3000000, 3);
    WriteFile(dir / "disc/IMG 1", bytes);
    fs::permissions(dir / "disc/IMG 1", fs::perms::all, fs::perm_options::remove); // read-only, as on a CD
    fs::permissions(dir / "disc/IMG 1", fs::perms::owner_read, fs::perm_options::add);
    const auto time = fs::last_write_time(dir / "disc/IMG 1") - std::chrono::hours(24 * 400);
    fs::last_write_time(dir / "disc/IMG 1", time);
    WriteFile(dir / "dest/old", "old");

    support::Sha256 digest, expected;
#ifndef _WIN32
    const mode_t umask = ::umask(0277); // even where new files would not be the owner's to write
#endif
    ASSERT_FALSE(support::CopyFileAtomic(dir / "disc/IMG 1", dir / "dest/a.dcm", support::Replace::Never, digest));
#ifndef _WIN32
    ::umask(umask);
#endif
    expected.Update(bytes);
    EXPECT_EQ(digest.HexDigest(), expected.HexDigest()) << "the bytes pass the digest on their way";
    EXPECT_TRUE(ReadFile(dir / "dest/a.dcm") == bytes && fs::last_write_time(dir / "dest/a.dcm") == time);
    EXPECT_EQ(fs::status(dir / "dest/a.dcm").permissions() & fs::perms::owner_write, fs::perms::owner_write);
    EXPECT_EQ(support::CopyFileAtomic(dir / "dest/a.dcm", dir / "dest/old", support::Replace::Never, digest),
        std::errc::file_exists);
    EXPECT_EQ(ReadFile(dir / "dest/old"), "old");
    EXPECT_FALSE(support::CopyFileAtomic(dir / "dest/a.dcm", dir / "dest/old", support::Replace::Allowed, digest));
    EXPECT_EQ(ReadFile(dir / "dest/old"), bytes);
    EXPECT_EQ(Names(dir / "dest"), (std::vector<std::string> {"a.dcm", "old"})) << "no temporary file left";
}

#ifndef _WIN32 // links, FIFOs, the program's path in /proc and the places of an installed program on Linux
// Listings keep links to folders apart (a walk must not follow them) and count everything else that is
// no folder as a file, so that a dangling link or a FIFO fails loudly when copied instead of vanishing.
TEST(FileSystem, ListingsAndRemovalsNeverFollowLinks)
{
    TempDir dir;
    for (const char* name : {"f/b", "f/A", "f/sub/x", "keep/precious"}) {
        WriteFile(dir / name, name);
    }
    fs::create_symlink(dir / "f/sub", dir / "f/link-to-sub");
    fs::create_symlink(dir / "nowhere", dir / "f/dangling");
    fs::create_symlink(dir / "keep", dir / "f/sub/link-out");
    ::mkfifo((dir / "f/fifo").c_str(), 0644);
    support::FolderListing listing;
    ASSERT_FALSE(support::ListFolder(dir / "f", listing));
    EXPECT_EQ(listing.files, (std::vector<std::string> {"A", "b", "dangling", "fifo"}));
    EXPECT_EQ(listing.folders, std::vector<std::string> {"sub"});
    EXPECT_EQ(listing.linkedFolders, std::vector<std::string> {"link-to-sub"});
    EXPECT_EQ(support::ListFolder(dir / "f/b", listing), std::errc::not_a_directory);
    EXPECT_FALSE(support::RemoveTree(dir / "f") || fs::exists(dir / "f"));
    EXPECT_EQ(ReadFile(dir / "keep/precious"), "keep/precious");
    EXPECT_EQ(fs::path(support::ProgramFolder()), fs::canonical("/proc/self/exe").parent_path());
}

TEST(Places, AFolderOfItsOwnKeepsEverythingAnInstalledProgramUsesTheUsersFolders)
{
    const TempDir dir;
    MakeFolders(dir / "copy");
    MakeFolders(dir / "usr/bin");
    MakeFolders(dir / "usr/share/applications");
    WriteFile(dir / "usr/share/applications/zet-pelta.desktop", "[Desktop Entry]\n");
    const auto places = [&](const char* folder, const char* config, const char* state) {
        ::setenv("HOME", (dir / "home").c_str(), 1);
        for (const auto& [name, value] : {std::pair {"XDG_CONFIG_HOME", config}, {"XDG_STATE_HOME", state}}) {
            value == nullptr ? ::unsetenv(name) : ::setenv(name, value, 1);
        }
        const support::Places found = support::PlacesOf(dir / folder);
        return found.settings + " " + found.logs;
    };
    EXPECT_EQ(places("copy", "/x", "/y"), dir / "copy " + dir / "copy");
    const std::string config = dir / "config", state = dir / "state";
    EXPECT_EQ(places("usr/bin", config.c_str(), state.c_str()), config + "/zet-pelta " + state + "/zet-pelta");
    // Unset or relative variables give the defaults below the home folder.
    EXPECT_EQ(
        places("usr/bin", nullptr, "relative"), dir / "home/.config/zet-pelta " + dir / "home/.local/state/zet-pelta");
    EXPECT_FALSE(fs::exists(dir / "home")) << "finding the places writes nothing (--help, --version)";
    support::MakePlaceFolders(support::PlacesOf(dir / "usr/bin"));
    EXPECT_TRUE(fs::is_directory(dir / "home/.local/state/zet-pelta"));
    EXPECT_EQ(fs::status(dir / "home/.config/zet-pelta").permissions(), fs::perms::owner_all) << "the user's own";
}
#endif
