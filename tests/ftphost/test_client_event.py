import ctypes
import os
import threading
import unittest

from client_event import ClientEvent, FieldTooLong, Libraries, field_bytes, field_text

FIRST = os.environ.get("FTPHOST_PROBE_FIRST")
SECOND = os.environ.get("FTPHOST_PROBE_SECOND")


class Record(unittest.TestCase):
    def test_layout(self):
        self.assertEqual(ctypes.sizeof(ClientEvent), 624)
        self.assertEqual([ClientEvent.code.offset, ClientEvent.flag.offset, ClientEvent.user.offset,
                          ClientEvent.data.offset, ClientEvent.address.offset],
                         [0, 4, 8, 48, 560])

    def test_fields_take_texts_that_fit_with_their_nul(self):
        self.assertEqual(field_bytes("b" * 39, 40), b"b" * 39)
        with self.assertRaises(FieldTooLong):
            field_bytes("b" * 40, 40)
        # Cut at 39 bytes, this name would be another user's.
        with self.assertRaises(FieldTooLong):
            field_bytes("ä" * 20, 40)
        with self.assertRaises(FieldTooLong):
            field_bytes("bob\0admin", 40)

    def test_texts_come_back_unchanged(self):
        name = os.fsdecode(b"/srv/ftp/caf\xe9")
        self.assertEqual(field_text(field_bytes(name, 512) + b"\0junk"), name)


class LoadedLibraries(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not FIRST or not SECOND:
            raise RuntimeError("FTPHOST_PROBE_FIRST and FTPHOST_PROBE_SECOND name the probe "
                               "libraries; run this through ctest")
        cls.libs = Libraries([FIRST, SECOND])

    def test_every_field_reaches_the_library(self):
        answer = self.libs.ask(1, "Bob", "some data", "127.0.0.2", flag=5)
        self.assertTrue(answer.handled)
        self.assertEqual(answer.flag, 7)
        self.assertEqual(answer.text, "1|5|Bob|some data|127.0.0.2")

    def test_the_user_name_the_library_leaves_is_returned(self):
        self.assertEqual(self.libs.ask(2, "BoB").user, "bob")

    def test_a_data_text_without_nul_is_read_to_the_field_end_only(self):
        answer = self.libs.ask(3, "bob")
        self.assertEqual(answer.text, "x" * 512)
        self.assertEqual(len(answer.data), 512)

    def test_a_switch_is_the_first_byte(self):
        self.assertTrue(self.libs.ask(13, "bob").switch)

    def test_the_first_library_that_answers_gives_the_answer(self):
        self.assertEqual(self.libs.ask(4, "bob", "127.0.0.1").text, "second")
        self.assertNotEqual(self.libs.ask(1, "bob").text, "second")
        self.assertFalse(self.libs.ask(99, "bob").handled)

    def test_inputs_that_do_not_fit_are_refused_before_asking(self):
        with self.assertRaises(FieldTooLong):
            self.libs.ask(1, "u" * 40)
        with self.assertRaises(FieldTooLong):
            self.libs.ask(1, "bob", "/" * 512)
        with self.assertRaises(FieldTooLong):
            self.libs.ask(1, "bob", "", "1" * 64)

    def test_questions_from_many_threads_keep_their_own_records(self):
        failures = []

        def worker(n):
            for i in range(200):
                text = "%d-%d" % (n, i)
                got = self.libs.ask(1, "user%d" % n, text, "127.0.0.1").text
                if got != "1|0|user%d|%s|127.0.0.1" % (n, text):
                    failures.append(got)

        threads = [threading.Thread(target=worker, args=(n,)) for n in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(failures, [])

    def test_trace_sees_every_question(self):
        seen = []
        libs = Libraries([FIRST])
        libs.trace_to(lambda code, user, data, answer: seen.append((code, user, answer.handled)))
        libs.ask(2, "Bob")
        libs.ask(4, "Bob")
        self.assertEqual(seen, [(2, "Bob", True), (4, "Bob", False)])


if __name__ == "__main__":
    unittest.main()
