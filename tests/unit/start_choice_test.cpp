// The installer's starter decides from plain facts whether, and with which token, SLOTWARD comes
// back in a noted session, and what the list of sessions becomes.
#include "start_choice.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Two users' SIDs (S-1-5-21-1-2-3-1001 and -1002): the same length, one byte apart.
const unsigned char kNoted[] = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0,    0, 1, 0,
                                0, 0, 2, 0, 0, 0, 3, 0, 0,  0, 0xE9, 3, 0, 0};
const unsigned char kOther[] = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0,    0, 1, 0,
                                0, 0, 2, 0, 0, 0, 3, 0, 0,  0, 0xEA, 3, 0, 0};
// LocalSystem (S-1-5-18): another length altogether.
const unsigned char kSystem[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};

enum Who { NOTED_USER, OTHER_USER, SYSTEM_USER, UNREADABLE_USER };

struct StartCase {
    const char *name;
    bool notedKnown;
    Who signedIn;
    Elevation elevation;
    bool hasLinked;
    StartChoice session; // the system's starter, with the session user's token
    StartChoice own;     // the installing user's fallback, with its own token
};

const StartCase kStarts[] = {
    {"NotedUserStillSignedIn", true, NOTED_USER, ELEVATION_UNKNOWN, false, START_WITH_TOKEN,
     START_WITH_TOKEN},
    {"AnotherUserSignedIn", true, OTHER_USER, ELEVATION_LIMITED, true, REFUSE_OTHER_USER,
     REFUSE_NOT_ENDED_USER},
    {"AnotherUserElevated", true, OTHER_USER, ELEVATION_FULL, true, REFUSE_OTHER_USER,
     REFUSE_NOT_ENDED_USER},
    {"SystemHoldsTheToken", true, SYSTEM_USER, ELEVATION_DEFAULT, false, REFUSE_OTHER_USER,
     REFUSE_NOT_ENDED_USER},
    {"UserUnreadable", true, UNREADABLE_USER, ELEVATION_LIMITED, false, REFUSE_USER_UNREADABLE,
     REFUSE_OWN_UNREADABLE},
    {"NotedUserUnknown", false, NOTED_USER, ELEVATION_LIMITED, false, REFUSE_UNKNOWN_NOTED,
     REFUSE_UNKNOWN_NOTED},
    {"ElevatedWithLinked", true, NOTED_USER, ELEVATION_FULL, true, START_WITH_LINKED,
     REFUSE_ELEVATED},
    {"ElevatedWithoutLinked", true, NOTED_USER, ELEVATION_FULL, false, REFUSE_NO_ORDINARY,
     REFUSE_ELEVATED},
    {"DefaultToken", true, NOTED_USER, ELEVATION_DEFAULT, false, START_WITH_TOKEN,
     START_WITH_TOKEN},
    // The ordinary half links to the elevated one: that link is never followed.
    {"LimitedToken", true, NOTED_USER, ELEVATION_LIMITED, true, START_WITH_TOKEN, START_WITH_TOKEN},
};

TokenFacts FactsOf(const StartCase &c) {
    TokenFacts facts = {nullptr, 0, c.elevation, c.hasLinked ? 1 : 0};
    switch (c.signedIn) {
    case NOTED_USER:
        facts.user = kNoted;
        facts.userLength = sizeof kNoted;
        break;
    case OTHER_USER:
        facts.user = kOther;
        facts.userLength = sizeof kOther;
        break;
    case SYSTEM_USER:
        facts.user = kSystem;
        facts.userLength = sizeof kSystem;
        break;
    case UNREADABLE_USER:
        break;
    }
    return facts;
}

class StartTest : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartTest, SystemStarterChoosesTheToken) {
    const StartCase &c = GetParam();
    TokenFacts facts = FactsOf(c);
    EXPECT_EQ(ChooseSessionStart(kNoted, c.notedKnown ? sizeof kNoted : 0, &facts), c.session);
}

TEST_P(StartTest, InstallingUserStartsOnlyAsThatUserUnelevated) {
    const StartCase &c = GetParam();
    TokenFacts facts = FactsOf(c);
    EXPECT_EQ(ChooseOwnStart(kNoted, c.notedKnown ? sizeof kNoted : 0, &facts), c.own);
}

// Every refusal says why in a reason of its own; a start has none.
TEST_P(StartTest, RefusalHasAReasonOfItsOwn) {
    const StartCase &c = GetParam();
    for (StartChoice choice : {c.session, c.own}) {
        bool start = choice == START_WITH_TOKEN || choice == START_WITH_LINKED;
        EXPECT_EQ(RefusalReason(choice) == nullptr, start) << choice;
    }
}

INSTANTIATE_TEST_SUITE_P(Tokens, StartTest, ::testing::ValuesIn(kStarts),
                         [](const ::testing::TestParamInfo<StartCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(RefusalTest, UnreadableUserIsNotAnotherUser) {
    EXPECT_STREQ(RefusalReason(REFUSE_USER_UNREADABLE), "its user could not be read");
    EXPECT_STREQ(RefusalReason(REFUSE_OTHER_USER), "another user is signed in there now");
    EXPECT_STREQ(RefusalReason(REFUSE_ELEVATED), "the installation runs elevated");
}

// A session leaves the list when it was served or another user holds it; one refused for want
// of facts stays for the installing user's fallback.
TEST(RefusalTest, WhichSessionsLeaveTheList) {
    EXPECT_TRUE(LeavesList(START_WITH_TOKEN, 1));
    EXPECT_TRUE(LeavesList(START_WITH_LINKED, 1));
    EXPECT_FALSE(LeavesList(START_WITH_TOKEN, 0)); // the start itself failed
    EXPECT_TRUE(LeavesList(REFUSE_OTHER_USER, 0));
    EXPECT_TRUE(LeavesList(REFUSE_UNKNOWN_NOTED, 0));
    EXPECT_FALSE(LeavesList(REFUSE_USER_UNREADABLE, 0));
    EXPECT_FALSE(LeavesList(REFUSE_NO_ORDINARY, 0));
}

struct ListCase {
    const char *name;
    ListFacts facts;
    ListFate fate;
};

const ListCase kLists[] = {
    // The first pass starts afresh, even an empty list, whatever an interrupted one left.
    {"FirstPassEmpty", {STEP_FIRST_PASS, 1, 0, 0, 0, 1}, LIST_AFRESH},
    {"FirstPassEnded", {STEP_FIRST_PASS, 0, 0, 0, 2, 1}, LIST_AFRESH},
    {"LaterPassWithoutList", {STEP_LATER_PASS, 0, 0, 0, 0, 1}, LIST_AFRESH},
    {"LaterPassAdds", {STEP_LATER_PASS, 1, 0, 1, 2, 1}, LIST_UPDATED},
    {"LaterPassNothingNew", {STEP_LATER_PASS, 1, 1, 1, 1, 1}, LIST_UNCHANGED},
    {"StartServedAll", {STEP_START, 1, 1, 2, 0, 1}, LIST_FORGOTTEN},
    {"StartServedSome", {STEP_START, 1, 1, 2, 1, 1}, LIST_UPDATED},
    {"StartServedNone", {STEP_START, 1, 1, 2, 2, 1}, LIST_UNCHANGED},
    {"StartWithoutList", {STEP_START, 0, 0, 0, 0, 1}, LIST_UNCHANGED},
    // Options that did not fit, or no way to start (Windows 2000): the list waits.
    {"StartNotStartable", {STEP_START, 1, 1, 2, 0, 0}, LIST_UNCHANGED},
    {"RemovalOwnsList", {STEP_NO_PROGRAM, 1, 1, 1, 1, 0}, LIST_FORGOTTEN},
    {"RemovalInsideUpgrade", {STEP_NO_PROGRAM, 1, 0, 1, 1, 0}, LIST_UNCHANGED},
    {"RemovalWithoutList", {STEP_NO_PROGRAM, 0, 1, 0, 0, 0}, LIST_UNCHANGED},
};

class ListTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(ListTest, BecomesWhatTheStepLeaves) {
    EXPECT_EQ(FateOfList(&GetParam().facts), GetParam().fate);
}

INSTANTIATE_TEST_SUITE_P(Steps, ListTest, ::testing::ValuesIn(kLists),
                         [](const ::testing::TestParamInfo<ListCase> &info) {
                             return std::string(info.param.name);
                         });

// Each user whose copy ran in a session is noted there: a copy a user started with runas in
// another's session does not take that session's own user's place.
TEST(SessionListTest, KeepsEveryUserPerSession) {
    SessionList list = {};
    EXPECT_TRUE(AddCopy(&list, 1, kOther, sizeof kOther));
    EXPECT_TRUE(AddCopy(&list, 1, kNoted, sizeof kNoted));
    EXPECT_FALSE(AddCopy(&list, 1, kNoted, sizeof kNoted)); // a second copy of that user
    EXPECT_TRUE(AddCopy(&list, 2, kNoted, sizeof kNoted));
    ASSERT_EQ(list.count, 3u);
    const EndedCopy *own = FindCopy(&list, 1, kNoted, sizeof kNoted);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own, &list.copies[1]);
    EXPECT_EQ(FindCopy(&list, 1, nullptr, 0), &list.copies[0]);
    EXPECT_EQ(FindCopy(&list, 3, nullptr, 0), nullptr);
    // The installing user's start takes out its own copy only.
    RemoveCopy(&list, own);
    ASSERT_EQ(list.count, 2u);
    EXPECT_EQ(FindCopy(&list, 1, kNoted, sizeof kNoted), nullptr);
    EXPECT_NE(FindCopy(&list, 1, kOther, sizeof kOther), nullptr);
    EXPECT_EQ(list.copies[1].session, 2u);
}

TEST(SessionListTest, FullListRefuses) {
    SessionList list = {};
    for (unsigned session = 0; session < MAX_SESSIONS; session++) {
        EXPECT_TRUE(AddCopy(&list, session, kNoted, sizeof kNoted));
    }
    EXPECT_FALSE(AddCopy(&list, MAX_SESSIONS, kNoted, sizeof kNoted));
    EXPECT_EQ(list.count, static_cast<unsigned>(MAX_SESSIONS));
}

} // namespace
