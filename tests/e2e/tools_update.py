"""Norvik's own yt-dlp: the real program, with no "ServiceUrl" and tool updates on, installs
the copy a release site of the test's own on loopback publishes at its first start, and its
own service's next lookup runs that copy. The copy wraps Debian's yt-dlp and sends it to a
watch page of our own, so only the copy can answer the site's address; a stand-in deno on
PATH keeps the runtime from being fetched.
"""

import hashlib
import http.server
import os
import sys
import threading

from desktop import Accessible, StepFailed, wait_for
from end_to_end import (RESOLVED_TITLE, STEP_SECONDS, WATCH_PAGE, EndToEnd, main, read_bytes,
                        require)
from watch_page import WatchPage

VERSION = "2099.01.02"
# The page's one clip (its codecs unnamed, so taken to have sound), then the service's MP3 of it.
RESOLVED_LINES = ["video/mp4", "audio/mp3 audio/music"]
LOOKUP_ID = "NkOwnCopy01"
CLIP_BYTES = 64 * 1024
RUN_SECONDS = 90
COPY = """#!/bin/sh
# The release of this test: Debian's yt-dlp under a version of its own, reading the test's
# watch page for the site's.
case " $* " in *" --version "*) echo {version}; exit 0 ;; esac
for a; do
  shift
  case "$a" in {site}*) a="{page}${{a#{site}}}" ;; esac
  set -- "$@" "$a"
done
exec /usr/bin/yt-dlp "$@"
"""


class ReleaseSite:
    """SHA2-256SUMS and yt-dlp under /yt/; nothing under /deno/. Counts what it is asked."""

    def __init__(self, copy):
        sums = (hashlib.sha256(copy).hexdigest() + "  yt-dlp\n").encode()
        files = {"/yt/SHA2-256SUMS": sums, "/yt/yt-dlp": copy}
        self.requests = []
        requests = self.requests

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                requests.append(self.path)
                body = files.get(self.path)
                if body is None:
                    self.send_error(404)
                    return
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.url = f"http://127.0.0.1:{self.server.server_port}"

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class ToolsUpdate(EndToEnd):
    def __init__(self, args, work):
        super().__init__(args, work)
        self.site = None

    def run(self):
        require("yt-dlp")
        clip = os.path.join(self.work, "clip.mp4")
        with open(clip, "wb") as f:
            f.write(os.urandom(CLIP_BYTES))
        self.page = WatchPage(clip, RESOLVED_TITLE)
        page_prefix = self.page.watch_url.replace("%s", "")
        release = COPY.format(version=VERSION, site=WATCH_PAGE, page=page_prefix).encode()
        self.site = ReleaseSite(release)
        # The program and its service find this deno first: no runtime is fetched.
        bin_dir = os.path.join(self.work, "bin")
        os.makedirs(bin_dir)
        deno = os.path.join(bin_dir, "deno")
        with open(deno, "w") as f:
            f.write("#!/bin/sh\necho deno 2.0.0\n")
        os.chmod(deno, 0o755)
        os.environ["PATH"] = bin_dir + ":" + os.environ.get("PATH", "")
        os.environ["XDG_DATA_HOME"] = os.path.join(self.home, ".local", "share")
        copy = os.path.join(os.environ["XDG_DATA_HOME"], "norvik", "yt-dlp")

        self.write_settings()
        self.ui = Accessible()
        self.start_program()
        self.step = "installing the copy at the first start"
        wait_for("Norvik's copy of yt-dlp", lambda: os.access(copy, os.X_OK), STEP_SECONDS)
        if read_bytes(copy) != release:
            raise StepFailed(f"{copy} is not the release")

        self.step = "looking up through the copy"
        self.clipboard.put(WATCH_PAGE + LOOKUP_ID)
        wait_for("the page's format",
                 lambda: [r.strip() for r in self.format_rows() or []] == RESOLVED_LINES,
                 STEP_SECONDS)
        wait_for("the page's title",
                 lambda: any(self.ui.text_of(t).startswith(RESOLVED_TITLE)
                             for t in self.ui.find_all(self.frame, "text")), STEP_SECONDS)
        fetched = sorted(self.site.requests)
        if fetched != ["/yt/SHA2-256SUMS", "/yt/yt-dlp"]:
            raise StepFailed(f"the release site was asked for {fetched}")
        self.step = "quitting"
        self.quit()

    def write_settings(self, url=None):
        super().write_settings(url)
        settings = os.path.join(self.home, ".Norvik")
        with open(settings, encoding="utf-8") as f:
            text = f.read().replace("ResolverUpdates=0\n", "")
        with open(settings, "w", encoding="utf-8") as f:
            f.write(text + f"ResolverReleaseUrl={self.site.url}/yt/\n"
                    f"JsRuntimeReleaseUrl={self.site.url}/deno/\n")

    def close(self):
        super().close()
        if self.site:
            self.site.close()


if __name__ == "__main__":
    sys.exit(main(ToolsUpdate, "tools update", RUN_SECONDS))
