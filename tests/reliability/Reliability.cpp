#include "Reliability.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <random>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testing_support {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view Marker = "#*lastfile*#";

// Image bytes without zero bytes and without the container's end marker, different for every index.
std::string Body(int index, std::size_t size)
{
    std::mt19937 random(static_cast<unsigned>(index) * 7919u + 1);
    std::string body = "DICM image " + std::to_string(index) + " ";
    while (body.size() < size) {
        body += static_cast<char>('A' + random() % 26);
    }
    return body;
}

std::string ImagePath(int index, const std::string& extension)
{
    char name[32];
    std::snprintf(name, sizeof name, "IMG%04d", index);
    const std::string folder = index % 4 == 0 ? "" : "PAT" + std::to_string(index % 3) + "/ST1/";
    return folder + name + extension;
}

} // namespace

Disc Disc::Make(const std::string& pacs, int images, std::size_t imageBytes)
{
    Disc disc {pacs, {}};
    for (int i = 0; i < images; ++i) {
        const std::string body = Body(i, imageBytes + static_cast<std::size_t>(i) * 97);
        if (pacs == "HIPAX" || pacs == "GEMED") {
            disc.files.push_back({ImagePath(i, ""), body, true, false, body});
        } else if (pacs == "Arzt und Praxis") {
            const std::string container
                = "AUP HEADER " + std::to_string(i) + " " + '\0' + body + std::string(Marker) + "TRAILER";
            disc.files.push_back({ImagePath(i, i % 5 == 4 ? ".R" : ".Z"), Filter("gzip -c -n", container), true, false,
                container.substr(container.find('\0'), body.size() + 1)});
        } else {
            const std::string compressor = i % 2 == 0 ? "gzip -c -n" : "compress -c -f";
            disc.files.push_back({ImagePath(i, ".AR"), Filter(compressor, body), true, false, body});
        }
    }
    if (pacs == "GEMED") {
        disc.files.push_back({"PAT0/NOTES.TXT", "notes", true, true, std::nullopt});
    } else if (pacs == "Arzt und Praxis") {
        disc.files.push_back({"PAT0/BAD0001.Z", Filter("gzip -c -n", "no zero byte #*lastfile*#"), true, false, {}});
        disc.files.push_back({"PAT1/BROKEN.Z", "not compressed at all", true, false, {}});
        disc.files.push_back({"INDEX.DAT", "index", false, false, {}});
    } else if (pacs == "STARC") {
        disc.files.push_back({"PAT0/BAD.AR", "not compressed at all", true, false, {}});
        disc.files.push_back({"DIR.TXT", "directory", false, false, {}});
    }
    return disc;
}

void Disc::Write(const std::string& root) const
{
    for (const DiscFile& file : files) {
        WriteFile(root + "/" + file.path, file.bytes);
    }
}

int Disc::Selected() const
{
    int count = 0;
    for (const DiscFile& file : files) {
        count += file.selected ? 1 : 0;
    }
    return count;
}

Workplace::Workplace()
{
    MakeFolders(root / "prog");
    fs::copy_file(ZP_CLI_PROGRAM, program);
    MakeFolders(src);
    MakeFolders(dest);
    MakeFolders(temp);
}

Prepared::Prepared(const std::string& pacs, int images, std::size_t bytes)
    : disc(Disc::Make(pacs, images, bytes))
{
    disc.Write(place.src);
    before = Snapshot(place.src);
}

bool PrivateMounts()
{
    static const bool ready = [] {
        if (::unshare(CLONE_NEWNS) != 0) {
            return false;
        }
        return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    }();
    return ready;
}

void MountTmpfs(const std::string& path, const std::string& size)
{
    MakeFolders(path);
    const std::string options = "size=" + size;
    if (::mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        throw std::runtime_error("cannot mount a tmpfs on " + path);
    }
}

void Shell(const std::string& command)
{
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("failed: " + command);
    }
}

RunResult RunCliOn(const std::string& program, const std::vector<std::string>& args, const RunOptions& options)
{
    TempDir io;
    const std::string outPath = io / "out";
    const std::string errPath = io / "err";
    const pid_t child = ::fork();
    if (child == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (!options.faults.empty()) {
            ::setenv("LD_PRELOAD", ZP_FAULT_SHIM, 1);
            // In the sanitizer build the shim comes before the sanitizer's runtime, which is fine here.
            ::setenv("ASAN_OPTIONS",
                (std::string(std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "")
                    + ":verify_asan_link_order=0")
                    .c_str(),
                1);
            ::setenv("ZP_FAULTS", options.faults.c_str(), 1);
        }
        if (options.asNobody && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(126);
        }
        std::vector<char*> argv {const_cast<char*>(program.c_str())};
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }

    RunResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
    for (;;) {
        int status = 0;
        struct rusage usage
        { };
        const pid_t done = ::wait4(child, &status, WNOHANG | WUNTRACED, &usage);
        if (done == child) {
            result.peakKiB = usage.ru_maxrss;
        }
        if (done == child && WIFSTOPPED(status) && options.stopExpected) {
            if (options.stoppedPid) {
                *options.stoppedPid = child;
            }
            result.status = -2;
            break;
        }
        if (done == child && WIFEXITED(status)) {
            result.status = WEXITSTATUS(status);
            break;
        }
        if (done == child && WIFSIGNALED(status)) {
            result.status = 128 + WTERMSIG(status);
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            result.hung = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
}

RunResult RunCli(const Workplace& place, const std::string& pacs, const RunOptions& options)
{
    return RunCliOn(place.program,
        {"--pacs", pacs, "--source", place.src, "--dest", place.dest, "--temp", place.temp, "--quiet"}, options);
}

Destination ReadDestination(const std::string& dest)
{
    Destination found;
    for (const auto& entry : fs::directory_iterator(dest)) {
        const std::string name = entry.path().filename().string();
        if (name == "BadObjects" && entry.is_directory()) {
            for (const auto& bad : fs::directory_iterator(entry.path())) {
                const std::string badName = bad.path().filename().string();
                if (bad.is_regular_file() && badName.ends_with(".err") && !badName.starts_with(".")) {
                    found.quarantined.insert(ReadFile(bad.path().string()));
                } else {
                    found.strays.push_back("BadObjects/" + badName);
                }
            }
        } else if (entry.is_regular_file() && IsDestinationName(name)) {
            found.images.insert(ReadFile(entry.path().string()));
        } else {
            found.strays.push_back(name);
        }
    }
    return found;
}

namespace {

// Whether an error line names one of the file's folders: a folder that cannot be listed is logged
// whole, and the walk never sees its files.
bool LogNamesFolderOf(const std::vector<std::string>& log, const std::string& root, const DiscFile& file)
{
    for (fs::path folder = fs::path(file.path).parent_path(); !folder.empty(); folder = folder.parent_path()) {
        const std::string path = root + "/" + folder.string();
        for (const std::string& line : log) {
            if (line.ends_with(" - " + path)) {
                return true;
            }
        }
    }
    return false;
}

bool LogNames(const std::vector<std::string>& log, const std::string& root, const DiscFile& file)
{
    if (LogNamesFolderOf(log, root, file)) {
        return true;
    }
    const std::vector<std::string> names {file.Name()};
    for (const std::string& line : log) {
        for (const std::string& name : names) {
            if (line.find(name) != std::string::npos) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

Tally Count(const Workplace& place, const Disc& disc)
{
    const Destination found = ReadDestination(place.dest);
    Tally tally;
    for (const DiscFile& file : disc.files) {
        if (!file.selected || file.skipped) {
            continue;
        }
        if (file.image && found.images.count(*file.image) > 0) {
            ++tally.migrated;
        } else if (found.quarantined.count(file.bytes) > 0) {
            ++tally.quarantined;
        } else {
            ++tally.missing;
        }
    }
    return tally;
}

void ExpectInvariant(const Workplace& place, const Disc& disc, const RunResult& run,
    const std::map<std::string, std::string>& sourceBefore)
{
    ASSERT_FALSE(run.hung) << "the program hung";
    ASSERT_LT(run.status, 128) << "the program crashed (signal " << run.status - 128 << ")\n" << run.err;
    const Destination found = ReadDestination(place.dest);
    const auto log = LogLines(place.ErrorLog());
    std::string logText;
    for (const std::string& line : log) {
        logText += line + "\n";
    }

    EXPECT_TRUE(found.strays.empty()) << "not an image: " << found.strays.front();
    std::multiset<std::string> expectedImages;
    std::multiset<std::string> sources;
    for (const DiscFile& file : disc.files) {
        if (!file.selected || file.skipped) {
            continue;
        }
        SCOPED_TRACE(file.path);
        if (file.image) {
            expectedImages.insert(*file.image);
        }
        sources.insert(file.bytes);
        const std::size_t migrated = file.image ? found.images.count(*file.image) : 0;
        const std::size_t quarantined = found.quarantined.count(file.bytes);
        EXPECT_LE(migrated + quarantined, 1u) << "in the destination twice, or migrated and quarantined";
        if (migrated + quarantined == 0) {
            EXPECT_TRUE(LogNames(log, place.src, file)) << "lost without an error line; log:\n" << logText;
        }
    }
    for (const std::string& image : found.images) {
        EXPECT_EQ(expectedImages.count(image), 1u) << "a destination file with wrong bytes (" << image.size() << ")";
    }
    for (const std::string& copy : found.quarantined) {
        EXPECT_EQ(sources.count(copy), 1u) << "a quarantine copy that matches no source";
    }
    EXPECT_FALSE(fs::exists(place.temp + "/TempPelta")) << "work folder left behind";
    EXPECT_EQ(Snapshot(place.src), sourceBefore) << "the source changed";

    if (run.status == 0 || run.status == 1) {
        int seen = 0;
        for (const DiscFile& file : disc.files) {
            seen += file.selected && !LogNamesFolderOf(log, place.src, file) ? 1 : 0;
        }
        const std::string summary = std::to_string(found.images.size()) + " von " + std::to_string(seen)
            + " Dateien konnten erfolgreich migriert werden.";
        EXPECT_EQ(run.out.substr(0, run.out.find('\n')), summary);
        EXPECT_EQ(run.status == 0, log.empty()) << "exit status " << run.status << " with log:\n" << logText;
    }
}

} // namespace testing_support
