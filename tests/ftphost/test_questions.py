import os
import tempfile
import unittest

import questions as q
from client_event import Answer, NOT_ANSWERED


def answer(flag=1, data=b"", handled=True, user="bob"):
    return Answer(handled, flag, data.ljust(512, b"\0"), user)


class ReadingAnswers(unittest.TestCase):
    def test_leading_numbers(self):
        self.assertEqual(q.leading_int(" 42abc"), 42)
        self.assertEqual(q.leading_int("-7"), -7)
        self.assertIsNone(q.leading_int("abc"))
        self.assertIsNone(q.leading_int(""))
        self.assertEqual(q.leading_number("3.0"), 3.0)
        self.assertEqual(q.leading_number("1.2346e+06"), 1234600.0)
        self.assertEqual(q.leading_number("12.5 KBps"), 12.5)
        self.assertIsNone(q.leading_number("inf"))
        self.assertIsNone(q.leading_number(None))

    def test_flag_answers_need_a_library_and_flag_one(self):
        self.assertTrue(q.granted(answer(flag=1)))
        self.assertFalse(q.granted(answer(flag=0)))
        self.assertFalse(q.granted(answer(flag=2)))
        self.assertFalse(q.granted(NOT_ANSWERED))

    def test_switch_is_the_byte_value_one_not_the_character(self):
        self.assertTrue(q.switch_on(answer(data=b"\x01")))
        self.assertFalse(q.switch_on(answer(data=b"1")))
        self.assertFalse(q.switch_on(answer(data=b"\x00")))
        self.assertFalse(q.switch_on(Answer(False, 1, b"\x01", "")))

    def test_text_answers_are_values_only_when_not_empty(self):
        self.assertEqual(q.text_value(answer(flag=0, data=b"/srv/msg.txt")), "/srv/msg.txt")
        self.assertIsNone(q.text_value(answer(flag=1, data=b"")))
        self.assertIsNone(q.text_value(NOT_ANSWERED))

    def test_numbers_limits_and_time_outs(self):
        self.assertEqual(q.number_value(answer(data=b"1000")), 1000)
        self.assertIsNone(q.number_value(answer(flag=0, data=b"1000")))
        self.assertEqual(q.limit_value(answer(data=b"3")), 3)
        self.assertIsNone(q.limit_value(answer(data=b"-1")))
        self.assertIsNone(q.limit_value(answer(data=b"0")))
        # Flag 0: the library could not read the limit; no library: none.
        self.assertTrue(q.limit_unknown(answer(flag=0, data=b"1")))
        self.assertFalse(q.limit_unknown(answer(data=b"-1")))
        self.assertFalse(q.limit_unknown(NOT_ANSWERED))
        self.assertEqual(q.minutes_value(answer(data=b"2")), 120)
        self.assertEqual(q.minutes_value(answer(data=b"2"), minute=0.5), 1)
        self.assertIsNone(q.minutes_value(answer(data=b"-1")))
        self.assertIsNone(q.minutes_value(answer(flag=0, data=b"5")))

    def test_speed_is_kilobytes_per_second_as_text(self):
        self.assertEqual(q.speed_value(answer(data=b"10")), 10240)
        self.assertEqual(q.speed_value(answer(data=b"0.5")), 512)
        self.assertIsNone(q.speed_value(answer(data=b"0")))
        self.assertIsNone(q.speed_value(answer(data=b"fast")))
        self.assertIsNone(q.speed_value(NOT_ANSWERED))


class LoginLimits(unittest.TestCase):
    def test_no_limits_admit_anything(self):
        self.assertIsNone(q.limit_refusal(q.LoginLimits(), q.SessionCounts(50, 50, 500)))

    def test_concurrent_logins_of_the_account(self):
        limits = q.LoginLimits(max_concurrent=2)
        self.assertIsNone(q.limit_refusal(limits, q.SessionCounts(of_user=1)))
        self.assertIn("logins for this account",
                      q.limit_refusal(limits, q.SessionCounts(of_user=2)))

    def test_logins_from_one_address(self):
        limits = q.LoginLimits(max_per_address=2)
        self.assertIsNone(q.limit_refusal(limits, q.SessionCounts(5, 1)))
        self.assertIn("from your address", q.limit_refusal(limits, q.SessionCounts(5, 2)))
        one = q.LoginLimits(max_per_address=5, one_per_address=True)
        self.assertIn("from your address", q.limit_refusal(one, q.SessionCounts(1, 1)))

    def test_always_login_passes_the_server_limit_only(self):
        counts = q.SessionCounts(of_user=1, of_user_here=1, total=10)
        self.assertIn("Maximum number of users",
                      q.limit_refusal(q.LoginLimits(), counts, server_max_users=10))
        self.assertIsNone(q.limit_refusal(q.LoginLimits(always_login=True), counts, 10))
        self.assertIsNotNone(q.limit_refusal(
            q.LoginLimits(always_login=True, max_concurrent=1), counts, 10))


class RightsOfCommands(unittest.TestCase):
    def codes(self, command, path, **kw):
        return [(x.code, x.path) for x in q.rights_questions(command, path, **kw)]

    def test_listings_ask_about_the_directory_listed(self):
        for command in ("LIST", "NLST", "MLSD", "STAT", "MLST", "SIZE", "MDTM"):
            self.assertEqual(self.codes(command, "/srv/ftp/bob/sub", is_dir=True),
                             [(q.DIR_LIST, "/srv/ftp/bob/sub")], command)
            self.assertEqual(self.codes(command, "/srv/ftp/bob/f.txt"),
                             [(q.DIR_LIST, "/srv/ftp/bob")], command)

    def test_directory_commands(self):
        self.assertEqual(self.codes("CWD", "/a/b/", is_dir=True), [(q.DIR_CHANGE, "/a/b")])
        self.assertEqual(self.codes("CDUP", "/a", is_dir=True), [(q.DIR_CHANGE, "/a")])
        self.assertEqual(self.codes("MKD", "/a/new", is_dir=True), [(q.DIR_CREATE, "/a/new")])
        self.assertEqual(self.codes("RMD", "/a/old", is_dir=True), [(q.DIR_REMOVE, "/a/old")])

    def test_file_commands(self):
        self.assertEqual(self.codes("RETR", "/a/f"), [(q.FILE_READ, "/a/f")])
        self.assertEqual(self.codes("STOR", "/a/f"), [(q.FILE_WRITE, "/a/f")])
        self.assertEqual(self.codes("STOR", "/a/f", resuming=True), [(q.FILE_APPEND, "/a/f")])
        self.assertEqual(self.codes("APPE", "/a/f"), [(q.FILE_APPEND, "/a/f")])
        self.assertEqual(self.codes("DELE", "/a/f"), [(q.FILE_REMOVE, "/a/f")])
        self.assertEqual(self.codes("MFMT", "/a/f"), [(q.FILE_WRITE, "/a/f")])

    def test_rename_asks_to_take_away_and_to_make(self):
        self.assertEqual(self.codes("RNFR", "/a/f"), [(q.FILE_REMOVE, "/a/f")])
        self.assertEqual(self.codes("RNTO", "/a/g"), [(q.FILE_WRITE, "/a/g")])
        self.assertEqual(self.codes("RNFR", "/a/d", is_dir=True), [(q.DIR_REMOVE, "/a/d")])
        self.assertEqual(self.codes("RNTO", "/a/e", is_dir=True), [(q.DIR_CREATE, "/a/e")])

    def test_paths_are_absolute_and_plain(self):
        # ".." is never removed by its text: a link before it would make
        # the text lie.
        self.assertEqual(q.plain_path("//srv/./ftp//bob/../alice/"), "/srv/ftp/bob/../alice")
        self.assertEqual(q.plain_path("/"), "/")
        self.assertEqual(self.codes("LIST", "/f.txt"), [(q.DIR_LIST, "/")])

    def test_paths_resolve_as_the_kernel_resolves_them(self):
        with tempfile.TemporaryDirectory() as tmp:
            top = os.path.realpath(tmp)
            os.makedirs(os.path.join(top, "home", "bob"))
            os.makedirs(os.path.join(top, "other", "deep"))
            os.symlink(os.path.join(top, "other", "deep"), os.path.join(top, "home", "bob", "ln"))
            os.symlink("../bob", os.path.join(top, "home", "bob", "rel"))
            bob = os.path.join(top, "home", "bob")
            # ".." after a link climbs from the link's target.
            self.assertEqual(q.resolved_path(bob + "/ln/../x.txt"), top + "/other/x.txt")
            self.assertEqual(q.resolved_path(bob + "/rel/./ln/f"), top + "/other/deep/f")
            self.assertEqual(q.resolved_path(bob + "/missing/new"), bob + "/missing/new")
            # Below a name that is not there, ".." names nothing.
            self.assertEqual(q.resolved_path(bob + "/missing/../x"), bob + "/missing/../x")
            # At the floor (the home of a session kept in it) ".." stays.
            self.assertEqual(q.resolved_path(bob + "/../../x", bob), bob + "/x")
            os.symlink("loop", os.path.join(bob, "loop"))
            self.assertEqual(q.resolved_path(bob + "/loop/x"), bob + "/loop/x")

    def test_a_command_without_a_question_is_an_error(self):
        with self.assertRaises(ValueError):
            q.rights_questions("SITE CHMOD", "/a")


class Quota(unittest.TestCase):
    def test_budget_is_what_remains_plus_what_is_replaced(self):
        self.assertIsNone(q.upload_budget(None, 100))
        self.assertEqual(q.upload_budget(1000), 1000)
        self.assertEqual(q.upload_budget(1000, 300), 1300)
        self.assertEqual(q.upload_budget(-5, 0), 0)

    def test_amounts_are_stored_bytes_positive_and_freed_bytes_negative(self):
        self.assertEqual(q.quota_amount(0, 700), 700)
        self.assertEqual(q.quota_amount(700, 0), -700)
        self.assertEqual(q.quota_amount(700, 1000), 300)


class Ratios(unittest.TestCase):
    def test_a_ratio_needs_a_known_type_and_a_positive_uploads_side(self):
        self.assertEqual(q.ratio_from_answers("BytesOverall", 3, 1), q.Ratio("BytesOverall", 1, 3))
        self.assertIsNone(q.ratio_from_answers("bytesoverall", 3, 1))
        self.assertIsNone(q.ratio_from_answers("FilesOverall", None, 1))
        self.assertIsNone(q.ratio_from_answers("FilesOverall", 3, 0))
        self.assertIsNone(q.ratio_from_answers(None, 3, 1))

    def test_kinds(self):
        self.assertTrue(q.Ratio("FilesPerSession", 1, 1).counts_files)
        self.assertTrue(q.Ratio("FilesPerSession", 1, 1).per_session)
        self.assertFalse(q.Ratio("BytesOverall", 1, 1).counts_files)
        self.assertFalse(q.Ratio("BytesOverall", 1, 1).per_session)

    def test_credit_earned_and_spent(self):
        one_to_three = q.Ratio("BytesOverall", 1, 3)
        self.assertEqual(q.upload_credit(one_to_three, 1000), 3000)
        self.assertEqual(q.download_cost(one_to_three, 2500), 2500)
        self.assertTrue(q.may_download(one_to_three, 3000, 3000))
        self.assertFalse(q.may_download(one_to_three, 2999, 3000))
        files = q.Ratio("FilesOverall", 2, 1)
        self.assertEqual(q.upload_credit(files, 10 ** 9), 0.5)
        self.assertEqual(q.download_cost(files, 10 ** 9), 1)
        self.assertFalse(q.may_download(files, None, 5))

    def test_amounts_are_plain_decimals(self):
        self.assertEqual(q.amount_text(3000.0), "3000")
        self.assertEqual(q.amount_text(-1), "-1")
        self.assertEqual(q.amount_text(0.5), "0.5")
        self.assertEqual(q.amount_text(1e20), "100000000000000000000")


class MessageFiles(unittest.TestCase):
    def test_lines_of_a_file_and_nothing_for_a_missing_one(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "msg.txt")
            with open(path, "wb") as f:
                f.write(b"Welcome\r\nto the server  \n")
            self.assertEqual(q.message_lines(path), ["Welcome", "to the server"])
            self.assertEqual(q.message_lines(os.path.join(d, "none.txt")), [])
            self.assertEqual(q.message_lines(None), [])


if __name__ == "__main__":
    unittest.main()
