// Puts a disc into a CD-ROM drive of Wine, or takes it out, while Wine runs: through the request Wine's
// own mount manager takes when the system mounts a disc, which reads the disc's label and serial from
// .windows-label and .windows-serial in its root. A drive letter pointed at a folder by hand is read
// once per Wine session; one changed through the mount manager changes in the running session, as a
// disc changes in a clinic's drive.
//
// usage: wine_drive.exe R /unix/path/of/the/disc    the disc into drive R:
//        wine_drive.exe R                           drive R: empty
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <winioctl.h>

// Wine's own request and its layout as Wine 8 defines them (MinGW's ddk/mountmgr.h has an older one).
#define WINE_DEFINE_UNIX_DRIVE CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)
struct wine_unix_drive
{
    ULONG size;
    ULONG type;
    ULONG fs_type;
    DWORD serial;
    ULONGLONG unix_dev;
    WCHAR letter;
    USHORT mount_point_offset;
    USHORT device_offset;
    USHORT label_offset;
};

int main(int argc, char** argv)
{
    char request[4096] = {0};
    struct wine_unix_drive* drive = (struct wine_unix_drive*)request;
    if (argc < 2 || argc > 3 || (argc == 3 && strlen(argv[2]) >= sizeof request - sizeof *drive)) {
        fprintf(stderr, "usage: wine_drive LETTER [UNIX-FOLDER]\n");
        return 2;
    }
    drive->size = sizeof *drive;
    drive->letter = (WCHAR)argv[1][0];
    drive->type = argc == 3 ? DRIVE_CDROM : DRIVE_NO_ROOT_DIR;
    DWORD size = sizeof *drive;
    if (argc == 3) {
        drive->mount_point_offset = (USHORT)size;
        strcpy(request + size, argv[2]);
        size += (DWORD)strlen(argv[2]) + 1;
    }
    HANDLE manager = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    DWORD returned = 0;
    if (manager == INVALID_HANDLE_VALUE
        || !DeviceIoControl(manager, WINE_DEFINE_UNIX_DRIVE, request, size, NULL, 0, &returned, NULL)) {
        fprintf(stderr, "wine_drive: the mount manager refused drive %c: (error %lu)\n", argv[1][0], GetLastError());
        return 1;
    }
    CloseHandle(manager);
    return 0;
}
