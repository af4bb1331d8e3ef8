// A preload library that makes chosen file calls of the program fail, for the reliability tests:
//
//   LD_PRELOAD=libzp_faultshim.so ZP_FAULTS="write:ENOSPC:.part:2:1;renameat2:EIO:.dcm:0:0" zet-pelta-cli ...
//
// Each fault, separated by ';', is call:effect:path:skip:count. call is one of open, read, write,
// close, fdatasync, fsync, rename, renameat2, link; effect ENOSPC, EIO, EACCES, EINVAL, EPERM or
// EMFILE, "short" for a read or write that moves only half the bytes asked for, "kill", which kills
// the process (SIGKILL) at that very point, "killafter", which kills it right after the call
// succeeded, "shortkill", which moves half the bytes and then kills it, or "int", which interrupts it
// (SIGINT, as Ctrl+C) and then makes the call; path a fragment that the file's path (for calls on an
// open file: the path it was opened under) must contain, empty for any; skip how many matching calls
// pass first; count how many fail then (0: every one after).
//
//   ZP_TRACE=FILE: the calls that make files durable, in the order they succeeded, one a line: "sync
//   PATH" (fdatasync, fsync, syncfs), "rename FROM TO" (rename, renameat2, link) and "write PATH BYTES"
//   for a .csv file (its line breaks written as '|'), so that a test can check what was durable when a
//   file was named and when a row named it.
//
//   ZP_MAX_ALLOCATION=BYTES: a request for more memory at once than that ends the program (SIGABRT), so
//   that a length read from a file that decides an allocation shows; Linux would grant it, untouched.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Fault
{
    char call[16] = "", effect[16] = "", path[256] = "";
    long skip = 0, count = 0, seen = 0;
};

std::vector<Fault>& Faults()
{
    static std::vector<Fault> faults = [] {
        std::vector<Fault> parsed;
        std::string text = std::getenv("ZP_FAULTS") ? std::getenv("ZP_FAULTS") : "";
        for (char* entry = std::strtok(text.data(), ";"); entry != nullptr; entry = std::strtok(nullptr, ";")) {
            Fault f;
            if (std::sscanf(entry, "%15[^:]:%15[^:]:%255[^:]:%ld:%ld", f.call, f.effect, f.path, &f.skip, &f.count) != 5
                && std::sscanf(entry, "%15[^:]:%15[^:]::%ld:%ld", f.call, f.effect, &f.skip, &f.count) != 4) {
                std::abort();
            }
            parsed.push_back(f);
        }
        return parsed;
    }();
    return faults;
}

std::string PathOf(int fd)
{
    char target[4096];
    const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// The effect this call meets ("" for none); counts the call for every fault it matches.
std::string Meet(const char* call, const std::string& path, const char* other = "")
{
    for (Fault& f : Faults()) {
        if (std::strcmp(f.call, call) == 0 && (path.find(f.path) != std::string::npos || std::strstr(other, f.path))
            && f.seen++ >= f.skip && (f.count == 0 || f.seen <= f.skip + f.count)) {
            if (std::strcmp(f.effect, "kill") == 0) {
                ::raise(SIGKILL);
            }
            return f.effect;
        }
    }
    return "";
}

// Fails the call with the effect's errno and -1, or runs it (a short transfer moves half the bytes).
template <typename Call> auto Run(const std::string& effect, std::size_t size, Call real)
{
    static const std::pair<const char*, int> errors[] = {
        {"ENOSPC", ENOSPC}, {"EIO", EIO}, {"EACCES", EACCES}, {"EINVAL", EINVAL}, {"EPERM", EPERM}, {"EMFILE", EMFILE}};
    for (const auto& [name, error] : errors) {
        if (effect == name) {
            errno = error;
            return decltype(real(size))(-1);
        }
    }
    if (effect == "int") {
        ::raise(SIGINT);
    }
    const bool halved = (effect == "short" || effect == "shortkill") && size > 1;
    const auto result = real(halved ? size / 2 : size);
    if (effect == "killafter" || effect == "shortkill") {
        ::raise(SIGKILL);
    }
    return result;
}

template <typename Function> Function Real(const char* name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

// One line to ZP_TRACE's file, through the real calls; a single write with O_APPEND keeps the lines of
// threads apart.
void Trace(std::string line)
{
    static const int fd = [] {
        const char* path = std::getenv("ZP_TRACE");
        return path == nullptr
            ? -1
            : Real<int (*)(const char*, int, ...)>("open")(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    }();
    if (fd >= 0) {
        line += '\n';
        Real<ssize_t (*)(int, const void*, size_t)>("write")(fd, line.data(), line.size());
    }
}

// A call that makes a file durable: failed as ZP_FAULTS says, traced when it succeeded.
template <typename Call> int Sync(const char* call, int fd, Call real)
{
    const std::string path = PathOf(fd);
    const int result = Run(Meet(call, path), 0, [&](std::size_t) { return real(fd); });
    if (result == 0) {
        Trace("sync " + path);
    }
    return result;
}

template <typename Call> int Named(const char* call, const char* from, const char* to, Call real)
{
    const int result = Run(Meet(call, from, to), 0, [&](std::size_t) { return real(); });
    if (result == 0) {
        Trace(std::string("rename ") + from + " " + to);
    }
    return result;
}

} // namespace

extern "C" {

int open(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const auto mode = (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(args, int)) : mode_t {0};
    va_end(args);
    static auto real = Real<int (*)(const char*, int, ...)>("open");
    return Run(Meet("open", path), 0, [&](std::size_t) { return real(path, flags, mode); });
}

ssize_t read(int fd, void* buffer, size_t size)
{
    static auto real = Real<ssize_t (*)(int, void*, size_t)>("read");
    return Run(Meet("read", PathOf(fd)), size, [&](std::size_t n) { return real(fd, buffer, n); });
}

ssize_t write(int fd, const void* buffer, size_t size)
{
    static auto real = Real<ssize_t (*)(int, const void*, size_t)>("write");
    const std::string path = PathOf(fd);
    const ssize_t written = Run(Meet("write", path), size, [&](std::size_t n) { return real(fd, buffer, n); });
    if (written > 0 && path.ends_with(".csv")) {
        std::string bytes(static_cast<const char*>(buffer), static_cast<std::size_t>(written));
        std::replace(bytes.begin(), bytes.end(), '\n', '|');
        Trace("write " + path + " " + bytes);
    }
    return written;
}

int fdatasync(int fd)
{
    static auto real = Real<int (*)(int)>("fdatasync");
    return Sync("fdatasync", fd, real);
}

int fsync(int fd)
{
    static auto real = Real<int (*)(int)>("fsync");
    return Sync("fsync", fd, real);
}

int syncfs(int fd)
{
    static auto real = Real<int (*)(int)>("syncfs");
    return Sync("syncfs", fd, real);
}

int close(int fd)
{
    static auto real = Real<int (*)(int)>("close");
    const std::string effect = Meet("close", PathOf(fd));
    const int result = real(fd); // the descriptor is gone either way, as after a real failed close
    return Run(effect, 0, [&](std::size_t) { return result; });
}

int rename(const char* from, const char* to)
{
    static auto real = Real<int (*)(const char*, const char*)>("rename");
    return Named("rename", from, to, [&] { return real(from, to); });
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags)
{
    static auto real = Real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    return Named("renameat2", from, to, [&] { return real(fromDir, from, toDir, to, flags); });
}

int link(const char* from, const char* to)
{
    static auto real = Real<int (*)(const char*, const char*)>("link");
    return Named("link", from, to, [&] { return real(from, to); });
}

} // extern "C"

// Not in the sanitizers' build: their runtime owns malloc there, and has its own limit.
#ifndef ZP_SANITIZED
extern "C" void* __libc_malloc(std::size_t size);

extern "C" void* malloc(std::size_t size)
{
    // Read once, without allocating: getenv and strtoull take no memory.
    static const std::size_t limit = [] {
        const char* text = std::getenv("ZP_MAX_ALLOCATION");
        return text == nullptr ? std::size_t {0} : static_cast<std::size_t>(std::strtoull(text, nullptr, 10));
    }();
    if (limit != 0 && size > limit) {
        std::abort();
    }
    return __libc_malloc(size);
}
#endif
