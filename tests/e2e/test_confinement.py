"""Confinement through ProFTPD with mod_quellin, over FTP, FTPS and SFTP
(paramiko, and OpenSSH's sftp in batch mode), for an account that sees real
paths (bob) and one kept in its home (carol): what the module judged is
what the server uses, links included."""

import contextlib
import ftplib
import io
import os
import socket
import ssl
import stat
import subprocess
import tempfile
import threading
import time
import unittest

import paramiko

import test_ftp_end_to_end as e2e

SITE = None
SECRET = b"ann's secret\n"


def setUpModule():
    global SITE
    if e2e.SERVER != "proftpd":
        raise RuntimeError("these tests need KESTRIX_E2E_SERVER=proftpd")
    SITE = site = e2e.Site()
    ann = site.dir("ann")
    site.add_user("ann", "Secret", home=ann)
    site.file(os.path.join(ann, "secret.txt"), SECRET)
    site.file(os.path.join(site.dir("other"), "o.txt"), b"other\n")
    for name, relative in (("bob", 0), ("carol", 1)):
        home = site.dir(name)
        site.add_user(name, "Secret", home=home, rel_path=relative)
        site.file(os.path.join(home, "own.txt"), b"own\n")
        # Decoys where a path judged by its text alone would land.
        site.file(os.path.join(home, "ann", "secret.txt"), b"decoy\n")
        site.file(os.path.join(home, "secret.txt"), b"decoy\n")
        # An administrator's link out of the home, with a rule that lets it
        # be read; a folder whose rule refuses listing.
        os.symlink(site.dir("other"), os.path.join(home, "link"))
        site.add_rule(name, site.dir("other"), "RL")
        site.file(os.path.join(home, "priv", "unlisted-name.txt"))
        site.add_rule(name, os.path.join(home, "priv"), "R")
        site.file(os.path.join(home, "open", "listed-name.txt"))
    # A race: rick's upload folder is swapped for one whose "link" leads
    # into ann's home.
    rick = site.dir("rick")
    site.add_user("rick", "Secret", home=rick)
    site.dir("rick", "sub", "link")
    site.dir("rick", "alt")
    os.symlink(ann, os.path.join(rick, "alt", "link"))
    site.add_user("fred", "Secret", use_quota=1, quota_max=1000000, quota_current=448000)


def tearDownModule():
    if SITE is not None:
        SITE.stop()


def ftp_session(user, tls):
    ftp = ftplib.FTP_TLS(context=ssl._create_unverified_context(), timeout=30) if tls \
        else ftplib.FTP(timeout=30)
    ftp.connect("127.0.0.1", SITE.port)
    ftp.login(user, "Secret")
    if tls:
        ftp.prot_p()
    return ftp


@contextlib.contextmanager
def sftp(user):
    sock = socket.create_connection(("127.0.0.1", SITE.sftp_port), timeout=30)
    transport = paramiko.Transport(sock)
    try:
        transport.connect(username=user, password="Secret")
        yield paramiko.SFTPClient.from_transport(transport)
    finally:
        transport.close()


def openssh_batch(user, commands, fetched=()):
    """OpenSSH's sftp with a batch file ("-" before a command: go on after
    it fails); the finished process and the bytes of the fetched files
    (None for a file not fetched)."""
    with tempfile.TemporaryDirectory() as work:
        askpass = os.path.join(work, "askpass")
        with open(askpass, "w") as f:
            f.write("#!/bin/sh\necho Secret\n")
        os.chmod(askpass, 0o700)
        batch = os.path.join(work, "batch")
        with open(batch, "w") as f:
            f.write("\n".join(commands) + "\n")
        env = dict(os.environ, SSH_ASKPASS=askpass, SSH_ASKPASS_REQUIRE="force",
                   DISPLAY="none")
        # "-b" would turn off password logins: the batch comes on stdin.
        with open(batch) as commands_in:
            done = subprocess.run(
                ["sftp", "-P", str(SITE.sftp_port), "-o", "StrictHostKeyChecking=no",
                 "-o", "UserKnownHostsFile=/dev/null", "-o", "PreferredAuthentications=password",
                 "%s@127.0.0.1" % user],
                cwd=work, env=env, capture_output=True, timeout=120, stdin=commands_in)
        got = {}
        for name in fetched:
            path = os.path.join(work, name)
            got[name] = None
            if os.path.exists(path):
                with open(path, "rb") as f:
                    got[name] = f.read()
        return done, got


def escapes(user):
    """Paths that name ann's file, as each account would try them."""
    ann = SITE.dir("ann")
    home = SITE.dir(user)
    paths = ["link/../ann/secret.txt", "../ann/secret.txt"]
    if user == "bob":
        paths += [os.path.join(home, "link", "..", "ann", "secret.txt"),
                  os.path.join(ann, "secret.txt")]
    else:
        paths += ["/link/../ann/secret.txt", "/../ann/secret.txt"]
    return paths


def ann_untouched(test):
    test.assertEqual(sorted(os.listdir(SITE.dir("ann"))), ["secret.txt"])


class DotDotAfterALink(unittest.TestCase):
    """The kernel resolves ".." after a link from the link's target: the
    module asks about that path, and never serves ann's bytes. bob is
    refused; carol's ".." stops at her home, where a decoy stands."""

    def check_read(self, user, path, read):
        try:
            got = read()
        except (ftplib.Error, OSError):
            return
        self.assertNotEqual(got, SECRET, (user, path))
        self.assertEqual(user, "carol", (user, path, got))

    def test_over_ftp_and_ftps(self):
        for user in ("bob", "carol"):
            for tls in (False, True):
                ftp = ftp_session(user, tls)
                try:
                    self.assertEqual(e2e.download(ftp, "link/o.txt"), b"other\n")
                    for path in escapes(user):
                        self.check_read(user, path, lambda: e2e.download(ftp, path))
                        with contextlib.suppress(ftplib.Error):
                            e2e.upload(ftp, path + ".new", b"no")
                finally:
                    ftp.close()
        ann_untouched(self)

    def test_over_sftp(self):
        def read(client, path):
            with client.open(path, "rb") as f:
                return f.read()

        for user in ("bob", "carol"):
            with sftp(user) as client:
                self.assertEqual(read(client, "link/o.txt"), b"other\n")
                for path in escapes(user):
                    self.check_read(user, path, lambda: read(client, path))
                    with contextlib.suppress(OSError):
                        client.putfo(io.BytesIO(b"no"), path + ".new")
        ann_untouched(self)


class SftpRequests(unittest.TestCase):
    """Every request that touches the file system is asked or refused."""

    def extended(self, client, name, *args):
        return client._request(paramiko.sftp.CMD_EXTENDED, name, *args)

    def test_links_copies_and_attributes_are_refused(self):
        ann_file = os.path.join(SITE.dir("ann"), "secret.txt")
        for user in ("bob", "carol"):
            with sftp(user) as client:
                for request in (
                        lambda: self.extended(client, "hardlink@openssh.com", ann_file, "hl.txt"),
                        lambda: self.extended(client, "hardlink@openssh.com", "own.txt", "hl.txt"),
                        lambda: self.extended(client, "copy-file", ann_file, "cp.txt", False),
                        lambda: self.extended(client, "copy-file", "own.txt", "cp.txt", False),
                        lambda: client.symlink(SITE.dir("ann"), "sl"),
                        lambda: client.chmod("own.txt", 0o777),
                        lambda: client.utime("../ann/secret.txt", (1, 1)),
                        lambda: client.posix_rename("own.txt", "link/../ann/moved.txt"),
                        lambda: client.rename("own.txt", "link/../ann/moved2.txt")):
                    with self.assertRaises((IOError, paramiko.SSHException)):
                        request()
                home = SITE.dir(user)
                for name in ("hl.txt", "cp.txt", "sl"):
                    self.assertFalse(os.path.lexists(os.path.join(home, name)), name)
                self.assertEqual(stat.S_IMODE(os.stat(os.path.join(home, "own.txt")).st_mode),
                                 0o644)
                # A rename the rules allow still works, posix-rename too.
                client.posix_rename("own.txt", "own2.txt")
                client.rename("own2.txt", "own.txt")
        ann_untouched(self)

    def test_realpath_names_only_what_the_account_may_see(self):
        with sftp("bob") as client:
            self.assertEqual(client.normalize("link"), SITE.dir("other"))
            errors = []
            for path in (SITE.dir("ann"), os.path.join(SITE.dir("ann"), "secret.txt"),
                         os.path.join(SITE.dir("ann"), "missing"), "/etc", "/nowhere"):
                with self.assertRaises(IOError, msg=path) as caught:
                    client.normalize(path)
                errors.append(type(caught.exception))
            # Missing and forbidden paths get one answer.
            self.assertEqual(len(set(errors)), 1, errors)

    def test_openssh_batch_stays_in_the_home(self):
        ann = SITE.dir("ann")
        for user in ("bob", "carol"):
            out, got = openssh_batch(user, [
                "get own.txt own.txt",
                "-get ../ann/secret.txt stolen1",
                "-get link/../ann/secret.txt stolen2",
                "-get %s stolen3" % os.path.join(ann, "secret.txt"),
                "-put own.txt link/../ann/planted.txt",
                "-ln %s hard.txt" % os.path.join(ann, "secret.txt"),
                "-ln -s %s soft" % ann,
                "-rm link/../ann/secret.txt",
                "-ls -l /etc",
            ], fetched=("own.txt", "stolen1", "stolen2", "stolen3"))
            self.assertEqual(out.returncode, 0, out.stderr)
            self.assertEqual(got["own.txt"], b"own\n", out.stdout + out.stderr)
            for name in ("stolen1", "stolen2", "stolen3"):
                self.assertNotEqual(got[name], SECRET, (user, name))
            self.assertNotIn(b"passwd", out.stdout)
            home = SITE.dir(user)
            self.assertFalse(os.path.lexists(os.path.join(home, "hard.txt")))
            self.assertFalse(os.path.lexists(os.path.join(home, "soft")))
        ann_untouched(self)


class Listings(unittest.TestCase):
    def test_a_recursive_listing_asks_about_every_folder_it_enters(self):
        for user in ("bob", "carol"):
            ftp = ftp_session(user, False)
            try:
                lines = []
                ftp.retrlines("LIST -R", lines.append)
                text = "\n".join(lines)
                self.assertIn("listed-name.txt", text)
                self.assertNotIn("unlisted-name.txt", text)
                e2e.refused(self, "550", ftp.nlst, "priv")
            finally:
                ftp.close()


class Replies(unittest.TestCase):
    def test_a_session_kept_in_its_home_never_sees_the_real_home(self):
        home = SITE.dir("carol").encode()
        ftp = ftp_session("carol", False)
        try:
            seen = []
            for action in (lambda: ftp.sendcmd("CWD open"), lambda: ftp.sendcmd("PWD"),
                           lambda: e2e.download(ftp, "missing.txt"),
                           lambda: e2e.download(ftp, "../priv"),
                           lambda: ftp.retrlines("LIST ../*", seen.append),
                           lambda: ftp.retrlines("NLST ../o*", seen.append),
                           lambda: ftp.sendcmd("MDTM ../own.txt"),
                           lambda: ftp.sendcmd("RNFR ../missing"),
                           lambda: ftp.sendcmd("MKD made"), lambda: ftp.sendcmd("RMD made")):
                try:
                    seen.append(str(action()))
                except ftplib.Error as e:
                    seen.append(str(e))
            text = "\n".join(seen).encode()
            self.assertIn(b"own.txt", text)
            self.assertIn(b"../priv", text)
            self.assertNotIn(home, text)
        finally:
            ftp.close()


class Race(unittest.TestCase):
    def test_a_folder_swapped_for_a_link_during_uploads_never_writes_outside(self):
        rick = SITE.dir("rick")
        sub, alt, spare = (os.path.join(rick, n) for n in ("sub", "alt", "spare"))
        stop = threading.Event()
        swaps = [0]

        def swap():
            # What rick could do with his own renames, as fast as it goes.
            while not stop.is_set() and swaps[0] < 200000:
                os.rename(sub, spare)
                os.rename(alt, sub)
                os.rename(spare, alt)
                swaps[0] += 1

        swapper = threading.Thread(target=swap)
        ftp = ftp_session("rick", False)
        stored = 0
        deadline = time.monotonic() + 20
        swapper.start()
        try:
            for _ in range(400):
                if time.monotonic() > deadline:
                    break
                with contextlib.suppress(ftplib.Error):
                    e2e.upload(ftp, os.path.join(sub, "link", "race.txt"), b"race\n")
                    stored += 1
        finally:
            stop.set()
            swapper.join()
            ftp.close()
        self.assertGreater(swaps[0], 0)
        # Uploads through the real folder went on while the swaps ran.
        self.assertGreater(stored, 0)
        ann_untouched(self)


class SftpQuota(unittest.TestCase):
    def quota(self):
        return int(float(SITE.value("SELECT quota_current FROM users WHERE username='fred'")))

    def test_an_upload_past_the_quota_is_refused_removed_and_not_charged(self):
        with sftp("fred") as client:
            with self.assertRaises(IOError):
                client.putfo(io.BytesIO(b"q" * 600000), "big.bin")
        self.assertFalse(os.path.exists(os.path.join(SITE.dir("fred"), "big.bin")))
        self.assertEqual(self.quota(), 448000)
        with tempfile.NamedTemporaryFile() as big:
            big.write(b"q" * 1500000)
            big.flush()
            openssh_batch("fred", ["-put %s big2.bin" % big.name])
        self.assertFalse(os.path.exists(os.path.join(SITE.dir("fred"), "big2.bin")))
        self.assertEqual(self.quota(), 448000)
        with sftp("fred") as client:
            client.putfo(io.BytesIO(b"q" * 300000), "fits.bin")
        self.assertEqual(self.quota(), 148000)


if __name__ == "__main__":
    unittest.main()
