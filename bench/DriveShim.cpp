// An emulated optical drive, preloaded into a program (LD_PRELOAD) that reads a disc folder:
//
//   ZP_DRIVE_ROOT=DISC ZP_DRIVE_RATE=8000000 ZP_DRIVE_SEEK_MS=80 ZP_DRIVE_REPORT=FILE LD_PRELOAD=... PROGRAM
//
// The disc's files lie one after the other in the order the migration walks them (a folder's files by
// name, then its sub-folders by name, depth first). Reads are served one at a time: each costs its
// bytes at the drive's rate, and one that does not start where the previous one ended costs a seek
// first. The program waits for the drive as it would for a real one. At its end the report file gets
// a line "seeks N busy_s X bytes B idle_s Y", idle being the time between its first and last request
// that the drive had nothing to do.
//
// Scratched places: ZP_DRIVE_BAD=PATH:N[,PATH:N...] (paths relative to the disc) makes the first N
// reads of each such file fail with EIO (0: every read), each costing a seek, as a drive that gives up
// on a sector.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// True while the drive lays out the disc: the file calls that makes are not the program's.
std::atomic<bool> g_laying {false};

struct Drive
{
    std::mutex lock; // the tables below; never held while the drive works
    std::mutex serving; // one request at a time: held while the drive works
    std::map<ino_t, std::uint64_t> start; // where each file of the disc begins
    std::map<ino_t, long> bad; // failures left for a scratched file; below zero: it never reads
    std::map<int, ino_t> open; // descriptors of disc files
    std::uint64_t headAt = ~std::uint64_t {0};
    double rate = 8e6;
    double seekSeconds = 0.08;
    long seeks = 0;
    double busy = 0;
    double idle = 0;
    std::chrono::steady_clock::time_point lastDone {};
    std::uint64_t bytes = 0;
    std::string report;

    Drive()
    {
        const char* root = std::getenv("ZP_DRIVE_ROOT");
        if (const char* value = std::getenv("ZP_DRIVE_RATE")) {
            rate = std::atof(value);
        }
        if (const char* value = std::getenv("ZP_DRIVE_SEEK_MS")) {
            seekSeconds = std::atof(value) / 1000;
        }
        if (const char* value = std::getenv("ZP_DRIVE_REPORT")) {
            report = value;
        }
        std::uint64_t at = 0;
        g_laying = true;
        if (root != nullptr) {
            Lay(root, at);
            const std::string scratches = std::getenv("ZP_DRIVE_BAD") != nullptr ? std::getenv("ZP_DRIVE_BAD") : "";
            for (std::size_t from = 0; from < scratches.size();) {
                const std::size_t end = std::min(scratches.find(',', from), scratches.size());
                const std::string entry = scratches.substr(from, end - from);
                const std::size_t colon = entry.rfind(':');
                struct stat st
                { };
                if (colon != std::string::npos
                    && ::stat((std::string(root) + "/" + entry.substr(0, colon)).c_str(), &st) == 0) {
                    const long failures = std::atol(entry.c_str() + colon + 1);
                    bad[st.st_ino] = failures == 0 ? -1 : failures;
                }
                from = end + 1;
            }
        }
        g_laying = false;
    }
    ~Drive()
    {
        if (std::FILE* out = report.empty() ? nullptr : std::fopen(report.c_str(), "a")) {
            std::fprintf(out, "seeks %ld busy_s %.3f bytes %llu idle_s %.3f\n", seeks, busy,
                static_cast<unsigned long long>(bytes), idle);
            std::fclose(out);
        }
    }
    // The walk's order: files by name, then folders by name, depth first; links are not followed.
    void Lay(const std::filesystem::path& folder, std::uint64_t& at)
    {
        std::vector<std::filesystem::path> files, folders;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
            if (entry.is_symlink()) {
                continue;
            }
            (entry.is_directory() ? folders : files).push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        std::sort(folders.begin(), folders.end());
        for (const auto& file : files) {
            struct stat st
            { };
            if (::stat(file.c_str(), &st) == 0) {
                start[st.st_ino] = at;
                at += static_cast<std::uint64_t>(st.st_size);
            }
        }
        for (const auto& sub : folders) {
            Lay(sub, at);
        }
    }
    // True when a read of fd fails on a scratch; it costs the drive a seek.
    bool Scratched(int fd)
    {
        {
            const std::lock_guard<std::mutex> guard(lock);
            const auto file = open.find(fd);
            const auto scratch = file == open.end() ? bad.end() : bad.find(file->second);
            if (scratch == bad.end() || scratch->second == 0) {
                return false;
            }
            scratch->second -= scratch->second > 0 ? 1 : 0;
        }
        const std::lock_guard<std::mutex> turn(serving);
        ++seeks;
        busy += seekSeconds;
        headAt = ~std::uint64_t {0};
        std::this_thread::sleep_for(std::chrono::duration<double>(seekSeconds));
        return true;
    }
    void Serve(int fd, std::uint64_t offset, std::size_t count)
    {
        std::uint64_t position = 0;
        {
            const std::lock_guard<std::mutex> guard(lock);
            const auto file = open.find(fd);
            if (file == open.end() || count == 0) {
                return;
            }
            position = start[file->second] + offset;
        }
        const std::lock_guard<std::mutex> turn(serving); // the program's other files are not on the disc
        double cost = static_cast<double>(count) / rate;
        if (position != headAt) {
            ++seeks;
            cost += seekSeconds;
        }
        headAt = position + count;
        busy += cost;
        bytes += count;
        const auto now = std::chrono::steady_clock::now();
        if (lastDone != std::chrono::steady_clock::time_point {}) {
            idle += std::chrono::duration<double>(now - lastDone).count();
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(cost));
        lastDone = std::chrono::steady_clock::now();
    }
};

Drive& TheDrive()
{
    static Drive drive;
    return drive;
}

template <typename F> F Real(const char* name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

void Opened(int fd)
{
    if (g_laying) {
        return;
    }
    struct stat st
    { };
    Drive& drive = TheDrive();
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const std::lock_guard<std::mutex> guard(drive.lock);
        if (drive.start.contains(st.st_ino)) {
            drive.open[fd] = st.st_ino;
        } else {
            drive.open.erase(fd);
        }
    }
}

} // namespace

extern "C" {

int open(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & O_CREAT) != 0 ? static_cast<mode_t>(va_arg(args, int)) : 0;
    va_end(args);
    const int fd = Real<int (*)(const char*, int, ...)>("open")(path, flags, mode);
    Opened(fd);
    return fd;
}

int openat(int dir, const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & O_CREAT) != 0 ? static_cast<mode_t>(va_arg(args, int)) : 0;
    va_end(args);
    const int fd = Real<int (*)(int, const char*, int, ...)>("openat")(dir, path, flags, mode);
    Opened(fd);
    return fd;
}

ssize_t read(int fd, void* buffer, size_t count)
{
    if (!g_laying && TheDrive().Scratched(fd)) {
        errno = EIO;
        return -1;
    }
    const off_t offset = ::lseek(fd, 0, SEEK_CUR);
    const ssize_t got = Real<ssize_t (*)(int, void*, size_t)>("read")(fd, buffer, count);
    if (got > 0 && offset >= 0 && !g_laying) {
        TheDrive().Serve(fd, static_cast<std::uint64_t>(offset), static_cast<std::size_t>(got));
    }
    return got;
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset)
{
    if (!g_laying && TheDrive().Scratched(fd)) {
        errno = EIO;
        return -1;
    }
    const ssize_t got = Real<ssize_t (*)(int, void*, size_t, off_t)>("pread")(fd, buffer, count, offset);
    if (got > 0 && !g_laying) {
        TheDrive().Serve(fd, static_cast<std::uint64_t>(offset), static_cast<std::size_t>(got));
    }
    return got;
}

int close(int fd)
{
    if (!g_laying) {
        Drive& drive = TheDrive();
        const std::lock_guard<std::mutex> guard(drive.lock);
        drive.open.erase(fd);
    }
    return Real<int (*)(int)>("close")(fd);
}

} // extern "C"
