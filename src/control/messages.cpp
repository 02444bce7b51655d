// The message catalogue; see messages.h. The Japanese texts are Shift-JIS (code page 932)
// bytes written as escapes, so that neither compiler re-encodes them; the Japanese is beside each.
#include "control/messages.h"

int gLanguageIndex;

// Entry 2 * MessageId + language index: English, then Japanese, for every message.
static const char *const kCatalogue[2 * kMessageCount] = {
    // CaptionInformation
    "SLOTWARD:Information",
    // SLOTWARD:情報
    "SLOTWARD:\x8F\xEE\x95\xF1",
    // CaptionWarning
    "SLOTWARD:Warning!",
    // SLOTWARD:警告！
    "SLOTWARD:\x8C\x78\x8D\x90\x81\x49",
    // CaptionError
    "SLOTWARD:Error!",
    // SLOTWARD:エラー！
    "SLOTWARD:\x83\x47\x83\x89\x81\x5B\x81\x49",
    // MsgTerminated
    "SLOTWARD was terminated.",
    // SLOTWARD を終了しました。
    "SLOTWARD \x82\xF0\x8F\x49\x97\xB9\x82\xB5\x82\xDC\x82\xB5\x82\xBD"
    "\x81\x42",
    // MsgNotRunning
    "SLOTWARD is not execute.",
    // SLOTWARD は実行していません。
    "SLOTWARD \x82\xCD\x8E\xC0\x8D\x73\x82\xB5\x82\xC4\x82\xA2\x82\xDC"
    "\x82\xB9\x82\xF1\x81\x42",
    // MsgAlreadyRunning
    "SLOTWARD is already execute.",
    // SLOTWARD は既に実行しています。
    "SLOTWARD \x82\xCD\x8A\xF9\x82\xC9\x8E\xC0\x8D\x73\x82\xB5\x82\xC4"
    "\x82\xA2\x82\xDC\x82\xB7\x81\x42",
    // MsgInDrive
    "In drive ",
    // ドライブ
    "\x83\x68\x83\x89\x83\x43\x83\x75 ",
    // MsgAskContinue
    ", the media is still inserted. Do you want to continue shutdown processing?",
    // にメディアが残っています。シャットダウン処理を続行しますか？
    "\x82\xC9\x83\x81\x83\x66\x83\x42\x83\x41\x82\xAA\x8E\x63\x82\xC1\x82\xC4"
    "\x82\xA2\x82\xDC\x82\xB7\x81\x42\x83\x56\x83\x83\x83\x62\x83\x67\x83\x5F"
    "\x83\x45\x83\x93\x8F\x88\x97\x9D\x82\xF0\x91\xB1\x8D\x73\x82\xB5\x82\xDC"
    "\x82\xB7\x82\xA9\x81\x48",
    // MsgRemoveAndRetry
    ", the media is still inserted. Please remove it and try again "
    "shutdown processing.",
    // にメディアが残っています。取り出してからシャットダウンを再試行して下さい。
    "\x82\xC9\x83\x81\x83\x66\x83\x42\x83\x41\x82\xAA\x8E\x63\x82\xC1\x82\xC4"
    "\x82\xA2\x82\xDC\x82\xB7\x81\x42\x8E\xE6\x82\xE8\x8F\x6F\x82\xB5\x82\xC4"
    "\x82\xA9\x82\xE7\x83\x56\x83\x83\x83\x62\x83\x67\x83\x5F\x83\x45\x83\x93"
    "\x82\xF0\x8D\xC4\x8E\x8E\x8D\x73\x82\xB5\x82\xC4\x89\xBA\x82\xB3\x82\xA2"
    "\x81\x42",
    // MsgStillInserted
    ", the media is still inserted.",
    // にメディアが残っています。
    "\x82\xC9\x83\x81\x83\x66\x83\x42\x83\x41\x82\xAA\x8E\x63\x82\xC1\x82\xC4"
    "\x82\xA2\x82\xDC\x82\xB7\x81\x42",
    // MsgNotInserted
    ", the media is not inserted.",
    // にメディアは挿入されていません。
    "\x82\xC9\x83\x81\x83\x66\x83\x42\x83\x41\x82\xCD\x91\x7D\x93\xFC\x82\xB3"
    "\x82\xEA\x82\xC4\x82\xA2\x82\xDC\x82\xB9\x82\xF1\x81\x42",
    // MsgNoRemovableDrive
    "There is not the removable drive.",
    // 取り出し可能なドライブがありません。
    "\x8E\xE6\x82\xE8\x8F\x6F\x82\xB5\x89\xC2\x94\x5C\x82\xC8\x83\x68\x83\x89"
    "\x83\x43\x83\x75\x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81\x42",
    // MsgCheckingDrives
    "SLOTWARD is checking the drives for media.",
    // SLOTWARD はドライブのメディアを確認しています。
    "SLOTWARD \x82\xCD\x83\x68\x83\x89\x83\x43\x83\x75\x82\xCC\x83\x81\x83\x66\x83\x42"
    "\x83\x41\x82\xF0\x8A\x6D\x94\x46\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB7\x81\x42",
    // MsgOtherRights
    "SLOTWARD runs with other rights and cannot be terminated from here.",
    // SLOTWARD は別の権限で実行されているため、終了できません。
    "SLOTWARD \x82\xCD\x95\xCA\x82\xCC\x8C\xA0\x8C\xC0\x82\xC5\x8E\xC0\x8D\x73\x82\xB3"
    "\x82\xEA\x82\xC4\x82\xA2\x82\xE9\x82\xBD\x82\xDF\x81\x41\x8F\x49\x97\xB9\x82\xC5"
    "\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x81\x42",
};

// The OEM code pages of Japanese systems: 932 (Windows), 942 and 943 (IBM Shift-JIS).
static BOOL IsJapaneseCodePage(UINT codePage) {
    return codePage == 932 || codePage == 942 || codePage == 943;
}

void SelectLanguage(void) {
    gLanguageIndex = IsJapaneseCodePage(GetOEMCP()) ? kJapanese : kEnglish;
}

const char *GetMessageText(MessageId id) {
    return kCatalogue[2 * id + gLanguageIndex];
}

void ShowCatalogueBox(MessageId text, MessageId caption, UINT style) {
    MessageBoxA(NULL, GetMessageText(text), GetMessageText(caption), style);
}

void ShowAlreadyRunning(void) {
    ShowCatalogueBox(MsgAlreadyRunning, CaptionError, MB_ICONERROR);
}
