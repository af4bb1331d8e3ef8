#include "support/Mounts.h"

#include <cctype>
#include <cstdio>

#include "support/FileSystem.h"
#include "support/windows/WindowsApi.h"

#include <winioctl.h>

// On Windows a disc is a drive letter: its "mount" is the volume in the drive, told apart from the
// one before by its serial number, so that a new disc in the same drive is new.
namespace support {

namespace {

// "D:/" for drive D: paths above the platform files use forward slashes.
std::string RootOf(wchar_t letter)
{
    return std::string(1, static_cast<char>(letter)) + ":/";
}

std::wstring WideRoot(const std::string& mountPoint)
{
    return windows::Wide(mountPoint.substr(0, 2)) + L"\\";
}

std::optional<Mount> VolumeAt(wchar_t letter)
{
    const std::wstring root = std::wstring(1, letter) + L":\\";
    DWORD serial = 0;
    wchar_t system[MAX_PATH + 1] = {};
    // An empty drive answers "not ready": no volume, nothing mounted.
    const UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS);
    const bool there = ::GetVolumeInformationW(root.c_str(), nullptr, 0, &serial, nullptr, nullptr, system, MAX_PATH + 1);
    ::SetErrorMode(oldMode);
    if (!there) {
        return std::nullopt;
    }
    Mount mount;
    mount.id = static_cast<int>(serial);
    mount.mountPoint = RootOf(letter);
    mount.fsType = windows::Utf8(system);
    mount.device = "\\\\.\\" + std::string(1, static_cast<char>(letter)) + ":";
    char number[9];
    std::snprintf(number, sizeof number, "%08lx", static_cast<unsigned long>(serial));
    mount.deviceNumber = number;
    mount.root = "/";
    return mount;
}

// The drive letter of an absolute path, upper case; 0 for anything else (a share, a relative path).
wchar_t LetterOf(const std::string& path)
{
    const std::string absolute = AbsolutePath(path);
    if (absolute.size() < 2 || absolute[1] != ':' || !std::isalpha(static_cast<unsigned char>(absolute[0]))) {
        return 0;
    }
    return static_cast<wchar_t>(std::toupper(static_cast<unsigned char>(absolute[0])));
}

// True when path names the top of its drive ("D:", "D:/", "D:\").
bool IsDriveTop(const std::string& path)
{
    const std::string absolute = AbsolutePath(path);
    return absolute.size() <= 3 && LetterOf(path) != 0;
}

} // namespace

std::vector<Mount> ListMounts()
{
    std::vector<Mount> mounts;
    const DWORD drives = ::GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if ((drives & (1u << i)) != 0) {
            if (auto mount = VolumeAt(static_cast<wchar_t>(L'A' + i))) {
                mounts.push_back(std::move(*mount));
            }
        }
    }
    return mounts;
}

std::optional<Mount> MountOf(const std::string& path)
{
    const wchar_t letter = LetterOf(path);
    if (letter == 0 || !PathExists(path)) {
        return std::nullopt;
    }
    return VolumeAt(letter);
}

std::vector<Mount> MountsAtOrBelow(const std::string& folder)
{
    // Volumes are not mounted into folders here: only a drive's top holds one.
    std::vector<Mount> found;
    if (IsDriveTop(folder)) {
        if (auto mount = VolumeAt(LetterOf(folder))) {
            found.push_back(std::move(*mount));
        }
    }
    return found;
}

VolumeName NameOfVolume(const Mount& mount)
{
    wchar_t label[MAX_PATH + 1] = {};
    DWORD serial = 0;
    if (!::GetVolumeInformationW(
            WideRoot(mount.mountPoint).c_str(), label, MAX_PATH + 1, &serial, nullptr, nullptr, nullptr, 0)) {
        return {};
    }
    char shown[10];
    std::snprintf(shown, sizeof shown, "%04lX-%04lX", static_cast<unsigned long>(serial >> 16),
        static_cast<unsigned long>(serial & 0xffff));
    return {windows::Utf8(label), shown};
}

bool IsOpticalDrive(const Mount& mount)
{
    return mount.mountPoint.size() >= 2 && ::GetDriveTypeW(WideRoot(mount.mountPoint).c_str()) == DRIVE_CDROM;
}

std::error_code EjectDisc(const Mount& disc)
{
    if (!IsOpticalDrive(disc)) {
        return std::make_error_code(std::errc::not_supported);
    }
    const windows::Handle drive(::CreateFileW(windows::Wide(disc.device).c_str(), GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!drive.Valid()) {
        return windows::LastError();
    }
    DWORD returned = 0;
    // The volume is locked and dismounted first, so that nothing still reads it as the tray opens.
    if (!::DeviceIoControl(drive.Get(), FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr)
        || !::DeviceIoControl(drive.Get(), FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr)) {
        return windows::LastError();
    }
    PREVENT_MEDIA_REMOVAL allow {FALSE};
    ::DeviceIoControl(drive.Get(), IOCTL_STORAGE_MEDIA_REMOVAL, &allow, sizeof allow, nullptr, 0, &returned, nullptr);
    if (!::DeviceIoControl(drive.Get(), IOCTL_STORAGE_EJECT_MEDIA, nullptr, 0, nullptr, 0, &returned, nullptr)) {
        return windows::LastError();
    }
    return {};
}

} // namespace support
