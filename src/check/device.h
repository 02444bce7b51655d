// What the storage driver says about the device behind a drive letter: whether it is attached
// from outside the machine, or a mounted image file rather than anything one could take out.
// Each asks once: the device is opened with no access rights, so that no medium is read and no
// drive spins up, and the handle is always closed. A device that cannot be opened or does not
// answer gives FALSE to both, so that the drive keeps the treatment its type gives it.
#pragma once

#include "platform/platform.h"

// The device is a file-backed virtual one: an ISO, VHD or VHDX file mounted as a drive. One
// open and one query.
BOOL IsMountedImage(char letter);

// The device is on a USB, IEEE 1394, SD or MMC bus, or reports removable media or hot-plugging;
// a mounted image never is. One open and at most two queries: the hot-plug information is asked
// only when the bus alone does not tell.
BOOL IsAttachedFromOutside(char letter);
