"""Accounts moved from the FTP server's own file by `migration --batch` log in
through the stand-in and the built plug-in with the passwords they had.

Environment (set by ctest): as test_ftp_end_to_end, and
  KESTRIX_E2E_MIGRATION  the built migration utility (the 4.0 build)
"""

import ftplib
import io
import os
import subprocess
import unittest

from test_ftp_end_to_end import Site, refused, required


def account_file(site):
    """A domain-form account file in Windows-1252 with CR LF line ends:
    a salted MD5 password (salt cb, password TestPassword) and a plain
    password of 13 letters and digits, which an old-form file would hold as a
    DES crypt hash but this form does not."""
    lines = [
        "[GLOBAL]", "Version=6.4.0.6",
        "[DOMAINS]", "Domain1=0.0.0.0||21|Main site|1|0|0",
        "[Domain1]", "User1=alice|1|0", "User2=Jos\xe9|1|0",
        "[USER=alice|1]",
        "Password=cb8EA58F0751BAA5AF391253F7DADD3D46",
        "HomeDir=" + site.dir("alice"),
        "Access1=" + site.dir("alice", "pub") + "|RLP",
        "Access2=" + site.dir("alice") + "|RWAMELCDP",
        "IPAccess1=D|127.0.5-6.*",
        "[USER=Jos\xe9|1]",
        "Password=Summer2024abc",
        "HomeDir=" + site.dir("jose"),
        "Access1=" + site.dir("jose") + "|RLP",
    ]
    path = os.path.join(site.root, "ServUDaemon.ini")
    with open(path, "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("cp1252"))
    return path


class MigratedLogins(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.site = Site()
        site = cls.site
        settings = os.path.join(site.registry, "software", "orvane", "serv-u", "settings")
        # The site's settings already name its FTP server directory.
        os.makedirs(settings, exist_ok=True)
        with open(os.path.join(settings, "ini_path"), "w") as f:
            f.write(account_file(site))
        cls.env = dict(os.environ, KESTRIX_REGISTRY=site.registry)
        cls.first = cls.migrate()

    @classmethod
    def tearDownClass(cls):
        cls.site.stop()

    @classmethod
    def migrate(cls):
        return subprocess.run([required("KESTRIX_E2E_MIGRATION"), "--batch"], env=cls.env,
                              capture_output=True, text=True, timeout=120)

    def test_migrated_users_log_in_with_their_old_passwords(self):
        self.assertEqual(self.first.returncode, 0, self.first.stdout + self.first.stderr)
        self.assertIn("Migrated 2 of 2 users", self.first.stdout)
        self.assertIn("  alice: salted MD5\n", self.first.stdout)
        self.assertIn("looks like a DES crypt hash", self.first.stdout)
        with self.site.session("alice", "TestPassword") as ftp:
            self.assertEqual(ftp.pwd(), self.site.dir("alice"))
        with self.site.session("Jos\xe9", "Summer2024abc") as ftp:
            self.assertEqual(ftp.pwd(), self.site.dir("jose"))

        ftp = self.site.connect()
        try:
            refused(self, "530", ftp.login, "alice", "testpassword")
        finally:
            ftp.close()
        ftp = self.site.connect()
        try:
            refused(self, "530", ftp.login, "alice", "cb8EA58F0751BAA5AF391253F7DADD3D46")
        finally:
            ftp.close()

        # The server's deny pattern came along and still refuses.
        for source in ("127.0.5.1", "127.0.6.77"):
            ftp = self.site.connect(source)
            try:
                refused(self, "530", ftp.login, "alice", "TestPassword")
            finally:
                ftp.close()
        with self.site.session("alice", "TestPassword", source="127.0.7.1") as ftp:
            self.assertEqual(ftp.pwd(), self.site.dir("alice"))

        # A second run finds every name taken: nothing migrated, a failure status.
        again = self.migrate()
        self.assertNotEqual(again.returncode, 0, again.stdout)
        self.assertIn("already in the database", again.stdout)

    def test_a_read_only_folder_in_the_home_stays_read_only(self):
        self.assertEqual(self.first.returncode, 0, self.first.stdout + self.first.stderr)
        site = self.site
        notes = site.file(os.path.join(site.dir("alice", "pub"), "notes.txt"), b"notes\n")
        site.file(os.path.join(site.dir("alice"), "own.txt"))
        with site.session("alice", "TestPassword") as ftp:
            self.assertIn("notes.txt", ftp.nlst("pub"))
            refused(self, "550", ftp.storbinary, "STOR pub/new.txt", io.BytesIO(b"no"))
            refused(self, "550", ftp.delete, "pub/notes.txt")
            refused(self, "550", ftp.rename, "pub/notes.txt", "pub/moved.txt")
            refused(self, "550", ftp.mkd, "pub/made")
            # The rest of the home keeps every right.
            ftp.storbinary("STOR new.txt", io.BytesIO(b"yes"))
            ftp.delete("own.txt")
        self.assertTrue(os.path.exists(notes))
        self.assertFalse(os.path.exists(os.path.join(site.dir("alice", "pub"), "new.txt")))
        self.assertFalse(os.path.exists(os.path.join(site.dir("alice"), "own.txt")))


if __name__ == "__main__":
    unittest.main()
