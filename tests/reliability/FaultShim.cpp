// A preload library that makes chosen file calls of the program fail, for the reliability tests:
//
//   LD_PRELOAD=libzp_faultshim.so ZP_FAULTS="write:ENOSPC:.part:2:1;rename:EIO:.dcm:0:0" zet-pelta-cli ...
//
// Each fault, separated by ';', is call:effect:path:skip:count. call is one of open, read, write,
// copy_file_range, close, rename, renameat2, link; effect an errno name, or "short" for a read or write
// that moves only half the bytes asked for; path a fragment that the file's path (for calls on an open
// file: the path it was opened under) must contain; skip how many matching calls pass first; count
// how many fail then (0: every one after). The effect "stop" stops the process (SIGSTOP) just before
// the call, so that a test can kill it at that very point. Calls that match no fault go through.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Fault
{
    std::string call;
    int error = 0; // 0 with shortTransfer
    bool shortTransfer = false;
    bool stop = false;
    std::string path;
    long skip = 0;
    long count = 0;
    long seen = 0;
};

int ErrnoByName(const std::string& name)
{
    static const std::pair<const char*, int> names[]
        = {{"ENOSPC", ENOSPC}, {"EIO", EIO}, {"EACCES", EACCES}, {"EXDEV", EXDEV}, {"EINVAL", EINVAL}, {"EPERM", EPERM},
            {"EDQUOT", EDQUOT}, {"EFBIG", EFBIG}, {"ENOENT", ENOENT}, {"EMLINK", EMLINK}};
    for (const auto& [text, value] : names) {
        if (name == text) {
            return value;
        }
    }
    std::fprintf(stderr, "faultshim: unknown errno %s\n", name.c_str());
    std::abort();
}

std::vector<Fault>& Faults()
{
    static std::vector<Fault> faults = [] {
        std::vector<Fault> parsed;
        const char* setting = std::getenv("ZP_FAULTS");
        std::string text = setting ? setting : "";
        std::size_t start = 0;
        while (start < text.size()) {
            const std::size_t end = std::min(text.find(';', start), text.size());
            std::vector<std::string> parts;
            std::size_t field = start;
            while (field <= end) {
                const std::size_t colon = std::min(text.find(':', field), end);
                parts.push_back(text.substr(field, colon - field));
                field = colon + 1;
            }
            if (parts.size() != 5) {
                std::fprintf(stderr, "faultshim: bad fault %s\n", text.substr(start, end - start).c_str());
                std::abort();
            }
            Fault fault;
            fault.call = parts[0];
            fault.shortTransfer = parts[1] == "short";
            fault.stop = parts[1] == "stop";
            fault.error = fault.shortTransfer || fault.stop ? 0 : ErrnoByName(parts[1]);
            fault.path = parts[2];
            fault.skip = std::atol(parts[3].c_str());
            fault.count = std::atol(parts[4].c_str());
            parsed.push_back(fault);
            start = end + 1;
        }
        return parsed;
    }();
    return faults;
}

std::string PathOf(int fd)
{
    char link[64];
    char target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// The fault that this call meets, if any; counts the call for every fault it matches.
Fault* Meet(const char* call, const std::string& path, const std::string& otherPath = {})
{
    for (Fault& fault : Faults()) {
        if (fault.call != call
            || (path.find(fault.path) == std::string::npos && otherPath.find(fault.path) == std::string::npos)) {
            continue;
        }
        const long index = fault.seen++;
        if (index < fault.skip || (fault.count != 0 && index >= fault.skip + fault.count)) {
            continue;
        }
        if (fault.stop) {
            ::raise(SIGSTOP);
            continue;
        }
        return &fault;
    }
    return nullptr;
}

template <typename Function> Function Real(const char* name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

int open(const char* path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    if (Fault* fault = Meet("open", path)) {
        errno = fault->error;
        return -1;
    }
    static auto real = Real<int (*)(const char*, int, ...)>("open");
    return real(path, flags, mode);
}

ssize_t read(int fd, void* buffer, size_t size)
{
    static auto real = Real<ssize_t (*)(int, void*, size_t)>("read");
    if (Fault* fault = Meet("read", PathOf(fd))) {
        if (fault->shortTransfer) {
            return real(fd, buffer, size > 1 ? size / 2 : size);
        }
        errno = fault->error;
        return -1;
    }
    return real(fd, buffer, size);
}

ssize_t write(int fd, const void* buffer, size_t size)
{
    static auto real = Real<ssize_t (*)(int, const void*, size_t)>("write");
    if (Fault* fault = Meet("write", PathOf(fd))) {
        if (fault->shortTransfer) {
            return real(fd, buffer, size > 1 ? size / 2 : size);
        }
        errno = fault->error;
        return -1;
    }
    return real(fd, buffer, size);
}

ssize_t copy_file_range(int in, off64_t* inOffset, int out, off64_t* outOffset, size_t size, unsigned flags)
{
    static auto real = Real<ssize_t (*)(int, off64_t*, int, off64_t*, size_t, unsigned)>("copy_file_range");
    if (Fault* fault = Meet("copy_file_range", PathOf(out), PathOf(in))) {
        if (fault->shortTransfer) {
            return real(in, inOffset, out, outOffset, size > 1 ? size / 2 : size, flags);
        }
        errno = fault->error;
        return -1;
    }
    return real(in, inOffset, out, outOffset, size, flags);
}

int close(int fd)
{
    static auto real = Real<int (*)(int)>("close");
    if (Fault* fault = Meet("close", PathOf(fd))) {
        real(fd); // the descriptor is gone either way, as after a real failed close
        errno = fault->error;
        return -1;
    }
    return real(fd);
}

int rename(const char* from, const char* to)
{
    if (Fault* fault = Meet("rename", from, to)) {
        errno = fault->error;
        return -1;
    }
    static auto real = Real<int (*)(const char*, const char*)>("rename");
    return real(from, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags)
{
    if (Fault* fault = Meet("renameat2", from, to)) {
        errno = fault->error;
        return -1;
    }
    static auto real = Real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    return real(fromDir, from, toDir, to, flags);
}

int link(const char* from, const char* to)
{
    if (Fault* fault = Meet("link", from, to)) {
        errno = fault->error;
        return -1;
    }
    static auto real = Real<int (*)(const char*, const char*)>("link");
    return real(from, to);
}

} // extern "C"
