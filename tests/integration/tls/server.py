"""The TLS peers of the tests: `server.py DIR` serves, each on 127.0.0.1 and 127.0.0.2 (one port per server):

- ftps: explicit TLS FTP (pyftpdlib's TLS_FTPHandler; AUTH TLS and PROT P required), certificate certs/server;
- ftp: the same accounts in clear;
- https: files below DIR/www, certificate certs/soon (it expires in ten days);
- http: the same files in clear.

The FTP accounts and homes are those of the FTP fixture (qzc1 in DIR/webhost, backup_checker in DIR/backup).
Every FTP command received is appended to DIR/commands.log as "address:port COMMAND", so a test can tell
whether a password was sent, and to which server. The ports go to DIR/ports as "name port" lines; DIR/port holds the first.

Runs with Debian's python3-pyftpdlib and python3-openssl, which only /usr/bin/python3 sees.
"""

import http.server
import importlib.util
import os
import socketserver
import ssl
import sys
import threading

from OpenSSL import SSL
from pyftpdlib.handlers import FTPHandler, TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.ioloop import IOLoop
from pyftpdlib.servers import FTPServer

# The FTP fixture's accounts and homes.
_spec = importlib.util.spec_from_file_location(
    "ftp_fixture", os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ftp", "server.py"))
ftp_fixture = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(ftp_fixture)

ROOT = os.path.abspath(sys.argv[1])
CERTS = os.path.join(os.path.dirname(ROOT), "certs")
WWW = os.path.join(ROOT, "www")
ADDRESSES = ("127.0.0.1", "127.0.0.2")


class Recording:
    def pre_process_command(self, line, cmd, arg):
        address, port = self.socket.getsockname()[:2]
        with open(os.path.join(ROOT, "commands.log"), "a") as log:
            log.write("%s:%d %s\n" % (address, port, cmd))
        return super().pre_process_command(line, cmd, arg)

    def decode(self, data):
        return data.decode("cp949", self.unicode_errors)


class PlainHandler(Recording, FTPHandler):
    auth_failed_timeout = 0.01


class TlsData(TLS_DTPHandler):
    # A client that starts the data connection's handshake before its NLST (libcurl does) would otherwise
    # find the connection closed as one that is not meant to be read yet.
    def readable(self):
        return self._ssl_accepting or super().readable()


class TlsHandler(Recording, TLS_FTPHandler):
    dtp_handler = TlsData
    auth_failed_timeout = 0.01
    certfile = os.path.join(CERTS, "server.pem")
    keyfile = os.path.join(CERTS, "server.key")
    tls_control_required = True
    tls_data_required = True

    @classmethod
    def get_ssl_context(cls):
        # A client resumes the control connection's session on each data connection, as servers that
        # check the two belong together expect; OpenSSL resumes only within a named session context.
        if cls.ssl_context is None:
            super().get_ssl_context()
            cls.ssl_context.set_session_id(b"zep-test")
        return cls.ssl_context


class Files(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        local = os.path.normpath(os.path.join(WWW, self.path.split("?")[0].lstrip("/")))
        if not local.startswith(WWW):
            return self.answer(403, b"forbidden")
        if os.path.isfile(local):
            with open(local, "rb") as f:
                return self.answer(200, f.read())
        self.answer(404, b"not found")

    def answer(self, status, body):
        try:
            self.send_response(status)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, OSError):
            pass

    def log_message(self, *args):
        pass


class HttpServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def http_servers(port, context):
    servers = []
    for address in ADDRESSES:
        server = HttpServer((address, port), Files)
        port = server.server_address[1]
        if context is not None:
            server.socket = context.wrap_socket(server.socket, server_side=True)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        servers.append(server)
    return port


def ftp_servers(handler):
    port = 0
    for address in ADDRESSES:
        server = FTPServer((address, port), handler)
        port = server.socket.getsockname()[1]
    return port


def main():
    os.makedirs(WWW, exist_ok=True)
    PlainHandler.authorizer = TlsHandler.authorizer = ftp_fixture.accounts(ROOT)

    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(os.path.join(CERTS, "soon.pem"), os.path.join(CERTS, "soon.key"))
    ports = [("ftps", ftp_servers(TlsHandler)), ("ftp", ftp_servers(PlainHandler)),
             ("https", http_servers(0, context)), ("http", http_servers(0, None))]
    with open(os.path.join(ROOT, "ports"), "w") as f:
        f.write("".join("%s %d\n" % p for p in ports))
    with open(os.path.join(ROOT, "port.tmp"), "w") as f:
        f.write("%d\n" % ports[0][1])
    os.replace(os.path.join(ROOT, "port.tmp"), os.path.join(ROOT, "port"))
    IOLoop.instance().loop()


if __name__ == "__main__":
    main()
