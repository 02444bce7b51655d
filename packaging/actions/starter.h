/* The starter: brings SLOTWARD back in the sessions the stopper noted, each as the user whose copy
 * was ended (sessions.h). */
#ifndef STARTER_H
#define STARTER_H

#include <windows.h>

/* The room for the program and its options: any command line the Startup shortcut can start.
 * Windows starts a program with at most 32,767 characters (CreateProcess), and in a double-byte
 * code page each of them may take two bytes. */
#define COMMAND_ROOM 65536

/* data: the program, quoted, then its arguments ("/Q" and the options), as the installer
 * formatted them; NULL where they did not fit the action's room (nothing is started, the list is
 * kept). As LocalSystem: every noted session, with its user's own token, the ordinary
 * one where Windows keeps an elevated one beside it. Without a program (an uninstallation) the
 * list is only forgotten, and only when it belongs to this installation (owner, its
 * ProductCode): an upgrade's removal of the old version leaves it to the upgrade. */
void StartInSessions(const char *data, const char *owner);

/* As the installing user, where the system could not: its own session only, and only when that
 * is the session's noted user and the installation does not run elevated. */
void StartInOwnSession(const char *data, const char *owner);

#endif
