"""A watch page of our own on loopback, for the service's real resolver (yt-dlp).

yt-dlp's generic extractor reads <video><source src=... type="video/mp4"> from the page, so
the whole road from a lookup to a relayed stream runs offline. Given a DASH presentation's
folder, the watch page of dash_id is its manifest, which the generic extractor reads into
video-only and sound-only formats; its segments are served beside it.
"""

import http.server
import os
import threading


class WatchPage:
    def __init__(self, clip_path, title, dash_dir=None, dash_id=None):
        page = (f"<html><head><title>{title}</title></head><body><video>"
                f"<source src=\"/clip.mp4\" type=\"video/mp4\"></video></body></html>").encode()
        size = os.path.getsize(clip_path)

        def send_file(handler, path, with_body):
            with open(path, "rb") as f:
                body = f.read()
            handler.send_response(200)
            handler.send_header("Content-Length", str(len(body)))
            handler.end_headers()
            if with_body:
                try:
                    handler.wfile.write(body)
                except (BrokenPipeError, ConnectionResetError):
                    # ffmpeg closes a segment's connection once it has what it needs.
                    pass

        dash_files = set(os.listdir(dash_dir)) if dash_dir else set()

        class Handler(http.server.BaseHTTPRequestHandler):
            def answer(self, with_body):
                if dash_dir and self.path == f"/watch?v={dash_id}":
                    send_file(self, os.path.join(dash_dir, "manifest.mpd"), with_body)
                elif self.path.lstrip("/") in dash_files:
                    send_file(self, os.path.join(dash_dir, self.path.lstrip("/")), with_body)
                elif self.path.startswith("/watch?"):
                    self.send_response(200)
                    self.send_header("Content-Type", "text/html; charset=utf-8")
                    self.send_header("Content-Length", str(len(page)))
                    self.end_headers()
                    if with_body:
                        self.wfile.write(page)
                elif self.path == "/clip.mp4":
                    self.send_response(200)
                    self.send_header("Content-Type", "video/mp4")
                    self.send_header("Content-Length", str(size))
                    self.end_headers()
                    if with_body:
                        self.wfile.flush()
                        with open(clip_path, "rb") as clip:
                            # sendfile: the page must not be what a benchmark measures.
                            self.connection.sendfile(clip)
                else:
                    self.send_error(404)

            def do_GET(self):
                self.answer(True)

            def do_HEAD(self):
                self.answer(False)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()
        self.watch_url = f"http://127.0.0.1:{self.server.server_port}/watch?v=%s"

    def close(self):
        self.server.shutdown()
        self.server.server_close()
