"""Norvik ends cleanly however it is ended: the real program during a slow download.

Run by ctest, on a private display and session bus like the end-to-end test. For each of
SIGTERM, SIGHUP and SIGINT it starts a slow download and sends the signal: the program must be
gone within 2 s with status 0, with no temporary file and no partial output left, only the
interrupted download's partial file that its journal names; once more with the quit question
open. Then a run is killed (SIGKILL) in the middle of a download and the next start must keep
the partial files the journal names, show the download interrupted, and leave a decoy "NK"
file of another program alone. A run with a service of its own ends that service with its
signal's quit. Last, the X server of a run is ended under it: the program must remove its
files before it goes.
"""

import os
import signal
import sys

from desktop import PrivateDisplay, StepFailed, children, gone, wait_for
import end_to_end
from end_to_end import QUIT_SECONDS, STEP_SECONDS, EndToEnd

DECOY = "NKeep-another-programs-file"


class QuitPaths(EndToEnd):
    def run(self):
        catalogue, self.demo = end_to_end.make_catalogue(
            os.path.join(self.args.source_dir, "service", "demo"),
            os.path.join(self.work, "catalogue"))
        self.service, url = end_to_end.start_service(
            self.args.build_dir, catalogue, os.path.join(self.args.artifacts, "service.log"))
        self.write_settings(url)
        self.ui = end_to_end.Accessible()
        for number in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
            self.signal_during_download(number)
        self.signal_during_the_quit_question()
        self.start_after_a_killed_run()
        self.own_service_ends_with_a_signal()
        self.display_lost_during_download()

    def slow_download_running(self):
        self.start_program()
        before = self.partial_files()
        self.start_slow_download()
        if len(self.partial_files()) <= len(before):
            raise StepFailed("the download has no partial file to leave behind")

    @staticmethod
    def ours_in(folder):
        return sorted(n for n in os.listdir(folder) if n != DECOY)

    def check_nothing_left(self, how):
        """Nothing of the program's, but the partial files of the downloads it interrupted,
        which its journal names for the next run."""
        left = self.ours_in(self.tmp) + os.listdir(self.videos) + os.listdir(self.music)
        unnamed = sorted(set(self.partial_files()) - set(self.named_partial_files()))
        if left or unnamed:
            raise StepFailed(f"{how} left {left + unnamed}")

    def signal_during_download(self, number):
        name = signal.Signals(number).name
        self.step = f"ending a download with {name}"
        self.slow_download_running()
        self.program.send_signal(number)
        self.wait_gone(name)
        self.check_nothing_left(name)

    def signal_during_the_quit_question(self):
        """A modal dialog runs a loop of its own; the signal must end the program from there."""
        self.step = "ending the program with SIGTERM while it asks whether to quit"
        self.slow_download_running()
        self.ui.click("the File menu", self.ui.find(self.frame, "menu", "File"), STEP_SECONDS)
        self.ui.click("File > Quit", self.ui.find(self.frame, "menu item", "Quit"), STEP_SECONDS)
        wait_for("the quit question", self.find_yes, STEP_SECONDS)
        self.program.send_signal(signal.SIGTERM)
        self.wait_gone("SIGTERM during the quit question")
        self.check_nothing_left("SIGTERM during the quit question")

    def start_after_a_killed_run(self):
        self.step = "starting after a killed run"
        with open(os.path.join(self.tmp, DECOY), "w", encoding="utf-8") as f:
            f.write("not Norvik's")
        self.slow_download_running()
        self.program.kill()
        self.program.wait(STEP_SECONDS)
        kept = self.partial_files()
        print(f"the killed run left {kept} and {self.ours_in(self.tmp)}")
        self.start_program()
        # The four downloads ended by signals, and the killed one.
        wait_for("the five interrupted downloads",
                 lambda: sum(r.startswith("[Interrupted]") for r in self.downloads()) == 5,
                 STEP_SECONDS)
        if self.partial_files() != kept or kept != self.named_partial_files():
            raise StepFailed(f"the start took partial files the journal names: {kept} became "
                             f"{self.partial_files()}")
        if DECOY not in os.listdir(self.tmp):
            raise StepFailed("the start removed another program's file")
        self.program.send_signal(signal.SIGTERM)
        self.wait_gone("SIGTERM after the clean start", check_status=False)
        self.check_nothing_left("the clean start")

    def own_service_ends_with_a_signal(self):
        """With no service named, the program runs its own; a signal's quit ends it too."""
        self.step = "ending the program's own service with SIGTERM"
        with open(os.path.join(self.home, ".Norvik"), encoding="utf-8") as f:
            settings = f.read()
        with open(os.path.join(self.home, ".Norvik"), "w", encoding="utf-8") as f:
            f.write("".join(line for line in settings.splitlines(keepends=True)
                            if not line.startswith("ServiceUrl=")))
        try:
            self.start_program()
            self.load_demo_video()
            found = children(self.program.pid)
            if len(found) != 1:
                raise StepFailed(f"expected the program's own service, found {found}")
            self.program.send_signal(signal.SIGTERM)
            self.wait_gone("SIGTERM with the program's own service")
            wait_for("the program's own service to end", lambda: gone(found[0][0]),
                     QUIT_SECONDS)
            self.check_nothing_left("SIGTERM with the program's own service")
        finally:
            with open(os.path.join(self.home, ".Norvik"), "w", encoding="utf-8") as f:
                f.write(settings)

    def display_lost_during_download(self):
        self.step = "losing the display during a download"
        own = PrivateDisplay(os.path.join(self.args.artifacts, "xvfb-lost.log"))
        shared = os.environ["DISPLAY"]
        os.environ["DISPLAY"] = own.name
        try:
            self.slow_download_running()
        finally:
            os.environ["DISPLAY"] = shared
            # Ending the server is what this step tries; a failed start must not leave it running.
            own.close()
        self.wait_gone("the end of its X server", check_status=False)
        self.check_nothing_left("the lost display")


if __name__ == "__main__":
    sys.exit(end_to_end.main(QuitPaths, "quit paths", end_to_end.INNER_RUN_SECONDS))
