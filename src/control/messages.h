// The bilingual message catalogue: every caption and built-in text the user can see, in
// English and in Japanese (Shift-JIS bytes), the language index that chooses between them, and
// the boxes that show nothing but catalogue texts.
#pragma once

#include "platform/platform.h"

enum MessageId {
    CaptionInformation = 0,
    CaptionWarning = 1,
    CaptionError = 2,
    MsgTerminated = 3,
    MsgNotRunning = 4,
    MsgAlreadyRunning = 5,
    MsgInDrive = 6,
    MsgAskContinue = 7,
    MsgRemoveAndRetry = 8,
    MsgStillInserted = 9,
    MsgNotInserted = 10,
    MsgNoRemovableDrive = 11,
    MsgCheckingDrives = 12, // the block reason while a shutdown query is being checked
    MsgOtherRights = 13,    // /R cannot reach a copy that runs with other rights
    // A start that cannot become resident: the first, one step, then the second and the code.
    MsgCannotStayResident = 14,
    MsgClassNotRegistered = 15,
    MsgWindowNotCreated = 16,
    MsgWatcherNotStarted = 17,
    MsgWindowsError = 18,
    MsgEventNotCreated = 19,
    MsgStillRunning = 20, // /R asked, but the resident copy has not ended
    kMessageCount = 21
};

enum { kEnglish = 0, kJapanese = 1 };

extern int gLanguageIndex; // 0 English, 1 Japanese; /E lowers it to English

// Japanese when the OEM code page is 932, 942 or 943, else English.
void SelectLanguage(void);
const char *GetMessageText(MessageId id);

// A box of catalogue texts with no owner; its answer is not needed.
void ShowCatalogueBox(MessageId text, MessageId caption, UINT style);
// The box a start shows when another instance is already resident, unless it was started with
// /Q: both start-up and the resident monitor (when it loses the start-up race) show it.
void ShowAlreadyRunning(void);
