// The storage devices behind the drives: CreateFileA of "\\.\X:" opens drive X's device, and
// DeviceIoControl on that handle answers the property query (the bus type), the hot-plug
// information and the device number as the test set them up. Opens and queries are counted per
// drive; a device opened with access rights, without shared reading and writing, or by a path
// that names no drive, or asked a query Windows would refuse, is a problem: the survey must never
// touch a medium or lock other programs out of a drive.
#include "sim_internal.h"

#include <algorithm>
#include <cstring>

using namespace sim::detail;

namespace {

constexpr DWORD kShareBoth = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr char kVendor[] = "SIMVENDOR";

// "\\.\X:" with X a letter in either case; -1 for anything else.
int DevicePathIndex(const std::string &path) {
    if (path.size() != 6 || path.compare(0, 4, "\\\\.\\") != 0 || path[5] != ':')
        return -1;
    char upper = static_cast<char>(path[4] & 0xDF);
    return (upper >= 'A' && upper <= 'Z') ? upper - 'A' : -1;
}

Drive *DriveOf(char letter) {
    char upper = static_cast<char>(letter & 0xDF);
    if (upper < 'A' || upper > 'Z') {
        AddProblem(std::string("a device of a bad drive letter: ") + letter);
        return nullptr;
    }
    return &St().drives[upper - 'A'];
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The descriptor with the vendor's name after it, cut to the output buffer as Windows does:
// Size tells the whole length unless the test says otherwise. A driver that reports the cut
// part as missing (a buffer-overflow status) still has its bytes copied and counted, as
// Windows' I/O manager does for a warning.
BOOL QueryProperty(const sim::Device &device, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                   LPDWORD returned) {
    if (!in || inSize < sizeof(STORAGE_PROPERTY_QUERY))
        return Fail(ERROR_INVALID_PARAMETER);
    STORAGE_PROPERTY_QUERY query;
    std::memcpy(&query, in, sizeof query);
    if (query.PropertyId != StorageDeviceProperty || query.QueryType != PropertyStandardQuery) {
        AddProblem("a storage property query other than the device's standard one");
        return Fail(ERROR_NOT_SUPPORTED);
    }
    std::string answer(sizeof(STORAGE_DEVICE_DESCRIPTOR) + sizeof kVendor, '\0');
    STORAGE_DEVICE_DESCRIPTOR descriptor = {};
    descriptor.Version = sizeof descriptor;
    descriptor.Size =
        device.reportedSize != 0 ? device.reportedSize : static_cast<DWORD>(answer.size());
    descriptor.RemovableMedia = device.mediaRemovable;
    descriptor.VendorIdOffset = sizeof descriptor;
    descriptor.BusType = device.bus;
    std::memcpy(&answer[0], &descriptor, sizeof descriptor);
    std::memcpy(&answer[sizeof descriptor], kVendor, sizeof kVendor);
    if (!out || outSize < 2 * sizeof(DWORD))
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    DWORD count = std::min(outSize, static_cast<DWORD>(answer.size()));
    std::memcpy(out, answer.data(), count);
    // A short answer still leaves the whole descriptor in the buffer, so that a reader who goes
    // past the byte count is caught reading a bus the device never reported.
    *returned = device.descriptorSize != 0 ? std::min(count, device.descriptorSize) : count;
    if (device.moreData && count < answer.size())
        return Fail(ERROR_MORE_DATA);
    return TRUE;
}

BOOL QueryHotplug(const sim::Device &device, LPVOID out, DWORD outSize, LPDWORD returned) {
    if (device.hotplugError != 0)
        return Fail(device.hotplugError);
    if (!out || outSize < sizeof(STORAGE_HOTPLUG_INFO))
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    STORAGE_HOTPLUG_INFO info = {};
    info.Size = sizeof info;
    info.MediaRemovable = device.mediaRemovable;
    info.DeviceHotplug = device.deviceHotplug;
    std::memcpy(out, &info, sizeof info);
    *returned = sizeof info;
    return TRUE;
}

BOOL QueryNumber(const sim::Device &device, int index, LPVOID out, DWORD outSize,
                 LPDWORD returned) {
    if (device.numberError != 0)
        return Fail(device.numberError);
    if (!out || outSize < sizeof(STORAGE_DEVICE_NUMBER))
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    STORAGE_DEVICE_NUMBER number = {};
    number.DeviceType = device.deviceType;
    number.DeviceNumber = device.disk >= 0 ? static_cast<DWORD>(device.disk) : 0x100u + index;
    number.PartitionNumber = static_cast<DWORD>(index) + 1;
    std::memcpy(out, &number, sizeof number);
    *returned = sizeof number;
    return TRUE;
}

} // namespace

namespace sim {

void SetDevice(char letter, const Device &device) {
    Guard lock(Mutex());
    Drive *drive = DriveOf(letter);
    if (drive)
        drive->device = device;
}

int DeviceOpens(char letter) {
    Guard lock(Mutex());
    Drive *drive = DriveOf(letter);
    return drive ? drive->deviceOpens : 0;
}

int DeviceQueries(char letter) {
    Guard lock(Mutex());
    Drive *drive = DriveOf(letter);
    return drive ? drive->deviceQueries : 0;
}

void SetWindowsDirectory(const std::string &path) {
    Guard lock(Mutex());
    St().windowsDirectory = path;
}

namespace detail {

HANDLE OpenDevice(const std::string &path, DWORD access, DWORD share, DWORD creation,
                  bool failing) {
    int index = DevicePathIndex(path);
    if (index < 0 && path.compare(0, 4, "\\\\.\\") == 0) {
        // The survey's own shape, "\\.\X:", with a bad or missing letter is a fault; a longer
        // name is one Windows simply does not have (the settings file of a program started as
        // "\\.\r", say).
        if (path.size() <= 6)
            AddProblem("a device path that names no drive: " + path);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (index < 0)
        return NULL;
    Drive &drive = St().drives[index];
    drive.deviceOpens++;
    if (access != 0 || share != kShareBoth || creation != OPEN_EXISTING)
        AddProblem("a device opened with access rights or without shared use: " + path);
    DWORD error = failing         ? ERROR_ACCESS_DENIED
                  : !drive.exists ? ERROR_FILE_NOT_FOUND
                                  : drive.device.openError;
    if (error != 0) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    auto file = std::make_shared<Object>();
    file->kind = Kind::File;
    file->device = index;
    SetLastError(ERROR_SUCCESS);
    return AddHandle(file);
}

} // namespace detail
} // namespace sim

extern "C" {

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): Win32's own signature
BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                            DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    Guard lock(Mutex());
    std::shared_ptr<Object> object = FindObject(device);
    if (!object || object->kind != Kind::File || object->device < 0) {
        AddProblem("DeviceIoControl of something that is not an open device " + HandleText(device));
        return Fail(ERROR_INVALID_HANDLE);
    }
    Drive &drive = St().drives[object->device];
    drive.deviceQueries++;
    if (!returned || overlapped) {
        AddProblem("DeviceIoControl without a byte count, or overlapped on a plain handle");
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *returned = 0;
    if (ShouldFail(sim::Api::DeviceIoControl))
        return Fail(ERROR_NOT_SUPPORTED);
    switch (code) {
    case IOCTL_STORAGE_QUERY_PROPERTY:
        return QueryProperty(drive.device, in, inSize, out, outSize, returned);
    case IOCTL_STORAGE_GET_HOTPLUG_INFO:
        return QueryHotplug(drive.device, out, outSize, returned);
    case IOCTL_STORAGE_GET_DEVICE_NUMBER:
        return QueryNumber(drive.device, object->device, out, outSize, returned);
    default:
        AddProblem("DeviceIoControl with an unexpected control code");
        return Fail(ERROR_INVALID_FUNCTION);
    }
}

} // extern "C"

namespace {

UINT CopyFolder(const std::string &path, LPSTR buffer, UINT size) {
    UINT length = static_cast<UINT>(path.size());
    if (!buffer || size <= length)
        return length + 1; // the size needed, terminator included; nothing is written
    std::memcpy(buffer, path.c_str(), length + 1);
    return length;
}

} // namespace

extern "C" {

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    Guard lock(Mutex());
    return CopyFolder(St().windowsDirectory, buffer, size);
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
    Guard lock(Mutex());
    return CopyFolder(St().windowsDirectory + "\\system32", buffer, size);
}

} // extern "C"
