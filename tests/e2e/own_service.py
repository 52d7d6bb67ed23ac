"""Norvik's own service: with no "ServiceUrl" in its settings, the real program starts the
service installed beside it when it first needs one, shows what that service answers, and
ends it when it quits, and the service ends too when the program is killed.
"""

import os
import sys

from desktop import Accessible, StepFailed, children, gone, wait_for
from end_to_end import INNER_RUN_SECONDS, STEP_SECONDS, EndToEnd, demo_video, main

SERVICE_NAME = "norvik-service"
# The kernel's parent-death signal is at once; reaping by whoever inherits it may lag.
ORPHAN_SECONDS = 10


class OwnService(EndToEnd):
    def __init__(self, args, work):
        super().__init__(args, work)
        self.demo_dir = os.path.join(args.source_dir, "service", "demo")

    def run(self):
        self.demo = demo_video(self.demo_dir)
        self.write_settings()
        self.ui = Accessible()

        self.start_program()
        self.step = "looking up with the program's own service"
        if children(self.program.pid):
            raise StepFailed(f"a child runs before anything asked for a service: "
                             f"{children(self.program.pid)}")
        self.load_demo_video()
        service = self.own_service()
        self.step = "quitting"
        self.quit()
        if not gone(service):
            raise StepFailed(f"the service {service} still runs after the program quit")

        self.start_program()
        self.step = "killing the program"
        self.load_demo_video()
        service = self.own_service()
        self.program.kill()
        self.program.wait(STEP_SECONDS)
        wait_for("the service to end with its killed parent", lambda: gone(service),
                 ORPHAN_SECONDS)

    def own_service(self):
        """The one service child of the program, found by name."""
        found = children(self.program.pid)
        if [name for _, name in found] != [SERVICE_NAME]:
            raise StepFailed(f"expected one {SERVICE_NAME} child, found {found}")
        return found[0][0]


if __name__ == "__main__":
    sys.exit(main(OwnService, "own service", INNER_RUN_SECONDS))
