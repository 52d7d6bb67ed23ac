"""A private X display, the accessibility bus and real input, for driving a real program.

Every wait here is bounded: a step that does not come true within its limit raises
StepFailed, which the test turns into a screenshot and a failure.
"""

import os
import select
import subprocess
import sys
import time

POLL_SECONDS = 0.1
PYTHON = "/usr/bin/python3"  # the interpreter that has pyatspi
DISPLAY_START_SECONDS = 10
SCREEN = "1280x1024x24"


class StepFailed(Exception):
    pass


def wait_for(what, probe, limit_seconds):
    """Polls probe until it returns something true, and returns that."""
    deadline = time.monotonic() + limit_seconds
    while True:
        found = probe()
        if found:
            return found
        if time.monotonic() >= deadline:
            raise StepFailed(f"gave up after {limit_seconds} s waiting for {what}")
        time.sleep(POLL_SECONDS)


def end_process(process, limit_seconds=5):
    """Asks a child to end, then kills it when it does not within the limit."""
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(limit_seconds)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(limit_seconds)


class PrivateDisplay:
    """An Xvfb of our own on a display number it picks itself."""

    def __init__(self, log_path):
        read_end, write_end = os.pipe()
        self.log_path = log_path
        with open(log_path, "wb") as log:
            self.server = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", SCREEN, "-nolisten",
                 "tcp", "-noreset"], pass_fds=[write_end], stdout=log, stderr=log)
        os.close(write_end)
        ready, _, _ = select.select([read_end], [], [], DISPLAY_START_SECONDS)
        number = os.read(read_end, 64).decode().strip() if ready else ""
        # Kept open while the server runs: Xvfb ends with "Cannot write display number"
        # when it writes to the pipe again and finds no reader.
        self.read_end = read_end
        if not number:
            self.fail("did not report a display")
        self.name = ":" + number
        # A client must get in before anything is started on the display.
        deadline = time.monotonic() + DISPLAY_START_SECONDS
        while not self.answers():
            if self.server.poll() is not None or time.monotonic() >= deadline:
                self.fail(f"on {self.name} takes no clients")
            time.sleep(POLL_SECONDS)

    def answers(self):
        probe = subprocess.run(["xdotool", "getdisplaygeometry"], env=dict(os.environ,
                               DISPLAY=self.name), stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=DISPLAY_START_SECONDS)
        return probe.returncode == 0

    def fail(self, what):
        end_process(self.server)
        os.close(self.read_end)
        with open(self.log_path, errors="replace") as log:
            raise StepFailed(f"Xvfb {what} (exit {self.server.returncode}): {log.read()[-500:]}")

    def close(self):
        end_process(self.server)
        os.close(self.read_end)


def screenshot(display, path):
    """The whole screen as an X window dump (xwud or any image viewer shows it)."""
    subprocess.run(["xwd", "-root", "-silent", "-display", display, "-out", path], timeout=10,
                   check=False)


class Clipboard:
    """Owns the clipboard with one text, the way a program a person copied from would."""

    def __init__(self):
        self.owner = None

    def put(self, text):
        self.close()
        # -quiet keeps xclip in the foreground, so ending it is ending the owner.
        self.owner = subprocess.Popen(["xclip", "-quiet", "-selection", "clipboard"],
                                      stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
        self.owner.stdin.write(text.encode())
        self.owner.stdin.close()

    def close(self):
        end_process(self.owner)
        self.owner = None


def click(x, y):
    # Not --sync: it never returns when the pointer already is at the place.
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], timeout=10,
                   check=True)


class Accessible:
    """Finds a program's controls through AT-SPI by role, name, text and order."""

    def __init__(self):
        import pyatspi  # only under the private session bus, where the registry is ours
        self.pyatspi = pyatspi
        # Asking for the desktop starts the registry; a program started before it may never
        # register.
        self.desktop = pyatspi.Registry.getDesktop(0)
        self.desktop.childCount

    def application(self, name):
        for i in range(self.desktop.childCount):
            app = self.desktop.getChildAtIndex(i)
            if app is not None and app.name == name:
                return app
        return None

    def walk(self, root):
        """Every node below root, depth first, in the order they are shown."""
        if root is None:
            return
        stack = [root]
        while stack:
            node = stack.pop()
            yield node
            try:
                children = [node.getChildAtIndex(i) for i in range(node.childCount)]
            except Exception:
                children = []
            stack.extend(reversed([c for c in children if c is not None]))

    def find_all(self, root, role, name=None):
        found = []
        for node in self.walk(root):
            try:
                if node.getRoleName() == role and (name is None or node.name == name):
                    found.append(node)
            except Exception:
                continue
        return found

    def find(self, root, role, name=None):
        matches = self.find_all(root, role, name)
        return matches[0] if matches else None

    @staticmethod
    def text_of(node):
        try:
            return node.queryText().getText(0, -1)
        except Exception:
            return node.name

    def rows(self, table):
        """The lines of a list; None while the list is being rewritten under the reader and a
        line vanishes before its name is read."""
        try:
            return [cell.name for cell in self.find_all(table, "table cell")]
        except Exception:
            return None

    def is_selected(self, node):
        return node.getState().contains(self.pyatspi.STATE_SELECTED)

    def is_enabled(self, node):
        return node.getState().contains(self.pyatspi.STATE_SENSITIVE)

    def centre(self, node):
        """The middle of a control on the screen, or None while it is not placed."""
        box = node.queryComponent().getExtents(self.pyatspi.DESKTOP_COORDS)
        if box.width <= 1 or box.height <= 1 or box.x < 0 or box.y < 0:
            return None
        return box.x + box.width // 2, box.y + box.height // 2

    def click(self, what, node, limit_seconds):
        """Real pointer input: an accessibility action on a control that opens a modal
        dialog would hold up the accessibility bus until the dialog closed."""
        click(*wait_for(f"{what} to be on the screen", lambda: self.centre(node), limit_seconds))


def children(pid):
    """The processes whose parent is pid, as (pid, name) pairs."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        # The name is in parentheses and may hold blanks; the fields after it are plain.
        name = stat[stat.index("(") + 1:stat.rindex(")")]
        fields = stat[stat.rindex(")") + 2:].split()
        if fields[1] == str(pid) and fields[0] != "Z":
            found.append((int(entry), name))
    return found


def gone(pid):
    """True when a process has ended (a zombie waiting for its reaper counts as ended)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            stat = f.read()
    except OSError:
        return True
    return stat[stat.rindex(")") + 2:].split()[0] in ("Z", "X")


def run_in_private_session(artifacts, limit_seconds, name):
    """Runs this script again with --inner on an Xvfb and a D-Bus session bus of its own,
    and returns its exit code."""
    try:
        display = PrivateDisplay(os.path.join(artifacts, "xvfb.log"))
    except StepFailed as failure:
        print(f"{name}: no display: {failure}", file=sys.stderr)
        return 1
    try:
        env = dict(os.environ, DISPLAY=display.name)
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        env.pop("AT_SPI_BUS_ADDRESS", None)
        try:
            return subprocess.run(["dbus-run-session", "--", PYTHON] + sys.argv + ["--inner"],
                                  env=env, timeout=limit_seconds).returncode
        except subprocess.TimeoutExpired:
            print(f"{name}: no result within {limit_seconds} s", file=sys.stderr)
            return 1
    finally:
        display.close()
