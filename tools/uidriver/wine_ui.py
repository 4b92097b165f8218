"""A session with the real Windows server under Wine, driven through
uidriver.exe: start it with fresh settings, send the driver's commands, read
the log, start simulated phones, take screenshots. Needs an X display (run
under xvfb-run) and the Windows build's bin folder."""

import glob
import os
import re
import subprocess
import threading
import time

APP_KEY = r"HKCU\Software\Quillon Labs\Lumora ZuvIridar for iPhone"
RUN_KEY = r"HKCU\SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
WAVE_KEY = r"HKCU\Software\Quillon Labs\Lumora Wave Service"


class Session:
    def __init__(self, bin_dir, port=47123, settings=None, phonesim=None):
        self.bin = os.path.abspath(bin_dir)
        self.port = port
        self.env = dict(os.environ)
        self.env.setdefault("WINEARCH", "win32")
        self.env.setdefault("WINEDEBUG", "-all")
        self.env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
        cache = os.environ.get("LUMORA_CACHE", os.path.expanduser("~/.cache/lumora-pc"))
        self.env["WINEPREFIX"] = os.environ.get("LUMORA_WINEPREFIX", os.path.join(cache, "wineprefix"))
        # A native phone is much quicker than one under Wine; either works.
        self.phonesim = phonesim or os.path.join(self.bin, "phonesim.exe")
        self.settings = settings or {}
        self.server = None
        self.driver = None
        self.phones = []

    # --- Wine -----------------------------------------------------------
    def wine(self, *args, **kw):
        return subprocess.run(["wine"] + list(args), env=self.env, cwd=self.bin, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True, **kw)

    def reg_set(self, name, value):
        kind = "REG_DWORD" if isinstance(value, int) else "REG_SZ"
        self.wine("reg", "add", APP_KEY, "/v", name, "/t", kind, "/d", str(value), "/f")

    def reg_query(self, key, name):
        out = self.wine("reg", "query", key, "/v", name).stdout
        # "    NAME    REG_TYPE    VALUE"; names may hold spaces.
        for line in out.splitlines():
            found = re.match(r"^\s*(.+?)\s+(REG_\w+)\s*(.*)$", line)
            if found and found.group(1) == name:
                return found.group(3).strip()
        return None

    def log_folder(self):
        found = glob.glob(os.path.join(self.env["WINEPREFIX"], "drive_c/users/*/AppData/Roaming/Quillon Labs/"
                                       "Lumora ZuvIridar for iPhone/logs"))
        return found[0] if found else None

    def log(self):
        folder = self.log_folder()
        if not folder:
            return ""
        files = sorted(glob.glob(os.path.join(folder, "Webcam-*.log")), key=os.path.getmtime)
        if not files or files[-1] in self.old_logs:
            return ""
        with open(files[-1], errors="replace") as f:
            return f.read()

    def wait_log(self, text, timeout=30):
        end = time.time() + timeout
        while time.time() < end:
            if text in self.log():
                return True
            time.sleep(0.3)
        return False

    # --- the server -----------------------------------------------------
    def start(self, before=()):
        """Fresh settings, then the driver commands `before` (run by a
        driver of their own, before the server exists), then the server."""
        subprocess.run(["wineserver", "-p"], env=self.env, stderr=subprocess.DEVNULL)
        self.wine("reg", "delete", APP_KEY, "/f")
        self.wine("reg", "delete", WAVE_KEY, "/f")
        self.reg_set("Port", self.port)
        for name, value in self.settings.items():
            self.reg_set(name, value)
        for line in before:
            answer = self.driver_once(line)
            if answer != "ok":
                raise RuntimeError(line + ": " + answer)
        folder = self.log_folder()
        self.old_logs = set(glob.glob(os.path.join(folder, "*.log"))) if folder else set()
        self.server = subprocess.Popen(["wine", "server.exe"], env=self.env, cwd=self.bin, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
        self.driver = subprocess.Popen(["wine", "uidriver.exe"], env=self.env, cwd=self.bin, stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, bufsize=1)
        if self.cmd("wait frame 90000") != "ok":
            raise RuntimeError("the server's window did not appear")
        if not self.wait_log("Listen on ", 60):
            raise RuntimeError("the server did not listen")

    def driver_once(self, line):
        """One driver command outside the session's driver."""
        out = subprocess.run(["wine", "uidriver.exe"], env=self.env, cwd=self.bin, input=line + "\nquit\n",
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
        return out.strip().splitlines()[0] if out.strip() else ""

    def windows_path(self, path):
        """A Linux path as programs under Wine name it."""
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def prefix_path(self, windows_path):
        """A C: path of the prefix as a Linux path."""
        rest = windows_path[3:].replace("\\", "/")
        return os.path.join(self.env["WINEPREFIX"], "drive_c", rest)

    def cmd(self, line):
        self.driver.stdin.write(line + "\n")
        self.driver.stdin.flush()
        return self.driver.stdout.readline().strip()

    def stop(self):
        for phone in self.phones:
            phone.kill()
        if getattr(self, "balloons", None):
            self.balloons.stop()
        if self.driver and self.driver.poll() is None:
            try:
                self.cmd("close %d" % 0x12345678)
            except (BrokenPipeError, OSError):
                pass
        if self.server:
            try:
                self.server.wait(30)
            except subprocess.TimeoutExpired:
                self.server.kill()
        if self.driver and self.driver.poll() is None:
            self.driver.stdin.close()
            self.driver.wait(10)
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)

    def wait_for(self, condition, timeout=30):
        end = time.time() + timeout
        while time.time() < end:
            if condition():
                return True
            time.sleep(0.3)
        return condition()

    # --- balloons -------------------------------------------------------
    def watch_balloons(self):
        """Starts a second driver that notes every balloon the notification
        area shows from now on (see Balloons)."""
        self.balloons = Balloons(self.env, self.bin)
        return self.balloons

    # --- phones ---------------------------------------------------------
    def phone(self, *args, port=None):
        command = [self.phonesim, "--port", str(port or self.port)] + list(args)
        if self.phonesim.endswith(".exe"):
            command = ["wine"] + command
        p = Phone(command, self.env, self.bin)
        self.phones.append(p)
        return p

    # --- pictures -------------------------------------------------------
    def screenshot(self, name, path):
        """The window `name` (as uidriver names it) cropped from the screen."""
        answer = self.cmd("rect " + name).split()
        if not answer or answer[0] != "ok":
            raise RuntimeError("no window " + name)
        x, y, w, h = (int(v) for v in answer[1:5])
        time.sleep(0.8)  # let it paint
        subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage", path],
                       check=True)


class Balloons:
    """Every balloon shown while it watches, as (title, text), once per
    showing: the system's notification area (explorer under Wine) draws each
    as a balloon tooltip window of its own, which a second uidriver reads
    every quarter second."""

    def __init__(self, env, cwd):
        self.seen = []
        self._last = None
        self._stop = False
        self._lock = threading.Lock()
        self.proc = subprocess.Popen(["wine", "uidriver.exe"], env=env, cwd=cwd, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, bufsize=1)
        self.thread = threading.Thread(target=self._poll, daemon=True)
        self.thread.start()

    def _poll(self):
        while not self._stop:
            try:
                self.proc.stdin.write("balloon\n")
                self.proc.stdin.flush()
                answer = self.proc.stdout.readline().rstrip("\r\n")
            except (BrokenPipeError, OSError, ValueError):
                return
            if not answer:
                return
            shown = None
            if answer.startswith("ok "):
                handle, _, rest = answer[3:].partition(" ")
                title, _, text = rest.partition("|")
                shown = (handle, title, text)
            if shown != self._last and shown is not None:
                with self._lock:
                    self.seen.append((shown[1], shown[2]))
            self._last = shown
            time.sleep(0.25)

    def shown(self):
        with self._lock:
            return list(self.seen)

    def wait(self, title=None, text=None, timeout=30, count=1):
        """True once `count` balloons with that title and that text (or,
        unless it is blank, a text holding it) have been seen."""
        end = time.time() + timeout
        while True:
            # Wine's balloon windows do not tell their title (an empty one
            # means "not known"); where it is known it must match.
            hits = [b for b in self.shown()
                    if (title is None or b[0] in ("", title)) and (text is None or text == b[1] or
                                                                     (text.strip() and text in b[1]))]
            if len(hits) >= count:
                return True
            if time.time() >= end:
                return False
            time.sleep(0.3)

    def stop(self):
        self._stop = True
        self.thread.join(5)
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write("quit\n")
                self.proc.stdin.flush()
            except (BrokenPipeError, OSError):
                pass
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()


class Phone:
    """A simulated phone; its output lines are gathered as they come."""

    def __init__(self, command, env, cwd):
        self.lines = []
        self.proc = subprocess.Popen(command, env=env, cwd=cwd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, text=True)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.append(line.rstrip())

    def wait_line(self, prefix, timeout=60):
        end = time.time() + timeout
        while time.time() < end:
            for line in self.lines:
                if line.startswith(prefix):  # a str or a tuple of them
                    return line
            time.sleep(0.2)
        return None

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
