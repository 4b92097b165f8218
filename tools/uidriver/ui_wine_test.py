#!/usr/bin/env python3
"""The Windows interface driven like a user under Wine: one run of the real
server.exe with simulated phones, its buttons, dialogs and tray menu pressed
through uidriver.exe, and what follows checked in the log, the window's
state, the phone's answers and the registry.
`xvfb-run -a ui_wine_test.py BIN_DIR [PHONESIM]` (ctest runs it)."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_ui import Session  # noqa: E402

FAILURES = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        FAILURES.append(what)


def field(state, name):
    for part in state.split():
        if part.startswith(name + "="):
            return part.split("=", 1)[1]
    return None


def menu_entries(s, nth):
    """The command ids of the `nth` notification-area menu of the run, as
    the window logs them when it opens the menu."""
    end = time.time() + 30
    while time.time() < end:
        lines = [l for l in s.log().splitlines() if "Notification-area menu:" in l]
        if len(lines) >= nth:
            return lines[nth - 1].split("Notification-area menu:")[1].split()
        time.sleep(0.3)
    return []


def main():
    bin_dir = sys.argv[1]
    phonesim = sys.argv[2] if len(sys.argv) > 2 else None
    s = Session(bin_dir, port=47131, phonesim=phonesim,
                settings={"FirstRunTipShow": 0, "ShowNotifications": 1, "PicturesFolder": r"C:\ql-ui\pictures",
                          "MoviesFolder": r"C:\ql-ui\videos"})
    uid = "5b1c0d9e-1111-4a2b-8c3d-aa00bb11cc22"
    try:
        s.start()

        # Tray menu: the entry for the window's current state is left out.
        s.cmd("tray %d" % 0x205)  # right button up
        ids = menu_entries(s, 1)
        s.cmd("menu-close")
        check("20007" in ids and "20001" not in ids and "20006" in ids, "tray menu of a shown window: " + str(ids))
        s.cmd("command 20007")
        time.sleep(1)
        check(s.cmd("visible main") == "ok 0", "menu entry 20007 hides the window")
        s.cmd("tray %d" % 0x205)
        ids = menu_entries(s, 2)
        s.cmd("menu-close")
        check("20001" in ids and "20007" not in ids, "tray menu of a hidden window: " + str(ids))
        s.cmd("command 20001")
        time.sleep(1)
        check(s.cmd("visible main") == "ok 1", "menu entry 20001 shows the window")

        # Without a phone the capture buttons are off; the folder buttons
        # make their folders.
        check(field(s.cmd("state main 1029"), "enabled") == "0", "snapshot disabled without a phone")
        s.cmd("click main 1032")
        check(s.wait_log("UI event: Open Snapshot Folder", 20), "pictures folder button logs its event")
        check(os.path.isdir(os.path.join(s.env["WINEPREFIX"], "drive_c/ql-ui/pictures")), "pictures folder made")
        s.cmd("click main 1033")
        check(s.wait_log("UI event: Open Video Folder", 20), "videos folder button logs its event")

        # A new phone: always allowed.
        phone = s.phone("--auth", uid + ":Test iPhone", "--stay", "--answer-timeout", "120000", "--timeout", "60000",
                        "--video", "pattern", "--fps", "5")
        check(s.cmd("wait auth 90000") == "ok", "an unknown phone opens the authorization prompt")
        check("Test iPhone" in s.cmd("text auth 1402"), "the prompt names the phone")
        s.cmd("click auth 1403")
        check(phone.wait_line(("auth accepted", "auth rejected"), 60) == "auth accepted", "allow always reaches the phone as accepted")
        check(s.cmd("gone auth 10000") == "ok", "the prompt closes")
        time.sleep(1)
        check(field(s.cmd("state main 1029"), "enabled") == "1", "snapshot enabled with a phone")

        # Record button: latches and its tooltip follows, and the phone hears
        # of the recording (it needs a picture for its size); snapshot.
        time.sleep(3)
        s.cmd("click main 1030")
        check(s.wait_log("UI event: Start video recording", 20), "record click logs the start")
        check(phone.wait_line("action 1", 30) is not None, "the phone hears that recording started")
        state = s.cmd("state main 1030")
        check(field(state, "latched") == "1" and "Stop recording" in state, "record button latched: " + state)
        s.cmd("click main 1030")
        check(s.wait_log("UI event: Stop video recording", 20), "second record click logs the stop")
        check(phone.wait_line("action 2", 30) is not None, "the phone hears that recording stopped")
        state = s.cmd("state main 1030")
        check(field(state, "latched") == "0" and "Start recording" in state, "record button released: " + state)
        s.cmd("click main 1029")
        check(s.wait_log("UI event: Make snapshot", 20), "snapshot click logs its event")
        check(phone.wait_line("action 3", 30) is not None, "the phone hears of the snapshot")

        # Settings: a bad port is refused, a good one re-listens; the access
        # list loses the phone.
        s.cmd("click main 1013")
        check(s.wait_log("UI event: Open settings", 20), "settings button logs its event")
        check(s.cmd("wait settings 30000") == "ok", "settings dialog opens")
        s.cmd("settext settings 1115 80ab")
        s.cmd("click settings 1")
        box = s.cmd("msgbox 1 20000")
        check(box.startswith("ok ") and "65535" in box, "a bad port is refused: " + box)
        check(s.cmd("wait settings 5000") == "ok", "the dialog stays open after a bad port")
        s.cmd("click settings 1140")
        check(s.cmd("wait acl 30000") == "ok", "the access-list button opens the list")
        check(s.cmd("count acl 1601") == "ok 1", "the allowed phone is listed")
        s.cmd("click acl 1603")  # nothing selected: nothing happens
        check(s.cmd("msgbox 6 2000") == "none", "delete without a selection asks nothing")
        s.cmd("select-row 0 0")
        s.cmd("click acl 1603")
        check(s.cmd("msgbox 6 20000").startswith("ok"), "delete asks first")
        # The list redraws once the answer reached the dialog; a phone that
        # is streaming makes that take longer under Wine.
        end = time.time() + 20
        while s.cmd("count acl 1601") != "ok 0" and time.time() < end:
            time.sleep(0.5)
        check(s.cmd("count acl 1601") == "ok 0", "the phone is removed from the list")
        s.cmd("click acl 1")
        s.cmd("gone acl 10000")
        s.cmd("settext settings 1115 47132")
        s.cmd("click settings 1")
        check(s.cmd("gone settings 20000") == "ok", "OK closes the settings")
        check(s.wait_log("Port was changed. From 47131 to 47132", 20), "the port change is logged")
        check(s.wait_log("Listen on 0.0.0.0:47132", 30), "the server listens on the new port")
        check(s.reg_query(r"HKCU\Software\Quillon Labs\Lumora ZuvIridar for iPhone", "Port") == hex(47132),
              "the new port is saved")

        # The removed phone is asked about again; deny reaches it.
        phone.kill()
        check(s.wait_log("Transport disconnected", 30), "the phone's departure is seen")
        time.sleep(1)
        check(field(s.cmd("state main 1029"), "enabled") == "0", "snapshot disabled after the phone left")
        phone = s.phone("--auth", uid + ":Test iPhone", "--stay", "--answer-timeout", "120000", "--timeout", "60000",
                        port=47132)
        check(s.cmd("wait auth 90000") == "ok", "a phone taken off the list is asked again")
        s.cmd("click auth 1405")
        check(phone.wait_line(("auth accepted", "auth rejected"), 60) == "auth rejected", "deny reaches the phone as rejected")
        s.cmd("gone auth 10000")

        # Quitting while a phone is connected: the connection question.
        s.cmd("close 0")
        check(s.cmd("wait ask 30000") == "ok", "closing with a phone asks")
        check("active connection" in s.cmd("text ask 1501"), "the connection question is asked")
        s.cmd("check ask 1502 1")
        s.cmd("click ask 7")
        time.sleep(2)
        check(s.cmd("visible main") == "ok 1", "No keeps the program running")
        s.cmd("close 0")
        check(s.cmd("wait ask 30000") == "ok", "asked again after No")
        s.cmd("check ask 1502 1")
        s.cmd("click ask 6")
        s.server.wait(60)
        check(s.wait_log("WM_DESTROY message", 5), "Yes closes the program")
        check(s.reg_query(r"HKCU\Software\Quillon Labs\Lumora ZuvIridar for iPhone",
                          "PromtOnExitIfConnected") == "0x0", "the ticked box turns the connection question off")
        check(s.reg_query(r"HKCU\Software\Quillon Labs\Lumora ZuvIridar for iPhone", "PromptOnExit") == "0x1",
              "the other questions stay on")
    finally:
        s.stop()
    print("%d failed" % len(FAILURES))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
