// swdriver: the Windows side of the Wine test bench. Starts programs, reads and answers their
// message boxes, finds windows and sends them messages, and writes what it saw as key=value lines
// (UTF-8) to a result file for the runner to compare. Usage: see kUsage below.
#include "commands.h"

#include <cstdio>
#include <cwchar>

namespace {

const char kUsage[] =
    "usage:\n"
    "  swdriver run <out> <timeoutMs> <press> [--app <exe>] [--cwd <dir>] [--limited]\n"
    "           [--watch <class> <title> <waitMs>] (-- <command line> | --cmdfile <file>)\n"
    "      start the command line, read and answer its boxes, record its exit code;\n"
    "      --watch: a window whose process is followed, and waited for up to waitMs after the run\n"
    "  start <out> <timeoutMs> [--app <exe>] [--cwd <dir>] (-- <line> | --cmdfile <file>)\n"
    "      start it without waiting for its end (until it waits for input and owns a window,\n"
    "      at most timeoutMs each)\n"
    "  send|post <out> <class> <title> <msg> <wParam> <lParam> <timeoutMs> <press> [settleMs]\n"
    "           [exitWaitMs] [<thenMsg> <thenWParam> <thenLParam> [send]]\n"
    "      deliver a message to a top-level window, answer the boxes its process shows meanwhile,\n"
    "      then wait up to exitWaitMs for that process to end; send with a then-message holds\n"
    "      the boxes, posts it (or sends it: then.answer) once the process shows one, counts the\n"
    "      boxes still open after settleMs (then.open) and only then answers them\n"
    "  burst <out> <class> <title> <msg> <count> <timeoutMs> <press> [settleMs]\n"
    "      send the message once, and once its process shows a box, count-1 times more while\n"
    "      every box is held on screen; then answer the held boxes and the rest as send does\n"
    "  boxes <out> <timeoutMs> <press> [settleMs]\n"
    "      read and answer the boxes of any other process\n"
    "  find <out> <class> <title> [waitMs]\n"

    "  wait-gone <out> <class> <title> <timeoutMs>\n"
    "  kill <out> <exe name>\n"
    "  version <out> <file>         the version record, read as an ANSI program reads it\n"
    "  shortcut <out> <path>        whether it exists; a shortcut's target and arguments\n"
    "  folders <out>                the all-users Startup and Programs folders, Program Files\n"
    "  products <out> <upgradeCode> the installed products of that upgrade code\n"
    "  usage <out> <class> <title> <waitMs> [<msg> <wParam> <lParam> <count>]\n"
    "      private bytes, working set and processor time of the window's process, before and\n"
    "      after sending it the message count times (no boxes answered) and then waiting\n"
    "  action <out> <dll> <entry> <package.msi> <log> <data>\n"
    "      call a custom action's entry as the installer calls a deferred one, with data as its\n"
    "      CustomActionData and its messages in the log\n"
    "<press>: comma-separated buttons for the boxes in order (ok, yes, no, cancel), or none.\n"
    "Times (keys ending in .ms: launch, sent, answer, boxN) count from the driver's start.\n"
    "Numbers may be decimal or 0x-prefixed hexadecimal. A --cmdfile holds the command line in\n"
    "UTF-8 (the host's argument conversion cannot be trusted with text outside ASCII).\n";

int SendCommand(int argc, wchar_t **argv, Report &report) {
    return DeliverCommand(argc, argv, report, true);
}

int PostCommand(int argc, wchar_t **argv, Report &report) {
    return DeliverCommand(argc, argv, report, false);
}

struct Command {
    const wchar_t *name;
    int (*run)(int argc, wchar_t **argv, Report &report);
};

// Every command by the name it is called with; kUsage describes their arguments.
const Command kCommands[] = {
    {L"run", RunCommand},           {L"start", StartCommand},        {L"send", SendCommand},
    {L"post", PostCommand},         {L"burst", BurstCommand},        {L"boxes", BoxesCommand},
    {L"find", FindCommand},         {L"wait-gone", WaitGoneCommand}, {L"kill", KillCommand},
    {L"version", VersionCommand},   {L"shortcut", ShortcutCommand},  {L"folders", FoldersCommand},
    {L"products", ProductsCommand}, {L"usage", UsageCommand},        {L"action", ActionCommand},
};

} // namespace

std::string Narrow(const wchar_t *text) {
    return Report::Utf8(text);
}

long long Number(const wchar_t *text) {
    return (long long)wcstoll(text, NULL, 0);
}

void SetExit(Report &report, const std::string &key, HANDLE process) {
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    if (code == STILL_ACTIVE) {
        report.Set(key, "running");
    } else {
        char hex[16];
        wsprintfA(hex, code > 0xFFFF ? "0x%08lX" : "%lu", code);
        report.Set(key, hex);
    }
}

int wmain(int argc, wchar_t **argv) {
    // Our own handles must not reach the programs we start (see StartProcess).
    SetHandleInformation(GetStdHandle(STD_INPUT_HANDLE), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(GetStdHandle(STD_OUTPUT_HANDLE), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(GetStdHandle(STD_ERROR_HANDLE), HANDLE_FLAG_INHERIT, 0);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    if (argc < 3) {
        fputs(kUsage, stderr);
        return 2;
    }
    Report report;
    int rc = 2;
    for (const Command &command : kCommands) {
        if (wcscmp(argv[1], command.name) == 0) {
            rc = command.run(argc, argv, report);
        }
    }
    if (rc == 2) {
        fputs(kUsage, stderr);
        return 2;
    }
    if (!report.Write(argv[2])) {
        fprintf(stderr, "swdriver: cannot write %s\n", Narrow(argv[2]).c_str());
        return 3;
    }
    return 0;
}
