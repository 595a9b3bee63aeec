"""The FTP server's configuration file: which client-check libraries to load.

The server reads ServUDaemon.ini (or serv-u.ini) in its program directory and
loads, in the order of their numbers, the libraries named by the
ClientCheckDLL<n> lines of its [EXTERNAL] section.
"""

import os
import re

# Looked for in this order; names compare without regard to case, as the
# configuration dialog that writes them does.
CONFIG_NAMES = ("servudaemon.ini", "serv-u.ini")

_CHECK_KEY = re.compile(r"^clientcheckdll(\d+)$", re.IGNORECASE)


class ConfigError(Exception):
    """The program directory has no usable configuration."""


def find_config_file(program_dir):
    """The configuration file in program_dir, or None.

    When both names exist the daemon's own file, ServUDaemon.ini, wins.
    """
    try:
        entries = os.listdir(program_dir)
    except OSError as err:
        raise ConfigError("cannot read the FTP server directory %s: %s"
                          % (program_dir, err.strerror)) from err
    by_name = {}
    for entry in sorted(entries):
        by_name.setdefault(entry.lower(), entry)
    for name in CONFIG_NAMES:
        if name in by_name:
            path = os.path.join(program_dir, by_name[name])
            if os.path.isfile(path):
                return path
    return None


def client_check_libraries(text):
    """The library names of the [EXTERNAL] section's ClientCheckDLL<n> lines,
    ordered by n. Later duplicates of a number are ignored; an empty value
    names nothing."""
    found = {}
    in_external = False
    for raw in text.splitlines():
        line = raw.strip()
        if line.startswith("["):
            in_external = line.upper() == "[EXTERNAL]"
            continue
        if not in_external or "=" not in line:
            continue
        key, value = line.split("=", 1)
        match = _CHECK_KEY.match(key.strip())
        if not match:
            continue
        number = int(match.group(1))
        value = value.strip()
        if value and number not in found:
            found[number] = value
    return [found[n] for n in sorted(found)]


def resolve_library(program_dir, name):
    """The file a library name stands for: a bare name lives in program_dir
    (found without regard to case when no exact match exists); a relative
    path is taken from program_dir; an absolute path as it stands."""
    path = os.path.join(program_dir, name)
    if os.path.exists(path) or os.sep in name:
        return path
    try:
        for entry in sorted(os.listdir(program_dir)):
            if entry.lower() == name.lower():
                return os.path.join(program_dir, entry)
    except OSError:
        pass
    return path


def plugin_paths(program_dir):
    """The configuration file and the libraries it names, as paths.

    Raises ConfigError when there is no configuration file, when it names no
    library, or when a named library is missing: a server without its
    client check would refuse every login, so it had better not start.
    """
    config = find_config_file(program_dir)
    if config is None:
        raise ConfigError("no ServUDaemon.ini or serv-u.ini in %s" % program_dir)
    with open(config, "rb") as f:
        text = f.read().decode("utf-8", "replace")
    names = client_check_libraries(text)
    if not names:
        raise ConfigError("%s names no library: its [EXTERNAL] section has no "
                          "ClientCheckDLL1 line" % config)
    paths = []
    for name in names:
        path = resolve_library(program_dir, name)
        if not os.path.isfile(path):
            raise ConfigError("%s names %s, which is not there (%s)"
                              % (config, name, path))
        if path not in paths:
            paths.append(path)
    return config, paths
