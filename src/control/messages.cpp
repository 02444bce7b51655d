// The message catalogue; see messages.h. The Japanese texts are Shift-JIS (code page 932)
// bytes written as escapes, so that neither compiler re-encodes them; the Japanese is beside each.
#include "control/messages.h"

#include "common/text.h"
#include "settings/settings.h"

int gLanguageIndex;

// Entry 2 * MessageId + language index: English, then Japanese, for every message. The texts
// stand one after another, each ended by its terminator, and a lookup walks to the one it wants:
// a table of pointers would cost the exe a relocation for every text.
static constexpr char kCatalogue[] =
    // CaptionInformation
    "SLOTWARD:Information\0"
    // SLOTWARD:情報
    "SLOTWARD:\x8F\xEE\x95\xF1\0"
    // CaptionWarning
    "SLOTWARD:Warning!\0"
    // SLOTWARD:警告！
    "SLOTWARD:\x8C\x78\x8D\x90\x81\x49\0"
    // CaptionError
    "SLOTWARD:Error!\0"
    // SLOTWARD:エラー！
    "SLOTWARD:\x83\x47\x83\x89\x81\x5B\x81\x49\0"
    // MsgTerminated
    "SLOTWARD was terminated.\0"
    // SLOTWARD を終了しました。
    "SLOTWARD \x82\xF0\x8F\x49\x97\xB9\x82\xB5\x82\xDC\x82\xB5\x82\xBD"
    "\x81\x42\0"
    // MsgNotRunning
    "SLOTWARD is not execute.\0"
    // SLOTWARD は実行していません。
    "SLOTWARD \x82\xCD\x8E\xC0\x8D\x73\x82\xB5\x82\xC4\x82\xA2\x82\xDC"
    "\x82\xB9\x82\xF1\x81\x42\0"
    // MsgAlreadyRunning
    "SLOTWARD is already execute.\0"
    // SLOTWARD は既に実行しています。
    "SLOTWARD \x82\xCD\x8A\xF9\x82\xC9\x8E\xC0\x8D\x73\x82\xB5\x82\xC4"
    "\x82\xA2\x82\xDC\x82\xB7\x81\x42\0"
    // MsgInDrive
    "In drive \0"
    // ドライブ
    "\x83\x68\x83\x89\x83\x43\x83\x75 \0"
    // MsgAskContinue
    ", the media is still inserted. Do you want to continue shutdown processing?\0"
    // にメディアが残っています。シャットダウン処理を続行しますか？
    "\x82\xC9\x83\x81\x83\x66\x83\x42\x83\x41\x82\xAA\x8E\x63\x82\xC1\x82\xC4"
    "\x82\xA2\x82\xDC\x82\xB7\x81\x42\x83\x56\x83\x83\x83\x62\x83\x67\x83\x5F"
    "\x83\x45\x83\x93\x8F\x88\x97\x9D\x82\xF0\x91\xB1\x8D\x73\x82\xB5\x82\xDC"
    "\x82\xB7\x82\xA9\x81\x48\0"
    // MsgRemoveAndRetry
    ", the media is still inserted. Please remove it and try again "
    "shutdown processing.\0"
    // にメディアが残っています。取り出してからシャットダウンを再試行して下さい。
    "\x82\xC9\x83\x81\x83\x66\x83\x42\x83\x41\x82\xAA\x8E\x63\x82\xC1\x82\xC4"
    "\x82\xA2\x82\xDC\x82\xB7\x81\x42\x8E\xE6\x82\xE8\x8F\x6F\x82\xB5\x82\xC4"
    "\x82\xA9\x82\xE7\x83\x56\x83\x83\x83\x62\x83\x67\x83\x5F\x83\x45\x83\x93"
    "\x82\xF0\x8D\xC4\x8E\x8E\x8D\x73\x82\xB5\x82\xC4\x89\xBA\x82\xB3\x82\xA2"
    "\x81\x42\0"
    // MsgStillInserted
    ", the media is still inserted.\0"
    // にメディアが残っています。
    "\x82\xC9\x83\x81\x83\x66\x83\x42\x83\x41\x82\xAA\x8E\x63\x82\xC1\x82\xC4"
    "\x82\xA2\x82\xDC\x82\xB7\x81\x42\0"
    // MsgNotInserted
    ", the media is not inserted.\0"
    // にメディアは挿入されていません。
    "\x82\xC9\x83\x81\x83\x66\x83\x42\x83\x41\x82\xCD\x91\x7D\x93\xFC\x82\xB3"
    "\x82\xEA\x82\xC4\x82\xA2\x82\xDC\x82\xB9\x82\xF1\x81\x42\0"
    // MsgNoRemovableDrive
    "There is not the removable drive.\0"
    // 取り出し可能なドライブがありません。
    "\x8E\xE6\x82\xE8\x8F\x6F\x82\xB5\x89\xC2\x94\x5C\x82\xC8\x83\x68\x83\x89"
    "\x83\x43\x83\x75\x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81\x42\0"
    // MsgCheckingDrives
    "SLOTWARD is checking the drives for media.\0"
    // SLOTWARD はドライブのメディアを確認しています。
    "SLOTWARD \x82\xCD\x83\x68\x83\x89\x83\x43\x83\x75\x82\xCC\x83\x81\x83\x66\x83\x42"
    "\x83\x41\x82\xF0\x8A\x6D\x94\x46\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB7\x81\x42\0"
    // MsgOtherRights
    "SLOTWARD runs with other rights and cannot be terminated from here.\0"
    // SLOTWARD は別の権限で実行されているため、終了できません。
    "SLOTWARD \x82\xCD\x95\xCA\x82\xCC\x8C\xA0\x8C\xC0\x82\xC5\x8E\xC0\x8D\x73\x82\xB3"
    "\x82\xEA\x82\xC4\x82\xA2\x82\xE9\x82\xBD\x82\xDF\x81\x41\x8F\x49\x97\xB9\x82\xC5"
    "\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x81\x42\0"
    // MsgCannotStayResident
    "SLOTWARD cannot stay resident: \0"
    // SLOTWARD は常駐できません：
    "SLOTWARD \x82\xCD\x8F\xED\x92\x93\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x81\x46\0"
    // MsgClassNotRegistered
    "the window class could not be registered.\0"
    // ウィンドウクラスを登録できませんでした。
    "\x83\x45\x83\x42\x83\x93\x83\x68\x83\x45\x83\x4E\x83\x89\x83\x58\x82\xF0\x93\x6F"
    "\x98\x5E\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD\x81\x42\0"
    // MsgWindowNotCreated
    "the hidden window could not be created.\0"
    // 常駐用のウィンドウを作成できませんでした。
    "\x8F\xED\x92\x93\x97\x70\x82\xCC\x83\x45\x83\x42\x83\x93\x83\x68\x83\x45\x82\xF0"
    "\x8D\xEC\x90\xAC\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD"
    "\x81\x42\0"
    // MsgWatcherNotStarted
    "the watcher thread could not be started.\0"
    // 監視スレッドを開始できませんでした。
    "\x8A\xC4\x8E\x8B\x83\x58\x83\x8C\x83\x62\x83\x68\x82\xF0\x8A\x4A\x8E\x6E\x82\xC5"
    "\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD\x81\x42\0"
    // MsgWindowsError
    " Windows error code: \0"
    // Windows エラーコード：
    "Windows \x83\x47\x83\x89\x81\x5B\x83\x52\x81\x5B\x83\x68\x81\x46\0"
    // MsgEventNotCreated
    "the instance event could not be created.\0"
    // 常駐用のイベントを作成できませんでした。
    "\x8F\xED\x92\x93\x97\x70\x82\xCC\x83\x43\x83\x78\x83\x93\x83\x67\x82\xF0\x8D\xEC"
    "\x90\xAC\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD\x81\x42\0"
    // MsgStillRunning
    "SLOTWARD was asked to end, but it is still running.\0"
    // SLOTWARD に終了を要求しましたが、まだ実行しています。
    "SLOTWARD \x82\xC9\x8F\x49\x97\xB9\x82\xF0\x97\x76\x8B\x81\x82\xB5\x82\xDC\x82\xB5"
    "\x82\xBD\x82\xAA\x81\x41\x82\xDC\x82\xBE\x8E\xC0\x8D\x73\x82\xB5\x82\xC4\x82\xA2"
    "\x82\xDC\x82\xB7\x81\x42\0";

// Every text is there, each with its terminator: one missing would shift all that follow.
static constexpr int CountTexts(const char *texts, size_t size) {
    int count = 0;
    for (size_t i = 0; i < size; i++)
        count += texts[i] == '\0' ? 1 : 0;
    return count;
}
static_assert(CountTexts(kCatalogue, sizeof kCatalogue - 1) == 2 * kMessageCount,
              "one English and one Japanese text for every message");

// The OEM code pages of Japanese systems: 932 (Windows), 942 and 943 (IBM Shift-JIS).
static BOOL IsJapaneseCodePage(UINT codePage) {
    return codePage == 932 || codePage == 942 || codePage == 943;
}

void SelectLanguage(void) {
    gLanguageIndex = IsJapaneseCodePage(GetOEMCP()) ? kJapanese : kEnglish;
}

const char *GetMessageText(MessageId id) {
    const char *text = kCatalogue;
    for (int entry = 2 * id + gLanguageIndex; entry > 0; entry--)
        text += TextLength(text) + 1;
    return text;
}

void ShowCatalogueBox(MessageId text, MessageId caption, UINT style) {
    MessageBoxA(NULL, GetMessageText(text), GetMessageText(caption), style);
}

// A start nobody asked for (the Startup entry, a restart by Windows or by the installer) asks
// for quiet: it meets the copy it would have been only because that copy came first.
void ShowAlreadyRunning(void) {
    if (!gSettings.quietStart)
        ShowCatalogueBox(MsgAlreadyRunning, CaptionError, MB_ICONERROR);
}
