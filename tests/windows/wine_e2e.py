#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs the Windows build of Tarvik under Wine with a pseudo-terminal as the
encoder board on COM1, and checks what a user of that build would see.

  wine_e2e.py portable    the portable zip, unzipped into a folder
  wine_e2e.py installer   silent install, a reading logged into
                          %ProgramData%\\Tarvik, silent uninstall

In both, tarvik-port.exe beside tarvik.exe then finds the board on COM1 and
points ComPort at it.

Needs TARVIK_WINDOWS_DIST (the folder with the zip and setup.exe) and
TARVIK_WINDOWS_VERSION. Each run gets a fresh Wine prefix and its own Xvfb.
Ends with a line 'N passed, N failed'.
"""
import os, pty, select, shutil, signal, subprocess, sys, tempfile, termios, time, tty, zipfile

DIST = os.environ["TARVIK_WINDOWS_DIST"]
VERSION = os.environ["TARVIK_WINDOWS_VERSION"]
SHOTS = os.environ.get("TARVIK_WINDOWS_SHOTS", DIST)
results = []


def check(name, ok, detail=""):
    results.append(ok)
    print(("PASS  " if ok else "FAIL! ") + name + ("" if ok else ": " + detail), flush=True)
    return ok


def wait_for(predicate, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.2)
    return predicate()


class Board:
    """The master side of a pseudo-terminal: what the encoder board sees."""

    def __init__(self):
        self.master, self.slave = pty.openpty()
        tty.setraw(self.slave)
        self.name = os.ttyname(self.slave)
        self.received = b""

    def pump(self, seconds=0.0):
        deadline = time.monotonic() + seconds
        while True:
            r, _, _ = select.select([self.master], [], [], max(0.0, min(0.1, deadline - time.monotonic())))
            if r:
                try:
                    self.received += os.read(self.master, 4096)
                except OSError:
                    return
            elif time.monotonic() >= deadline:
                return

    def wait_line(self, seconds):
        def got():
            self.pump(0.1)
            return b"\r\n" in self.received
        if not wait_for(got, seconds):
            return None
        line, self.received = self.received.split(b"\r\n", 1)
        return line

    def send(self, data):
        os.write(self.master, data)

    def line_settings(self):
        attrs = termios.tcgetattr(self.slave)
        cflag, ospeed = attrs[2], attrs[5]
        return {
            "9600 baud": ospeed == termios.B9600,
            "8 data bits": (cflag & termios.CSIZE) == termios.CS8,
            "no parity": not (cflag & termios.PARENB),
            "one stop bit": not (cflag & termios.CSTOPB),
        }


class Wine:
    """A fresh prefix, its own X server, COM1 mapped to a pseudo-terminal."""

    def __init__(self, work):
        self.work = work
        self.env = dict(os.environ, WINEPREFIX=os.path.join(work, "prefix"), WINEDEBUG="-all",
                        WINEARCH="win64", WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("QT_QPA_PLATFORM", None)
        self.xvfb = None

    def start(self):
        r, w = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                     pass_fds=[w], stderr=subprocess.DEVNULL)
        os.close(w)
        # Xvfb may write the number and its newline apart, and dies if the
        # pipe is closed in between: read the whole line.
        display = b""
        while not display.endswith(b"\n"):
            chunk = os.read(r, 16)
            if not chunk:
                break
            display += chunk
        os.close(r)
        display = display.decode().strip()
        if not display:
            raise RuntimeError("Xvfb did not start")
        self.env["DISPLAY"] = ":" + display
        self.run(["wineboot", "-i"])
        self.server_wait()

    def run(self, args, **kw):
        return subprocess.run(["wine"] + args if args[0] != "wineboot" else args, env=self.env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)

    def server_wait(self):
        subprocess.run(["wineserver", "-w"], env=self.env)

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)
        self.server_wait()
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()

    def map_com1(self, device):
        # Wine's mount manager rebuilds dosdevices/com1 from this key at each
        # start of the prefix, so the link alone does not last.
        self.run(["reg", "add", r"HKLM\Software\Wine\Ports", "/v", "COM1", "/d", device, "/f"])
        subprocess.run(["wineserver", "-k"], env=self.env)
        self.server_wait()
        link = os.path.join(self.env["WINEPREFIX"], "dosdevices", "com1")
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(device, link)

    def path(self, windows_path):
        out = subprocess.run(["winepath", "-u", windows_path], env=self.env, capture_output=True, text=True)
        return out.stdout.strip()

    def start_program(self, exe, cwd):
        return subprocess.Popen(["wine", exe], cwd=cwd, env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def xdotool(self, *args):
        out = subprocess.run(["xdotool"] + list(args), env=self.env, capture_output=True, text=True)
        return out.stdout.strip()

    def xprop(self, window, *names):
        out = subprocess.run(["xprop", "-id", window] + list(names), env=self.env, capture_output=True, text=True)
        return out.stdout.strip()

    def screenshot(self, target):
        subprocess.run(["import", "-window", "root", target], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main_window(wine):
    ids = wait_for(lambda: wine.xdotool("search", "--onlyvisible", "--name", "^Tarvik Data Logger"), 60)
    return ids.split()[0] if ids else None


def open_setup(wine, window):
    # "Setup" sits at 468,284 (149x45) in the main window's client area.
    wine.xdotool("windowactivate", "--sync", window)
    wine.xdotool("mousemove", "--window", window, "542", "306", "click", "1")


def setup_has_no_task_bar_button(wine, window, label):
    """Wine shows a window owned by another, without WS_EX_APPWINDOW, as
    _NET_WM_STATE_SKIP_TASKBAR, and its owner as WM_TRANSIENT_FOR: the setup
    window must be owned, but not by the main window, which can then still
    come in front of it."""
    ids = wait_for(lambda: wine.xdotool("search", "--onlyvisible", "--name", "^Kestrin Encoder Diagnostics/Setup$"), 30)
    if not check(f"{label}: the setup window is shown", bool(ids)):
        return
    setup = ids.split()[0]
    state = wine.xprop(setup, "_NET_WM_STATE")
    check(f"{label}: the setup window has no task bar button", "_NET_WM_STATE_SKIP_TASKBAR" in state, state)
    main_state = wine.xprop(window, "_NET_WM_STATE")
    check(f"{label}: the main window keeps its task bar button", "SKIP_TASKBAR" not in main_state, main_state)
    owner = wine.xprop(setup, "WM_TRANSIENT_FOR")
    owner_id = owner.split("#")[-1].strip() if "#" in owner else ""
    check(f"{label}: the setup window is not owned by the main window",
          not owner_id or int(owner_id, 16) != int(window), owner)


def log_a_reading(wine, board, exe, cwd, data_folder, label):
    """Starts the program, opens the setup window, answers a poll, sends a
    reading; returns the log file's text."""
    program = wine.start_program(exe, cwd)
    try:
        settings = os.path.join(data_folder, "Settings.ini")
        wait_for(lambda: os.path.exists(settings) and os.path.getsize(settings) > 0, 90)
        check(f"{label}: Settings.ini created as [System] CR LF ComPort=1 CR LF",
              os.path.exists(settings) and open(settings, "rb").read() == b"[System]\r\nComPort=1\r\n",
              repr(open(settings, "rb").read()) if os.path.exists(settings) else "missing")
        window = main_window(wine)
        check(f"{label}: the main window is shown", window is not None)
        if window is None:
            return ""
        settings_ok = board.line_settings()
        check(f"{label}: COM1 opened at 9600 8N1", all(settings_ok.values()), str(settings_ok))
        open_setup(wine, window)
        request = board.wait_line(30)
        check(f"{label}: the setup window polls the board", request is not None and request.startswith(b"?"),
              repr(request))
        if request is not None:
            board.send(b"#12.345\r")
        setup_has_no_task_bar_button(wine, window, label)
        board.send(b"<KS1.234A\r")
        log = os.path.join(data_folder, "Default.csv")
        wait_for(lambda: os.path.exists(log) and b"1.234" in open(log, "rb").read(), 30)
        text = open(log, "rb").read().decode("latin-1") if os.path.exists(log) else ""
        check(f"{label}: the reading is appended to Default.csv", text.startswith('"1.234","'), repr(text))
        wine.screenshot(os.path.join(SHOTS, f"wine-{label}.png"))
        return text
    finally:
        program.terminate()
        try:
            program.wait(10)
        except subprocess.TimeoutExpired:
            program.kill()


def port_tool(wine, board, folder, data_folder, label):
    """tarvik-port.exe beside tarvik.exe: find asks COM1 and hears the board,
    use COM1 sets ComPort=1 in the program's own Settings.ini keeping its other
    lines, and a port that does not exist is refused, changing nothing."""
    tool = os.path.join(folder, "tarvik-port.exe")
    if not check(f"{label}: tarvik-port.exe is beside tarvik.exe", os.path.exists(tool)):
        return
    board.pump(0.5)
    board.received = b""
    find = subprocess.Popen(["wine", tool, "find", "COM1"], cwd=folder, env=wine.env,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    request = board.wait_line(60)
    check(f"{label}: tarvik-port find sends ?INPUTS to COM1", request == b"?INPUTS", repr(request))
    if request is not None:
        board.send(b"<IN000000*\r\n")
    try:
        out, _ = find.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        find.kill()
        out, _ = find.communicate()
    text = out.decode("utf-8", "replace")
    check(f"{label}: tarvik-port find names COM1 the board's port and ends with 0",
          find.returncode == 0 and "COM1: board" in text, repr((find.returncode, text)))

    settings = os.path.join(data_folder, "Settings.ini")
    with open(settings, "wb") as f:
        f.write(b"; chosen by hand\r\n[System]\r\nComPort=7\r\n")
    used = subprocess.run(["wine", tool, "use", "COM1"], cwd=folder, env=wine.env,
                          capture_output=True, timeout=120)
    after = open(settings, "rb").read()
    check(f"{label}: tarvik-port use COM1 sets ComPort=1 and keeps the comment",
          used.returncode == 0 and after == b"; chosen by hand\r\n[System]\r\nComPort=1\r\n",
          repr((used.returncode, used.stdout, used.stderr, after)))
    wrong = subprocess.run(["wine", tool, "use", "COM300"], cwd=folder, env=wine.env,
                           capture_output=True, timeout=120)
    check(f"{label}: tarvik-port use COM300 ends with 2 and changes nothing",
          wrong.returncode == 2 and open(settings, "rb").read() == after,
          repr((wrong.returncode, wrong.stdout, wrong.stderr)))


def portable(work, wine, board):
    folder = os.path.join(work, "portable")
    with zipfile.ZipFile(os.path.join(DIST, f"tarvik-{VERSION}-windows-x64.zip")) as z:
        z.extractall(folder)
    app = os.path.join(folder, f"tarvik-{VERSION}-windows-x64")
    log_a_reading(wine, board, os.path.join(app, "tarvik.exe"), app, app, "portable")
    port_tool(wine, board, app, app, "portable")


def installer(work, wine, board):
    setup = os.path.join(DIST, f"tarvik-{VERSION}-setup.exe")
    wine.run([setup, "/S"])
    wine.server_wait()
    program_folder = wine.path(r"C:\Program Files\Tarvik")
    data_folder = wine.path(r"C:\ProgramData\Tarvik")
    exe = os.path.join(program_folder, "tarvik.exe")
    check("installer: tarvik.exe is in Program Files", os.path.exists(exe))
    check("installer: the Start menu entry exists",
          os.path.exists(wine.path(r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Tarvik Data Logger.lnk")))
    check("installer: the data folder exists", os.path.isdir(data_folder))
    if not os.path.exists(exe):
        return
    # Started from somewhere else, as the Start menu does.
    log_a_reading(wine, board, exe, work, data_folder, "installed")
    port_tool(wine, board, program_folder, data_folder, "installed")
    wine.run([os.path.join(program_folder, "uninstall.exe"), "/S"])
    wine.server_wait()
    wait_for(lambda: not os.path.exists(exe), 30)
    check("uninstaller: the program is removed", not os.path.exists(exe))
    check("uninstaller: the operators' files stay",
          os.path.exists(os.path.join(data_folder, "Default.csv")) and os.path.exists(os.path.join(data_folder, "Settings.ini")))


def main():
    scenario = sys.argv[1]
    work = tempfile.mkdtemp(prefix=f"tarvik-wine-{scenario}-")
    wine = Wine(work)
    board = Board()
    try:
        wine.start()
        wine.map_com1(board.name)
        {"portable": portable, "installer": installer}[scenario](work, wine, board)
    finally:
        wine.stop()
        shutil.rmtree(work, ignore_errors=True)
    passed = sum(results)
    print(f"{passed} passed, {len(results) - passed} failed")
    return 0 if results and all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
