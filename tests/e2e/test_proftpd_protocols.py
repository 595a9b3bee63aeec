"""FTPS (curl, --ssl-reqd) and SFTP (paramiko) against ProFTPD with
mod_quellin: the same accounts give the same answers as over plain FTP.
The site and its server come from test_ftp_end_to_end (KESTRIX_E2E_SERVER
is proftpd)."""

import contextlib
import ftplib
import io
import os
import socket
import subprocess
import tempfile
import time
import unittest

import paramiko

import test_ftp_end_to_end as e2e

SITE = None


def setUpModule():
    global SITE
    if e2e.SERVER != "proftpd":
        raise RuntimeError("these tests need KESTRIX_E2E_SERVER=proftpd")
    SITE = e2e.Site()
    rita = SITE.dir("rita")
    SITE.add_user("rita", "Secret", home=rita)
    SITE.file(os.path.join(rita, "hello.txt"), b"hello rita\n")
    SITE.file(os.path.join(SITE.dir("rita", "ro"), "manual.txt"), b"read only\n")
    # A read-only folder inside the home, and one outside it.
    SITE.add_rule("rita", os.path.join(rita, "ro"), "RL")
    SITE.file(os.path.join(SITE.dir("pub"), "notes.txt"), b"public notes\n")
    SITE.add_rule("rita", SITE.dir("pub"), "RL")
    SITE.file(os.path.join(SITE.dir("bob"), "secret.txt"), b"bob's secret\n")
    SITE.add_user("bob", "Secret")
    SITE.add_user("carol", "Secret", disable_user=1)
    SITE.add_user("fred", "Secret", use_quota=1, quota_max=1000, quota_current=400)
    SITE.add_user("henry", "Secret", max_concurrent=1)
    SITE.add_user("ulla", "Secret")
    SITE.add_user("ulrike", "Secret")
    os.symlink(SITE.dir("bob"), os.path.join(rita, "tobob"))
    SITE.sql("INSERT INTO blocked_ips (ip) VALUES ('127.0.0.3')")


def tearDownModule():
    if SITE is not None:
        SITE.stop()


# --- FTPS ----------------------------------------------------------------


def curl(*args, user="rita", password="Secret"):
    """curl over explicit FTPS (AUTH TLS required); the finished process."""
    return subprocess.run(
        ["curl", "--silent", "--show-error", "--ssl-reqd", "--insecure", "--max-time", "60",
         # Paths as whole arguments of one command, not one CWD per part.
         "--ftp-method", "nocwd",
         "--user", "%s:%s" % (user, password), *args],
        capture_output=True, timeout=120)


def url(path=""):
    return "ftp://127.0.0.1:%d/%s" % (SITE.port, path)


def pub_url(name):
    """An absolute path on the server (%2F: the URL's path starts at /)."""
    return url("%2F" + os.path.join(SITE.dir("pub"), name)[1:])


class Ftps(unittest.TestCase):
    def test_login_list_download_and_upload_in_the_home(self):
        listed = curl("--list-only", url())
        self.assertEqual(listed.returncode, 0, listed.stderr)
        self.assertEqual(sorted(listed.stdout.decode().split()), ["hello.txt", "ro", "tobob"])
        got = curl(url("hello.txt"))
        self.assertEqual(got.stdout, b"hello rita\n", got.stderr)
        with tempfile.NamedTemporaryFile() as f:
            f.write(b"sent over TLS\n")
            f.flush()
            sent = curl("-T", f.name, url("tls.txt"))
            self.assertEqual(sent.returncode, 0, sent.stderr)
            with open(os.path.join(SITE.dir("rita"), "tls.txt"), "rb") as stored:
                self.assertEqual(stored.read(), b"sent over TLS\n")
            # Refused in the read-only folder and outside the home.
            for target in (pub_url("up.txt"), url("ro/up.txt"), url("tobob/up.txt"),
                           url("%2F" + SITE.dir("bob")[1:] + "/up.txt")):
                refused = curl("-T", f.name, target)
                self.assertNotEqual(refused.returncode, 0, target)
        self.assertFalse(os.path.exists(os.path.join(SITE.dir("pub"), "up.txt")))
        self.assertFalse(os.path.exists(os.path.join(SITE.dir("rita", "ro"), "up.txt")))
        self.assertFalse(os.path.exists(os.path.join(SITE.dir("bob"), "up.txt")))
        self.assertEqual(curl(url("ro/manual.txt")).stdout, b"read only\n")
        self.assertEqual(curl(pub_url("notes.txt")).stdout, b"public notes\n")
        made = curl("-Q", "MKD ro/made", url())
        self.assertNotEqual(made.returncode, 0)
        self.assertFalse(os.path.exists(os.path.join(SITE.dir("rita", "ro"), "made")))
        for target in ("tobob/secret.txt", "%2Fetc/passwd", "../bob/secret.txt"):
            out = curl(url(target))
            self.assertNotEqual(out.returncode, 0, target)
            self.assertNotIn(b"secret", out.stdout)

    def test_refused_logins(self):
        for user, password in (("rita", "wrong"), ("carol", "Secret"), ("nobody", "Secret")):
            out = curl("--list-only", url(), user=user, password=password)
            # 67: the server refused the login.
            self.assertEqual(out.returncode, 67, (user, out.stderr))

    def test_plain_ftp_is_refused_by_a_client_that_requires_tls(self):
        # The server answers AUTH TLS: the session above was encrypted.
        out = subprocess.run(["curl", "--silent", "--show-error", "--ssl-reqd", "--insecure",
                              "--verbose", "--list-only", "--user", "rita:Secret", url()],
                             capture_output=True, timeout=120)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertRegex(out.stderr.decode(), r"< 234 AUTH (TLS|SSL) successful")
        self.assertRegex(out.stderr.decode(), r"SSL connection using TLSv1\.[23]")


class Sessions(unittest.TestCase):
    def test_a_second_login_in_a_session_changes_no_answer(self):
        with SITE.session("bob", "Secret") as ftp:
            with self.assertRaises(ftplib.Error):
                ftp.sendcmd("USER rita")
                ftp.sendcmd("PASS Secret")
            # Still bob: rita's home is not his.
            e2e.refused(self, "550", ftp.nlst, SITE.dir("rita"))
            self.assertEqual(ftp.pwd(), SITE.dir("bob"))


def session_processes(user):
    """The server's session processes whose title names the user."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        with contextlib.suppress(OSError):
            with open("/proc/%s/status" % pid) as f:
                status = f.read()
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                title = f.read().decode(errors="replace")
            if "\nPPid:\t%d\n" % SITE.host.pid in status and (" %s " % user) in title:
                found.append(status)
    return found


def status_field(status, name):
    return next(line.split(":", 1)[1].split() for line in status.splitlines()
                if line.startswith(name + ":"))


# CAP_CHOWN and CAP_NET_BIND_SERVICE: what ProFTPD keeps by default.
PROFTPD_CAPABILITIES = (1 << 0) | (1 << 10)


class ServiceSessions(unittest.TestCase):
    """Sessions ask the answering service and keep no root."""

    def test_a_logged_in_session_has_no_root_and_no_extra_capability(self):
        with SITE.session("ulla", "Secret") as ftp:
            self.assertEqual(ftp.pwd(), SITE.dir("ulla"))
            processes = session_processes("ulla")
            self.assertEqual(len(processes), 1, processes)
            uids = status_field(processes[0], "Uid")
            self.assertEqual(len(uids), 4)
            self.assertNotIn("0", uids)
            for name in ("CapPrm", "CapEff"):
                extra = int(status_field(processes[0], name)[0], 16) & ~PROFTPD_CAPABILITIES
                self.assertEqual(extra, 0, "%s %x" % (name, extra))

    def test_a_session_whose_account_is_disabled_ends_at_its_next_command(self):
        with SITE.session("ulrike", "Secret") as ftp:
            ftp.voidcmd("NOOP")
            SITE.sql("UPDATE users SET disable_user = 1 WHERE username = 'ulrike'")
            try:
                disabled = time.monotonic()
                ended = None
                # The next command ends it; a few seconds bound any caching.
                while time.monotonic() < disabled + 5:
                    try:
                        ftp.voidcmd("NOOP")
                    except ftplib.error_temp as reply:
                        ended = str(reply)
                        break
                waited = time.monotonic() - disabled
                self.assertIsNotNone(ended, "still served after %.1f s" % waited)
                self.assertTrue(ended.startswith("421"), ended)
                self.assertLess(waited, 3)
                # The server closed the control connection.
                with self.assertRaises((EOFError, OSError)):
                    ftp.voidcmd("NOOP")
            finally:
                SITE.sql("UPDATE users SET disable_user = 0 WHERE username = 'ulrike'")

    def test_while_the_service_is_down_nothing_is_granted(self):
        with SITE.session("ulla", "Secret") as ftp:
            SITE.stop_service()
            try:
                e2e.refused(self, "451", ftp.nlst)
                with self.assertRaises(ftplib.error_temp) as caught:
                    SITE.connect().close()
                self.assertIn("not answering", str(caught.exception))
            finally:
                SITE.start_service()
            # The connection opened again no longer speaks for the account.
            e2e.refused(self, "421", ftp.nlst)
        with SITE.session("ulla", "Secret") as ftp:
            self.assertEqual(ftp.pwd(), SITE.dir("ulla"))


# --- SFTP ----------------------------------------------------------------


@contextlib.contextmanager
def sftp(user="rita", password="Secret", source="127.0.0.1"):
    sock = socket.create_connection(("127.0.0.1", SITE.sftp_port), timeout=30,
                                    source_address=(source, 0))
    transport = paramiko.Transport(sock)
    try:
        transport.connect(username=user, password=password)
        client = paramiko.SFTPClient.from_transport(transport)
        yield client
        client.close()
    finally:
        transport.close()


class Sftp(unittest.TestCase):
    def test_login_list_download_and_upload_in_the_home(self):
        with sftp() as client:
            self.assertEqual(client.normalize("."), SITE.dir("rita"))
            self.assertIn("hello.txt", client.listdir("."))
            with client.open("hello.txt", "rb") as f:
                self.assertEqual(f.read(), b"hello rita\n")
            client.putfo(io.BytesIO(b"sent over SSH\n"), "ssh.txt")
            with open(os.path.join(SITE.dir("rita"), "ssh.txt"), "rb") as f:
                self.assertEqual(f.read(), b"sent over SSH\n")
            self.assertEqual(client.listdir("ro"), ["manual.txt"])
            with self.assertRaises(PermissionError):
                client.mkdir("ro/made")
            with self.assertRaises(PermissionError):
                client.putfo(io.BytesIO(b"no"), "ro/up.txt")
            with self.assertRaises(PermissionError):
                client.remove("ro/manual.txt")
            pub = SITE.dir("pub")
            with client.open(os.path.join(pub, "notes.txt"), "rb") as f:
                self.assertEqual(f.read(), b"public notes\n")
            with self.assertRaises(PermissionError):
                client.putfo(io.BytesIO(b"no"), os.path.join(pub, "up.txt"))
            with self.assertRaises(PermissionError):
                client.remove(os.path.join(pub, "notes.txt"))
        self.assertFalse(os.path.exists(os.path.join(SITE.dir("rita", "ro"), "made")))
        self.assertFalse(os.path.exists(os.path.join(SITE.dir("rita", "ro"), "up.txt")))
        self.assertTrue(os.path.exists(os.path.join(SITE.dir("rita", "ro"), "manual.txt")))
        self.assertFalse(os.path.exists(os.path.join(SITE.dir("pub"), "up.txt")))
        self.assertTrue(os.path.exists(os.path.join(SITE.dir("pub"), "notes.txt")))

    def test_refused_logins(self):
        for user, password in (("rita", "wrong"), ("carol", "Secret"), ("nobody", "Secret")):
            with self.assertRaises(paramiko.AuthenticationException):
                with sftp(user, password):
                    pass

    def test_a_blocked_address_cannot_connect(self):
        with self.assertRaises((paramiko.SSHException, EOFError, OSError)):
            with sftp(source="127.0.0.3"):
                pass
        with sftp(source="127.0.0.2") as client:
            self.assertIn("hello.txt", client.listdir("."))

    def test_paths_outside_the_home_never_succeed(self):
        bob = SITE.dir("bob")
        with sftp() as client:
            for path in ("../bob/secret.txt", os.path.join(bob, "secret.txt"), "/etc/passwd",
                         "tobob/secret.txt"):
                with self.assertRaises(OSError, msg=path):
                    client.open(path, "rb").read()
                with self.assertRaises(OSError, msg=path):
                    client.putfo(io.BytesIO(b"no"), path + ".new")
                with self.assertRaises(OSError, msg=path):
                    client.remove(path)
            for path in ("..", "/", "/etc", bob, "tobob"):
                with self.assertRaises(OSError, msg=path):
                    client.listdir(path)
                with self.assertRaises(OSError, msg=path):
                    client.stat(path + "/secret.txt")
            client.putfo(io.BytesIO(b"mine\n"), "mine.txt")
            with self.assertRaises(OSError):
                client.rename("mine.txt", "../bob/mine.txt")
            with self.assertRaises(OSError):
                client.symlink(bob, "link-to-bob")
            with self.assertRaises(OSError):
                client.chmod("mine.txt", 0o777)
        self.assertEqual(sorted(os.listdir(bob)), ["secret.txt"])
        self.assertFalse(os.path.lexists(os.path.join(SITE.dir("rita"), "link-to-bob")))

    def test_the_quota_and_the_login_limit_hold_over_sftp(self):
        quota = lambda: int(float(SITE.value("SELECT quota_current FROM users "
                                             "WHERE username='fred'")))
        with sftp("fred") as client:
            with self.assertRaises(OSError):
                client.putfo(io.BytesIO(b"b" * 500000), "big.bin")
            self.assertFalse(os.path.exists(os.path.join(SITE.dir("fred"), "big.bin")))
            self.assertEqual(quota(), 400)
            client.putfo(io.BytesIO(b"f" * 300), "fits.bin")
            self.assertEqual(quota(), 100)
        with sftp("henry"):
            # A second session of the account, over FTP, is over the limit.
            ftp = SITE.connect()
            reply = e2e.refused(self, "530", ftp.login, "henry", "Secret")
            self.assertIn("Maximum number of logins", reply)
            ftp.close()


if __name__ == "__main__":
    unittest.main()
