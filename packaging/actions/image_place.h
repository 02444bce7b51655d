/* Where a running program's image lies, seen from the installed program: the stopper's decision,
 * made from names alone, before anything is opened.
 *
 * Both names are the system's own (NT) names: "\Device\HarddiskVolume2\Program Files\...". The
 * stopper runs as LocalSystem, and every path it opens on a network share or a WebDAV folder
 * would present the computer's credentials to a host a user picked; so a copy is opened only when
 * its image lies on the installed file's own volume. Plain C without system headers, so that the
 * host's tests drive it with a table of names.
 */
#ifndef IMAGE_PLACE_H
#define IMAGE_PLACE_H

#ifdef __cplusplus
extern "C" {
#endif

typedef enum ImagePlace {
    IMAGE_UNREADABLE,   /* no name, or not a system name: left alone */
    IMAGE_ON_NETWORK,   /* a redirector's (SMB, WebDAV, Remote Desktop's drives): left alone */
    IMAGE_OTHER_VOLUME, /* another disk or partition: another file, left alone */
    IMAGE_SAME_VOLUME,  /* may be the installed file by another name: its identity decides */
    IMAGE_INSTALLED     /* the installed file's own name */
} ImagePlace;

/* image: the candidate's image name; installed: the installed file's name, on a local volume
 * (a network one makes every candidate IMAGE_UNREADABLE: nothing there is opened). Names compare
 * without regard to ASCII case, as NTFS compares them. */
ImagePlace PlaceOfImage(const char *image, const char *installed);

/* The length of the volume part of a system name ("\Device\HarddiskVolume2" of
 * "\Device\HarddiskVolume2\x.exe"), or 0 when the name has none. */
int VolumeLength(const char *name);

/* Whether a system name belongs to a network redirector. */
int IsNetworkName(const char *name);

#ifdef __cplusplus
}
#endif

#endif
