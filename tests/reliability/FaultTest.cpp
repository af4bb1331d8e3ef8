// Faults of the machine around a run: injected failures of file calls, full disks, logs that cannot
// be written, unreadable and vanishing files, links, awkward names, a killed run, two runs at once.
// Every case ends with the same check (ExpectInvariant): nothing selected is lost without a trace,
// nothing partial or wrong is left, the summary is true and the source is untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "Reliability.h"
#include "common/TempTree.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const char* const Systems[] = {"HIPAX", "GEMED", "Arzt und Praxis", "STARC"};

} // namespace

TEST(Faults, InjectedFileCallFailuresLoseNothing)
{
    struct Case
    {
        const char* faults;
        bool allMigrated; // the failure is one the program works around
        enum { All, Compressed } only = All; // only compressed images are ever quarantined
    };
    // Every close of a temporary file fails: with the ones of rejected images (which are discarded,
    // so their close does not matter) in the count, a single failing close might strike none of the
    // images that are kept.
    const Case cases[] = {
        {"write:ENOSPC:.part:1:1", false},
        {"write:ENOSPC:.part:3:1", false},
        {"write:EIO:.part:0:0", false},
        {"write:short:.part:0:0", true},
        {"close:EIO:.part:0:0", false},
        {"renameat2:EIO:.dcm:1:1", false},
        {"renameat2:EINVAL::0:0;link:EPERM::0:0", true},
        {"read:EIO:/src/:3:0", false}, // every read: one that fails ahead of the file's turn is retried
        {"read:short:/src/:0:0", true},
        {"open:EACCES:/src/PAT1:0:0", false},
        {"write:ENOSPC:BadObjects:0:0", false, Case::Compressed},
    };
    for (const char* pacs : Systems) {
        const bool compressed = std::string(pacs) == "Arzt und Praxis" || std::string(pacs) == "STARC";
        for (const Case& c : cases) {
            if (c.only == Case::Compressed && !compressed) {
                continue;
            }
            SCOPED_TRACE(std::string(pacs) + " with " + c.faults);
            Prepared run(pacs, 8, 6000);
            const RunResult result = RunCli(run.place, pacs, {.faults = c.faults});
            ExpectInvariant(run.place, run.disc, result, run.before);
            const Tally tally = Count(run.place, run.disc);
            if (c.allMigrated) {
                EXPECT_EQ(tally.missing, 0);
            } else {
                // The fault did strike: a line beyond the disc's own rejected images says so.
                const auto log = LogLines(run.place.ErrorLog());
                EXPECT_TRUE(std::any_of(log.begin(), log.end(),
                    [](const std::string& line) { return line.find(" - CorrectImage") == std::string::npos; }))
                    << result.out << result.err;
            }
            // A rerun without the fault brings every image that failed.
            const RunResult again = RunCli(run.place, pacs);
            ASSERT_FALSE(again.hung);
            EXPECT_EQ(Count(run.place, run.disc).missing, 0);
        }
    }
}

TEST(Faults, FullDisksForEveryFolder)
{
    // Small file systems need a mount namespace of the test's own: the suite runs as root, as test.sh does.
    ASSERT_TRUE(PrivateMounts()) << "no mount namespace: run the reliability tests as root";
    struct Case
    {
        const char* folder; // which folder gets a small file system
        const char* size;
    };
    const Case cases[] = {{"dest", "40k"}, {"temp", "24k"}, {"dest/BadObjects", "4k"}};
    for (const char* pacs : Systems) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(pacs) + ", full " + c.folder);
            Prepared run(pacs, 10, 9000);
            const std::string mountPoint = run.place.root / c.folder;
            MountTmpfs(mountPoint, c.size);
            const RunResult result = RunCli(run.place, pacs);
            ExpectInvariant(run.place, run.disc, result, run.before);
            EXPECT_TRUE(LogLines(run.place.ErrorLog()).size() > 0 || Count(run.place, run.disc).missing == 0);

            // With room again, a rerun brings what did not fit.
            ASSERT_EQ(::mount("tmpfs", mountPoint.c_str(), "tmpfs", MS_REMOUNT, "size=16m"), 0);
            const RunResult again = RunCli(run.place, pacs);
            ASSERT_FALSE(again.hung);
            EXPECT_EQ(Count(run.place, run.disc).missing, 0);
            ::umount2(mountPoint.c_str(), MNT_DETACH);
        }
    }
}

TEST(Faults, LogsThatCannotBeWrittenDoNotStopTheRun)
{
    const std::function<void(const Workplace&)> breakLogs[] = {
        [](const Workplace& w) { WriteFile(w.root / "prog/Logs", "a file where the folder should be"); },
        [](const Workplace& w) {
            MakeFolders(w.root / "prog/Logs");
            fs::create_symlink("/dev/full", w.root / "prog/Logs/Error.txt");
            fs::create_symlink("/dev/full", w.root / "prog/Logs/DebugPelta.log");
        },
    };
    int variant = 0;
    for (const auto& breakLog : breakLogs) {
        SCOPED_TRACE("variant " + std::to_string(variant++));
        Prepared run("Arzt und Praxis", 6);
        breakLog(run.place);
        const RunResult result = RunCliOn(run.place.program,
            {"--pacs", "Arzt und Praxis", "--source", run.place.src, "--dest", run.place.dest, "--temp", run.place.temp,
                "--quiet", "--debug"},
            {});
        ASSERT_FALSE(result.hung);
        EXPECT_EQ(result.status, 1) << result.err; // two images were rejected, and the status says so
        const Tally tally = Count(run.place, run.disc);
        EXPECT_EQ(tally.migrated, 6);
        EXPECT_EQ(tally.quarantined, 2);
        EXPECT_EQ(result.out.substr(0, result.out.find('\n')), "6 von 8 Dateien konnten erfolgreich migriert werden.");
        EXPECT_EQ(Snapshot(run.place.src), run.before);
    }
}

TEST(Faults, UnreadableFilesAndFolders)
{
    ASSERT_EQ(::geteuid(), 0u) << "run the reliability tests as root: the program is started as another user";
    for (const char* pacs : Systems) {
        SCOPED_TRACE(pacs);
        Prepared run(pacs, 12, 5000);
        // The program runs as nobody, who may read the disc but not these two.
        Shell("chmod 755 '" + run.place.root.Path() + "' && chown -R 65534:65534 '" + run.place.root / "prog" + "' '"
            + run.place.dest + "' '" + run.place.temp + "'");
        const std::string unreadableFile = run.place.src + "/PAT1/ST1/" + run.disc.files[1].Name();
        ASSERT_TRUE(fs::exists(unreadableFile));
        ::chmod(unreadableFile.c_str(), 0);
        ::chmod((run.place.src + "/PAT2/ST1").c_str(), 0);
        const RunResult result = RunCli(run.place, pacs, {.asNobody = true});
        ::chmod(unreadableFile.c_str(), 0644);
        ::chmod((run.place.src + "/PAT2/ST1").c_str(), 0755);
        ExpectInvariant(run.place, run.disc, result, run.before);
        const Tally tally = Count(run.place, run.disc);
        EXPECT_GT(tally.missing, 1); // the file and the folder's images
        EXPECT_GT(tally.migrated, 4); // the walk went on past both
    }
}

TEST(Faults, SymbolicLinksNeverLeadTheWalkAstray)
{
    for (const char* pacs : Systems) {
        SCOPED_TRACE(pacs);
        Prepared run(pacs, 8, 4000);
        // Output folders inside the disc, a cycle, a dangling link and a link into the destination.
        run.place.dest = run.place.src + "/migriert";
        run.place.temp = run.place.src + "/tmp";
        MakeFolders(run.place.dest);
        MakeFolders(run.place.temp);
        fs::create_directory_symlink(run.place.src, run.place.src + "/PAT1/loop");
        fs::create_symlink(run.place.root / "nowhere", run.place.src + "/PAT1/dangling");
        fs::create_directory_symlink(run.place.dest, run.place.src + "/to-dest");
        const auto before = Snapshot(run.place.src);

        const RunResult result = RunCli(run.place, pacs);
        ASSERT_FALSE(result.hung);
        ASSERT_LT(result.status, 128);
        // Every image once and nothing more: the program never read its own output back.
        int images = 0;
        for (const DiscFile& file : run.disc.files) {
            images += file.selected && file.image ? 1 : 0;
        }
        const Tally tally = Count(run.place, run.disc);
        EXPECT_EQ(tally.migrated, images);
        EXPECT_EQ(tally.missing, 0);
        std::size_t written = 0;
        for (const std::string& name : Names(run.place.dest)) {
            written += name.ends_with(".dcm") ? 1 : 0;
        }
        EXPECT_EQ(written, static_cast<std::size_t>(images));
        // The disc itself is untouched, apart from the output folders the operator put into it.
        auto after = Snapshot(run.place.src);
        std::erase_if(after, [](const auto& entry) { return entry.first.starts_with("migriert/"); });
        EXPECT_EQ(after, before);
        EXPECT_FALSE(fs::exists(run.place.temp + "/TempPelta"));
    }
}

TEST(Faults, AwkwardNamesKeepTheirBytesAndOneLogLineEach)
{
    for (const char* pacs : {"HIPAX", "Arzt und Praxis"}) {
        SCOPED_TRACE(pacs);
        Prepared run(pacs, 4, 3000);
        const bool compressed = std::string(pacs) != "HIPAX";
        const std::string ext = compressed ? ".Z" : "";
        // Bytes that are not UTF-8, a line break, names that differ only in case.
        const std::string rejected = "not compressed";
        std::vector<std::string> odd = {"Bild\xff\xfe" + ext, "Zeile\nzwei" + ext, "case" + ext, "CASE" + ext};
        for (const std::string& name : odd) {
            WriteFile(run.place.src + "/odd/" + name, compressed ? rejected + name : "image " + name);
        }
        run.before = Snapshot(run.place.src);

        const RunResult result = RunCli(run.place, pacs);
        ASSERT_FALSE(result.hung);
        ASSERT_LT(result.status, 128);
        const std::string log = fs::exists(run.place.ErrorLog()) ? ReadFile(run.place.ErrorLog()) : "";
        // Each entry is one line: a line break inside a name is written as the two characters \n.
        for (std::size_t at = log.find('\n'); at != std::string::npos; at = log.find('\n', at + 1)) {
            ASSERT_TRUE(at > 0 && log[at - 1] == '\r') << "a bare line break in the log";
        }
        if (compressed) {
            // Rejected images are copied under their raw names, bytes unchanged.
            for (const std::string& name : odd) {
                const std::string stem = name.substr(0, name.rfind('.'));
                const auto copies = Names(run.place.dest + "/BadObjects");
                const bool kept = std::any_of(copies.begin(), copies.end(), [&](const std::string& copy) {
                    return copy.starts_with(stem)
                        && ReadFile(run.place.dest + "/BadObjects/" + copy) == rejected + name;
                });
                EXPECT_TRUE(kept) << name;
            }
            EXPECT_NE(log.find("Zeile\\nzwei.Z"), std::string::npos) << log;
        } else {
            std::multiset<std::string> images;
            for (const auto& [name, bytes] : Snapshot(run.place.dest)) {
                images.insert(bytes);
            }
            for (const std::string& name : odd) {
                EXPECT_EQ(images.count("image " + name), 1u) << name;
            }
        }
        EXPECT_EQ(Snapshot(run.place.src), run.before);
    }
}

TEST(Faults, KilledRunLeavesNoPartialImage)
{
    for (const char* pacs : Systems) {
        SCOPED_TRACE(pacs);
        Prepared run(pacs, 10, 20000);
        // Stopped in the middle of writing the fourth destination file, then killed there.
        int pid = 0;
        // Every image is written to the destination as it is read or decompressed.
        const std::string stopAt = "write:stop:/dest/.zet-pelta:3:1";
        const RunResult first = RunCli(run.place, pacs, {.faults = stopAt, .stopExpected = true, .stoppedPid = &pid});
        ASSERT_EQ(first.status, -2) << "the run did not reach the fourth image";
        const auto migratedBefore = Snapshot(run.place.dest);
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);

        // Nothing partial under an image's name; the unfinished file is a hidden temporary one.
        const auto names = Names(run.place.dest);
        EXPECT_TRUE(std::any_of(names.begin(), names.end(), [](const std::string& n) { return n.ends_with(".part"); }));

        // The next run clears what the killed one left, and the images migrated before stay as they were.
        const RunResult second = RunCli(run.place, pacs);
        ASSERT_FALSE(second.hung);
        ASSERT_LT(second.status, 128);
        const Destination found = ReadDestination(run.place.dest);
        EXPECT_TRUE(found.strays.empty()) << found.strays.front();
        for (const std::string& image : found.images) {
            EXPECT_TRUE(std::any_of(run.disc.files.begin(), run.disc.files.end(), [&](const DiscFile& file) {
                return file.image == image;
            })) << "a destination file with wrong bytes";
        }
        EXPECT_FALSE(fs::exists(run.place.temp + "/TempPelta"));
        EXPECT_EQ(Snapshot(run.place.src), run.before);
        const auto after = Snapshot(run.place.dest);
        for (const auto& [name, bytes] : migratedBefore) {
            if (!name.starts_with(".")) {
                ASSERT_TRUE(after.contains(name)) << name;
                EXPECT_EQ(after.at(name), bytes);
            }
        }
        EXPECT_EQ(Count(run.place, run.disc).missing, 0);
    }
}

TEST(Faults, TwoRunsIntoOneDestinationAtOnce)
{
    for (const char* pacs : {"HIPAX", "Arzt und Praxis", "STARC"}) {
        SCOPED_TRACE(pacs);
        Prepared run(pacs, 60, 3000);
        RunResult results[2];
        std::thread other([&] { results[1] = RunCli(run.place, pacs); });
        results[0] = RunCli(run.place, pacs);
        other.join();
        for (const RunResult& result : results) {
            ASSERT_FALSE(result.hung);
            ASSERT_LT(result.status, 128) << result.err;
        }
        // Every image twice, under names of its own, and whole.
        std::map<std::string, int> copies;
        for (const auto& [name, bytes] : Snapshot(run.place.dest)) {
            if (!name.starts_with("BadObjects/")) {
                ++copies[bytes];
            }
        }
        const auto log = LogLines(run.place.ErrorLog());
        for (const DiscFile& file : run.disc.files) {
            if (file.image) {
                EXPECT_EQ(copies[*file.image], 2) << file.path << "\n" << ReadFile(run.place.ErrorLog());
            }
        }
        EXPECT_EQ(Snapshot(run.place.src), run.before);
        EXPECT_FALSE(fs::exists(run.place.temp + "/TempPelta"));
    }
}

TEST(Faults, PathsLongerThanTheSystemTakes)
{
    Prepared run("HIPAX", 4, 3000);
    // A folder chain whose full path passes PATH_MAX, made step by step as only relative paths allow.
    int fd = ::open(run.place.src.c_str(), O_RDONLY | O_DIRECTORY);
    const std::string step(200, 'd');
    for (int depth = 0; depth < 24; ++depth) {
        ASSERT_EQ(::mkdirat(fd, step.c_str(), 0755), 0);
        const int next = ::openat(fd, step.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    const int file = ::openat(fd, "deep-image", O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(::write(file, "deep", 4), 4);
    ::close(file);
    ::close(fd);

    const RunResult result = RunCli(run.place, "HIPAX");
    ASSERT_FALSE(result.hung);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(Count(run.place, run.disc).migrated, 4);
    const std::string log = ReadFile(run.place.ErrorLog());
    EXPECT_NE(log.find("File name too long"), std::string::npos) << log;
    Shell("rm -rf '" + run.place.src + "/" + step + "'");
}
