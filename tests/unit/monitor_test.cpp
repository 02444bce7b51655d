// The resident monitor: the hidden window, its answers to the session's end, the termination
// protocol through the instance event, and the failure paths of start-up.
#include "resident_run.h"

#include "check/verdict.h"
#include "common/text.h"
#include "control/main.h"
#include "control/messages.h"
#include "control/monitor.h"
#include "settings/settings.h"

#include <atomic>
#include <ostream>
#include <string>
#include <thread>

namespace {

using MonitorTest = SimTest;

// Started from a stick, it leaves the stick's folder for the system's, so that the stick can be
// removed: the settings file beside the program was read from its full path before.
TEST_F(MonitorTest, FirstStartHidesWindowAndEndsOnTerminationRequest) {
    sim::SetCurrentDirectory("E:\\Tools");
    sim::SetModulePath(u"E:\\Tools\\SLOTWARD.EXE");
    sim::AddFile("E:\\Tools\\SLOTWARD.CFG", "/Q");
    ResidentRun run("", "SLOTWARD ");
    HWND window = run.WaitForWindow();
    ASSERT_NE(window, (HWND)NULL);
    EXPECT_EQ(sim::CurrentDirectory(), "C:\\WINDOWS\\system32");
    EXPECT_EQ(gSettings.quietStart, TRUE);
    EXPECT_EQ(sim::WindowTitle(window), "SLOTWARD");
    EXPECT_EQ(sim::WindowStyle(window), (DWORD)WS_OVERLAPPEDWINDOW);
    EXPECT_EQ(sim::WindowExStyle(window), 0u);
    EXPECT_FALSE(sim::WindowVisible(window));
    EXPECT_EQ(sim::ClassIconResource(window), 1) << "the program's own icon";
    EXPECT_TRUE(sim::NamedEventExists(INSTANCE_EVENT_NAME));

    RequestTermination();
    EXPECT_EQ(run.Join(), 0);
    EXPECT_TRUE(sim::Boxes().empty());
    EXPECT_FALSE(sim::NamedEventExists(INSTANCE_EVENT_NAME));
    ExpectNothingLeaked();
}

struct QueryCase {
    const char *name;
    const char *arguments;
    bool mediumInserted;
    int boxAnswer;        // scripted answer of the question box; -1: no box expected
    LRESULT wantedAnswer; // to WM_QUERYENDSESSION
};

const QueryCase kQueryCases[] = {
    {"NoMediumConsents", "", false, -1, 1},
    {"YesConsents", "", true, IDYES, 1},
    {"NoRefuses", "", true, IDNO, 0},
    {"FailedBoxRefuses", "", true, 0, 0},
    {"ExcludedDriveConsents", "/X D:", true, -1, 1},
};

// Test listings name the case, not its bytes.
void PrintTo(const QueryCase &c, std::ostream *out) {
    *out << c.name;
}

class QueryTest : public SimTest, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(QueryTest, AnswersSessionEnd) {
    const QueryCase &c = GetParam();
    sim::AddDrive('D', DRIVE_CDROM, c.mediumInserted ? sim::Medium::Files : sim::Medium::None);
    if (c.boxAnswer >= 0)
        sim::ScriptBoxAnswers({c.boxAnswer});
    ResidentRun run(c.arguments);
    HWND window = run.WaitForWindow();
    ASSERT_NE(window, (HWND)NULL);

    EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, 0), c.wantedAnswer);
    ASSERT_EQ(sim::Boxes().size(), c.boxAnswer >= 0 ? 1u : 0u);
    if (c.boxAnswer >= 0) {
        EXPECT_EQ(sim::Boxes()[0].owner, window);
        EXPECT_EQ(sim::Boxes()[0].style, 0x1114u);
        EXPECT_EQ(sim::Boxes()[0].text,
                  "In drive D: , the media is still inserted. Do you want to continue shutdown "
                  "processing?");
    }
    RequestTermination();
    EXPECT_EQ(run.Join(), 0);
    ExpectNothingLeaked();
}

INSTANTIATE_TEST_SUITE_P(Answers, QueryTest, ::testing::ValuesIn(kQueryCases), CaseName());

// ---- A drive that never answers: the hidden window keeps answering while the survey thread
// waits on it, and within 5 s of the query the box is on the screen, naming that drive.

struct HangCase {
    const char *name;
    const char *arguments;
    bool terminate;      // /R while the probe hangs
    const char *boxText; // shown once the limit has passed; NULL: none
    UINT boxStyle;
    LRESULT answer; // to the query; -1: no query (the test report)
};

void PrintTo(const HangCase &c, std::ostream *out) {
    *out << c.name;
}

const HangCase kHangCases[] = {
    {"QuestionNamesIt", "", false,
     "In drive D: , the media is still inserted. Do you want to continue shutdown processing?",
     0x1114u, 0},
    {"RefusalNamesIt", "/F", false,
     "In drive D: , the media is still inserted. Please remove it and try again shutdown "
     "processing.",
     MB_SYSTEMMODAL | MB_ICONERROR, 0},
    {"ReportNamesIt", "/T", false,
     "In drive A: , the media is not inserted.In drive D: , the media is still inserted.",
     MB_ICONINFORMATION, -1},
    {"TerminationEndsTheInstance", "", true, NULL, 0, 0},
};

class HangTest : public SimTest, public ::testing::WithParamInterface<HangCase> {};

TEST_P(HangTest, AnsweredInTimeWhateverTheDriveDoes) {
    const HangCase &c = GetParam();
    sim::AddDrive('A', DRIVE_REMOVABLE, sim::Medium::None);
    sim::AddDrive('D', DRIVE_CDROM, sim::Medium::None);
    sim::ScriptBoxAnswers({IDNO, IDNO});
    std::atomic<LRESULT> answer{-1};
    std::thread query;
    {
        HungDrive hung('D');
        ResidentRun run(c.arguments);
        HWND window = c.answer >= 0 ? run.WaitForWindow() : NULL;
        if (window != NULL)
            query = std::thread([&] { answer = SendMessageA(window, WM_QUERYENDSESSION, 0, 0); });
        ASSERT_TRUE(WaitUntil([&] { return hung.Held() == 1; }));
        if (window != NULL) {
            EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, 0), 0) << "a nested query";
            EXPECT_TRUE(sim::Boxes().empty());
        }
        if (c.terminate) {
            RequestTermination();
            EXPECT_EQ(run.Join(), 0) << "ended while the probe still hangs";
            EXPECT_EQ(hung.Held(), 1);
        } else {
            hung.PassLimitsWhileHeld();
            ASSERT_TRUE(WaitForBoxes(1));
        }
        if (query.joinable())
            query.join();
        EXPECT_EQ(answer, c.answer);
        // A second query names the drive again, without a second look at it.
        if (window != NULL && !c.terminate) {
            EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, 0), 0);
            ASSERT_TRUE(WaitForBoxes(2));
            EXPECT_EQ(sim::Boxes()[1].text, c.boxText);
            EXPECT_EQ(hung.Held(), 1);
            RequestTermination();
        }
        if (!c.terminate) {
            EXPECT_EQ(run.Join(), 0);
        }
    }
    ASSERT_EQ(sim::Boxes().empty(), c.boxText == NULL);
    if (c.boxText != NULL) {
        EXPECT_EQ(sim::Boxes()[0].text, c.boxText);
        EXPECT_EQ(sim::Boxes()[0].style, c.boxStyle);
    }
    // Let go, the look comes back and its search ends.
    EXPECT_TRUE(WaitUntil([] { return ProgramHandles() == 0; }));
    ExpectNothingLeaked();
}

INSTANTIATE_TEST_SUITE_P(Hangs, HangTest, ::testing::ValuesIn(kHangCases), CaseName());

TEST_F(MonitorTest, ForcedRefusalAnswersAtOnceThenShowsBoxOwnedByWindow) {
    sim::AddDrive('E', DRIVE_REMOVABLE, sim::Medium::Files);
    sim::ScriptBoxAnswers({IDOK});
    ResidentRun run("/F \"/M$DRIVE$ must go,Take it out\"");
    HWND window = run.WaitForWindow();
    ASSERT_NE(window, (HWND)NULL);

    EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, 0), 0);
    ASSERT_TRUE(WaitForBoxes(1));
    EXPECT_EQ(sim::Boxes()[0].owner, window);
    EXPECT_EQ(sim::Boxes()[0].text, "E:  must go");
    EXPECT_EQ(sim::Boxes()[0].caption, "Take it out");
    EXPECT_EQ(sim::Boxes()[0].style, (UINT)(MB_SYSTEMMODAL | MB_ICONERROR));
    RequestTermination();
    EXPECT_EQ(run.Join(), 0);
    ExpectNothingLeaked();
}

TEST_F(MonitorTest, PrivateMessagesFromOutsideHaveTheirEffects) {
    sim::ScriptBoxAnswers({IDOK});
    ResidentRun run("");
    HWND window = run.WaitForWindow();
    ASSERT_NE(window, (HWND)NULL);
    TextCopy(gReportText, sizeof gReportText, "posted text");

    EXPECT_TRUE(PostMessageA(window, WMU_SHOW_REFUSAL, 0, 0));
    ASSERT_TRUE(WaitForBoxes(1));
    EXPECT_EQ(sim::Boxes()[0].text, "posted text");
    EXPECT_EQ(sim::Boxes()[0].caption, "SLOTWARD:Error!");
    EXPECT_TRUE(PostMessageA(window, WMU_QUIT, 0, 0));
    EXPECT_EQ(run.Join(), 0);
    EXPECT_FALSE(sim::NamedEventExists(INSTANCE_EVENT_NAME));
    ExpectNothingLeaked();
}

TEST_F(MonitorTest, CloseFromOutsideEndsInstanceSoNextStartBecomesResident) {
    {
        ResidentRun run("");
        HWND window = run.WaitForWindow();
        ASSERT_NE(window, (HWND)NULL);
        PostMessageA(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(run.Join(), 0);
    }
    EXPECT_EQ(sim::LiveWindows(), 0);
    EXPECT_FALSE(sim::NamedEventExists(INSTANCE_EVENT_NAME));
    EXPECT_EQ(ProgramHandles(), 0);

    ResetProgramState();
    ResidentRun again("");
    ASSERT_NE(again.WaitForWindow(), (HWND)NULL);
    RequestTermination();
    EXPECT_EQ(again.Join(), 0);
    EXPECT_TRUE(sim::Boxes().empty()) << "no 'already running' box after the window was closed";
}

// Whenever the request lands — before or after the watcher starts, before or after the window
// exists — it must end the instance.
TEST_F(MonitorTest, TerminationRacingStartUpStillEndsInstance) {
    for (int round = 0; round < 40; round++) {
        sim::Reset();
        ResetProgramState();
        ResidentRun run("");
        while (!sim::NamedEventExists(INSTANCE_EVENT_NAME))
            std::this_thread::yield();
        HANDLE event = OpenEventA(EVENT_ALL_ACCESS, FALSE, INSTANCE_EVENT_NAME);
        ASSERT_NE(event, (HANDLE)NULL) << "round " << round;
        SetEvent(event);
        CloseHandle(event);
        EXPECT_EQ(run.Join(), 0) << "round " << round;
        EXPECT_EQ(sim::LiveWindows(), 0) << "round " << round;
    }
}

// The winner may run with other rights (elevated): our start then cannot even open its event.
// A quiet start (/Q) loses the race without a box.
TEST_F(MonitorTest, LosingTheStartRaceShowsAlreadyRunning) {
    for (int round = 0; round < 3; round++) {
        bool elevatedWinner = round == 1;
        bool quiet = round == 2;
        sim::Reset();
        ResetProgramState();
        int winner = sim::NewProcess();
        if (elevatedWinner)
            sim::AddElevatedEvent(INSTANCE_EVENT_NAME, 1);
        else
            sim::RunInProcess(winner,
                              [] { CreateEventA(NULL, FALSE, FALSE, INSTANCE_EVENT_NAME); });
        if (!elevatedWinner)
            sim::FailCall(sim::Api::OpenEventA, 1); // we looked before the winner created it
        int handlesWhileBoxShown = -1;
        bool eventOutlivedWinner = false;
        sim::OnBox([&](const sim::Box &) {
            handlesWhileBoxShown = ProgramHandles();
            sim::EndProcess(winner); // the winner ends while our box is still open
            eventOutlivedWinner = sim::NamedEventExists(INSTANCE_EVENT_NAME);
            return IDOK;
        });
        sim::SetCommandLine(quiet ? "SLOTWARD.EXE /Q" : "SLOTWARD.EXE");
        EXPECT_EQ(ProgramMain(), 0);
        ASSERT_EQ(sim::Boxes().size(), quiet ? 0u : 1u) << round;
        if (!quiet) {
            EXPECT_EQ(handlesWhileBoxShown, elevatedWinner ? 0 : 1) << "only the winner's handle";
            EXPECT_EQ(sim::Boxes()[0].text, "SLOTWARD is already execute.");
            EXPECT_EQ(eventOutlivedWinner, elevatedWinner) << "our box must not keep it alive";
        }
        EXPECT_EQ(sim::Calls(sim::Api::CreateEventA), elevatedWinner ? 1 : 2) << "ours tried too";
        EXPECT_EQ(sim::Calls(sim::Api::CreateWindowExA), 0) << elevatedWinner;
        sim::EndProcess(winner);
        ExpectNothingLeaked();
    }
}

// A start that cannot become resident says which step failed and the system's code, even after
// /Q, and ends. The event is let go and the hidden window taken down before the box, so that
// nothing passes for a guarding copy while it is open, and the box's own loop does not end on
// the window's quit: it stays until the user presses OK.
struct StartFailureCase {
    const char *name;
    sim::Api failing;
    const char *arguments;
    MessageId step;
    const char *english; // the whole text; NULL: on a Japanese system, joined from the catalogue
};

void PrintTo(const StartFailureCase &c, std::ostream *out) {
    *out << c.name;
}

const char kClassFailed[] = "SLOTWARD cannot stay resident: the window class could not be "
                            "registered. Windows error code: 8";
const char kWindowFailed[] = "SLOTWARD cannot stay resident: the hidden window could not be "
                             "created. Windows error code: 8";
const char kEventFailed[] = "SLOTWARD cannot stay resident: the instance event could not be "
                            "created. Windows error code: 8";
const char kNameTaken[] = "SLOTWARD cannot stay resident: the instance event could not be "
                          "created. Windows error code: 6";
const char kWatcherFailed[] = "SLOTWARD cannot stay resident: the watcher thread could not be "
                              "started. Windows error code: 8";

// sim::Api::Count: no call fails, but another program holds a mutex of the event's name.
const StartFailureCase kStartFailureCases[] = {
    {"Event", sim::Api::CreateEventA, "", MsgEventNotCreated, kEventFailed},
    {"EventQuietJapanese", sim::Api::CreateEventA, "/Q", MsgEventNotCreated, NULL},
    {"EventNameTaken", sim::Api::Count, "", MsgEventNotCreated, kNameTaken},
    {"Class", sim::Api::RegisterClassA, "", MsgClassNotRegistered, kClassFailed},
    {"ClassQuiet", sim::Api::RegisterClassA, "/Q", MsgClassNotRegistered, kClassFailed},
    {"Window", sim::Api::CreateWindowExA, "", MsgWindowNotCreated, kWindowFailed},
    {"WindowQuiet", sim::Api::CreateWindowExA, "/Q", MsgWindowNotCreated, kWindowFailed},
    {"Watcher", sim::Api::CreateThread, "", MsgWatcherNotStarted, kWatcherFailed},
    {"WatcherQuietJapanese", sim::Api::CreateThread, "/Q", MsgWatcherNotStarted, NULL},
};

std::string Japanese(MessageId id) {
    gLanguageIndex = kJapanese;
    return GetMessageText(id);
}

class StartFailureTest : public SimTest, public ::testing::WithParamInterface<StartFailureCase> {};

TEST_P(StartFailureTest, SaysWhichStepFailedAndEndsWithEventClosed) {
    const StartFailureCase &c = GetParam();
    bool english = c.english != NULL;
    std::string expected = english ? c.english
                                   : Japanese(MsgCannotStayResident) + Japanese(c.step) +
                                         Japanese(MsgWindowsError) + "8";
    sim::SetSystem(sim::System::WindowsVista);
    sim::SetCodePages(english ? 437 : 932, english ? 1252 : 932);
    int holder = sim::NewProcess();
    if (c.failing == sim::Api::Count)
        sim::RunInProcess(holder, [] { CreateMutexA(NULL, FALSE, INSTANCE_EVENT_NAME); });
    else
        sim::FailCall(c.failing, 1);
    bool eventWhileOpen = true, windowWhileOpen = true;
    sim::OnBox([&](const sim::Box &) {
        eventWhileOpen = sim::NamedEventExists(INSTANCE_EVENT_NAME);
        windowWhileOpen = FindWindowA(MONITOR_CLASS_NAME, NULL) != NULL;
        return sim::kKeepOpen;
    });
    ResidentRun run(c.arguments);
    ASSERT_TRUE(WaitForBoxes(1));
    const sim::Box box = sim::Boxes()[0];
    SendMessageA(box.window, WM_NULL, 0, 0); // the box's loop has run once
    PostMessageA(box.window, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(run.Join(), 0);

    ASSERT_EQ(sim::Boxes().size(), 1u);
    EXPECT_EQ(sim::Boxes()[0].answer, IDOK) << "the box ended before it was pressed";
    EXPECT_EQ(box.text, expected) << Hex(box.text);
    EXPECT_EQ(box.caption, english ? "SLOTWARD:Error!" : Japanese(CaptionError));
    EXPECT_EQ(box.style, (UINT)MB_ICONERROR);
    EXPECT_EQ(box.owner, (HWND)NULL);
    EXPECT_FALSE(eventWhileOpen) << "a start meanwhile would take this one for a resident copy";
    EXPECT_FALSE(windowWhileOpen) << "the hidden window still answers the session";
    EXPECT_EQ(sim::Calls(sim::Api::CreateThread), c.failing == sim::Api::CreateThread ? 1 : 0)
        << "no watcher left waiting";
    EXPECT_TRUE(sim::SessionCalls().empty()) << "no restart registered, no place taken";
    EXPECT_EQ(sim::LiveWindows(), 0) << "no window without the event";
    sim::EndProcess(holder);
    ExpectNothingLeaked();
}

INSTANTIATE_TEST_SUITE_P(Steps, StartFailureTest, ::testing::ValuesIn(kStartFailureCases),
                         CaseName());

} // namespace
