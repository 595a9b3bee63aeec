"""An FTP client against an FTP server that asks the built plug-in, which
reads a real user database (SQLite or PostgreSQL). One table of cases runs
against both servers: the stand-in (tools/ftphost) and Debian's ProFTPD with
mod_quellin.

Environment (set by ctest):
  KESTRIX_E2E_ENGINE   SQLite or Postgres
  KESTRIX_E2E_SERVER   ftphost (default) or proftpd
  KESTRIX_E2E_MODULE   the built mod_quellin.so (proftpd only)
  KESTRIX_E2E_QUELLIND the built answering service (proftpd only)
  KESTRIX_E2E_PLUGIN   the built Quellin.so
  KESTRIX_E2E_TEMPLATE the empty SQLite template database
  KESTRIX_E2E_DB_TOOL  kestrix_e2e_db (creates, fills and reads databases)
  KESTRIX_E2E_FTPHOST  tools/ftphost/ftphost.py
  KESTRIX_PG_ENV       the PostgreSQL test server's env file (Postgres only)
"""

import contextlib
import ftplib
import grp
import io
import os
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

ENGINE = os.environ.get("KESTRIX_E2E_ENGINE", "")
SERVER = os.environ.get("KESTRIX_E2E_SERVER", "ftphost")
SITE = None
PROFTPD = "/usr/sbin/proftpd"
# The system user and group ProFTPD's sessions run as (mod_quellin's default).
SESSION_USER = "ftp"
SESSION_GROUP = "nogroup"


def lit(text):
    """A text as an SQL literal, apostrophes doubled."""
    return "'" + text.replace("'", "''") + "'"


def required(name):
    value = os.environ.get(name)
    if not value:
        raise RuntimeError("%s is not set: run the end-to-end tests through ctest" % name)
    return value


class Site:
    """A program directory with the plug-in, a settings store holding the
    connection string, a user database, an FTP root, and the stand-in
    serving them."""

    def __init__(self, pg_env=None, chroot=None):
        self.pg_env = pg_env or os.environ.get("KESTRIX_PG_ENV", "")
        # ProFTPD only: sessions chrooted to their homes ("home") or to the
        # FTP root ("ftp root").
        self.chroot = chroot
        plugin = required("KESTRIX_E2E_PLUGIN")
        if not os.path.isfile(plugin):
            raise RuntimeError("the plug-in %s was not built (target Quellin)" % plugin)
        self.db_tool = required("KESTRIX_E2E_DB_TOOL")
        self.root = os.path.realpath(tempfile.mkdtemp(prefix="kestrix-e2e."))
        self.host = None
        self.service = None
        self.pg_database = None
        try:
            self._build(plugin)
        except BaseException:
            self.stop()
            raise

    def _build(self, plugin):
        self.program_dir = os.path.join(self.root, "Serv-U")
        self.ftp_root = os.path.join(self.root, "ftp")
        os.makedirs(self.program_dir)
        os.makedirs(self.ftp_root)
        shutil.copy(plugin, os.path.join(self.program_dir, "Quellin.so"))
        with open(os.path.join(self.program_dir, "ServUDaemon.ini"), "wb") as f:
            f.write(b"[GLOBAL]\r\nVersion=6.4\r\n\r\n[EXTERNAL]\r\nClientCheckDLL1=Quellin.so\r\n")

        self.connection = self._make_database()
        self.registry = os.path.join(self.root, "registry")
        key = os.path.join(self.registry, "software", "orvane", "serv-u", "connectionstring")
        os.makedirs(key)
        with open(os.path.join(key, "@"), "w") as f:
            f.write(self.connection)
        settings = os.path.join(self.registry, "software", "orvane", "serv-u", "settings")
        os.makedirs(settings)
        with open(os.path.join(settings, "servu_path"), "w") as f:
            f.write(self.program_dir + "/")

        self.log_path = os.path.join(self.root, "server.log")
        self._log = open(self.log_path, "w")
        if SERVER == "proftpd":
            self._start_proftpd(plugin)
        elif SERVER == "ftphost":
            self._start_ftphost()
        else:
            raise RuntimeError("KESTRIX_E2E_SERVER must be ftphost or proftpd, not %r" % SERVER)

    def _start_ftphost(self):
        self.port_file = os.path.join(self.root, "port")
        env = dict(os.environ, KESTRIX_REGISTRY=self.registry)
        self.host = subprocess.Popen(
            [sys.executable, required("KESTRIX_E2E_FTPHOST"), "--serv-u-dir", self.program_dir,
             "--port", "0", "--port-file", self.port_file, "--login-failure-delay", "0",
             # Accounts' time-outs count in seconds here, so that they can be seen.
             "--minute-length", "1", "--trace"],
            env=env, stdout=self._log, stderr=subprocess.STDOUT)
        self.port = self._wait_for_port()

    def _start_proftpd(self, plugin):
        """Debian's proftpd in the foreground on loopback ports, with a
        throwaway configuration: FTP with explicit FTPS on one port, SFTP on
        another. Sessions run as the unprivileged SESSION_USER, so the FTP
        root is theirs and the database stays root's."""
        if not os.path.isfile(PROFTPD):
            raise RuntimeError("%s is missing: tools/install-deps installs proftpd-core" % PROFTPD)
        if os.geteuid() != 0:
            raise RuntimeError("ProFTPD's sessions switch users: run the tests as root")
        module = required("KESTRIX_E2E_MODULE")
        if not os.path.isfile(module):
            raise RuntimeError("mod_quellin %s was not built (target mod_quellin)" % module)
        modules = os.path.join(self.root, "modules")
        os.makedirs(modules)
        shutil.copy(module, os.path.join(modules, "mod_quellin.so"))
        for name in ("mod_tls.so", "mod_sftp.so"):
            os.symlink(os.path.join("/usr/lib/proftpd", name), os.path.join(modules, name))
        os.chmod(self.root, 0o755)
        chown_tree(self.ftp_root)
        self.key = os.path.join(self.root, "server.key")
        self.cert = os.path.join(self.root, "server.crt")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=127.0.0.1", "-keyout", self.key, "-out", self.cert],
                       check=True, capture_output=True, timeout=120)
        self._start_quellind(plugin)
        self.port, self.sftp_port = free_port(), free_port()
        config = os.path.join(self.root, "proftpd.conf")
        with open(config, "w") as f:
            f.write(PROFTPD_CONFIG.format(root=self.root, modules=modules, port=self.port,
                                          sftp_port=self.sftp_port, registry=self.registry,
                                          program_dir=self.program_dir, key=self.key,
                                          socket=self.service_socket,
                                          default_root=self._default_root(),
                                          cert=self.cert, log=self.log_path))
        check = subprocess.run([PROFTPD, "-t", "-c", config], capture_output=True, text=True)
        if check.returncode != 0:
            raise RuntimeError("proftpd refuses the configuration:\n" + check.stderr)
        self.host = subprocess.Popen([PROFTPD, "-n", "-q", "-c", config],
                                     stdout=self._log, stderr=subprocess.STDOUT)
        for port in (self.port, self.sftp_port):
            self._wait_for_listener(port)

    def _default_root(self):
        places = {None: "", "home": "DefaultRoot ~", "ftp root": "DefaultRoot " + self.ftp_root}
        return places[self.chroot]

    def _start_quellind(self, plugin):
        """The answering service the sessions ask, on a socket of this
        site's own, with its settings store."""
        quellind = required("KESTRIX_E2E_QUELLIND")
        if not os.path.isfile(quellind):
            raise RuntimeError("quellind %s was not built (target quellind)" % quellind)
        self.service_socket = os.path.join(self.root, "quellind.sock")
        self.service_log_path = os.path.join(self.root, "quellind.log")
        self._service_log = open(self.service_log_path, "w")
        self._service_command = [
            quellind, "--settings", self.registry, "--socket", self.service_socket,
            "--state-dir", os.path.join(self.root, "quellind"), "--library", plugin]
        self.start_service()

    def start_service(self):
        self.service = subprocess.Popen(self._service_command, stdout=self._service_log,
                                        stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if self.service.poll() is not None:
                raise RuntimeError("quellind ended at start:\n" + self.service_log())
            with contextlib.suppress(OSError), \
                    socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as probe:
                probe.connect(self.service_socket)
                return
            time.sleep(0.05)
        raise RuntimeError("quellind does not listen on %s:\n%s"
                           % (self.service_socket, self.service_log()))

    def stop_service(self):
        self.service.send_signal(signal.SIGTERM)
        try:
            self.service.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.service.kill()
            self.service.wait()

    def service_log(self):
        with open(self.service_log_path) as f:
            return f.read()

    def _wait_for_listener(self, port):
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if self.host.poll() is not None:
                raise RuntimeError("proftpd ended at start:\n" + self.log())
            with contextlib.suppress(OSError):
                socket.create_connection(("127.0.0.1", port), timeout=5).close()
                return
            time.sleep(0.05)
        raise RuntimeError("proftpd does not listen on %d:\n%s" % (port, self.log()))

    def _make_database(self):
        if ENGINE == "SQLite":
            path = os.path.join(self.root, "servu.db")
            shutil.copy(required("KESTRIX_E2E_TEMPLATE"), path)
            return "Provider=SQLite;Data Source=" + path
        if ENGINE == "Postgres":
            server = read_pg_env(self.pg_env or required("KESTRIX_PG_ENV"))
            self.pg_database = "kx_e2e_%d" % os.getpid()
            connection = ("Provider=PostgreSQL;Data Source=%s:%s;Initial Catalog=%s;"
                          "User ID=postgres;Password=unused"
                          % (server["KESTRIX_PG_HOST"], server["KESTRIX_PG_PORT"],
                             self.pg_database))
            self._tool("drop", connection)
            self._tool("create", connection)
            return connection
        raise RuntimeError("KESTRIX_E2E_ENGINE must be SQLite or Postgres, not %r" % ENGINE)

    def _tool(self, command, connection, *args, stdin=None):
        done = subprocess.run([self.db_tool, command, connection, *args], input=stdin,
                              capture_output=True, text=True, timeout=120)
        if done.returncode != 0:
            raise RuntimeError("kestrix_e2e_db %s failed: %s" % (command, done.stderr))
        return done.stdout

    def _wait_for_port(self):
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if self.host.poll() is not None:
                raise RuntimeError("the stand-in ended at start:\n" + self.log())
            if os.path.exists(self.port_file):
                with open(self.port_file) as f:
                    return int(f.read())
            time.sleep(0.05)
        raise RuntimeError("the stand-in wrote no port file:\n" + self.log())

    def log(self):
        with open(self.log_path) as f:
            return f.read()

    # --- the database ---

    def sql(self, *statements):
        self._tool("exec", self.connection, stdin="\n".join(statements) + "\n")

    def value(self, query):
        """The first column of the first row, or None for NULL."""
        rows = self._tool("query", self.connection, query).splitlines()
        if not rows:
            raise AssertionError("no row for " + query)
        first = rows[0].split("\t")[0]
        return None if first == "\\N" else first

    def add_user(self, name, password, home=None, **columns):
        """A user row as Kestrix writes one; columns not named stay NULL.
        Limits default to none, so that tests do not trip over each other."""
        home = home or self.dir(name)
        values = {"username": name, "homedir": home, "password": password,
                  "max_concurrent": -1, "max_logins_per_ip": 0, "quota_current": 0}
        values.update(columns)
        names = ", ".join(values)
        text = ", ".join(lit(v) if isinstance(v, str) else str(v) for v in values.values())
        self.sql("INSERT INTO users (%s) VALUES (%s)" % (names, text))

    def add_rule(self, user, directory, rights, inherit=1):
        self.sql("INSERT INTO dir_rights (username, directory, dir_rights, inherit_subdirs) "
                 "VALUES (%s, %s, %s, %d)" % (lit(user), lit(directory), lit(rights), inherit))

    # --- the FTP root ---

    def dir(self, *parts):
        path = os.path.join(self.ftp_root, *parts)
        os.makedirs(path, exist_ok=True)
        self._own(path)
        return path

    def file(self, path, content=b"content\n"):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
        self._own(path)
        return path

    def _own(self, path):
        """Under ProFTPD the sessions' user owns the FTP root, as an
        administrator would set it up."""
        if SERVER != "proftpd" or self.host is None:
            return
        while path.startswith(self.ftp_root + os.sep):
            shutil.chown(path, SESSION_USER, SESSION_GROUP)
            path = os.path.dirname(path)

    # --- FTP ---

    def connect(self, source="127.0.0.1"):
        ftp = ftplib.FTP(timeout=30, source_address=(source, 0))
        try:
            ftp.connect("127.0.0.1", self.port)
        except BaseException:
            ftp.close()
            raise
        return ftp

    @contextlib.contextmanager
    def session(self, user, password, source="127.0.0.1"):
        ftp = self.connect(source)
        try:
            ftp.login(user, password)
            yield ftp
        finally:
            with contextlib.suppress(Exception):
                ftp.quit()
            ftp.close()

    def stop(self):
        """Stops the server with SIGTERM; its exit code, or None when it
        was not running."""
        code = None
        if self.host is not None:
            self.host.send_signal(signal.SIGTERM)
            try:
                code = self.host.wait(timeout=60)
            except subprocess.TimeoutExpired:
                self.host.kill()
                self.host.wait()
            self._log.close()
        if self.service is not None:
            self.stop_service()
            self._service_log.close()
        if self.pg_database is not None:
            with contextlib.suppress(Exception):
                self._tool("drop", self.connection)
        shutil.rmtree(self.root, ignore_errors=True)
        return code


def chown_tree(top):
    uid, gid = pwd.getpwnam(SESSION_USER).pw_uid, grp.getgrnam(SESSION_GROUP).gr_gid
    for base, dirs, files in os.walk(top):
        for name in [base] + [os.path.join(base, n) for n in dirs + files]:
            os.lchown(name, uid, gid)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


PROFTPD_CONFIG = """\
ServerType standalone
ServerName "Kestrix e2e"
DefaultServer on
Port {port}
DefaultAddress 127.0.0.1
SocketBindTight on
UseIPv6 off
User nobody
Group nogroup
PidFile {root}/proftpd.pid
ScoreboardFile {root}/proftpd.scoreboard
ControlsEngine off
ControlsSocket {root}/proftpd.sock
SystemLog {log}
TransferLog none
WtmpLog off
UseReverseDNS off
ModulePath {modules}
LoadModule mod_quellin.c
LoadModule mod_tls.c
LoadModule mod_sftp.c

<Global>
  AuthOrder mod_quellin.c
  RequireValidShell off
  # The plug-in is asked by the answering service: sessions give up root.
  QuellinSocket {socket}
  RootRevoke on
  {default_root}
  AllowOverwrite on
  AllowStoreRestart on
  DelayEngine off
  MaxLoginAttempts 1000
  Umask 022
  QuellinEngine on
  QuellinSettings {registry}
  # Accounts' time-outs count in seconds here, so that they can be seen.
  QuellinMinuteLength 1
</Global>

TLSEngine on
TLSLog {root}/tls.log
TLSProtocol TLSv1.2 TLSv1.3
TLSRSACertificateFile {cert}
TLSRSACertificateKeyFile {key}
TLSOptions NoSessionReuseRequired
TLSRequired off

<VirtualHost 127.0.0.1>
  Port {sftp_port}
  SFTPEngine on
  SFTPLog {root}/sftp.log
  SFTPHostKey {key}
  SFTPAuthMethods password
  SFTPExtensions -checkFile
  Protocols sftp
</VirtualHost>
"""


def read_pg_env(path):
    if not os.path.exists(path):
        raise RuntimeError("no PostgreSQL test server: %s is missing "
                           "(tools/pgtest start failed?)" % path)
    values = {}
    with open(path) as f:
        for line in f:
            key, _, value = line.strip().partition("=")
            values[key] = value
    return values


def setUpModule():
    global SITE
    SITE = Site()
    site = SITE
    # Logins and addresses.
    site.add_user("bob", "Secret")
    site.add_user("emma", "")
    site.add_user("carol", "Secret", disable_user=1)
    site.add_user("dave", "Secret")
    site.sql("INSERT INTO blocked_ips (ip) VALUES ('127.0.0.3')",
             "INSERT INTO blocked_ips_by_user (username, ip) VALUES ('dave', '127.0.0.2')",
             "INSERT INTO blocked_ips_by_user (username, ip) VALUES ('*', '127.0.0.4')",
             # Patterns and blocks; a row of neither form blocks nobody.
             "INSERT INTO blocked_ips (ip) VALUES ('127.0.1.*')",
             "INSERT INTO blocked_ips (ip) VALUES ('127.0.3')",
             "INSERT INTO blocked_ips_by_user (username, ip) VALUES ('dave', '127.0.2.0/24')",
             "INSERT INTO blocked_ips_by_user (username, ip) VALUES ('*', '127.0.4.10-19')")
    # Rights: a home with rules inside, and rules on directories outside.
    erin = site.dir("erin")
    site.add_user("erin", "Secret", home=erin)
    site.file(os.path.join(erin, "readme.txt"), b"read me\n")
    site.file(os.path.join(erin, "closed.txt"), b"closed\n")
    site.file(os.path.join(erin, "private", "diary.txt"))
    site.dir("erin", "locked")
    site.file(os.path.join(site.dir("erin2"), "other.txt"))
    site.file(os.path.join(site.dir("pub"), "notes.txt"), b"public notes\n")
    site.file(os.path.join(site.dir("drop"), "inbox.txt"))
    site.add_rule("erin", os.path.join(erin, "private"), "R")
    site.add_rule("erin", os.path.join(erin, "locked"), "RL")
    site.add_rule("erin", site.dir("pub"), "RL")
    site.add_rule("erin", site.dir("drop"), "WLC")
    site.sql("INSERT INTO file_rights (username, filename, file_rights) VALUES "
             "('erin', %s, 'L')" % lit(os.path.join(erin, "closed.txt")))
    # Quota, ratio, limits, account settings.
    site.add_user("frank", "Secret", use_quota=1, quota_max=1000, quota_current=1000)
    site.add_user("fred", "Secret", use_quota=1, quota_max=1000, quota_current=400)
    site.add_user("grace", "Secret", ratio_type="BytesOverall", ratio_up=1, ratio_down=2,
                  ratio_current_credit=0)
    site.file(os.path.join(site.dir("grace"), "big.bin"), b"g" * 150)
    site.add_user("henry", "Secret", max_concurrent=1)
    message = site.file(os.path.join(site.root, "welcome.txt"), b"Welcome, ivan!\nEnjoy.\n")
    site.add_user("ivan", "Secret", login_msg_file=message, hide_hidden_files=1)
    site.file(os.path.join(site.dir("ivan"), ".profile"))
    site.file(os.path.join(site.dir("ivan"), "visible.txt"))
    site.add_user("judy", "Secret", rel_path=1)
    site.file(os.path.join(site.dir("judy"), "mine.txt"))
    site.add_user("leo", "Secret", speed_limit_value="64")
    site.add_user("mia", "Secret", session_timeout=1)
    site.add_user("nick", "Secret", timeout=1)
    site.file(os.path.join(site.dir("leo"), "blob.bin"), bytes(range(256)) * 80)
    hello = site.file(os.path.join(site.root, "hello.txt"), b"Hello from the stand-in.\n")
    bye = site.file(os.path.join(site.root, "bye.txt"), b"See you.\n")
    # Links in a home: out of it, into another home, and one staying inside.
    oscar = site.dir("oscar")
    site.add_user("oscar", "Secret", home=oscar)
    site.file(os.path.join(site.dir("elsewhere"), "e.txt"), b"elsewhere\n")
    site.file(os.path.join(site.dir("bob"), "b.txt"), b"bob's\n")
    site.file(os.path.join(site.dir("oscar", "inside"), "own.txt"), b"own\n")
    os.symlink(site.dir("elsewhere"), os.path.join(oscar, "out"))
    os.symlink(site.dir("bob"), os.path.join(oscar, "tobob"))
    os.symlink(os.path.join(oscar, "inside"), os.path.join(oscar, "short"))
    os.symlink(site.dir("pub"), os.path.join(oscar, "pub"))
    site.add_rule("oscar", site.dir("pub"), "RL")
    site.file(os.path.join(site.dir("bob"), "secret.txt"), b"bob's secret\n")
    os.symlink(os.path.join(site.dir("bob"), "secret.txt"), os.path.join(oscar, "secret-link"))
    # A home with a read-only folder, as an administrator first sets one up.
    rita = site.dir("rita")
    site.add_user("rita", "Secret", home=rita)
    site.file(os.path.join(rita, "hello.txt"), b"hello rita\n")
    site.file(os.path.join(site.dir("rita", "ro"), "manual.txt"), b"read only\n")
    site.add_rule("rita", os.path.join(rita, "ro"), "RL")
    # Remaining quotas the quota dialog leaves: above the maximum, empty.
    site.add_user("pat", "Secret", use_quota=1, quota_max=1000, quota_current=5000)
    site.add_user("quinn", "Secret", use_quota=1, quota_max=1000)
    site.sql("UPDATE users SET quota_current=NULL WHERE username='quinn'")
    site.sql("INSERT INTO sign_files (ip, signon_msg_file, signoff_msg_file) VALUES "
             "('127.0.0.5', %s, %s)" % (lit(hello), lit(bye)),
             "INSERT INTO log_ips (ip) VALUES ('127.0.0.5')")


def tearDownModule():
    code = SITE.stop() if SITE is not None else None
    if code != 0:
        raise AssertionError("the server did not end cleanly on SIGTERM (exit code %r)" % code)


def wait_until(condition, limit=120):
    """Polls until condition() holds; the limit only ends a hung test."""
    deadline = time.monotonic() + limit
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


def refused(test, code, action, *args):
    """Asserts that an FTP action is answered with the reply code."""
    with test.assertRaises(ftplib.Error) as caught:
        action(*args)
    test.assertTrue(str(caught.exception).startswith(code), str(caught.exception))
    return str(caught.exception)


def names(listed):
    """The names of an NLST reply: servers answer with the names alone or
    with the directory as the client named it."""
    return sorted(os.path.basename(name) for name in listed)


def download(ftp, path):
    out = io.BytesIO()
    ftp.retrbinary("RETR " + path, out.write)
    return out.getvalue()


def upload(ftp, path, content, command="STOR"):
    return ftp.storbinary("%s %s" % (command, path), io.BytesIO(content))


class Logins(unittest.TestCase):
    def test_the_right_password_logs_in_at_the_home_directory(self):
        with SITE.session("bob", "Secret") as ftp:
            self.assertEqual(ftp.pwd(), SITE.dir("bob"))

    def test_the_user_name_is_found_in_any_case(self):
        with SITE.session("BOB", "Secret") as ftp:
            self.assertEqual(ftp.pwd(), SITE.dir("bob"))

    def test_a_wrong_password_is_refused(self):
        ftp = SITE.connect()
        refused(self, "530", ftp.login, "bob", "Wrong")
        ftp.close()

    def test_the_password_in_other_case_is_refused(self):
        ftp = SITE.connect()
        refused(self, "530", ftp.login, "bob", "secret")
        ftp.close()

    def test_an_empty_password_never_logs_in(self):
        ftp = SITE.connect()
        refused(self, "530", ftp.login, "bob", "")
        # Not even for an account whose stored password is empty.
        refused(self, "530", ftp.login, "emma", "")
        ftp.close()

    def test_a_password_kept_in_clear_becomes_a_hash_at_the_first_login(self):
        SITE.add_user("pia", "Clear!1")
        ftp = SITE.connect()
        refused(self, "530", ftp.login, "pia", "clear!1")
        ftp.close()
        self.assertEqual(SITE.value("SELECT password FROM users WHERE username='pia'"), "Clear!1")
        with SITE.session("pia", "Clear!1") as ftp:
            self.assertEqual(ftp.pwd(), SITE.dir("pia"))
        stored = SITE.value("SELECT password FROM users WHERE username='pia'")
        self.assertTrue(stored.startswith("{CRYPT}$y$"), stored)
        with SITE.session("pia", "Clear!1") as ftp:
            self.assertEqual(ftp.pwd(), SITE.dir("pia"))
        self.assertEqual(SITE.value("SELECT password FROM users WHERE username='pia'"), stored)
        ftp = SITE.connect()
        refused(self, "530", ftp.login, "pia", "Clear!2")
        ftp.close()

    def test_an_unknown_user_is_refused(self):
        ftp = SITE.connect()
        refused(self, "530", ftp.login, "nobody", "Secret")
        ftp.close()

    def test_a_disabled_user_is_refused(self):
        ftp = SITE.connect()
        reply = refused(self, "530", ftp.login, "carol", "Secret")
        self.assertIn("disabled", reply)
        ftp.close()


class Addresses(unittest.TestCase):
    def test_an_address_blocked_server_wide_cannot_connect(self):
        with self.assertRaises(ftplib.error_temp) as caught:
            SITE.connect("127.0.0.3")
        self.assertTrue(str(caught.exception).startswith("421"))
        # One line in the log, no traceback.
        self.assertTrue(wait_until(lambda: "not allowed to connect" in SITE.log()), SITE.log())
        lines = [line for line in SITE.log().splitlines() if "not allowed to connect" in line]
        self.assertEqual(len(lines), 1, SITE.log())
        self.assertNotIn("Traceback", SITE.log())
        # Another address still can.
        with SITE.session("bob", "Secret", source="127.0.0.2") as ftp:
            self.assertEqual(ftp.pwd(), SITE.dir("bob"))

    def test_an_address_blocked_for_one_user_refuses_that_user_only(self):
        ftp = SITE.connect("127.0.0.2")
        reply = refused(self, "530", ftp.login, "dave", "Secret")
        self.assertIn("address", reply)
        ftp.close()
        with SITE.session("dave", "Secret", source="127.0.0.1") as ftp:
            self.assertEqual(ftp.pwd(), SITE.dir("dave"))

    def test_an_address_blocked_for_every_user_connects_but_cannot_log_in(self):
        ftp = SITE.connect("127.0.0.4")
        refused(self, "530", ftp.login, "bob", "Secret")
        ftp.close()

    def test_patterns_and_blocks_refuse_every_address_they_name(self):
        with self.assertRaises(ftplib.error_temp):
            SITE.connect("127.0.1.254")
        for source, user in (("127.0.2.200", "dave"), ("127.0.4.19", "bob")):
            ftp = SITE.connect(source)
            refused(self, "530", ftp.login, user, "Secret")
            ftp.close()
        # Next to the ranges, and under the stored row that is no entry.
        for source, user in (("127.0.2.1", "bob"), ("127.0.4.20", "bob"), ("127.0.3.1", "bob")):
            with SITE.session(user, "Secret", source=source) as ftp:
                self.assertEqual(ftp.pwd(), SITE.dir(user), source)


class Rights(unittest.TestCase):
    """erin: home ftp/erin; private (R: no listing), locked (RL: no new
    directories); outside the home pub (RL) and drop (WLC)."""

    def test_listing(self):
        with SITE.session("erin", "Secret") as ftp:
            self.assertIn("readme.txt", ftp.nlst())
            self.assertIn("notes.txt", names(ftp.nlst(SITE.dir("pub"))))
            refused(self, "550", ftp.nlst, "private")
            refused(self, "550", ftp.cwd, "private")
            refused(self, "550", ftp.nlst, SITE.ftp_root)
            # A sibling whose name begins with the home's is not inside it.
            refused(self, "550", ftp.nlst, SITE.dir("erin2"))

    def test_downloading(self):
        with SITE.session("erin", "Secret") as ftp:
            self.assertEqual(download(ftp, "readme.txt"), b"read me\n")
            self.assertEqual(download(ftp, os.path.join(SITE.dir("pub"), "notes.txt")),
                             b"public notes\n")
            refused(self, "550", download, ftp, "closed.txt")
            refused(self, "550", download, ftp, os.path.join(SITE.dir("drop"), "inbox.txt"))
            refused(self, "550", download, ftp, os.path.join(SITE.dir("erin2"), "other.txt"))

    def test_uploading(self):
        with SITE.session("erin", "Secret") as ftp:
            upload(ftp, "new.txt", b"uploaded\n")
            with open(os.path.join(SITE.dir("erin"), "new.txt"), "rb") as f:
                self.assertEqual(f.read(), b"uploaded\n")
            upload(ftp, os.path.join(SITE.dir("drop"), "sent.txt"), b"to drop\n")
            self.assertTrue(os.path.exists(os.path.join(SITE.dir("drop"), "sent.txt")))
            refused(self, "550", upload, ftp, os.path.join(SITE.dir("pub"), "x.txt"), b"no")
            self.assertFalse(os.path.exists(os.path.join(SITE.dir("pub"), "x.txt")))
            refused(self, "550", upload, ftp, os.path.join(SITE.dir("erin2"), "x.txt"), b"no")
            self.assertFalse(os.path.exists(os.path.join(SITE.dir("erin2"), "x.txt")))

    def test_making_directories(self):
        with SITE.session("erin", "Secret") as ftp:
            ftp.mkd("made")
            self.assertTrue(os.path.isdir(os.path.join(SITE.dir("erin"), "made")))
            ftp.mkd(os.path.join(SITE.dir("drop"), "made"))
            self.assertTrue(os.path.isdir(os.path.join(SITE.dir("drop"), "made")))
            refused(self, "550", ftp.mkd, "locked/inner")
            refused(self, "550", ftp.mkd, os.path.join(SITE.dir("pub"), "inner"))
            self.assertFalse(os.path.exists(os.path.join(SITE.dir("erin"), "locked", "inner")))
            self.assertFalse(os.path.exists(os.path.join(SITE.dir("pub"), "inner")))

    def test_deleting(self):
        SITE.file(os.path.join(SITE.dir("erin"), "old.txt"))
        with SITE.session("erin", "Secret") as ftp:
            ftp.delete("old.txt")
            self.assertFalse(os.path.exists(os.path.join(SITE.dir("erin"), "old.txt")))
            refused(self, "550", ftp.delete, os.path.join(SITE.dir("pub"), "notes.txt"))
            self.assertTrue(os.path.exists(os.path.join(SITE.dir("pub"), "notes.txt")))

    def test_renaming(self):
        SITE.file(os.path.join(SITE.dir("erin"), "draft.txt"))
        with SITE.session("erin", "Secret") as ftp:
            ftp.rename("draft.txt", "final.txt")
            self.assertTrue(os.path.exists(os.path.join(SITE.dir("erin"), "final.txt")))
            refused(self, "550", ftp.rename, "final.txt", os.path.join(SITE.dir("pub"), "f.txt"))
            refused(self, "550", ftp.rename, os.path.join(SITE.dir("pub"), "notes.txt"), "n.txt")
            # A rename never replaces a file.
            refused(self, "550", ftp.rename, "final.txt", "readme.txt")
            self.assertTrue(os.path.exists(os.path.join(SITE.dir("erin"), "final.txt")))
            self.assertTrue(os.path.exists(os.path.join(SITE.dir("pub"), "notes.txt")))

    def test_a_read_only_folder_in_the_home_stays_read_only(self):
        kept = SITE.file(os.path.join(SITE.dir("erin", "locked"), "kept.txt"), b"kept\n")
        with SITE.session("erin", "Secret") as ftp:
            self.assertEqual(download(ftp, "locked/kept.txt"), b"kept\n")
            refused(self, "550", upload, ftp, "locked/kept.txt", b"overwritten")
            refused(self, "550", upload, ftp, "locked/new.txt", b"no")
            refused(self, "550", ftp.delete, "locked/kept.txt")
            refused(self, "550", ftp.rename, "locked/kept.txt", "taken.txt")
        with open(kept, "rb") as f:
            self.assertEqual(f.read(), b"kept\n")
        self.assertFalse(os.path.exists(os.path.join(SITE.dir("erin", "locked"), "new.txt")))

    def test_a_rule_changed_in_the_database_counts_at_the_next_question(self):
        SITE.add_user("kate", "Secret")
        SITE.file(os.path.join(SITE.dir("kate", "box"), "k.txt"))
        with SITE.session("kate", "Secret") as ftp:
            self.assertEqual(names(ftp.nlst("box")), ["k.txt"])
            SITE.add_rule("kate", SITE.dir("kate", "box"), "R")
            refused(self, "550", ftp.nlst, "box")


class LinksInTheHome(unittest.TestCase):
    """oscar: out -> ftp/elsewhere, tobob -> bob's home, short -> a
    directory of his own, pub -> ftp/pub (his rule there: RL)."""

    def test_a_link_out_of_the_home_is_refused_both_ways(self):
        with SITE.session("oscar", "Secret") as ftp:
            for link, name in (("out", "e.txt"), ("tobob", "b.txt")):
                refused(self, "550", download, ftp, "%s/%s" % (link, name))
                refused(self, "550", upload, ftp, "%s/new.txt" % link, b"no")
                refused(self, "550", ftp.delete, "%s/%s" % (link, name))
                refused(self, "550", ftp.nlst, link)
                refused(self, "550", ftp.mkd, "%s/made" % link)
            self.assertFalse(os.path.exists(os.path.join(SITE.dir("elsewhere"), "new.txt")))
            self.assertFalse(os.path.exists(os.path.join(SITE.dir("bob"), "new.txt")))
            self.assertTrue(os.path.exists(os.path.join(SITE.dir("bob"), "b.txt")))

    def test_a_link_that_stays_inside_keeps_working(self):
        with SITE.session("oscar", "Secret") as ftp:
            self.assertEqual(download(ftp, "short/own.txt"), b"own\n")
            upload(ftp, "short/up.txt", b"up\n")
            self.assertTrue(os.path.exists(os.path.join(SITE.dir("oscar", "inside"), "up.txt")))
            self.assertIn("own.txt", names(ftp.nlst("short")))

    def test_uploads_into_a_directory_whose_rule_lacks_write_are_refused(self):
        with SITE.session("oscar", "Secret") as ftp:
            self.assertEqual(download(ftp, "pub/notes.txt"), b"public notes\n")
            refused(self, "550", upload, ftp, "pub/up.txt", b"no")
            refused(self, "550", upload, ftp, os.path.join(SITE.dir("pub"), "up.txt"), b"no")
            self.assertFalse(os.path.exists(os.path.join(SITE.dir("pub"), "up.txt")))


class PathEscapes(unittest.TestCase):
    """Whatever path a client names ('..', absolute paths, links, patterns,
    another account's '~'), nothing outside the home and the rules is ever
    reached."""

    OUTSIDE_FILES = ("../bob/secret.txt", "inside/../../bob/secret.txt", "/etc/passwd",
                     "//etc//passwd", "out/e.txt", "tobob/secret.txt", "secret-link",
                     "~bob/secret.txt", "~/../bob/secret.txt")
    OUTSIDE_DIRS = ("..", "../bob", "/", "/etc", "out", "tobob", "../*", "/e*", "~bob")

    def test_nothing_outside_the_home_can_be_read_listed_or_entered(self):
        secret = os.path.join(SITE.dir("bob"), "secret.txt")
        with SITE.session("oscar", "Secret") as ftp:
            home = ftp.pwd()
            for path in self.OUTSIDE_FILES + (secret,):
                refused(self, "55", download, ftp, path)
            for path in self.OUTSIDE_DIRS + (SITE.ftp_root,):
                refused(self, "550", ftp.nlst, path)
                refused(self, "550", ftp.cwd, path)
                self.assertEqual(ftp.pwd(), home)
            refused(self, "550", ftp.sendcmd, "CDUP")
            self.assertEqual(ftp.pwd(), home)

    def test_nothing_outside_the_home_can_be_written_or_removed(self):
        secret = os.path.join(SITE.dir("bob"), "secret.txt")
        before = sorted(os.listdir(SITE.dir("bob")))
        with SITE.session("oscar", "Secret") as ftp:
            for path in ("../bob/new.txt", os.path.join(SITE.dir("bob"), "new.txt"),
                         "/tmp/kestrix-escape.txt", "tobob/new.txt", "out/new.txt"):
                refused(self, "55", upload, ftp, path, b"no")
                refused(self, "55", upload, ftp, path, b"no", "APPE")
                refused(self, "550", ftp.mkd, path + ".d")
            for path in ("../bob/secret.txt", secret, "tobob/secret.txt", "secret-link/x"):
                refused(self, "550", ftp.delete, path)
            refused(self, "550", ftp.rmd, "../bob")
            upload(ftp, "mine.txt", b"mine\n")
            refused(self, "550", ftp.rename, "mine.txt", "../bob/mine.txt")
            refused(self, "550", ftp.rename, "mine.txt", "tobob/mine.txt")
            refused(self, "550", ftp.rename, "../bob/secret.txt", "stolen.txt")
            refused(self, "550", ftp.rename, "secret-link", "../bob/moved.txt")
            # No command changes a file's mode or names a file the rights
            # were not asked about.
            refused(self, "5", ftp.sendcmd, "SITE CHMOD 777 mine.txt")
            refused(self, "5", ftp.sendcmd, "STOU")
        self.assertEqual(sorted(os.listdir(SITE.dir("bob"))), before)
        with open(secret, "rb") as f:
            self.assertEqual(f.read(), b"bob's secret\n")
        self.assertFalse(os.path.exists("/tmp/kestrix-escape.txt"))

    def test_a_session_kept_in_its_home_cannot_climb_out(self):
        with SITE.session("judy", "Secret") as ftp:
            for path in ("..", "../..", "/../..", "/" + "../" * 8):
                ftp.cwd(path)
                self.assertEqual(ftp.pwd(), "/")
                self.assertEqual(names(ftp.nlst()), ["mine.txt"])
            for path in ("../erin/readme.txt", os.path.join(SITE.dir("erin"), "readme.txt"),
                         "/etc/passwd", "~bob/secret.txt"):
                refused(self, "550", download, ftp, path)
            upload(ftp, "../../escaped.txt", b"stays home\n")
        self.assertTrue(os.path.exists(os.path.join(SITE.dir("judy"), "escaped.txt")))
        self.assertFalse(os.path.exists(os.path.join(SITE.ftp_root, "escaped.txt")))


class Quota(unittest.TestCase):
    def quota(self, user):
        return int(float(SITE.value("SELECT quota_current FROM users WHERE username=%s"
                                    % lit(user))))

    def test_an_upload_lowers_the_quota_and_a_delete_raises_it(self):
        with SITE.session("frank", "Secret") as ftp:
            upload(ftp, "data.bin", b"d" * 300)
            self.assertEqual(self.quota("frank"), 700)
            upload(ftp, "data.bin", b"d" * 100, "APPE")
            self.assertEqual(self.quota("frank"), 600)
            ftp.delete("data.bin")
            self.assertEqual(self.quota("frank"), 1000)

    def test_an_upload_the_quota_cannot_take_is_refused_and_taken_back(self):
        with SITE.session("fred", "Secret") as ftp:
            refused(self, "552", upload, ftp, "big.bin", b"b" * 500)
            self.assertFalse(os.path.exists(os.path.join(SITE.dir("fred"), "big.bin")))
            self.assertEqual(self.quota("fred"), 400)
            upload(ftp, "fits.bin", b"f" * 400)
            self.assertEqual(self.quota("fred"), 0)
            refused(self, "552", upload, ftp, "more.bin", b"m")
            self.assertFalse(os.path.exists(os.path.join(SITE.dir("fred"), "more.bin")))


    def test_a_remaining_quota_above_the_maximum_counts_from_the_maximum(self):
        with SITE.session("pat", "Secret") as ftp:
            refused(self, "552", upload, ftp, "big.bin", b"b" * 1001)
            upload(ftp, "data.bin", b"d" * 300)
            self.assertEqual(self.quota("pat"), 700)

    def test_an_empty_remaining_quota_counts_from_the_maximum(self):
        with SITE.session("quinn", "Secret") as ftp:
            upload(ftp, "data.bin", b"d" * 300)
            self.assertEqual(self.quota("quinn"), 700)
            upload(ftp, "more.bin", b"m" * 700)
            self.assertEqual(self.quota("quinn"), 0)
            refused(self, "552", upload, ftp, "over.bin", b"o")


class Ratio(unittest.TestCase):
    def credit(self):
        return float(SITE.value("SELECT ratio_current_credit FROM users WHERE username='grace'"))

    def test_downloads_need_credit_that_uploads_earn(self):
        with SITE.session("grace", "Secret") as ftp:
            reply = refused(self, "550", download, ftp, "big.bin")
            self.assertIn("credit", reply)
            upload(ftp, "gift.bin", b"u" * 100)
            self.assertEqual(self.credit(), 200)
            self.assertEqual(download(ftp, "big.bin"), b"g" * 150)
            self.assertEqual(self.credit(), 50)


class AccountSettings(unittest.TestCase):
    def test_concurrent_logins_are_limited(self):
        with SITE.session("henry", "Secret"):
            second = SITE.connect()
            reply = refused(self, "530", second.login, "henry", "Secret")
            self.assertIn("Maximum number of logins", reply)
            second.close()
        with SITE.session("henry", "Secret") as ftp:
            self.assertEqual(ftp.pwd(), SITE.dir("henry"))

    def test_a_name_in_full_width_letters_is_the_same_account(self):
        wide = "\uff48\uff45\uff4e\uff52\uff59"
        with SITE.session("henry", "Secret"):
            for spelling in (wide, "hen\u00adry", "hen\u200bry"):
                second = SITE.connect()
                reply = refused(self, "530", second.login, spelling, "Secret")
                if ENGINE == "Postgres" and spelling == wide:
                    # The same account, already logged in once.
                    self.assertIn("Maximum number of logins", reply)
                second.close()
        if ENGINE == "Postgres":
            with SITE.session(wide, "Secret") as ftp:
                self.assertEqual(ftp.pwd(), SITE.dir("henry"))

    def test_login_message_and_hidden_files(self):
        ftp = SITE.connect()
        try:
            reply = ftp.login("ivan", "Secret")
            self.assertIn("230-Welcome, ivan!", reply)
            self.assertIn("230-Enjoy.", reply)
            self.assertEqual(ftp.nlst(), ["visible.txt"])
        finally:
            ftp.close()

    def test_sign_on_and_sign_off_messages_of_an_address(self):
        ftp = SITE.connect("127.0.0.5")
        try:
            self.assertIn("220-Hello from the stand-in.", ftp.getwelcome())
            ftp.login("bob", "Secret")
            self.assertIn("221-See you.", ftp.quit())
        finally:
            ftp.close()
        # A listed address has its commands written to the log.
        self.assertIn("127.0.0.5 (listed address) <- USER bob", SITE.log())
        self.assertNotIn("Secret", SITE.log())
        with SITE.session("bob", "Secret") as ftp:
            self.assertNotIn("Hello", ftp.getwelcome())

    def test_a_speed_limited_session_moves_whole_files(self):
        with SITE.session("leo", "Secret") as ftp:
            self.assertEqual(download(ftp, "blob.bin"), bytes(range(256)) * 80)
            upload(ftp, "back.bin", bytes(range(256)) * 80)
        with open(os.path.join(SITE.dir("leo"), "back.bin"), "rb") as f:
            self.assertEqual(f.read(), bytes(range(256)) * 80)

    def test_the_session_time_out_ends_a_busy_session(self):
        with SITE.session("mia", "Secret") as ftp:
            reply = ""
            while not reply.startswith("421"):
                try:
                    reply = ftp.voidcmd("NOOP")
                except ftplib.error_temp as err:
                    reply = str(err)
            self.assertIn("Session time-out", reply)

    def test_the_idle_time_out_ends_a_silent_session(self):
        with SITE.session("nick", "Secret") as ftp:
            # The next thing the server says, unasked, is that it closes.
            self.assertRegex(ftp.getline(), r"^421 .*(timed out|[Tt]imeout)")

    def test_relative_paths_keep_the_user_in_the_home_directory(self):
        with SITE.session("judy", "Secret") as ftp:
            self.assertEqual(ftp.pwd(), "/")
            self.assertEqual(ftp.nlst(), ["mine.txt"])
            ftp.cwd("..")
            self.assertEqual(ftp.pwd(), "/")
            refused(self, "550", ftp.nlst, SITE.ftp_root)


class UnreadableRows(unittest.TestCase):
    """Rows the library cannot read refuse what they decide."""

    def renamed(self, table, old, new=None):
        """Renames a column of a table, or without new the table itself,
        until the test ends."""
        if new is None:
            SITE.sql("ALTER TABLE %s RENAME TO %s" % (table, old))
            self.addCleanup(SITE.sql, "ALTER TABLE %s RENAME TO %s" % (old, table))
            return
        SITE.sql("ALTER TABLE %s RENAME COLUMN %s TO %s" % (table, old, new))
        self.addCleanup(SITE.sql, "ALTER TABLE %s RENAME COLUMN %s TO %s" % (table, new, old))

    # A limit answered with flag 0 refuses the login on both servers.
    def test_a_login_whose_limit_cannot_be_read_is_refused(self):
        self.renamed("users", "max_concurrent", "max_concurrent_gone")
        second = SITE.connect()
        try:
            reply = refused(self, "530", second.login, "bob", "Secret")
            self.assertIn("limits cannot be read", reply)
        finally:
            second.close()

    def test_rules_that_cannot_be_read_refuse_inside_the_home(self):
        with SITE.session("erin", "Secret") as ftp:
            self.assertIn("readme.txt", ftp.nlst())
            self.renamed("dir_rights", "dir_rights_gone")
            refused(self, "550", ftp.nlst)
            refused(self, "550", ftp.mkd, "new")

    def test_an_upload_against_a_quota_that_cannot_be_read_is_refused(self):
        # frank has room for the byte while his quota can be read.
        with SITE.session("frank", "Secret") as ftp:
            self.renamed("users", "quota_current", "quota_current_gone")
            refused(self, "552", upload, ftp, "unread.bin", b"u")
            self.assertFalse(os.path.exists(os.path.join(SITE.dir("frank"), "unread.bin")))


def server_processes(pg_env):
    """The private PostgreSQL server's postmaster and its children."""
    with open(os.path.join(read_pg_env(pg_env)["KESTRIX_PG_DIR"], "data", "postmaster.pid")) as f:
        postmaster = int(f.readline())
    pids = [postmaster]
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            with contextlib.suppress(OSError):
                with open("/proc/%s/stat" % entry) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                if int(fields[1]) == postmaster:
                    pids.append(int(entry))
    return pids


if ENGINE == "Postgres":
    class StoppedServer(unittest.TestCase):
        """A PostgreSQL server of its own, stopped (SIGSTOP) while a session
        is open: the server is the only one this test stops."""

        def setUp(self):
            self.pgtest = os.path.join(os.path.dirname(os.path.dirname(
                required("KESTRIX_E2E_FTPHOST"))), "pgtest")
            self.pg_dir = tempfile.mkdtemp(prefix="kestrix-e2e-pg.")
            self.pg_env = os.path.join(self.pg_dir, "pg.env")
            subprocess.run([self.pgtest, "start", self.pg_env], check=True,
                           stdout=subprocess.DEVNULL, timeout=120)
            self.stopped = []
            self.site = None
            self.site = Site(pg_env=self.pg_env)
            self.site.add_user("vera", "Secret")
            self.site.file(os.path.join(self.site.dir("vera"), "v.txt"))

        def tearDown(self):
            self.resume()
            if self.site is not None:
                self.site.stop()
            subprocess.run([self.pgtest, "stop", self.pg_env], timeout=120)
            shutil.rmtree(self.pg_dir, ignore_errors=True)

        def pause(self):
            self.stopped = server_processes(self.pg_env)
            for pid in self.stopped:
                os.kill(pid, signal.SIGSTOP)

        def resume(self):
            for pid in reversed(self.stopped):
                with contextlib.suppress(ProcessLookupError):
                    os.kill(pid, signal.SIGCONT)
            self.stopped = []

        def test_a_stopped_server_keeps_no_session_waiting(self):
            ftp = self.site.connect()
            try:
                ftp.login("vera", "Secret")
                self.assertEqual(ftp.nlst(), ["v.txt"])
                self.pause()
                # A stopped server used to hold every session for as long
                # as its connections lasted; the client's time-out ends a
                # session held like that. ProFTPD's answering service says
                # the database is not answering (451); the stand-in's
                # plug-in reads that as a refusal (550).
                refused(self, "451" if SERVER == "proftpd" else "550", ftp.nlst)
                # A new connection is refused, at the address check (421)
                # or the login (530).
                with self.assertRaises((ftplib.error_temp, ftplib.error_perm)):
                    second = self.site.connect()
                    try:
                        second.login("vera", "Secret")
                    finally:
                        second.close()
                self.resume()
                back = time.monotonic()
                while True:
                    try:
                        with self.site.session("vera", "Secret"):
                            break
                    except (ftplib.error_temp, ftplib.error_perm):
                        # After the plug-in's retry interval; the limit
                        # only ends a hung test.
                        if time.monotonic() - back > 120:
                            raise
                        time.sleep(0.2)
                # The open session answers again too: at once where sessions
                # share one connection (the stand-in), after its own
                # connection's retry interval where each has its own.
                while True:
                    try:
                        self.assertEqual(ftp.nlst(), ["v.txt"])
                        break
                    except ftplib.error_perm:
                        if SERVER != "proftpd" or time.monotonic() - back > 120:
                            raise
                        time.sleep(0.2)
            finally:
                ftp.close()


if __name__ == "__main__":
    unittest.main()
