/* What the installer's actions say in the installer's log (msiexec /l*v): one line per decision,
 * each starting "SLOTWARD: ", through MsiProcessMessage. Without an installation (a test that runs
 * an action by hand) the lines go nowhere. */
#ifndef LOG_H
#define LOG_H

#include <windows.h>
#include <msi.h>

void LogTo(MSIHANDLE install);

/* format: %t stands for text, %1 to %3 for the numbers, in decimal. */
void Say(const char *format, const char *text, DWORD n1, DWORD n2, DWORD n3);

/* A line of several parts. formats: the parts of the sentence, up to a NULL; each %t in them
 * stands for the next of texts. refusal: it ends the installation, and the same sentence shows
 * in a box in the installer's UI (an error message; a silent installation only logs it). */
void Tell(const char *const *formats, const char *const *texts, BOOL refusal);

#define LogLine(text) Say(text, NULL, 0, 0, 0)
#define LogNumbers(format, n1, n2, n3) Say(format, NULL, n1, n2, n3)
#define LogText(format, text) Say(format, text, 0, 0, 0)
#define LogNumbersText(format, n1, text) Say(format, text, n1, 0, 0)

#endif
