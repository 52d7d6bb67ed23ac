"""A watch page of our own on loopback, for the service's real resolver (yt-dlp).

yt-dlp's generic extractor reads <video><source src=... type="video/mp4"> from the page, so
the whole road from a lookup to a relayed stream runs offline.
"""

import http.server
import os
import threading


class WatchPage:
    def __init__(self, clip_path, title):
        page = (f"<html><head><title>{title}</title></head><body><video>"
                f"<source src=\"/clip.mp4\" type=\"video/mp4\"></video></body></html>").encode()
        size = os.path.getsize(clip_path)

        class Handler(http.server.BaseHTTPRequestHandler):
            def answer(self, with_body):
                if self.path.startswith("/watch?"):
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
