import os
import tempfile
import unittest

from servu_ini import (ConfigError, client_check_libraries, find_config_file, plugin_paths,
                       resolve_library)


class ClientCheckLines(unittest.TestCase):
    def test_lines_of_the_external_section_in_number_order(self):
        text = ("[GLOBAL]\r\nClientCheckDLL1=Wrong.so\r\n"
                "[EXTERNAL]\r\nClientCheckDLL2=Second.so\r\nClientCheckDLL1=Quellin.so\r\n"
                "ClientCheckDLL10=Tenth.so\r\n\r\n[DOMAINS]\r\nClientCheckDLL3=Wrong.so\r\n")
        self.assertEqual(client_check_libraries(text), ["Quellin.so", "Second.so", "Tenth.so"])

    def test_labels_and_keys_compare_without_case_and_blanks(self):
        text = "  [external]  \nclientcheckdll1 = Quellin.so  \n"
        self.assertEqual(client_check_libraries(text), ["Quellin.so"])

    def test_first_line_of_a_number_wins_and_empty_values_name_nothing(self):
        text = "[EXTERNAL]\nClientCheckDLL1=\nClientCheckDLL1=A.so\nClientCheckDLL1=B.so\n"
        self.assertEqual(client_check_libraries(text), ["A.so"])

    def test_other_keys_and_a_missing_section_name_nothing(self):
        self.assertEqual(client_check_libraries("[EXTERNAL]\nClientCheckDLLx=A.so\n"
                                                "SomethingElse=B.so\n"), [])
        self.assertEqual(client_check_libraries("ClientCheckDLL1=A.so\n"), [])


class ProgramDirectory(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory()
        self.dir = self._tmp.name

    def tearDown(self):
        self._tmp.cleanup()

    def write(self, name, text=""):
        with open(os.path.join(self.dir, name), "w") as f:
            f.write(text)

    def test_config_names_are_found_without_regard_to_case(self):
        self.assertIsNone(find_config_file(self.dir))
        self.write("SERV-U.INI")
        self.assertEqual(find_config_file(self.dir), os.path.join(self.dir, "SERV-U.INI"))

    def test_the_daemon_file_wins_over_serv_u_ini(self):
        self.write("serv-u.ini")
        self.write("ServUDaemon.ini")
        self.assertEqual(find_config_file(self.dir), os.path.join(self.dir, "ServUDaemon.ini"))

    def test_a_directory_named_like_the_file_is_not_the_file(self):
        os.mkdir(os.path.join(self.dir, "ServUDaemon.ini"))
        self.write("serv-u.ini")
        self.assertEqual(find_config_file(self.dir), os.path.join(self.dir, "serv-u.ini"))

    def test_libraries_resolve_in_the_program_directory(self):
        self.write("quellin.SO")
        self.assertEqual(resolve_library(self.dir, "Quellin.so"),
                         os.path.join(self.dir, "quellin.SO"))
        self.write("Quellin.so")
        self.assertEqual(resolve_library(self.dir, "Quellin.so"),
                         os.path.join(self.dir, "Quellin.so"))
        self.assertEqual(resolve_library(self.dir, "/abs/Q.so"), "/abs/Q.so")

    def test_plugin_paths_of_a_complete_directory(self):
        self.write("ServUDaemon.ini", "[EXTERNAL]\r\nClientCheckDLL1=Quellin.so\r\n")
        self.write("Quellin.so")
        config, paths = plugin_paths(self.dir)
        self.assertEqual(config, os.path.join(self.dir, "ServUDaemon.ini"))
        self.assertEqual(paths, [os.path.join(self.dir, "Quellin.so")])

    def test_plugin_paths_refuse_what_cannot_serve(self):
        with self.assertRaisesRegex(ConfigError, "no ServUDaemon.ini or serv-u.ini"):
            plugin_paths(self.dir)
        self.write("ServUDaemon.ini", "[GLOBAL]\r\n")
        with self.assertRaisesRegex(ConfigError, "names no library"):
            plugin_paths(self.dir)
        self.write("ServUDaemon.ini", "[EXTERNAL]\r\nClientCheckDLL1=Quellin.so\r\n")
        with self.assertRaisesRegex(ConfigError, "Quellin.so, which is not there"):
            plugin_paths(self.dir)
        with self.assertRaises(ConfigError):
            plugin_paths(os.path.join(self.dir, "missing"))


if __name__ == "__main__":
    unittest.main()
