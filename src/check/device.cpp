// The device queries; see device.h. Only a positive answer may cost the user a warning: a
// device that does not answer is neither an image nor attached from outside.
#include "check/device.h"

enum { kDeviceLetterIndex = 4 };

static const DWORD kNoAnswer = 0xFFFFFFFFu;

// The bus from the device descriptor. Only the descriptor's head is read: the driver fills as
// much as fits and says how much, and a short answer that does not reach the bus counts as none.
static DWORD QueryBusType(HANDLE device) {
    STORAGE_PROPERTY_QUERY query = {StorageDeviceProperty, PropertyStandardQuery, {0}};
    STORAGE_DEVICE_DESCRIPTOR descriptor;
    DWORD returned = 0;
    const DWORD busEnd =
        FIELD_OFFSET(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof descriptor.BusType;
    if (!DeviceIoControl(device, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &descriptor,
                         sizeof descriptor, &returned, NULL))
        return kNoAnswer;
    if (returned < busEnd || descriptor.Size < busEnd)
        return kNoAnswer;
    return static_cast<DWORD>(descriptor.BusType);
}

// Windows 2000 and XP know no SD or MMC bus; there such readers answer USB or not at all.
static BOOL IsExternalBus(DWORD bus) {
    return bus == BusTypeUsb || bus == BusType1394 || bus == BusTypeSd || bus == BusTypeMmc;
}

static BOOL IsHotPluggable(HANDLE device) {
    STORAGE_HOTPLUG_INFO info;
    DWORD returned = 0;
    if (!DeviceIoControl(device, IOCTL_STORAGE_GET_HOTPLUG_INFO, NULL, 0, &info, sizeof info,
                         &returned, NULL))
        return FALSE;
    if (returned < sizeof info)
        return FALSE;
    return info.MediaRemovable || info.DeviceHotplug;
}

static HANDLE OpenDevice(char letter) {
    // On the stack, patched with the letter: a writable global would cost the exe a data section.
    char devicePath[] = "\\\\.\\?:";
    devicePath[kDeviceLetterIndex] = letter;
    return CreateFileA(devicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0,
                       NULL);
}

BOOL IsMountedImage(char letter) {
    HANDLE device = OpenDevice(letter);
    if (device == INVALID_HANDLE_VALUE)
        return FALSE;
    BOOL image = QueryBusType(device) == BusTypeFileBackedVirtual;
    CloseHandle(device);
    return image;
}

BOOL IsAttachedFromOutside(char letter) {
    HANDLE device = OpenDevice(letter);
    if (device == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD bus = QueryBusType(device);
    BOOL external = FALSE;
    if (bus != BusTypeFileBackedVirtual)
        external = IsExternalBus(bus) || IsHotPluggable(device);
    CloseHandle(device);
    return external;
}
