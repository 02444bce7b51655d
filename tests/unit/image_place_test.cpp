// The installer's stopper decides from image names alone whether it may open a running copy's
// file: only on the installed file's own volume, never on the network.
#include "image_place.h"

#include <gtest/gtest.h>

namespace {

const char kInstalled[] = "\\Device\\HarddiskVolume2\\Program Files\\SLOTWARD\\slotward.exe";

struct PlaceCase {
    const char *name;
    const char *image;
    const char *installed;
    ImagePlace place;
};

const PlaceCase kPlaces[] = {
    {"InstalledFile", kInstalled, kInstalled, IMAGE_INSTALLED},
    {"InstalledFileOtherCase", "\\DEVICE\\harddiskvolume2\\PROGRAM FILES\\slotward\\SLOTWARD.EXE",
     kInstalled, IMAGE_INSTALLED},
    {"SameVolumeOtherFile", "\\Device\\HarddiskVolume2\\Users\\me\\slotward.exe", kInstalled,
     IMAGE_SAME_VOLUME},
    {"SameVolumeShortName", "\\Device\\HarddiskVolume2\\PROGRA~1\\SLOTWARD\\SLOTWARD.EXE",
     kInstalled, IMAGE_SAME_VOLUME},
    // A volume whose name starts like the installed one is another volume.
    {"VolumeNamePrefix", "\\Device\\HarddiskVolume22\\Program Files\\SLOTWARD\\slotward.exe",
     kInstalled, IMAGE_OTHER_VOLUME},
    {"OtherVolume", "\\Device\\HarddiskVolume3\\slotward.exe", kInstalled, IMAGE_OTHER_VOLUME},
    {"CdRom", "\\Device\\CdRom0\\slotward.exe", kInstalled, IMAGE_OTHER_VOLUME},
    {"ShareThroughMup", "\\Device\\Mup\\host\\share\\slotward.exe", kInstalled, IMAGE_ON_NETWORK},
    {"MupOtherCase", "\\device\\MUP\\host\\share\\slotward.exe", kInstalled, IMAGE_ON_NETWORK},
    {"SmbRedirector", "\\Device\\LanmanRedirector\\;Z:0000\\host\\share\\slotward.exe", kInstalled,
     IMAGE_ON_NETWORK},
    {"WebDav", "\\Device\\WebDavRedirector\\host@SSL\\DavWWWRoot\\slotward.exe", kInstalled,
     IMAGE_ON_NETWORK},
    {"RemoteDesktopDrive", "\\Device\\RdpDr\\;C:1\\tsclient\\C\\slotward.exe", kInstalled,
     IMAGE_ON_NETWORK},
    {"UncLink", "\\??\\UNC\\host\\share\\slotward.exe", kInstalled, IMAGE_ON_NETWORK},
    {"UncPath", "\\\\host\\share\\slotward.exe", kInstalled, IMAGE_ON_NETWORK},
    // A third party's redirector under a name of its own still says what it is.
    {"OtherRedirector", "\\Device\\MupVendorFs\\host\\slotward.exe", kInstalled, IMAGE_ON_NETWORK},
    {"NoName", "", kInstalled, IMAGE_UNREADABLE},
    {"NullName", nullptr, kInstalled, IMAGE_UNREADABLE},
    {"DriveLetterPath", "C:\\Program Files\\SLOTWARD\\slotward.exe", kInstalled, IMAGE_UNREADABLE},
    {"VolumeWithoutPath", "\\Device\\HarddiskVolume2", kInstalled, IMAGE_UNREADABLE},
    {"EmptyVolumePart", "\\\\Device\\slotward.exe", "\\\\Device\\x", IMAGE_ON_NETWORK},
    // Without the installed file's own name nothing can be placed; an installed file on a share
    // makes nothing there openable.
    {"InstalledUnknown", kInstalled, "", IMAGE_UNREADABLE},
    {"InstalledOnShare", "\\Device\\Mup\\host\\share\\slotward.exe",
     "\\Device\\Mup\\host\\share\\slotward.exe", IMAGE_ON_NETWORK},
    {"InstalledOnShareLocalCopy", kInstalled, "\\Device\\Mup\\host\\share\\slotward.exe",
     IMAGE_UNREADABLE},
};

class PlaceTest : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(PlaceTest, DecidesFromNamesAlone) {
    const PlaceCase &c = GetParam();
    EXPECT_EQ(PlaceOfImage(c.image, c.installed), c.place);
}

INSTANTIATE_TEST_SUITE_P(Images, PlaceTest, ::testing::ValuesIn(kPlaces),
                         [](const ::testing::TestParamInfo<PlaceCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(VolumeTest, TheDevicePartOfAName) {
    EXPECT_EQ(VolumeLength("\\Device\\HarddiskVolume2\\x.exe"), 23);
    EXPECT_EQ(VolumeLength("\\Device\\HarddiskVolume2"), 0);
    EXPECT_EQ(VolumeLength("\\Device\\\\x.exe"), 0);
    EXPECT_EQ(VolumeLength("C:\\x.exe"), 0);
}

} // namespace
