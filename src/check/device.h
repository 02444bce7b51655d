// What the storage driver says about the device behind a drive letter: whether it is attached
// from outside the machine, or a mounted image file rather than anything one could take out.
#pragma once

#include "platform/platform.h"

enum DeviceOrigin {
    kDeviceUnknown,  // not opened, not answered, or any other bus: the drive is treated as before
    kDeviceExternal, // USB, IEEE 1394, SD or MMC, or reported as hot-pluggable
    kDeviceImage,    // a file-backed virtual device: an ISO, VHD or VHDX file mounted as a drive
};

// Opens the drive's device with no access rights, so that no medium is read and no drive spins
// up, and asks for its bus; the hot-plug information is asked only when `askHotplug` is set and
// the bus alone does not tell. One open and at most two queries; the handle is always closed.
DeviceOrigin AskDevice(char letter, BOOL askHotplug);
