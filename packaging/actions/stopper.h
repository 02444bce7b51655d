/* The stopper: ends the running copies of the installed program in every session and notes the
 * session and user of each (sessions.h). */
#ifndef STOPPER_H
#define STOPPER_H

#include "sessions.h"

/* The installed file, and where the installation puts the new one when that is elsewhere. */
#define MAX_TARGETS 4

/* Before a target file whose folder failed the installer's check: it is known by name only. */
#define BY_NAME_MARK "/byname"

/* data: the target files, each quoted, BY_NAME_MARK before one. The first pass of an
 * installation replaces the list; a later one (addToList) adds the copies it ended to it, only to
 * the list of this installation where ownListOnly (a key the first pass refused is another's).
 * owner: the installation's ProductCode. */
void StopCopies(const char *data, BOOL addToList, BOOL ownListOnly, const char *owner);

#endif
