"""Sessions chrooted to their homes (DefaultRoot ~) through ProFTPD with
mod_quellin, over FTP, FTPS and SFTP: the module asks about the real paths
the rules name and the kernel keeps the session in its home. bob is shown
real paths, carol is kept in her home."""

import contextlib
import ftplib
import io
import os
import pwd
import socket
import ssl
import unittest

import paramiko

import test_ftp_end_to_end as e2e

SITE = None
SECRET = b"ann's secret\n"


def setUpModule():
    global SITE
    if e2e.SERVER != "proftpd":
        raise RuntimeError("these tests need KESTRIX_E2E_SERVER=proftpd")
    SITE = site = e2e.Site(chroot="home")
    ann = site.dir("ann")
    site.add_user("ann", "Secret", home=ann)
    site.file(os.path.join(ann, "secret.txt"), SECRET)
    for name, relative in (("bob", 0), ("carol", 1)):
        home = site.dir(name)
        site.add_user(name, "Secret", home=home, rel_path=relative)
        site.file(os.path.join(home, "own.txt"), b"own\n")
        # A link out, with a rule that would let it be read: the chroot
        # stops it where no rule does.
        os.symlink(ann, os.path.join(home, "link"))
        site.add_rule(name, ann, "RL")
        # A rule on a folder of the home, named by its real path.
        site.file(os.path.join(home, "ro", "manual.txt"), b"manual\n")
        site.add_rule(name, os.path.join(home, "ro"), "RL")
    # Message files out of the chroot's sight.
    welcome = site.file(os.path.join(site.root, "welcome.txt"), b"Welcome, dora!\n")
    bye = site.file(os.path.join(site.root, "bye.txt"), b"See you.\n")
    site.add_user("dora", "Secret", login_msg_file=welcome)
    site.sql("INSERT INTO sign_files (ip, signon_msg_file, signoff_msg_file) VALUES "
             "('127.0.0.5', %s, %s)" % (e2e.lit(welcome), e2e.lit(bye)))


def tearDownModule():
    if SITE is not None:
        SITE.stop()


def session_processes():
    """The daemon's session processes: (root directory, real uid)."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        with contextlib.suppress(OSError):
            with open("/proc/%s/status" % pid) as f:
                status = dict(line.split(":", 1) for line in f if ":" in line)
            if int(status["PPid"]) == SITE.host.pid:
                found.append((os.readlink("/proc/%s/root" % pid), int(status["Uid"].split()[0])))
    return found


def ann_untouched(test):
    test.assertEqual(sorted(os.listdir(SITE.dir("ann"))), ["secret.txt"])


def escapes(user):
    ann = SITE.dir("ann")
    return ["../ann/secret.txt", "/../ann/secret.txt", "link/secret.txt",
            os.path.join(ann, "secret.txt"),
            os.path.join(SITE.dir(user), "..", "ann", "secret.txt")]


class Chrooted(unittest.TestCase):
    def check_process(self, user):
        self.assertIn((SITE.dir(user), pwd.getpwnam(e2e.SESSION_USER).pw_uid),
                      session_processes())

    def test_ftp_and_ftps_sessions_live_in_their_homes(self):
        for user in ("bob", "carol"):
            home = SITE.dir(user)
            for tls in (False, True):
                ftp = ftplib.FTP_TLS(context=ssl._create_unverified_context(), timeout=30) \
                    if tls else ftplib.FTP(timeout=30)
                try:
                    ftp.connect("127.0.0.1", SITE.port)
                    ftp.login(user, "Secret")
                    if tls:
                        ftp.prot_p()
                    self.check_process(user)
                    self.assertEqual(ftp.pwd(), "/" if user == "carol" else home)
                    self.assertIn("own.txt", e2e.names(ftp.nlst()))
                    self.assertEqual(e2e.download(ftp, "own.txt"), b"own\n")
                    # bob names his files by their real paths too.
                    if user == "bob":
                        self.assertEqual(e2e.download(ftp, home + "/own.txt"), b"own\n")
                    e2e.upload(ftp, "new.txt", b"new\n")
                    self.assertEqual(open(os.path.join(home, "new.txt"), "rb").read(), b"new\n")
                    os.remove(os.path.join(home, "new.txt"))
                    e2e.refused(self, "550", e2e.upload, ftp, "ro/x.txt", b"x")
                    for path in escapes(user):
                        with contextlib.suppress(ftplib.Error):
                            self.assertNotEqual(e2e.download(ftp, path), SECRET, path)
                        with contextlib.suppress(ftplib.Error):
                            e2e.upload(ftp, path + ".new", b"no")
                    ftp.cwd("..")
                    self.assertEqual(ftp.pwd(), "/" if user == "carol" else home)
                finally:
                    ftp.close()
        ann_untouched(self)

    def test_sftp_sessions_live_in_their_homes(self):
        for user in ("bob", "carol"):
            home = SITE.dir(user)
            sock = socket.create_connection(("127.0.0.1", SITE.sftp_port), timeout=30)
            transport = paramiko.Transport(sock)
            try:
                transport.connect(username=user, password="Secret")
                client = paramiko.SFTPClient.from_transport(transport)
                self.check_process(user)
                self.assertEqual(client.normalize("."), "/")
                self.assertEqual(client.normalize("/../.."), "/")
                self.assertIn("own.txt", client.listdir("."))
                with client.open("own.txt", "rb") as f:
                    self.assertEqual(f.read(), b"own\n")
                client.putfo(io.BytesIO(b"new\n"), "/new.txt")
                self.assertEqual(open(os.path.join(home, "new.txt"), "rb").read(), b"new\n")
                client.remove("new.txt")
                with self.assertRaises(IOError):
                    client.putfo(io.BytesIO(b"x"), "ro/x.txt")
                for path in escapes(user):
                    with contextlib.suppress(IOError):
                        with client.open(path, "rb") as f:
                            self.assertNotEqual(f.read(), SECRET, path)
                    with contextlib.suppress(IOError):
                        client.putfo(io.BytesIO(b"no"), path + ".new")
                with self.assertRaises(IOError):
                    client.symlink("/", "up")
                with self.assertRaises(IOError):
                    client.listdir("link")
            finally:
                transport.close()
        ann_untouched(self)

    def test_messages_from_outside_the_chroot_are_sent(self):
        ftp = SITE.connect("127.0.0.5")
        try:
            self.assertIn("230-Welcome, dora!", ftp.login("dora", "Secret"))
            self.assertIn("221-See you.", ftp.quit())
        finally:
            ftp.close()

    def test_a_session_that_lost_the_service_ends(self):
        # A chrooted session cannot reach the socket again: it ends at its
        # next command instead of answering "try again" for ever.
        with SITE.session("carol", "Secret") as ftp:
            SITE.stop_service()
            SITE.start_service()
            e2e.refused(self, "421", ftp.nlst)
            self.assertRaises((ftplib.Error, OSError, EOFError), ftp.pwd)


class ChrootedToTheFtpRoot(unittest.TestCase):
    """DefaultRoot at the FTP root: rules on folders outside the homes still
    reach them, each session starts in its home."""

    @classmethod
    def setUpClass(cls):
        cls.site = site = e2e.Site(chroot="ftp root")
        ann = site.dir("ann")
        site.file(os.path.join(ann, "secret.txt"), SECRET)
        site.file(os.path.join(site.dir("pub"), "notes.txt"), b"notes\n")
        for name, relative in (("bob", 0), ("carol", 1)):
            site.file(os.path.join(site.dir(name), "own.txt"), b"own\n")
            site.add_user(name, "Secret", rel_path=relative)
            site.add_rule(name, site.dir("pub"), "RL")

    @classmethod
    def tearDownClass(cls):
        cls.site.stop()

    def test_paths_map_from_the_ftp_root(self):
        pub = self.site.dir("pub")
        for user, notes in (("bob", os.path.join(pub, "notes.txt")), ("carol", "../pub/notes.txt")):
            with self.site.session(user, "Secret") as ftp:
                home = self.site.dir(user)
                self.assertEqual(ftp.pwd(), "/" if user == "carol" else home)
                self.assertEqual(e2e.download(ftp, "own.txt"), b"own\n")
                if user == "bob":
                    self.assertEqual(e2e.download(ftp, notes), b"notes\n")
                else:
                    # carol's ".." stops at her home.
                    e2e.refused(self, "550", e2e.download, ftp, notes)
                e2e.refused(self, "550", e2e.download, ftp, "../ann/secret.txt")
                e2e.refused(self, "550", e2e.upload, ftp, os.path.join(pub, "x.txt"), b"x")


if __name__ == "__main__":
    unittest.main()
