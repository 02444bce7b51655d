// The device queries; see device.h. Only a positive answer may cost the user a warning: a
// device that does not answer is neither an image nor attached from outside.
#include "check/device.h"

enum { kDeviceLetterIndex = 4 };

static const DWORD kNoAnswer = 0xFFFFFFFFu;

// How many bytes of the answer came, 0 when none did. Some drivers fill as much as fits and
// report the rest as missing (ERROR_MORE_DATA): what they filled is an answer all the same.
static DWORD Ask(HANDLE device, DWORD code, LPVOID query, DWORD querySize, LPVOID answer,
                 DWORD size) {
    DWORD returned = 0;
    if (!DeviceIoControl(device, code, query, querySize, answer, size, &returned, NULL) &&
        GetLastError() != ERROR_MORE_DATA)
        return 0;
    return returned;
}

// The bus from the device descriptor. Only the descriptor's head is read; an answer counts only
// when both its length and the descriptor's own reach the bus.
static DWORD QueryBusType(HANDLE device) {
    STORAGE_PROPERTY_QUERY query = {StorageDeviceProperty, PropertyStandardQuery, {0}};
    STORAGE_DEVICE_DESCRIPTOR descriptor;
    const DWORD busEnd =
        FIELD_OFFSET(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof descriptor.BusType;
    if (Ask(device, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &descriptor,
            sizeof descriptor) < busEnd ||
        descriptor.Size < busEnd)
        return kNoAnswer;
    return static_cast<DWORD>(descriptor.BusType);
}

// Windows 2000 and XP know no SD or MMC bus; there such readers answer USB or not at all.
static BOOL IsExternalBus(DWORD bus) {
    return bus == BusTypeUsb || bus == BusType1394 || bus == BusTypeSd || bus == BusTypeMmc;
}

// Hot-plugging follows a disk's removal policy, not its place: internal SATA and SAS ports,
// hot-swap bays, RAID sets and virtual machines' disks report it too. Only on NVMe (an M.2 slot
// is not hot-pluggable, a Thunderbolt or USB4 enclosure is) and on a bus this program does not
// know, or when the bus is not told at all, is it taken as a sign of a disk outside the case.
static BOOL HotplugTells(DWORD bus) {
    return bus == BusTypeNvme || bus == BusTypeUnknown || bus > BusTypeUfs;
}

static BOOL IsHotPluggable(HANDLE device) {
    STORAGE_HOTPLUG_INFO info;
    return Ask(device, IOCTL_STORAGE_GET_HOTPLUG_INFO, NULL, 0, &info, sizeof info) >=
               sizeof info &&
           (info.MediaRemovable || info.DeviceHotplug);
}

static BOOL MayBeOutside(HANDLE device, DWORD bus) {
    if (IsExternalBus(bus))
        return TRUE;
    return HotplugTells(bus) && IsHotPluggable(device);
}

static BOOL QueryDiskNumber(HANDLE device, STORAGE_DEVICE_NUMBER *number) {
    return Ask(device, IOCTL_STORAGE_GET_DEVICE_NUMBER, NULL, 0, number, sizeof *number) >=
           sizeof *number;
}

static HANDLE OpenDevice(char letter) {
    // On the stack, patched with the letter: a writable global would cost the exe a data section.
    char devicePath[] = "\\\\.\\?:";
    devicePath[kDeviceLetterIndex] = letter;
    return CreateFileA(devicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0,
                       NULL);
}

static BOOL KnowsWindowsDisk(WindowsDisk *windows) {
    if (!windows->asked) {
        windows->asked = TRUE;
        HANDLE volume = windows->letter ? OpenDevice(windows->letter) : INVALID_HANDLE_VALUE;
        windows->known =
            volume != INVALID_HANDLE_VALUE && QueryDiskNumber(volume, &windows->number);
        if (volume != INVALID_HANDLE_VALUE)
            CloseHandle(volume);
    }
    return windows->known;
}

// Windows To Go and a Windows started from a USB disk live on a disk that cannot be taken out
// while it runs, whichever of its partitions a drive is. When Windows' disk is not known, only
// its own letter is spared (the survey sees to that); when the drive's own disk is not known,
// nothing shows it is not Windows' disk.
static BOOL IsOffWindowsDisk(HANDLE device, WindowsDisk *windows) {
    if (!KnowsWindowsDisk(windows))
        return TRUE;
    STORAGE_DEVICE_NUMBER own;
    if (!QueryDiskNumber(device, &own))
        return FALSE;
    return own.DeviceType != windows->number.DeviceType ||
           own.DeviceNumber != windows->number.DeviceNumber;
}

// The one open of a drive's device. Without a Windows disk the question is whether it is an
// image, with one whether it is attached from outside.
BOOL AskDevice(char letter, WindowsDisk *windows) {
    HANDLE device = OpenDevice(letter);
    if (device == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD bus = QueryBusType(device);
    BOOL answer = windows ? MayBeOutside(device, bus) && IsOffWindowsDisk(device, windows)
                          : bus == BusTypeFileBackedVirtual;
    CloseHandle(device);
    return answer;
}
