#!/usr/bin/env python3
"""The Windows interface driven like a user under Wine: runs of the real
server.exe with simulated phones, its buttons, dialogs and tray menu pressed
through uidriver.exe, and what follows checked in the log, the window's
state, the balloons of the notification area, the phone's answers, the
wave service's control codes and the registry.
`xvfb-run -a ui_wine_test.py BIN_DIR [PHONESIM]` (ctest runs it beside a
private PulseAudio, whose null devices Wine lists as sound devices)."""

import glob
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_ui import APP_KEY, WAVE_KEY, Session  # noqa: E402

FAILURES = []
PRODUCT = "Lumora ZuvIridar for iPhone"


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


def ask_and_answer(s, words, button, tick):
    """Closes the window, expects the question holding `words`, sets the
    don't-ask-again box and presses `button` (6 yes, 7 no)."""
    s.cmd("close 0")
    if s.cmd("wait ask 30000") != "ok":
        check(False, "closing asks: " + words)
        return
    text = s.cmd("text ask 1501")
    check(words in text, "the question asked is '%s': %s" % (words, text))
    s.cmd("check ask 1502 %d" % (1 if tick else 0))
    s.cmd("click ask %d" % button)
    if button == 7:
        check(s.cmd("gone ask 10000") == "ok", "No closes the question")


def yes_with_box_quits(s, words, setting, others, what):
    """Answers the question holding `words` with Yes and the box ticked: the
    program ends, `setting` is turned off and the `others` stay on."""
    ask_and_answer(s, words, 6, tick=True)
    s.server.wait(60)
    check(s.wait_log("WM_DESTROY message", 5), "Yes to the %s question closes the program" % what)
    check(s.reg_query(APP_KEY, setting) == "0x0", "the ticked box turns the %s question off" % what)
    check(all(s.reg_query(APP_KEY, other) == "0x1" for other in others),
          "the other questions stay on: %s" % ", ".join(others))


def choose_devices(s, speakers, microphone):
    """On the settings dialog's audio page: chooses the entries holding
    `speakers` and `microphone`; returns the chosen names."""
    check(s.cmd("tab settings 1150 3") == "ok 3", "the audio page opens")
    check(field(s.cmd("state settings 1131"), "visible") == "1", "the speaker list shows on the audio page")
    check(field(s.cmd("state settings 1115"), "visible") == "0", "the port field is hidden on the audio page")
    chosen = []
    for control, wanted in ((1131, speakers), (1133, microphone)):
        entries = s.cmd("items settings %d" % control)[3:].split("|")[1:]
        check(len(entries) >= 2 and entries[-1] == "System default device",
              "device list %d ends with the default: %s" % (control, entries))
        check(not any("Lumora Wave" in e for e in entries), "the phone's own device is not offered")
        rows = [i for i, e in enumerate(entries) if wanted in e]
        check(bool(rows), "Wine lists the '%s' device: %s" % (wanted, entries))
        if rows:
            s.cmd("choose settings %d %d" % (control, rows[0]))
            check(s.cmd("items settings %d" % control).split("|")[0] == "ok %d" % rows[0], "the device is chosen")
            chosen.append(entries[rows[0]])
        else:
            chosen.append(None)
    return chosen


def main_run(bin_dir, phonesim):
    """Notifications on, no wave service: balloons, the tray menu, every
    button, the three dialogs reached from the settings, and the questions
    before quitting in their order."""
    s = Session(bin_dir, port=47131, phonesim=phonesim,
                settings={"FirstRunTipShow": 0, "ShowNotifications": 1, "PicturesFolder": r"C:\ql-ui\pictures",
                          "MoviesFolder": r"C:\ql-ui\videos"})
    uid = "5b1c0d9e-1111-4a2b-8c3d-aa00bb11cc22"
    try:
        s.start()
        balloons = s.watch_balloons()
        # The start balloon says it all in its title; its text is blank.
        check(balloons.wait(title="Lumora ZuvIridar is running", text="    ", timeout=30),
              "the start balloon shows: %s" % balloons.shown())
        check(s.wait_log("'Lumora Wave Service' doesn't exists", 20), "a missing wave service is logged")

        # Nothing records and no phone is there: the plain question. No
        # keeps the program, whatever the box says.
        ask_and_answer(s, "will be closed now", 7, tick=True)
        check(s.cmd("visible main") == "ok 1", "No to the quit question keeps the window")

        # Tray menu: the entry for the window's current state is left out.
        s.cmd("tray %d" % 0x205)  # right button up
        ids = menu_entries(s, 1)
        s.cmd("menu-close")
        check("20007" in ids and "20001" not in ids and "20006" in ids, "tray menu of a shown window: " + str(ids))
        s.cmd("command 20007")
        time.sleep(1)
        check(s.cmd("visible main") == "ok 0", "menu entry 20007 hides the window")
        check(balloons.wait(title="Lumora ZuvIridar is still running.", text="right-click on the application's icon",
                            timeout=20), "hiding the window tells it goes on running: %s" % balloons.shown())
        s.cmd("tray %d" % 0x205)
        ids = menu_entries(s, 2)
        s.cmd("menu-close")
        check("20001" in ids and "20007" not in ids, "tray menu of a hidden window: " + str(ids))
        s.cmd("command 20001")
        time.sleep(1)
        check(s.cmd("visible main") == "ok 1", "menu entry 20001 shows the window")
        # A second hiding in the same run says nothing.
        s.cmd("command 20007")
        time.sleep(5)
        s.cmd("command 20001")
        time.sleep(1)
        check(len([b for b in balloons.shown() if "right-click on the application's icon" in b[1]]) == 1,
              "the still-running balloon comes once a run: %s" % balloons.shown())

        # Without a phone the capture buttons are off; the folder buttons
        # make their folders.
        check(field(s.cmd("state main 1029"), "enabled") == "0", "snapshot disabled without a phone")
        s.cmd("click main 1032")
        check(s.wait_log("UI event: Open Snapshot Folder", 20), "pictures folder button logs its event")
        check(s.wait_for(lambda: os.path.isdir(s.prefix_path(r"C:\ql-ui\pictures")), 10), "pictures folder made")
        s.cmd("click main 1033")
        check(s.wait_log("UI event: Open Video Folder", 20), "videos folder button logs its event")

        # A new phone: always allowed. It sends pictures for a few seconds
        # (the recording's size and first frames), then only stays: a phone
        # that streams on keeps the window's thread busy painting under
        # Wine on an emulated CPU, and the dialogs below would lag behind.
        phone = s.phone("--auth", uid + ":Test iPhone", "--stay", "--answer-timeout", "120000", "--timeout", "60000",
                        "--video", "pattern", "--fps", "5", "--frames", "30")
        check(s.cmd("wait auth 90000") == "ok", "an unknown phone opens the authorization prompt")
        check("Test iPhone" in s.cmd("text auth 1402"), "the prompt names the phone")
        s.cmd("click auth 1403")
        check(phone.wait_line(("auth accepted", "auth rejected"), 60) == "auth accepted", "allow always reaches the phone as accepted")
        check(s.cmd("gone auth 10000") == "ok", "the prompt closes")
        check(balloons.wait(title=PRODUCT, text="'Test iPhone' is now connected via WiFi.", timeout=20),
              "the connection balloon names the phone: %s" % balloons.shown())
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
        # Quitting now asks about the recording first, though a phone is
        # connected too; No leaves the recording running.
        ask_and_answer(s, "Recording is in process", 7, tick=True)
        time.sleep(1)
        check(field(s.cmd("state main 1030"), "latched") == "1", "No to the recording question keeps recording")
        check(phone.wait_line("action 2", 1) is None, "the phone hears no stop after No")
        s.cmd("click main 1030")
        check(s.wait_log("UI event: Stop video recording", 20), "second record click logs the stop")
        check(phone.wait_line("action 2", 30) is not None, "the phone hears that recording stopped")
        state = s.cmd("state main 1030")
        check(field(state, "latched") == "0" and "Start recording" in state, "record button released: " + state)
        s.cmd("click main 1029")
        check(s.wait_log("UI event: Make snapshot", 20), "snapshot click logs its event")
        check(phone.wait_line("action 3", 30) is not None, "the phone hears of the snapshot")

        # Settings: a bad port is refused, a good one re-listens; the access
        # list loses the phone; the sound devices for the wave service.
        s.cmd("click main 1013")
        check(s.wait_log("UI event: Open settings", 20), "settings button logs its event")
        check(s.cmd("wait settings 30000") == "ok", "settings dialog opens")
        s.cmd("settext settings 1115 80ab")
        s.cmd("click settings 1")
        box = s.cmd("msgbox 1 20000")
        check(box.startswith("ok ") and "65535" in box, "a bad port is refused: " + box)
        check(s.cmd("wait settings 5000") == "ok", "the dialog stays open after a bad port")
        check(s.wait_for(lambda: field(s.cmd("state settings 1115"), "visible") == "1", 10),
              "the refused port's page is shown")
        s.cmd("click settings 1140")
        check(s.cmd("wait acl 30000") == "ok", "the access-list button opens the list")
        check(s.cmd("count acl 1601") == "ok 1", "the allowed phone is listed")
        s.cmd("click acl 1603")  # nothing selected: nothing happens
        check(s.cmd("msgbox 6 2000") == "none", "delete without a selection asks nothing")
        s.cmd("select-row 0 0")
        s.cmd("click acl 1603")
        check(s.cmd("msgbox 6 20000").startswith("ok"), "delete asks first")
        # The list redraws once the answer reached the dialog.
        s.wait_for(lambda: s.cmd("count acl 1601") == "ok 0", 20)
        check(s.cmd("count acl 1601") == "ok 0", "the phone is removed from the list")
        s.cmd("click acl 1")
        s.cmd("gone acl 10000")
        s.cmd("settext settings 1115 47132")
        speakers, microphone = choose_devices(s, "Test Speakers", "Test Microphone")
        s.cmd("click settings 1")
        check(s.cmd("gone settings 20000") == "ok", "OK closes the settings")
        check(s.wait_log("Port was changed. From 47131 to 47132", 20), "the port change is logged")
        check(s.wait_log("Listen on 0.0.0.0:47132", 30), "the server listens on the new port")
        check(s.reg_query(APP_KEY, "Port") == hex(47132), "the new port is saved")
        check(s.reg_query(WAVE_KEY, "Output Device") == speakers, "the speakers are left for the wave service")
        check(s.reg_query(WAVE_KEY, "Input Device") == microphone, "the microphone is left for the wave service")
        check("Service not opened" not in s.log() and "ControlService" not in s.log(),
              "without a wave service nothing is sent to it")

        # The removed phone is asked about again; deny reaches it.
        phone.kill()
        check(s.wait_log("Transport disconnected", 30), "the phone's departure is seen")
        check(balloons.wait(title=PRODUCT, text="'Test iPhone' is now disconnected.", timeout=20),
              "the disconnection balloon names the phone: %s" % balloons.shown())
        time.sleep(1)
        check(field(s.cmd("state main 1029"), "enabled") == "0", "snapshot disabled after the phone left")
        phone = s.phone("--auth", uid + ":Test iPhone", "--stay", "--answer-timeout", "120000", "--timeout", "60000",
                        port=47132)
        check(s.cmd("wait auth 90000") == "ok", "a phone taken off the list is asked again")
        s.cmd("click auth 1405")
        check(phone.wait_line(("auth accepted", "auth rejected"), 60) == "auth rejected", "deny reaches the phone as rejected")
        s.cmd("gone auth 10000")

        # Quitting while a phone is connected: the connection question.
        ask_and_answer(s, "active connection", 7, tick=True)
        time.sleep(1)
        check(s.cmd("visible main") == "ok 1", "No keeps the program running")
        # The other boxes were ticked too, but answered with No.
        yes_with_box_quits(s, "active connection", "PromtOnExitIfConnected",
                           ["PromptOnExit", "PromtOnExitIfRecording"], "connection")
    finally:
        s.stop()


def quiet_run(bin_dir, phonesim, tests_dir):
    """Notifications off, a stand-in wave service installed: no balloon at
    all, the service hears the connection, the device choice and the end;
    quitting while recording asks the recording question, and its box turns
    off that question only."""
    s = Session(bin_dir, port=47135, phonesim=phonesim,
                settings={"FirstRunTipShow": 0, "ShowNotifications": 0, "PicturesFolder": r"C:\ql-ui\pictures",
                          "MoviesFolder": r"C:\ql-ui\quiet-videos"})
    record = r"C:\ql-ui\wave-controls.txt"
    record_file = s.prefix_path(record)
    videos = s.prefix_path(r"C:\ql-ui\quiet-videos")
    os.makedirs(os.path.dirname(record_file), exist_ok=True)
    for old in [record_file] + glob.glob(os.path.join(videos, "*.avi")):
        if os.path.exists(old):
            os.remove(old)

    def controls():
        try:
            with open(record_file) as f:
                return [int(line) for line in f.read().split()]
        except OSError:
            return []

    service = os.path.join(tests_dir, "wave_test_service.exe")
    try:
        s.start(before=["service-install %s %s" % (s.windows_path(service), record)])
        balloons = s.watch_balloons()
        check(s.wait_log("'Lumora Wave Service' is opened successfully", 20), "the wave service is opened")

        # A few pictures, then the phone only stays: under Wine on an
        # emulated CPU, painting every picture keeps the window's thread so
        # busy that its timers (the service's pings among them) wait.
        phone = s.phone("--auth", "7d1c0d9e-2222-4a2b-8c3d-aa00bb11cc22:Quiet iPhone", "--stay", "--answer-timeout",
                        "120000", "--timeout", "60000", "--video", "pattern", "--fps", "5", "--frames", "10")
        check(s.cmd("wait auth 90000") == "ok", "the prompt opens")
        s.cmd("click auth 1404")
        check(phone.wait_line(("auth accepted", "auth rejected"), 60) == "auth accepted", "allow once accepts")
        check(s.wait_for(lambda: controls()[:2] == [201, 200], 30),
              "the service is paused and then pinged while the phone streams: %s" % controls()[:6])
        s.cmd("command 20007")
        time.sleep(1)
        s.cmd("command 20001")

        time.sleep(3)
        s.cmd("click main 1030")
        check(phone.wait_line("action 1", 30) is not None, "a recording runs")

        s.cmd("click main 1013")
        check(s.cmd("wait settings 30000") == "ok", "settings dialog opens")
        speakers, microphone = choose_devices(s, "Mic Feed", "Test Microphone")
        s.cmd("click settings 1")
        check(s.cmd("gone settings 20000") == "ok", "OK closes the settings")
        check(s.wait_for(lambda: 203 in controls(), 20), "the service is told to take the new devices: %s"
              % [c for c in controls() if c != 200])
        check(s.reg_query(WAVE_KEY, "Output Device") == speakers and s.reg_query(WAVE_KEY, "Input Device") == microphone,
              "the chosen devices are written before the service is told")

        yes_with_box_quits(s, "Recording is in process", "PromtOnExitIfRecording",
                           ["PromtOnExitIfConnected", "PromptOnExit"], "recording")
        codes = [c for c in controls() if c != 200]
        check(codes[-1:] == [202], "the service gets its devices back at the end: %s" % codes)
        files = glob.glob(os.path.join(videos, "Video_*.avi"))
        check(len(files) == 1 and os.path.getsize(files[0]) > 10000, "the recording was written: %s" % files)
        check(balloons.shown() == [], "no balloon at all with notifications off: %s" % balloons.shown())
    finally:
        s.driver_once("service-remove")
        s.stop()


def main():
    bin_dir = sys.argv[1]
    phonesim = sys.argv[2] if len(sys.argv) > 2 and sys.argv[2] else None
    tests_dir = os.path.join(os.path.dirname(os.path.abspath(bin_dir)), "tests")
    quiet_run(bin_dir, phonesim, tests_dir)
    main_run(bin_dir, phonesim)
    print("%d failed" % len(FAILURES))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
