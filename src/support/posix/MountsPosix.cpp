#include "support/Mounts.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/FileSystem.h"

namespace support {

namespace {

// Mount points in mountinfo have blanks, tabs, line breaks and backslashes written as octal escapes.
std::string Unescaped(const std::string& field)
{
    std::string text;
    const auto octal = [](char c) { return c >= '0' && c <= '7'; };
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && octal(field[i + 1]) && octal(field[i + 2])
            && octal(field[i + 3])) {
            text += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

std::string Canonical(const std::string& path)
{
    std::error_code error;
    const auto canonical = std::filesystem::canonical(path, error);
    return error ? std::string() : canonical.string();
}

bool IsAtOrBelow(const std::string& path, const std::string& folder)
{
    return path == folder || (path.starts_with(folder) && (folder == "/" || path[folder.size()] == '/'));
}

// A disc image mounted with fuseiso: its mount names no file, but the fuseiso process that serves
// it has the image among its arguments.
std::string ImageOfFuseMount(const Mount& mount)
{
    FolderListing processes;
    if (mount.fsType != "fuse.fuseiso" || ListFolder("/proc", processes)) {
        return {};
    }
    for (const std::string& pid : processes.folders) {
        std::ifstream in("/proc/" + pid + "/cmdline", std::ios::binary);
        std::vector<std::string> args;
        for (std::string arg; std::getline(in, arg, '\0');) {
            args.push_back(arg);
        }
        if (args.size() < 3 || NameOf(args[0]) != "fuseiso") {
            continue;
        }
        const std::string cwd = Canonical("/proc/" + pid + "/cwd");
        const auto resolve
            = [&cwd](const std::string& arg) { return Canonical(arg.starts_with('/') ? arg : cwd + "/" + arg); };
        std::vector<std::string> operands;
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (!args[i].starts_with('-')) {
                operands.push_back(args[i]);
            }
        }
        if (operands.size() >= 2 && resolve(operands[1]) == mount.mountPoint) {
            return resolve(operands[0]);
        }
    }
    return {};
}

// Runs a program found on PATH and waits for it; an error unless it ends with status 0.
std::error_code RunProgram(std::vector<std::string> arguments)
{
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    if (const int error = ::posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ)) {
        return {error, std::generic_category()};
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return LastError();
        }
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? std::error_code {}
                                                         : std::make_error_code(std::errc::operation_not_permitted);
}

} // namespace

std::vector<Mount> ListMounts()
{
    // Each line: id, parent, major:minor, root, mount point, options, optional fields, "-", type,
    // source, super options.
    std::vector<Mount> mounts;
    std::ifstream in("/proc/self/mountinfo");
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        Mount mount;
        std::string parent, point, field;
        if (!(fields >> mount.id >> parent >> mount.deviceNumber >> mount.root >> point)) {
            continue;
        }
        while (fields >> field && field != "-") { }
        if (fields >> mount.fsType >> mount.device) {
            mount.mountPoint = Unescaped(point);
            mount.root = Unescaped(mount.root);
            mount.device = Unescaped(mount.device);
            mounts.push_back(std::move(mount));
        }
    }
    return mounts;
}

std::optional<Mount> MountOf(const std::string& path)
{
    const std::string canonical = Canonical(path);
    std::optional<Mount> found;
    if (canonical.empty()) {
        return found;
    }
    // Later lines are mounted later: over an earlier mount at the same point, the later one is seen.
    for (Mount& mount : ListMounts()) {
        if (IsAtOrBelow(canonical, mount.mountPoint)
            && (!found || mount.mountPoint.size() >= found->mountPoint.size())) {
            found = std::move(mount);
        }
    }
    return found;
}

std::vector<Mount> MountsAtOrBelow(const std::string& folder)
{
    const std::string canonical = Canonical(folder);
    std::vector<Mount> found;
    for (Mount& mount : ListMounts()) {
        if (!canonical.empty() && IsAtOrBelow(mount.mountPoint, canonical)) {
            found.push_back(std::move(mount));
        }
    }
    return found;
}

VolumeName NameOfVolume(const Mount& mount)
{
    const std::string image = ImageOfFuseMount(mount);
    const std::string from = image.empty() ? mount.device : image;
    if (!from.starts_with('/')) {
        return {};
    }
    blkid_probe probe = blkid_new_probe_from_filename(from.c_str());
    if (probe == nullptr) {
        return {};
    }
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID);
    VolumeName name;
    if (blkid_do_safeprobe(probe) == 0) {
        const char* value = nullptr;
        if (blkid_probe_lookup_value(probe, "LABEL", &value, nullptr) == 0) {
            name.label = value;
        }
        if (blkid_probe_lookup_value(probe, "UUID", &value, nullptr) == 0) {
            name.serial = value;
        }
    }
    blkid_free_probe(probe);
    return name;
}

bool IsOpticalDrive(const Mount& mount)
{
    const std::string device = NameOf(Canonical(mount.device).empty() ? mount.device : Canonical(mount.device));
    return mount.device.starts_with("/dev/") && (device.starts_with("sr") || device.starts_with("scd"));
}

std::error_code EjectDisc(const Mount& disc)
{
    if (!IsOpticalDrive(disc)) {
        return std::make_error_code(std::errc::not_supported);
    }
    const std::string drive = Canonical(disc.device).empty() ? disc.device : Canonical(disc.device);
    std::vector<Mount> mounts = ListMounts();
    // The latest first: one mounted over another, or below it, is undone before it.
    for (auto mount = mounts.rbegin(); mount != mounts.rend(); ++mount) {
        const std::string device = Canonical(mount->device).empty() ? mount->device : Canonical(mount->device);
        if (device != drive) {
            continue;
        }
        if (::umount2(mount->mountPoint.c_str(), 0) != 0) {
            if (errno != EPERM) {
                return LastError();
            }
            if (const auto error = RunProgram({"umount", mount->mountPoint})) {
                return error;
            }
        }
    }
    const int fd = ::open(disc.device.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
        return LastError();
    }
    const std::error_code error = ::ioctl(fd, CDROMEJECT, 0) == 0 ? std::error_code {} : LastError();
    ::close(fd);
    return error;
}

} // namespace support
