// The message catalogue: every text byte for byte in both languages, and the choice of the
// language from the OEM code page. The Japanese bytes expected here are converted from UTF-8 by
// the host's iconv, independently of the escapes in the catalogue.
#include "fixture.h"

#include "control/messages.h"

#include <iconv.h>

#include <string>

namespace {

struct CatalogueRow {
    MessageId id;
    const char *english;
    const char *japaneseUtf8;
    size_t englishBytes;
    size_t japaneseBytes;
};

const CatalogueRow kCatalogueRows[] = {
    {CaptionInformation, "SLOTWARD:Information", "SLOTWARD:情報", 20, 13},
    {CaptionWarning, "SLOTWARD:Warning!", "SLOTWARD:警告！", 17, 15},
    {CaptionError, "SLOTWARD:Error!", "SLOTWARD:エラー！", 15, 17},
    {MsgTerminated, "SLOTWARD was terminated.", "SLOTWARD を終了しました。", 24, 25},
    {MsgNotRunning, "SLOTWARD is not execute.", "SLOTWARD は実行していません。", 24, 29},
    {MsgAlreadyRunning, "SLOTWARD is already execute.", "SLOTWARD は既に実行しています。", 28, 31},
    {MsgInDrive, "In drive ", "ドライブ ", 9, 9},
    {MsgAskContinue, ", the media is still inserted. Do you want to continue shutdown processing?",
     "にメディアが残っています。シャットダウン処理を続行しますか？", 75, 60},
    {MsgRemoveAndRetry,
     ", the media is still inserted. Please remove it and try again shutdown processing.",
     "にメディアが残っています。取り出してからシャットダウンを再試行して下さい。", 82, 74},
    {MsgStillInserted, ", the media is still inserted.", "にメディアが残っています。", 30, 26},
    {MsgNotInserted, ", the media is not inserted.", "にメディアは挿入されていません。", 28, 32},
    {MsgNoRemovableDrive, "There is not the removable drive.",
     "取り出し可能なドライブがありません。", 33, 36},
    {MsgCheckingDrives, "SLOTWARD is checking the drives for media.",
     "SLOTWARD はドライブのメディアを確認しています。", 42, 47},
    {MsgOtherRights, "SLOTWARD runs with other rights and cannot be terminated from here.",
     "SLOTWARD は別の権限で実行されているため、終了できません。", 67, 57},
    {MsgCannotStayResident, "SLOTWARD cannot stay resident: ", "SLOTWARD は常駐できません：", 31,
     27},
    {MsgClassNotRegistered, "the window class could not be registered.",
     "ウィンドウクラスを登録できませんでした。", 41, 40},
    {MsgWindowNotCreated, "the hidden window could not be created.",
     "常駐用のウィンドウを作成できませんでした。", 39, 42},
    {MsgWatcherNotStarted, "the watcher thread could not be started.",
     "監視スレッドを開始できませんでした。", 40, 36},
    {MsgWindowsError, " Windows error code: ", "Windows エラーコード：", 21, 22},
    {MsgEventNotCreated, "the instance event could not be created.",
     "常駐用のイベントを作成できませんでした。", 40, 40},
    {MsgStillRunning, "SLOTWARD was asked to end, but it is still running.",
     "SLOTWARD に終了を要求しましたが、まだ実行しています。", 51, 53},
};

static_assert(sizeof kCatalogueRows / sizeof kCatalogueRows[0] == kMessageCount,
              "one row per MessageId");

// UTF-8 to Shift-JIS (code page 932) through glibc; an empty result means the conversion failed.
std::string ToCodePage932(const std::string &utf8) {
    iconv_t converter = iconv_open("CP932", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return std::string();
    std::string input = utf8;
    char output[256];
    char *in = &input[0];
    char *out = output;
    size_t inLeft = input.size();
    size_t outLeft = sizeof output;
    size_t converted = iconv(converter, &in, &inLeft, &out, &outLeft);
    iconv_close(converter);
    if (converted == static_cast<size_t>(-1) || inLeft != 0)
        return std::string();
    return std::string(output, out);
}

class MessagesTest : public SimTest {};

TEST_F(MessagesTest, EnglishTextsByteForByte) {
    gLanguageIndex = kEnglish;
    for (const CatalogueRow &row : kCatalogueRows) {
        std::string actual = GetMessageText(row.id);
        EXPECT_EQ(actual, row.english) << "MessageId " << row.id;
        EXPECT_EQ(actual.size(), row.englishBytes) << "MessageId " << row.id;
    }
}

TEST_F(MessagesTest, JapaneseTextsAreShiftJisByteForByte) {
    gLanguageIndex = kJapanese;
    for (const CatalogueRow &row : kCatalogueRows) {
        std::string expected = ToCodePage932(row.japaneseUtf8);
        ASSERT_FALSE(expected.empty()) << "iconv could not convert MessageId " << row.id;
        ASSERT_EQ(expected.size(), row.japaneseBytes) << "table row " << row.id;
        std::string actual = GetMessageText(row.id);
        EXPECT_EQ(actual.size(), row.japaneseBytes) << "MessageId " << row.id;
        EXPECT_EQ(Hex(actual), Hex(expected)) << "MessageId " << row.id;
    }
}

// A couple of texts pinned as literal bytes, so that a fault shared by iconv and the catalogue
// (a wrong code page, say) cannot pass unnoticed.
TEST_F(MessagesTest, JapaneseTextsPinnedAsBytes) {
    gLanguageIndex = kJapanese;
    EXPECT_EQ(Hex(GetMessageText(CaptionError)),
              "53 4C 4F 54 57 41 52 44 3A 83 47 83 89 81 5B 81 49 ");
    EXPECT_EQ(Hex(GetMessageText(MsgInDrive)), "83 68 83 89 83 43 83 75 20 ");
}

TEST_F(MessagesTest, SelectLanguageFromOemCodePage) {
    const struct {
        UINT oem;
        int expected;
    } cases[] = {
        {932, kJapanese}, {942, kJapanese}, {943, kJapanese}, {437, kEnglish},
        {1252, kEnglish}, {850, kEnglish},  {936, kEnglish},  {949, kEnglish},
    };
    for (const auto &c : cases) {
        sim::SetCodePages(c.oem, 1252);
        gLanguageIndex = 1 - c.expected;
        SelectLanguage();
        EXPECT_EQ(gLanguageIndex, c.expected) << "OEM code page " << c.oem;
    }
}

// Only the OEM code page counts: a Japanese ANSI code page on a Western OEM one stays English.
TEST_F(MessagesTest, SelectLanguageIgnoresAnsiCodePage) {
    sim::SetCodePages(437, 932);
    gLanguageIndex = kJapanese;
    SelectLanguage();
    EXPECT_EQ(gLanguageIndex, kEnglish);
}

} // namespace
