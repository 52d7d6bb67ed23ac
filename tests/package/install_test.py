"""The Debian package installed into this machine, as a user would meet it: apt-get installs
it, the installed /usr/bin/norvik runs with a fresh HOME and no settings on a display of its
own, shows the formats of a copied demo address and saves one, quits and leaves no process;
apt-get removes the package and nothing of it is left, while the user's files stay.

Needs root (it changes the machine's packages); scripts/test.sh runs it only then. Runs are
serialised with a lock file, since package installation is machine-wide.
"""

import argparse
import fcntl
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

from desktop import (Accessible, StepFailed, children, gone,  # noqa: E402
                     run_in_private_session, wait_for)
from end_to_end import (INNER_RUN_SECONDS, STEP_SECONDS, EndToEnd, demo_video,  # noqa: E402
                        run_inner)

PACKAGE = "norvik"
INSTALLED = "/usr/bin/norvik"
DEMO_DIR = "/usr/share/norvik/demo"
LOCK_FILE = "/var/lock/norvik-install-test.lock"
LOCK_SECONDS = 600
APT_SECONDS = 600
LINTIAN_SECONDS = 300
APT = ["env", "DEBIAN_FRONTEND=noninteractive", "apt-get", "-y", "-q",
       "-o", "DPkg::Lock::Timeout=300"]


class InstalledProgram(EndToEnd):
    """The installed program with no settings at all: its folders are the defaults."""

    def __init__(self, args, work):
        super().__init__(args, work)
        self.program_path = INSTALLED

    def run(self):
        self.demo = demo_video(DEMO_DIR)
        os.makedirs(self.tmp)
        os.makedirs(self.home)
        # No test reaches the internet: the only setting keeps the program from fetching its
        # tools; the folders stay at their defaults.
        with open(os.path.join(self.home, ".Norvik"), "w", encoding="utf-8") as f:
            f.write("ResolverUpdates=0\n")
        self.ui = Accessible()
        self.start_program()
        self.step = "looking up and saving with the installed service"
        self.load_demo_video()
        self.press_download()
        # Without settings the video folder is the documents folder, here the home folder.
        stream = self.demo["streams"][0]
        title = self.demo["title"]
        saved = os.path.join(self.home, title + os.path.splitext(stream["file"])[1])
        self.wait_for_download_line(f"[Done] {stream['type']} '{title}' > {saved}")
        with open(saved, "rb") as f, open(os.path.join(DEMO_DIR, stream["file"]), "rb") as g:
            if f.read() != g.read():
                raise StepFailed(f"{saved} differs from the served {stream['file']}")
        self.step = "quitting"
        pids = [self.program.pid] + [pid for pid, _ in children(self.program.pid)]
        self.quit()
        wait_for("every process of the program to end", lambda: all(gone(p) for p in pids),
                 STEP_SECONDS)
        left = installed_processes()
        if left:
            raise StepFailed(f"still running after quit: {left}")


def installed_processes():
    """Running processes whose program is one of the package's."""
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                exe = os.readlink(f"/proc/{entry}/exe")
            except OSError:
                continue
            if exe.startswith(INSTALLED):
                found.append((int(entry), exe))
    return found


def check(what, command, limit):
    done = subprocess.run(command, capture_output=True, text=True, timeout=limit)
    if done.returncode != 0:
        raise StepFailed(f"{what} failed ({done.returncode}): {done.stdout[-3000:]}"
                         f"{done.stderr[-3000:]}")
    return done.stdout


def installed_state():
    done = subprocess.run(["dpkg-query", "-W", "-f=${Status}", PACKAGE], capture_output=True,
                          text=True, timeout=STEP_SECONDS)
    return done.stdout.strip() if done.returncode == 0 else "unknown"


def outer(args):
    if os.geteuid() != 0:
        print("install test: skipped, it needs root to install the package into the machine")
        return 0
    deb = os.path.abspath(args.package)
    lock = open(LOCK_FILE, "w")
    deadline = time.monotonic() + LOCK_SECONDS
    while True:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            break
        except BlockingIOError:
            if time.monotonic() > deadline:
                print(f"install test: {LOCK_FILE} stayed locked {LOCK_SECONDS} s",
                      file=sys.stderr)
                return 1
            time.sleep(1)
    if installed_state().endswith(" installed"):
        print(f"install test: skipped, {PACKAGE} is installed on this machine already and "
              "stays as it is", file=sys.stderr)
        return 0
    try:
        lintian = subprocess.run(["lintian", "--fail-on", "error", deb], capture_output=True,
                                 text=True, timeout=LINTIAN_SECONDS)
        print(f"lintian:\n{lintian.stdout}{lintian.stderr}")
        if lintian.returncode != 0:
            raise StepFailed("lintian reports errors")
        check("apt-get install", APT + ["install", "--no-install-recommends", deb], APT_SECONDS)
        files = [line for line in check("dpkg -L", ["dpkg", "-L", PACKAGE], STEP_SECONDS)
                 .splitlines() if os.path.isfile(line)]
        if run_in_private_session(args.artifacts, INNER_RUN_SECONDS, "installed program") != 0:
            raise StepFailed("the installed program did not do its work")
        check("apt-get remove", APT + ["remove", PACKAGE], APT_SECONDS)
        left = [path for path in files if os.path.lexists(path)]
        for folder in (DEMO_DIR, "/usr/share/norvik", "/usr/share/doc/norvik"):
            if os.path.lexists(folder):
                left.append(folder)
        if left:
            raise StepFailed(f"left behind by apt-get remove: {left}")
        state = installed_state()
        if state.endswith(" installed") or "config-files" in state:
            raise StepFailed(f"after remove dpkg says: {state}")
        print(f"install test: passed ({len(files)} files installed and removed)")
        return 0
    except (StepFailed, subprocess.TimeoutExpired) as failure:
        print(f"install test: failed: {failure}", file=sys.stderr)
        return 1
    finally:
        if installed_state().endswith(" installed"):
            subprocess.run(APT + ["remove", PACKAGE], capture_output=True, timeout=APT_SECONDS)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--package", help="the .deb to install")
    parser.add_argument("--artifacts", required=True)
    # The installed program is run, not a build's.
    parser.add_argument("--build-dir", default="", help=argparse.SUPPRESS)
    parser.add_argument("--inner", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    os.makedirs(args.artifacts, exist_ok=True)
    if args.inner:
        return run_inner(args, InstalledProgram, "installed program")
    return outer(args)


if __name__ == "__main__":
    sys.exit(main())
