// What the storage driver says about the device behind a drive letter: whether it is attached
// from outside the machine, or a mounted image file rather than anything one could take out.
// Each opens the device once, with no access rights, so that no medium is read and no drive
// spins up, and always closes the handle. A device that cannot be opened or does not answer
// gives FALSE to both, so that the drive keeps the treatment its type gives it.
#pragma once

#include "platform/platform.h"

// The disk Windows runs from, as one survey comes to know it: its volume is opened only once a
// drive may be attached from outside, and at most once per survey.
struct WindowsDisk {
    char letter; // Windows' own drive, '\0' when the system does not say
    BOOL asked;  // the volume has been asked; FALSE at the start of a survey
    BOOL known;  // it answered, and number holds its disk
    STORAGE_DEVICE_NUMBER number;
};

// The one open of the drive's device, asked what the two questions below need.
BOOL AskDevice(char letter, WindowsDisk *windows);

// The device is a file-backed virtual one: an ISO, VHD or VHDX file mounted as a drive. One
// query.
inline BOOL IsMountedImage(char letter) {
    return AskDevice(letter, NULL);
}

// The device is outside the case: on a USB, IEEE 1394, SD or MMC bus, or hot-pluggable on a bus
// where an internal disk is not (NVMe, or a bus this program does not know), and not on the disk
// Windows runs from. At most three queries: the bus, the hot-plug information where the bus
// alone does not tell, and the disk's number.
inline BOOL IsAttachedFromOutside(char letter, WindowsDisk *windows) {
    return AskDevice(letter, windows);
}
