"""What the server asks a client-check library, and what it makes of the
answers: plain functions, no FTP and no library in here."""

import math
import os
import re
from dataclasses import dataclass

# Event codes.
LOGIN_MESSAGE = 1
HOME_DIRECTORY = 2
PASSWORD = 3
ADDRESS_ALLOWED = 4
FILE_WRITE = 5
FILE_READ = 6
FILE_REMOVE = 7
DIR_LIST = 9
DIR_CHANGE = 10
DIR_REMOVE = 11
DIR_CREATE = 12
HIDE_HIDDEN = 13
RELATIVE_PATHS = 14
RATIO_TYPE = 15
RATIO_DOWN = 16
RATIO_UP = 17
RATIO_CREDIT = 18
RATIO_FREE = 19
QUOTA_ON = 20
QUOTA_VALUE = 21
QUOTA_MAX = 22
ALWAYS_LOGIN = 23
ONE_LOGIN_PER_ADDRESS = 24
ADDRESS_LISTED = 25
SPEED_LIMIT = 26
PASSWORD_CHANGE = 27
IDLE_TIMEOUT = 28
MAX_CONCURRENT = 29
MAX_PER_ADDRESS = 33
PASSWORD_SECOND = 34
FILE_APPEND = 35
SIGN_ON = 36
SIGN_OFF = 37
SESSION_TIMEOUT = 39

RATIO_TYPES = ("FilesPerSession", "BytesPerSession", "BytesOverall", "FilesOverall")

# --- reading answers ------------------------------------------------------

_LEADING_INT = re.compile(r"^\s*([+-]?\d+)")
_LEADING_NUMBER = re.compile(r"^\s*([+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?)")


def leading_int(text):
    """The whole number at the start of text, or None."""
    match = _LEADING_INT.match(text or "")
    return int(match.group(1)) if match else None


def leading_number(text):
    """The decimal number at the start of text (exponent form allowed), or
    None. Infinity and NaN are not numbers here."""
    match = _LEADING_NUMBER.match(text or "")
    if not match:
        return None
    value = float(match.group(1))
    return value if math.isfinite(value) else None


def granted(answer):
    """A yes/no answer: yes only when a library answered with flag 1."""
    return answer.handled and answer.flag == 1


def switch_on(answer):
    """A switch answer: on only when the first data byte is 1."""
    return answer.handled and answer.switch


def text_value(answer):
    """A text answer: the text, or None when there is none. The server
    clears the data field before asking, so an empty field is no value
    whatever the flag says."""
    if not answer.handled:
        return None
    text = answer.text
    return text if text else None


def number_value(answer):
    """A number answer with flag 1, or None."""
    if not granted(answer):
        return None
    return leading_int(answer.text)


def limit_value(answer):
    """A limit (concurrent logins, logins per address): a number above 0,
    or None for no limit. -1 (no value) and 0 both mean no limit."""
    value = number_value(answer)
    return value if value is not None and value > 0 else None


def limit_unknown(answer):
    """A limit answered with flag 0: the library could not read it, and the
    login is refused rather than let past a limit nobody knows."""
    return answer.handled and answer.flag != 1


def minutes_value(answer, minute=60):
    """A time-out in minutes as seconds (minute seconds to the minute), or
    None when there is none (no value, or a value below 1)."""
    value = number_value(answer)
    return value * minute if value is not None and value > 0 else None


def speed_value(answer):
    """The speed limit (text, kilobytes per second) as bytes per second, or
    None for no limit."""
    value = leading_number(text_value(answer))
    if value is None or value <= 0:
        return None
    return max(1, int(value * 1024))


# --- login limits ---------------------------------------------------------


@dataclass(frozen=True)
class LoginLimits:
    max_concurrent: int = None        # this user's sessions at once
    max_per_address: int = None       # this user's sessions from one address
    one_per_address: bool = False
    always_login: bool = False        # past the server's own user limit


@dataclass(frozen=True)
class SessionCounts:
    of_user: int = 0                  # sessions of this user
    of_user_here: int = 0             # of them, from this address
    total: int = 0                    # all logged-in sessions


def limit_refusal(limits, counts, server_max_users=None):
    """The 530 reply text when one more session would break a limit, else
    None. counts are the sessions before this one."""
    if (server_max_users is not None and counts.total >= server_max_users
            and not limits.always_login):
        return "Maximum number of users reached, try again later."
    if limits.max_concurrent is not None and counts.of_user >= limits.max_concurrent:
        return "Maximum number of logins for this account reached."
    per_address = limits.max_per_address
    if limits.one_per_address:
        per_address = 1
    if per_address is not None and counts.of_user_here >= per_address:
        return "Maximum number of logins for this account from your address reached."
    return None


# --- rights of commands ---------------------------------------------------


def plain_path(path):
    """A path without ".", doubled or trailing slashes (the root keeps its
    slash). ".." is left alone: paths arrive resolved (resolved_path), and
    one that still holds ".." names nothing, which the plug-in refuses."""
    names = [n for n in path.split("/") if n not in ("", ".")]
    return "/" + "/".join(names)


def resolved_path(path, floor="/"):
    """The absolute path as the kernel resolves it: every link followed
    where it stands, so ".." after a link climbs from the link's target.
    Names below the first one that does not exist are kept as written; ".."
    at floor stays there. A loop of links, or ".." below a name that does
    not exist, leaves the path as written: it names nothing."""
    done = ""
    todo = path.split("/")
    links = 0
    missing = False
    while todo:
        name = todo.pop(0)
        if name in ("", "."):
            continue
        if name == "..":
            if missing:
                return path
            if (done or "/") != floor:
                done = done[:done.rfind("/")] if done else ""
            continue
        candidate = done + "/" + name
        done = candidate
        if missing:
            continue
        if not os.path.lexists(candidate):
            missing = True
            continue
        if os.path.islink(candidate):
            links += 1
            if links > 40:
                return path
            target = os.readlink(candidate)
            done = "" if target.startswith("/") else done[:done.rfind("/")]
            todo = target.split("/") + todo
    return done or "/"


LIST_COMMANDS = ("LIST", "NLST", "MLSD", "STAT")
INFO_COMMANDS = ("MLST", "SIZE", "MDTM")
CHANGE_COMMANDS = ("CWD", "XCWD", "CDUP", "XCUP")


@dataclass(frozen=True)
class Question:
    code: int
    path: str


def rights_questions(command, path, is_dir=False, resuming=False):
    """The questions one command on path puts; every one must be granted.

    path is the real absolute path the command names. is_dir tells whether
    it names a directory (for RNTO: whether the object renamed, named by
    RNFR, is one); resuming tells a STOR after REST.
    """
    command = command.upper()
    path = plain_path(path)
    parent = os.path.dirname(path) or "/"
    if command in LIST_COMMANDS:
        return [Question(DIR_LIST, path if is_dir else parent)]
    if command in INFO_COMMANDS:
        return [Question(DIR_LIST, path if is_dir else parent)]
    if command in CHANGE_COMMANDS:
        return [Question(DIR_CHANGE, path)]
    if command in ("MKD", "XMKD"):
        return [Question(DIR_CREATE, path)]
    if command in ("RMD", "XRMD"):
        return [Question(DIR_REMOVE, path)]
    if command == "RETR":
        return [Question(FILE_READ, path)]
    if command == "STOR":
        return [Question(FILE_APPEND if resuming else FILE_WRITE, path)]
    if command in ("STOU", "MFMT"):
        return [Question(FILE_WRITE, path)]
    if command == "APPE":
        return [Question(FILE_APPEND, path)]
    if command == "DELE":
        return [Question(FILE_REMOVE, path)]
    if command == "RNFR":
        return [Question(DIR_REMOVE if is_dir else FILE_REMOVE, path)]
    if command == "RNTO":
        return [Question(DIR_CREATE if is_dir else FILE_WRITE, path)]
    raise ValueError("no rights question for %s" % command)


# --- disk quota -----------------------------------------------------------


def upload_budget(remaining, replaced_size=0):
    """How many bytes an upload may store: the quota's remaining bytes plus
    what the upload replaces. None when there is no quota value."""
    if remaining is None:
        return None
    return max(0, remaining) + max(0, replaced_size)


def quota_amount(old_size, new_size):
    """The amount reported after a change of stored bytes: what was stored
    (positive, lowering the quota) or freed (negative, raising it)."""
    return new_size - old_size


# --- upload/download ratio ------------------------------------------------


@dataclass(frozen=True)
class Ratio:
    kind: str   # one of RATIO_TYPES
    up: int     # uploads side
    down: int   # downloads side

    @property
    def counts_files(self):
        return self.kind.startswith("Files")

    @property
    def per_session(self):
        return self.kind.endswith("PerSession")


def ratio_from_answers(kind, down, up):
    """The ratio that applies, or None: it needs one of the four types and a
    downloads side of 0 or more for an uploads side above 0."""
    if kind not in RATIO_TYPES or down is None or up is None:
        return None
    if up <= 0 or down < 0:
        return None
    return Ratio(kind, up, down)


def upload_credit(ratio, nbytes):
    """The credit one finished upload of nbytes earns."""
    units = 1 if ratio.counts_files else nbytes
    return units * ratio.down / ratio.up


def download_cost(ratio, nbytes):
    """The credit one download of nbytes takes."""
    return 1 if ratio.counts_files else nbytes


def may_download(ratio, credit, nbytes):
    """Whether the credit covers a download of nbytes."""
    return (credit or 0) >= download_cost(ratio, nbytes)


def amount_text(value):
    """A credit amount as plain decimal text (no exponent)."""
    if value == int(value):
        return str(int(value))
    return ("%.6f" % value).rstrip("0").rstrip(".")


# --- message files --------------------------------------------------------

MESSAGE_LIMIT = 64 * 1024


def message_lines(path):
    """The lines of a message file (at most MESSAGE_LIMIT bytes), or [] when
    it cannot be read."""
    if not path:
        return []
    try:
        with open(path, "rb") as f:
            raw = f.read(MESSAGE_LIMIT)
    except OSError:
        return []
    text = raw.decode("utf-8", "replace")
    return [line.rstrip() for line in text.splitlines()]
