"""Message boxes of a Windows program running under Wine on an X display.

A box is found among the X windows of the program's process with xdotool; winbox.exe reads its
caption and text (X knows only the title) and presses Return in it through the box's own
message loop, since the display's one keyboard focus cannot serve programs that run side by
side. A box is rendered as the POSIX build writes it to standard error, so that one suite
checks both builds.
"""

import contextlib
import subprocess
import tempfile
import time
from pathlib import Path

# Wine's per-thread input-method window is no box.
IGNORED_TITLES = {"Default IME"}


def _is_control(ch):
    code = ord(ch)
    return code < 0x20 or 0x7F <= code <= 0x9F


def render(title, text):
    """'title\\ntext\\n\\n', CR LF as a line feed and every other control character as '?'."""
    caption = "".join("?" if _is_control(c) else c for c in title)
    body = "".join(c if c == "\n" or not _is_control(c) else "?"
                   for c in text.replace("\r\n", "\n"))
    return f"{caption}\n{body}\n\n"


class BoxReader:
    """The boxes of one process, each reported once, in the order they appear."""

    def __init__(self, pid, env, winbox_exe):
        self.pid = pid
        self.env = env
        self.winbox_exe = winbox_exe

    def _winbox(self, command, xid):
        return subprocess.run(["wine", self.winbox_exe, command, xid], env=self.env,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=30)

    def _xdotool(self, *args):
        result = subprocess.run(["xdotool", *args], env=self.env, capture_output=True,
                                text=True, timeout=10)
        return result.stdout.split("\n")[0] if result.returncode == 0 else None

    def shown(self):
        """The X windows of the process's boxes now on the screen."""
        listing = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(self.pid)],
                                 env=self.env, capture_output=True, text=True, timeout=10)
        return [xid for xid in listing.stdout.split()
                if self._xdotool("getwindowname", xid) not in IGNORED_TITLES]

    def read(self, xid, attempts=40):
        """(title, text) of the box in X window xid, or None while it cannot be read yet."""
        for _ in range(attempts):
            result = self._winbox("read", xid)
            if result.returncode == 0:
                caption, _, text = result.stdout.decode("utf-8", "replace").partition("\n")
                return caption, text
            time.sleep(0.05)
        return None

    def dismiss(self, xid):
        self._winbox("return", xid)


def environment(env_file, base):
    """base with the KEY=VALUE lines of env_file (run-suite writes it) that base does not set
    itself added."""
    env = dict(base)
    for line in Path(env_file).read_text().splitlines():
        key, _, value = line.partition("=")
        if key:
            env.setdefault(key, value)
    return env


@contextlib.contextmanager
def box_on_screen(command, env, winbox_exe, *, cwd=None, timeout=60):
    """Runs command until its first box is up and yields that box, rendered (None if none came
    in time), while it stays on screen; then dismisses it and waits for the program's end."""
    process = subprocess.Popen(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    reader = BoxReader(process.pid, env, winbox_exe)
    try:
        deadline = time.monotonic() + timeout
        shown = []
        while not shown and process.poll() is None and time.monotonic() < deadline:
            time.sleep(0.05)
            shown = reader.shown()
        box = reader.read(shown[0]) if shown else None
        yield render(*box) if box else None
    finally:
        deadline = time.monotonic() + timeout
        while process.poll() is None and time.monotonic() < deadline:
            for xid in reader.shown():
                reader.dismiss(xid)
            time.sleep(0.5)
        process.kill()
        process.wait()


def run(command, env, winbox_exe, *, cwd=None, timeout=60, poll=0.03, retry=0.5):
    """Runs command (wine and its arguments) until it ends, reading and dismissing each box.
    Returns (exit code, the boxes rendered, what Wine itself printed)."""
    # Wine's output goes to a file, not a pipe: the first program of a Wine session starts
    # Wine's own services, which inherit its handles and outlive it.
    log = tempfile.TemporaryFile()
    process = subprocess.Popen(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                               stdout=log, stderr=subprocess.STDOUT)
    reader = BoxReader(process.pid, env, winbox_exe)
    boxes = []
    # A box that was just mapped may miss the first Return: it is pressed again until the
    # box is gone, while the box is reported once.
    dismissed_at = {}
    deadline = time.monotonic() + timeout
    while process.poll() is None:
        now = time.monotonic()
        if now > deadline:
            process.kill()
            break
        for xid in reader.shown():
            if xid not in dismissed_at:
                box = reader.read(xid)
                if box is None:
                    continue
                boxes.append(render(*box))
            elif now - dismissed_at[xid] < retry:
                continue
            reader.dismiss(xid)
            dismissed_at[xid] = time.monotonic()
        time.sleep(poll)
    process.wait()
    log.seek(0)
    output = log.read()
    log.close()
    return process.returncode, boxes, output.decode("utf-8", "replace")
