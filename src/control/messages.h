// The bilingual message catalogue: every caption and built-in text the user can see, in
// English and in Japanese (Shift-JIS bytes), and the language index that chooses between them.
#pragma once

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
    kMessageCount = 12
};

enum { kEnglish = 0, kJapanese = 1 };

extern int gLanguageIndex; // 0 English, 1 Japanese; /E lowers it to English

// Japanese when the OEM code page is 932, 942 or 943, else English.
void SelectLanguage(void);
const char *GetMessageText(MessageId id);
