// The verdict and report; see verdict.h. Every box text is composed in gReportText, cut at its
// capacity: a user template near its own limit plus a long drive list would not fit.
#include "check/verdict.h"

#include "check/survey.h"
#include "common/text.h"
#include "control/messages.h"
#include "control/session_end.h"
#include "settings/dbcs.h"
#include "settings/settings.h"

char gReportText[kReportCapacity];
HWND gHiddenWindow;

// The preview shows the shutdown box for drive A whether or not it exists, without a survey.
static const char kSampleDriveList[] = "A: ";

static const UINT kReportStyle = MB_ICONINFORMATION;
static const UINT kQuestionStyle = MB_SYSTEMMODAL | MB_DEFBUTTON2 | MB_ICONERROR | MB_YESNO;
static const UINT kRefusalStyle = MB_SYSTEMMODAL | MB_ICONERROR;
static const int kForcedRefusal = 1;

// Only an absent template part falls back to the catalogue; an empty one is used, empty.
static const char *UserOrBuiltIn(const char *userPart, MessageId builtIn) {
    return userPart != NULL ? userPart : GetMessageText(builtIn);
}

static void AppendSentence(const char *lead, const char *driveList, const char *tail) {
    TextAppend(gReportText, kReportCapacity, lead);
    TextAppend(gReportText, kReportCapacity, driveList);
    TextAppend(gReportText, kReportCapacity, tail);
}

// Empty drives first, then drives with media; the two sentences run on without a separator.
static int ShowTestReport(HWND owner) {
    gReportText[0] = '\0';
    if (gEmptyList[0] == '\0' && gMediaList[0] == '\0')
        TextCopy(gReportText, kReportCapacity, GetMessageText(MsgNoRemovableDrive));
    if (gEmptyList[0] != '\0')
        AppendSentence(GetMessageText(MsgInDrive), gEmptyList, GetMessageText(MsgNotInserted));
    if (gMediaList[0] != '\0')
        AppendSentence(GetMessageText(MsgInDrive), gMediaList, GetMessageText(MsgStillInserted));
    return MessageBoxA(owner, gReportText, GetMessageText(CaptionInformation), kReportStyle);
}

// The user's prefix and suffix, or the built-in ones, around the drives that hold media. A long
// template can make the text be cut; it then ends on a whole character, not half of one.
static void ComposeVerdict(MessageId builtInTail) {
    gReportText[0] = '\0';
    AppendSentence(UserOrBuiltIn(gSettings.templatePrefix, MsgInDrive), gMediaList,
                   UserOrBuiltIn(gSettings.templateSuffix, builtInTail));
    size_t length = TextLength(gReportText);
    gReportText[WholeCharacterLength(gReportText, length, gLeadByteTable)] = '\0';
    // Before any box and before a refusal is answered, so that the system names the drives on
    // its own screen. Only a resident instance has the service; elsewhere this does nothing.
    SetBlockReason();
}

int ShowRefusal(HWND owner) {
    return MessageBoxA(owner, gReportText, UserOrBuiltIn(gSettings.customCaption, CaptionError),
                       kRefusalStyle);
}

// In resident mode the box waits for the posted message, so that the shutdown query is answered
// at once instead of being held up while the box is open.
static int RefuseShutdown(HWND owner) {
    ComposeVerdict(MsgRemoveAndRetry);
    if (gSettings.previewMode)
        ShowRefusal(owner);
    else
        PostMessageA(gHiddenWindow, WMU_SHOW_REFUSAL, 0, 0);
    return kForcedRefusal;
}

static int AskToContinue(HWND owner) {
    ComposeVerdict(MsgAskContinue);
    return MessageBoxA(owner, gReportText, UserOrBuiltIn(gSettings.customCaption, CaptionWarning),
                       kQuestionStyle);
}

int CheckMedia(HWND owner) {
    // A resident instance asked to end while the drives were surveyed shows nothing more.
    if (gSettings.previewMode)
        TextCopy(gMediaList, kDriveListCapacity, kSampleDriveList);
    else if (!SurveyDrives())
        return 0;
    if (gSettings.testReport)
        return ShowTestReport(owner);
    if (gMediaList[0] == '\0')
        return IDYES;
    return gSettings.forceRefusal ? RefuseShutdown(owner) : AskToContinue(owner);
}
