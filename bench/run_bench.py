#!/usr/bin/python3
"""Runs Norvik's benchmarks against curl, ffmpeg and a bare toolkit window, interleaved
(ours, theirs, ours, theirs...), and writes one table with the targets to bench/RESULTS.md.

A benchmark reports and does not judge: a missed target is a row of the table, not a failure.
The exit status is non-zero only when a measurement could not be made (a download that did
not come out whole, a conversion that failed, a window that never showed).

Called by scripts/bench.sh, which builds the programs first.
"""

import argparse
import datetime
import os
import platform
import select
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

MIB = 1 << 20
GIB = 1 << 30
MB = 1000 * 1000

# Targets; each is a rule about ours against theirs, checked on the medians.
SINGLE_RATIO_TARGET = 0.95
MANY_RATIO_TARGET = 0.90
MANY_MEMORY_TARGET_MIB = 64
MP3_SPEEDUP_TARGET = 3.0
MP3_LINEAR_TARGET = 2.2
STARTUP_RATIO_TARGET = 2.0
MEMORY_RATIO_TARGET = 1.2
IDLE_CPU_TARGET_PERCENT = 1.0

# Every wait on a program has a limit; these are far above what a working run takes.
SERVER_START_LIMIT_S = 10
TRANSFER_LIMIT_S = 300
CONVERT_LIMIT_S = 120
WINDOW_LIMIT_S = 40
EXIT_LIMIT_S = 5
XVFB_ATTEMPTS = 5
# Well above the displays desktops and xvfb-run usually take.
FIRST_DISPLAY = 50
# Memory counts as settled when it moved less than this over the settling window.
RSS_SETTLE_KIB = 256
RSS_SETTLE_WINDOW_S = 2.0
RSS_SAMPLE_PERIOD_S = 0.25
RSS_SETTLE_LIMIT_S = 15
# Norvik's clipboard poll and list refresh have started well before this.
IDLE_WARMUP_S = 3

CLIPBOARD_TEXT = "Shopping list: bread, milk, two lemons. Not a video address.\n"


class BenchError(Exception):
    """A measurement that could not be made; ends the run with a message."""


def log(text):
    print(text, file=sys.stderr, flush=True)


class Series:
    """The values of one figure over the runs."""

    def __init__(self, values):
        if not values:
            raise BenchError("a figure without values")
        self.values = list(values)

    @property
    def median(self):
        return statistics.median(self.values)

    def spread(self, fmt):
        return f"{fmt.format(min(self.values))}–{fmt.format(max(self.values))}"

    def show(self, fmt, unit=""):
        return f"{fmt.format(self.median)}{unit} ({self.spread(fmt)})"


def run_checked(args, limit, **kwargs):
    """Runs a program to its end within limit seconds; its wall time and output."""
    started = time.perf_counter()
    try:
        done = subprocess.run(args, capture_output=True, text=True, timeout=limit, **kwargs)
    except subprocess.TimeoutExpired as exc:
        raise BenchError(f"{args[0]} did not end within {limit} s") from exc
    seconds = time.perf_counter() - started
    if done.returncode != 0:
        raise BenchError(f"{' '.join(args[:3])}... ended with {done.returncode}: "
                         f"{done.stderr.strip()[-2000:]}")
    return seconds, done.stdout, done.stderr


def parse_fields(line):
    """key=value pairs of a result line."""
    fields = {}
    for word in line.split():
        key, _, value = word.partition("=")
        fields[key] = value
    return fields


def file_size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return -1


def empty_folder(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)


def write_random_file(path, size):
    """Incompressible content of the given size; kept across runs when it is already there."""
    if file_size(path) == size:
        return
    block = 16 * MIB
    with open(path, "wb") as out:
        left = size
        while left > 0:
            out.write(os.urandom(min(block, left)))
            left -= block


def read_through(path):
    """Reads a file once, so each tool finds it in the page cache."""
    with open(path, "rb") as source:
        while source.read(16 * MIB):
            pass


class FileServer:
    """bench_file_server on a free loopback port; ended when its standard input closes."""

    def __init__(self, program, folder):
        self.process = subprocess.Popen([program, folder], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True)
        ready, _, _ = select.select([self.process.stdout], [], [], SERVER_START_LIMIT_S)
        line = self.process.stdout.readline() if ready else ""
        if not line.startswith("port "):
            self.stop()
            raise BenchError("the file server did not start")
        self.port = int(line.split()[1])

    def url(self, name):
        return f"http://127.0.0.1:{self.port}/{name}"

    def stop(self):
        if self.process.poll() is None:
            self.process.stdin.close()
            try:
                self.process.wait(EXIT_LIMIT_S)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class Bench:
    def __init__(self, options):
        self.options = options
        self.build = os.path.abspath(options.build)
        self.programs = os.path.join(self.build, "bench")
        self.work = os.path.abspath(options.work)
        self.runs = options.runs
        self.rows = []
        self.notes = []

    def program(self, name):
        return os.path.join(self.programs, name)

    def row(self, what, ours, theirs, target, met):
        shown = "–" if met is None else "yes" if met else "**no**"
        self.rows.append((what, ours, theirs, target, shown))

    # ---- downloads -------------------------------------------------------------------------

    def download_ours(self, urls, size, out, tmp):
        empty_folder(out)
        empty_folder(tmp)
        _, stdout, _ = run_checked(
            [self.program("bench_download"), out, tmp, str(size)] + urls, TRANSFER_LIMIT_S)
        fields = parse_fields(stdout)
        # The program checked states and sizes itself; the folder is checked once more here.
        names = os.listdir(out)
        if len(names) != len(urls) or any(file_size(os.path.join(out, n)) != size for n in names):
            raise BenchError(f"bench_download left {names} in {out}")
        if os.listdir(tmp):
            raise BenchError(f"bench_download left temporary files: {os.listdir(tmp)}")
        before = int(fields["rss_before_kib"])
        peak = max(int(fields["rss_peak_kib"]), int(fields["hwm_kib"]))
        return float(fields["seconds"]), (peak - before) / 1024.0

    def download_curl_single(self, url, size, out):
        empty_folder(out)
        target = os.path.join(out, "curl.bin")
        wall, stdout, _ = run_checked(
            ["curl", "-sS", "--fail", "-o", target, "-w", "%{time_total}", url], TRANSFER_LIMIT_S)
        if file_size(target) != size:
            raise BenchError(f"curl wrote {file_size(target)} bytes of {size}")
        return float(stdout.strip()), wall

    def download_curl_many(self, urls, size, out):
        empty_folder(out)
        args = ["curl", "-sS", "--no-progress-meter", "--fail", "--parallel", "--parallel-max",
                str(len(urls))]
        targets = []
        for index, url in enumerate(urls):
            targets.append(os.path.join(out, f"curl-{index:02d}.bin"))
            args += ["-o", targets[-1], url]
        wall, _, _ = run_checked(args, TRANSFER_LIMIT_S)
        bad = [t for t in targets if file_size(t) != size]
        if bad:
            raise BenchError(f"curl --parallel left {len(bad)} incomplete files")
        return wall

    def raw_server_rate(self, url, size):
        rates = []
        for _ in range(self.runs):
            _, stdout, _ = run_checked(
                ["curl", "-sS", "--fail", "-o", "/dev/null", "-w", "%{size_download} %{time_total}",
                 url], TRANSFER_LIMIT_S)
            got, seconds = stdout.split()
            if int(got) != size:
                raise BenchError(f"the server sent {got} bytes of {size}")
            rates.append(size / float(seconds) / MIB)
        return Series(rates)

    def bench_downloads(self):
        data = os.path.join(self.work, "served")
        out = os.path.join(self.work, "out")
        tmp = os.path.join(self.work, "tmp")
        os.makedirs(data, exist_ok=True)
        single_size = self.options.single_mib * MIB
        many_size = self.options.many_mib * MIB
        many_count = self.options.many_count
        log(f"downloads: preparing {single_size // MIB} MiB and {many_count} x "
            f"{many_size // MIB} MiB in {data}")
        write_random_file(os.path.join(data, "single.bin"), single_size)
        write_random_file(os.path.join(data, "many-00.bin"), many_size)
        # Names of their own for the parallel files, one content: the page cache holds it once.
        for index in range(1, many_count):
            link = os.path.join(data, f"many-{index:02d}.bin")
            if not os.path.exists(link):
                os.link(os.path.join(data, "many-00.bin"), link)
        read_through(os.path.join(data, "single.bin"))
        read_through(os.path.join(data, "many-00.bin"))

        server = FileServer(self.program("bench_file_server"), data)
        try:
            single_url = server.url("single.bin")
            many_urls = [server.url(f"many-{i:02d}.bin") for i in range(many_count)]
            raw = self.raw_server_rate(single_url, single_size)
            self.notes.append(
                f"Loopback server (bench_file_server: a thread per connection, sendfile from the "
                f"page cache): curl -o /dev/null of the {single_size // MIB} MiB file ran at "
                f"{raw.show('{:.0f}', ' MiB/s')}.")
            curl_start = []
            ours, theirs, theirs_wall = [], [], []
            for index in range(self.runs):
                log(f"downloads: single, run {index + 1} of {self.runs}")
                seconds, _ = self.download_ours([single_url], single_size, out, tmp)
                ours.append(single_size / seconds / MIB)
                seconds, wall = self.download_curl_single(single_url, single_size, out)
                theirs.append(single_size / seconds / MIB)
                theirs_wall.append(wall)
                curl_start.append(wall - seconds)
            empty_folder(out)
            ours_s, theirs_s = Series(ours), Series(theirs)
            ratio = ours_s.median / theirs_s.median
            self.row(f"One download, {single_size // MIB} MiB: throughput",
                     ours_s.show("{:.0f}", " MiB/s"), theirs_s.show("{:.0f}", " MiB/s"),
                     f"ours ≥ {SINGLE_RATIO_TARGET} × curl (now {ratio:.2f})",
                     ratio >= SINGLE_RATIO_TARGET)

            ours, theirs, memory = [], [], []
            for index in range(self.runs):
                log(f"downloads: {many_count} at once, run {index + 1} of {self.runs}")
                seconds, grown = self.download_ours(many_urls, many_size, out, tmp)
                ours.append(many_count * many_size / seconds / MIB)
                memory.append(grown)
                wall = self.download_curl_many(many_urls, many_size, out)
                theirs.append(many_count * many_size / wall / MIB)
            empty_folder(out)
            empty_folder(tmp)
            ours_s, theirs_s, memory_s = Series(ours), Series(theirs), Series(memory)
            ratio = ours_s.median / theirs_s.median
            self.row(f"{many_count} downloads of {many_size // MIB} MiB at once: total throughput",
                     ours_s.show("{:.0f}", " MiB/s"), theirs_s.show("{:.0f}", " MiB/s"),
                     f"ours ≥ {MANY_RATIO_TARGET} × curl (now {ratio:.2f})",
                     ratio >= MANY_RATIO_TARGET)
            self.row(f"{many_count} downloads at once: memory above idle (peak RSS − RSS before)",
                     memory_s.show("{:.1f}", " MiB"), "–", f"< {MANY_MEMORY_TARGET_MIB} MiB",
                     max(memory_s.values) < MANY_MEMORY_TARGET_MIB)
            self.notes.append(
                "Downloads: ours is the time from the first start() to the last job's Done "
                "(the move into the output folder included), inside bench_download; curl's single "
                "figure is its own %{time_total}; curl --parallel's is the wall time of the whole "
                "process, start-up included (curl's start-up and exit around a transfer took "
                f"{Series([1000 * s for s in curl_start]).show('{:.0f}', ' ms')} here). "
                f"Source, temporary and output files all on the same disk ({self.fs_of(out)}), "
                "in the page cache; outputs are deleted between runs.")
        finally:
            server.stop()

    @staticmethod
    def fs_of(path):
        done = subprocess.run(["df", "--output=fstype,source", path], capture_output=True,
                              text=True)
        lines = done.stdout.split("\n")
        return " on ".join(lines[1].split()) if len(lines) > 1 else "unknown"

    # ---- MP3 -------------------------------------------------------------------------------

    @staticmethod
    def strip_ffmpeg_additions(data):
        """ffmpeg's MP3 muxer puts an ID3v2 tag and an Xing/Info frame before the frames it
        copies (and an ID3v1 tag after them if asked). Returns the copied frames and a
        description of what was cut."""
        cut = []
        start = 0
        if data[:3] == b"ID3" and len(data) >= 10:
            size = 0
            for byte in data[6:10]:
                size = (size << 7) | (byte & 0x7F)
            footer = 10 if data[5] & 0x10 else 0
            start = 10 + size + footer
            cut.append(f"an ID3v2.{data[3]} tag of {start} bytes")
        header = data[start:start + 4]
        if len(header) == 4 and header[0] == 0xFF and (header[1] & 0xE0) == 0xE0:
            length = Bench.mp3_frame_length(header)
            side = Bench.mp3_side_info_size(header)
            tag = data[start + 4 + side:start + 8 + side]
            if length and tag in (b"Xing", b"Info"):
                cut.append(f"a {tag.decode()} frame of {length} bytes")
                start += length
        end = len(data)
        if end - start >= 128 and data[end - 128:end - 125] == b"TAG":
            end -= 128
            cut.append("an ID3v1 tag of 128 bytes")
        return data[start:end], cut

    @staticmethod
    def mp3_frame_length(header):
        """Length of an MPEG-1 Layer III frame from its header; 0 for anything else."""
        bitrates = [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0]
        rates = [44100, 48000, 32000, 0]
        if (header[1] & 0x1E) != 0x1A:
            return 0
        kbps = bitrates[header[2] >> 4]
        rate = rates[(header[2] >> 2) & 3]
        if not kbps or not rate:
            return 0
        return 144 * kbps * 1000 // rate + ((header[2] >> 1) & 1)

    @staticmethod
    def mp3_side_info_size(header):
        return 17 if (header[3] >> 6) == 3 else 32

    def compare_mp3(self, ours_path, ffmpeg_path):
        with open(ours_path, "rb") as f:
            ours = f.read()
        with open(ffmpeg_path, "rb") as f:
            theirs = f.read()
        frames, cut = self.strip_ffmpeg_additions(theirs)
        return ours == frames, len(ours), len(theirs), cut

    def bench_mp3(self):
        folder = os.path.join(self.work, "mp3")
        os.makedirs(folder, exist_ok=True)
        sizes = self.options.flv_mb
        medians_in_process = {}
        identical_all = True
        cuts = set()
        ours_out = os.path.join(folder, "ours.mp3")
        ffmpeg_out = os.path.join(folder, "ffmpeg.mp3")
        for size in sizes:
            source = os.path.join(folder, f"bench-{size}MB.flv")
            _, stdout, _ = run_checked([self.program("bench_make_flv"), source, str(size)],
                                       CONVERT_LIMIT_S)
            log(f"mp3: made {source}: {stdout.strip()}")
            read_through(source)
            ours, inside, theirs = [], [], []
            for index in range(self.runs):
                log(f"mp3: {size} MB, run {index + 1} of {self.runs}")
                wall, stdout, _ = run_checked([self.program("bench_mp3"), source, ours_out],
                                              CONVERT_LIMIT_S)
                ours.append(wall)
                inside.append(float(parse_fields(stdout)["seconds"]))
                wall, _, stderr = run_checked(
                    ["ffmpeg", "-y", "-loglevel", "error", "-i", source, "-vn", "-acodec", "copy",
                     ffmpeg_out], CONVERT_LIMIT_S)
                if stderr.strip():
                    self.notes.append(f"ffmpeg said on {size} MB: {stderr.strip()[:300]}")
                theirs.append(wall)
                same, ours_bytes, theirs_bytes, cut = self.compare_mp3(ours_out, ffmpeg_out)
                if not same:
                    identical_all = False
                    self.notes.append(
                        f"MP3 {size} MB run {index + 1}: ours ({ours_bytes} bytes) differs from "
                        f"ffmpeg's ({theirs_bytes} bytes) after cutting {', '.join(cut)}.")
                cuts.add((size, ours_bytes, theirs_bytes, ", ".join(cut)))
            ours_s, theirs_s, inside_s = Series(ours), Series(theirs), Series(inside)
            medians_in_process[size] = inside_s
            speedup = theirs_s.median / inside_s.median
            self.row(f"MP3 from a {size} MB FLV: time",
                     f"{inside_s.show('{:.3f}', ' s')}; whole process "
                     f"{ours_s.show('{:.3f}', ' s')} ({theirs_s.median / ours_s.median:.1f} ×)",
                     theirs_s.show("{:.3f}", " s"),
                     f"ours ≥ {MP3_SPEEDUP_TARGET:.0f} × faster (now {speedup:.1f} ×)",
                     speedup >= MP3_SPEEDUP_TARGET)
            os.remove(source)
        self.row("MP3 output equal to ffmpeg's copied frames (every run, every size)",
                 "identical" if identical_all else "differs", "–", "byte-identical",
                 identical_all)
        if len(sizes) >= 3:
            middle, largest = sizes[-2], sizes[-1]
            growth = medians_in_process[largest].median / medians_in_process[middle].median
            expected = largest / middle
            self.row(f"MP3 time, {largest} MB against {middle} MB (ConvertToMp3 alone)",
                     f"{medians_in_process[largest].show('{:.3f}', ' s')} / "
                     f"{medians_in_process[middle].show('{:.3f}', ' s')} = {growth:.2f}",
                     "–", f"≤ {MP3_LINEAR_TARGET} (size ratio {expected:.1f})",
                     growth <= MP3_LINEAR_TARGET)
        for size, ours_bytes, theirs_bytes, cut in sorted(cuts):
            self.notes.append(
                f"MP3 {size} MB: ours {ours_bytes} bytes, ffmpeg {theirs_bytes} bytes; ffmpeg adds "
                f"{cut or 'nothing'}, the rest is compared byte for byte.")
        self.notes.append(
            "MP3: ours is ConvertToMp3 as the job runs it inside the program (timed inside "
            "bench_mp3), the target is judged on it; beside it, the wall time of the whole "
            "bench_mp3 process (its start-up, about 10 ms of loading the toolkit and libcurl, "
            "included). ffmpeg's is the wall time of the command users run: ffmpeg -y "
            "-loglevel error -i in.flv -vn -acodec copy out.mp3. The source is in the page "
            "cache for both (read once before the runs). The FLV files come "
            "from bench_make_flv: 20–60 KB video tags (VP6 with alpha, never decoded with -vn) "
            "interleaved by timestamp with one MPEG-1 Layer III frame per audio tag "
            "(128–256 kbit/s, 417–835 bytes, valid headers).")
        shutil.rmtree(folder, ignore_errors=True)

    # ---- the idle program ------------------------------------------------------------------

    def baseline_row(self, name, ours, base, form, unit, target):
        """A row judged as a ratio of ours to the bare toolkit window's median."""
        ratio = ours.median / base.median
        self.row(name, ours.show(form, unit), base.show(form, unit) + " baseline window",
                 f"≤ {target:g} × baseline (now {ratio:.2f})", ratio <= target)

    def start_xvfb(self):
        """A private X server on a display nobody holds; other programs on the machine start
        X servers too, so a display taken meanwhile makes ours exit and the next is tried."""
        number = FIRST_DISPLAY
        for _ in range(XVFB_ATTEMPTS):
            while os.path.exists(f"/tmp/.X{number}-lock"):
                number += 1
            display = f":{number}"
            log_path = os.path.join(self.work, "xvfb.log")
            with open(log_path, "w") as xvfb_log:
                process = subprocess.Popen(
                    ["Xvfb", display, "-screen", "0", "1280x1024x24", "-noreset", "-nolisten",
                     "tcp"], stdout=subprocess.DEVNULL, stderr=xvfb_log)
            deadline = time.monotonic() + SERVER_START_LIMIT_S
            probe_env = dict(os.environ, DISPLAY=display)
            while process.poll() is None and time.monotonic() < deadline:
                probe = subprocess.run(["xdotool", "getdisplaygeometry"], env=probe_env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                if probe.returncode == 0:
                    return process, display
                time.sleep(0.1)
            stop_process(process)
            with open(log_path) as said:
                log(f"idle: Xvfb on {display} took no clients: {said.read()[-300:]}")
            number += 1
        raise BenchError(f"no private X server could be started in {XVFB_ATTEMPTS} tries")

    def fresh_home(self):
        home = tempfile.mkdtemp(prefix="norvik-bench-home-", dir=self.work)
        # A closed loopback port: nothing idle should reach the service, and if the update
        # check ran it would fail at once instead of finding another agent's service.
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        with open(os.path.join(home, ".Norvik"), "w") as settings:
            settings.write(f"ServiceUrl=http://127.0.0.1:{port}\n")
        return home

    def launch_window(self, program, display):
        """Starts program through bench_window_map; (watcher, pid, milliseconds to map)."""
        home = self.fresh_home()
        env = dict(os.environ, HOME=home, DISPLAY=display)
        # Without XDG_RUNTIME_DIR the single-instance lock, too, is in the fresh home.
        for key in ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "WAYLAND_DISPLAY",
                    "XDG_RUNTIME_DIR"):
            env.pop(key, None)
        watcher = subprocess.Popen([self.program("bench_window_map"), program], env=env,
                                   cwd=home, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   text=True)
        ready, _, _ = select.select([watcher.stdout], [], [], WINDOW_LIMIT_S)
        line = watcher.stdout.readline() if ready else ""
        fields = parse_fields(line)
        if "pid" not in fields:
            stop_process(watcher)
            raise BenchError(f"{program} showed no window: {watcher.stderr.read()[-1000:]}")
        return watcher, int(fields["pid"]), float(fields["mapped_ms"]), home

    @staticmethod
    def end_window(watcher, pid, home):
        # Norvik may hang at exit while it owns the clipboard: ask, wait a little, then kill.
        for sig in (signal.SIGTERM, signal.SIGKILL):
            try:
                os.kill(pid, sig)
            except ProcessLookupError:
                break
            try:
                watcher.wait(EXIT_LIMIT_S)
                break
            except subprocess.TimeoutExpired:
                continue
        stop_process(watcher)
        shutil.rmtree(home, ignore_errors=True)

    @staticmethod
    def settled_rss_kib(pid):
        """VmRSS once it has stopped moving (libraries and the first paint done)."""
        samples = []
        started = time.monotonic()
        window = int(RSS_SETTLE_WINDOW_S / RSS_SAMPLE_PERIOD_S)
        while time.monotonic() - started < RSS_SETTLE_LIMIT_S:
            samples.append(status_kib(pid, "VmRSS"))
            recent = samples[-window:]
            if len(samples) > window and max(recent) - min(recent) < RSS_SETTLE_KIB:
                return samples[-1], True
            time.sleep(RSS_SAMPLE_PERIOD_S)
        return samples[-1], False

    def bench_idle(self):
        norvik = os.path.join(self.build, "norvik")
        baseline = self.program("bench_baseline_window")
        with_curl = self.program("bench_baseline_window_curl")
        xvfb, display = self.start_xvfb()
        try:
            # The first GTK program on a new X server probes OpenGL (loading Mesa and LLVM) and
            # leaves its choice of visuals on the root window for all that follow, as happens
            # once per desktop session. One unmeasured start pays that for every measured one.
            watcher, pid, _, home = self.launch_window(baseline, display)
            self.end_window(watcher, pid, home)
            start_ours, start_base, rss_ours, rss_base = [], [], [], []
            start_curl, rss_curl = [], []
            unsettled = 0
            for index in range(self.runs):
                for program, times, rss in ((norvik, start_ours, rss_ours),
                                            (baseline, start_base, rss_base),
                                            (with_curl, start_curl, rss_curl)):
                    log(f"idle: start-up of {os.path.basename(program)}, run {index + 1}")
                    watcher, pid, ms, home = self.launch_window(program, display)
                    try:
                        times.append(ms)
                        kib, settled = self.settled_rss_kib(pid)
                        unsettled += 0 if settled else 1
                        rss.append(kib / 1024.0)
                    finally:
                        self.end_window(watcher, pid, home)
            self.baseline_row("Start to window mapped (Xvfb)", Series(start_ours),
                              Series(start_base), "{:.0f}", " ms", STARTUP_RATIO_TARGET)
            base_s = Series(rss_base)
            self.baseline_row("Resident memory once settled (256 jobs)", Series(rss_ours), base_s,
                              "{:.1f}", " MiB", MEMORY_RATIO_TARGET)
            curl_start, curl_rss = Series(start_curl), Series(rss_curl)
            self.row("Reference: the baseline window that also loads and initialises libcurl "
                     "as Norvik does (start-up; memory)", "–",
                     f"{curl_start.show('{:.0f}', ' ms')}; {curl_rss.show('{:.1f}', ' MiB')}",
                     f"share of the download library: {curl_rss.median / base_s.median:.2f} × "
                     "baseline memory", None)
            if unsettled:
                self.notes.append(f"Memory: {unsettled} sample(s) had not settled within "
                                  f"{RSS_SETTLE_LIMIT_S} s; the last value was taken.")
            self.bench_idle_cpu(norvik, baseline, display)
        finally:
            stop_process(xvfb)
        self.notes.append(
            "Window start-up: bench_window_map selects SubstructureNotify on the root window "
            "of a private Xvfb (no window manager), forks and execs the program, and stops the "
            "clock at the MapNotify of a top-level window whose _NET_WM_PID is the child's. "
            "Each start has a fresh HOME; one unmeasured start of the baseline comes first, since "
            "the first GTK program on a new X server probes OpenGL (Mesa and LLVM, about 55 MiB "
            "more) and leaves its choice on the root window for all that follow, as happens once "
            "per desktop session. Memory is VmRSS once it moved less than "
            f"{RSS_SETTLE_KIB} KiB over {RSS_SETTLE_WINDOW_S:.0f} s (sampled every "
            f"{RSS_SAMPLE_PERIOD_S} s). The baseline is bench_baseline_window: a frame with "
            "one text field, the same toolkit libraries and flags.")

    def bench_idle_cpu(self, norvik, baseline, display):
        ticks = os.sysconf("SC_CLK_TCK")
        ours, base = [], []
        served = []
        for index in range(self.options.idle_runs):
            log(f"idle: CPU over {self.options.idle_seconds} s, run {index + 1} of "
                f"{self.options.idle_runs}")
            env = dict(os.environ, DISPLAY=display)
            # -verbose, like -quiet, keeps xclip in the foreground owning the selection, and
            # it also prints each request it serves: the count proves Norvik polled.
            owner = subprocess.Popen(["xclip", "-verbose", "-selection", "clipboard"], env=env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, text=True)
            owner.stdin.write(CLIPBOARD_TEXT)
            owner.stdin.close()
            launched = []
            try:
                for program in (norvik, baseline):
                    launched.append(self.launch_window(program, display))
                time.sleep(IDLE_WARMUP_S)
                before = [cpu_ticks(pid) for _, pid, _, _ in launched]
                started = time.monotonic()
                time.sleep(self.options.idle_seconds)
                after = [cpu_ticks(pid) for _, pid, _, _ in launched]
                elapsed = time.monotonic() - started
            finally:
                for watcher, pid, _, home in launched:
                    self.end_window(watcher, pid, home)
                stop_process(owner)
            transcript = owner.stdout.read()
            # xclip announces the request it waits for, so the last one was never served.
            served.append(max(0, transcript.count("Waiting for selection request number") - 1))
            ours.append(100.0 * (after[0] - before[0]) / ticks / elapsed)
            base.append(100.0 * (after[1] - before[1]) / ticks / elapsed)
        ours_s, base_s = Series(ours), Series(base)
        self.row(f"CPU idle over {self.options.idle_seconds} s, text on the clipboard",
                 ours_s.show("{:.2f}", " %"), base_s.show("{:.2f}", " %") + " baseline window",
                 f"< {IDLE_CPU_TARGET_PERCENT:.0f} % of a core",
                 ours_s.median < IDLE_CPU_TARGET_PERCENT)
        self.notes.append(
            f"Idle CPU: utime+stime from /proc/PID/stat over {self.options.idle_seconds} s, "
            f"{IDLE_WARMUP_S} s after the window showed, Norvik and the baseline side by side "
            "while xclip owned the clipboard with plain text; xclip served "
            f"{', '.join(str(n) for n in served)} selection requests in those runs (all "
            "clients, over the whole run), which shows the clipboard was being read.")
        if min(served) == 0:
            raise BenchError("Norvik never read the clipboard: the idle figure measured nothing")

    # ---- report ----------------------------------------------------------------------------

    def machine_line(self):
        with open("/proc/meminfo") as info:
            total_kib = int(info.readline().split()[1])
        model = "unknown processor"
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
        return (f"{os.cpu_count()} cores ({model}), {total_kib / (1 << 20):.1f} GiB memory, "
                f"{platform.system()} {platform.release()}")

    def table(self, load_before):
        lines = [
            "# Norvik benchmarks",
            "",
            f"Run {datetime.datetime.now().strftime('%Y-%m-%d %H:%M')} with `scripts/bench.sh"
            f"{' --quick' if self.options.quick else ''}`, {self.runs} interleaved runs per "
            "figure (ours, theirs, ours, theirs...).",
            f"Machine: {self.machine_line()}; load average before the run {load_before}.",
            "",
            "Each figure: median (min–max) over the runs.",
            "",
            "| Benchmark | Norvik | Reference | Target | Met |",
            "| --- | --- | --- | --- | --- |",
        ]
        for what, ours, theirs, target, met in self.rows:
            lines.append(f"| {what} | {ours} | {theirs} | {target} | {met} |")
        lines += ["", "## How it was measured", ""]
        lines += [f"- {note}" for note in self.notes]
        return "\n".join(lines) + "\n"

    def run(self):
        os.makedirs(self.work, exist_ok=True)
        with open("/proc/loadavg") as f:
            load_before = " ".join(f.read().split()[:3])
        chosen = self.options.only or ["downloads", "mp3", "idle"]
        if "downloads" in chosen:
            self.bench_downloads()
        if "mp3" in chosen:
            self.bench_mp3()
        if "idle" in chosen:
            self.bench_idle()
        return self.table(load_before)


def status_kib(pid, key):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    raise BenchError(f"no {key} for process {pid}")


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as stat:
        # The command name may hold blanks: count the fields after its closing parenthesis.
        fields = stat.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def stop_process(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(EXIT_LIMIT_S)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, help="release build folder")
    parser.add_argument("--work", required=True, help="scratch folder on the output disk")
    parser.add_argument("--results", help="Markdown file to write the table to")
    parser.add_argument("--quick", action="store_true", help="small sizes, for development")
    parser.add_argument("--runs", type=int, help="interleaved runs per figure")
    parser.add_argument("--only", action="append",
                        choices=["downloads", "mp3", "idle"], help="run only these")
    options = parser.parse_args()
    if options.quick:
        options.single_mib, options.many_count, options.many_mib = 64, 32, 2
        options.flv_mb = [5, 10, 20]
        options.idle_runs, options.idle_seconds = 1, 5
        options.runs = options.runs or 2
    else:
        options.single_mib, options.many_count, options.many_mib = 1024, 32, 32
        options.flv_mb = [50, 100, 200]
        options.idle_runs, options.idle_seconds = 3, 30
        options.runs = options.runs or 5
    try:
        report = Bench(options).run()
    except BenchError as error:
        log(f"bench: could not measure: {error}")
        return 1
    print(report)
    if options.results:
        with open(options.results, "w") as out:
            out.write(report)
    return 0


if __name__ == "__main__":
    sys.exit(main())
