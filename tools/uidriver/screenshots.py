#!/usr/bin/env python3
"""Screenshots of the Windows interface, taken from the real server.exe under
Wine with a simulated phone streaming a test card:
`xvfb-run -a -s "-screen 0 1024x768x24" screenshots.py BIN_DIR OUT_DIR`
(./dev screenshots does this)."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_ui import Session  # noqa: E402


def wait_until(condition, seconds=60):
    end = time.time() + seconds
    while time.time() < end and not condition():
        time.sleep(0.5)


def main():
    bin_dir, out = sys.argv[1], sys.argv[2]
    phonesim = sys.argv[3] if len(sys.argv) > 3 else None
    os.makedirs(out, exist_ok=True)
    s = Session(bin_dir, phonesim=phonesim)
    shots = []

    def shot(window, name):
        time.sleep(2.5)  # the controls paint after the dialog shows
        path = os.path.join(out, name + ".png")
        s.screenshot(window, path)
        shots.append(path)

    try:
        s.start()
        # The first start greets with the tip.
        if s.cmd("wait tip 20000") == "ok":
            shot("tip", "dialog_first_run_tip")
            s.cmd("check tip 1703 1")
            s.cmd("click tip 1")
            s.cmd("gone tip 10000")
        shot("main", "main_window_waiting")

        phone = s.phone("--auth", "3f2a9c1e-77d0-4b1e-9a55-0c4e2d8f6b10:Anna's iPhone", "--video", "pattern",
                        "--fps", "5", "--frames", "15", "--stay", "--answer-timeout", "120000", "--timeout", "60000")
        if s.cmd("wait auth 90000") != "ok":
            raise RuntimeError("no authorization prompt")
        shot("auth", "dialog_authorization")
        s.cmd("click auth 1403")
        s.wait_log("Connection was accepted.", 30)
        # The picture: the phone sends a few frames and stays, so the last
        # one stays on screen and the window is idle for the pictures.
        phone.wait_line("video sent", 180)
        wait_until(lambda: "x" in s.cmd("text main 1028"))
        time.sleep(2)
        shot("main", "main_window_picture")
        # A real recording of that picture: the time box shows the seconds
        # the recorder has run.
        s.cmd("click main 1030")
        phone.wait_line("action 1", 30)
        wait_until(lambda: "00:00:04" <= s.cmd("text main 1028").split()[-1] < "00:01", 60)
        shot("main", "main_window_recording")
        s.cmd("click main 1030")
        phone.wait_line("action 2", 30)

        s.cmd("click main 1013")
        if s.cmd("wait settings 20000") == "ok":
            shot("settings", "dialog_settings")
            s.cmd("click settings 1140")
            if s.cmd("wait acl 20000") == "ok":
                shot("acl", "dialog_access_list")
                s.cmd("click acl 1")
                s.cmd("gone acl 10000")
            s.cmd("click settings 2")
            s.cmd("gone settings 10000")

        s.cmd("click main 1014")
        if s.cmd("wait about 20000") == "ok":
            shot("about", "dialog_about")
            s.cmd("click about 1099")
            s.cmd("gone about 10000")

        s.cmd("close 0")
        if s.cmd("wait ask 20000") == "ok":
            shot("ask", "dialog_dont_ask_again")
            s.cmd("click ask 7")
            s.cmd("gone ask 10000")
        phone.kill()
    finally:
        s.stop()
    for path in shots:
        print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
