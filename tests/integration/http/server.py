"""A throw-away HTTP server for the tests, serving the folder DIR/www.

Every request line's path (with its query) is appended to DIR/requests.log. Three kinds of file change what is
sent back:
  <file>.status   an HTTP status to answer instead of 200 (the file itself, if any, is the body)
  <file>.delay    seconds to wait before answering (a server slower than the client's patience)
  <file>.endless  the answer never ends: the file again and again without a length (blanks when there is no
                  file), as fast as the client takes it, until the client gives up
  <file>.trickle  the answer never ends: one byte every 0.2 s
  <file>.cut      the answer announces the whole file but only its first N bytes (the number in the .cut file,
                  half the file when it is empty) are sent before the connection is closed: a download
                  dropped half-way
A missing file is a 404 with a small HTML page. The query string does not take part in finding the file.
"""
import http.server
import os
import sys
import time
import urllib.parse

root = os.path.abspath(sys.argv[1])
www = os.path.join(root, "www")
os.makedirs(www, exist_ok=True)


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        with open(os.path.join(root, "requests.log"), "a", encoding="utf-8") as log:
            log.write(urllib.parse.unquote(self.path) + "\n")
        path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        local = os.path.normpath(os.path.join(www, path.lstrip("/")))
        if not local.startswith(www):
            return self.answer(403, b"forbidden")
        if os.path.exists(local + ".delay"):
            with open(local + ".delay") as f:
                time.sleep(float(f.read().strip() or "0"))
        for marker, pause in ((".endless", 0), (".trickle", 0.2)):
            if os.path.exists(local + marker):
                body = b" "
                if os.path.isfile(local):
                    with open(local, "rb") as f:
                        body = f.read() or b" "
                return self.endless(body, pause)
        status = 200
        if os.path.exists(local + ".status"):
            with open(local + ".status") as f:
                status = int(f.read().strip())
        if os.path.isfile(local):
            with open(local, "rb") as f:
                body = f.read()
            sent = len(body)
            if os.path.exists(local + ".cut"):
                with open(local + ".cut") as f:
                    text = f.read().strip()
                sent = int(text) if text else len(body) // 2
                self.close_connection = True
            return self.answer(status, body, sent=sent)
        self.answer(404, b"<html><body><h1>404 Not Found</h1></body></html>", "text/html")

    def answer(self, status, body, content_type="application/octet-stream", sent=None):
        try:
            self.send_response(status)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body if sent is None else body[:sent])
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client gave up waiting

    def endless(self, body, pause):
        self.close_connection = True
        try:
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.end_headers()
            chunk = body[:1] if pause else body * max(1, 65536 // len(body))
            while True:
                self.wfile.write(chunk)
                if pause:
                    self.wfile.flush()
                    time.sleep(pause)
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client gave up

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
with open(os.path.join(root, "port.tmp"), "w") as f:
    f.write(str(server.server_address[1]))
os.replace(os.path.join(root, "port.tmp"), os.path.join(root, "port"))
server.serve_forever()
