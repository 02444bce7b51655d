"""The Wine scenarios: (command line, drive layout, locale, settings file) -> (caption, text,
style, answer, exit code). Each row is a Scenario; bench.py runs them in this order.

Drive layouts map a drive letter to (type, content): type cdrom, floppy (removable) or fixed;
content "files" (a medium with files), "empty" (an empty formatted medium), "dangling" (the
letter points nowhere) or "hanging" (a listing of the drive never returns: bench.HANG_FS).
C: (the program's drive) and Z: (the host's root) are always there, both
fixed. A drive without a medium (ERROR_NOT_READY) cannot be made under Wine, which never reports
that error for a folder mapping: that case is covered by the host tests only.
"""

import re

from steps import (Box, Boxes, Find, NoBox, Post, Run, Send, Start, Trace, Usage, WaitGone,
                   WineBoot, ENDSESSION_CLOSEAPP, ENDSESSION_CRITICAL, ENDSESSION_LOGOFF,
                   FIRST_IN_SHUTDOWN, WMU_QUIT, WMU_SHOW_REFUSAL, WM_CLOSE, WM_ENDSESSION,
                   WM_QUERYENDSESSION, asked, reason,
                   restart)


class Scenario:
    """exe: the program is started as C:\\<folder>\\<exe>.exe, its settings file being
    C:\\<folder>\\<exe>.CFG; settings: that file's text (str, written in the locale's code page,
    or bytes), or None for no file; trace: Wine's trace of the session-end stubs is recorded for
    the Trace steps, with trace="devices" also the relay trace of the device calls, with
    trace="sessions" that of the installer's helpers."""

    def __init__(self, name, steps, layout=None, locale="en", settings=None, exe="slotward",
                 trace=False, folder="slotward"):
        self.name, self.steps, self.locale, self.settings = name, steps, locale, settings
        self.layout = layout if layout is not None else CD
        self.exe, self.trace, self.folder = exe, trace, folder


CD = {"d": ("cdrom", "files")}
# A: an empty formatted floppy, D: a CD with files, E: a floppy with files, F: a fixed disk.
MIXED = {"a": ("floppy", "empty"), "d": ("cdrom", "files"), "e": ("floppy", "files"),
         "f": ("fixed", "files")}
NO_REMOVABLE = {}

# The program's texts, as the user sees them.
EN = {
    "info": "SLOTWARD:Information",
    "warning": "SLOTWARD:Warning!",
    "error": "SLOTWARD:Error!",
    "terminated": "SLOTWARD was terminated.",
    "not_running": "SLOTWARD is not execute.",
    "already": "SLOTWARD is already execute.",
    "in_drive": "In drive ",
    "ask": ", the media is still inserted. Do you want to continue shutdown processing?",
    "remove": ", the media is still inserted. Please remove it and try again shutdown processing.",
    "still": ", the media is still inserted.",
    "not_inserted": ", the media is not inserted.",
    "no_removable": "There is not the removable drive.",
    "checking": "SLOTWARD is checking the drives for media.",
    "other_rights": "SLOTWARD runs with other rights and cannot be terminated from here.",
}
JA = {
    "info": "SLOTWARD:情報",
    "warning": "SLOTWARD:警告！",
    "error": "SLOTWARD:エラー！",
    "terminated": "SLOTWARD を終了しました。",
    "not_running": "SLOTWARD は実行していません。",
    "already": "SLOTWARD は既に実行しています。",
    "in_drive": "ドライブ ",
    "ask": "にメディアが残っています。シャットダウン処理を続行しますか？",
    "remove": "にメディアが残っています。取り出してからシャットダウンを再試行して下さい。",
    "still": "にメディアが残っています。",
    "not_inserted": "にメディアは挿入されていません。",
    "no_removable": "取り出し可能なドライブがありません。",
    "checking": "SLOTWARD はドライブのメディアを確認しています。",
    "other_rights": "SLOTWARD は別の権限で実行されているため、終了できません。",
}
# Their lengths in bytes as the program stores them (ASCII, and Shift-JIS): a typo here would
# otherwise only show as a failing scenario.
_LENGTHS = {"info": (20, 13), "warning": (17, 15), "error": (15, 17), "terminated": (24, 25),
            "not_running": (24, 29), "already": (28, 31), "in_drive": (9, 9), "ask": (75, 60),
            "remove": (82, 74), "still": (30, 26), "not_inserted": (28, 32),
            "no_removable": (33, 36), "checking": (42, 47), "other_rights": (67, 57)}
for _key, (_en, _ja) in _LENGTHS.items():
    assert len(EN[_key].encode("ascii")) == _en, _key
    assert len(JA[_key].encode("cp932")) == _ja, _key

MB_ICONERROR, MB_ICONWARNING, MB_ICONINFORMATION = 0x10, 0x30, 0x40
QUESTION = 0x1114  # MB_SYSTEMMODAL | MB_DEFBUTTON2 | MB_ICONERROR | MB_YESNO
REFUSAL = 0x1010  # MB_SYSTEMMODAL | MB_ICONERROR


def drives(*letters):
    """A drive list as the program writes it: "D: E: "."""
    return "".join("%s: " % d for d in letters)


def report(t, media=(), empty=()):
    """The test report box."""
    if not media and not empty:
        return Box(t["info"], t["no_removable"], MB_ICONINFORMATION, owner="none")
    text = ""
    if empty:
        text += t["in_drive"] + drives(*empty) + t["not_inserted"]
    if media:
        text += t["in_drive"] + drives(*media) + t["still"]
    return Box(t["info"], text, MB_ICONINFORMATION, owner="none")


def question(t, *media, owner="SLOTWARD"):
    return Box(t["warning"], t["in_drive"] + drives(*media) + t["ask"], QUESTION, owner=owner)


def refusal(t, *media, owner="SLOTWARD"):
    return Box(t["error"], t["in_drive"] + drives(*media) + t["remove"], REFUSAL, owner=owner)


def preview(t):
    return question(t, "A", owner="none")


def terminated(t):
    return Box(t["info"], t["terminated"], MB_ICONINFORMATION, owner="none")


def not_running(t):
    return Box(t["info"], t["not_running"], MB_ICONWARNING, owner="none")


def already(t):
    return Box(t["error"], t["already"], MB_ICONERROR, owner="none")


# Ends the resident instance through the program's own termination request.
END = Run("{exe} /R", [terminated(EN)], watch=5000, watched_exit="0")
END_JA = Run("{exe} /R", [terminated(JA)], watch=5000, watched_exit="0")
# A one-shot start while an instance is resident leaves it running.
ALIVE = dict(watch=300, watched_exit="running")

ONE_SHOT = [
    Scenario("report_cd_en", [Run("{exe} /T", [report(EN, media="D")])]),
    Scenario("report_cd_ja", [Run("{exe} /T", [report(JA, media="D")])], locale="ja"),
    Scenario("report_cd_ja_forced_english", [Run("{exe} /t /e", [report(EN, media="D")])],
             locale="ja"),
    Scenario("report_option_with_more_letters", [Run("{exe} /Test", [report(EN, media="D")])]),
    # The empty formatted floppy A counts as a medium; the fixed disk F is not checked.
    Scenario("report_mixed", [Run("{exe} /T", [report(EN, media="ADE")])], layout=MIXED),
    Scenario("report_include_fixed", [Run("{exe} /T f:", [report(EN, media="ADEF")])],
             layout=MIXED),
    Scenario("report_include_two_in_one_token",
             [Run("{exe} /T c:f:", [report(EN, media="ACDEF")])], layout=MIXED),
    Scenario("report_exclude", [Run("{exe} e: /T /X d: A:", [report(EN, media="E")])],
             layout=MIXED),
    Scenario("report_exclude_outranks_include",
             [Run("{exe} /T f: /X f:", [report(EN, media="ADE")])], layout=MIXED),
    Scenario("report_letter_in_option_token_ignored",
             [Run("{exe} /T /Xd:", [report(EN, media="ADE")])], layout=MIXED),
    Scenario("report_dangling_removable_counts_as_medium",
             [Run("{exe} /T", [report(EN, media="DG")])],
             layout={"d": ("cdrom", "files"), "g": ("floppy", "dangling")}),
    Scenario("report_no_removable_en", [Run("{exe} /T", [report(EN)])], layout=NO_REMOVABLE),
    Scenario("report_no_removable_ja", [Run("{exe} /T", [report(JA)])], layout=NO_REMOVABLE,
             locale="ja"),
    Scenario("report_missing_drive_not_checked", [Run("{exe} /T q:", [report(EN)])],
             layout=NO_REMOVABLE),
    # Wine answers every device as a SCSI disk that is not removable and cannot open Z:, so /U
    # adds no drive and no drive is taken for an image: the lists stay as they are without it.
    Scenario("report_external_option_adds_nothing",
             [Run("{exe} /T /U", [report(EN, media="ADE")]),
              Run("{exe} /u /T f:", [report(EN, media="ADEF")]),
              Run("{exe} /T /U /X d: A:", [report(EN, media="E")])], layout=MIXED),
    Scenario("report_external_option_no_removable", [Run("{exe} /T /U", [report(EN)])],
             layout=NO_REMOVABLE),
    # Which devices are asked: removable and CD-ROM drives not named by letter, with /U also the
    # fixed ones but C: (Windows' own), their bus only, since Wine's SCSI bus is one that internal
    # disks sit on; named and excluded drives never. Z: cannot be opened under Wine.
    Scenario("report_devices_asked",
             [Run("{exe} /T", [report(EN, media="ADE")]),
              Trace(*asked("A", "property"), *asked("D", "property"), *asked("E", "property")),
              Run("{exe} /T /U", [report(EN, media="ADE")]),
              Trace(*asked("A", "property"), *asked("D", "property"), *asked("E", "property"),
                    *asked("F", "property"), *asked("Z")),
              Run("{exe} /T /U d: /X e:", [report(EN, media="AD")]),
              Trace(*asked("A", "property"), *asked("F", "property"), *asked("Z"))],
             layout=MIXED, trace="devices"),
    Scenario("preview_en_no", [Run("{exe} /M?", [preview(EN)], press="no")]),
    Scenario("preview_en_yes_ignored", [Run("{exe} /M?", [preview(EN)], press="yes")]),
    Scenario("preview_ja", [Run("{exe} /m?", [preview(JA)])], locale="ja"),
    Scenario("preview_forced_refusal",
             [Run("{exe} /F /M?", [refusal(EN, "A", owner="none")])]),
    Scenario("preview_forced_refusal_ja",
             [Run("{exe} /M? /F", [refusal(JA, "A", owner="none")])], locale="ja"),
    Scenario("preview_template_with_caption",
             [Run('{exe} /M?"Please take $DRIVE$ out now,My caption"',
                  [Box("My caption", "Please take  A:  out now", QUESTION, owner="none")])]),
    Scenario("preview_template_lower_case_token_empty_prefix",
             [Run('{exe} "/M?$drive$is busy"',
                  [Box(EN["warning"], "A: is busy", QUESTION, owner="none")])]),
    Scenario("preview_template_last_comma_is_caption",
             [Run('{exe} /M?"One, $DRIVE$ two, three,Cap"',
                  [Box("Cap", "One,  A:  two, three", QUESTION, owner="none")])]),
    Scenario("preview_template_trailing_comma_no_caption",
             [Run('{exe} "/M?Drives $DRIVE$ busy,"',
                  [Box(EN["warning"], "Drives  A:  busy", QUESTION, owner="none")])]),
    Scenario("preview_template_without_token_builtin",
             [Run('{exe} "/M?no token here,Cap"', [preview(EN)])]),
    Scenario("preview_template_forced_refusal",
             [Run('{exe} /F /M?"Take $DRIVE$ out,Stop"',
                  [Box("Stop", "Take  A:  out", REFUSAL, owner="none")])]),
    Scenario("preview_template_japanese",
             [Run('{exe} /M?"ドライブ $DRIVE$ を取り出して下さい,注意"',
                  [Box("注意", "ドライブ  A:  を取り出して下さい", QUESTION, owner="none")])],
             locale="ja"),
    # The second byte of 表 is 0x5C: it does not escape the quote after it, which ends the group.
    Scenario("preview_template_double_byte_before_quote",
             [Run('{exe} /M?"表"$DRIVE$"表示,注意"',
                  [Box("注意", "表 A: 表示", QUESTION, owner="none")])], locale="ja"),
    Scenario("last_of_report_and_preview_wins",
             [Run("{exe} /M? /T", [report(EN, media="D")]),
              Run("{exe} /T /M?", [preview(EN)])]),
]

SETTINGS_FILE = [
    Scenario("file_report", [Run("{exe}", [report(EN, media="D")])], settings="/T"),
    Scenario("file_lines_include_drive", [Run("{exe}", [report(EN, media="ADEF")])],
             layout=MIXED, settings="/T\r\nf:\r\n"),
    # The file's exclusion outranks the command line's inclusion; its exclusion mode ends with
    # the file, so the command line's F is included.
    Scenario("file_exclusion_then_command_line",
             [Run("{exe} d: f:", [report(EN, media="AEF")])], layout=MIXED,
             settings="/T /X d:"),
    Scenario("file_english_on_japanese_system", [Run("{exe} /T", [report(EN, media="D")])],
             locale="ja", settings="/E"),
    Scenario("file_tab_joins_options", [Run("{exe}", [report(JA, media="D")])], locale="ja",
             settings="/T\t/E"),
    # Ctrl-Z separates like a space; a zero byte ends the text, so the exclusion is not read.
    Scenario("file_ctrl_z_and_zero_byte",
             [Run("{exe}", [report(EN, media="ADEF")])], layout=MIXED,
             settings=b"/T\x1af:\x00 /X a:"),
    Scenario("file_external_option", [Run("{exe}", [report(EN, media="ADE")])],
             layout=MIXED, settings="/U\r\n/T"),
    Scenario("file_preview_command_line_report",
             [Run("{exe} /T", [report(EN, media="D")])], settings="/M?"),
    # The command line's own /M replaces the file's template, even with no text of its own.
    Scenario("file_template_replaced_by_command_line",
             [Run("{exe} /M?", [refusal(EN, "A", owner="none")])],
             settings='/F /M"Eject $DRIVE$ now,Halt"'),
    Scenario("file_template_and_forced_refusal",
             [Run("{exe} /T", [report(EN, media="D")]),
              Run("{exe} /M?$DRIVE$", [Box(EN["error"], "A: ", REFUSAL, owner="none")])],
             settings='/F /M"Eject $DRIVE$ now,Halt"'),
    # Started by its bare name from another folder: the search finds it beside itself.
    Scenario("file_found_for_bare_name",
             [Run("slotward", [report(EN, media="D")], app="{exe}", cwd="C:\\")],
             settings="/T"),
    Scenario("file_found_for_quoted_path", [Run('"{exe}"', [report(EN, media="D")])],
             settings="/T"),
    Scenario("file_found_for_upper_case_path",
             [Run("C:\\SLOTWARD\\SLOTWARD.EXE", [report(EN, media="D")], app="{exe}")],
             settings="/T"),
    # A path without ".exe" gets ".CFG" appended: C:\slotward\slotward.CFG all the same.
    Scenario("file_found_for_path_without_extension",
             [Run("C:\\slotward\\slotward", [report(EN, media="D")], app="{exe}")],
             settings="/T"),
    # The name's second byte is 0x5C (the backslash's value), which must not be taken for one:
    # the name is searched for, and the file beside the program is found.
    Scenario("file_found_for_bare_double_byte_name",
             [Run("表 /E", [report(EN, media="D")], app="{exe}", cwd="C:\\")],
             locale="ja", settings="/T", exe="表"),
    Scenario("file_found_for_double_byte_path", [Run("{exe} /E", [report(EN, media="D")])],
             locale="ja", settings="/T", exe="表"),
    # A folder that the ANSI code page cannot spell (Japanese on an English system), started
    # with CreateProcessW as the driver starts every program: the ANSI command line holds
    # question marks there, the module path the folder's name.
    Scenario("file_found_in_folder_outside_code_page", [Run("{exe}", [report(EN, media="D")])],
             settings="/T", folder="ツール"),
    # Saved as UTF-8 with a byte-order mark: the mark is skipped, so the first option counts and
    # the empty floppy A: is spared.
    Scenario("file_utf8_with_mark", [Run("{exe}", [report(EN, media="DE")])], layout=MIXED,
             settings=b"\xef\xbb\xbf/X A: /T"),
    # Saved as UTF-16LE with its mark and CRLF line ends, as Windows PowerShell 5.1's Out-File
    # writes it; a template reaches the box in the ANSI code page.
    Scenario("file_utf16_as_powershell_writes_it", [Run("{exe}", [report(EN, media="ADEF")])],
             layout=MIXED, settings=b"\xff\xfe" + "/T\r\nf:\r\n".encode("utf-16-le")),
    Scenario("file_utf16_template_on_japanese_system",
             [Run("{exe}", [Box("注意", "取り出して  A:  下さい", QUESTION, owner="none")])],
             locale="ja",
             settings=b"\xff\xfe" + '/M?"取り出して $DRIVE$ 下さい,注意"\r\n'.encode("utf-16-le")),
    # /R counts only on the command line: this start becomes resident.
    Scenario("file_terminate_request_ignored",
             [Start("{exe}"), Find(), Run("{exe}", [already(EN)], **ALIVE), END, WaitGone()],
             settings="/R"),
    # The command line's /M without "?" turns the file's preview off: resident, with its template.
    Scenario("file_preview_turned_off_by_command_line",
             [Start('{exe} /M"Take $DRIVE$ out"'), Find(),
              Send(WM_QUERYENDSESSION, [Box(EN["warning"], "Take  D:  out", QUESTION,
                                            owner="SLOTWARD")], answer="0"),
              END],
             settings="/M?"),
]

RESIDENT = [
    Scenario("first_start_resident_without_box",
             [Start(), NoBox(500), Find(), END, WaitGone(), Find(count=0)]),
    Scenario("second_start_refused",
             [Start(), Run("{exe}", [already(EN)], **ALIVE), Find(), END]),
    Scenario("second_start_refused_ja",
             [Start(), Run("{exe}", [already(JA)], **ALIVE), Find(), END_JA], locale="ja"),
    # A start nobody asked for (/Q) ends without a box beside a resident copy, and a start by
    # the user still says that one runs.
    Scenario("quiet_second_start_ends_without_box",
             [Start(), Run("{exe} /Q", [], **ALIVE), Run("{exe}", [already(EN)], **ALIVE),
              Find(), END]),
    Scenario("terminate_without_instance", [Run("{exe} /R", [not_running(EN)])]),
    Scenario("terminate_without_instance_ja", [Run("{exe} /r", [not_running(JA)])],
             locale="ja"),
    Scenario("terminate_with_report_only_terminates",
             [Run("{exe} /R /T", [not_running(EN)]), Start(),
              Run("{exe} /T /R", [terminated(EN)], watch=5000, watched_exit="0"), WaitGone()]),
    Scenario("one_shot_modes_leave_instance_alone",
             [Start(), Run("{exe} /T", [report(EN, media="D")], **ALIVE),
              Run("{exe} /M?", [preview(EN)], **ALIVE), Find(), END]),
    # Only the resident copy keeps the event: a box that another start leaves open (its report,
    # its preview, "already running", "terminated") keeps nothing alive once the resident copy
    # has ended. The next start guards, quiet or not, and a second /R finds none to end.
    Scenario("already_box_left_open_next_start_guards",
             [Start(), Start("{exe}"), END, Start(), Find(),
              Send(WM_QUERYENDSESSION, [question(EN, "D")], answer="0"),
              Boxes([already(EN)]), END]),
    Scenario("report_left_open_quiet_start_guards",
             [Start(), Start("{exe} /T"), END, Start("{exe} /Q F:"), Find(),
              Send(WM_QUERYENDSESSION, [question(EN, "A", "D", "E", "F")], answer="0"),
              Boxes([report(EN, media="ADE")]), END], layout=MIXED),
    Scenario("preview_left_open_plain_start_guards",
             [Start(), Start("{exe} /M?"), END, Start(), Find(),
              Send(WM_QUERYENDSESSION, [question(EN, "D")], answer="0"),
              Boxes([preview(EN)], press="no"), END]),
    Scenario("report_left_open_second_terminate_finds_none",
             [Start(), Start("{exe} /T"), END, Run("{exe} /R", [not_running(EN)]),
              Boxes([report(EN, media="D")]), Find(count=0)]),
    Scenario("terminated_box_left_open_quiet_start_guards",
             [Start(), Start("{exe} /R"), WaitGone(), Start("{exe} /Q"), Find(),
              Send(WM_QUERYENDSESSION, [question(EN, "D")], answer="0"),
              Boxes([terminated(EN)]), END]),
    Scenario("restart_after_termination",
             [Start(), END, WaitGone(), Start(), Find(), END]),
    Scenario("query_no_medium_consents_silently",
             [Start(), Send(WM_QUERYENDSESSION, [], answer="1"), END], layout=NO_REMOVABLE),
    Scenario("query_excluded_drives_consent_silently",
             [Start("{exe} /X a: d: e:"), Send(WM_QUERYENDSESSION, [], answer="1"), END],
             layout=MIXED),
    Scenario("query_question_no_then_yes",
             [Start(), Send(WM_QUERYENDSESSION, [question(EN, "D")], answer="0", press="no"),
              Send(WM_QUERYENDSESSION, [question(EN, "D")], answer="1", press="yes"), END]),
    Scenario("query_question_mixed_ja",
             [Start("{exe} f:"),
              Send(WM_QUERYENDSESSION, [question(JA, "A", "D", "E", "F")], answer="0"),
              END_JA], layout=MIXED, locale="ja"),
    Scenario("query_question_external_option",
             [Start("{exe} /U"), Send(WM_QUERYENDSESSION, [question(EN, "A", "D", "E")],
                                      answer="0"),
              END], layout=MIXED),
    Scenario("query_external_option_consents_silently",
             [Start("{exe} /U"), Send(WM_QUERYENDSESSION, [], answer="1"), END],
             layout=NO_REMOVABLE),
    Scenario("query_custom_template",
             [Start('{exe} /M"$DRIVE$: still in use,Careful"'),
              Send(WM_QUERYENDSESSION, [Box("Careful", "D: : still in use", QUESTION,
                                            owner="SLOTWARD")], answer="0"), END]),
    Scenario("query_forced_refusal_answers_first",
             [Start("{exe} /F"),
              Send(WM_QUERYENDSESSION, [refusal(EN, "D")], answer="0", answer_first=True),
              END]),
    Scenario("query_forced_refusal_custom_caption",
             [Start('{exe} /F /M"Remove $DRIVE$ first,Media!"'),
              Send(WM_QUERYENDSESSION, [Box("Media!", "Remove  D:  first", REFUSAL,
                                            owner="SLOTWARD")], answer="0", answer_first=True),
              END]),
    Scenario("posted_show_refusal_shows_last_text",
             [Start(), Send(WM_QUERYENDSESSION, [question(EN, "D")], answer="0"),
              Post(WMU_SHOW_REFUSAL, [Box(EN["error"], question(EN, "D").text, REFUSAL,
                                          owner="SLOTWARD")]),
              Find(), END]),
    Scenario("posted_quit_ends_instance",
             [Start(), Post(WMU_QUIT, [], exit="0"), WaitGone(),
              Run("{exe} /R", [not_running(EN)])]),
    # A WM_CLOSE from outside destroys the hidden window; the instance then ends as after
    # WMU_QUIT, so that no instance lingers without a window (the chosen behaviour).
    Scenario("posted_close_ends_instance",
             [Start(), Post(WM_CLOSE, [], exit="0"), WaitGone(), Start(), NoBox(300), Find(),
              END]),
    Scenario("session_end_refused_with_no",
             [Start(), WineBoot([question(EN, "D")], rc=1, press="no"), Find(), END]),
    Scenario("session_end_allowed_with_yes",
             [Start(), WineBoot([question(EN, "D")], rc=0, press="yes"), WaitGone()]),
    Scenario("session_end_refused_by_forced_refusal",
             [Start("{exe} /F"), WineBoot([refusal(EN, "D")], rc=1), Find(), END]),
    Scenario("session_end_silent_without_medium",
             [Start(), WineBoot([], rc=0), WaitGone()], layout=NO_REMOVABLE),
]

# The bench checked on a stand-in program (probe/probe.c) whose behaviour is known exactly.
PROBE = [
    Scenario("probe_box_styles",
             [Run("{exe} box 0x40 Cap Hello 0x1114 Q ask 0x30 W warn 0x10 E err 0x20 F que 0 G x",
                  [Box("Cap", "Hello", 0x40), Box("Q", "ask", 0x1114), Box("W", "warn", 0x30),
                   Box("E", "err", 0x10), Box("F", "que", 0x20), Box("G", "x", 0)],
                  press="ok,no,ok,ok,ok,ok", exit="1")]),
    Scenario("probe_yes_no_cancel", [Run("{exe} box 0x203 T x", [Box("T", "x", 0x203)],
                                         press="yes", exit="6")]),
    Scenario("probe_japanese_text",
             [Run('{exe} box 0x40 SLOTWARD:情報 "ドライブ D: にメディアが残っています。"',
                  [report(JA, media="D")], exit="1")], locale="ja"),
    Scenario("probe_drive_layout",
             [Run("{exe} drives", [Box("drives", "A2-2 C3+ D5+ E2+ F3+ G2-3 Z3+ ", 0)])],
             layout=dict(MIXED, g=("floppy", "dangling"))),
    Scenario("probe_resident",
             [Start("{exe} resident"), NoBox(300), Find(), Usage(),
              Send(WM_QUERYENDSESSION, [Box("probe", "question", 0x1114, owner="SLOTWARD")],
                   answer="0", press="no"),
              Send(WM_QUERYENDSESSION, [Box("probe", "question", 0x1114)], answer="1",
                   press="yes"),
              Post(WMU_QUIT, [], exit="0"), WaitGone()]),
    Scenario("probe_session_end",
             [Start("{exe} resident"), WineBoot([Box("probe", "question", 0x1114)], rc=1),
              Find(), WineBoot([Box("probe", "question", 0x1114)], rc=0, press="yes"),
              WaitGone()]),
]

SUITES = {"slotward": ONE_SHOT + SETTINGS_FILE + RESIDENT, "probe": PROBE}

# ---- One box at a time, and faults the resident instance survives.
# Under Wine, as on Windows, a message sent to the hidden window while one of its boxes is open
# is run inside that box's own message loop; so is a posted refusal.
from steps import Burst, Kill  # noqa: E402

WM_ENDSESSION = 0x16

ROBUST = [
    # Queries that arrive while the question is open are refused at once, without a second box;
    # the open question alone decides.
    Scenario("question_open_refuses_further_queries",
             [Start(), Burst(WM_QUERYENDSESSION, 4, [question(EN, "D")], held=1, answer="0",
                             more="0", press="no"),
              Send(WM_QUERYENDSESSION, [question(EN, "D")], answer="1", press="yes"), END]),
    Scenario("question_open_then_yes_consents",
             [Start(), Burst(WM_QUERYENDSESSION, 3, [question(EN, "D")], held=1, answer="1",
                             more="0", press="yes"), END]),
    Scenario("forced_refusals_keep_one_box",
             [Start("{exe} /F"),
              Burst(WM_QUERYENDSESSION, 50, [refusal(EN, "D")], held=1, answer="0", more="0"),
              Send(WM_QUERYENDSESSION, [refusal(EN, "D")], answer="0", answer_first=True),
              Find(), END]),
    # A refusal posted from outside while the refusal box is open is dropped as well.
    Scenario("posted_refusals_keep_one_box",
             [Start("{exe} /F"), Send(WM_QUERYENDSESSION, [refusal(EN, "D")], answer="0"),
              Burst(WMU_SHOW_REFUSAL, 20, [refusal(EN, "D")], held=1, answer="0", more="0"),
              Post(WMU_SHOW_REFUSAL, [refusal(EN, "D")]), END]),
    # A cancelled session end (wParam 0) leaves the instance guarding; a close then ends it, and the next
    # start becomes resident. (The other order cannot be shown: a closed window gets nothing.)
    Scenario("cancelled_session_end_then_close",
             [Start(), Send(WM_ENDSESSION, [], answer="0"),
              Send(WM_QUERYENDSESSION, [question(EN, "D")], answer="0"),
              Post(WM_CLOSE, [], exit="0"), WaitGone(), Start(), NoBox(300), Find(), END]),
    Scenario("killed_instance_replaced_by_next_start",
             [Start(), Find(), Kill(), Find(count=0), Start(), NoBox(300), Find(),
              Send(WM_QUERYENDSESSION, [question(EN, "D")], answer="0"), END, WaitGone()]),
]

SUITES["slotward"] += ROBUST

# ---- Newer systems' session-end services, read from Wine's trace of its stubs. Wine cannot show
# the system's "apps are preventing shutdown" screen: its ShutdownBlockReasonCreate only prints
# its arguments and fails, and it has no ShutdownBlockReasonDestroy, so the removal of a reason
# is tested on the host only.


def checking(t):
    """The block reason while a query is checked, set before the first drive is looked at."""
    return reason(t["checking"])


def still(t, *media):
    """The block reason without a template: the test report's sentence for the drives."""
    return reason(t["in_drive"] + drives(*media) + t["still"])


# A resident start: first in the shutdown order, restart registered with these arguments after
# /Q, unless they hold /Q already.
def resident_start(arguments=""):
    registered = arguments if re.search(r"(^| )/[Qq]", arguments) else "/Q " + arguments
    return [Start(("{exe} " + arguments).rstrip()), Trace(FIRST_IN_SHUTDOWN, restart(registered))]


SESSION_SERVICES = [
    Scenario("reason_on_forced_refusal_en",
             resident_start("/F") +
             [Send(WM_QUERYENDSESSION, [refusal(EN, "D", "E")], answer="0", answer_first=True),
              Trace(checking(EN), still(EN, "D", "E")), END],
             layout={"d": ("cdrom", "files"), "e": ("floppy", "files")}, trace=True),
    Scenario("reason_on_question_en",
             resident_start() +
             [Send(WM_QUERYENDSESSION, [question(EN, "D")], answer="0"), Trace(checking(EN), still(EN, "D")),
              END], trace=True),
    # A logoff is checked like a shutdown; the reason stays set when Yes lets it go on.
    Scenario("reason_on_question_yes_at_logoff",
             resident_start() +
             [Send(WM_QUERYENDSESSION, [question(EN, "D")], answer="1", press="yes",
                   lparam=ENDSESSION_LOGOFF), Trace(checking(EN), still(EN, "D")), END], trace=True),
    Scenario("reason_on_question_ja",
             resident_start() +
             [Send(WM_QUERYENDSESSION, [question(JA, "D")], answer="0"), Trace(checking(JA), still(JA, "D")),
              END_JA], locale="ja", trace=True),
    Scenario("reason_on_forced_refusal_ja",
             resident_start("/F") +
             [Send(WM_QUERYENDSESSION, [refusal(JA, "D")], answer="0"), Trace(checking(JA), still(JA, "D")),
              END_JA], locale="ja", trace=True),
    Scenario("reason_from_template",
             resident_start('/M"$DRIVE$: still in use,Careful"') +
             [Send(WM_QUERYENDSESSION, [Box("Careful", "D: : still in use", QUESTION,
                                            owner="SLOTWARD")], answer="0"),
              Trace(checking(EN), reason("D: : still in use")), END], trace=True),
    Scenario("reason_from_template_ja",
             resident_start('/F "/Mドライブ $DRIVE$ を取り出して下さい,注意"') +
             [Send(WM_QUERYENDSESSION, [Box("注意", "ドライブ  D:  を取り出して下さい", REFUSAL,
                                            owner="SLOTWARD")], answer="0"),
              Trace(checking(JA), reason("ドライブ  D:  を取り出して下さい")), END_JA], locale="ja", trace=True),
    Scenario("reason_none_on_consent",
             resident_start() + [Send(WM_QUERYENDSESSION, [], answer="1"), Trace(checking(EN)),
                                 END],
             layout=NO_REMOVABLE, trace=True),
    Scenario("session_services_not_in_one_shot_runs",
             [Run("{exe} /T", [report(EN, media="D")]), Run("{exe} /M?", [preview(EN)]),
              Run("{exe} /F /M?", [refusal(EN, "A", owner="none")]),
              Run("{exe} /R", [not_running(EN)]), Trace()] +
             resident_start("/X a:") +
             [Run("{exe}", [already(EN)], **ALIVE), END, Trace()], trace=True),
    # Restart Manager closes the program: no check, no box, and it ends as after WMU_QUIT.
    Scenario("close_app_request_ends_instance",
             resident_start() +
             [Send(WM_QUERYENDSESSION, [], answer="1", lparam=ENDSESSION_CLOSEAPP),
              Send(WM_ENDSESSION, [], answer="0", wparam=1, lparam=ENDSESSION_CLOSEAPP,
                   exit="0"),
              Find(count=0), Trace(), Run("{exe} /R", [not_running(EN)])], trace=True),
    # A quiet start with no copy resident becomes resident as any other, and asks.
    Scenario("quiet_start_resident",
             resident_start("/Q /X a:") +
             [Find(), Send(WM_QUERYENDSESSION, [question(EN, "D")], answer="0"), END],
             trace=True),
    Scenario("cancelled_close_keeps_guarding",
             [Start(), Send(WM_QUERYENDSESSION, [], answer="1", lparam=ENDSESSION_CLOSEAPP),
              Send(WM_ENDSESSION, [], answer="0", wparam=0, lparam=ENDSESSION_CLOSEAPP),
              Find(), Send(WM_QUERYENDSESSION, [question(EN, "D")], answer="0"), END]),
]

SUITES["slotward"] += SESSION_SERVICES

# ---- Endings on newer systems: the reason before the survey (Wine's relay trace of the drive
# queries, thread by thread), a cancelled end while the question is open, critical ends, and the
# class icon that the system's screen shows beside the title.
# A relayed resident start: the class gets the icon of the program's own image, then the
# services as in resident_start().
RELAYED_START = [Start(), Trace("LoadIconA(exe,1)", "LoadIconA -> icon", "RegisterClassA",
                                FIRST_IN_SHUTDOWN, restart("/Q "), one_thread=True)]

ENDINGS = [
    # C: and Z: are fixed, D: a CD: the survey asks three drive types.
    Scenario("reason_before_survey",
             RELAYED_START +
             [Send(WM_QUERYENDSESSION, [question(EN, "D")], answer="0"),
              Trace(checking(EN), "GetLogicalDrives", "GetDriveTypeA", "GetDriveTypeA",
                    "GetDriveTypeA", still(EN, "D"), survey_thread=True), END], trace="relay"),
    Scenario("cancelled_end_closes_question",
             [Start(),
              Send(WM_QUERYENDSESSION, [question(EN, "D")], answer="0", press="none",
                   then=(WM_ENDSESSION, 0, 0), then_open=0),
              Find(), Send(WM_QUERYENDSESSION, [question(EN, "D")], answer="1", press="yes"),
              END]),
    # Restart Manager gave up closing the program: no session ended, the user still decides.
    Scenario("cancelled_close_keeps_question",
             [Start(),
              Send(WM_QUERYENDSESSION, [question(EN, "D")], answer="0", press="no",
                   then=(WM_ENDSESSION, 0, ENDSESSION_CLOSEAPP), then_open=1),
              END]),
    # Restart Manager asks to close the program while the user is asked: refused, the question
    # stays open, and its No refuses the end.
    Scenario("close_request_during_question_refused",
             [Start(),
              Send(WM_QUERYENDSESSION, [question(EN, "D")], answer="0", press="no",
                   then=(WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP), then_answer="0",
                   then_open=1),
              Find(), END]),
    Scenario("critical_end_unchecked",
             resident_start() +
             [Send(WM_QUERYENDSESSION, [], answer="1", lparam=ENDSESSION_CRITICAL), Trace(),
              Send(WM_QUERYENDSESSION, [question(EN, "D")], answer="0", lparam=ENDSESSION_LOGOFF),
              Trace(checking(EN), still(EN, "D")), END], trace=True),
    Scenario("critical_end_unchecked_forced",
             resident_start("/F") +
             [Send(WM_QUERYENDSESSION, [], answer="1", lparam=ENDSESSION_CRITICAL), Trace(),
              Send(WM_QUERYENDSESSION, [refusal(EN, "D")], answer="0", lparam=ENDSESSION_LOGOFF),
              Trace(checking(EN), still(EN, "D")), END], trace=True),
    # Another process cannot read a class's icon under Wine: the relay trace shows it loaded.
    Scenario("window_class_carries_program_icon", RELAYED_START + [END], trace="relay"),
]

SUITES["slotward"] += ENDINGS

# ---- A drive that never answers: a letter named on the command line whose server has gone (a
# fixed K:), or a card reader that has stopped answering (a removable K:). Its folder is a file
# system whose listing never returns (hang_fs.py, a fresh one for each scenario, ended before
# the scenario's programs are). The look at it may go on waiting; the answer may not: within
# 5 s of the query, the time after which Windows takes a window for hung at shutdown, the
# drive counts as holding a medium and is named like any other.
HUNG_NAMED = {"d": ("cdrom", "files"), "k": ("fixed", "hanging")}
HUNG_REMOVABLE = {"d": ("cdrom", "files"), "k": ("floppy", "hanging")}
ANSWER_LIMIT_MS = 5000
# A one-shot run's limit counts from its own start, which the driver sees earlier.
PROGRAM_START_MS = 1000

from steps import Looks  # noqa: E402

HUNG_DRIVES = [
    # The second query finds the first look at K: still waiting, starts no other, and is
    # answered in time too.
    Scenario("hung_drive_session_end_asked_in_time",
             [Start("{exe} K:"), WineBoot([question(EN, "D", "K")], rc=1, press="no"),
              Looks(new=True),
              Send(WM_QUERYENDSESSION, [question(EN, "D", "K")], answer="0", press="no",
                   within=ANSWER_LIMIT_MS),
              Looks(new=False), END], layout=HUNG_NAMED),
    Scenario("hung_drive_report_in_time",
             [Run("{exe} /T", [report(EN, media="DK")],
                  within=ANSWER_LIMIT_MS + PROGRAM_START_MS)], layout=HUNG_REMOVABLE),
    # The copy's look at K: still waits when /R asks it to end: it ends all the same, it is
    # reported as ended only once it has, and the next start guards again.
    Scenario("hung_drive_terminate_ends_copy",
             [Start("{exe} K:"),
              Send(WM_QUERYENDSESSION, [question(EN, "D", "K")], answer="0", press="no",
                   within=ANSWER_LIMIT_MS),
              Run("{exe} /R", [terminated(EN)], watch=5000, watched_exit="0", gone_first=True),
              WaitGone(), Find(count=0), Run("{exe} /R", [not_running(EN)]), Start(), NoBox(300),
              Find(), END], layout=HUNG_NAMED),
]

SUITES["slotward"] += HUNG_DRIVES
