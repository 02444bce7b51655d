// Start-up and mode dispatch: which of the four modes a start runs, from the command line, the
// settings file and whether an instance event already exists; and what each mode shows.
#include "resident_run.h"

#include "control/main.h"
#include "control/messages.h"
#include "control/monitor.h"

#include <atomic>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char *kExePath = "C:\\Tools\\SLOTWARD.EXE";
const char *kCfgPath = "C:\\Tools\\SLOTWARD.CFG";
const char16_t *kExeModule = u"C:\\Tools\\SLOTWARD.EXE";

struct ExpectedBox {
    MessageId text;
    MessageId caption;
    UINT style;
};

struct DispatchCase {
    const char *name;
    const char *arguments;    // after the program path
    const char *settingsFile; // NULL: no file
    // Another instance holds the event: 1 (and ends on a termination request), one with other
    // rights: 2, one that does not end on the request: 3.
    int instanceRunning;
    UINT oemCodePage;
    std::vector<ExpectedBox> boxes; // MsgNoRemovableDrive stands for the test report
    bool eventSignalled;            // the termination request reached the event
};

const int kElevated = 2;
const int kStuck = 3;
const UINT kInfo = MB_ICONINFORMATION;
const UINT kQuestion = MB_SYSTEMMODAL | MB_DEFBUTTON2 | MB_ICONERROR | MB_YESNO;

const DispatchCase kDispatchCases[] = {
    {"TerminateResident",
     "/R",
     NULL,
     true,
     437,
     {{MsgTerminated, CaptionInformation, kInfo}},
     true},
    {"TerminateStuckResident",
     "/R",
     NULL,
     kStuck,
     437,
     {{MsgStillRunning, CaptionWarning, MB_ICONWARNING}},
     true},
    {"TerminateNone",
     "/r",
     NULL,
     false,
     437,
     {{MsgNotRunning, CaptionInformation, MB_ICONWARNING}},
     false},
    {"TerminateBeatsTestReport",
     "/T /R",
     NULL,
     true,
     437,
     {{MsgTerminated, CaptionInformation, kInfo}},
     true},
    {"SecondStart", "", NULL, true, 437, {{MsgAlreadyRunning, CaptionError, MB_ICONERROR}}, false},
    // A start nobody asked for (Startup entry, restart) stays quiet beside a resident copy, from
    // the command line or the settings file, elevated or not; otherwise it changes nothing.
    {"QuietSecondStart", "/Q", NULL, true, 437, {}, false},
    {"QuietSecondStartFromFile", "", "/q", true, 437, {}, false},
    {"QuietBesideElevated", "/Q", NULL, kElevated, 437, {}, false},
    {"QuietTerminateStillTells",
     "/Q /R",
     NULL,
     true,
     437,
     {{MsgTerminated, CaptionInformation, kInfo}},
     true},
    {"QuietTestReportStillShows",
     "/Q /T",
     NULL,
     true,
     437,
     {{MsgNoRemovableDrive, CaptionInformation, kInfo}},
     false},
    {"SecondStartBesideElevated",
     "",
     NULL,
     kElevated,
     437,
     {{MsgAlreadyRunning, CaptionError, MB_ICONERROR}},
     false},
    {"TerminateElevated",
     "/R",
     NULL,
     kElevated,
     437,
     {{MsgOtherRights, CaptionWarning, MB_ICONWARNING}},
     false},
    {"TestReportWhileResident",
     "/T",
     NULL,
     true,
     437,
     {{MsgNoRemovableDrive, CaptionInformation, kInfo}},
     false},
    {"TestReportFromFile",
     "",
     "/T",
     false,
     437,
     {{MsgNoRemovableDrive, CaptionInformation, kInfo}},
     false},
    {"PreviewFromFile",
     "",
     "/M?",
     false,
     437,
     {{MsgAskContinue, CaptionWarning, kQuestion}},
     false},
    {"CommandLineTemplateEndsFilePreview",
     "/Mhello",
     "/M?",
     true,
     437,
     {{MsgAlreadyRunning, CaptionError, MB_ICONERROR}},
     false},
    {"TerminateFromFileIgnored",
     "",
     "/R",
     true,
     437,
     {{MsgAlreadyRunning, CaptionError, MB_ICONERROR}},
     false},
    {"CommandLineTerminateBeatsFileReport",
     "/R",
     "/T",
     true,
     437,
     {{MsgTerminated, CaptionInformation, kInfo}},
     true},
    {"JapaneseNotRunning",
     "/R",
     NULL,
     false,
     932,
     {{MsgNotRunning, CaptionInformation, MB_ICONWARNING}},
     false},
    {"EnglishForcedOnJapanese",
     "/E /R",
     NULL,
     false,
     932,
     {{MsgNotRunning, CaptionInformation, MB_ICONWARNING}},
     false},
    {"EnglishFromFileOnJapanese",
     "",
     "/E",
     true,
     932,
     {{MsgAlreadyRunning, CaptionError, MB_ICONERROR}},
     false},
};

std::string CatalogueText(MessageId id, int language) {
    int saved = gLanguageIndex;
    gLanguageIndex = language;
    std::string text = GetMessageText(id);
    gLanguageIndex = saved;
    return text;
}

int ExpectedLanguage(const DispatchCase &c) {
    bool english = std::string(c.arguments).find("/E") != std::string::npos ||
                   (c.settingsFile && std::string(c.settingsFile) == "/E");
    return (c.oemCodePage == 932 && !english) ? kJapanese : kEnglish;
}

// Test listings name the case, not its bytes.
void PrintTo(const DispatchCase &c, std::ostream *out) {
    *out << c.name;
}

class DispatchTest : public SimTest, public ::testing::WithParamInterface<DispatchCase> {};

TEST_P(DispatchTest, RunsTheModeItsSettingsSelect) {
    const DispatchCase &c = GetParam();
    sim::SetCodePages(c.oemCodePage, c.oemCodePage == 932 ? 932 : 1252);
    sim::SetCommandLine(std::string(kExePath) + " " + c.arguments);
    sim::SetModulePath(kExeModule);
    sim::SetCurrentDirectory("E:\\Stick");
    if (c.settingsFile)
        sim::AddFile(kCfgPath, c.settingsFile);
    // A resident copy ends on the request: its process goes, and with it its event.
    bool ends = c.instanceRunning == 1 && c.eventSignalled;
    int resident = ends ? sim::NewProcess() : 0;
    HANDLE other = NULL;
    if (c.instanceRunning == 1 || c.instanceRunning == kStuck)
        sim::RunInProcess(resident,
                          [&] { other = CreateEventA(NULL, FALSE, FALSE, INSTANCE_EVENT_NAME); });
    std::atomic<bool> ended{false};
    std::thread watcher;
    if (ends)
        watcher = std::thread([&] {
            if (WaitForSingleObject(other, INFINITE) == WAIT_OBJECT_0)
                ended = true;
            sim::EndProcess(resident);
        });
    if (c.instanceRunning == kElevated)
        sim::AddElevatedEvent(INSTANCE_EVENT_NAME);
    // Only the other copy may hold the event while a box is open: the one that came first.
    std::vector<int> handlesWhileBoxShown;
    sim::OnBox([&](const sim::Box &) {
        handlesWhileBoxShown.push_back(ProgramHandles());
        return IDOK;
    });

    EXPECT_EQ(ProgramMain(), 0);

    const std::vector<sim::Box> &boxes = sim::Boxes();
    ASSERT_EQ(boxes.size(), c.boxes.size());
    int language = ExpectedLanguage(c);
    for (size_t i = 0; i < boxes.size(); i++) {
        const ExpectedBox &want = c.boxes[i];
        std::string text = CatalogueText(want.text, language);
        if (want.text == MsgAskContinue) // the preview: sample drive A
            text = CatalogueText(MsgInDrive, language) + "A: " + text;
        EXPECT_EQ(boxes[i].text, text) << Hex(boxes[i].text);
        EXPECT_EQ(boxes[i].caption, CatalogueText(want.caption, language));
        EXPECT_EQ(boxes[i].style, want.style);
        EXPECT_EQ(boxes[i].owner, (HWND)NULL);
    }
    if (watcher.joinable())
        watcher.join();
    EXPECT_EQ(handlesWhileBoxShown,
              std::vector<int>(c.boxes.size(), other != NULL && !ends ? 1 : 0));
    EXPECT_EQ(sim::EventSignalled(INSTANCE_EVENT_NAME) || ended, c.eventSignalled);
    EXPECT_EQ(sim::ErrorMode(), SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    EXPECT_EQ(sim::Calls(sim::Api::CreateEventA) - SurveyEventsMade(), other != NULL ? 1 : 0)
        << "only a resident start creates the event";
    EXPECT_EQ(sim::Calls(sim::Api::CreateWindowExA), 0) << "no second resident";
    EXPECT_EQ(sim::CurrentDirectory(), "E:\\Stick") << "only a resident start leaves it";
    if (other != NULL && !ends)
        CloseHandle(other);
    ExpectNothingLeaked();
}

INSTANTIATE_TEST_SUITE_P(Modes, DispatchTest, ::testing::ValuesIn(kDispatchCases), CaseName());

// One start leaves its box on the screen while the resident copy ends. The next start, quiet or
// not, must find no copy: it guards, and a termination request finds nothing to end.
struct LeftOpenCase {
    const char *name;
    const char *first;     // arguments of the start whose box stays open
    const char *firstText; // that box's text
    const char *next;      // arguments of the start made meanwhile
};

const char *kReportOnF = "In drive F: , the media is still inserted.";
const char *kQuestionOnF =
    "In drive F: , the media is still inserted. Do you want to continue shutdown processing?";
const char *kPreviewOnA =
    "In drive A: , the media is still inserted. Do you want to continue shutdown processing?";

const LeftOpenCase kLeftOpenCases[] = {
    {"ReportThenPlain", "/T", kReportOnF, ""},
    {"ReportThenQuiet", "/T", kReportOnF, "/Q"},
    {"ReportThenTerminate", "/T", kReportOnF, "/R"},
    {"PreviewThenPlain", "/M?", kPreviewOnA, ""},
    {"PreviewThenQuiet", "/M?", kPreviewOnA, "/Q"},
    {"AlreadyRunningThenPlain", "", "SLOTWARD is already execute.", ""},
    {"AlreadyRunningThenQuiet", "", "SLOTWARD is already execute.", "/Q"},
    {"TerminatedThenPlain", "/R", "SLOTWARD was terminated.", ""},
    {"TerminatedThenQuiet", "/R", "SLOTWARD was terminated.", "/Q"},
};

void PrintTo(const LeftOpenCase &c, std::ostream *out) {
    *out << c.name;
}

class BoxLeftOpenTest : public SimTest, public ::testing::WithParamInterface<LeftOpenCase> {};

TEST_P(BoxLeftOpenTest, NextStartFindsNoCopyOnceTheResidentOneEnded) {
    const LeftOpenCase &c = GetParam();
    bool terminate = std::string(c.next) == "/R";
    sim::AddDrive('F', DRIVE_CDROM, sim::Medium::Files);
    int resident = sim::NewProcess();
    HANDLE event = NULL;
    sim::RunInProcess(resident,
                      [&] { event = CreateEventA(NULL, FALSE, FALSE, INSTANCE_EVENT_NAME); });
    // Asked to end, the resident copy does, before the requesting start's box.
    std::thread endsOnRequest;
    if (std::string(c.first) == "/R")
        endsOnRequest = std::thread([&] {
            WaitForSingleObject(event, INFINITE);
            sim::EndProcess(resident);
        });
    std::atomic<int> shown{0};
    HWND nextWindow = NULL;
    LRESULT nextAnswer = -1;
    sim::OnBox([&](const sim::Box &) {
        if (shown++ > 0) // the next start's: its question, or "not running"
            return terminate ? IDOK : IDNO;
        sim::EndProcess(resident);
        ResetProgramState(); // the next start is a process of its own; this one only waits
        ResidentRun next(c.next);
        if (!terminate && (nextWindow = next.WaitForWindow()) != NULL) {
            nextAnswer = SendMessageA(nextWindow, WM_QUERYENDSESSION, 0, 0);
            RequestTermination();
        }
        next.Join();
        return IDOK;
    });
    sim::SetCommandLine(std::string("C:\\SLOTWARD.EXE ") + c.first);

    EXPECT_EQ(ProgramMain(), 0);
    if (endsOnRequest.joinable())
        endsOnRequest.join();

    const std::vector<sim::Box> &boxes = sim::Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, c.firstText);
    EXPECT_EQ(boxes[1].text, terminate ? "SLOTWARD is not execute." : kQuestionOnF);
    EXPECT_EQ(boxes[1].owner, nextWindow);
    EXPECT_EQ(nextAnswer, terminate ? -1 : 0) << "the next start guards";
    ExpectNothingLeaked();
}

INSTANTIATE_TEST_SUITE_P(Starts, BoxLeftOpenTest, ::testing::ValuesIn(kLeftOpenCases), CaseName());

TEST_F(SimTest, SettingsFileIsReadBeforeErrorModeIsSet) {
    sim::SetCommandLine(std::string(kExePath) + " /R");
    sim::SetModulePath(kExeModule);
    sim::ScriptBoxAnswers({IDOK});
    ProgramMain();
    ASSERT_EQ(sim::CreateFileWLog().size(), 1u);
    EXPECT_TRUE(sim::CreateFileWLog()[0] == u"C:\\Tools\\SLOTWARD.CFG");
    EXPECT_EQ(sim::ErrorMode(), SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

TEST_F(SimTest, TestReportProbesEmptyDriveWithoutSystemDialog) {
    sim::AddDrive('A', DRIVE_REMOVABLE, sim::Medium::None);
    sim::SetCommandLine(std::string(kExePath) + " /T");
    sim::ScriptBoxAnswers({IDOK});
    ProgramMain();
    EXPECT_EQ(sim::Probes('A'), 1);
    EXPECT_EQ(sim::CriticalErrorDialogs(), 0);
    ExpectNothingLeaked();
}

TEST_F(SimTest, EveryOutcomeExitsWithZeroEvenWhenBoxesFail) {
    sim::SetCommandLine(std::string(kExePath) + " /R");
    sim::FailCall(sim::Api::MessageBoxA, 1, true);
    int exitCode = -1;
    sim::OnExitProcess([&](UINT code) { exitCode = (int)code; });
    ProgramEntry();
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(sim::ExitCode(), 0);
    ExpectNothingLeaked();
}

} // namespace
