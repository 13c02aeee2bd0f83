"""A MySQL server that is after the password: `clear-password-server.py DIR [ADDRESS [PORT]]` listens on
ADDRESS:PORT (127.0.0.1 and a free port unless given; the port in DIR/port) and, to each client, either asks
for the plug-in named in DIR/plugin (mysql_clear_password unless set) in its greeting or, when DIR/mode reads
"switch", greets with mysql_native_password and then asks to switch to that plug-in. With DIR/cert.pem and
DIR/key.pem it offers TLS, as a server holding a certificate from the company's CA would. Whatever a client
sends (inside TLS: what it encrypted) is appended to DIR/received, so a test can see whether a password reached
the server.
"""
import os
import socket
import ssl
import struct
import sys

root = os.path.abspath(sys.argv[1])
address = sys.argv[2] if len(sys.argv) > 2 else "127.0.0.1"
listen_port = int(sys.argv[3]) if len(sys.argv) > 3 else 0
CAPABILITIES = 0x0001 | 0x0008 | 0x0200 | 0x8000 | 0x80000  # long password, db, 4.1, secure, plug-in auth
CLIENT_SSL = 0x0800


def packet(sequence, body):
    return struct.pack("<I", len(body))[:3] + bytes([sequence]) + body


def greeting(plugin, capabilities):
    scramble = b"abcdefghijklmnopqrst"
    return (b"\x0a" + b"5.5.5-11.0.2-MariaDB\x00" + struct.pack("<I", 7) + scramble[:8] + b"\x00" +
            struct.pack("<H", capabilities & 0xFFFF) + b"\x21" + struct.pack("<H", 2) +
            struct.pack("<H", capabilities >> 16) + bytes([21]) + b"\x00" * 10 + scramble[8:] + b"\x00" +
            plugin + b"\x00")


def read_packet(conn, log):
    try:
        head = conn.recv(4)
        if len(head) < 4:
            return None
        length = int.from_bytes(head[:3], "little")
        body = b""
        while len(body) < length:
            more = conn.recv(length - len(body))
            if not more:
                break
            body += more
        log.write(head + body)
        log.flush()
        return head[3], body
    except OSError:
        return None


def setting(name, default):
    path = os.path.join(root, name)
    return open(path).read().strip() if os.path.exists(path) else default


def serve(conn):
    tls = None
    if os.path.exists(os.path.join(root, "cert.pem")):
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(os.path.join(root, "cert.pem"), os.path.join(root, "key.pem"))
    switch = setting("mode", "greeting") == "switch"
    plugin = setting("plugin", "mysql_clear_password").encode()
    with open(os.path.join(root, "received"), "ab") as log:
        conn.settimeout(3)
        capabilities = CAPABILITIES | (CLIENT_SSL if tls else 0)
        conn.sendall(packet(0, greeting(b"mysql_native_password" if switch else plugin, capabilities)))
        answer = read_packet(conn, log)
        if answer is None:
            return
        if tls and len(answer[1]) == 32:  # the client's request for TLS: the log-in follows inside it
            try:
                conn = tls.wrap_socket(conn, server_side=True)
            except (OSError, ssl.SSLError):
                return
            answer = read_packet(conn, log)
            if answer is None:
                return
        if switch:
            conn.sendall(packet(answer[0] + 1, b"\xfe" + plugin + b"\x00"))
            answer = read_packet(conn, log)
            if answer is None:
                return
        conn.sendall(packet(answer[0] + 1, b"\x00\x00\x00\x02\x00\x00\x00"))
        while read_packet(conn, log) is not None:
            pass


def main():
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, listen_port))
    listener.listen(4)
    with open(os.path.join(root, "port.tmp"), "w") as f:
        f.write("%d\n" % listener.getsockname()[1])
    os.replace(os.path.join(root, "port.tmp"), os.path.join(root, "port"))
    while True:
        conn, _ = listener.accept()
        with conn:
            serve(conn)


if __name__ == "__main__":
    main()
