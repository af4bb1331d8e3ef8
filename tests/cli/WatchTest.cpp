#include "common/TestKit.h"

#include <atomic>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <thread>

#include "cli/CliMain.h"
#include "engine/records/DiscJournal.h"
#include "support/Mounts.h"

// --watch in a mount namespace of the test's own: four discs mounted at the source folder one after
// the other (two folders, then two real ISO 9660 images through fuseiso), each migrated once, even
// while it stays mounted; Ctrl+C ends the wait. The eject request goes to a seam: no optical drive here.
TEST(Watch, EachDiscMountedUnderTheSourceIsMigratedOnceAndCtrlCEndsTheWait)
{
    ASSERT_TRUE(::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0)
        << "mounting discs needs a mount namespace of the test's own: run as root";
    TempDir root;
    for (const char* folder : {"prog", "src/cd", "dest", "temp"}) {
        MakeFolders(root / folder);
    }
    WriteFile(root / "disc1/A1", "a1");
    WriteFile(root / "disc1/sub/A2", "a2");
    WriteFile(root / "disc2/B1", "b1");
    for (const char* name : {"C1", "C2", "C3"}) {
        WriteFile(root / "disc3/" + name, name);
    }
    Filter("genisoimage -quiet -V ZETPELTA_3 -o '" + root / "disc3.iso' '" + root / "disc3'", "");
    // Another disc of the system, its files of the same names and sizes, and of the same label: only its
    // serial, the second it was made, tells it from disc3.
    for (const char* name : {"C1", "C2", "C3"}) {
        WriteFile(root / "disc4/" + name, std::string("D") + name[1]);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    Filter("genisoimage -quiet -V ZETPELTA_3 -o '" + root / "disc4.iso' '" + root / "disc4'", "");

    std::atomic<bool> interrupted {false};
    std::vector<std::string> ejected;
    std::ostringstream out, err;
    auto status = cli::ExitStatus::NotStarted;
    std::thread watch([&] {
        status = cli::RunCli({"--watch", "-q", "--pacs", "HIPAX", "--source", root / "src", "--dest", root / "dest",
                                 "--temp", root / "temp"},
            {root / "prog", out, err, false, 80, [&] { return interrupted.load(); },
                [&](const support::Mount& disc) {
                    ejected.push_back(disc.device);
                    return std::error_code {};
                },
                std::chrono::milliseconds(50)});
    });
    const auto waitFor = [&](std::size_t images) {
        const auto count = [&] { return std::ranges::count_if(Names(root / "dest"), IsDestinationName); };
        for (int i = 0; i < 600 && count() < static_cast<long>(images); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // several looks: not started again
        return static_cast<std::size_t>(count());
    };
    const std::string mountPoint = root / "src/cd";
    for (const auto& [disc, images] : {std::pair {"disc1", 2u}, {"disc2", 3u}}) {
        ASSERT_EQ(::mount((root / disc).c_str(), mountPoint.c_str(), nullptr, MS_BIND, nullptr), 0);
        EXPECT_EQ(waitFor(images), images) << disc;
        ASSERT_EQ(::umount2(mountPoint.c_str(), MNT_DETACH), 0);
    }
    for (const auto& [disc, images] : {std::pair {"disc3.iso", 6u}, {"disc4.iso", 9u}}) {
        Filter("fuseiso '" + root / disc + "' '" + mountPoint + "'", "");
        EXPECT_EQ(waitFor(images), images) << disc;
        Filter("fusermount -u '" + mountPoint + "'", "");
        // The watch looks at the empty drive, as between two discs: the next mount may get the same
        // mount and device numbers as this one.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    interrupted = true;
    watch.join();

    EXPECT_EQ(status, cli::ExitStatus::Completed) << err.str();
    EXPECT_TRUE(out.str().ends_with("Beendet.\n")) << out.str();
    EXPECT_TRUE(ejected.empty()) << "a folder and an image are left alone";
    EXPECT_EQ(err.str().find("bereits migriert"), std::string::npos) << "disc4 is not disc3: " << err.str();
    std::string labels;
    for (const engine::JournalRow& row : engine::ReadJournal(root / "prog/Logs/Runs")) {
        labels += row.label + "|" + row.serial + "|" + (row.stopped ? "yes" : "no") + ";";
    }
    // An ISO 9660 disc's serial is the time it was made, as its volume descriptor holds it.
    std::string expected = "||no;||no;";
    for (const char* disc : {"disc3.iso", "disc4.iso"}) {
        const std::string made = Filter("blkid -s UUID -o value '" + root / disc + "'", "");
        expected += "ZETPELTA_3|" + made.substr(0, made.find('\n')) + "|no;";
    }
    EXPECT_EQ(labels, expected);
    EXPECT_TRUE(support::IsOpticalDrive({1, "/media/cdrom", "iso9660", "/dev/sr0", "11:0", "/"}));
}

// A mounted disc holds its drive shut, so ejecting undoes every mount of that drive first, and only
// of that drive; anything but an optical drive is never unmounted. (No drive here: tmpfs mounts named
// after drives stand in, so the tray's request itself fails at the missing device.)
TEST(Watch, EjectingUnmountsEveryMountOfTheDriveAndNothingElse)
{
    ASSERT_TRUE(::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0)
        << "mounting needs a mount namespace of the test's own: run as root";
    TempDir root;
    for (const char* folder : {"cd", "cd-again", "other-drive", "folder", "bound"}) {
        MakeFolders(root / folder);
    }
    const auto mountAs = [&](const char* device, const char* folder) {
        ASSERT_EQ(::mount(device, (root / folder).c_str(), "tmpfs", 0, "size=1m"), 0) << folder;
    };
    mountAs("/dev/sr-zp-test", "cd");
    mountAs("/dev/sr-zp-test", "cd-again");
    mountAs("/dev/sr-zp-other", "other-drive");
    ASSERT_EQ(::mount((root / "folder").c_str(), (root / "bound").c_str(), nullptr, MS_BIND, nullptr), 0);
    const auto mountedAt = [&](const char* folder) {
        const auto mount = support::MountOf(root / folder);
        return mount && mount->mountPoint == fs::canonical(root / folder).string();
    };

    const auto bound = support::MountOf(root / "bound");
    ASSERT_TRUE(bound);
    EXPECT_EQ(support::EjectDisc(*bound), std::errc::not_supported);
    EXPECT_TRUE(mountedAt("bound")) << "a folder's mount, and its device's other mounts, stay";

    const auto disc = support::MountOf(root / "cd");
    ASSERT_TRUE(disc && support::IsOpticalDrive(*disc));
    EXPECT_EQ(support::EjectDisc(*disc), std::errc::no_such_file_or_directory) << "the drive is asked last";
    EXPECT_FALSE(mountedAt("cd") || mountedAt("cd-again"));
    EXPECT_TRUE(mountedAt("other-drive") && mountedAt("bound"));
    ::umount2((root / "other-drive").c_str(), MNT_DETACH);
    ::umount2((root / "bound").c_str(), MNT_DETACH);
}
