"""The steps a Wine scenario is made of, and the expected message boxes they compare with.

Each step runs one swdriver command (see driver/swdriver.cpp) and returns a list of problems:
every expected key that the driver recorded differently. A step never passes by default: the
number of boxes is always compared, so an unexpected box fails the step too.
"""

import re
import subprocess
import time

# The private window messages and the session messages.
WM_CLOSE = 0x10
WM_QUERYENDSESSION = 0x11
WM_ENDSESSION = 0x16
ENDSESSION_CLOSEAPP = 0x1
ENDSESSION_CRITICAL = 0x40000000
ENDSESSION_LOGOFF = 0x80000000
WMU_QUIT = 0x401
WMU_SHOW_REFUSAL = 0x402

CLASS = TITLE = "SLOTWARD"

ICONS = {0x00: "none", 0x10: "hand", 0x20: "question", 0x30: "exclamation", 0x40: "asterisk"}
# The buttons of each MB_ type in the order they stand in the box; MB_DEFBUTTONn picks the nth.
BUTTONS = {0: ["ok"], 1: ["ok", "cancel"], 3: ["yes", "no", "cancel"], 4: ["yes", "no"]}
# The order in which the driver lists the buttons it finds.
DRIVER_ORDER = ["ok", "cancel", "abort", "retry", "ignore", "yes", "no"]


class Box:
    """An expected message box: caption, text and MessageBox style, as the program passes them.
    owner: the class of the owning window ("none" for a box without owner), or None: unchecked."""

    def __init__(self, caption, text, style, owner=None):
        self.caption, self.text, self.style, self.owner = caption, text, style, owner

    def expected(self, prefix):
        shown = BUTTONS[self.style & 0xF]
        keys = {
            "caption": self.caption,
            "text": self.text,
            "icon": ICONS[self.style & 0xF0],
            "buttons": ",".join(b for b in DRIVER_ORDER if b in shown),
            "default": shown[(self.style >> 8) & 0xF],
            "topmost": "1" if self.style & 0x1000 else "0",  # MB_SYSTEMMODAL
        }
        if self.owner is not None:
            keys["owner"] = self.owner
        return {prefix + k: v for k, v in keys.items()}


def compare(record, expected):
    problems = []
    for key, want in expected.items():
        got = record.get(key, "<missing>")
        if got != str(want):
            problems.append("%s: expected %r, got %r" % (key, str(want), got))
    if problems:
        problems.append("recorded: " + ", ".join("%s=%r" % kv for kv in record.items()
                                                   if not kv[0].endswith("ms")))
    return problems


def late(record, since, until, within):
    """A problem when the driver's time `until` came more than `within` ms after `since`."""
    if within is None or "<missing>" in (record.get(since, "<missing>"),
                                         record.get(until, "<missing>")):
        return []  # a missing time has failed the comparison already
    took = int(record[until]) - int(record[since])
    if took <= within:
        return []
    return ["%s came %d ms after %s, more than %d ms" % (until, took, since, within)]


def expect_boxes(boxes, process):
    expected = {"boxes": len(boxes)}
    for i, box in enumerate(boxes, 1):
        expected.update(box.expected("box%d." % i))
        if process:
            expected["box%d.process" % i] = process
    return expected


def presses(press, boxes):
    """The press list: one button per expected box, "ok" for a box with one button."""
    if press is not None:
        return press
    if not boxes:
        return "none"
    return ",".join("ok" if BUTTONS[b.style & 0xF] == ["ok"] else "no" for b in boxes)


class Run:
    """Starts a command line and waits for its end, answering its boxes.
    watch: also follow the resident instance and wait up to that many ms for its end;
    watched_exit: "running" when it must still run afterwards, else its exit code;
    limited: with the user's ordinary token (Wine gives every program an administrator's elevated
    one, as UAC does, with the ordinary one linked to it); within: the first box is on screen
    within that many ms of the start; gone_first: the watched process had ended when the first
    box came."""

    def __init__(self, cmd, boxes, press=None, exit="0", app=None, cwd=None, watch=None,
                 watched_exit=None, timeout=8000, limited=False, within=None, gone_first=False):
        self.cmd, self.boxes, self.exit, self.limited = cmd, boxes, exit, limited
        self.within, self.gone_first = within, gone_first
        self.press = presses(press, boxes)
        self.app, self.cwd, self.timeout = app, cwd, timeout
        self.watch, self.watched_exit = watch, watched_exit

    def describe(self):
        return "run %s" % self.cmd

    def execute(self, wine, context):
        line = self.cmd.format(**context)
        args = ["run", str(self.timeout), self.press]
        if self.app:
            args += ["--app", self.app.format(**context)]
        if self.cwd:
            args += ["--cwd", self.cwd]
        if self.limited:
            args.append("--limited")
        if self.watch is not None:
            args += ["--watch", CLASS, TITLE, str(self.watch)]
        record = wine.driver_run(args + ["--cmdfile", wine.command_file(line)],
                                 self.timeout / 1000 + 30)
        expected = {"launch": "ok", "cmdline": line, "exit": self.exit}
        expected.update(expect_boxes(self.boxes, context["image"]))
        if self.watch is not None:
            expected["watched.found"] = "1"
            expected["watched.exit"] = self.watched_exit
        problems = compare(record, expected) + late(record, "launch.ms", "box1.ms", self.within)
        if not problems and self.gone_first:
            if "watched.exit.ms" not in record:
                problems.append("the watched process ran on past the run")
            problems += late(record, "box1.ms", "watched.exit.ms", 0)
        return problems


class Start:
    """Starts a command line that is to stay resident; returns once it waits for input and has
    its window (a one-shot run's box is one too)."""

    def __init__(self, cmd="{exe}", app=None):
        self.cmd, self.app = cmd, app

    def describe(self):
        return "start %s" % self.cmd

    def execute(self, wine, context):
        line = self.cmd.format(**context)
        args = ["start", "5000"] + (["--app", self.app.format(**context)] if self.app else [])
        record = wine.driver_run(args + ["--cmdfile", wine.command_file(line)], 40)
        # Under Wine a program can be idle before its first window exists (it waits for the
        # desktop process, which Wine starts afresh a second after the last window went): the
        # driver waits for the window too, which the steps after a start look up at once.
        return compare(record, {"launch": "ok", "cmdline": line, "idle": "ok", "window": "1",
                                "exit": "running"})


class Boxes:
    """The boxes already shown, or shown within timeout ms, by any process are these."""

    def __init__(self, boxes, press=None, timeout=5000):
        self.boxes, self.timeout = list(boxes), timeout
        self.press = presses(press, self.boxes)

    def describe(self):
        return "%d box(es) on screen" % len(self.boxes)

    def execute(self, wine, context):
        record = wine.driver_run(["boxes", str(self.timeout), self.press], self.timeout / 1000 + 30)
        return compare(record, expect_boxes(self.boxes, context["image"]))


class NoBox:
    """No process shows a box within ms milliseconds."""

    def __init__(self, ms=500):
        self.ms = ms

    def describe(self):
        return "no box within %d ms" % self.ms

    def execute(self, wine, context):
        return compare(wine.driver_run(["boxes", str(self.ms), "none"], 30), {"boxes": "0"})


class Find:
    """The hidden window: how many windows of its class exist, and its properties.
    style: WS_OVERLAPPEDWINDOW as created; the system adds WS_CLIPSIBLINGS (0x04000000) to every
    top-level window and WS_EX_WINDOWEDGE (0x100) to one with a caption and frame, on Windows as
    under Wine, so those bits are expected as well."""

    def __init__(self, count=1, style="0x04CF0000", exstyle="0x00000100", visible="0",
                 path=None):
        """path: the program the window's process runs, compared without regard to case."""
        self.count, self.style, self.exstyle, self.visible = count, style, exstyle, visible
        self.path = path

    def describe(self):
        return "find %s windows" % CLASS

    def execute(self, wine, context):
        record = wine.driver_run(["find", CLASS, TITLE, "1000"], 30)
        expected = {"found": "1" if self.count else "0", "count": self.count}
        if self.count:
            expected.update({"style": self.style, "exstyle": self.exstyle,
                             "visible": self.visible, "parent": "desktop",
                             "process": context["image"]})
        if self.path:
            record["path"] = record.get("path", "<missing>").lower()
            expected["path"] = self.path.format(**context).lower()
        return compare(record, expected)


class Deliver:
    """Sends (send=True) or posts a message to the hidden window, answering the boxes that its
    process shows meanwhile. answer_first: the answer must come before the first box appears.
    exit: the exit code of the window's process afterwards ("running": it goes on running).
    then: (message, wparam, lparam) posted to the window once its process shows a box, which is
    held on screen meanwhile (send only); then_open: how many boxes are still open the settle
    time after it, before the held boxes are pressed; then_answer: the follow-up is sent
    instead, and this is its answer. within: the first box (with none expected, the answer) comes
    within that many ms of the sending (send only)."""

    def __init__(self, send, message, boxes, answer=None, press=None, answer_first=False,
                 settle=500, timeout=8000, exit="running", wparam=0, lparam=0, then=None,
                 then_open=0, then_answer=None, within=None):
        self.send, self.message, self.boxes, self.answer = send, message, boxes, answer
        self.within = within
        self.wparam, self.lparam, self.then, self.then_open = wparam, lparam, then, then_open
        self.then_answer = then_answer
        self.press = presses(press, boxes)
        self.answer_first, self.settle, self.timeout = answer_first, settle, timeout
        self.exit = exit

    def describe(self):
        return "%s message 0x%X (0x%X, 0x%X)" % ("send" if self.send else "post", self.message,
                                                 self.wparam, self.lparam)

    def execute(self, wine, context):
        args = ["send" if self.send else "post", CLASS, TITLE, hex(self.message),
                hex(self.wparam), hex(self.lparam),
                str(self.timeout), self.press, str(self.settle),
                "0" if self.exit == "running" else "5000"]
        if self.then:
            args += [hex(v) for v in self.then] + (["send"] if self.then_answer else [])
        record = wine.driver_run(args, self.timeout / 1000 + 30)
        expected = {"found": "1", "exit": self.exit}
        if self.then:
            expected.update({"then.open": self.then_open, "timeout": "<missing>"})
            if self.then_answer:
                expected.update({"then.sent": "1", "then.answer": self.then_answer})
            else:
                expected["then.posted"] = "1"
        expected.update(expect_boxes(self.boxes, context["image"]))
        if self.send:
            expected["answer"] = self.answer
        else:
            expected["posted"] = "1"
        problems = compare(record, expected)
        if not problems and self.send:
            problems += late(record, "sent.ms", "box1.ms" if self.boxes else "answer.ms",
                             self.within)
        if not problems and self.answer_first and self.boxes:
            if int(record["answer.ms"]) > int(record["box1.ms"]):
                problems.append("the box appeared before the answer (answer at %s ms, box at "
                                "%s ms)" % (record["answer.ms"], record["box1.ms"]))
        return problems


def Send(message, boxes=(), answer="1", **kw):
    return Deliver(True, message, list(boxes), answer=answer, **kw)


def Post(message, boxes=(), **kw):
    return Deliver(False, message, list(boxes), **kw)


class WaitGone:
    """The hidden window disappears and its process ends with that exit code."""

    def __init__(self, exit=None, timeout=5000):
        self.exit, self.timeout = exit, timeout

    def describe(self):
        return "wait until the %s window is gone" % CLASS

    def execute(self, wine, context):
        record = wine.driver_run(["wait-gone", CLASS, TITLE, str(self.timeout)], 40)
        expected = {"gone": "1"}
        if self.exit is not None:
            expected["exit"] = self.exit
        return compare(record, expected)


class WineBoot:
    """Wine's session manager asks every window whether the session may end
    (wineboot --end-session); the boxes shown meanwhile are answered. rc: its exit code,
    1 when a window refused, 0 when all consented (it then ends their processes). A process
    that has not answered 5 s after the query gets the session manager's own "end task" box,
    which no scenario expects: it counts as one box too many."""

    def __init__(self, boxes, rc, press=None, timeout=10000):
        self.boxes, self.rc, self.timeout = list(boxes), rc, timeout
        self.press = presses(press, self.boxes)

    def describe(self):
        return "wineboot --end-session"

    def execute(self, wine, context):
        proc = wine.start_wineboot()
        try:
            problems = []
            if self.boxes:
                record = wine.driver_run(["boxes", str(self.timeout), self.press], 40)
                problems += compare(record, expect_boxes(self.boxes, context["image"]))
            try:
                rc = proc.wait(self.timeout / 1000 + 10)
            except subprocess.TimeoutExpired:
                return problems + ["wineboot did not end (a window it waits for never answered)"]
            if rc != self.rc:
                problems.append("wineboot exit code: expected %d, got %d" % (self.rc, rc))
            return problems
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()



class Burst:
    """Sends the message count times to the hidden window: the first on its own, the rest one
    after another once its process shows a box, while every box is held on screen. held: how
    many boxes were open at once; boxes: all boxes shown, the held ones answered by press in
    order once the burst is over; answer: the first message's answer; more: the answer of every
    further message (they must all be answered within the driver's time limit)."""

    def __init__(self, message, count, boxes, held, answer, more, press=None, timeout=8000):
        self.message, self.count, self.boxes, self.held = message, count, list(boxes), held
        self.answer, self.more, self.timeout = answer, more, timeout
        self.press = presses(press, self.boxes)

    def describe(self):
        return "burst of %d message(s) 0x%X" % (self.count, self.message)

    def execute(self, wine, context):
        args = ["burst", CLASS, TITLE, hex(self.message), str(self.count), str(self.timeout),
                self.press]
        record = wine.driver_run(args, self.timeout / 1000 + 2 * self.count + 30)
        expected = {"found": "1", "held": self.held, "held.open": self.held,
                    "answer": self.answer, "more.sent": self.count - 1,
                    "more.answered": self.count - 1, "more.answers": self.more}
        expected.update(expect_boxes(self.boxes, context["image"]))
        return compare(record, expected)


class Looks:
    """Whether the drives that never answer have been opened for a listing since the previous
    Looks step (or the scenario's start): new=True, some were, new=False, none. A look at such a
    drive never ends, so a new one while an earlier one waits is a second look in flight. Wine
    opens the folder more than once for one directory search, so only "some" or "none" counts."""

    def __init__(self, new):
        self.new = new

    def describe(self):
        return "%s look at the drives that never answer" % ("a new" if self.new else "no new")

    def execute(self, wine, context):
        before, context["looks"] = context.get("looks", 0), wine.looks()
        if (context["looks"] > before) == self.new:
            return []
        return ["expected %s opening for a listing, got %d" % (
            "a new" if self.new else "no new", context["looks"] - before)]


class Kill:
    """Ends every process of the program at once, as the task manager would: no message, no
    clean-up of its own."""

    def describe(self):
        return "kill the program's processes"

    def execute(self, wine, context):
        return compare(wine.driver_run(["kill", context["image"]], 30), {"killed": "1"})



class Usage:
    """What the hidden window's process costs, as scripts/measure.py reads it: the driver must
    be able to open the process and read its memory and processor time, twice."""

    def describe(self):
        return "read the usage of the %s window's process" % CLASS

    def execute(self, wine, context):
        record = wine.driver_run(["usage", CLASS, TITLE, "100"], 30)
        problems = compare(record, {"found": "1", "before.ok": "1", "after.ok": "1"})
        for key in ("before.private", "after.private", "after.workingset"):
            if not problems and int(record[key]) <= 0:
                problems.append("%s: expected more than 0, got %s" % (key, record[key]))
        return problems

# The session-end functions whose Wine stubs print their arguments (see bench.TRACE_CHANNELS).
TRACED = ("ShutdownBlockReasonCreate", "ShutdownBlockReasonDestroy",
          "SetProcessShutdownParameters", "RegisterApplicationRestart")
TRACE_LINE = re.compile(r"^(?:([0-9a-f]+):)?fixme:\w+:(%s) (.*)$" % "|".join(TRACED))
# A file that Wine's installer could not delete (a program still running from it), written as
# "in use" and the path as Wine prints it.
NOT_DELETED = re.compile(r'^(?:([0-9a-f]+):)?warn:msi:\w+ failed to delete (L".*") ')
# The calls a relayed scenario traces (bench.RELAY_INCLUDE): the drive queries and the class's
# registration by name; the icon load with its arguments, module "exe" being the program's image
# (its base, 32 or 64 bit), and on its return whether it gave an icon.
RELAYED = ("GetLogicalDrives", "GetDriveTypeA", "RegisterClassA")
RELAY_LINE = re.compile(r"^([0-9a-f]+):Call (?:KERNEL32|user32)\.(%s)\(" % "|".join(RELAYED))
ICON_CALL = re.compile(r"^([0-9a-f]+):Call user32\.LoadIconA\(([0-9a-f]+),([0-9a-f]+)\)")
ICON_RETURN = re.compile(r"^([0-9a-f]+):Ret  user32\.LoadIconA\(\) retval=([0-9a-f]+)")
IMAGE_BASES = (0x400000, 0x140000000)


def wine_text(text):
    """A UTF-16 text as Wine's trace prints it: L"...", with escapes."""
    out = []
    for c in text:
        escaped = {"\n": "\\n", "\r": "\\r", "\t": "\\t", '"': '\\"', "\\": "\\\\"}.get(c)
        if escaped:
            out.append(escaped)
        elif " " <= c < "\x7f":
            out.append(c)
        else:
            out.append("\\%04x" % ord(c))
    return 'L"%s"' % "".join(out)


def reason(text):
    """The block reason set for the hidden window (its handle is not compared)."""
    return "ShutdownBlockReasonCreate (*, %s): stub" % wine_text(text)


def restart(arguments):
    """The restart registration with RESTART_NO_REBOOT."""
    return "RegisterApplicationRestart (%s,8)" % wine_text(arguments)


FIRST_IN_SHUTDOWN = "SetProcessShutdownParameters (000003ff, 00000000): partial stub."


# The relay trace of the device calls: CreateFileA of "\\.\X:" (Wine doubles each backslash)
# and DeviceIoControl, each line led by the calling thread's id.
DEVICE_OPEN = re.compile(r'^([0-9a-f]+):Call KERNEL32\.CreateFileA\([0-9a-f]+ '
                         r'"\\\\\\\\\.\\\\([A-Za-z]):",([0-9a-f]+),([0-9a-f]+),')
DEVICE_QUERY = re.compile(r"^([0-9a-f]+):Call KERNEL32\.DeviceIoControl\([0-9a-f]+,([0-9a-f]+),")
QUERIES = {"002d1400": "property", "002d0c14": "hotplug", "002d1080": "number"}


def asked(letter, *queries):
    """A drive's device opened with no access rights and shared use, then asked these queries
    ("property", "hotplug", "number")."""
    return ["open %s:" % letter] + list(queries)


def device_call(line, threads):
    """The device call on a relay line as asked() writes it, or None. Only the threads that
    opened a device count: the services of the prefix use DeviceIoControl too."""
    match = DEVICE_OPEN.search(line)
    if match:
        threads.add(match.group(1))
        rights = "" if match.group(3, 4) == ("00000000", "00000003") else \
            " access=%s share=%s" % match.group(3, 4)
        return "open %s:%s" % (match.group(2).upper(), rights)
    match = DEVICE_QUERY.search(line)
    if match and match.group(1) in threads:
        return QUERIES.get(match.group(2), "ioctl " + match.group(2))
    return None


# The relay trace of the installer's helpers (kind "sessions"): the stopper acts as a copy's own
# user to open its program where its name alone does not tell ("as its user", then "revert"),
# asks each copy's session, ends it and notes the sessions ("note N" for N sessions); the
# starter takes the token
# of each noted session's user and that user's environment, the copy it started is resident once
# the starter's own wait for it returns, and the list is removed when every session is served.
# Only the helpers' threads count for the environment (Wine's service manager makes one for
# the installer's service) and for the wait (the driver waits for its programs too).
# An entry of the list: the session, the length of its user's SID, and room for the longest SID.
ENDED_COPY_BYTES = 4 + 4 + 68
USER_TOKEN = re.compile(r"^([0-9a-f]+):Call wtsapi32\.WTSQueryUserToken\(([0-9a-f]+),")
SESSION_OF = re.compile(r"^([0-9a-f]+):Call KERNEL32\.ProcessIdToSessionId\(")
SESSION_CALLS = [
    (SESSION_OF, lambda m: "session of"),
    (re.compile(r"^([0-9a-f]+):Call KERNEL32\.TerminateProcess\("), lambda m: "end"),
    (re.compile(r'^([0-9a-f]+):Call advapi32\.RegSetValueExA\([0-9a-f]+,[0-9a-f]+ "Ended",'
                r"00000000,00000003,[0-9a-f]+,([0-9a-f]+)\)"),
     lambda m: "note %d" % (int(m.group(2), 16) // ENDED_COPY_BYTES)),
    (USER_TOKEN, lambda m: "token of session %d" % int(m.group(2), 16)),
    (re.compile(r"^([0-9a-f]+):Call advapi32\.ImpersonateLoggedOnUser\("), lambda m: "as its user"),
    (re.compile(r"^([0-9a-f]+):Call advapi32\.RevertToSelf\("), lambda m: "revert"),
    (re.compile(r'^([0-9a-f]+):Call advapi32\.RegDeleteKeyA\([0-9a-f]+,[0-9a-f]+ '
                r'"Software\\\\SLOTWARD\\\\Sessions"\)'), lambda m: "list removed"),
]
ENVIRONMENT = re.compile(r"^([0-9a-f]+):Call userenv\.CreateEnvironmentBlock\(")
WAIT_RETURN = re.compile(r"^([0-9a-f]+):Ret  user32\.WaitForInputIdle\(\)")


def session_call(line, starters):
    """The helper's call on a relay line, or None; starters: the threads that asked for a
    session's token or a process's session."""
    match = USER_TOKEN.search(line) or SESSION_OF.search(line)
    if match:
        starters.add(match.group(1))
    for pattern, name in SESSION_CALLS:
        match = pattern.search(line)
        if match:
            return name(match)
    match = ENVIRONMENT.search(line)
    if match and match.group(1) in starters:
        return "environment"
    match = WAIT_RETURN.search(line)
    if match and match.group(1) in starters:
        return "resident"
    return None


def traced_lines(text, kind=True):
    """The traced session-end calls and the files the installer found in use, in a piece of
    trace in order, each with its thread ("" when the line names none), the window handle
    starred; with kind "relay" also the relayed drive queries by name and the icon load, with
    kind "devices" the device calls, with kind "sessions" the installer's helpers' calls (the
    prefix relays every kind's calls to every traced one)."""
    calls, threads = [], set()
    for line in text.splitlines():
        device = device_call(line, threads) if kind == "devices" else None
        if kind == "sessions":
            device = session_call(line, threads)
        if device:
            calls.append(("", device))
        match = TRACE_LINE.search(line)
        if match:
            arguments = match.group(3)
            if match.group(2) == "ShutdownBlockReasonCreate":
                arguments = re.sub(r"^\([0-9a-fA-F]+,", "(*,", arguments)
            calls.append((match.group(1) or "", "%s %s" % (match.group(2), arguments)))
        match = NOT_DELETED.search(line)
        if match:
            calls.append((match.group(1) or "", "in use " + match.group(2)))
        if kind != "relay":
            continue
        match = RELAY_LINE.search(line)
        if match:
            calls.append((match.group(1), match.group(2)))
        match = ICON_CALL.search(line)
        if match:
            module = int(match.group(2), 16)
            calls.append((match.group(1), "LoadIconA(%s,%d)" % (
                "exe" if module in IMAGE_BASES else hex(module), int(match.group(3), 16))))
        match = ICON_RETURN.search(line)
        if match:
            calls.append((match.group(1), "LoadIconA -> %s" % (
                "icon" if int(match.group(2), 16) else "NULL")))
    return calls


class Trace:
    """The session-end calls (and in relayed scenarios the relayed calls) that the
    scenario's programs made since the last Trace step are exactly these, in this order
    (traced scenarios only). A resident program may still be
    on its way to a call when the driver has seen what it waited for (the idle state of a fresh
    start), so the trace is read again for up to timeout ms while calls are missing.
    one_thread: every line carries the id of one and the same thread. survey_thread: the
    drives are asked (GetDriveTypeA, FindFirstFileA) on one thread, every other call is made on
    another one, the window's."""

    DRIVE_CALLS = ("GetDriveTypeA", "FindFirstFileA")

    def __init__(self, *calls, timeout=5000, one_thread=False, survey_thread=False):
        self.calls, self.timeout, self.one_thread = list(calls), timeout, one_thread
        self.survey_thread = survey_thread

    def describe(self):
        return "trace of %d call(s)" % len(self.calls)

    def execute(self, wine, context):
        if wine.trace is None:
            return ["the scenario is not traced (Scenario(..., trace=True))"]
        deadline = time.monotonic() + self.timeout / 1000
        text = ""
        while True:
            more, context["trace_offset"] = wine.read_trace(context["trace_offset"])
            text += more
            lines = traced_lines(text, wine.trace_kind)
            got = [call for _, call in lines]
            if got != self.calls[:len(got)] or len(got) >= len(self.calls):
                break
            if time.monotonic() >= deadline:
                break
            time.sleep(0.1)
        if got != self.calls:
            return ["expected %r, got %r" % (self.calls, got)]
        threads = set(thread for thread, _ in lines)
        if self.one_thread and (len(threads) != 1 or "" in threads):
            return ["expected one thread for every call, got %r" % lines]
        if self.survey_thread:
            drives = set(t for t, call in lines if call.startswith(self.DRIVE_CALLS))
            others = set(t for t, call in lines if not call.startswith(self.DRIVE_CALLS))
            if len(drives) != 1 or len(others) != 1 or drives == others or "" in threads:
                return ["expected the drives asked on a thread of their own, got %r" % lines]
        return []
