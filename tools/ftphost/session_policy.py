"""One FTP session's dealings with the client-check libraries: the questions
at connection and login, the rights of each command, the quota and the
ratio credit. No FTP protocol in here; ftp_glue.py drives it."""

import os
import threading

import questions as q
from client_event import FieldTooLong


class Refusal(Exception):
    """A command or a login the libraries refuse; str() is the reply text
    without its code."""


class SessionRegistry:
    """The logged-in sessions of the whole server, for the login limits."""

    def __init__(self, max_users=None):
        self.max_users = max_users
        self._lock = threading.Lock()
        self._sessions = {}
        self._next = 0

    def admit(self, user, address, limits):
        """Registers one more session of user from address unless a limit
        forbids it. Returns a token for release(); raises Refusal."""
        key = user.casefold()
        with self._lock:
            counts = q.SessionCounts(
                of_user=sum(1 for u, _ in self._sessions.values() if u == key),
                of_user_here=sum(1 for u, a in self._sessions.values()
                                 if u == key and a == address),
                total=len(self._sessions))
            refusal = q.limit_refusal(limits, counts, self.max_users)
            if refusal:
                raise Refusal(refusal)
            self._next += 1
            self._sessions[self._next] = (key, address)
            return self._next

    def release(self, token):
        with self._lock:
            self._sessions.pop(token, None)

    def count(self):
        with self._lock:
            return len(self._sessions)


class ConnectionCheck:
    """What the libraries say about a new connection."""

    def __init__(self, ask, address):
        answer = ask(q.ADDRESS_ALLOWED, "", address, address)
        # No library answering leaves the server's own rule: allowed.
        self.allowed = not answer.handled or answer.flag == 1
        self.watched = q.granted(ask(q.ADDRESS_LISTED, "", address, address))
        sign_on = q.text_value(ask(q.SIGN_ON, "", "", address))
        self.sign_on_file = sign_on


class UserSession:
    """A logged-in user and what the libraries said about the account."""

    def __init__(self, ask, address, registry, program_dir, minute=60):
        self._ask_raw = ask
        self.minute = minute
        self.address = address
        self.registry = registry
        self.program_dir = program_dir
        self.user = None
        self.home = None
        self.token = None
        self.idle_seconds = None
        self.session_seconds = None
        self.speed = None
        self.hide_hidden = False
        self.relative_paths = False
        self.quota_on = False
        self.ratio = None
        self.session_credit = 0.0
        self.login_message_file = None

    # --- asking ---

    def ask(self, code, data=""):
        return self._ask_raw(code, self.user, data, self.address)

    def granted(self, code, path):
        try:
            return q.granted(self.ask(code, path))
        except FieldTooLong:
            return False

    # --- login ---

    def login(self, user, password):
        """Runs the login questions; raises Refusal, else the session is
        registered and its settings read."""
        try:
            answer = self._ask_raw(q.PASSWORD, user, password, self.address)
        except FieldTooLong:
            raise Refusal("Login incorrect.")
        if not q.granted(answer):
            raise Refusal("Login incorrect.")
        # The library may have rewritten the name (lower case): later
        # questions use the name as it left it.
        self.user = answer.user or user

        answer = self.ask(q.HOME_DIRECTORY)
        home = q.text_value(answer) if q.granted(answer) else None
        if home is None:
            raise Refusal("Login refused: the account is disabled or has no home directory.")
        home = q.plain_path(home) if os.path.isabs(home) else home
        if not os.path.isabs(home) or not os.path.isdir(home):
            raise Refusal("Login refused: the home directory %s does not exist." % home)

        answer = self.ask(q.ADDRESS_ALLOWED, self.address)
        if answer.handled and answer.flag != 1:
            raise Refusal("Login refused: your address is not allowed for this account.")

        concurrent = self.ask(q.MAX_CONCURRENT)
        per_address = self.ask(q.MAX_PER_ADDRESS)
        if q.limit_unknown(concurrent) or q.limit_unknown(per_address):
            raise Refusal("Login refused: the account's login limits cannot be read.")
        limits = q.LoginLimits(
            max_concurrent=q.limit_value(concurrent),
            max_per_address=q.limit_value(per_address),
            one_per_address=q.switch_on(self.ask(q.ONE_LOGIN_PER_ADDRESS)),
            always_login=q.switch_on(self.ask(q.ALWAYS_LOGIN)))
        self.token = self.registry.admit(self.user, self.address, limits)
        self.home = home
        try:
            self._read_settings()
        except BaseException:
            self.logout()
            raise

    def _read_settings(self):
        self.idle_seconds = q.minutes_value(self.ask(q.IDLE_TIMEOUT), self.minute)
        self.session_seconds = q.minutes_value(self.ask(q.SESSION_TIMEOUT), self.minute)
        self.speed = q.speed_value(self.ask(q.SPEED_LIMIT))
        self.hide_hidden = q.switch_on(self.ask(q.HIDE_HIDDEN))
        self.relative_paths = q.switch_on(self.ask(q.RELATIVE_PATHS))
        # The quota counts only with a maximum to count against.
        self.quota_on = (q.switch_on(self.ask(q.QUOTA_ON))
                         and q.number_value(self.ask(q.QUOTA_MAX)) is not None)
        answer = self.ask(q.RATIO_TYPE)
        kind = answer.text if q.granted(answer) else None
        if kind in q.RATIO_TYPES:
            self.ratio = q.ratio_from_answers(
                kind, q.number_value(self.ask(q.RATIO_DOWN)),
                q.number_value(self.ask(q.RATIO_UP)))
        if self.ratio is not None and self.ratio.per_session:
            # A session starts with the stored credit and keeps its own.
            self.session_credit = self._stored_credit()
        message = q.text_value(self.ask(q.LOGIN_MESSAGE))
        if message and not os.path.isabs(message):
            message = os.path.join(self.program_dir, message)
        self.login_message_file = message

    def logout(self):
        if self.token is not None:
            self.registry.release(self.token)
            self.token = None

    def sign_off_file(self):
        return q.text_value(self.ask(q.SIGN_OFF))

    def change_password(self, old, new):
        """SITE PSWD: the old password must check, then the new one is
        stored."""
        try:
            if not q.granted(self.ask(q.PASSWORD_SECOND, old)):
                raise Refusal("Password not changed: the old password is wrong.")
            if not q.granted(self.ask(q.PASSWORD_CHANGE, new)):
                raise Refusal("Password not changed.")
        except FieldTooLong:
            raise Refusal("Password not changed: the password is too long.")

    # --- rights ---

    def require(self, command, path, is_dir=False, resuming=False):
        """Raises Refusal unless every question of the command is granted."""
        for question in q.rights_questions(command, path, is_dir, resuming):
            if not self.granted(question.code, question.path):
                raise Refusal("Permission denied.")

    # --- disk quota ---

    def upload_budget(self, replaced_size):
        """Bytes an upload may store, or None for no limit."""
        if not self.quota_on:
            return None
        return q.upload_budget(q.number_value(self.ask(q.QUOTA_VALUE, "0")), replaced_size)

    def report_stored(self, old_size, new_size):
        """Tells the quota what a change of stored bytes came to."""
        amount = q.quota_amount(old_size, new_size)
        if self.quota_on and amount != 0:
            self.ask(q.QUOTA_VALUE, str(amount))

    # --- ratio credit ---

    def _stored_credit(self):
        answer = self.ask(q.RATIO_CREDIT, "0")
        value = q.leading_number(answer.text) if q.granted(answer) else None
        return value if value is not None else 0.0

    def credit(self):
        if self.ratio is None:
            return None
        return self.session_credit if self.ratio.per_session else self._stored_credit()

    def ratio_free(self, path):
        return self.granted(q.RATIO_FREE, q.plain_path(path))

    def check_download(self, path, nbytes):
        """Raises Refusal when the ratio credit does not cover the download.
        Returns whether the download counts against the credit."""
        if self.ratio is None or self.ratio_free(path):
            return False
        if not q.may_download(self.ratio, self.credit(), nbytes):
            raise Refusal("Not enough ratio credit to download this file; upload first.")
        return True

    def add_credit(self, amount):
        if self.ratio is None or amount == 0:
            return
        if self.ratio.per_session:
            self.session_credit += amount
        else:
            self.ask(q.RATIO_CREDIT, q.amount_text(amount))

    def downloaded(self, nbytes, complete):
        """Takes the credit of a download that counted: the bytes sent, or
        one file when it was sent whole."""
        if self.ratio is None:
            return
        if self.ratio.counts_files and not complete:
            return
        self.add_credit(-q.download_cost(self.ratio, nbytes))

    def uploaded(self, nbytes):
        """Adds the credit of a finished upload."""
        if self.ratio is not None:
            self.add_credit(q.upload_credit(self.ratio, nbytes))
