// Message boxes: every box is logged byte for byte; its answer comes from the test's hook, or
// else from the scripted answers, and a box nobody expected is a problem.
#include "sim_internal.h"

using namespace sim::detail;

namespace sim {

void ScriptBoxAnswers(const std::vector<int> &answers) {
    Guard lock(Mutex());
    St().boxScript.assign(answers.begin(), answers.end());
}

void OnBox(std::function<int(const Box &)> hook) {
    Guard lock(Mutex());
    St().boxHook = std::move(hook);
}

const std::vector<Box> &Boxes() {
    return Snapshot<&State::boxes>();
}

} // namespace sim

extern "C" {

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    sim::Box box{owner, text ? text : "",     caption ? caption : "Error",
                 type,  GetCurrentThreadId(), 0};
    std::function<int(const sim::Box &)> hook;
    size_t index;
    unsigned generation;
    {
        Guard lock(Mutex());
        St().boxes.push_back(box);
        index = St().boxes.size() - 1;
        generation = St().generation;
        if (ShouldFail(sim::Api::MessageBoxA)) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        hook = St().boxHook;
        if (!hook) {
            int answer = 0;
            if (!St().boxScript.empty()) {
                answer = St().boxScript.front();
                St().boxScript.pop_front();
            } else {
                AddProblem("unscripted message box: " + box.text);
            }
            St().boxes[index].answer = answer;
            return answer;
        }
    }
    // The hook may show boxes, send messages or signal events, so it runs unlocked.
    int answer = hook(box);
    Guard lock(Mutex());
    if (St().generation == generation)
        St().boxes[index].answer = answer;
    return answer;
}

} // extern "C"
