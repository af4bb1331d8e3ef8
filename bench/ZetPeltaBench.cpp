// Speed and memory of migrations next to the floor of what each must do, measured in the same run on
// the same trees: every figure is the median of several rounds after one warm-up round, with the
// source in the page cache. Prints one table of figure, floor, our value, ratio and target. Asserts
// nothing; a migration that does not write every image ends the benchmark.
//
//   zet-pelta-bench [--only plain,compressed,durable,scale,window,drive] [--rounds 5] [--quick 0|1]
//                   [--dir PARENT] [--disk PARENT]
//
// plain:      HIPAX and GEMED, 20,000 files of 1-64 KiB three folders deep and 200 of 8-32 MiB,
//             against `cp -r` plus `openssl dgst -sha256` of the files.
// compressed: Arzt und Praxis and STARC, 4,000 images of 256 KiB and 400 of 4 MiB (gzip level 6),
//             against `gzip -dc` and `libdeflate-gunzip -c` of the same files.
// durable:    Arzt und Praxis, 2,000 images of 256 KiB, with the destination on a disk (--disk, by
//             default /var/tmp) against the same run with it on tmpfs, alternating round by round:
//             what making every output durable costs where it costs something.
// scale:      100,000 files in one folder and in a deep tree against 1,000; peak memory with
//             images of 1 GiB.
// window:     the plain runs driven through the window (offscreen) against the command line.
// drive:      each system's sample disc of 400 images of 256 KiB (25 a folder) read through an emulated
//             optical drive (DriveShim.cpp) at CD speed (8 MB/s, 80 ms a seek) and DVD speed (21 MB/s,
//             100 ms) into a destination on the disk, as in a clinic, against one process reading every
//             selected file once, whole, in walk order through the same drive; one round, the drive's
//             time being set by the emulation.
// --quick 1 makes every tree a tenth as large, for trying the benchmark out.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "BenchUtil.h"
#include "SampleDisc.h"

namespace fs = std::filesystem;

namespace {

struct Row
{
    std::string figure;
    std::string floorName;
    std::string floor;
    std::string ours;
    double ratio = 0;
    std::string target;
};

std::vector<Row> g_rows;

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

void AddRow(Row row)
{
    std::fprintf(stderr, "  -> %s: %s against %s %s, ratio %.2f (target %s)\n", row.figure.c_str(), row.ours.c_str(),
        row.floorName.c_str(), row.floor.c_str(), row.ratio, row.target.c_str());
    g_rows.push_back(std::move(row));
}

std::string Seconds(double s)
{
    return Format("%.3f s", s);
}

std::string MiB(double kib)
{
    return Format("%.1f MiB", kib / 1024.0);
}

std::uint64_t Next(std::uint64_t& state)
{
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

std::string Numbered(const char* format, std::uint64_t a, std::uint64_t b = 0, std::uint64_t c = 0)
{
    char text[128];
    std::snprintf(text, sizeof text, format, static_cast<unsigned long long>(a), static_cast<unsigned long long>(b),
        static_cast<unsigned long long>(c));
    return text;
}

struct Tree
{
    std::string path;
    std::uint64_t files = 0;
    std::uint64_t bytes = 0; // of the files as they lie on the disc
    std::uint64_t largestImage = 0; // decompressed
};

// Writes count files: file i goes to path + relative(i) with content(i). The writing happens in a
// child process on two threads: a spawned program starts with its parent's peak memory on record,
// so this process must never hold the trees' bytes.
Tree WriteTree(const std::string& path, std::uint64_t count, const std::function<std::string(std::uint64_t)>& relative,
    const std::function<std::string(std::uint64_t, std::uint64_t&)>& content)
{
    std::fprintf(stderr, "writing %llu files to %s\n", static_cast<unsigned long long>(count), path.c_str());
    int channel[2];
    if (::pipe(channel) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("fork");
        std::exit(1);
    }
    if (pid == 0) {
        Tree trees[2];
        auto work = [&](int part) {
            for (std::uint64_t i = static_cast<std::uint64_t>(part); i < count; i += 2) {
                const fs::path file = path + relative(i);
                std::error_code ignored;
                fs::create_directories(file.parent_path(), ignored);
                std::uint64_t imageBytes = 0;
                const std::string bytes = content(i, imageBytes);
                std::ofstream out(file, std::ios::binary);
                out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
                if (!out) {
                    std::fprintf(stderr, "cannot write %s\n", file.c_str());
                    ::_exit(1);
                }
                ++trees[part].files;
                trees[part].bytes += bytes.size();
                trees[part].largestImage = std::max(trees[part].largestImage, imageBytes);
            }
        };
        std::thread second(work, 1);
        work(0);
        second.join();
        const std::uint64_t totals[3] = {trees[0].files + trees[1].files, trees[0].bytes + trees[1].bytes,
            std::max(trees[0].largestImage, trees[1].largestImage)};
        const bool sent = ::write(channel[1], totals, sizeof totals) == static_cast<ssize_t>(sizeof totals);
        ::_exit(sent ? 0 : 1);
    }
    ::close(channel[1]);
    std::uint64_t totals[3] = {0, 0, 0};
    const bool received = ::read(channel[0], totals, sizeof totals) == static_cast<ssize_t>(sizeof totals);
    ::close(channel[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!received || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "writing %s failed\n", path.c_str());
        std::exit(1);
    }
    return {path, totals[0], totals[1], totals[2]};
}

// A DICOM image of about the given size (header included).
std::string DicomOfSize(std::uint64_t index, std::uint64_t size)
{
    return corpus::MakeDicom(index, static_cast<std::size_t>(std::max<std::uint64_t>(size, 1024) - 600));
}

class Bench
{
public:
    Bench(std::string root, std::string diskParent, int rounds, bool quick)
        : m_root(std::move(root))
        , m_diskParent(std::move(diskParent))
        , m_rounds(rounds)
        , m_quick(quick)
    {
        // The program runs from a folder of the benchmark's own, so its run reports (which later runs
        // into the same destination read) start empty for every round.
        fs::create_directories(m_root + "/program");
        m_cli = m_root + "/program/zet-pelta-cli";
        fs::copy_file(ZP_CLI_PROGRAM, m_cli);
    }

    std::uint64_t Scaled(std::uint64_t n) const { return m_quick ? std::max<std::uint64_t>(n / 10, 1) : n; }

    // 1-64 KiB files, three folders deep (20 files a series, 5 series a study, 10 studies a patient).
    // No dots in the names, so GEMED takes them as HIPAX does.
    const Tree& SmallTree()
    {
        if (m_small.path.empty()) {
            m_small = PlainTree("small", Scaled(20000), 1024, 64 * 1024, [](std::uint64_t i) {
                return Numbered("/PAT%03llu/ST%02llu/SE%02llu/", i / 1000, i / 100 % 10, i / 20 % 5);
            });
        }
        return m_small;
    }

    // 8-32 MiB files, three folders deep.
    const Tree& LargeTree()
    {
        if (m_large.path.empty()) {
            m_large = PlainTree(
                "large", Scaled(200), 8 << 20, 32 << 20,
                [](std::uint64_t i) {
                    return Numbered("/PAT%02llu/ST%02llu/SE%02llu/", i / 50, i / 10 % 5, i / 2 % 5);
                },
                0x9E3779B97F4A7C15ull);
        }
        return m_large;
    }

    // DICOM images of evenly spread sizes from smallest to largest, named IM<number> in their folders.
    Tree PlainTree(const std::string& name, std::uint64_t count, std::uint64_t smallest, std::uint64_t largest,
        const std::function<std::string(std::uint64_t)>& folderOf, std::uint64_t seed = 0x2545F4914F6CDD1Dull)
    {
        std::uint64_t state = seed;
        std::vector<std::uint64_t> sizes(count);
        for (auto& size : sizes) {
            size = smallest + Next(state) % (largest - smallest + 1);
        }
        return WriteTree(
            m_root + "/" + name, count, [&folderOf](std::uint64_t i) { return folderOf(i) + Numbered("IM%06llu", i); },
            [&sizes](std::uint64_t i, std::uint64_t& image) {
                std::string dicom = DicomOfSize(i, sizes[i]);
                image = dicom.size();
                return dicom;
            });
    }

    // 256 KiB and 4 MiB images, gzip level 6: containers for Arzt und Praxis, bare for STARC.
    Tree CompressedTree(const std::string& pacs)
    {
        const std::uint64_t small = Scaled(4000), large = Scaled(400);
        const bool container = pacs == "Arzt und Praxis";
        return WriteTree(
            m_root + "/" + (container ? "arzt" : "starc"), small + large,
            [container](std::uint64_t i) {
                return Numbered(container ? "/PAT%03llu/IMG%05llu.Z" : "/PAT%03llu/%08llu.AR", i / 50, i);
            },
            [small, container](std::uint64_t i, std::uint64_t& image) {
                const std::string dicom = corpus::MakeDicom(i, i < small ? 256 * 1024 : 4 * 1024 * 1024);
                image = dicom.size();
                return corpus::Gzip(container ? corpus::WrapContainer(dicom, i) : dicom);
            });
    }

    ~Bench()
    {
        if (!m_disk.empty()) {
            fs::remove_all(m_disk);
        }
    }

    void Plain();
    void Compressed();
    void Durable();
    void Scale();
    void Drive();
    void Window();

private:
    struct Measured
    {
        std::vector<double> floor;
        std::vector<double> ours;
        std::vector<double> cpu;
        long peakKiB = 0;
    };

    std::vector<std::string> CliArgs(const std::string& pacs, const Tree& tree, const std::string& dest = {}) const
    {
        return {m_cli, "--quiet", "--pacs", pacs, "--source", tree.path, "--dest", dest.empty() ? Dest() : dest,
            "--temp", Temp()};
    }
    std::string Dest() const { return m_root + "/dest"; }
    std::string Temp() const { return m_root + "/temp"; }
    // A destination on the disk, for the figures where syncing costs what it costs in a clinic.
    std::string DiskDest()
    {
        if (m_disk.empty()) {
            m_disk = bench::MakeWorkFolder(m_diskParent);
            std::fprintf(stderr, "destinations on the disk in %s\n", m_disk.c_str());
        }
        return m_disk + "/dest";
    }

    void Prepare(const std::string& dest = {}) const
    {
        const std::string folder = dest.empty() ? Dest() : dest;
        fs::remove_all(folder);
        fs::remove_all(m_root + "/program/Logs");
        fs::create_directories(folder);
        fs::create_directories(Temp());
    }

    // Runs the program on the tree and checks that every image arrived (in dest: Dest() by default).
    bench::ProgramRun Migrate(const std::vector<std::string>& args, std::uint64_t images, const std::string& out = "",
        const std::string& dest = {})
    {
        Prepare(dest);
        const bench::ProgramRun run = bench::RunProgram(args, out);
        std::uint64_t written = 0;
        for (const auto& entry : fs::directory_iterator(dest.empty() ? Dest() : dest)) {
            written += entry.is_regular_file() ? 1 : 0;
        }
        if (run.status != 0 || written != images) {
            std::fprintf(stderr, "%s ended with status %d and %llu files, expected %llu\n", args[0].c_str(), run.status,
                static_cast<unsigned long long>(written), static_cast<unsigned long long>(images));
            std::exit(1);
        }
        return run;
    }

    // One warm-up round, then rounds of the floor (the sum of its commands' times) and of our run.
    Measured Measure(const std::vector<std::string>& floorCommands, const std::function<bench::ProgramRun()>& ours)
    {
        Measured m;
        for (int round = -1; round < m_rounds; ++round) {
            double floor = 0;
            for (const std::string& command : floorCommands) {
                floor += bench::TimeCommand(command);
            }
            fs::remove_all(m_root + "/copy");
            const bench::ProgramRun run = ours();
            if (round >= 0) {
                m.floor.push_back(floor);
                m.ours.push_back(run.seconds);
                m.cpu.push_back(run.cpuSeconds / run.seconds);
                m.peakKiB = std::max(m.peakKiB, run.maxResidentKiB);
            }
        }
        return m;
    }

    std::string m_root;
    std::string m_diskParent;
    std::string m_disk; // made on first use
    int m_rounds;
    bool m_quick;
    std::string m_cli;
    Tree m_small;
    Tree m_large;
};

std::string Quote(const std::string& path)
{
    return "'" + path + "'";
}

std::string Label(std::uint64_t files, const char* what)
{
    return Numbered("%llu ", files) + what;
}

void Bench::Plain()
{
    for (const Tree* tree : {&SmallTree(), &LargeTree()}) {
        const std::vector<std::string> floor = {"cp -r " + Quote(tree->path) + " " + Quote(m_root + "/copy"),
            "find " + Quote(tree->path) + " -type f -print0 | xargs -0 openssl dgst -sha256 >/dev/null"};
        for (const char* pacs : {"HIPAX", "GEMED"}) {
            std::fprintf(stderr, "%s, %s\n", pacs, tree->path.c_str());
            const Measured m = Measure(floor, [&] { return Migrate(CliArgs(pacs, *tree), tree->files); });
            const double floorTime = bench::Median(m.floor), ours = bench::Median(m.ours);
            AddRow({std::string(pacs) + ", "
                    + Label(tree->files, tree == &m_small ? "files of 1-64 KiB" : "files of 8-32 MiB"),
                "cp -r + openssl dgst -sha256", Seconds(floorTime), Seconds(ours), ours / floorTime, "<= 1.25"});
        }
    }
}

void Bench::Compressed()
{
    const bool libdeflate = std::system("command -v libdeflate-gunzip >/dev/null") == 0;
    if (!libdeflate) {
        std::fprintf(stderr, "libdeflate-gunzip is missing (Debian package libdeflate-tools): its rows are left out\n");
    }
    for (const char* pacs : {"Arzt und Praxis", "STARC"}) {
        const Tree tree = CompressedTree(pacs);
        const std::string files = "find " + Quote(tree.path) + " -type f -print0 | xargs -0 ";
        bench::TimeCommand(files + "cat >/dev/null"); // into the page cache
        std::fprintf(stderr, "%s, %s\n", pacs, tree.path.c_str());
        const Measured gzip
            = Measure({files + "gzip -dc >/dev/null"}, [&] { return Migrate(CliArgs(pacs, tree), tree.files); });
        const double ours = bench::Median(gzip.ours);
        const std::string label = std::string(pacs) + ", " + Label(tree.files, "gzip images (256 KiB, 4 MiB)");
        AddRow({label, "gzip -dc", Seconds(bench::Median(gzip.floor)), Seconds(ours), ours / bench::Median(gzip.floor),
            "<= 0.50"});
        if (libdeflate) {
            const Measured fast = Measure(
                {files + "libdeflate-gunzip -c >/dev/null"}, [&] { return Migrate(CliArgs(pacs, tree), tree.files); });
            const double oursAgain = bench::Median(fast.ours);
            AddRow({label, "libdeflate-gunzip -c", Seconds(bench::Median(fast.floor)), Seconds(oursAgain),
                oursAgain / bench::Median(fast.floor), "<= 1.30"});
        }
        const double allowed = static_cast<double>(tree.largestImage) / 1024.0 + 64 * 1024;
        AddRow({std::string(pacs) + ", peak memory", "largest image + 64 MiB", MiB(allowed),
            MiB(static_cast<double>(gzip.peakKiB)), static_cast<double>(gzip.peakKiB) / allowed, "<= 1.00"});
        AddRow({std::string(pacs) + ", processor use (user + system) / wall", "one core", "1.00",
            Format("%.2f", bench::Median(gzip.cpu)), bench::Median(gzip.cpu), "(2 cores)"});
        fs::remove_all(tree.path);
    }
}

void Bench::Durable()
{
    const std::uint64_t count = Scaled(2000);
    const Tree tree = WriteTree(
        m_root + "/durable", count, [](std::uint64_t i) { return Numbered("/PAT%03llu/IMG%05llu.Z", i / 50, i); },
        [](std::uint64_t i, std::uint64_t& image) {
            const std::string dicom = corpus::MakeDicom(i, 256 * 1024);
            image = dicom.size();
            return corpus::Gzip(corpus::WrapContainer(dicom, i));
        });
    const std::string disk = DiskDest();
    std::vector<double> onDisk, onTmpfs;
    for (int round = -1; round < m_rounds; ++round) {
        std::fprintf(stderr, "Arzt und Praxis into tmpfs and into %s\n", disk.c_str());
        const double memory = Migrate(CliArgs("Arzt und Praxis", tree), count).seconds;
        const double written = Migrate(CliArgs("Arzt und Praxis", tree, disk), count, "", disk).seconds;
        if (round >= 0) {
            onTmpfs.push_back(memory);
            onDisk.push_back(written);
        }
    }
    const double floor = bench::Median(onTmpfs), ours = bench::Median(onDisk);
    AddRow({"Arzt und Praxis, " + Label(count, "images of 256 KiB: destination on the disk"), "destination on tmpfs",
        Seconds(floor), Seconds(ours), ours / floor, "<= 1.10"});
    fs::remove_all(disk);
    fs::remove_all(tree.path);
}

void Bench::Scale()
{
    const std::uint64_t big = Scaled(100000), base = Scaled(1000);
    // What a run costs beside its files (start, the DICOM dictionary, the report, the end) is left
    // out of the time per file: it would flatter the large run, whose many files share it. A run of
    // one file measures it.
    const Tree single = PlainTree("single", 1, 2048, 2048, [](std::uint64_t) { return std::string("/"); });
    const double fixed = bench::Median(Measure({}, [&] { return Migrate(CliArgs("HIPAX", single), 1); }).ours);
    std::fprintf(stderr, "  a run of one file takes %.1f ms\n", fixed * 1000);
    fs::remove_all(single.path);
    for (const bool deep : {false, true}) {
        // Deep: ten files and up to ten folders in each folder, the digits of the number as the path.
        const auto folderOf = [deep](std::uint64_t i) {
            std::string path;
            if (deep) {
                for (const char digit : std::to_string(i / 10)) {
                    path += std::string("/D") + digit;
                }
            }
            return path + "/";
        };
        const char* shape = deep ? "deep tree" : "one folder";
        double perFile[2] = {0, 0};
        long peak[2] = {0, 0};
        int k = 0;
        for (const std::uint64_t count : {base, big}) {
            const Tree tree = PlainTree("scale", count, 2048, 2048, folderOf);
            std::fprintf(stderr, "HIPAX, %s\n", tree.path.c_str());
            const Measured m = Measure({}, [&] { return Migrate(CliArgs("HIPAX", tree), tree.files); });
            perFile[k] = (bench::Median(m.ours) - fixed) / static_cast<double>(count - 1);
            peak[k] = m.peakKiB;
            ++k;
            fs::remove_all(tree.path);
        }
        AddRow({Numbered("HIPAX, %llu files of 2 KiB in ", big) + shape + ": time per file (one-file run left out)",
            Numbered("%llu files", base), Format("%.1f us", perFile[0] * 1e6), Format("%.1f us", perFile[1] * 1e6),
            perFile[1] / perFile[0], "<= 1.20"});
        AddRow({Numbered("HIPAX, %llu files in ", big) + shape + ": peak memory",
            Numbered("%llu files: ", base) + MiB(static_cast<double>(peak[0])), "100 MiB",
            MiB(static_cast<double>(peak[1])), static_cast<double>(peak[1]) / (100 * 1024), "<= 1.00"});
    }

    // One image of 1 GiB (a tenth with --quick), gzip level 1 to keep the writing short.
    const std::size_t hugeBytes = m_quick ? (std::size_t {100} << 20) : (std::size_t {1} << 30);
    for (const char* pacs : {"Arzt und Praxis", "STARC", "HIPAX"}) {
        const std::string p = pacs;
        const Tree tree = WriteTree(
            m_root + "/huge", 1,
            [&p](std::uint64_t) { return p == "HIPAX" ? "/HUGE.DCM"
                                      : p == "STARC"  ? "/00000001.AR"
                                                      : "/HUGE.Z"; },
            [&p, hugeBytes](std::uint64_t i, std::uint64_t& image) {
                const std::string dicom = corpus::MakeDicom(i, hugeBytes);
                image = dicom.size();
                return p == "HIPAX" ? dicom : corpus::Gzip(p == "STARC" ? dicom : corpus::WrapContainer(dicom, i), 1);
            });
        std::fprintf(stderr, "%s, one image of %llu bytes\n", pacs, static_cast<unsigned long long>(tree.largestImage));
        const Measured m = Measure({}, [&] { return Migrate(CliArgs(pacs, tree), 1); });
        const double allowed = static_cast<double>(tree.largestImage) / 1024.0 + 64 * 1024;
        AddRow({p + ", "
                + Format("one image of %.0f MiB: peak memory", static_cast<double>(tree.largestImage) / 1048576.0),
            "image + 64 MiB", MiB(allowed), MiB(static_cast<double>(m.peakKiB)),
            static_cast<double>(m.peakKiB) / allowed, "<= 1.00"});
        fs::remove_all(tree.path);
    }
}

void Bench::Drive()
{
    const std::string disc = m_root + "/drive-disc", report = m_root + "/drive-report";
    // Runs a command through the drive; its time and the drive's seeks.
    const auto throughDrive = [&](const char* rate, const char* seekMs, const std::string& command) {
        fs::remove(report);
        const double seconds = bench::TimeCommand("ZP_DRIVE_ROOT=" + Quote(disc) + " ZP_DRIVE_RATE=" + rate
            + " ZP_DRIVE_SEEK_MS=" + seekMs + " ZP_DRIVE_REPORT=" + Quote(report)
            + " LD_PRELOAD=" + Quote(ZP_DRIVE_SHIM) + " " + command + " >/dev/null");
        long seeks = -1;
        std::ifstream in(report);
        std::string word;
        in >> word >> seeks;
        return std::pair {seconds, seeks};
    };
    for (const char* pacs : {"Arzt und Praxis", "GEMED", "HIPAX", "STARC"}) {
        fs::remove_all(disc);
        corpus::DiscShape shape;
        shape.images = Scaled(400);
        shape.pixelBytes = 256 * 1024;
        shape.imagesPerFolder = 25;
        const long long files = corpus::WriteDisc(pacs, disc, shape);
        long folders = 0;
        for (const auto& entry : fs::recursive_directory_iterator(disc)) {
            folders += entry.is_directory() ? 1 : 0;
        }
        for (const auto& [speed, rate, seekMs] :
            {std::tuple {"CD (8 MB/s, 80 ms)", "8000000", "80"}, {"DVD (21 MB/s, 100 ms)", "21000000", "100"}}) {
            std::fprintf(stderr, "%s through the drive at %s\n", pacs, speed);
            const auto [floor, floorSeeks]
                = throughDrive(rate, seekMs, Quote(ZP_READ_IN_ORDER) + " " + Quote(pacs) + " " + Quote(disc));
            Prepare(DiskDest());
            const auto [ours, seeks] = throughDrive(rate, seekMs,
                Quote(m_cli) + " --quiet --pacs " + Quote(pacs) + " --source " + Quote(disc) + " --dest "
                    + Quote(DiskDest()) + " --temp " + Quote(Temp()));
            const std::string label = std::string(pacs) + ", " + Label(static_cast<std::uint64_t>(files), "files")
                + " in " + std::to_string(folders + 1) + " folders, " + speed;
            AddRow({label, "read in walk order", Seconds(floor) + ", " + std::to_string(floorSeeks) + " seeks",
                Seconds(ours) + ", " + std::to_string(seeks) + " seeks", ours / floor,
                "<= 1.05, <= " + std::to_string(folders + 2) + " seeks"});
        }
    }
    fs::remove_all(disc);
}

void Bench::Window()
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string output = m_root + "/window-run.txt";
    for (const Tree* tree : {&SmallTree(), &LargeTree()}) {
        std::vector<double> window, cli, gaps;
        for (int round = -1; round < m_rounds; ++round) {
            const bench::ProgramRun headless = Migrate(CliArgs("HIPAX", *tree), tree->files);
            Migrate({ZP_WINDOW_RUN, m_root + "/program", "HIPAX", tree->path, Dest(), Temp()}, tree->files, output);
            std::ifstream in(output);
            std::string line;
            std::getline(in, line);
            double seconds = 0, gap = 0;
            if (std::sscanf(line.c_str(), "seconds=%lf longest_gap_ms=%lf", &seconds, &gap) != 2) {
                std::fprintf(stderr, "the window run printed: %s\n", line.c_str());
                std::exit(1);
            }
            if (round >= 0) {
                cli.push_back(headless.seconds);
                window.push_back(seconds);
                gaps.push_back(gap);
            }
        }
        const std::string label = "HIPAX through the window, "
            + Label(tree->files, tree == &m_small ? "files of 1-64 KiB" : "files of 8-32 MiB");
        const double ours = bench::Median(window), floor = bench::Median(cli);
        AddRow({label, "zet-pelta-cli", Seconds(floor), Seconds(ours), ours / floor, "<= 1.10"});
        const double gap = *std::max_element(gaps.begin(), gaps.end());
        AddRow({label + ": longest event-loop gap (all rounds)", "target", "100 ms", Format("%.1f ms", gap), gap / 100,
            "< 1.00"});
    }
}

} // namespace

int main(int argc, char** argv)
{
    const auto options = bench::ParseOptions(argc, argv,
        {{"only", "plain,compressed,durable,scale,window,drive"}, {"rounds", "5"}, {"quick", "0"}, {"dir", ""},
            {"disk", "/var/tmp"}});
    const int rounds = std::max(1, static_cast<int>(bench::Number(options.at("rounds"))));
    std::set<std::string> sections;
    std::stringstream only(options.at("only"));
    for (std::string name; std::getline(only, name, ',');) {
        sections.insert(name);
    }
    const std::string root = bench::MakeWorkFolder(options.at("dir"));
    std::fprintf(stderr, "zet-pelta-bench: %d rounds after a warm-up, in %s\n", rounds, root.c_str());
    auto bench = std::make_unique<Bench>(root, options.at("disk"), rounds, options.at("quick") == "1");
    const std::map<std::string, void (Bench::*)()> steps
        = {{"plain", &Bench::Plain}, {"compressed", &Bench::Compressed}, {"durable", &Bench::Durable},
            {"scale", &Bench::Scale}, {"window", &Bench::Window}, {"drive", &Bench::Drive}};
    for (const char* section : {"plain", "compressed", "durable", "scale", "window", "drive"}) {
        if (sections.contains(section)) {
            ((*bench).*steps.at(section))();
        }
    }
    bench.reset(); // its folder on the disk with it
    fs::remove_all(root);

    std::printf("| figure | floor | floor value | ours | ratio | target |\n|---|---|---|---|---|---|\n");
    for (const Row& row : g_rows) {
        std::printf("| %s | %s | %s | %s | %.2f | %s |\n", row.figure.c_str(), row.floorName.c_str(), row.floor.c_str(),
            row.ours.c_str(), row.ratio, row.target.c_str());
    }
    std::printf("Median of %d rounds after a warm-up; times are wall-clock seconds with the source in the page cache"
                "%s.\n",
        rounds, sections.contains("drive") ? " (the drive rows: one round through the emulated drive)" : "");
    return 0;
}
