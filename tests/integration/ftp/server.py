"""The FTP server of the tests: `server.py DIR` serves two accounts on a free 127.0.0.1 port and writes that port
to DIR/port once it listens.

- qzc1 / qrw4#KLBcvx2, home DIR/webhost: the web host of the "_2" removal (public_html/download/versions/).
- backup_checker / Rtm_e457., home DIR/backup: the backup server (csdb_backup/servers, pvdb_backup/servers,
  csdb_backup_new/daily, pvdb_backup_new/daily).

Like the Korean Windows servers the program talks to, names travel in CP949 on the control and the listing
connections. Two hooks let the tests reproduce what a healthy server never does on demand (the tests may run
as root, which file permissions do not stop):
- RNFR of a name containing "refuse" is answered "550 Permission denied.";
- NLST of a path containing "stall" is never answered, as a server that stops responding.
Every data connection set up is noted in DIR/datamodes as a line "passive" or "active".

Runs with Debian's python3-pyftpdlib, which only /usr/bin/python3 sees.
"""

import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import FilesystemError
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

ENCODING = "cp949"
REFUSE_MARKER = "refuse"
STALL_MARKER = "stall"
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

    def decode(self, data):
        return data.decode(ENCODING, self.unicode_errors)

    def ftp_NLST(self, path):
        if STALL_MARKER in path:
            return None
        try:
            if self.fs.isdir(path):
                listing = sorted(self.run_as_current_user(self.fs.listdir, path))
            else:
                self.fs.lstat(path)
                listing = [os.path.basename(path)]
        except (OSError, FilesystemError) as err:
            self.respond("550 %s." % (err.strerror if isinstance(err, OSError) else err))
            return None
        data = "".join(name + "\r\n" for name in listing)
        self.push_dtp_data(data.encode(ENCODING, self.unicode_errors), cmd="NLST")
        return path

    def ftp_RNFR(self, path):
        if REFUSE_MARKER in os.path.basename(path):
            self.respond("550 Permission denied.")
            return None
        return super().ftp_RNFR(path)


def main():
    root = os.path.abspath(sys.argv[1])
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
    Handler.authorizer = authorizer
    Handler.root = root

    logging.basicConfig(level=logging.WARNING, format="%(asctime)s %(message)s")
    server = FTPServer(("127.0.0.1", 0), Handler)
    port = server.socket.getsockname()[1]
    with open(os.path.join(root, "port.tmp"), "w") as file:
        file.write("%d\n" % port)
    os.replace(os.path.join(root, "port.tmp"), os.path.join(root, "port"))
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
