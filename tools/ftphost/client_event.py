"""The record through which the server asks a client-check library, and the
libraries themselves."""

import ctypes
import os
import threading

USER_SIZE = 40
DATA_SIZE = 512
ADDRESS_SIZE = 64


class ClientEvent(ctypes.Structure):
    _fields_ = [
        ("code", ctypes.c_int32),
        ("flag", ctypes.c_int32),
        ("user", ctypes.c_char * USER_SIZE),
        ("data", ctypes.c_char * DATA_SIZE),
        ("address", ctypes.c_char * ADDRESS_SIZE),
    ]


assert ctypes.sizeof(ClientEvent) == 624


class FieldTooLong(ValueError):
    """A text does not fit its field with the terminating NUL."""


def field_bytes(text, size):
    """text (str or bytes) as the bytes of a field of size bytes.

    A text that does not fit with its NUL, or that holds a NUL itself, is
    refused rather than cut: a shortened user name or path would ask about
    another user or another file."""
    raw = os.fsencode(text) if isinstance(text, str) else bytes(text)
    if b"\0" in raw or len(raw) > size - 1:
        raise FieldTooLong("%r does not fit a field of %d bytes" % (raw, size))
    return raw


def field_text(raw):
    """A field's bytes up to the first NUL, as text; bytes that are not
    UTF-8 survive as surrogates, so a path comes back unchanged."""
    end = raw.find(b"\0")
    if end >= 0:
        raw = raw[:end]
    return os.fsdecode(raw)


class Answer:
    """What a library made of one question."""

    def __init__(self, handled, flag, data, user):
        self.handled = handled  # the library answers this code
        self.flag = flag        # the answer flag after the call
        self.data = data        # the data field's bytes after the call
        self.user = user        # the user name after the call (may be lower-cased)

    @property
    def text(self):
        return field_text(self.data)

    @property
    def switch(self):
        """A switch answer: the first byte of the data is 1."""
        return self.data[:1] == b"\x01"

    def __repr__(self):
        return "Answer(handled=%r, flag=%r, data=%r, user=%r)" % (
            self.handled, self.flag, self.data[:40], self.user)


NOT_ANSWERED = Answer(False, 0, b"", "")


def _raw(record, field):
    """A field's bytes in full (the attribute itself stops at a NUL)."""
    descriptor = getattr(ClientEvent, field)
    return ctypes.string_at(ctypes.addressof(record) + descriptor.offset, descriptor.size)


class Library:
    """One loaded client-check library."""

    def __init__(self, path):
        self.path = path
        # RTLD_LOCAL: two libraries keep their own symbols apart.
        self._dll = ctypes.CDLL(path, mode=os.RTLD_NOW | os.RTLD_LOCAL)
        self._entry = self._dll.HandleClientEvent
        self._entry.argtypes = [ctypes.POINTER(ClientEvent)]
        self._entry.restype = ctypes.c_int

    def call(self, record):
        return self._entry(ctypes.byref(record))


class Libraries:
    """The loaded libraries, asked in order; the first that answers a code
    gives the answer. Thread-safe: each question has its own record."""

    def __init__(self, paths):
        self.libraries = [Library(p) for p in paths]
        self._trace = None
        self._trace_lock = threading.Lock()

    def trace_to(self, callback):
        """callback(code, user, data_in, answer) after every question."""
        self._trace = callback

    def ask(self, code, user="", data="", address="", flag=0):
        """Puts one question; raises FieldTooLong when an input does not fit."""
        user_raw = field_bytes(user, USER_SIZE)
        data_raw = field_bytes(data, DATA_SIZE)
        address_raw = field_bytes(address, ADDRESS_SIZE)
        answer = NOT_ANSWERED
        for library in self.libraries:
            record = ClientEvent()
            record.code = code
            record.flag = flag
            record.user = user_raw
            record.data = data_raw
            record.address = address_raw
            if library.call(record) != 0:
                answer = Answer(True, record.flag, _raw(record, "data"),
                                field_text(_raw(record, "user")))
                break
        if self._trace is not None:
            with self._trace_lock:
                self._trace(code, user, data, answer)
        return answer
