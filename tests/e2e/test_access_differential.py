"""The access explainer (`kestrix check`) against the FTP server: seeded
random worlds of users, homes, links, rules and blocked addresses, and in
each one many cases, every one asked both ways: `kestrix check ... --json`
and the real FTP command through the server stand-in, which asks the built
plug-in. Both must allow or refuse alike.

The server's answer is the plug-in's: the stand-in asks before it acts and
answers a refusal with "550 Permission denied.". Cases are drawn so that a
granted command cannot fail in the file system (no listing of missing
paths, uploads and new directories only where the parent exists, removing
only empty directories, no rename onto an existing name, no quota or
ratio), so any other failure is a case the harness drew wrongly and fails
the test as well. A download must serve the bytes of the file the kernel
reaches by the path as written: homes hold links whose ".." leads to another
file of the same name than the text says.

Run by hand, for chosen seeds (ranges allowed):
  KESTRIX_DIFF_SEEDS=7,9-11 ctest --test-dir build -R AccessDifferential.SQLite \
      --output-on-failure
KESTRIX_DIFF_CASES sets the cases drawn in each world.
"""

import collections
import ftplib
import io
import json
import os
import random
import shutil
import subprocess
import unittest

from test_ftp_end_to_end import ENGINE, Site, lit, required

RIGHTS = "RWAMELCD"
# Loopback addresses the client connects from, the first most often.
ADDRESSES = ("127.0.0.1", "127.0.0.2", "127.0.0.6", "127.0.1.9", "127.0.3.200", "127.2.0.1")
# Blocked address entries: single addresses, parts of '*' or 'a-b', CIDR
# blocks, and entries that are none of these (they must block nobody).
ADDRESS_ENTRIES = (
    "127.0.0.2", "127.0.0.6", "127.0.1.9", "127.0.3.200", "127.2.0.1",
    "127.0.0.*", "127.0.1-3.*", "127.0.*.9", "127.2-9.0.1", "127.0.2-3.1-250",
    "127.0.0.0/30", "127.0.0.4/30", "127.0.0.0/23", "127.2.0.0/16",
    "127.0.0", "127.0.0.9-3", "127.0.0.1/33", "127.0.0.x",
)
DEFAULT_SEEDS = range(1, 9)
DEFAULT_CASES = 50
KESTRIX = None
SITE = None

WORDS = {True: "allowed", False: "refused", None: "no answer"}
SERVER_WORDS = {**WORDS, None: "failed, not for rights"}
Case = collections.namedtuple("Case", "number user address action command path new_path")


def parse_seeds(text):
    seeds = []
    for part in text.split(","):
        first, _, last = part.strip().partition("-")
        seeds.extend(range(int(first), int(last or first) + 1))
    return seeds


def setUpModule():
    global KESTRIX, SITE
    KESTRIX = required("KESTRIX_E2E_KESTRIX")
    if not os.path.isfile(KESTRIX):
        raise RuntimeError("kestrix %s was not built (target kestrix)" % KESTRIX)
    SITE = Site()


def tearDownModule():
    if SITE is not None:
        SITE.stop()


class World:
    """One seed's users, homes, links, rules and blocked addresses, kept
    as a description of the tree so that it can be put back after a
    command changed it."""

    def __init__(self, seed, root):
        self.seed = seed
        self.rng = random.Random(seed)
        self.root = os.path.join(root, "w%d" % seed)
        self.entries = {}        # relative path -> ("dir",) | ("file", bytes) | ("link", target)
        self.users = []          # names
        self.homes = {}          # name -> relative home
        self.statements = []
        self.description = []
        self._build()

    # --- the tree ---

    def path(self, relative):
        return os.path.join(self.root, relative)

    def _dir(self, relative):
        self.entries[relative] = ("dir",)
        return relative

    def _file(self, relative):
        self.entries[relative] = ("file", ("%s\n" % relative).encode())
        return relative

    def _names(self, kind):
        return sorted(p for p, e in self.entries.items() if e[0] == kind)

    def _tree(self, top):
        """A few directories with files below top, and an empty one."""
        rng = self.rng
        dirs = [top]
        for n in range(rng.randint(2, 4)):
            parent = rng.choice(dirs)
            dirs.append(self._dir("%s/%s%d" % (parent, rng.choice(("a", "sub", "docs", "pub")), n)))
        for d in dirs:
            for n in range(rng.randint(0, 2)):
                self._file("%s/f%d.txt" % (d, n))
        self._dir("%s/empty%d" % (rng.choice(dirs), rng.randint(0, 9)))

    def _build(self):
        rng = self.rng
        # Outside every home: siblings whose names begin alike.
        for top in ("pub", "public", "drop"):
            self._dir(top)
            self._tree(top)
        count = rng.randint(2, 4)
        for i in range(count):
            name = "w%du%d" % (self.seed, i)
            self.users.append(name)
            if i > 0 and rng.random() < 0.2:
                # A home inside another's home.
                outer = self.homes[self.users[rng.randrange(i)]]
                home = self._dir("%s/nest%d" % (outer, i))
            else:
                home = self._dir("home%d" % i)
            self.homes[name] = home
            self._tree(home)
        dirs = self._names("dir")
        files = self._names("file")
        homes = sorted(set(self.homes.values()))
        # Links in the homes: to their own directories, to other homes, out
        # of the home, to files, absolute and relative.
        for home in homes:
            for n in range(rng.randint(1, 3)):
                target = rng.choice(dirs + files)
                link = "%s/ln%d" % (home, n)
                if rng.random() < 0.5:
                    text = os.path.relpath(self.path(target), self.path(home))
                else:
                    text = self.path(target)
                self.entries[link] = ("link", text)
        # Links in the homes beside files, to a folder elsewhere whose own
        # folder holds a file of the same name: "up0/../f0.txt" reaches
        # another file than its text says.
        for home in homes:
            own = [f for f in files if f.startswith(home + "/")]
            for n in range(2 if own else 0):
                name = rng.choice(own)
                leads = [d for d in dirs if not d.startswith(home + "/") and d != home
                         and os.path.dirname(d) + "/" + os.path.basename(name) in files]
                if leads:
                    self.entries["%s/up%d" % (os.path.dirname(name), n)] = (
                        "link", self.path(rng.choice(leads)))
        # A link outside every home that leads into one.
        self.entries["pub/tohome"] = ("link", "../" + rng.choice(homes))
        self.restore()

        # Accounts.
        missing_home = None
        for name in self.users:
            home = self.path(self.homes[name])
            disabled = 1 if rng.random() < 0.12 else 0
            if missing_home is None and rng.random() < 0.08:
                missing_home = home = self.path("gone%s" % name)
            self.statements.append(
                "INSERT INTO users (username, homedir, password, max_concurrent, "
                "max_logins_per_ip, rel_path, disable_user) VALUES (%s, %s, 'Secret', -1, 0, 0, %d)"
                % (lit(name), lit(home), disabled))
            self.description.append("user %s home %s%s" % (name, home,
                                                           " (disabled)" if disabled else ""))
        # Rules: on the home, inside it, in other homes, outside, through
        # links, and on directories that do not exist.
        links = self._names("link")
        for name in self.users:
            for _ in range(rng.randint(0, 6)):
                choice = rng.random()
                if choice < 0.15:
                    target = self.homes[name]
                elif choice < 0.7:
                    own = [d for d in dirs if d.startswith(self.homes[name] + "/")]
                    target = rng.choice(own or dirs)
                elif choice < 0.85:
                    target = rng.choice(dirs)
                elif choice < 0.95:
                    target = rng.choice(links)
                else:
                    target = rng.choice(dirs) + "/none"
                rights = self.rights(8)
                inherit = rng.randint(0, 1)
                self.statements.append(
                    "INSERT INTO dir_rights (username, directory, dir_rights, inherit_subdirs) "
                    "VALUES (%s, %s, %s, %d)" % (lit(name), lit(self.path(target)), lit(rights),
                                                 inherit))
                self.description.append("rule %s %s %r inherit=%d"
                                        % (name, self.path(target), rights, inherit))
            for _ in range(rng.choice((0, 0, 1, 2))):
                target = self.path(rng.choice(files))
                if rng.random() < 0.2:
                    target = target.upper()  # file rules compare without case
                rights = self.rights(5)
                self.statements.append(
                    "INSERT INTO file_rights (username, filename, file_rights) VALUES (%s, %s, %s)"
                    % (lit(name), lit(target), lit(rights)))
                self.description.append("file rule %s %s %r" % (name, target, rights))
        # Blocked addresses, for the whole server and per user or everyone.
        for _ in range(rng.choice((0, 0, 1, 2))):
            entry = rng.choice(ADDRESS_ENTRIES)
            self.statements.append("INSERT INTO blocked_ips (ip) VALUES (%s)" % lit(entry))
            self.description.append("blocked for the server %s" % entry)
        for _ in range(rng.randint(0, 3)):
            who = rng.choice(self.users + ["*"])
            entry = rng.choice(ADDRESS_ENTRIES)
            self.statements.append("INSERT INTO blocked_ips_by_user (username, ip) VALUES (%s, %s)"
                                   % (lit(who), lit(entry)))
            self.description.append("blocked for %s %s" % (who, entry))
        for link in links:
            self.description.append("link %s -> %s" % (self.path(link), self.entries[link][1]))

    def rights(self, most):
        letters = [c for c in RIGHTS if self.rng.random() < 0.5]
        self.rng.shuffle(letters)
        return "".join(letters[:most])

    def restore(self):
        """Puts the tree back as described: removes what is not in it,
        makes what is missing, rewrites changed files and links."""
        for top, dirs, files in os.walk(self.root, topdown=True):
            for name in list(dirs) + files:
                full = os.path.join(top, name)
                relative = os.path.relpath(full, self.root)
                entry = self.entries.get(relative)
                if os.path.islink(full):
                    if entry != ("link", os.readlink(full)):
                        os.unlink(full)
                    if name in dirs:
                        dirs.remove(name)
                elif os.path.isdir(full):
                    if entry != ("dir",):
                        shutil.rmtree(full)
                        dirs.remove(name)
                elif entry is None or entry[0] != "file":
                    os.unlink(full)
        for relative in sorted(self.entries):
            entry = self.entries[relative]
            full = self.path(relative)
            if entry[0] == "dir":
                os.makedirs(full, exist_ok=True)
            elif entry[0] == "link":
                if not os.path.islink(full):
                    os.makedirs(os.path.dirname(full), exist_ok=True)
                    os.symlink(entry[1], full)
            else:
                try:
                    with open(full, "rb") as f:
                        same = f.read() == entry[1]
                except FileNotFoundError:
                    same = False
                if not same:
                    with open(full, "wb") as f:
                        f.write(entry[1])

    # --- cases ---

    def spelled(self, relative, elsewhere=False):
        """The absolute path of relative, sometimes spelled through a link
        and '..', which the kernel (and so the server) takes from the link's
        target. Such a spelling may name another existing entry of the same
        kind only when elsewhere is set (reading and listing); otherwise it
        is kept only when it names the same entry, so that a granted
        command cannot fail in the file system."""
        full = self.path(relative)
        if self.rng.random() >= (0.5 if elsewhere else 0.15):
            return full
        parent = os.path.dirname(relative)
        beside = [p for p in self.entries if os.path.dirname(p) == parent and p != relative
                  and os.path.isdir(self.path(p))]
        if not beside:
            return full
        meant = os.path.realpath(full)
        spellings = ["%s/../%s" % (self.path(p), os.path.basename(relative))
                     for p in sorted(beside)]
        same = [p for p in spellings if os.path.realpath(p) == meant]
        other = [p for p in spellings if os.path.realpath(p) != meant
                 and os.path.exists(os.path.realpath(p))
                 and os.path.isdir(os.path.realpath(p)) == os.path.isdir(meant)]
        if elsewhere and other and self.rng.random() < 0.7:
            return self.rng.choice(other)
        return self.rng.choice(same) if same else full

    @staticmethod
    def _at_or_below(path, directory):
        return path == directory or path.startswith(directory + "/")

    def mostly_own(self, user, pool):
        """One of pool, more often one in the user's own home, where rules
        decide more than the home's refusal."""
        home = self.homes[user]
        own = [p for p in pool if p == home or p.startswith(home + "/")]
        return self.rng.choice(own if own and self.rng.random() < 0.6 else pool)

    def new_name(self, user, parents):
        return "%s/new%d" % (self.mostly_own(user, parents), self.rng.randint(0, 99))

    def cases(self, count):
        """count cases as (user, address) sessions, each beginning with its
        login."""
        rng = self.rng
        dirs = self._names("dir")
        files = self._names("file")
        links = self._names("link")
        dir_links = [p for p in links if os.path.isdir(self.path(p))]
        file_links = [p for p in links if os.path.isfile(self.path(p))]
        empty = [d for d in dirs if not any(os.path.dirname(p) == d for p in self.entries)]
        homes = set(self.homes.values())
        # New names go into directories, some reached through a link.
        parents = dirs + dir_links
        movable = [p for p in dirs + files + links if p not in homes and p.count("/") > 0]
        sessions = {}
        made = 0
        while made < count:
            user = rng.choice(self.users)
            address = ADDRESSES[0] if rng.random() < 0.5 else rng.choice(ADDRESSES)
            queue = sessions.setdefault((user, address), [])
            if not queue:
                queue.append(Case(0, user, address, "login", "USER/PASS", "", ""))
                made += 1
            kind = rng.choice(("NLST", "LIST", "NLST file", "LIST file", "CWD", "RETR", "RETR",
                               "STOR", "STOR new", "APPE", "APPE new", "DELE", "RNFR/RNTO",
                               "RNFR/RNTO", "MKD", "RMD"))

            def own(pool, elsewhere=False):
                return self.spelled(self.mostly_own(user, pool), elsewhere)

            new_path = ""
            if kind in ("NLST", "LIST", "CWD"):
                action, path = "list", own(dirs + dir_links, kind != "CWD")
            elif kind in ("NLST file", "LIST file"):
                action, path = "list", own(files + file_links, True)
            elif kind == "RETR":
                action, path = "download", own(files + file_links, True)
            elif kind in ("STOR", "APPE"):
                action = "upload" if kind == "STOR" else "append"
                path = own(files + file_links)
            elif kind in ("STOR new", "APPE new"):
                action = "upload" if kind.startswith("STOR") else "append"
                path = self.spelled(self.new_name(user, parents))
            elif kind == "DELE":
                action, path = "delete", own(files + file_links)
            elif kind == "RNFR/RNTO":
                action = "rename"
                source = self.mostly_own(user, movable)
                path = self.spelled(source)
                # A directory not into itself (also not through a link):
                # the file system would refuse that. A link moves anywhere.
                into = parents
                if not os.path.islink(self.path(source)):
                    moved = os.path.realpath(self.path(source))
                    into = [p for p in parents
                            if not self._at_or_below(os.path.realpath(self.path(p)), moved)]
                new_path = self.spelled(self.new_name(user, into))
            elif kind == "MKD":
                action, path = "mkdir", self.spelled(self.new_name(user, parents))
            else:
                action, path = "rmdir", own(empty or dirs)
            queue.append(Case(0, user, address, action, kind, path, new_path))
            made += 1
        numbered = []
        for key in sessions:  # in the order the sessions were first drawn
            for case in sessions[key]:
                numbered.append(case._replace(number=len(numbered) + 1))
        return numbered


# --- the two sides ---

def explainer_answer(case):
    """kestrix check's allowed field, and its explanation; None and the
    output when it gave no answer."""
    words = [KESTRIX, "check", case.user, case.action]
    if case.path:
        words.append(case.path)
    if case.new_path:
        words.append(case.new_path)
    words += ["--from", case.address, "--json"]
    done = subprocess.run(words, capture_output=True, text=True, timeout=60,
                          env=dict(os.environ, KESTRIX_REGISTRY=SITE.registry))
    if done.returncode in (0, 3):
        answer = json.loads(done.stdout)
        if answer.get("allowed") is (done.returncode == 0):
            return answer["allowed"], answer.get("explanation", "")
    return None, "exit %d: %s%s" % (done.returncode, done.stdout.strip(), done.stderr.strip())


def refused(reply):
    return reply.startswith("550 Permission denied.")


def server_answer(ftp, case):
    """What the server answered the command: (granted, reply); granted is
    None when the command failed for a reason other than rights."""
    path = case.path
    verb = case.command.split()[0]
    try:
        if verb == "NLST":
            ftp.nlst(path)
        elif verb == "LIST":
            ftp.retrlines("LIST " + path, lambda line: None)
        elif verb == "CWD":
            ftp.cwd(path)
        elif verb == "RETR":
            served = io.BytesIO()
            ftp.retrbinary("RETR " + path, served.write)
            # The bytes of the file the kernel reaches by the path, as asked.
            with open(os.path.realpath(path), "rb") as f:
                expected = f.read()
            if served.getvalue() != expected:
                return None, "served %r, not the bytes of %s" % (served.getvalue(),
                                                                 os.path.realpath(path))
        elif verb in ("STOR", "APPE"):
            ftp.storbinary("%s %s" % (verb, path), io.BytesIO(b"differential\n"))
        elif verb == "DELE":
            ftp.delete(path)
        elif verb == "MKD":
            ftp.mkd(path)
        elif verb == "RMD":
            ftp.rmd(path)
        elif verb == "RNFR/RNTO":
            try:
                ftp.sendcmd("RNFR " + path)
            except ftplib.error_perm as err:
                return (False if refused(str(err)) else None), "RNFR: " + str(err)
            ftp.sendcmd("RNTO " + case.new_path)
        else:
            raise AssertionError("no FTP command for %r" % (case,))
    except ftplib.error_perm as err:
        return (False if refused(str(err)) else None), str(err)
    return True, ftp.lastresp


def open_session(case):
    """A logged-in session for the case's user and address, or None and
    the reply when the login was refused."""
    ftp = ftplib.FTP(timeout=60, source_address=(case.address, 0))
    try:
        try:
            ftp.connect("127.0.0.1", SITE.port)
            ftp.login(case.user, "Secret")
        except (ftplib.error_perm, ftplib.error_temp) as err:
            ftp.close()
            return None, str(err)
        return ftp, "230"
    except BaseException:
        ftp.close()
        raise


def close_session(ftp):
    try:
        ftp.quit()
    except (ftplib.Error, OSError, EOFError):
        pass
    ftp.close()


class Disagreement:
    def __init__(self, world, case, explainer, explanation, server, reply):
        self.world, self.case = world, case
        self.explainer, self.explanation = explainer, explanation
        self.server, self.reply = server, reply

    def __str__(self):
        c = self.case
        line = "kestrix check %s %s %s%s--from %s" % (
            c.user, c.action, c.path + " " if c.path else "",
            c.new_path + " " if c.new_path else "", c.address)
        return ("  seed %d case %d: %s %s%s from %s as %s\n"
                "    server: %s (%s)\n    %s\n    explainer: %s (%s)"
                % (self.world.seed, c.number, c.command, c.path,
                   " -> " + c.new_path if c.new_path else "", c.address, c.user,
                   SERVER_WORDS[self.server], self.reply.strip(), line, WORDS[self.explainer],
                   self.explanation))


def run_world(seed, count, tally):
    """Builds the world of seed, asks its cases both ways and returns the
    disagreements."""
    world = World(seed, SITE.ftp_root)
    # The server-wide list changes as the program changes it: on PostgreSQL
    # with the notification the plug-in listens for (plain SQL is seen only
    # within the plug-in's one second).
    notify = ["NOTIFY kestrix_lists"] if ENGINE == "Postgres" else []
    SITE.sql("DELETE FROM users", "DELETE FROM dir_rights", "DELETE FROM file_rights",
             "DELETE FROM blocked_ips", "DELETE FROM blocked_ips_by_user", *world.statements,
             *notify)
    found = []
    ftp = None
    current = None
    try:
        for case in world.cases(count):
            explainer, explanation = explainer_answer(case)
            if case.action == "login":
                if ftp is not None:
                    close_session(ftp)
                ftp, login_reply = open_session(case)
                server, reply = ftp is not None, login_reply
                current = (case.user, case.address)
            elif ftp is None:
                server, reply = False, "not logged in: " + login_reply
            else:
                assert current == (case.user, case.address)
                server, reply = server_answer(ftp, case)
                world.restore()
            tally["%s %s" % (case.action, case.command)][server] += 1
            if server is None or explainer is not server:
                found.append(Disagreement(world, case, explainer, explanation, server, reply))
    finally:
        if ftp is not None:
            close_session(ftp)
        world.restore()
    return world, found


class ExplainerAgainstServer(unittest.TestCase):
    def test_the_explainer_answers_as_the_server_does(self):
        seeds = parse_seeds(os.environ["KESTRIX_DIFF_SEEDS"]) \
            if os.environ.get("KESTRIX_DIFF_SEEDS") else list(DEFAULT_SEEDS)
        count = int(os.environ.get("KESTRIX_DIFF_CASES") or DEFAULT_CASES)
        tally = collections.defaultdict(collections.Counter)
        classes = collections.Counter()
        report = []
        for seed in seeds:
            world, found = run_world(seed, count, tally)
            for d in found:
                classes["%s %s: server %s, explainer %s" % (
                    d.case.action, d.case.command, SERVER_WORDS[d.server], WORDS[d.explainer])] += 1
            if found:
                report.append("World of seed %d:\n  %s\n%s" % (
                    seed, "\n  ".join(world.description), "\n".join(str(d) for d in found)))
        lines = ["%-20s allowed %3d  refused %3d  failed otherwise %d"
                 % (key, tally[key][True], tally[key][False], tally[key][None])
                 for key in sorted(tally)]
        summary = "%d cases on %s, seeds %s, %d disagreements\n%s" % (
            count * len(seeds), ENGINE, ",".join(map(str, seeds)), sum(classes.values()),
            "\n".join(lines + ["%3d  %s" % (n, c) for c, n in sorted(classes.items())]))
        print(summary)
        vacuous = []
        if seeds == list(DEFAULT_SEEDS) and count == DEFAULT_CASES:
            # The default worlds meet every command with both answers: a
            # server that always says one thing would compare nothing.
            vacuous = ["%s: the server never %s" % (key, WORDS[answer])
                       for key in sorted(tally) for answer in (True, False)
                       if tally[key][answer] == 0]
        if report or vacuous:
            self.fail("\n%s\n%s\n\n%s\n\nOne seed again: KESTRIX_DIFF_SEEDS=<seed> ctest "
                      "-R AccessDifferential.%s --output-on-failure"
                      % (summary, "\n".join(vacuous), "\n\n".join(report), ENGINE))


if __name__ == "__main__":
    unittest.main()
