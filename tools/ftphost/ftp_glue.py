"""pyftpdlib binding: the command handler asks session_policy before it lets
pyftpdlib act, and tells it what each transfer and deletion came to."""

import logging
import os
import socket

from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler, proto_cmds
from pyftpdlib.ioloop import RetryError
from pyftpdlib.servers import ThreadedFTPServer

import questions as q
from session_policy import ConnectionCheck, Refusal, SessionRegistry, UserSession

logger = logging.getLogger("ftphost")

# No question of the libraries covers a file's mode, and a file of a unique
# name cannot be asked about before it exists: both commands are left out.
SESSION_COMMANDS = {name: entry for name, entry in proto_cmds.items()
                    if name not in ("SITE CHMOD", "STOU")}


class PluginAuthorizer:
    """pyftpdlib's authorizer seam. The libraries decide; the handler asks
    them itself, so pyftpdlib's own checks let everything through except a
    change of file mode."""

    def has_perm(self, username, perm, path=None):
        return perm != "M"

    def get_perms(self, username):
        return "elradfmwT"

    def get_msg_quit(self, username):
        return "Goodbye."

    def impersonate_user(self, username, password):
        pass

    def terminate_impersonation(self, username):
        pass


class SessionFS(AbstractedFS):
    """Paths are resolved as the kernel resolves them before they are asked
    about and used, so that ".." after a link names what the kernel would
    reach. Leaves names starting with a dot out of listings when the account
    hides hidden files."""

    def ftp2fs(self, ftppath):
        raw = ftppath if ftppath.startswith("/") else self.cwd.rstrip("/") + "/" + ftppath
        root = os.path.normpath(self.root)
        if root == "/":
            return q.resolved_path(raw)
        return q.resolved_path(root + "/" + raw.lstrip("/"), root)

    def listdir(self, path):
        names = super().listdir(path)
        session = getattr(self.cmd_channel, "session", None)
        if session is not None and session.hide_hidden:
            names = [n for n in names if not n.startswith(".")]
        return names


class SessionDTP(ThrottledDTPHandler):
    """The data channel: the account's speed limit both ways, and an upload
    stopped when it would store more than the quota can take."""

    def __init__(self, sock, cmd_channel):
        session = getattr(cmd_channel, "session", None)
        speed = session.speed if session is not None and session.speed else 0
        self.read_limit = speed
        self.write_limit = speed
        self.stored = 0
        self.quota_exceeded = False
        super().__init__(sock, cmd_channel)

    def handle_read(self):
        try:
            chunk = self.recv(self.ac_in_buffer_size)
        except RetryError:
            return
        except socket.error:
            self.handle_error()
            return
        self.tot_bytes_received += len(chunk)
        if not chunk:
            self.transfer_finished = True
            return
        if self._data_wrapper is not None:
            chunk = self._data_wrapper(chunk)
        upload = self.cmd_channel.upload
        budget = upload.budget if upload is not None else None
        if budget is not None and self.stored + len(chunk) > budget:
            self.quota_exceeded = True
            self._resp = ("552 Disk quota exceeded; transfer aborted.", logger.info)
            self.close()
            return
        try:
            self.file_obj.write(chunk)
        except OSError as err:
            self._resp = ("426 %s; transfer aborted." % os.strerror(err.errno or 0),
                          logger.warning)
            self.close()
            return
        self.stored += len(chunk)

    handle_read_event = handle_read

    def close(self):
        if not self._closed and self.file_obj is not None:
            # The file is complete on disk before its size is counted.
            if not self.file_obj.closed:
                self.file_obj.close()
            try:
                self.cmd_channel.transfer_ending(self)
            except Exception:
                logger.exception("settling the transfer of %s failed", self.file_obj.name)
        super().close()


class Upload:
    """An upload under way: what the file held before, and how much it may
    store."""

    def __init__(self, path, replace, old_size, budget):
        self.path = path
        self.replace = replace  # STOR from the start: the file is replaced
        self.old_size = old_size
        self.budget = budget


class SessionHandler(FTPHandler):
    """One control connection. Set up by make_server."""

    libraries = None
    registry = None
    program_dir = "."
    minute = 60  # seconds in a minute of the accounts' time-outs
    server_banner = "Kestrix FTP server stand-in ready."
    proto_cmds = SESSION_COMMANDS
    abstracted_fs = SessionFS
    dtp_handler = SessionDTP
    authorizer = PluginAuthorizer()
    use_sendfile = False

    # Per connection; set on the instance once it is in use.
    session = None
    upload = None
    download = None
    watched = False
    _rnfr_is_dir = False
    _session_timer = None

    # --- connection ---

    def handle(self):
        check = ConnectionCheck(self.libraries.ask, self.remote_ip)
        if not check.allowed:
            self.respond("421 Your address is not allowed to connect.", logfun=logger.info)
            self.close_when_done()
            return
        self.watched = check.watched
        for line in q.message_lines(self._message_path(check.sign_on_file)):
            self.push("220-%s\r\n" % line)
        self.respond("220 %s" % self.server_banner)

    def add_channel(self, map=None, events=None):
        # A refused connection is answered and closed in handle(), before
        # the thread that would serve it registers the (closed) socket.
        if self._closed:
            return
        super().add_channel(map, events)

    def _message_path(self, path):
        if path and not os.path.isabs(path):
            return os.path.join(self.program_dir, path)
        return path

    def pre_process_command(self, line, cmd, arg):
        if self.watched:
            shown = "PASS ******" if cmd == "PASS" else line
            logger.info("%s (listed address) <- %s", self.remote_ip, shown)
        super().pre_process_command(line, cmd, arg)

    # --- login ---

    def ftp_PASS(self, line):
        if self.authenticated:
            self.respond("503 User already authenticated.")
            return
        if not self.username:
            self.respond("503 Login with USER first.")
            return
        session = UserSession(self.libraries.ask, self.remote_ip, self.registry,
                              self.program_dir, self.minute)
        try:
            session.login(self.username, line)
        except Refusal as refusal:
            self._login_failed(str(refusal))
            return
        self.session = session
        self.username = session.user
        for text in q.message_lines(session.login_message_file):
            self.push("230-%s\r\n" % text)
        self.respond("230 User %s logged in." % session.user)
        self.log("USER '%s' logged in." % session.user)
        self.authenticated = True
        self.attempted_logins = 0
        if session.relative_paths:
            self.fs = self.abstracted_fs(session.home, self)
        else:
            self.fs = self.abstracted_fs("/", self)
            self.fs.cwd = session.home
        if session.idle_seconds:
            self.timeout = session.idle_seconds
            if self._idler is not None and not self._idler.cancelled:
                self._idler.cancel()
            self._idler = self.ioloop.call_later(
                self.timeout, self.handle_timeout, _errback=self.handle_error)
        if session.session_seconds:
            self._session_timer = self.ioloop.call_later(
                session.session_seconds, self._session_expired, _errback=self.handle_error)

    def _login_failed(self, message):
        """The 530 reply after the login failure delay; too many failures
        end the connection."""
        username = self.username
        self.username = ""

        def answer():
            self.add_channel()
            if self._closed:
                return
            self.attempted_logins += 1
            if self.attempted_logins >= self.max_login_attempts:
                self.respond("530 %s Disconnecting." % message)
                self.close_when_done()
            else:
                self.respond("530 %s" % message)
            self.log("USER '%s' failed login." % username)

        self.del_channel()
        self.ioloop.call_later(self.auth_failed_timeout, answer, _errback=self.handle_error)

    def _session_expired(self):
        self._session_timer = None
        self.respond("421 Session time-out reached, closing control connection.",
                     logfun=logger.info)
        self.close_when_done()

    def _end_session(self):
        if self._session_timer is not None and not self._session_timer.cancelled:
            self._session_timer.cancel()
        self._session_timer = None
        if self.session is not None:
            self.session.logout()
            self.session = None

    def on_logout(self, username):
        self._end_session()

    def close(self):
        # A transfer cut off here still reports to the quota, so the
        # session ends after the data channel.
        super().close()
        self._end_session()

    def ftp_QUIT(self, line):
        try:
            if self.session is not None:
                sign_off = self.session.sign_off_file()
            else:
                sign_off = q.text_value(self.libraries.ask(q.SIGN_OFF, "", "", self.remote_ip))
            for text in q.message_lines(self._message_path(sign_off)):
                self.push("221-%s\r\n" % text)
            # The session is over for the login limits before the client
            # hears so; a transfer still running ends it later itself.
            if self.data_channel is None:
                self._end_session()
        finally:
            super().ftp_QUIT(line)

    # --- rights ---

    def _allowed(self, command, path, is_dir=False, resuming=False):
        """Asks the libraries; on a refusal answers 550 and returns False."""
        try:
            self.session.require(command, path, is_dir, resuming)
        except Refusal as refusal:
            self.respond("550 %s" % refusal)
            return False
        return True

    def _listing_allowed(self, command, path):
        return self._allowed(command, path, os.path.isdir(path))

    def ftp_LIST(self, path):
        if self._listing_allowed("LIST", path):
            return super().ftp_LIST(path)

    def ftp_NLST(self, path):
        if self._listing_allowed("NLST", path):
            return super().ftp_NLST(path)

    def ftp_MLSD(self, path):
        if self._listing_allowed("MLSD", path):
            return super().ftp_MLSD(path)

    def ftp_MLST(self, path):
        if self._listing_allowed("MLST", path):
            return super().ftp_MLST(path)

    def ftp_STAT(self, path):
        if not path or self._listing_allowed("STAT", path):
            return super().ftp_STAT(path)

    def ftp_SIZE(self, path):
        if self._listing_allowed("SIZE", path):
            return super().ftp_SIZE(path)

    def ftp_MDTM(self, path):
        if self._listing_allowed("MDTM", path):
            return super().ftp_MDTM(path)

    def ftp_MFMT(self, path, timeval):
        if self._allowed("MFMT", path):
            return super().ftp_MFMT(path, timeval)

    def ftp_CWD(self, path):
        if self._allowed("CWD", path, is_dir=True):
            return super().ftp_CWD(path)

    def ftp_MKD(self, path):
        if self._allowed("MKD", path, is_dir=True):
            return super().ftp_MKD(path)

    def ftp_RMD(self, path):
        if self._allowed("RMD", path, is_dir=True):
            return super().ftp_RMD(path)

    def ftp_RNFR(self, path):
        is_dir = os.path.isdir(path)
        if self._allowed("RNFR", path, is_dir):
            self._rnfr_is_dir = is_dir
            return super().ftp_RNFR(path)

    def ftp_RNTO(self, path):
        if not self._rnfr:
            return super().ftp_RNTO(path)
        if not self._allowed("RNTO", path, self._rnfr_is_dir):
            self._rnfr = None
            return None
        if os.path.lexists(path):
            # A rename never replaces: that would delete without asking.
            self._rnfr = None
            self.respond("550 The destination already exists.")
            return None
        return super().ftp_RNTO(path)

    def ftp_DELE(self, path):
        if not self._allowed("DELE", path):
            return None
        size = _size(path)
        done = super().ftp_DELE(path)
        if done:
            self.session.report_stored(size, 0)
        return done

    # --- downloads ---

    def ftp_RETR(self, file):
        if not self._allowed("RETR", file):
            self._restart_position = 0
            return None
        size = max(0, _size(file) - self._restart_position)
        try:
            counts = self.session.check_download(file, size)
        except Refusal as refusal:
            self._restart_position = 0
            self.respond("550 %s" % refusal)
            return None
        done = super().ftp_RETR(file)
        self.download = file if done and counts else None
        return done

    def transfer_ending(self, channel):
        """Called by the data channel when a file transfer ends, before the
        client hears how it went, so that the quota and the credit are
        settled by the time it does."""
        if channel.receive:
            self._upload_ended(channel)
        else:
            self._download_ended(channel)

    def _download_ended(self, channel):
        if self.download is None or self.session is None:
            return
        self.download = None
        self.session.downloaded(channel.tot_bytes_sent, channel.transfer_finished)

    # --- uploads ---

    def ftp_STOR(self, file, mode="w"):
        appending = "a" in mode
        rest = self._restart_position
        command = "APPE" if appending else "STOR"
        if not self._allowed(command, file, resuming=bool(rest)):
            self._restart_position = 0
            return None
        old_size = _size(file)
        replace = not appending and not rest
        # What the upload overwrites of the old file does not count twice.
        if replace:
            replaced = old_size
        elif rest:
            replaced = max(0, old_size - rest)
        else:
            replaced = 0
        budget = self.session.upload_budget(replaced)
        if budget is not None and budget <= 0:
            self._restart_position = 0
            self.respond("552 Disk quota exceeded.")
            return None
        self.upload = Upload(file, replace, old_size, budget)
        done = super().ftp_STOR(file, mode)
        if not done:
            self.upload = None
        return done

    def _upload_ended(self, channel):
        upload, self.upload = self.upload, None
        if upload is None or self.session is None:
            return
        if channel.quota_exceeded:
            _undo_upload(upload)
        self.session.report_stored(upload.old_size, _size(upload.path))
        if channel.transfer_finished and not channel.quota_exceeded:
            self.session.uploaded(channel.tot_bytes_received)


def _size(path):
    """A regular file's size, 0 for anything else."""
    try:
        return os.path.getsize(path) if os.path.isfile(path) else 0
    except OSError:
        return 0


def _undo_upload(upload):
    """Takes back what an upload stopped by the quota stored: a replaced
    file goes (its old bytes were gone when the upload began), an appended
    one returns to its old length."""
    try:
        if upload.replace:
            os.remove(upload.path)
        else:
            os.truncate(upload.path, upload.old_size)
    except OSError as err:
        logger.warning("could not take back the stopped upload %s: %s", upload.path, err)


class Server(ThreadedFTPServer):
    # Worker threads look for the shutdown this often.
    poll_timeout = 1.0


def make_server(libraries, program_dir, address, port, max_users=None,
                idle_timeout=300, login_failure_delay=1.0, minute=60):
    """A server listening on address:port (0: any free port) whose sessions
    ask the libraries."""
    handler = type("BoundSessionHandler", (SessionHandler,), {
        "libraries": libraries,
        "registry": SessionRegistry(max_users),
        "program_dir": program_dir,
        "timeout": idle_timeout,
        "auth_failed_timeout": login_failure_delay,
        "minute": minute,
        "passive_ports": None,
    })
    return Server((address, port), handler)
