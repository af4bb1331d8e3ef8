// An emulated optical drive, preloaded into a program (LD_PRELOAD) that reads a disc folder:
//
//   ZP_DRIVE_ROOT=DISC ZP_DRIVE_RATE=8000000 ZP_DRIVE_SEEK_MS=80 ZP_DRIVE_REPORT=FILE LD_PRELOAD=... PROGRAM
//
// The disc's files lie one after the other in the order the migration walks them (a folder's files by
// name, then its sub-folders by name, depth first). Reads are served one at a time: each costs its
// bytes at the drive's rate, and one that does not start where the previous one ended costs a seek
// first. The program waits for the drive as it would for a real one. At its end the report file gets
// a line "seeks N busy_s X bytes B".
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
    std::mutex lock; // one request at a time
    std::map<ino_t, std::uint64_t> start; // where each file of the disc begins
    std::map<int, ino_t> open; // descriptors of disc files
    std::uint64_t headAt = ~std::uint64_t {0};
    double rate = 8e6;
    double seekSeconds = 0.08;
    long seeks = 0;
    double busy = 0;
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
        }
        g_laying = false;
    }
    ~Drive()
    {
        if (std::FILE* out = report.empty() ? nullptr : std::fopen(report.c_str(), "a")) {
            std::fprintf(
                out, "seeks %ld busy_s %.3f bytes %llu\n", seeks, busy, static_cast<unsigned long long>(bytes));
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
    void Serve(int fd, std::uint64_t offset, std::size_t count)
    {
        const std::lock_guard<std::mutex> guard(lock);
        const auto file = open.find(fd);
        if (file == open.end() || count == 0) {
            return;
        }
        const std::uint64_t position = start[file->second] + offset;
        double cost = static_cast<double>(count) / rate;
        if (position != headAt) {
            ++seeks;
            cost += seekSeconds;
        }
        headAt = position + count;
        busy += cost;
        bytes += count;
        std::this_thread::sleep_for(std::chrono::duration<double>(cost));
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
    const off_t offset = ::lseek(fd, 0, SEEK_CUR);
    const ssize_t got = Real<ssize_t (*)(int, void*, size_t)>("read")(fd, buffer, count);
    if (got > 0 && offset >= 0 && !g_laying) {
        TheDrive().Serve(fd, static_cast<std::uint64_t>(offset), static_cast<std::size_t>(got));
    }
    return got;
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset)
{
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
