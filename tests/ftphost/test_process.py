"""The stand-in as a program: start-up checks, the port file, SIGTERM."""

import ftplib
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import ftphost

FIRST = os.environ.get("FTPHOST_PROBE_FIRST")
SECOND = os.environ.get("FTPHOST_PROBE_SECOND")
SCRIPT = os.path.abspath(ftphost.__file__)


class CommandLine(unittest.TestCase):
    def test_only_loopback_addresses_are_served(self):
        for address in ("0.0.0.0", "192.168.1.10", "::", "localhost"):
            with self.assertRaises(SystemExit, msg=address):
                ftphost.parse_args(["--serv-u-dir", "/tmp", "--address", address])
        self.assertEqual(ftphost.parse_args(["--serv-u-dir", "/tmp", "--address", "127.0.0.5"])
                         .address, "127.0.0.5")
        self.assertEqual(ftphost.parse_args(["--serv-u-dir", "/tmp", "--address", "::1"])
                         .address, "::1")

    def test_port_file_holds_the_number(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "port")
            ftphost.write_port_file(path, 40123)
            with open(path) as f:
                self.assertEqual(f.read(), "40123\n")
            self.assertEqual(os.listdir(d), ["port"])


class Program(unittest.TestCase):
    def setUp(self):
        if not FIRST or not SECOND:
            raise RuntimeError("FTPHOST_PROBE_FIRST and FTPHOST_PROBE_SECOND name the probe "
                               "libraries; run this through ctest")
        self._tmp = tempfile.TemporaryDirectory()
        self.dir = self._tmp.name
        self.port_file = os.path.join(self.dir, "port")

    def tearDown(self):
        self._tmp.cleanup()

    def run_host(self, *extra):
        return subprocess.Popen(
            [sys.executable, SCRIPT, "--serv-u-dir", self.dir, "--port", "0",
             "--port-file", self.port_file, *extra],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def test_a_directory_without_its_library_does_not_start(self):
        with open(os.path.join(self.dir, "ServUDaemon.ini"), "w") as f:
            f.write("[EXTERNAL]\r\nClientCheckDLL1=Quellin.so\r\n")
        host = self.run_host()
        out, err = host.communicate(timeout=60)
        self.assertEqual(host.returncode, 2)
        self.assertIn("Quellin.so, which is not there", err)
        self.assertFalse(os.path.exists(self.port_file))

    def test_serves_on_the_port_it_writes_and_stops_on_sigterm(self):
        shutil.copy(FIRST, os.path.join(self.dir, "First.so"))
        shutil.copy(SECOND, os.path.join(self.dir, "Second.so"))
        with open(os.path.join(self.dir, "serv-u.ini"), "w") as f:
            f.write("[EXTERNAL]\r\nClientCheckDLL1=First.so\r\nClientCheckDLL2=Second.so\r\n")
        host = self.run_host()
        try:
            port = wait_for_port(self.port_file, host)
            ftp = ftplib.FTP()
            banner = ftp.connect("127.0.0.1", port, timeout=30)
            self.assertTrue(banner.startswith("220"), banner)
            # A session still open at the signal is closed with the server.
            host.send_signal(signal.SIGTERM)
            out, err = host.communicate(timeout=60)
            self.assertEqual(host.returncode, 0, err)
            self.assertIn("First.so, Second.so loaded", out)
            self.assertIn("ftphost: stopped", out)
        finally:
            if host.poll() is None:
                host.kill()
                host.communicate()


def wait_for_port(path, process, limit=60):
    """The port the stand-in writes once it listens."""
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise AssertionError("the stand-in ended: %s" % (process.communicate(),))
        if os.path.exists(path):
            with open(path) as f:
                return int(f.read())
        time.sleep(0.05)
    raise AssertionError("the stand-in wrote no port file")


if __name__ == "__main__":
    unittest.main()
