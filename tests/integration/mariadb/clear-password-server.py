"""A MySQL server that is after the password: `clear-password-server.py DIR` listens on 127.0.0.1 (its port in
DIR/port) and, to each client, either asks for the mysql_clear_password plug-in in its greeting or, when
DIR/mode reads "switch", greets with mysql_native_password and then asks to switch to mysql_clear_password.
Whatever a client sends is appended to DIR/received, so a test can see whether a password reached the socket.
"""
import os
import socket
import struct
import sys

root = os.path.abspath(sys.argv[1])
CAPABILITIES = 0x0001 | 0x0008 | 0x0200 | 0x8000 | 0x80000  # long password, db, 4.1, secure, plug-in auth


def packet(sequence, body):
    return struct.pack("<I", len(body))[:3] + bytes([sequence]) + body


def greeting(plugin):
    scramble = b"abcdefghijklmnopqrst"
    return (b"\x0a" + b"5.5.5-11.0.2-MariaDB\x00" + struct.pack("<I", 7) + scramble[:8] + b"\x00" +
            struct.pack("<H", CAPABILITIES & 0xFFFF) + b"\x21" + struct.pack("<H", 2) +
            struct.pack("<H", CAPABILITIES >> 16) + bytes([21]) + b"\x00" * 10 + scramble[8:] + b"\x00" +
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
        return body
    except OSError:
        return None


def serve(conn):
    mode_file = os.path.join(root, "mode")
    switch = os.path.exists(mode_file) and open(mode_file).read().strip() == "switch"
    with open(os.path.join(root, "received"), "ab") as log:
        conn.settimeout(3)
        conn.sendall(packet(0, greeting(b"mysql_native_password" if switch else b"mysql_clear_password")))
        if read_packet(conn, log) is None:
            return
        if switch:
            conn.sendall(packet(2, b"\xfemysql_clear_password\x00"))
            if read_packet(conn, log) is None:
                return
        conn.sendall(packet(4 if switch else 2, b"\x00\x00\x00\x02\x00\x00\x00"))
        while read_packet(conn, log) is not None:
            pass


def main():
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
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
