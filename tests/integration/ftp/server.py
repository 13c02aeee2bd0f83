"""The FTP server of the tests: `server.py DIR [PORT]` serves two accounts on 127.0.0.1 (PORT, or a free port
when none is given) and writes that port to DIR/port once it listens. A second listener on a free port
(DIR/busyport) lets one session in per address and refuses the next with pyftpdlib's own 421.

- qzc1 / qrw4#KLBcvx2, home DIR/webhost: the web host of the "_2" removal (public_html/download/versions/).
- backup_checker / Rtm_e457., home DIR/backup: the backup server (csdb_backup/servers, pvdb_backup/servers,
  csdb_backup_new/daily, pvdb_backup_new/daily).

Like the Korean Windows servers the program talks to, names travel in CP949 on the control and the listing
connections. Hooks let the tests reproduce what a healthy server never does on demand (the tests may run
as root, which file permissions do not stop):
- RNFR of a name containing "refuse" is answered "550 Permission denied.";
- NLST of a path containing "stall" is never answered, as a server that stops responding;
- RNFR of a name containing "crash" kills the server on the spot (SIGKILL, no answer), once: DIR/crashed
  records it, and a server started again in DIR renames the file like any other;
- NLST of a directory holding a name that contains "freeze" sends the names sorted before it and then stops
  the whole server (SIGSTOP) in the middle of the listing, once: DIR/frozen records it. SIGCONT lets it go on
  with the rest of the listing.
- NLST of a directory holding a file named "million" lists a million made-up names instead;
- NLST of a path containing "trickle" sends one name every 0.2 s, for ever.
- NLST of a directory holding a file named "endless" sends one name that never ends (no line end, ever).
Every data connection set up is noted in DIR/datamodes as a line "passive" or "active", every log-in in
DIR/logins as a line with the account's name.

Runs with Debian's python3-pyftpdlib, which only /usr/bin/python3 sees.
"""

import logging
import os
import signal
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import FilesystemError
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

ENCODING = "cp949"
REFUSE_MARKER = "refuse"
STALL_MARKER = "stall"
CRASH_MARKER = "crash"
FREEZE_MARKER = "freeze"
MILLION_MARKER = "million"
TRICKLE_MARKER = "trickle"
ENDLESS_MARKER = "endless"
FULL_PERMISSIONS = "elradfmwMT"


class Handler(FTPHandler):
    # A wrong password is answered at once, not after the usual 3 s pause.
    auth_failed_timeout = 0.01
    root = ""

    def note_data_mode(self, mode):
        with open(os.path.join(self.root, "datamodes"), "a") as file:
            file.write(mode + "\n")

    def ftp_PASV(self, line):
        self.note_data_mode("passive")
        return super().ftp_PASV(line)

    def ftp_EPSV(self, line):
        self.note_data_mode("passive")
        return super().ftp_EPSV(line)

    def ftp_PORT(self, line):
        self.note_data_mode("active")
        return super().ftp_PORT(line)

    def ftp_EPRT(self, line):
        self.note_data_mode("active")
        return super().ftp_EPRT(line)

    def on_login(self, username):
        with open(os.path.join(self.root, "logins"), "a") as file:
            file.write(username + "\n")

    def decode(self, data):
        return data.decode(ENCODING, self.unicode_errors)

    def ftp_NLST(self, path):
        if STALL_MARKER in path:
            return None
        if TRICKLE_MARKER in path:
            self.push_dtp_data(Trickle(), isproducer=True, cmd="NLST")
            return path
        if self.fs.isdir(path) and os.path.exists(os.path.join(path, MILLION_MARKER)):
            self.push_dtp_data(Million(), isproducer=True, cmd="NLST")
            return path
        if self.fs.isdir(path) and os.path.exists(os.path.join(path, ENDLESS_MARKER)):
            self.push_dtp_data(Endless(), isproducer=True, cmd="NLST")
            return path
        try:
            if self.fs.isdir(path):
                listing = sorted(self.run_as_current_user(self.fs.listdir, path))
            else:
                self.fs.lstat(path)
                listing = [os.path.basename(path)]
        except (OSError, FilesystemError) as err:
            self.respond("550 %s." % (err.strerror if isinstance(err, OSError) else err))
            return None
        lines = [(name + "\r\n").encode(ENCODING, self.unicode_errors) for name in listing]
        frozen = os.path.join(self.root, "frozen")
        freeze = next((i for i, name in enumerate(listing) if FREEZE_MARKER in name), None)
        if freeze is not None and not os.path.exists(frozen):
            open(frozen, "w").close()
            self.push_dtp_data(FreezingListing(b"".join(lines[:freeze]), b"".join(lines[freeze:])),
                               isproducer=True, cmd="NLST")
        else:
            self.push_dtp_data(b"".join(lines), cmd="NLST")
        return path

    def ftp_RNFR(self, path):
        name = os.path.basename(path)
        if REFUSE_MARKER in name:
            self.respond("550 Permission denied.")
            return None
        crashed = os.path.join(self.root, "crashed")
        if CRASH_MARKER in name and not os.path.exists(crashed):
            open(crashed, "w").close()
            os.kill(os.getpid(), signal.SIGKILL)
        return super().ftp_RNFR(path)


class Million:
    """A listing of a million names, made up as it goes out."""

    def __init__(self):
        self.next = 0

    def more(self):
        if self.next >= 1000000:
            return b""
        first, self.next = self.next, self.next + 10000
        return b"".join(b"name%07d.zip\r\n" % i for i in range(first, self.next))


class Endless:
    """A listing of one name that never ends."""

    def more(self):
        return b"x" * 65536


class Trickle:
    """A listing that never ends: one name, a pause, the next name."""

    def __init__(self):
        self.next = 0

    def more(self):
        time.sleep(0.2)
        self.next += 1
        return b"slow%d.zip\r\n" % self.next


class FreezingListing:
    """A listing producer: the first part, then, once that part has gone out, the server stops itself; the
    rest follows when it is continued."""

    def __init__(self, first, rest):
        self.first, self.rest = first, rest
        self.stopped = False

    def more(self):
        if self.first:
            first, self.first = self.first, b""
            return first
        if not self.stopped:
            self.stopped = True
            os.kill(os.getpid(), signal.SIGSTOP)
        rest, self.rest = self.rest, b""
        return rest


def accounts(root):
    """The two accounts, their homes made below root with the folders the jobs expect."""
    homes = {
        "webhost": ["public_html/download/versions"],
        "backup": ["csdb_backup/servers", "pvdb_backup/servers", "csdb_backup_new/daily",
                   "pvdb_backup_new/daily"],
    }
    for home, folders in homes.items():
        for folder in folders:
            os.makedirs(os.path.join(root, home, folder), exist_ok=True)

    authorizer = DummyAuthorizer()
    authorizer.add_user("qzc1", "qrw4#KLBcvx2", os.path.join(root, "webhost"), perm=FULL_PERMISSIONS)
    authorizer.add_user("backup_checker", "Rtm_e457.", os.path.join(root, "backup"), perm=FULL_PERMISSIONS)
    return authorizer


def main():
    root = os.path.abspath(sys.argv[1])
    Handler.authorizer = accounts(root)
    Handler.root = root

    logging.basicConfig(level=logging.WARNING, format="%(asctime)s %(message)s")
    port = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    server = FTPServer(("127.0.0.1", port), Handler)
    port = server.socket.getsockname()[1]
    busy = FTPServer(("127.0.0.1", 0), Handler, ioloop=server.ioloop)
    busy.max_cons_per_ip = 1
    with open(os.path.join(root, "busyport"), "w") as file:
        file.write("%d\n" % busy.socket.getsockname()[1])
    with open(os.path.join(root, "port.tmp"), "w") as file:
        file.write("%d\n" % port)
    os.replace(os.path.join(root, "port.tmp"), os.path.join(root, "port"))
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
