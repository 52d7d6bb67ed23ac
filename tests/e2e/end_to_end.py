"""Norvik end to end: the real program against the stand-in service, driven as a person would.

Run by ctest. It starts a private Xvfb, then runs itself again under a private D-Bus session
(dbus-run-session), where it starts the service with a catalogue of its own, the
accessibility registry and build/norvik with a fresh HOME. It then copies a watch-page
address, reads the formats, presses Download, and checks the saved files byte for byte;
then does the same for an id only the service's resolver (the real yt-dlp, reading a watch
page of our own on loopback) knows; then copies one the resolver refuses as the site would (a
stand-in in front of yt-dlp prints its bot check) and reads why in the window; then cancels a slow download from its line's menu, retries
it and compares the result byte for byte; last it quits during a slow download and checks
that nothing partial is left behind.
"""

import argparse
import json
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

from desktop import (Accessible, Clipboard, StepFailed, children, end_process,
                     run_in_private_session, screenshot, wait_for)
from flv_audio import extract_sound
from watch_page import WatchPage

# The page's one clip (its codecs unnamed, so taken to have sound), then the service's MP3 of it.
RESOLVED_LINES = ["video/mp4", "audio/mp3 audio/music"]
WATCH_PAGE = "https://www.youtube.com/watch?v="
DEMO_ID = "NkDemoClip2"
SLOW_ID = "NkSlowClip1"
SLOW_TITLE = "Slow stream"
SLOW_STREAM_BYTES = 16 * 1024 * 1024
RESOLVED_ID = "NkResolved1"
RESOLVED_TITLE = "Only the resolver knows"
RESOLVED_BYTES = 3 * 1024 * 1024 + 5
# A DASH presentation: video-only and sound-only formats, offered merged.
MERGED_ID = "NkMerged240"
MERGED_SECONDS = 2.0
MERGED_SLACK_SECONDS = 0.1
# An id the site refuses until one signs in: the stand-in in front of yt-dlp answers it with
# yt-dlp's own words, every other run is yt-dlp's.
REFUSED_ID = "NkSignInPls"
BOT_CHECK = ("ERROR: [youtube] {}: Sign in to confirm you\u2019re not a bot. Use "
             "--cookies-from-browser or --cookies for the authentication.")
SIGN_IN_SENTENCE = ("The site asks you to sign in before it shows this video. Choose the browser "
                    "whose sign-in to use in File > Options.")
STAND_IN = """#!/usr/bin/python3
import os, sys
if any(arg.endswith("=" + {id!r}) for arg in sys.argv):
    sys.stderr.buffer.write({line!r}.encode() + b"\\n")
    sys.exit(1)
os.execvp("yt-dlp", ["yt-dlp"] + sys.argv[1:])
"""
# Fast enough for the small demo clips to arrive at once, slow enough that the big stream
# is still running when the program is told to quit.
MEDIA_RATE = 1024 * 1024
# A person's wait for the program; generous, since ctest runs other tests beside this one.
STEP_SECONDS = 20
QUIT_SECONDS = 2
INNER_RUN_SECONDS = 150
SERVICE_START_SECONDS = 10


def demo_video(demo_dir):
    """The record of the demo video the tests copy, from the catalogue in demo_dir."""
    with open(os.path.join(demo_dir, "catalogue.json"), encoding="utf-8") as f:
        return next(v for v in json.load(f)["videos"] if v["id"] == DEMO_ID)


def make_catalogue(demo_dir, folder):
    """The demo video with an FLV stream, plus a big stream served slowly enough to quit in."""
    os.makedirs(folder)
    demo = demo_video(demo_dir)
    for name in [demo["thumbnail"]] + [s["file"] for s in demo["streams"]]:
        shutil.copy(os.path.join(demo_dir, name), folder)
    with open(os.path.join(folder, "slow.mp4"), "wb") as f:
        f.write(os.urandom(SLOW_STREAM_BYTES))
    slow = {"id": SLOW_ID, "title": SLOW_TITLE, "thumbnail": demo["thumbnail"],
            "streams": [{"itag": 18, "type": "video/mp4", "quality": "medium",
                         "file": "slow.mp4"}]}
    path = os.path.join(folder, "catalogue.json")
    with open(path, "w", encoding="utf-8") as f:
        json.dump({"videos": [demo, slow]}, f, ensure_ascii=False)
    return path, demo


def require(*tools):
    """A step that needs a program fails when it is missing, rather than passing unchecked."""
    missing = [tool for tool in tools if shutil.which(tool) is None]
    if missing:
        raise StepFailed(f"{' and '.join(missing)} not installed: scripts/install-deps.sh "
                         "installs what this test needs")


def make_dash(folder):
    """Two seconds of H.264 video (240 and 120 lines) and AAC sound as DASH; None without
    ffmpeg, which fails the step that needs it."""
    if shutil.which("ffmpeg") is None or shutil.which("ffprobe") is None:
        return None
    os.makedirs(folder)
    subprocess.run(
        ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
         "testsrc=size=320x240:rate=25", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100",
         "-t", str(MERGED_SECONDS), "-map", "0:v", "-map", "0:v", "-map", "1:a", "-c:v", "libx264",
         "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-b:v:0", "300k", "-s:v:1", "160x120",
         "-b:v:1", "100k", "-c:a", "aac", "-f", "dash", "-adaptation_sets",
         "id=0,streams=v id=1,streams=a", os.path.join(folder, "manifest.mpd")],
        check=True, timeout=STEP_SECONDS)
    return folder


def probe(path):
    """What ffprobe finds in a file: its streams' codecs and its duration."""
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries",
                          "format=duration:stream=codec_name", "-of", "json", path],
                         capture_output=True, timeout=STEP_SECONDS).stdout
    return json.loads(out or b"{}")


def write_stand_in(folder):
    """The resolver of the service: yt-dlp, except that it refuses REFUSED_ID as the site
    does when it wants a signed-in browser."""
    path = os.path.join(folder, "refusing-yt-dlp")
    with open(path, "w", encoding="utf-8") as f:
        f.write(STAND_IN.format(id=REFUSED_ID, line=BOT_CHECK.format(REFUSED_ID)))
    os.chmod(path, 0o755)
    return path


def start_service(build_dir, catalogue, log_path, watch_url=None, resolver_program="yt-dlp"):
    """The service on a free port; its resolver reads the page of watch_url, or it has none."""
    log = open(log_path, "wb")
    resolver = ["--resolver", resolver_program, "--watch-url", watch_url] if watch_url else [
        "--resolver", "none"]
    service = subprocess.Popen(
        [os.path.join(build_dir, "norvik-service"), "--port", "0", "--catalogue", catalogue,
         "--media-rate", str(MEDIA_RATE)] + resolver, stdout=subprocess.PIPE, stderr=log)
    ready, _, _ = select.select([service.stdout], [], [], SERVICE_START_SECONDS)
    line = service.stdout.readline().decode().strip() if ready else ""
    if not line.startswith("listening on "):
        end_process(service)
        raise StepFailed(f"the service did not start: {line!r}")
    return service, line.split()[-1]


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


class EndToEnd:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.home = os.path.join(work, "home")
        self.videos = os.path.join(self.home, "Videos")
        self.music = os.path.join(self.home, "Music")
        self.tmp = os.path.join(work, "tmp")
        # Where the program keeps partial downloads and the journal that names them.
        self.partial = os.path.join(self.home, ".cache", "norvik", "partial")
        self.journal = os.path.join(self.home, ".local", "share", "norvik", "journal.sqlite")
        self.clipboard = Clipboard()
        self.service = None
        self.program = None
        self.program_log = None
        self.page = None
        self.program_path = os.path.join(args.build_dir, "norvik")
        self.step = "setting up"

    def run(self):
        catalogue, self.demo = make_catalogue(os.path.join(self.args.source_dir, "service", "demo"),
                                              os.path.join(self.work, "catalogue"))
        self.catalogue_dir = os.path.dirname(catalogue)
        self.resolved_clip = os.path.join(self.work, "resolved.mp4")
        with open(self.resolved_clip, "wb") as f:
            f.write(os.urandom(RESOLVED_BYTES))
        self.dash_dir = make_dash(os.path.join(self.work, "dash"))
        self.page = WatchPage(self.resolved_clip, RESOLVED_TITLE, self.dash_dir, MERGED_ID)
        self.service, url = start_service(self.args.build_dir, catalogue,
                                          os.path.join(self.args.artifacts, "service.log"),
                                          self.page.watch_url, write_stand_in(self.work))
        self.write_settings(url)
        self.ui = Accessible()
        self.start_program()
        self.load_demo_video()
        # The settings name a service, so the program must not run one of its own.
        if children(self.program.pid):
            raise StepFailed(f"the program runs {children(self.program.pid)} beside the "
                             "service its settings name")
        self.save_video()
        self.save_mp3()
        self.save_resolved_stream()
        self.read_refusal()
        self.cancel_and_retry_slow_download()
        # After the line menu's step: one more line would push the slow one out of sight.
        self.save_merged_stream()
        self.quit_during_slow_download()

    def write_settings(self, url=None):
        """The program's folders and settings; without url it runs a service of its own."""
        for folder in (self.videos, self.music, self.tmp):
            os.makedirs(folder, exist_ok=True)
        with open(os.path.join(self.home, ".Norvik"), "w", encoding="utf-8") as f:
            # No test reaches the internet: the program fetches no tools here.
            f.write(f"VideoPath={self.videos}\nAudioPath={self.music}\nAutorun=0\n"
                    "ResolverUpdates=0\n")
            if url:
                f.write(f"ServiceUrl={url}\n")

    def start_program(self):
        self.step = "starting the program"
        env = dict(os.environ, HOME=self.home, TMPDIR=self.tmp, LC_ALL="C.UTF-8",
                   LANG="C.UTF-8", XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
                   XDG_CACHE_HOME=os.path.join(self.home, ".cache"),
                   XDG_DATA_HOME=os.path.join(self.home, ".local", "share"),
                   XDG_STATE_HOME=os.path.join(self.home, ".local", "state"),
                   # The single-instance lock goes there: kept apart from other tests' copies.
                   XDG_RUNTIME_DIR=self.home)
        env.pop("LANGUAGE", None)
        env.pop("NO_AT_BRIDGE", None)
        if self.program_log:
            self.program_log.close()
        self.program_log = open(os.path.join(self.args.artifacts, "norvik.log"), "wb")
        self.program = subprocess.Popen([self.program_path], env=env,
                                        stdout=self.program_log, stderr=subprocess.STDOUT)
        app = wait_for("the program on the accessibility bus",
                       lambda: self.ui.application("norvik"), STEP_SECONDS)
        self.frame = wait_for("the main window", lambda: self.ui.find(app, "frame", "Norvik 2.0"),
                              STEP_SECONDS)
        self.app = app

    def tables(self):
        """The formats list and the downloads list, in the window's order."""
        found = self.ui.find_all(self.frame, "table")
        if len(found) != 2:
            raise StepFailed(f"expected the formats and downloads lists, found {len(found)}")
        return found

    def downloads(self):
        return self.ui.rows(self.tables()[1]) or []

    def wait_for_download_line(self, start, limit=STEP_SECONDS):
        return wait_for(f"a downloads line starting {start!r}",
                        lambda: next((r for r in self.downloads() if r.startswith(start)), None),
                        limit)

    def show(self, video_id, title, formats):
        self.clipboard.put(WATCH_PAGE + video_id)
        wait_for(f"the formats {formats}", lambda: self.ui.rows(self.tables()[0]) == formats,
                 STEP_SECONDS)
        wait_for(f"the title {title!r}",
                 lambda: any(self.ui.text_of(t) == title
                             for t in self.ui.find_all(self.frame, "text")), STEP_SECONDS)

    def press_download(self):
        button = self.ui.find(self.frame, "push button", "Download")
        wait_for("Download to be enabled", lambda: self.ui.is_enabled(button), STEP_SECONDS)
        self.ui.click("Download", button, STEP_SECONDS)

    def load_demo_video(self):
        self.step = "loading the copied address"
        formats = [f"{s['type']} {s['quality']}" for s in self.demo["streams"]]
        self.show(DEMO_ID, self.demo["title"], formats + ["audio/mp3 audio/music"])
        first = self.ui.find_all(self.tables()[0], "table cell")[0]
        if not self.ui.is_selected(first):
            raise StepFailed("the first format is not selected after the load")

    def check_saved(self, kind, folder, extension, expected):
        title = self.demo["title"]
        path = os.path.join(folder, title + extension)
        self.wait_for_download_line(f"[Done] {kind} '{title}' > {path}")
        if os.listdir(folder) != [title + extension]:
            raise StepFailed(f"{folder} holds {os.listdir(folder)}")
        saved = read_bytes(path)
        if saved != expected:
            raise StepFailed(f"{path}: {len(saved)} bytes differ from the {len(expected)} expected")

    def save_video(self):
        self.step = "saving the video"
        self.press_download()
        served = read_bytes(os.path.join(self.catalogue_dir, self.demo["streams"][0]["file"]))
        self.check_saved(self.demo["streams"][0]["type"], self.videos, ".mp4", served)

    def save_mp3(self):
        self.step = "saving the MP3 sound"
        cell = self.ui.find(self.tables()[0], "table cell", "audio/mp3 audio/music")
        self.ui.click("the MP3 entry", cell, STEP_SECONDS)
        wait_for("the MP3 entry to be selected", lambda: self.ui.is_selected(cell), STEP_SECONDS)
        self.press_download()
        flv = next(s["file"] for s in self.demo["streams"] if s["type"] == "video/x-flv")
        sound = extract_sound(read_bytes(os.path.join(self.catalogue_dir, flv)))
        if not sound:
            raise StepFailed("the demo FLV has no sound to compare with")
        self.check_saved("mp3", self.music, ".mp3", sound)

    def save_resolved_stream(self):
        self.step = "saving a stream of an id only the resolver knows"
        require("yt-dlp")
        before = set(os.listdir(self.videos))
        self.clipboard.put(WATCH_PAGE + RESOLVED_ID)
        # The generic extractor names no quality; the title is the page's, perhaps numbered.
        wait_for("the resolved format",
                 lambda: [r.strip() for r in self.format_rows() or []] == RESOLVED_LINES,
                 STEP_SECONDS)
        title = wait_for("the resolved title",
                         lambda: next((self.ui.text_of(t) for t in self.ui.find_all(self.frame, "text")
                                       if self.ui.text_of(t).startswith(RESOLVED_TITLE)), None),
                         STEP_SECONDS)
        self.press_download()
        path = os.path.join(self.videos, title + ".mp4")
        self.wait_for_download_line(f"[Done] video/mp4 '{title}' > {path}")
        added = set(os.listdir(self.videos)) - before
        if added != {title + ".mp4"}:
            raise StepFailed(f"{self.videos} gained {sorted(added)}")
        if read_bytes(path) != read_bytes(self.resolved_clip):
            raise StepFailed(f"{path} differs from the page's clip")

    def read_refusal(self):
        self.step = "reading why the site refused a video"
        self.clipboard.put(WATCH_PAGE + REFUSED_ID)
        wait_for(f"the sentence {SIGN_IN_SENTENCE!r}",
                 lambda: self.ui.find(self.frame, "label", SIGN_IN_SENTENCE), STEP_SECONDS)
        # The sentence stands where the formats would: none of the earlier video's are left.
        rows = self.format_rows()
        if rows:
            raise StepFailed(f"the formats list still shows {rows} beside the refusal")

    def format_rows(self):
        """The formats list's lines; None while the window does not answer (it reads the
        service's reply on the GUI thread, and a resolver takes seconds)."""
        try:
            return self.ui.rows(self.tables()[0])
        except StepFailed:
            return None

    def save_merged_stream(self):
        self.step = "saving a video-only format merged with sound"
        require("yt-dlp", "ffmpeg", "ffprobe")
        before = set(os.listdir(self.videos))
        self.clipboard.put(WATCH_PAGE + MERGED_ID)
        wait_for("the merged format first",
                 lambda: (self.format_rows() or [None])[0] == "video/mp4 240p", STEP_SECONDS)
        earlier = set(self.downloads())
        self.press_download()
        line = wait_for("the merged download done",
                        lambda: next((r for r in self.downloads() if r not in earlier
                                      and r.startswith("[Done] video/mp4 '")), None), STEP_SECONDS)
        added = sorted(set(os.listdir(self.videos)) - before)
        if len(added) != 1 or not line.endswith(os.path.join(self.videos, added[0])):
            raise StepFailed(f"{self.videos} gained {added} for {line!r}")
        found = probe(os.path.join(self.videos, added[0]))
        codecs = [s["codec_name"] for s in found.get("streams", [])]
        duration = float(found.get("format", {}).get("duration", 0))
        if codecs != ["h264", "aac"] or abs(duration - MERGED_SECONDS) > MERGED_SLACK_SECONDS:
            raise StepFailed(f"{added[0]} holds {codecs} for {duration} s")

    def choose_from_line_menu(self, start, item):
        """Right click on the downloads line that begins with start, then the menu's item."""
        cell = wait_for(f"a downloads line starting {start!r}",
                        lambda: next((c for c in self.ui.find_all(self.tables()[1], "table cell")
                                      if c.name.startswith(start)), None), STEP_SECONDS)
        x, y = wait_for("the line to be on the screen", lambda: self.ui.centre(cell), STEP_SECONDS)
        subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "3"], timeout=10,
                       check=True)
        entry = wait_for(f"the menu item {item!r}",
                         lambda: next((m for m in self.ui.find_all(self.app, "menu item", item)
                                       if self.ui.centre(m)), None), STEP_SECONDS)
        self.ui.click(item, entry, STEP_SECONDS)

    def cancel_and_retry_slow_download(self):
        self.step = "cancelling a slow download from its line's menu and retrying it"
        self.start_slow_download()
        path = os.path.join(self.videos, SLOW_TITLE + ".mp4")
        line = f"video/mp4 '{SLOW_TITLE}' > {path}"
        self.choose_from_line_menu(f"[Downloading] {line}", "Cancel")
        self.wait_for_download_line(f"[Cancelled] {line}")
        if os.path.exists(path):
            raise StepFailed(f"{path} exists after the cancel")
        self.choose_from_line_menu(f"[Cancelled] {line}", "Retry")
        self.wait_for_download_line(f"[Done] {line}",
                                    SLOW_STREAM_BYTES // MEDIA_RATE + STEP_SECONDS)
        served = read_bytes(os.path.join(self.catalogue_dir, "slow.mp4"))
        if read_bytes(path) != served:
            raise StepFailed(f"{path} differs from the {len(served)} bytes served")

    def start_slow_download(self):
        """Lists the slow stream and downloads it until its line shows bytes arriving."""
        self.show(SLOW_ID, SLOW_TITLE, ["video/mp4 medium"])
        self.press_download()
        # The progress suffix shows bytes are arriving, so the worker is inside its transfer.
        running = self.wait_for_download_line(f"[Downloading] video/mp4 '{SLOW_TITLE}'")
        wait_for("the slow download's progress",
                 lambda: any(r.startswith(running[:running.index(">")]) and r.endswith("MB/s)")
                             for r in self.downloads()), STEP_SECONDS)

    def quit_during_slow_download(self):
        self.step = "quitting during a slow download"
        before = {folder: sorted(os.listdir(folder)) for folder in (self.videos, self.music)}
        self.start_slow_download()
        print(f"quitting while: {self.downloads()[-1]}")
        self.quit()
        after = {folder: sorted(os.listdir(folder)) for folder in (self.videos, self.music)}
        if after != before:
            raise StepFailed(f"the folders changed from {before} to {after}")
        if os.listdir(self.tmp):
            raise StepFailed(f"temporary files left behind: {os.listdir(self.tmp)}")
        kept = self.partial_files()
        if len(kept) != 1 or kept != self.named_partial_files():
            raise StepFailed(f"expected the interrupted download's partial file alone, found "
                             f"{kept}, the journal naming {self.named_partial_files()}")
        self.step = "starting again after the quit"
        self.start_program()
        self.wait_for_download_line(f"[Interrupted] video/mp4 '{SLOW_TITLE}'")
        self.wait_for_download_line("[Done] video/mp4 ")
        self.quit()
        if self.partial_files() != kept:
            raise StepFailed(f"the interrupted download's bytes went: {self.partial_files()}")

    def partial_files(self):
        return sorted(os.listdir(self.partial)) if os.path.isdir(self.partial) else []

    def named_partial_files(self):
        """The names of the partial files the program's journal names."""
        import sqlite3
        if not os.path.exists(self.journal):
            return []
        with sqlite3.connect(f"file:{self.journal}?mode=ro", uri=True) as journal:
            named = [row[0] for row in journal.execute("SELECT temp FROM downloads")]
        return sorted(os.path.basename(path) for path in named if path)

    def quit(self):
        """File > Quit, Yes; the program must be gone within QUIT_SECONDS, exit code 0."""
        self.ui.click("the File menu", self.ui.find(self.frame, "menu", "File"), STEP_SECONDS)
        self.ui.click("File > Quit", self.ui.find(self.frame, "menu item", "Quit"), STEP_SECONDS)
        yes = wait_for("the quit question", self.find_yes, STEP_SECONDS)
        self.ui.click("Yes", yes, STEP_SECONDS)
        self.wait_gone("Yes")

    def wait_gone(self, how, check_status=True):
        """The program must be gone within QUIT_SECONDS of how, with status 0 when
        check_status."""
        sent = time.monotonic()
        try:
            self.program.wait(QUIT_SECONDS)
        except subprocess.TimeoutExpired:
            raise StepFailed(f"the program still runs {QUIT_SECONDS} s after {how}")
        status = self.program.returncode
        print(f"{how}: gone after {time.monotonic() - sent:.2f} s, status {status}")
        if check_status and status != 0:
            raise StepFailed(f"{how} ended the program with status {status}")

    def find_yes(self):
        for role in ("alert", "dialog"):
            for dialog in self.ui.find_all(self.app, role):
                yes = self.ui.find(dialog, "push button", "Yes")
                if yes is not None:
                    return yes
        return None

    def close(self):
        self.clipboard.close()
        end_process(self.program)
        if self.program_log:
            self.program_log.close()
        end_process(self.service)
        if self.page:
            self.page.close()


def run_inner(args, test_class, name):
    """Runs one test object, keeping a screenshot and naming the step when it fails."""
    work = tempfile.mkdtemp(prefix="norvik-e2e-")
    test = test_class(args, work)
    try:
        test.run()
        print(f"{name}: passed")
        return 0
    except Exception as failure:
        shot = os.path.join(args.artifacts, "failure.xwd")
        screenshot(os.environ["DISPLAY"], shot)
        print(f"{name}: failed while {test.step}: {failure}", file=sys.stderr)
        if not isinstance(failure, StepFailed):
            traceback.print_exc()
        print(f"screenshot: {shot}; logs: {args.artifacts}", file=sys.stderr)
        return 1
    finally:
        test.close()
        shutil.rmtree(work, ignore_errors=True)


def main(test_class=EndToEnd, name="end to end", limit_seconds=INNER_RUN_SECONDS):
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--inner", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    os.makedirs(args.artifacts, exist_ok=True)
    if args.inner:
        return run_inner(args, test_class, name)
    return run_in_private_session(args.artifacts, limit_seconds, name)


if __name__ == "__main__":
    sys.exit(main())
