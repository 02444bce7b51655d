/* The check of the installation folder, before anything is changed: gathers what the system says
 * of the folder and of every folder above it and lets folder_check.h decide. A refusal names the
 * folder and the reason in the installer's log and in its UI (log.h).
 *
 * It runs as an immediate action, as the installing user: every folder is opened with that
 * user's own rights, for its owner and access list only, and never through a link at its end.
 */
#ifndef FOLDER_GUARD_H
#define FOLDER_GUARD_H

#include <windows.h>

/* folder: the installation folder (INSTALLDIR); installed: the folder the installed version is
 * in, "" when none; suggested: a folder to offer instead; byAdministrator: whether the installing
 * user is an administrator, whose own folders count as the administrators'. */
BOOL FolderAccepted(const char *folder, const char *installed, const char *suggested,
                    BOOL byAdministrator);

#endif
