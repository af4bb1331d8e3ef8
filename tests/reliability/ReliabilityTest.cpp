// Faults of the machine around a run, and hostile input: injected failures of file calls (a full disk,
// an unreadable file), a killed run, decompression bombs. Every case
// ends with the same check (ExpectInvariant): nothing selected is lost without a trace, nothing partial
// or wrong is left, the summary is true and the source is untouched. Bounds are checked by what is
// left on disk and by the program's peak memory, never by time.
#include "common/TestKit.h"
#include "engine/records/DiscJournal.h"
#include "engine/records/ReportRows.h"
#include "engine/records/RunsFolder.h"
#include "support/Csv.h"
#include "support/Sha256.h"

#include <array>
#include <csignal>
#include <optional>
#include <random>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {

// A row's outcome as the report writes it.
std::string Outcome(const engine::ReportRow& row)
{
    return row.outcome ? std::string(engine::OutcomeName(*row.outcome)) : std::string("?");
}

// One file on a sample disc and what a correct migration makes of it.
struct DiscFile
{
    std::string path; // relative to the disc's root
    std::string bytes;
    bool selected = true; // the profile takes it
    bool skipped = false; // taken, but left out on purpose ("GEMED": a name with ".")
    std::optional<std::string> image; // the destination bytes; nothing for a file that must be quarantined

    std::string Name() const { return path.substr(path.rfind('/') + 1); }
};

// A small disc of a PACS system in a workplace of its own: a program folder with a copy of
// zet-pelta-cli, the disc as the source, a destination and a temp folder. Good images lie in nested
// folders, with files the profile leaves alone and, for the compressed systems, images that must be
// quarantined. Every image's bytes differ.
struct Disc
{
    TempDir root;
    std::string pacs;
    std::string src = root / "src", dest = root / "dest", temp = root / "temp";
    std::vector<DiscFile> files;

    Disc(const std::string& system, int images, std::size_t imageBytes = 12000)
        : pacs(system)
    {
        for (const char* folder : {"prog", "src", "dest", "temp"}) {
            MakeFolders(root / folder);
        }
        fs::copy_file(ZP_CLI_PROGRAM, root / "prog/zet-pelta-cli");
        for (int i = 0; i < images; ++i) {
            std::mt19937 random(static_cast<unsigned>(i) * 7919u + 1); // no zero byte, no end marker
            // A preamble without zero bytes, then "DICM": the start of a DICOM file, as each system holds one.
            std::string body = std::string(128, 'P') + "DICM image " + std::to_string(i) + " ";
            while (body.size() < imageBytes + static_cast<std::size_t>(i) * 97) {
                body += static_cast<char>('A' + random() % 26);
            }
            const std::string path
                = (i % 4 == 0 ? "" : "PAT" + std::to_string(i % 3) + "/ST1/") + "IMG000" + std::to_string(i);
            if (pacs == "Arzt und Praxis") {
                Add(path + (i % 5 == 4 ? ".R" : ".Z"), Filter("gzip -c -n", "AUP HEADER \0"s + body + "#*lastfile*#"),
                    '\0' + body);
            } else if (pacs == "STARC") {
                Add(path + ".AR", Filter(i % 2 == 0 ? "gzip -c -n" : "compress -c -f", body), body);
            } else {
                Add(path, body, body);
            }
        }
        if (pacs == "GEMED") {
            Add("PAT0/NOTES.TXT", "notes");
            files.back().skipped = true;
        } else if (pacs != "HIPAX") {
            // Not compressed, and (for "STARC") cut short or (for "Arzt und Praxis") without an image.
            const bool starc = pacs == "STARC";
            const std::string bad = Filter("gzip -c -n", "no zero byte #*lastfile*#");
            Add(starc ? "PAT1/BROKEN.AR" : "PAT1/BROKEN.R", "not compressed at all");
            Add(starc ? "PAT0/BAD.AR" : "PAT0/BAD.Z", starc ? bad.substr(0, bad.size() - 3) : bad);
            Add("INDEX.DAT", "index");
            files.back().selected = false;
        }
    }

    void Add(const std::string& path, const std::string& bytes, std::optional<std::string> image = {})
    {
        files.push_back({path, bytes, true, false, std::move(image)});
        WriteFile(src + "/" + path, bytes);
    }
    // The source as written.
    std::map<std::string, std::string> Before() const
    {
        std::map<std::string, std::string> written;
        for (const DiscFile& file : files) {
            written[file.path] = file.bytes;
        }
        return written;
    }
    std::string ErrorLog() const { return root / "prog/Logs/Error.txt"; }
};

struct RunResult
{
    int status = -1; // exit status; 128 + signal when killed by one (also after ten minutes, as hung)
    long peakKiB = 0; // the largest peak resident memory of the test's child processes so far
    std::string out, err;
};

// Selected images that reached the destination, the quarantine, or neither; and anything else there.
struct Tally
{
    int migrated = 0, quarantined = 0, doubled = 0; // doubled: arrived twice (a rerun copies every image again)
    std::vector<const DiscFile*> lost; // the missing ones
    std::vector<std::string> strays; // partial, temporary or misnamed files, and wrong bytes
};

// A command run under a preload library with its settings; in the sanitizer build the library comes
// before the sanitizer's runtime, which is fine here.
std::string Preloaded(const std::string& library, const std::string& settings, const std::string& command)
{
    return settings + " LD_PRELOAD='" + library + "' ASAN_OPTIONS=\"$ASAN_OPTIONS:verify_asan_link_order=0\" "
        + command;
}

// The command line of the disc's program with arguments; before comes first (a preload library's
// settings, a shell command).
std::string CommandLine(const Disc& disc, const std::string& arguments, const std::string& before = {})
{
    return before + " timeout -s KILL 600 '" + disc.root / "prog/zet-pelta-cli" + "' " + arguments;
}

// Runs the disc's program with arguments, its output kept.
RunResult Program(const Disc& disc, const std::string& arguments, const std::string& before = {})
{
    const TempDir io;
    const int status
        = std::system((CommandLine(disc, arguments, before) + " >'" + io / "out" + "' 2>'" + io / "err" + "'").c_str());
    rusage usage {};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), usage.ru_maxrss, ReadFile(io / "out"),
        ReadFile(io / "err")};
}

// The arguments that migrate the disc, quietly, with its PACS system, into dest (its own by default).
std::string MigrateArguments(const Disc& disc, const std::string& dest = {})
{
    return "--pacs '" + disc.pacs + "' --source '" + disc.src + "' --dest '" + (dest.empty() ? disc.dest : dest)
        + "' --temp '" + disc.temp + "' --quiet";
}

// Runs the disc's program on it; with faults, under the preload shim that makes file calls fail
// (ZP_FAULTS, see FaultShim.cpp); or under another preload library.
RunResult Migrate(
    const Disc& disc, const std::string& faults = {}, const std::string& preload = {}, const std::string& settings = {})
{
    std::string before;
    if (!faults.empty()) {
        before = Preloaded(ZP_FAULT_SHIM, "ZP_FAULTS='" + faults + "'", "");
    } else if (!preload.empty()) {
        before = Preloaded(preload, settings, "");
    }
    return Program(disc, MigrateArguments(disc), before);
}

Tally Count(const Disc& disc)
{
    std::multiset<std::string> images, quarantined, expected, sources;
    Tally tally;
    for (const auto& [name, bytes] : Snapshot(disc.dest)) {
        if (name.starts_with("BadObjects/") && name.ends_with(".err") && !name.starts_with("BadObjects/.")) {
            quarantined.insert(bytes);
        } else if (IsDestinationName(name)) {
            images.insert(bytes);
        } else {
            tally.strays.push_back(name);
        }
    }
    for (const DiscFile& file : disc.files) {
        if (file.selected && !file.skipped) {
            const std::size_t copies = file.image ? images.count(*file.image) : 0, kept = quarantined.count(file.bytes);
            tally.migrated += copies > 0 ? 1 : 0;
            tally.quarantined += kept > 0 ? 1 : 0;
            tally.doubled += copies + kept > 1 ? 1 : 0;
            if (copies + kept == 0) {
                tally.lost.push_back(&file);
            }
            if (file.image) {
                expected.insert(*file.image);
            }
            sources.insert(file.bytes);
        }
    }
    for (const auto& [found, known] : {std::pair {&images, &expected}, {&quarantined, &sources}}) {
        for (const std::string& bytes : *found) {
            if (known->count(bytes) == 0) {
                tally.strays.push_back(
                    found == &images ? "an image with wrong bytes" : "a quarantine copy of no source");
            }
        }
    }
    return tally;
}

// What must hold after every run, whatever failed: each selected image is in the destination exactly
// once with the right bytes, or byte-identical in BadObjects, or named by an error line; nothing else is in the
// destination; the work folder is gone; the summary counts what is there and the exit status says whether anything
// failed; the source is as it was.
void ExpectInvariant(const Disc& disc, const RunResult& run)
{
    ASSERT_LT(run.status, 128) << "the program crashed or hung\n" << run.err;
    const auto log = LogLines(disc.ErrorLog());
    const Tally tally = Count(disc);
    EXPECT_TRUE(tally.strays.empty()) << tally.strays.front();
    EXPECT_EQ(tally.doubled, 0);
    for (const DiscFile* file : tally.lost) {
        EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const auto& line) { return line.ends_with(file->Name()); }))
            << file->path << " lost without an error line naming it";
    }
    EXPECT_FALSE(fs::exists(disc.temp + "/TempPelta")) << "work folder left behind";
    EXPECT_EQ(Snapshot(disc.src), disc.Before()) << "the source changed";
    const auto seen = std::count_if(disc.files.begin(), disc.files.end(), [](const DiscFile& f) { return f.selected; });
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')),
        std::to_string(tally.migrated) + " von " + std::to_string(seen)
            + " Dateien konnten erfolgreich migriert werden.");
    EXPECT_EQ(run.status == 0, log.empty()) << "exit status " << run.status << " with " << log.size() << " error lines";
}

// A small file system (tmpfs) of its own at path.
void MountTmpfs(const std::string& path, const std::string& size)
{
    // Small file systems of their own need a mount namespace of the test process's own, which only root
    // gets. Mounts made in it are gone with the process.
    static const bool ready
        = ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    MakeFolders(path);
    ASSERT_TRUE(ready && ::mount("tmpfs", path.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0)
        << "cannot mount a tmpfs on " << path << ": run the reliability tests as root";
}

const char* const Systems[] = {"HIPAX", "GEMED", "Arzt und Praxis", "STARC"};

} // namespace

TEST(Faults, InjectedFileCallFailuresLoseNothingAndARerunBringsTheRest)
{
    // Every close of a temporary file fails: one failing close might strike only rejected images,
    // whose temporary files are discarded anyway. The second value: the program works around it.
    const std::pair<const char*, bool> cases[]
        = {{"write:ENOSPC:/dest/.zet-pelta:1:1", false}, {"write:EIO:.part:3:0", false},
            {"write:short:.part:0:0", true}, {"close:EIO:.part:0:0", false}, {"renameat2:EIO:.dcm:1:1", false},
            {"renameat2:EINVAL::0:0;link:EPERM::0:0", true}, // no atomic rename without replacing: the fallback
            {"read:EIO:/src/:3:0", false}, {"read:short:/src/:0:0", true}, {"open:EACCES:/src/PAT1:0:0", false},
            {"write:ENOSPC:BadObjects:0:0", false}, {"fdatasync:EIO:/dest/.zet-pelta:1:1", false},
            {"fdatasync:EIO:BadObjects:0:0", false}};
    for (const char* pacs : Systems) {
        for (const auto& [faults, harmless] : cases) {
            SCOPED_TRACE(std::string(pacs) + " with " + faults);
            Disc disc(pacs, 8, 6000);
            ExpectInvariant(disc, Migrate(disc, faults));
            const auto log = LogLines(disc.ErrorLog());
            const bool struck = std::any_of(log.begin(), log.end(),
                [](const std::string& line) { return line.find(" - CorrectImage") == std::string::npos; });
            const bool quarantines = std::string(pacs) == "Arzt und Praxis" || std::string(pacs) == "STARC";
            EXPECT_EQ(
                struck, !harmless && (quarantines || std::string(faults).find("BadObjects") == std::string::npos));
            ASSERT_LT(Migrate(disc).status, 128);
            EXPECT_EQ(Count(disc).lost.size(), 0u);
        }
    }
}

// What a power cut may take back at any moment: each output's bytes are synced before it gets its name,
// its folder after that and before a row names it, and the rows before the summary that counts them.
TEST(Faults, EachOutputIsDurableBeforeItIsNamedAndItsNameBeforeARowNamesIt)
{
    for (const char* pacs : Systems) {
        SCOPED_TRACE(pacs);
        Disc disc(pacs, 6, 6000);
        ExpectInvariant(disc, Migrate(disc, {}, ZP_FAULT_SHIM, "ZP_TRACE='" + disc.root / "trace" + "'"));
        std::vector<std::array<std::string, 3>> calls; // what, path, second path or bytes
        std::istringstream trace(ReadFile(disc.root / "trace"));
        for (std::string line; std::getline(trace, line);) {
            const std::size_t first = line.find(' '), second = line.find(' ', first + 1);
            calls.push_back({line.substr(0, first), line.substr(first + 1, second - first - 1),
                second == std::string::npos ? "" : line.substr(second + 1)});
        }
        const auto at = [&calls](std::size_t from, const auto& match) {
            return static_cast<std::size_t>(std::find_if(calls.begin() + from, calls.end(), match) - calls.begin());
        };
        std::size_t named = 0, lastRow = 0;
        std::string rows;
        for (std::size_t i = 0; i < calls.size(); ++i) {
            const auto& [what, from, to] = calls[i];
            if (what != "rename" || !to.starts_with(disc.dest + "/")) {
                continue;
            }
            ++named;
            const std::string name = to.substr(disc.dest.size() + 1), folder = to.substr(0, to.rfind('/'));
            const auto sync = [](const std::string& path) {
                return [path](const auto& call) { return call[0] == "sync" && call[1] == path; };
            };
            const std::size_t row = at(
                0, [&name](const auto& call) { return call[0] == "write" && call[2].find(name) != std::string::npos; });
            EXPECT_LT(at(0, sync(from)), i) << name << ": named before its bytes were synced";
            EXPECT_LT(at(i, sync(folder)), row) << name << ": named in a row before its name was synced";
            ASSERT_LT(row, calls.size()) << name << ": no row names it";
            rows = calls[row][1];
            lastRow = std::max(lastRow, row);
        }
        EXPECT_EQ(named, disc.files.size() - (std::string(pacs) == "HIPAX" ? 0 : 1)) << "every output traced";
        const std::string summary = rows.substr(0, rows.size() - 4) + "-summary.csv";
        const auto counted = std::find_if(calls.rbegin(), calls.rend(),
            [&summary](const auto& call) { return call[0] == "rename" && call[2] == summary; });
        ASSERT_NE(counted, calls.rend()) << "no summary for " << rows;
        EXPECT_LT(at(lastRow, [&rows](const auto& call) { return call[0] == "sync" && call[1] == rows; }),
            static_cast<std::size_t>(calls.rend() - counted - 1))
            << "the summary counts rows that were not synced";
    }
}

TEST(Faults, AKilledRunLeavesOnlyAHiddenPartialFileWhichTheNextRunRemoves)
{
    for (const char* pacs : Systems) {
        SCOPED_TRACE(pacs);
        Disc disc(pacs, 10, 20000);
        // Killed in the middle of writing the fourth destination file.
        ASSERT_EQ(Migrate(disc, "write:kill:/dest/.zet-pelta:3:1").status, 128 + SIGKILL);
        EXPECT_TRUE(Names(disc.dest).at(0).ends_with(".part")) << "only a hidden unfinished file";
        // The journal has the run from its start: unfinished, it reads as stopped.
        const auto journal = [&disc] {
            std::string rows;
            for (const engine::JournalRow& row : engine::ReadJournal(disc.root / "prog/Logs/Runs")) {
                rows += (row.ended.empty() ? "unfinished " : "ended ") + std::string(row.stopped ? "yes" : "no") + ";";
            }
            return rows;
        };
        EXPECT_EQ(journal(), "unfinished yes;");
        ASSERT_LT(Migrate(disc).status, 128);
        EXPECT_EQ(journal(), "unfinished yes;ended no;");
        const Tally tally = Count(disc);
        EXPECT_TRUE(tally.strays.empty() && tally.lost.empty()) << tally.strays.size() << " strays";
        EXPECT_FALSE(fs::exists(disc.temp + "/TempPelta"));
    }
}

TEST(Hostile, DecompressionBombsStopAtTheCapOrTheFreeSpaceWithBoundedMemory)
{
    Disc disc("Arzt und Praxis", 3, 4000);
    // Gzip members of 64 MiB of one byte each, beyond 4 GiB in all, without a zero byte.
    const std::string member = Filter("head -c 67108864 /dev/zero | tr '\\0' A | gzip -c -1 -n", "");
    std::string bomb;
    for (int i = 0; i < 68; ++i) {
        bomb += member;
    }
    disc.Add("BOMB.Z", bomb);
    const RunResult result = Migrate(disc);
    ExpectInvariant(disc, result);
    EXPECT_EQ(Count(disc).quarantined, 3); // the bomb and the disc's two bad containers
#ifndef ZP_SANITIZED // the sanitizers' own bookkeeping would dominate the figure
    EXPECT_LT(result.peakKiB, 100 * 1024) << "peak memory " << result.peakKiB << " KiB";
#endif
    // "STARC" images are bounded by the room in the temp folder, where they used to be decompressed.
    for (const auto& [pacs, name, content, folder] :
        {std::tuple {"STARC", "BOMB.AR", std::string(24 << 20, '\0'), "temp"},
            {"Arzt und Praxis", "BOMB.Z", "HEADER" + std::string(24 << 20, '\0') + "#*lastfile*#", "dest"}}) {
        SCOPED_TRACE(pacs);
        Disc small(pacs, 4, 4000);
        small.Add(name, Filter("gzip -c -9 -n", content));
        MountTmpfs(small.root / folder, "2m");
        ExpectInvariant(small, Migrate(small));
        EXPECT_EQ(Count(small).lost.size(), 0u) << ReadFile(small.ErrorLog());
        EXPECT_NE(ReadFile(small.ErrorLog()).find("File " + std::string(name) + " could not be migrated."),
            std::string::npos);
        ::umount2((small.root / folder).c_str(), MNT_DETACH);
    }
}

// A real image once for each of its length fields, that one set to its largest value (a flipped bit in a
// length does much the same): explicit VR little endian, elements walked at the top level.
std::vector<std::string> EveryLengthAtItsMaximum(const std::string& image)
{
    std::vector<std::string> variants;
    const std::string longForms = "OB OW OF OD OL OV SQ UC UR UT UN SV UV";
    for (std::size_t at = 132; at + 8 <= image.size();) {
        const std::string vr = image.substr(at + 4, 2);
        const bool longForm = longForms.find(vr) != std::string::npos;
        const std::size_t field = at + (longForm ? 8 : 6), width = longForm ? 4 : 2;
        if (field + width > image.size()) {
            break;
        }
        std::uint32_t length = 0;
        for (std::size_t i = 0; i < width; ++i) {
            length |= static_cast<std::uint32_t>(static_cast<unsigned char>(image[field + i])) << (8 * i);
        }
        if (length == 0xFFFFFFFFu) {
            break; // undefined: the rest cannot be walked without parsing it
        }
        std::string variant = image;
        for (std::size_t i = 0; i < width; ++i) {
            variant[field + i] = i == 0 && longForm ? '\xFE' : '\xFF'; // 0xFFFFFFFF would mean undefined
        }
        variants.push_back(std::move(variant));
        at = field + width + length;
    }
    return variants;
}

// Length fields that claim more than their file holds, as a scratched or hostile disc has them: they
// never decide how much memory is taken, in the run's check nor in --verify; every file still arrives.
TEST(Hostile, LengthFieldsThatClaimMoreThanTheFileDecideNoAllocation)
{
    Disc disc("HIPAX", 2, 4000);
    const std::vector<std::string> variants
        = EveryLengthAtItsMaximum(ReadFile(ZP_PYDICOM_DATA "/test_files/CT_small.dcm"));
    ASSERT_GT(variants.size(), 40u);
    for (std::size_t i = 0; i < variants.size(); ++i) {
        disc.Add("MAXED/LENGTH" + std::to_string(i), variants[i], variants[i]);
    }
    for (const auto& entry : fs::directory_iterator(ZP_FUZZ_CRASHES "/dicom")) {
        const std::string bytes = ReadFile(entry.path().string());
        disc.Add("FOUND/" + entry.path().filename().string(), bytes, bytes);
    }
#ifdef ZP_SANITIZED
    const std::string limit; // the sanitizers' own allocation limit holds (scripts/sanitize.sh)
#else
    const std::string limit = "ZP_MAX_ALLOCATION=268435456"; // 256 MiB at once: far beyond any such image
#endif
    const RunResult run = Migrate(disc, {}, ZP_FAULT_SHIM, limit);
    ExpectInvariant(disc, run);
    EXPECT_EQ(run.status, 0) << run.err;
    // The report says what is wrong with such a file, in place of an allocation.
    std::string rows;
    for (const std::string& name : Names(disc.root / "prog/Logs/Runs")) {
        rows += name.ends_with("_HIPAX.csv") ? ReadFile(disc.root / ("prog/Logs/Runs/" + name)) : "";
    }
    EXPECT_NE(rows.find("not DICOM: Länge von "), std::string::npos) << rows.substr(0, 3000);
    const RunResult verify = Program(disc, "--verify '" + disc.dest + "'", Preloaded(ZP_FAULT_SHIM, limit, ""));
    EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
#ifndef ZP_SANITIZED
    EXPECT_LT(run.peakKiB, 100 * 1024) << "peak memory " << run.peakKiB << " KiB";
#endif
}

// An emulated optical drive (bench/DriveShim.cpp): its seeks in a line "seeks N ..." of report.
long DriveSeeks(const std::string& report)
{
    const std::string text = ReadFile(report);
    return text.starts_with("seeks ") ? std::stol(text.substr(6)) : -1;
}

TEST(Drive, OneReaderInWalkOrderAndUnreadableFilesTriedOnceMoreAtTheEnd)
{
    for (const char* pacs : Systems) {
        SCOPED_TRACE(pacs);
        Disc disc(pacs, 12, 6000);
        const std::string drive
            = "ZP_DRIVE_ROOT='" + disc.src + "' ZP_DRIVE_RATE=1e9 ZP_DRIVE_SEEK_MS=0 ZP_DRIVE_REPORT='";
        // The head jumps no more than it must to read every selected file once, in walk order: a
        // quarantine copy is made from the bytes in hand, not by reading its file again.
        ASSERT_EQ(std::system(Preloaded(ZP_DRIVE_SHIM, drive + disc.root / "floor'",
                      "'" ZP_READ_IN_ORDER "' '" + disc.pacs + "' '" + disc.src + "'")
                                  .c_str()),
            0);
        ExpectInvariant(disc, Migrate(disc, {}, ZP_DRIVE_SHIM, drive + disc.root / "run'"));
        EXPECT_EQ(Count(disc).quarantined, pacs == "HIPAX"s || pacs == "GEMED"s ? 0 : 2);
        EXPECT_LE(DriveSeeks(disc.root / "run"), DriveSeeks(disc.root / "floor"));

        // Scratches: the second image reads on the second try, the third never. Each is logged when it
        // fails, tried again after the walk, and its row (last in the report) says so.
        fs::remove_all(disc.dest);
        MakeFolders(disc.dest);
        const RunResult run = Migrate(disc, {}, ZP_DRIVE_SHIM,
            drive + disc.root / "scratched' ZP_DRIVE_BAD='" + disc.files[1].path + ":1," + disc.files[2].path + ":0'");
        ExpectInvariant(disc, run);
        EXPECT_EQ(run.status, 1);
        std::vector<std::string> unread;
        for (const std::string& line : LogLines(disc.ErrorLog())) {
            if (line.find(" - 5 - Input/output error - ScanFolder - ") != std::string::npos) {
                unread.push_back(line.substr(line.rfind(" - ") + 3));
            }
        }
        EXPECT_EQ(unread, (std::vector {disc.files[1].Name(), disc.files[2].Name(), disc.files[2].Name()}));
        std::vector<std::string> rows;
        for (const engine::ReportOfRun& report : engine::RunsInto(disc.root / "prog/Logs/Runs", disc.dest)) {
            engine::ReadRows(report.rows, [&](const engine::ReportRow& row) {
                rows.push_back(row.path + " " + Outcome(row) + " " + (row.retried ? "yes" : ""));
            });
        }
        ASSERT_GE(rows.size(), 2u);
        EXPECT_EQ(std::vector(rows.end() - 2, rows.end()),
            (std::vector<std::string> {disc.files[1].path + " migrated yes", disc.files[2].path + " failed yes"}));
        EXPECT_NE(run.out.find("2 Dateien konnten beim ersten Versuch nicht gelesen werden"), std::string::npos)
            << run.out;
    }
}

namespace {

std::string Runs(const Disc& disc)
{
    return disc.root / "prog/Logs/Runs";
}

// The rows of every report into the disc's destination, oldest report first.
std::vector<engine::ReportRow> ReportRows(const Disc& disc)
{
    std::vector<engine::ReportRow> rows;
    for (const engine::ReportOfRun& run : engine::RunsInto(Runs(disc), disc.dest)) {
        engine::ReadRows(run.rows, [&](const engine::ReportRow& row) { rows.push_back(row); });
    }
    return rows;
}

} // namespace

TEST(Crash, AKilledRunResumedWithOnlyMissingEndsWithEveryImageOnce)
{
    for (const char* pacs : Systems) {
        const bool quarantines = pacs == "Arzt und Praxis"s || pacs == "STARC"s;
        // In the middle of an output, between an output's rename and its row, in the middle of a row
        // (the rows file's name begins with the year), right after a quarantine copy's rename. Rows
        // follow their outputs by up to two batches of 32 and a few rows: the first two kills come late
        // enough for the first batch's rows to be written.
        std::vector<std::string> kills = {
            "write:kill:/dest/.zet-pelta:110:1", "renameat2:killafter:/dest/:69:1", "write:shortkill:/Logs/Runs/2:1:1"};
        if (quarantines) {
            kills.push_back("renameat2:killafter:/dest/BadObjects/:0:1");
        }
        for (const std::string& kill : kills) {
            SCOPED_TRACE(std::string(pacs) + " killed at " + kill);
            Disc disc(pacs, 130, 2000);
            ASSERT_EQ(Migrate(disc, kill).status, 128 + SIGKILL);
            const auto rows = ReportRows(disc); // the killed run's
            const auto reported = std::count_if(
                rows.begin(), rows.end(), [](const auto& row) { return row.Is(engine::Outcome::Migrated); });
            EXPECT_EQ(reported > 0, kill.find("BadObjects") == std::string::npos) << "the first batch's rows";
            const RunResult resumed = Program(disc, MigrateArguments(disc) + " --only-missing");
            ExpectInvariant(disc, resumed); // every image exactly once, nothing else in the destination
            EXPECT_EQ(resumed.status, quarantines ? 1 : 0);
            EXPECT_EQ(Program(disc, "--verify '" + disc.dest + "'").status, 0);
            // The killed run in the journal: as far as its report got.
            const auto journal = support::ParseCsv(Program(disc, "--discs --csv").out);
            ASSERT_EQ(journal.size(), 3u);
            EXPECT_EQ(journal[1][1] + "|" + journal[1][12] + "|" + journal[1][8], "|yes|" + std::to_string(reported));
            EXPECT_EQ(journal[2][12] + journal[2][14], "noja");
        }
    }
}

TEST(Faults, AFileThatFailsToReadHalfWayIsReadAgainAtTheEnd)
{
    // Large enough to stream (also compressed): the disc fails once in the middle of it, after the
    // first bytes went into the copy or the decoder. A read error is the drive's, not the image's.
    for (const char* pacs : Systems) {
        SCOPED_TRACE(pacs);
        Disc disc(pacs, 1, std::size_t {30} << 20);
        const RunResult run = Migrate(disc, "read:EIO:/src/" + disc.files[0].path + ":2:1");
        EXPECT_LT(run.status, 2) << run.err; // the disc's other files may be rejected
        std::string outcome;
        for (const auto& row : ReportRows(disc)) {
            if (row.path == disc.files[0].path) {
                outcome += Outcome(row) + (row.retried ? " yes" : " ");
                EXPECT_EQ(row.sourceSha256, support::Sha256OfFile(disc.src + "/" + disc.files[0].path));
            }
        }
        EXPECT_EQ(outcome, "migrated yes");
        EXPECT_EQ(Count(disc).migrated, 1);
    }
}

TEST(Crash, AStopDuringTheRetryOfUnreadableFilesKeepsEveryFilesRowAndTheCounts)
{
    for (const char* pacs : Systems) {
        SCOPED_TRACE(pacs);
        Disc disc(pacs, 12, 4000);
        // Three files of the top folder (the walk's first) fail their first read; Ctrl+C comes while
        // the first of them is read again.
        const DiscFile* unreadable[] = {&disc.files[0], &disc.files[4], &disc.files[8]};
        std::string faults = "open:int:/src/" + unreadable[0]->path + ":1:1";
        for (const DiscFile* file : unreadable) {
            faults += ";read:EIO:/src/" + file->path + ":0:1";
        }
        const RunResult run = Migrate(disc, faults);
        EXPECT_EQ(run.status, 130) << run.err;
        std::map<std::string, std::string> outcomes;
        for (const auto& row : ReportRows(disc)) {
            outcomes[row.path] = Outcome(row) + (row.retried ? " retried" : "");
        }
        EXPECT_EQ(outcomes.size(), disc.files.size()) << "a row for every file";
        EXPECT_EQ(
            outcomes[unreadable[0]->path] + ", " + outcomes[unreadable[1]->path] + ", " + outcomes[unreadable[2]->path],
            "migrated retried, failed, failed");
        const auto summary = engine::RunsInto(Runs(disc), disc.dest).at(0).summary;
        EXPECT_EQ(std::to_string(summary.failed) + "|" + std::to_string(summary.filesSeen) + "|"
                + (summary.stopped ? "yes" : "no") + "|"
                + std::to_string(engine::ReadJournal(Runs(disc)).at(0).failed.value_or(-1)),
            "2|" + std::to_string(disc.files.size()) + "|yes|2");
    }
}

namespace {

// Runs the command lines at once; their exit statuses, in order.
std::vector<int> AtOnce(const std::vector<std::string>& commands)
{
    const TempDir io;
    std::string script;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        script += "(" + commands[i] + " >/dev/null 2>&1; echo $? >'" + io / std::to_string(i) + "') & ";
    }
    EXPECT_EQ(std::system((script + "wait").c_str()), 0);
    std::vector<int> statuses;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        statuses.push_back(std::stoi(ReadFile(io / std::to_string(i))));
    }
    return statuses;
}

} // namespace

TEST(TwoPrograms, TwoDiscsIntoOneDestinationKeepEveryRowAndFlagEachDuplicateOnce)
{
    // Two stations on one program folder and one destination: discs of two systems whose images are
    // the same (so that every image of one is a duplicate of the other's), migrated at once, three times.
    Disc hipax("HIPAX", 150, 2000), starc("STARC", 150, 2000);
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // The STARC disc has two images to quarantine.
        EXPECT_EQ(AtOnce({CommandLine(hipax, MigrateArguments(hipax)),
                      CommandLine(hipax, MigrateArguments(starc, hipax.dest))}),
            (std::vector {0, 1}));
        ASSERT_EQ(engine::ReadJournal(Runs(hipax)).size(), 2u * static_cast<std::size_t>(round)) << "a row lost";
        std::int64_t duplicates = 0;
        for (const engine::ReportOfRun& run : engine::RunsInto(Runs(hipax), hipax.dest)) {
            const auto& values = run.summary;
            EXPECT_EQ((values.stopped ? "yes|" : "no|") + std::to_string(values.filesSeen),
                "no|" + std::to_string(values.pacs == "HIPAX" ? 150 : 153));
            duplicates += values.duplicates;
        }
        // Round one: each image of the one disc repeats the other's, and only one of the two says so;
        // later rounds repeat every image.
        EXPECT_EQ(duplicates, 150 + 300 * (round - 1));
        EXPECT_EQ(Snapshot(hipax.dest).size(), 302u * static_cast<std::size_t>(round));
        EXPECT_EQ(Program(hipax, "--verify '" + hipax.dest + "'").status, 0);
    }
    // Both discs again at once, for what is missing: nothing.
    EXPECT_EQ(AtOnce({CommandLine(hipax, MigrateArguments(hipax) + " --only-missing"),
                  CommandLine(hipax, MigrateArguments(starc, hipax.dest) + " --only-missing")}),
        (std::vector {0, 1}));
    EXPECT_EQ(Snapshot(hipax.dest).size(), 3u * 302u);
}

TEST(TwoPrograms, TheSameDiscTwiceAtOnceIsMigratedOnce)
{
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Disc disc("Arzt und Praxis", 200, 3000);
        const std::string only = CommandLine(disc, MigrateArguments(disc) + " --only-missing");
        std::vector<int> statuses = AtOnce({only, only});
        std::sort(statuses.begin(), statuses.end());
        // Both ran, one after the other, or the second was refused while the first ran.
        EXPECT_TRUE(statuses == (std::vector {1, 1}) || statuses == (std::vector {1, 2})) << statuses[1];
        const Tally tally = Count(disc);
        EXPECT_TRUE(tally.doubled == 0 && tally.lost.empty() && tally.strays.empty());
        EXPECT_EQ(Program(disc, "--verify '" + disc.dest + "'").status, 0);
    }
}

TEST(Faults, AFewOpenFilesAllowedChangeNoOutcomeNorErrorLine)
{
    for (const char* pacs : {"Arzt und Praxis", "STARC", "HIPAX"}) {
        SCOPED_TRACE(pacs);
        // Hundreds of images, good and bad, on two identical discs: one migrated as always, one under a
        // limit of 32 open files.
        const auto outcomes = [pacs](const std::string& limit) {
            Disc disc(pacs, 200, 1500);
            for (int i = 0; i < 100; ++i) {
                disc.Add("BAD/IMG" + std::to_string(i) + (pacs == "STARC"s ? ".AR" : ".Z"), "not compressed");
            }
            EXPECT_LT(Program(disc, MigrateArguments(disc), limit).status, 128);
            std::vector<std::string> lines;
            for (const auto& row : ReportRows(disc)) {
                lines.push_back(row.path + " " + Outcome(row) + " " + row.error);
            }
            for (const std::string& line : LogLines(disc.ErrorLog())) {
                lines.push_back(line.substr(line.find(" - "))); // without the time stamp
            }
            return lines;
        };
        const auto unlimited = outcomes({});
        EXPECT_EQ(outcomes("ulimit -n 32;"), unlimited);
        EXPECT_GE(unlimited.size(), 300u);
        if (pacs != "HIPAX"s) {
            // The reader, which opens each of a compressed disc's files before the run could, fails to
            // open the first three (of the top folder): the run opens them at their turn.
            std::string faults;
            for (const char* name : {"IMG0000", "IMG0004", "IMG0008"}) {
                faults += "open:EMFILE:/src/" + std::string(name)
                    + (pacs == "STARC"s      ? ".AR"
                            : name[6] == '4' ? ".R"
                                             : ".Z")
                    + ":0:1;";
            }
            EXPECT_EQ(outcomes(Preloaded(ZP_FAULT_SHIM, "ZP_FAULTS='" + faults + "'", "")), unlimited);
        }
    }
}
