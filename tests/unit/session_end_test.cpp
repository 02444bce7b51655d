// The session-end services of newer systems in the resident instance: the block reason and
// when it is set and removed, the shutdown order and restart registration at a resident start,
// Restart Manager's application-close requests, and that every system shows the same boxes.
#include "fixture.h"
#include "resident_run.h"

#include "control/main.h"
#include "control/monitor.h"
#include "control/messages.h"
#include "settings/dbcs.h"
#include "settings/options.h"
#include "settings/settings.h"
#include "settings/settings_file.h"
#include "settings/tokens.h"

#include <iconv.h>

#include <algorithm>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

namespace {

const char kCreate[] = "ShutdownBlockReasonCreate";
const char kDestroy[] = "ShutdownBlockReasonDestroy";
const char kShutdownLevel[] = "SetProcessShutdownParameters";
const char kRestart[] = "RegisterApplicationRestart";

std::vector<sim::SessionCall> CallsOf(const std::string &function) {
    std::vector<sim::SessionCall> found;
    for (const sim::SessionCall &call : sim::SessionCalls())
        if (call.function == function)
            found.push_back(call);
    return found;
}

std::vector<std::string> CallNames() {
    std::vector<std::string> names;
    for (const sim::SessionCall &call : sim::SessionCalls())
        names.push_back(call.function);
    return names;
}

// The survey of a layout with only drive D, as the calls come in the common order.
const std::vector<std::string> kSurveyD = {"GetLogicalDrives",
                                           "GetDriveTypeA D:", "FindFirstFileA D:*.*"};

std::vector<std::string> Seq(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> joined;
    for (const std::vector<std::string> &part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

// Where a call first stands in the common order; the order's length when it is missing.
size_t FirstIndex(const std::string &call) {
    const std::vector<std::string> &order = sim::CallOrder();
    return std::find(order.begin(), order.end(), call) - order.begin();
}

void AddMediaDrives(const char *letters) {
    for (const char *letter = letters; *letter != '\0'; letter++)
        sim::AddDrive(*letter, DRIVE_CDROM, sim::Medium::Files);
}

// ---- The reason's text

std::string Repeat(const char *character, int times) {
    std::string text;
    for (int i = 0; i < times; i++)
        text += character;
    return text;
}

const std::u16string kCheckingEn = u"SLOTWARD is checking the drives for media.";
const std::u16string kCheckingJa = u"SLOTWARD はドライブのメディアを確認しています。";

struct ReasonCase {
    const char *name;
    UINT codePage; // ANSI, and OEM when Japanese
    std::string arguments;
    const char *drives; // CD-ROM drives holding media
    bool forced;        // /F: the refusal box follows, else the question box is answered No
    std::u16string reason;
};

void PrintTo(const ReasonCase &c, std::ostream *out) {
    *out << c.name;
}

const ReasonCase kReasonCases[] = {
    {"QuestionEnglish", 1252, "", "DE", false, u"In drive D: E: , the media is still inserted."},
    {"RefusalEnglish", 1252, "/F", "D", true, u"In drive D: , the media is still inserted."},
    {"QuestionJapanese", 932, "", "D", false, u"ドライブ D: にメディアが残っています。"},
    {"RefusalJapanese", 932, "/F", "E", true, u"ドライブ E: にメディアが残っています。"},
    {"TemplateWithoutCaption", 1252, "\"/MTake $DRIVE$ out,Careful\"", "D", false,
     u"Take  D:  out"},
    {"TemplateRefusal", 1252, "/F \"/M$DRIVE$ must go,Stop\"", "D", true, u"D:  must go"},
    {"TemplateCodePage1252", 1252, "\"/M\x93$DRIVE$\x94 busy\"", "D", false,
     u"\u201C D: \u201D busy"},
    // 257 bytes of template (あ and い are two bytes each); the box text, 201 + 15 + 50 bytes,
    // is cut at 259 and then to 258, so that it ends on a whole character.
    {"TemplateJapaneseCut", 932,
     "/M" + Repeat("\x82\xA0", 100) + "$DRIVE$" + Repeat("\x82\xA2", 25), "DEFGH", false,
     std::u16string(100, u'あ') + u" D: E: F: G: H: " + std::u16string(21, u'い')},
};

class ReasonTest : public SimTest, public ::testing::WithParamInterface<ReasonCase> {};

// Registered before the first drive is looked at, then replaced by the drives' sentence.
TEST_P(ReasonTest, NamesTheDrivesBeforeTheBoxOnTheWindowsThread) {
    const ReasonCase &c = GetParam();
    sim::SetSystem(sim::System::WindowsVista);
    sim::SetCodePages(c.codePage == 932 ? 932 : 437, c.codePage);
    AddMediaDrives(c.drives);
    size_t createsWhenBoxShown = 0;
    sim::OnBox([&](const sim::Box &) {
        createsWhenBoxShown = CallsOf(kCreate).size();
        return c.forced ? IDOK : IDNO;
    });
    ResidentRun run(c.arguments);
    HWND window = run.WaitForWindow();
    ASSERT_NE(window, (HWND)NULL);

    EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, 0), 0);
    EXPECT_EQ(CallsOf(kCreate).size(), 2u) << "set before the query is answered";
    ASSERT_TRUE(WaitForBoxes(1));
    RequestTermination();
    EXPECT_EQ(run.Join(), 0);

    EXPECT_EQ(createsWhenBoxShown, 2u) << "set before the box is shown";
    EXPECT_LT(FirstIndex(kCreate), FirstIndex("GetLogicalDrives")) << "set before the survey";
    std::vector<sim::SessionCall> creates = CallsOf(kCreate);
    ASSERT_EQ(creates.size(), 2u);
    EXPECT_TRUE(creates[0].text == (c.codePage == 932 ? kCheckingJa : kCheckingEn));
    EXPECT_TRUE(creates[1].text == c.reason)
        << "reason of " << creates[1].text.size() << " units, expected " << c.reason.size();
    for (const sim::SessionCall &create : creates) {
        EXPECT_EQ(create.window, window);
        EXPECT_EQ(create.threadId, sim::Boxes()[0].threadId) << "on the window's thread";
    }
    EXPECT_TRUE(CallsOf(kDestroy).empty()) << "a refused end keeps its reason";
    ExpectNothingLeaked();
}

INSTANTIATE_TEST_SUITE_P(Texts, ReasonTest, ::testing::ValuesIn(kReasonCases), CaseName());

// ---- When the reason goes

struct RemovalCase {
    const char *name;
    const char *drives;
    int answer;       // of the question box; 0: no box expected
    UINT followUp;    // WM_ENDSESSION, or 0 for none
    WPARAM ending;    // its wParam
    LPARAM lParam;    // its lParam; without a follow-up, the query's
    int wantedCreate; // calls of ShutdownBlockReasonCreate
    bool removed;     // ShutdownBlockReasonDestroy was called once, after the creation
};

void PrintTo(const RemovalCase &c, std::ostream *out) {
    *out << c.name;
}

const RemovalCase kRemovalCases[] = {
    {"YesRemovesBeforeConsent", "D", IDYES, 0, 0, 0, 2, true},
    {"NoKeepsIt", "D", IDNO, 0, 0, 0, 2, false},
    {"CancelledEndRemovesIt", "D", IDNO, WM_ENDSESSION, FALSE, 0, 2, true},
    {"EndingSessionRemovesIt", "D", IDNO, WM_ENDSESSION, TRUE, 0, 2, true},
    {"EndingLogoffRemovesIt", "D", IDNO, WM_ENDSESSION, TRUE, (LPARAM)ENDSESSION_LOGOFF, 2, true},
    {"ConsentWithoutMediumRemovesCheckingReason", "", 0, 0, 0, 0, 1, true},
    {"EndAfterConsentRemovesNoMore", "", 0, WM_ENDSESSION, TRUE, 0, 1, true},
    {"CriticalEndSetsNothing", "D", 0, 0, 0, (LPARAM)ENDSESSION_CRITICAL, 0, false},
};

class RemovalTest : public SimTest, public ::testing::WithParamInterface<RemovalCase> {};

TEST_P(RemovalTest, ReasonLastsUntilTheSessionMayEndOrItsEndIsOver) {
    const RemovalCase &c = GetParam();
    sim::SetSystem(sim::System::WindowsVista);
    AddMediaDrives(c.drives);
    if (c.answer != 0)
        sim::ScriptBoxAnswers({c.answer});
    ResidentRun run("");
    HWND window = run.WaitForWindow();
    ASSERT_NE(window, (HWND)NULL);

    EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, c.followUp ? 0 : c.lParam),
              c.answer == IDNO ? 0 : 1);
    if (c.followUp != 0)
        SendMessageA(window, c.followUp, c.ending, c.lParam);
    EXPECT_EQ(sim::Boxes().size(), c.answer != 0 ? 1u : 0u);
    EXPECT_EQ(CallsOf(kCreate).size(), (size_t)c.wantedCreate);
    std::vector<sim::SessionCall> destroys = CallsOf(kDestroy);
    ASSERT_EQ(destroys.size(), c.removed ? 1u : 0u);
    if (c.removed) {
        EXPECT_EQ(CallNames().back(), kDestroy);
        EXPECT_EQ(destroys[0].window, window);
        EXPECT_EQ(destroys[0].threadId, sim::WindowThread(window));
    }
    EXPECT_TRUE(IsWindow(window)) << "still resident";
    RequestTermination();
    EXPECT_EQ(run.Join(), 0);
    ExpectNothingLeaked();
}

INSTANTIATE_TEST_SUITE_P(Ends, RemovalTest, ::testing::ValuesIn(kRemovalCases), CaseName());

// ---- Every system shows the same boxes and gives the same answers

struct SystemCase {
    const char *name;
    sim::System system;
    sim::Api failing; // fails at every call; Api::Count for none
    std::vector<std::string> calls;
};

void PrintTo(const SystemCase &c, std::ostream *out) {
    *out << c.name;
}

const SystemCase kSystemCases[] = {
    {"Windows2000WithoutAny", sim::System::Windows2000, sim::Api::Count, Seq({kSurveyD, kSurveyD})},
    {"WindowsXp", sim::System::WindowsXp, sim::Api::Count,
     Seq({{kShutdownLevel}, kSurveyD, kSurveyD})},
    {"WindowsVistaTo11", sim::System::WindowsVista, sim::Api::Count,
     Seq({{kShutdownLevel, kRestart, kCreate},
          kSurveyD,
          {kCreate, kCreate},
          kSurveyD,
          {kCreate, kDestroy}})},
    {"Wine8WithoutDestroy", sim::System::Wine8, sim::Api::Count,
     Seq({{kShutdownLevel, kRestart, kCreate}, kSurveyD, {kCreate, kCreate}, kSurveyD, {kCreate}})},
    {"CreateFailing", sim::System::WindowsVista, sim::Api::ShutdownBlockReasonCreate,
     Seq({{kShutdownLevel, kRestart, kCreate}, kSurveyD, {kCreate, kCreate}, kSurveyD, {kCreate}})},
    {"DestroyFailing", sim::System::WindowsVista, sim::Api::ShutdownBlockReasonDestroy,
     Seq({{kShutdownLevel, kRestart, kCreate},
          kSurveyD,
          {kCreate, kCreate},
          kSurveyD,
          {kCreate, kDestroy}})},
    {"ConversionFailing", sim::System::WindowsVista, sim::Api::MultiByteToWideChar,
     Seq({{kShutdownLevel}, kSurveyD, kSurveyD})},
    {"ModuleLookupFailing", sim::System::WindowsVista, sim::Api::GetModuleHandleA,
     Seq({kSurveyD, kSurveyD})},
    {"ShutdownLevelFailing", sim::System::WindowsVista, sim::Api::SetProcessShutdownParameters,
     Seq({{kShutdownLevel, kRestart, kCreate},
          kSurveyD,
          {kCreate, kCreate},
          kSurveyD,
          {kCreate, kDestroy}})},
};

class SystemTest : public SimTest, public ::testing::WithParamInterface<SystemCase> {};

// A refused question, a consent at logoff, and a cancelled end; the session calls and the
// drive queries in the order they came.
TEST_P(SystemTest, BoxesAndAnswersAreThoseOfOlderSystems) {
    const SystemCase &c = GetParam();
    sim::SetSystem(c.system);
    if (c.failing != sim::Api::Count)
        sim::FailCall(c.failing, 1, true);
    AddMediaDrives("D");
    sim::ScriptBoxAnswers({IDNO, IDYES});
    ResidentRun run("");
    HWND window = run.WaitForWindow();
    ASSERT_NE(window, (HWND)NULL);

    EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, 0), 0);
    EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, (LPARAM)ENDSESSION_LOGOFF), 1);
    SendMessageA(window, WM_ENDSESSION, FALSE, 0);
    EXPECT_EQ(sim::CallOrder(), c.calls);
    RequestTermination();
    EXPECT_EQ(run.Join(), 0);

    const std::string question =
        "In drive D: , the media is still inserted. Do you want to continue shutdown processing?";
    ASSERT_EQ(sim::Boxes().size(), 2u);
    for (const sim::Box &box : sim::Boxes()) {
        EXPECT_EQ(box.owner, window);
        EXPECT_EQ(box.text, question);
        EXPECT_EQ(box.caption, "SLOTWARD:Warning!");
        EXPECT_EQ(box.style, (UINT)(MB_SYSTEMMODAL | MB_DEFBUTTON2 | MB_ICONERROR | MB_YESNO));
    }
    ExpectNothingLeaked();
}

INSTANTIATE_TEST_SUITE_P(Systems, SystemTest, ::testing::ValuesIn(kSystemCases), CaseName());

// ---- Shutdown order and restart registration at a resident start

struct RestartCase {
    const char *name;
    UINT codePage;
    std::string program; // the command line's start, up to the arguments
    std::string arguments;
    bool registered;
    std::u16string wanted;
};

void PrintTo(const RestartCase &c, std::ostream *out) {
    *out << c.name;
}

const RestartCase kRestartCases[] = {
    {"NoArguments", 1252, "C:\\SLOTWARD.EXE", "", true, u"/Q "},
    {"TrailingSpaceOnly", 1252, "C:\\SLOTWARD.EXE ", "", true, u"/Q "},
    {"InnerSpacesKept", 1252, "C:\\SLOTWARD.EXE  ", "/F  D: ", true, u"/Q /F  D: "},
    {"QuotedProgramName", 1252, "\"C:\\Program Files\\SLOTWARD.EXE\"   ", "/F /X e:", true,
     u"/Q /F /X e:"},
    // The splitter drops the character after the closing quote: the running copy took no /F.
    {"QuotedNameRightBeforeOption", 1252, "\"C:\\Program Files\\SLOTWARD.EXE\"", "/F", true,
     u"/Q F"},
    {"TabAfterQuotedName", 1252, "\"C:\\Program Files\\SLOTWARD.EXE\"\t", "/F  e:", true,
     u"/Q /F  e:"},
    {"TabInsideOption", 1252, "C:\\SLOTWARD.EXE ", "/F\t/T d:", true, u"/Q /F\t/T d:"},
    // The tab joins the name and /F: the running copy took no /F, and the settings file beside
    // the program is read by both copies.
    {"TabAfterPlainName", 1252, "C:\\SLOTWARD.EXE\t", "/F", true, u"/Q "},
    // A quiet copy passes its arguments on as they are; the settings file's /Q counts as well.
    {"QuietAlready", 1252, "C:\\SLOTWARD.EXE ", "/F /q", true, u"/F /q"},
    {"QuietFromSettingsFile", 1252, "C:\\Quiet\\SLOTWARD.EXE ", "/F", true, u"/F"},
    {"NoSpaceAfterPlainName", 1252, "C:\\SLOTWARD.EXE", "", true, u"/Q "},
    {"JapaneseTemplate", 932, "C:\\SLOTWARD.EXE ", "\"/M\x82\xA0 $DRIVE$\"", true,
     u"/Q \"/Mあ $DRIVE$\""},
    {"LongestTheSystemTakes", 1252, "C:\\SLOTWARD.EXE ", "/M" + std::string(1018, 'x'), true,
     u"/Q /M" + std::u16string(1018, u'x')},
    {"TooLongForTheSystem", 1252, "C:\\SLOTWARD.EXE ", "/M" + std::string(1019, 'x'), false, u""},
};

// The program's own path, as a command line that starts with it names it.
std::string ProgramPath(const std::string &program) {
    std::string path;
    for (char c : program)
        if (c != '"')
            path += c;
    while (!path.empty() && (path.back() == ' ' || path.back() == '\t'))
        path.pop_back();
    return path;
}

std::u16string ModulePath(const std::string &program) {
    std::string path = ProgramPath(program);
    return std::u16string(path.begin(), path.end());
}

// What a start makes of its command line and its settings file, as ProgramMain reads them.
std::vector<std::string> SettingsOfStart(const std::string &commandLine,
                                         const std::string &program) {
    ResetProgramState();
    sim::SetCommandLine(commandLine);
    sim::SetModulePath(ModulePath(program));
    BuildLeadByteTable(gLeadByteTable, kLeadByteTableCapacity);
    SelectLanguage();
    LoadSettingsFile();
    SplitCommandLine();
    ApplyOptions();
    ReleaseTokens();
    auto part = [](const char *text) { return text ? "[" + std::string(text) + "]" : "-"; };
    return {std::to_string(gSettings.forceRefusal), std::to_string(gSettings.testReport),
            std::to_string(gSettings.previewMode),  std::to_string(gSettings.includeMask),
            std::to_string(gSettings.excludeMask),  part(gSettings.templatePrefix),
            part(gSettings.templateSuffix),         part(gSettings.customCaption),
            std::to_string(gLanguageIndex),         std::to_string(gSettings.quietStart)};
}

// The ANSI bytes of a registered text, as the restarted copy's command line holds them.
std::string ToAnsi(const std::u16string &text, UINT codePage) {
    iconv_t converter = iconv_open(codePage == 932 ? "CP932" : "CP1252", "UTF-16LE");
    std::string input(reinterpret_cast<const char *>(text.data()), 2 * text.size());
    std::string output(2 * text.size() + 1, '\0');
    char *in = &input[0], *out = &output[0];
    size_t inLeft = input.size(), outLeft = output.size();
    if (iconv(converter, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1))
        output.clear();
    iconv_close(converter);
    return output.substr(0, output.size() - outLeft);
}

// The program's path as a restart names it: quoted, whatever the running copy was started with.
std::string RestartedProgram(const std::string &program) {
    return "\"" + ProgramPath(program) + "\" ";
}

class RestartTest : public SimTest, public ::testing::WithParamInterface<RestartCase> {};

// The settings file beside the program takes part: a restarted copy reads it again.
TEST_P(RestartTest, ResidentStartTakesFirstPlaceAndRegistersItsArguments) {
    const RestartCase &c = GetParam();
    sim::SetSystem(sim::System::WindowsVista);
    sim::SetCodePages(c.codePage == 932 ? 932 : 437, c.codePage);
    sim::AddFile("C:\\SLOTWARD.CFG", "/X a:");
    sim::AddFile("C:\\Program Files\\SLOTWARD.CFG", "/X b:");
    sim::AddFile("C:\\Quiet\\SLOTWARD.CFG", "/Q");
    sim::SetModulePath(ModulePath(c.program));
    ResidentRun run(c.arguments, c.program);
    HWND window = run.WaitForWindow();
    ASSERT_NE(window, (HWND)NULL);
    RequestTermination();
    EXPECT_EQ(run.Join(), 0);

    std::vector<sim::SessionCall> levels = CallsOf(kShutdownLevel);
    ASSERT_EQ(levels.size(), 1u);
    EXPECT_EQ(levels[0].level, 0x3FFu);
    EXPECT_EQ(levels[0].flags, 0u);
    EXPECT_EQ(levels[0].threadId, sim::WindowThread(window));
    std::vector<sim::SessionCall> restarts = CallsOf(kRestart);
    ASSERT_EQ(restarts.size(), c.registered ? 1u : 0u);
    if (c.registered) {
        EXPECT_TRUE(restarts[0].text == c.wanted) << restarts[0].text.size() << " units";
        EXPECT_EQ(restarts[0].flags, (DWORD)RESTART_NO_REBOOT);
    }
    EXPECT_TRUE(sim::Boxes().empty());
    ExpectNothingLeaked();
    if (c.registered) {
        // The same settings, and quiet where it meets the copy started at sign-in.
        std::vector<std::string> original = SettingsOfStart(c.program + c.arguments, c.program);
        original.back() = "1";
        EXPECT_EQ(
            SettingsOfStart(RestartedProgram(c.program) + ToAnsi(c.wanted, c.codePage), c.program),
            original)
            << "the restarted copy runs with other settings";
    }
}

INSTANTIATE_TEST_SUITE_P(CommandLines, RestartTest, ::testing::ValuesIn(kRestartCases), CaseName());

// ---- Nothing outside the resident instance

struct OneShotCase {
    const char *name;
    const char *arguments;
    bool instanceRunning;
    int boxAnswer;
};

const OneShotCase kOneShotCases[] = {
    {"TestReport", "/T", false, IDOK},
    {"Preview", "/M?", false, IDNO},
    {"PreviewRefusal", "/F /M?$DRIVE$", false, IDOK},
    {"TerminationRequest", "/R", true, IDOK},
    {"AlreadyRunning", "/F", true, IDOK},
};

using SessionEndTest = SimTest;

TEST_F(SessionEndTest, OneShotRunsAndSecondStartsLookNothingUp) {
    for (const OneShotCase &c : kOneShotCases) {
        sim::Reset();
        ResetProgramState();
        sim::SetSystem(sim::System::WindowsVista);
        AddMediaDrives("D");
        HANDLE resident =
            c.instanceRunning ? CreateEventA(NULL, FALSE, FALSE, INSTANCE_EVENT_NAME) : NULL;
        sim::ScriptBoxAnswers({c.boxAnswer});
        sim::SetCommandLine(std::string("C:\\SLOTWARD.EXE ") + c.arguments);
        EXPECT_EQ(ProgramMain(), 0) << c.name;
        EXPECT_EQ(sim::Boxes().size(), 1u) << c.name;
        EXPECT_TRUE(sim::LookUps().empty()) << c.name;
        EXPECT_TRUE(sim::SessionCalls().empty()) << c.name;
        if (resident != NULL)
            CloseHandle(resident);
        ExpectNothingLeaked();
    }
}

// ---- The flags of the query and of the end

struct QueryFlagsCase {
    const char *name;
    const char *arguments;
    LPARAM lParam;
    bool checked;   // surveyed and asked (or refused with /F), else answered 1 at once
    int metric = 0; // the SM_* index that answers 1: the session ends, or it is a remote one
};

void PrintTo(const QueryFlagsCase &c, std::ostream *out) {
    *out << c.name;
}

const QueryFlagsCase kQueryFlagsCases[] = {
    {"Shutdown", "", 0, true},
    {"Logoff", "", (LPARAM)ENDSESSION_LOGOFF, true},
    {"LogoffForced", "/F", (LPARAM)ENDSESSION_LOGOFF, true},
    {"Critical", "", (LPARAM)ENDSESSION_CRITICAL, false},
    {"CriticalForced", "/F", (LPARAM)ENDSESSION_CRITICAL, false},
    {"CriticalLogoff", "", (LPARAM)(ENDSESSION_CRITICAL | ENDSESSION_LOGOFF), false},
    {"CloseApp", "", (LPARAM)ENDSESSION_CLOSEAPP, false},
    {"CloseAppCritical", "", (LPARAM)(ENDSESSION_CLOSEAPP | ENDSESSION_CRITICAL), false},
    // A restart that closes the programs registered for restart asks them so.
    {"CloseAppWhileShuttingDown", "", (LPARAM)ENDSESSION_CLOSEAPP, true, SM_SHUTTINGDOWN},
    {"CloseAppForcedWhileShuttingDown", "/F", (LPARAM)ENDSESSION_CLOSEAPP, true, SM_SHUTTINGDOWN},
    // The host's drives stay where they are when a remote user signs out.
    {"RemoteLogoff", "", (LPARAM)ENDSESSION_LOGOFF, false, SM_REMOTESESSION},
    {"RemoteLogoffForced", "/F", (LPARAM)ENDSESSION_LOGOFF, false, SM_REMOTESESSION},
    {"RemoteShutdown", "", 0, true, SM_REMOTESESSION},
};

class QueryFlagsTest : public SimTest, public ::testing::WithParamInterface<QueryFlagsCase> {};

// The refusal that /F posts is shown before the termination request's quit is handled, so the
// box count after the end holds it too.
TEST_P(QueryFlagsTest, ApplicationCloseAndCriticalEndsGoUnchecked) {
    const QueryFlagsCase &c = GetParam();
    sim::SetSystem(sim::System::WindowsVista);
    sim::SetSystemMetric(c.metric, 1);
    AddMediaDrives("D");
    if (c.checked)
        sim::ScriptBoxAnswers({IDNO});
    ResidentRun run(c.arguments);
    HWND window = run.WaitForWindow();
    ASSERT_NE(window, (HWND)NULL);

    EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, c.lParam), c.checked ? 0 : 1);
    EXPECT_EQ(sim::Probes('D'), c.checked ? 1 : 0);
    EXPECT_EQ(CallsOf(kCreate).size(), c.checked ? 2u : 0u);
    RequestTermination();
    EXPECT_EQ(run.Join(), 0);
    EXPECT_EQ(sim::Boxes().size(), c.checked ? 1u : 0u);
    ExpectNothingLeaked();
}

INSTANTIATE_TEST_SUITE_P(Flags, QueryFlagsTest, ::testing::ValuesIn(kQueryFlagsCases), CaseName());

struct EndCase {
    const char *name;
    WPARAM ending;
    LPARAM lParam;
    bool instanceEnds;
};

void PrintTo(const EndCase &c, std::ostream *out) {
    *out << c.name;
}

const EndCase kEndCases[] = {
    {"ClosedByRestartManager", TRUE, (LPARAM)ENDSESSION_CLOSEAPP, true},
    {"CloseCancelled", FALSE, (LPARAM)ENDSESSION_CLOSEAPP, false},
    {"SessionEndCancelled", FALSE, 0, false},
    // The system itself ends the process when the session ends.
    {"SessionEnding", TRUE, 0, false},
};

class EndTest : public SimTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(EndTest, OnlyRestartManagersCloseEndsTheInstance) {
    const EndCase &c = GetParam();
    sim::SetSystem(sim::System::WindowsVista);
    AddMediaDrives("D");
    sim::ScriptBoxAnswers({IDNO, IDNO});
    ResidentRun run("");
    HWND window = run.WaitForWindow();
    ASSERT_NE(window, (HWND)NULL);

    EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, c.lParam), c.lParam != 0 ? 1 : 0);
    SendMessageA(window, WM_ENDSESSION, c.ending, c.lParam);
    if (c.instanceEnds) {
        EXPECT_EQ(run.Join(), 0);
        EXPECT_FALSE(sim::NamedEventExists(INSTANCE_EVENT_NAME));
    } else {
        EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, 0), 0) << "still guarding";
        EXPECT_EQ(sim::Boxes().size(), c.lParam != 0 ? 1u : 2u);
        RequestTermination();
        EXPECT_EQ(run.Join(), 0);
    }
    ExpectNothingLeaked();
}

INSTANTIATE_TEST_SUITE_P(Ends, EndTest, ::testing::ValuesIn(kEndCases), CaseName());

} // namespace
