/* The installer's log; see log.h. */
#include "log.h"

#include <msiquery.h>

/* A line of the log: room for a path and a sentence around it. */
#define LINE_ROOM (MAX_PATH + 256)

typedef struct Line {
    char text[LINE_ROOM];
    int length;
} Line;

static MSIHANDLE sInstall;

void LogTo(MSIHANDLE install) {
    sInstall = install;
}

/* Every write goes through here: what does not fit is dropped, the line stays terminated. */
static void Append(Line *line, const char *text, int count) {
    for (int i = 0; i < count && text[i] && line->length + 1 < LINE_ROOM; i++) {
        line->text[line->length++] = text[i];
    }
    line->text[line->length] = '\0';
}

static void AppendNumber(Line *line, DWORD number) {
    char digits[10];
    int count = 0;
    do {
        digits[count++] = (char)('0' + number % 10);
        number /= 10;
    } while (number != 0);
    while (count > 0) {
        Append(line, &digits[--count], 1);
    }
}

static void Compose(Line *line, const char *format, const char *text, const DWORD *numbers) {
    Append(line, "SLOTWARD: ", 10);
    for (const char *at = format; *at; at++) {
        if (at[0] == '%' && at[1] == 't') {
            Append(line, text != NULL ? text : "", LINE_ROOM);
            at++;
        } else if (at[0] == '%' && at[1] >= '1' && at[1] <= '3') {
            AppendNumber(line, numbers[at[1] - '1']);
            at++;
        } else {
            Append(line, at, 1);
        }
    }
}

void Say(const char *format, const char *text, DWORD n1, DWORD n2, DWORD n3) {
    const DWORD numbers[3] = {n1, n2, n3};
    Line line;
    line.length = 0;
    Compose(&line, format, text, numbers);
    if (sInstall == 0) {
        return;
    }
    /* The text goes in a field of its own: a template would take a path's brackets for
     * properties. */
    MSIHANDLE record = MsiCreateRecord(1);
    if (record == 0) {
        return;
    }
    MsiRecordSetStringA(record, 0, "[1]");
    MsiRecordSetStringA(record, 1, line.text);
    MsiProcessMessage(sInstall, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}
