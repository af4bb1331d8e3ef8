#pragma once

#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

// The file systems mounted on this machine, as a disc arrives in the drive: where, from what, and the
// volume label its writer gave it.
namespace support {

struct Mount
{
    int id = 0; // the system's number for this mounting; a disc mounted again gets a new one
    std::string mountPoint;
    std::string fsType; // "iso9660", "udf", "fuse.fuseiso", "ext4" ...
    std::string device; // what is mounted: a device such as /dev/sr0, or a name such as "fuseiso"
    std::string deviceNumber; // the system's number of the device (Linux) or of the volume (Windows)
    std::string root; // the folder of the file system that is mounted (for a bind mount, not "/")

    // Tells this mounting from one that follows it at the same place: the system reuses the number of
    // a mount that has gone.
    std::string Key() const
    {
        return std::to_string(id) + " " + deviceNumber + " " + root + " " + fsType + " " + device;
    }
};

// Every mount this process sees, in the order the system lists them.
std::vector<Mount> ListMounts();
// The mount that holds path (the innermost one); none when path does not exist.
std::optional<Mount> MountOf(const std::string& path);
// The mounts at folder or below it, outermost first.
std::vector<Mount> MountsAtOrBelow(const std::string& folder);

// Which mounts at or below a folder are new since the last look. A mount that has gone is forgotten,
// so a disc taken out and put back is new again; one still mounted is not.
class MountWatch
{
public:
    // The mounts at or below folder that were not there at the last look.
    std::vector<Mount> Arrived(const std::string& folder);

private:
    std::set<std::string> m_seen; // Mount::Key of each mount seen at the last look
};

// The names a disc carries, read from the device, or from the image file a disc image is mounted
// from; each empty when the disc has none or it cannot be read. The serial is what tells two discs of
// one label apart: on Windows the volume serial number as the system shows it ("1A2B-3C4D"), on Linux
// the file system's UUID (on ISO 9660 the time the disc was made, "2026-12-08-10-15-00-00").
struct VolumeName
{
    std::string label;
    std::string serial;
};
VolumeName NameOfVolume(const Mount& mount);
// Whether the mount is a disc in an optical drive (not an image, not a folder).
bool IsOpticalDrive(const Mount& mount);
// Opens the tray of the optical drive the disc is mounted from. A mounted disc holds its drive shut
// (the drive answers "busy"), so the disc is given up by the system first: on Linux every mount of the
// drive is undone (through the system's unmount tool where the program may not do it itself, as a user
// may undo the mounts the desktop let them make), on Windows the volume is locked and dismounted.
// Nothing but an optical drive is touched: for any other mount an error, and the mount stays.
std::error_code EjectDisc(const Mount& disc);

} // namespace support
