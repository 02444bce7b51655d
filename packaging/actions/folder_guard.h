/* The check of the installation folder and of the installed version's, before anything is
 * changed: looks at the folders below Program Files as folder_check.h asks, as the installing
 * user (immediate actions), each by its entry in the folder above and opened for its owner only,
 * never through a link at its end; says why a folder is refused (log.h). */
#ifndef FOLDER_GUARD_H
#define FOLDER_GUARD_H

#include <windows.h>

/* programFiles: the package's Program Files folder, with its final backslash; byAdministrator:
 * whether the installing user is an administrator, whose own folders count as the
 * administrators'. */

/* The installed version's folder: whether it passes the check; where it does not, the log says
 * why and what follows (consequence, the end of the line). */
BOOL InstalledFolderTrusted(const char *folder, const char *programFiles, BOOL byAdministrator,
                            const char *consequence);

/* The installation folder (INSTALLDIR): accepted, or refused with the line and the box, which
 * say where SLOTWARD installs and, where installed (the installed version's folder, "" for
 * none) is that folder, how to move it; an accepted folder other than installed is logged as the
 * move it is. */
BOOL FolderAccepted(const char *folder, const char *installed, const char *programFiles,
                    BOOL byAdministrator);

#endif
