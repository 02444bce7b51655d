// One box at a time in the resident instance. A box's own message loop runs what reaches the
// hidden window while the box is open; the OnBox hooks below do exactly that on the box's
// thread (a message sent there runs the window procedure at once, DispatchWaitingMessages
// dispatches what was posted), so each test sees what Windows would do inside MessageBoxA.
#include "resident_run.h"

#include "check/verdict.h"
#include "control/monitor.h"

#include <algorithm>
#include <atomic>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using OneBoxTest = SimTest;

LRESULT Query(HWND window) {
    return SendMessageA(window, WM_QUERYENDSESSION, 0, 0);
}

struct QuestionCase {
    const char *name;
    int pressed;          // the answer of the open question
    LRESULT wantedAnswer; // to the query that opened it
};

const QuestionCase kQuestionCases[] = {{"Yes", IDYES, 1}, {"No", IDNO, 0}};

void PrintTo(const QuestionCase &c, std::ostream *out) {
    *out << c.name;
}

class QuestionOpenTest : public SimTest, public ::testing::WithParamInterface<QuestionCase> {};

// While the question is open, further queries are refused at once without a survey, and a
// refusal posted from outside is dropped; the open question alone decides. Once it is closed,
// a query asks again and a posted refusal shows its box.
TEST_P(QuestionOpenTest, FurtherQueriesRefusedAtOnceAndOnlyTheOpenBoxDecides) {
    const QuestionCase &c = GetParam();
    sim::AddDrive('D', DRIVE_CDROM, sim::Medium::Files);
    std::vector<LRESULT> answersWhileOpen;
    int surveysWhileOpen = -1;
    std::atomic<int> boxesSeen{0};
    sim::OnBox([&](const sim::Box &box) {
        if (boxesSeen++ > 0)
            return box.style == (UINT)(MB_SYSTEMMODAL | MB_ICONERROR) ? IDOK : IDNO;
        int typeQueries = sim::TypeQueries('D');
        for (int i = 0; i < 3; i++)
            answersWhileOpen.push_back(Query(box.owner));
        surveysWhileOpen = sim::TypeQueries('D') - typeQueries;
        PostMessageA(box.owner, WMU_SHOW_REFUSAL, 0, 0);
        sim::DispatchWaitingMessages();
        return c.pressed;
    });
    ResidentRun run("");
    HWND window = run.WaitForWindow();
    ASSERT_NE(window, (HWND)NULL);

    EXPECT_EQ(Query(window), c.wantedAnswer);
    EXPECT_EQ(answersWhileOpen, (std::vector<LRESULT>{0, 0, 0}));
    EXPECT_EQ(surveysWhileOpen, 0);
    EXPECT_EQ(sim::Boxes().size(), 1u) << "no second question, no refusal over the question";

    EXPECT_EQ(Query(window), 0) << "the next query asks again; the hook answers No";
    PostMessageA(window, WMU_SHOW_REFUSAL, 0, 0);
    ASSERT_TRUE(WaitForBoxes(3)) << "a refusal from outside shows its box once none is open";
    EXPECT_EQ(sim::Boxes()[2].style, (UINT)(MB_SYSTEMMODAL | MB_ICONERROR));
    RequestTermination();
    EXPECT_EQ(run.Join(), 0);
    EXPECT_EQ(sim::Boxes().size(), 3u);
    ExpectNothingLeaked();
}

INSTANTIATE_TEST_SUITE_P(Pressed, QuestionOpenTest, ::testing::ValuesIn(kQuestionCases),
                         CaseName());

// Fifty refused queries while the refusal box is open: each is answered at once, its refusal is
// dropped when the box's loop dispatches it, and a medium taken out meanwhile means consent.
// Boxes never nest; once the box is closed, the next refusal shows its box again.
TEST_F(OneBoxTest, RefusalsWhileRefusalBoxOpenKeepOneBox) {
    sim::AddDrive('E', DRIVE_REMOVABLE, sim::Medium::Files);
    std::vector<LRESULT> answersWhileOpen;
    LRESULT answerWithoutMedium = -1;
    int depth = 0, deepest = 0, dispatched = 0;
    std::atomic<int> boxesSeen{0};
    std::atomic<bool> firstClosed{false};
    sim::OnBox([&](const sim::Box &box) {
        deepest = std::max(deepest, ++depth);
        if (boxesSeen++ == 0) {
            for (int i = 0; i < 50; i++)
                answersWhileOpen.push_back(Query(box.owner));
            dispatched = sim::DispatchWaitingMessages();
            sim::AddDrive('E', DRIVE_REMOVABLE, sim::Medium::None);
            answerWithoutMedium = Query(box.owner);
            sim::AddDrive('E', DRIVE_REMOVABLE, sim::Medium::Files);
            firstClosed = true;
        }
        depth--;
        return IDOK;
    });
    ResidentRun run("/F");
    HWND window = run.WaitForWindow();
    ASSERT_NE(window, (HWND)NULL);

    EXPECT_EQ(Query(window), 0);
    ASSERT_TRUE(WaitUntil([&] { return firstClosed.load(); }));
    EXPECT_EQ(Query(window), 0);
    ASSERT_TRUE(WaitForBoxes(2)) << "the box shows again once the first is closed";
    RequestTermination();
    EXPECT_EQ(run.Join(), 0);

    EXPECT_EQ(answersWhileOpen, std::vector<LRESULT>(50, 0));
    EXPECT_EQ(dispatched, 50) << "every posted refusal reached the window";
    EXPECT_EQ(answerWithoutMedium, 1);
    EXPECT_EQ(deepest, 1) << "a box opened inside another";
    EXPECT_EQ(sim::Boxes().size(), 2u);
    ExpectNothingLeaked();
}

// A refusal box from outside (no forced refusal) does not stop a query from asking: the
// question may stand over it, and once both are closed a posted refusal shows again.
TEST_F(OneBoxTest, QueryWhileRefusalBoxOpenStillAsks) {
    sim::AddDrive('D', DRIVE_CDROM, sim::Medium::Files);
    LRESULT answerWhileOpen = -1;
    std::atomic<int> boxesSeen{0};
    sim::OnBox([&](const sim::Box &box) {
        if (boxesSeen++ == 0)
            answerWhileOpen = Query(box.owner);
        return box.style == (UINT)(MB_SYSTEMMODAL | MB_ICONERROR) ? IDOK : IDYES;
    });
    ResidentRun run("");
    HWND window = run.WaitForWindow();
    ASSERT_NE(window, (HWND)NULL);

    PostMessageA(window, WMU_SHOW_REFUSAL, 0, 0);
    ASSERT_TRUE(WaitForBoxes(2));
    PostMessageA(window, WMU_SHOW_REFUSAL, 0, 0);
    ASSERT_TRUE(WaitForBoxes(3));
    RequestTermination();
    EXPECT_EQ(run.Join(), 0);

    EXPECT_EQ(answerWhileOpen, 1) << "the question over the refusal was answered Yes";
    ASSERT_EQ(sim::Boxes().size(), 3u);
    EXPECT_EQ(sim::Boxes()[0].style, (UINT)(MB_SYSTEMMODAL | MB_ICONERROR));
    EXPECT_EQ(sim::Boxes()[1].style, 0x1114u);
    EXPECT_EQ(sim::Boxes()[2].style, (UINT)(MB_SYSTEMMODAL | MB_ICONERROR));
    ExpectNothingLeaked();
}

// ---- A cancelled end while boxes are open. Every box here stays open (kKeepOpen), running its
// own loop, until a button's command closes it; the test presses what the program leaves open.

// What else is on screen with the question: a refusal box shown before it, or windows of the
// program's main thread that come with it, newer than it, so that a walk over the thread's
// windows meets them first.
enum Beside {
    kNothing,
    kRefusal,
    kOwnedWithoutNo, // owned by the hidden window, with an OK button like the refusal box
    kNotOwnedWithNo, // that, and a box with a No button owned by it, not by the hidden window
};

struct CancelCase {
    const char *name;
    const char *arguments;
    Beside beside;
    UINT cancel;        // what arrives while the query's box is open
    LPARAM lParam;      // its lParam
    int questionAnswer; // how the question box ended; 0: it was not asked
    bool questionStays; // the question outlives the cancel, until the test presses No
    bool ends;          // the instance ends
};

void PrintTo(const CancelCase &c, std::ostream *out) {
    *out << c.name;
}

const CancelCase kCancelCases[] = {
    {"QuestionClosedAsNo", "", kNothing, WM_ENDSESSION, 0, IDNO, false, false},
    {"QuestionOverRefusal", "", kRefusal, WM_ENDSESSION, 0, IDNO, false, false},
    {"OwnedWindowWithoutNoStays", "", kOwnedWithoutNo, WM_ENDSESSION, 0, IDNO, false, false},
    {"BoxNotOwnedStays", "", kNotOwnedWithNo, WM_ENDSESSION, 0, IDNO, false, false},
    {"RefusalStays", "/F", kNothing, WM_ENDSESSION, 0, 0, false, false},
    {"GivenUpCloseKeepsQuestion", "", kNothing, WM_ENDSESSION, ENDSESSION_CLOSEAPP, IDNO, true,
     false},
    {"TerminationEndsQuestion", "", kNothing, WMU_QUIT, 0, 0, false, true},
};

HWND Decoy(HWND parentOrOwner, DWORD style, int id = 0) {
    return CreateWindowExA(0, "Decoy", "", style, 0, 0, 0, 0, parentOrOwner,
                           reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), NULL, NULL);
}

// On the box's thread, the program's main thread; they go with the hidden window.
void ShowDecoys(HWND hidden, Beside beside) {
    if (beside != kOwnedWithoutNo && beside != kNotOwnedWithNo)
        return;
    WNDCLASSA decoyClass = {};
    decoyClass.lpfnWndProc = DefWindowProcA;
    decoyClass.lpszClassName = "Decoy";
    RegisterClassA(&decoyClass);
    HWND owned = Decoy(hidden, WS_POPUP);
    Decoy(owned, WS_CHILD, IDOK);
    if (beside == kNotOwnedWithNo)
        Decoy(Decoy(owned, WS_POPUP), WS_CHILD, IDNO);
}

class CancelTest : public SimTest, public ::testing::WithParamInterface<CancelCase> {};

bool OpenBox(const sim::Box &box) {
    return IsWindow(box.window) != FALSE;
}

// The boxes of that owner still on screen, pressed with OK or No in the order they were shown.
void PressOpenBoxes(HWND owner, bool anyOwner = false) {
    for (const sim::Box &box : sim::Boxes())
        if ((anyOwner || box.owner == owner) && OpenBox(box))
            PostMessageA(box.window, WM_COMMAND, box.style & MB_YESNO ? IDNO : IDOK, 0);
}

// A thread that waits on a box or a query; declared before the ResidentRun, it is joined after
// the instance has ended, once every box left open has been pressed, so a failed test never hangs.
struct Background {
    std::thread thread;
    ~Background() {
        PressOpenBoxes(NULL, true);
        if (thread.joinable())
            thread.join();
    }
};

// The question closes within a second of the cancel, not after some timeout.
TEST_P(CancelTest, CancelledEndTakesDownOnlyTheQuestion) {
    const CancelCase &c = GetParam();
    sim::SetSystem(sim::System::WindowsVista);
    sim::AddDrive('D', DRIVE_CDROM, sim::Medium::Files);
    sim::OnBox([&c](const sim::Box &box) {
        if ((box.style & 0xF) == MB_YESNO)
            ShowDecoys(box.owner, c.beside);
        return sim::kKeepOpen;
    });
    Background query, again;
    std::atomic<LRESULT> answer{-1};
    ResidentRun run(c.arguments);
    HWND window = run.WaitForWindow();
    ASSERT_NE(window, (HWND)NULL);
    if (c.beside == kRefusal)
        PostMessageA(window, WMU_SHOW_REFUSAL, 0, 0);
    size_t before = c.beside == kRefusal ? 1 : 0;
    ASSERT_TRUE(WaitForBoxes(before));

    query.thread = std::thread([&] { answer = SendMessageA(window, WM_QUERYENDSESSION, 0, 0); });
    ASSERT_TRUE(WaitForBoxes(before + 1));
    if (c.cancel == WMU_QUIT)
        RequestTermination();
    else
        SendMessageA(window, c.cancel, FALSE, c.lParam);
    if (c.questionStays) {
        SendMessageA(window, WM_NULL, 0, 0); // answered once the box's loop has run what came
        EXPECT_TRUE(OpenBox(sim::Boxes()[before])) << "the question was closed";
        EXPECT_EQ(answer, -1) << "the query was answered";
        PostMessageA(sim::Boxes()[before].window, WM_COMMAND, IDNO, 0);
    }
    ASSERT_TRUE(WaitUntil([&] { return answer != -1; }, c.ends ? 30000 : 1000))
        << "the query is still waiting";
    EXPECT_EQ(answer, 0);
    const sim::Box queried = sim::Boxes()[before];
    EXPECT_EQ(queried.answer, c.questionAnswer);
    EXPECT_EQ(OpenBox(queried), c.questionAnswer == 0 && !c.ends) << "only a refusal stays";
    if (before == 1) {
        EXPECT_TRUE(OpenBox(sim::Boxes()[0])) << "the box under the question stays";
    }
    EXPECT_EQ(sim::SessionCalls().back().function, c.ends || c.questionStays
                                                       ? "ShutdownBlockReasonCreate"
                                                       : "ShutdownBlockReasonDestroy");

    if (!c.ends) {
        answer = -1;
        again.thread =
            std::thread([&] { answer = SendMessageA(window, WM_QUERYENDSESSION, 0, 0); });
        if (c.questionAnswer != 0) {
            EXPECT_TRUE(WaitForBoxes(before + 2)) << "the next query asks afresh";
        }
        PressOpenBoxes(window);
        EXPECT_TRUE(WaitUntil([&] { return answer != -1; }));
        PressOpenBoxes(window);
        RequestTermination();
    }
    EXPECT_EQ(run.Join(), 0);
    ExpectNothingLeaked();
}

INSTANTIATE_TEST_SUITE_P(Boxes, CancelTest, ::testing::ValuesIn(kCancelCases), CaseName());

} // namespace

// ---- Restart Manager asks this one program to close (an installer replacing its files). The
// system follows the request with WM_ENDSESSION carrying the answer, which ends the instance
// when it agreed.

enum CloseWhen { kNoCheck, kDuringSurvey, kDuringQuestion, kRefusalOpen };

struct CloseCase {
    const char *name;
    const char *arguments;
    CloseWhen when;
    int pressed;         // the user's answer to the question; 0: nobody is asked
    LRESULT closeAnswer; // to the close request
};

void PrintTo(const CloseCase &c, std::ostream *out) {
    *out << c.name;
}

const CloseCase kCloseCases[] = {
    {"DuringQuestionYes", "", kDuringQuestion, IDYES, 0},
    {"DuringQuestionNo", "", kDuringQuestion, IDNO, 0},
    {"DuringSlowSurvey", "", kDuringSurvey, IDNO, 0},
    {"NoCheckRunning", "", kNoCheck, 0, 1},
    {"RefusalBoxOpen", "/F", kRefusalOpen, 0, 1},
};

class CloseRequestTest : public SimTest, public ::testing::WithParamInterface<CloseCase> {};

// While a check runs the close request is refused and changes nothing: the question stays
// open with its reason, and the user's button alone answers the session's query. Otherwise
// it is granted at once and the instance ends, a refusal box on screen with it.
TEST_P(CloseRequestTest, RefusedOnlyWhileACheckRuns) {
    const CloseCase &c = GetParam();
    sim::SetSystem(sim::System::WindowsVista);
    sim::AddDrive('D', DRIVE_CDROM, sim::Medium::Files);
    sim::OnBox([](const sim::Box &) { return sim::kKeepOpen; });
    Background query, closer;
    std::atomic<LRESULT> answer{-1}, closeAnswer{-1};
    ResidentRun run(c.arguments);
    HWND window = run.WaitForWindow();
    ASSERT_NE(window, (HWND)NULL);
    auto requestClose = [&closeAnswer, window] {
        closeAnswer = SendMessageA(window, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP);
    };
    std::atomic<bool> surveyed{false};
    // The window answers the request while the survey thread is still at the drive.
    if (c.when == kDuringSurvey)
        sim::OnProbe([&](char) {
            if (surveyed.exchange(true))
                return;
            closer.thread = std::thread(requestClose);
            EXPECT_TRUE(WaitUntil([&] { return closeAnswer != -1; }));
        });

    if (c.when != kNoCheck) {
        query.thread =
            std::thread([&] { answer = SendMessageA(window, WM_QUERYENDSESSION, 0, 0); });
        ASSERT_TRUE(WaitForBoxes(1));
    }
    if (c.when == kDuringQuestion)
        closer.thread = std::thread(requestClose);
    else if (c.when != kDuringSurvey)
        requestClose();
    ASSERT_TRUE(WaitUntil([&] { return closeAnswer != -1; }));
    EXPECT_EQ(closeAnswer, c.closeAnswer);
    SendMessageA(window, WM_ENDSESSION, closeAnswer, ENDSESSION_CLOSEAPP);

    if (c.pressed != 0) {
        EXPECT_TRUE(OpenBox(sim::Boxes()[0])) << "the question was closed";
        EXPECT_EQ(answer, -1) << "the query was answered";
        EXPECT_EQ(sim::SessionCalls().back().function, "ShutdownBlockReasonCreate");
        PostMessageA(sim::Boxes()[0].window, WM_COMMAND, c.pressed, 0);
        ASSERT_TRUE(WaitUntil([&] { return answer != -1; }));
        EXPECT_EQ(answer, c.pressed == IDYES ? 1 : 0);
        EXPECT_EQ(sim::Boxes().size(), 1u);
        RequestTermination();
    }
    EXPECT_EQ(run.Join(), 0);
    ExpectNothingLeaked();
}

INSTANTIATE_TEST_SUITE_P(Moments, CloseRequestTest, ::testing::ValuesIn(kCloseCases), CaseName());
