// Faults the resident instance survives: a box or a post that fails, the instance event found
// already signalled, the window closed around the session's end in either order, and long runs
// of queries after which nothing is left behind. (A killed instance cannot be shown here: the
// simulation runs the program as one process with the tests; the Wine bench kills the real one.)
#include "resident_run.h"

#include "check/verdict.h"
#include "control/main.h"
#include "control/monitor.h"

#include <chrono>
#include <ostream>
#include <string>

namespace {

using ResidentFaultsTest = SimTest;

LRESULT Query(HWND window) {
    return SendMessageA(window, WM_QUERYENDSESSION, 0, 0);
}

// A question box that cannot be shown refuses; it leaves nothing behind, so the next query asks.
TEST_F(ResidentFaultsTest, FailedQuestionBoxRefusesAndNextQueryAsks) {
    sim::AddDrive('D', DRIVE_CDROM, sim::Medium::Files);
    sim::ScriptBoxAnswers({IDYES, IDNO});
    ResidentRun run("");
    HWND window = run.WaitForWindow();
    ASSERT_NE(window, (HWND)NULL);
    sim::FailCall(sim::Api::MessageBoxA, 1);

    EXPECT_EQ(Query(window), 0);
    EXPECT_EQ(Query(window), 1);
    EXPECT_EQ(Query(window), 0) << "a query with no box open is answered as ever";
    RequestTermination();
    EXPECT_EQ(run.Join(), 0);
    ASSERT_EQ(sim::Boxes().size(), 3u);
    EXPECT_EQ(sim::Boxes()[0].answer, 0) << "the failed box";
    ExpectNothingLeaked();
}

// A refusal that cannot be posted still refuses, with no box; the next refusal shows its box.
TEST_F(ResidentFaultsTest, FailedRefusalPostRefusesAndNextRefusalShowsBox) {
    sim::AddDrive('D', DRIVE_CDROM, sim::Medium::Files);
    sim::ScriptBoxAnswers({IDOK});
    ResidentRun run("/F");
    HWND window = run.WaitForWindow();
    ASSERT_NE(window, (HWND)NULL);
    sim::FailCall(sim::Api::PostMessageA, 1);

    EXPECT_EQ(Query(window), 0);
    EXPECT_TRUE(sim::Boxes().empty());
    EXPECT_EQ(Query(window), 0);
    ASSERT_TRUE(WaitForBoxes(1));
    RequestTermination();
    EXPECT_EQ(run.Join(), 0);
    EXPECT_EQ(sim::Boxes().size(), 1u);
    ExpectNothingLeaked();
}

// The event exists and is already signalled when a start looks for it, e.g. after a /R that
// found no watcher left, held open by a start still showing its box. Whether the start finds it
// at once or only when it creates it (it lost the race), it says so and leaves the request as
// it was; the case of a request landing just after the creation is raced in the monitor tests.
TEST_F(ResidentFaultsTest, EventAlreadySignalledAtStart) {
    for (bool foundOnlyAtCreation : {false, true}) {
        sim::Reset();
        ResetProgramState();
        HANDLE holder = CreateEventA(NULL, FALSE, TRUE, INSTANCE_EVENT_NAME);
        if (foundOnlyAtCreation)
            sim::FailCall(sim::Api::OpenEventA, 1);
        sim::ScriptBoxAnswers({IDOK});
        sim::SetCommandLine("SLOTWARD.EXE");
        EXPECT_EQ(ProgramMain(), 0);
        ASSERT_EQ(sim::Boxes().size(), 1u) << foundOnlyAtCreation;
        EXPECT_EQ(sim::Boxes()[0].text, "SLOTWARD is already execute.");
        EXPECT_EQ(sim::Calls(sim::Api::CreateWindowExA), 0);
        EXPECT_TRUE(sim::EventSignalled(INSTANCE_EVENT_NAME));
        EXPECT_EQ(ProgramHandles(), 1) << "only the holder's handle";
        CloseHandle(holder);
        ExpectNothingLeaked();
    }
}

struct Delivery {
    UINT message;
    WPARAM wParam;
};

struct EndingCase {
    const char *name;
    Delivery first, second;
    bool guardsBetween; // a query between the two is still checked
};

const EndingCase kEndingCases[] = {
    {"CloseThenEndSession", {WM_CLOSE, 0}, {WM_ENDSESSION, TRUE}, false},
    {"EndSessionThenClose", {WM_ENDSESSION, TRUE}, {WM_CLOSE, 0}, false},
    {"CancelledEndSessionThenClose", {WM_ENDSESSION, FALSE}, {WM_CLOSE, 0}, true},
    {"CloseThenCancelledEndSession", {WM_CLOSE, 0}, {WM_ENDSESSION, FALSE}, false},
};

void PrintTo(const EndingCase &c, std::ostream *out) {
    *out << c.name;
}

class EndingOrderTest : public SimTest, public ::testing::WithParamInterface<EndingCase> {};

// Whichever comes first, the instance ends once its window is closed, with nothing left and
// nothing done to a window that is gone; a cancelled session end leaves it guarding.
TEST_P(EndingOrderTest, InstanceEndsCleanlyInEitherOrder) {
    const EndingCase &c = GetParam();
    sim::AddDrive('D', DRIVE_CDROM, sim::Medium::Files);
    sim::ScriptBoxAnswers({IDNO});
    ResidentRun run("");
    HWND window = run.WaitForWindow();
    ASSERT_NE(window, (HWND)NULL);

    SendMessageA(window, c.first.message, c.first.wParam, 0);
    if (c.guardsBetween) {
        EXPECT_EQ(Query(window), 0);
    }
    SendMessageA(window, c.second.message, c.second.wParam, 0);
    EXPECT_EQ(run.Join(), 0);
    EXPECT_EQ(sim::Boxes().size(), c.guardsBetween ? 1u : 0u);
    EXPECT_FALSE(sim::NamedEventExists(INSTANCE_EVENT_NAME));
    ExpectNothingLeaked();
}

INSTANTIATE_TEST_SUITE_P(Orders, EndingOrderTest, ::testing::ValuesIn(kEndingCases), CaseName());

struct LoadCase {
    const char *name;
    const char *arguments;
    bool mediumInserted;
    int boxAnswer; // of every box
    LRESULT wantedAnswer;
    bool boxPerQuery;
};

const LoadCase kLoadCases[] = {
    {"Consent", "", false, 0, 1, false},
    {"QuestionNo", "", true, IDNO, 0, true},
    {"QuestionYes", "", true, IDYES, 1, true},
    {"ForcedRefusal", "/F", true, IDOK, 0, true},
};

void PrintTo(const LoadCase &c, std::ostream *out) {
    *out << c.name;
}

class LoadTest : public SimTest, public ::testing::WithParamInterface<LoadCase> {};

struct Accounting {
    int blocks, handles, windows;
    bool operator==(const Accounting &o) const {
        return blocks == o.blocks && handles == o.handles && windows == o.windows;
    }
};

std::ostream &operator<<(std::ostream &out, const Accounting &a) {
    return out << a.blocks << " blocks, " << a.handles << " handles, " << a.windows << " windows";
}

// What the instance holds once no box is on screen: a refusal box, posted and shown after its
// query was answered, is a window of its own (and one per button) while it is open.
Accounting Account() {
    WaitUntil([] { return sim::LiveWindows() == 1; });
    return {sim::LiveGlobalBlocks(), ProgramHandles(), sim::LiveWindows()};
}

// A single block, handle, window or thread left per query would show.
const int kQueries = 1000;

// A long life in one path: every query is answered alike, every box is shown and closed in
// turn, and the instance holds exactly what it held before the first query.
TEST_P(LoadTest, AThousandQueriesLeaveNothingBehind) {
    const LoadCase &c = GetParam();
    sim::AddDrive('D', DRIVE_CDROM, c.mediumInserted ? sim::Medium::Files : sim::Medium::None);
    sim::OnBox([&c](const sim::Box &) { return c.boxAnswer; });
    ResidentRun run(c.arguments);
    HWND window = run.WaitForWindow();
    ASSERT_NE(window, (HWND)NULL);
    // Taken once the first query has come through the message loop: the start-up (the
    // watcher's thread handle) is then over.
    int wrongAnswers = Query(window) != c.wantedAnswer;
    Accounting before = Account();

    for (int i = 1; i < kQueries; i++)
        wrongAnswers += Query(window) != c.wantedAnswer;
    size_t boxes = c.boxPerQuery ? kQueries : 0;
    EXPECT_TRUE(WaitForBoxes(boxes));
    EXPECT_EQ(wrongAnswers, 0);
    EXPECT_EQ(sim::Boxes().size(), boxes);
    EXPECT_EQ(Account(), before);
    EXPECT_EQ(sim::Calls(sim::Api::CreateThread), 2) << "the watcher, and one survey thread";
    RequestTermination();
    EXPECT_EQ(run.Join(), 0);
    ExpectNothingLeaked();
}

INSTANTIATE_TEST_SUITE_P(Paths, LoadTest, ::testing::ValuesIn(kLoadCases), CaseName());

} // namespace
