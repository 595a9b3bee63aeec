"""Logins per second through ProFTPD: with mod_quellin (asking the plug-in,
which answers every login and rights question) beside ProFTPD's own mod_sql
(a table of its own holding the same user and password), on the same
database, for one engine (KESTRIX_E2E_ENGINE). Each login connects, logs in,
lists the home directory and quits, one after the other.

Run through bench/proftpd-logins, which sets the environment the end-to-end
site needs (tests/e2e/test_ftp_end_to_end.py)."""

import ctypes
import ftplib
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import test_ftp_end_to_end as e2e  # noqa: E402

LOGINS = int(os.environ.get("KESTRIX_BENCH_LOGINS", "500"))
ROUNDS = 5
PACE = float(os.environ.get("KESTRIX_BENCH_PACE", "0.45"))


def sql_config(site, port, sftp_port):
    """The site's ProFTPD configuration with mod_sql in mod_quellin's place."""
    if e2e.ENGINE == "SQLite":
        backend = ("LoadModule mod_sql_sqlite.c\n", "sqlite3",
                   site.connection.split("Data Source=", 1)[1])
    else:
        server = e2e.read_pg_env(site.pg_env)
        backend = ("LoadModule mod_sql_postgres.c\n", "postgres",
                   "%s@%s:%s postgres unused" % (site.pg_database, server["KESTRIX_PG_HOST"],
                                                 server["KESTRIX_PG_PORT"]))
    config = e2e.PROFTPD_CONFIG.format(
        root=site.root, modules=os.path.join(site.root, "modules"), port=port,
        sftp_port=sftp_port, registry=site.registry, program_dir=site.program_dir,
        key=site.key, cert=site.cert, log=os.path.join(site.root, "sql.log"))
    config = config.replace("LoadModule mod_quellin.c\n",
                            "LoadModule mod_sql.c\n" + backend[0])
    config = config.replace("ScoreboardFile {0}/proftpd.scoreboard".format(site.root),
                            "ScoreboardFile {0}/sql.scoreboard".format(site.root))
    config = config.replace("PidFile {0}/proftpd.pid".format(site.root),
                            "PidFile {0}/sql.pid".format(site.root))
    config = config.replace("ControlsSocket {0}/proftpd.sock".format(site.root),
                            "ControlsSocket {0}/sql.sock".format(site.root))
    lines = [line for line in config.splitlines() if "Quellin" not in line]
    config = "\n".join(lines).replace("AuthOrder mod_quellin.c", """AuthOrder mod_sql.c
  SQLBackend {1}
  SQLEngine on
  SQLConnectInfo {2}
  SQLAuthTypes Crypt
  SQLAuthenticate users
  SQLUserInfo sqlusers userid passwd uid gid homedir shell
  SQLMinUserUID 1
  SQLMinUserGID 1
  SQLLogFile none""".format(*backend))
    return config + "\n"


def yescrypt(password):
    """The password hashed as Kestrix stores it, through the system's
    libcrypt: both servers then check the same hash with the same code."""
    libcrypt = ctypes.CDLL("libcrypt.so.1")
    libcrypt.crypt_gensalt.restype = ctypes.c_char_p
    libcrypt.crypt_gensalt.argtypes = [ctypes.c_char_p, ctypes.c_ulong, ctypes.c_char_p,
                                       ctypes.c_int]
    libcrypt.crypt.restype = ctypes.c_char_p
    libcrypt.crypt.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
    setting = libcrypt.crypt_gensalt(b"$y$", 0, None, 0)
    if not setting:
        raise RuntimeError("libcrypt makes no yescrypt setting")
    return libcrypt.crypt(password.encode(), setting).decode()


def login_once(port, home):
    ftp = ftplib.FTP(timeout=30)
    ftp.connect("127.0.0.1", port)
    ftp.login("benchuser", "Secret")
    names = ftp.nlst()
    ftp.quit()
    if names != ["file.txt"]:
        raise AssertionError("the home of benchuser listed %r" % names)


def main():
    site = e2e.Site()
    sql_server = None
    try:
        home = site.dir("benchuser")
        site.file(os.path.join(home, "file.txt"))
        # The same stored form for both: a yescrypt hash, as Kestrix keeps
        # passwords (a plain-text one the plug-in would hash at login).
        hashed = yescrypt("Secret")
        site.add_user("benchuser", "{CRYPT}" + hashed, home=home)
        uid = int(subprocess.check_output(["id", "-u", e2e.SESSION_USER]))
        gid = int(subprocess.check_output(["getent", "group", e2e.SESSION_GROUP]).split(b":")[2])
        site.sql("CREATE TABLE sqlusers (userid VARCHAR(64) PRIMARY KEY, passwd VARCHAR(255), "
                 "uid INTEGER, gid INTEGER, homedir VARCHAR(255), shell VARCHAR(64))",
                 "INSERT INTO sqlusers VALUES ('benchuser', %s, %d, %d, %s, '/bin/sh')"
                 % (e2e.lit(hashed), uid, gid, e2e.lit(home)))
        for name in ("mod_sql.so", "mod_sql_sqlite.so", "mod_sql_postgres.so"):
            os.symlink(os.path.join("/usr/lib/proftpd", name),
                       os.path.join(site.root, "modules", name))
        port, sftp_port = e2e.free_port(), e2e.free_port()
        config = os.path.join(site.root, "sql.conf")
        with open(config, "w") as f:
            f.write(sql_config(site, port, sftp_port))
        log = open(os.path.join(site.root, "sql.out"), "w")
        sql_server = subprocess.Popen([e2e.PROFTPD, "-n", "-q", "-c", config], stdout=log,
                                      stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 60
        while True:
            try:
                login_once(port, home)
                break
            except (OSError, ftplib.Error):
                if sql_server.poll() is not None or time.monotonic() > deadline:
                    log.flush()
                    text = ""
                    for name in ("sql.out", "sql.log"):
                        path = os.path.join(site.root, name)
                        if os.path.exists(path):
                            with open(path) as f:
                                text += f.read()
                    raise RuntimeError("ProFTPD with mod_sql does not serve benchuser:\n" + text)
                time.sleep(0.1)
        login_once(site.port, home)

        # Rounds alternate between the two servers, so that both see the
        # same machine. When a session ends, ProFTPD's daemon pauses
        # (0.2 s, once or twice) before it accepts the next connection: a
        # client that connects at once waits that out. Each login is timed
        # from connect to the reply to QUIT; the pause before it (PACE) lets
        # the daemon's pause pass outside the timing, so that the figures
        # show the sessions' own work. PACE=0 times back to back.
        spent = {"mod_quellin": 0.0, "mod_sql": 0.0}
        for _ in range(ROUNDS):
            for name, server_port in (("mod_quellin", site.port), ("mod_sql", port)):
                for _ in range(LOGINS // ROUNDS):
                    if PACE > 0:
                        time.sleep(PACE)
                    started = time.perf_counter()
                    login_once(server_port, home)
                    spent[name] += time.perf_counter() - started
        rates = {name: LOGINS / seconds for name, seconds in spent.items()}
        print("%s: %d logins each (pace %.2f s); mod_quellin %.1f logins/s, mod_sql %.1f "
              "logins/s, ratio %.2f" % (e2e.ENGINE, LOGINS, PACE, rates["mod_quellin"],
                                        rates["mod_sql"],
                                        rates["mod_quellin"] / rates["mod_sql"]))
    finally:
        if sql_server is not None:
            sql_server.terminate()
            sql_server.wait(timeout=60)
        site.stop()


if __name__ == "__main__":
    main()
