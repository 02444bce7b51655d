/* The installer's log; see sessions.h. */
#include "sessions.h"

#include <msiquery.h>

/* A line of the log: room for a few paths and the sentences around them. */
#define LINE_ROOM (4 * MAX_PATH + 512)

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
    char digit = (char)('0' + number % 10);
    if (number >= 10) {
        AppendNumber(line, number / 10);
    }
    Append(line, &digit, 1);
}

/* Returns the texts that the format's %t left. */
static const char *const *Compose(Line *line, const char *format, const char *const *texts,
                                  const DWORD *numbers) {
    for (const char *at = format; *at; at++) {
        if (at[0] == '%' && at[1] == 't') {
            const char *text = *texts++;
            Append(line, text != NULL ? text : "", LINE_ROOM);
            at++;
        } else if (at[0] == '%' && at[1] >= '1' && at[1] <= '3') {
            AppendNumber(line, numbers[at[1] - '1']);
            at++;
        } else {
            Append(line, at, 1);
        }
    }
    return texts;
}

/* In a field of its own: a template would take a path's brackets for properties. */
static void Send(INSTALLMESSAGE kind, const char *text) {
    MSIHANDLE record = sInstall != 0 ? MsiCreateRecord(1) : 0;
    if (record == 0) {
        return;
    }
    MsiRecordSetStringA(record, 0, "[1]");
    MsiRecordSetStringA(record, 1, text);
    MsiProcessMessage(sInstall, kind, record);
    MsiCloseHandle(record);
}

void Say(const char *format, const char *text, DWORD n1, DWORD n2, DWORD n3) {
    const DWORD numbers[3] = {n1, n2, n3};
    Line line;
    line.length = 0;
    Append(&line, "SLOTWARD: ", 10);
    Compose(&line, format, &text, numbers);
    Send(INSTALLMESSAGE_INFO, line.text);
}

void Tell(const char *const *formats, const char *const *texts, BOOL refusal) {
    static const DWORD kNoNumbers[3] = {0, 0, 0};
    Line line;
    line.length = 0;
    Append(&line, "SLOTWARD: ", 10);
    for (; *formats != NULL; formats++) {
        texts = Compose(&line, *formats, texts, kNoNumbers);
    }
    Send(INSTALLMESSAGE_INFO, line.text);
    if (refusal) {
        /* The box shows the sentence alone, without the log's mark. */
        Send((INSTALLMESSAGE)(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR), line.text + 10);
    }
}
