/* Path mapping: from the client's path to the session's, which is used,
 * and to the real one, which is asked about. */

#include "mod_quellin.h"

/* Drops the last name of the path in out (length *len): "/a/b" becomes "/a",
 * "/a" becomes "". */
static void drop_last_name(char* out, size_t* len) {
    while (*len > 0 && out[*len - 1] != '/') {
        (*len)--;
    }
    if (*len > 0) {
        (*len)--;
    }
    out[*len] = '\0';
}

/* path made absolute against base and lexically normalised (no ".", ".."
 * or doubled and trailing slashes); ".." stops at the root. */
char* quellin_normalise(pool* p, const char* base, const char* path) {
    char* joined = *path == '/' ? pstrdup(p, path) : pstrcat(p, base, "/", path, NULL);
    char* out = pcalloc(p, strlen(joined) + 2);
    char *segment, *rest = joined;
    size_t len = 0;

    while ((segment = strsep(&rest, "/")) != NULL) {
        if (*segment == '\0' || strcmp(segment, ".") == 0) {
            continue;
        }
        if (strcmp(segment, "..") == 0) {
            drop_last_name(out, &len);
            continue;
        }
        out[len++] = '/';
        strcpy(out + len, segment);
        len += strlen(segment);
    }
    if (len == 0) {
        strcpy(out, "/");
    }
    return out;
}

static int is_under(const char* path, const char* dir) {
    size_t n = strlen(dir);
    if (strcmp(dir, "/") == 0) {
        return TRUE;
    }
    return strncmp(path, dir, n) == 0 && (path[n] == '\0' || path[n] == '/');
}

/* Without a chroot the session's paths are the real ones. In one, the
 * session names its home from the chroot's root. */
void quellin_set_jail(const char* jail) {
    char* normal = jail != NULL ? quellin_normalise(session.pool, "/", jail) : "/";
    size_t n;

    if (strcmp(normal, "/") == 0) {
        quellin.jail[0] = '\0';
        sstrncpy(quellin.view_home, quellin.home, sizeof(quellin.view_home));
        return;
    }
    sstrncpy(quellin.jail, normal, sizeof(quellin.jail));
    n = strlen(quellin.jail);
    /* A home outside the chroot is out of sight: the chroot's root stands in. */
    sstrncpy(
        quellin.view_home,
        is_under(quellin.home, quellin.jail) && quellin.home[n] != '\0' ? quellin.home + n : "/",
        sizeof(quellin.view_home));
}

const char* quellin_real_of(char* out, size_t size, const char* path) {
    size_t needed;

    if (quellin.jail[0] == '\0') {
        return path;
    }
    needed = strlen(quellin.jail) + (strcmp(path, "/") == 0 ? 0 : strlen(path));
    if (needed >= size) {
        return NULL;
    }
    pr_snprintf(out, size, "%s%s", quellin.jail, strcmp(path, "/") == 0 ? "" : path);
    return out;
}

/* Replies of a session kept in its home name its paths as the client sees
 * them: the home is "/". */
char* quellin_reply_filter(pool* p, const char* fmt, ...) {
    char line[PR_RESPONSE_BUFFER_SIZE];
    const char* home = quellin.view_home;
    size_t n = strlen(home);
    char *out, *at, *from;
    va_list ap;

    va_start(ap, fmt);
    pr_vsnprintf(line, sizeof(line), fmt, ap);
    va_end(ap);
    if (!quellin.relative_paths || n <= 1) {
        return pstrdup(p, line);
    }
    out = pstrdup(p, "");
    from = line;
    while ((at = strstr(from, home)) != NULL) {
        char after = at[n];
        *at = '\0';
        out = pstrcat(p, out, from, NULL);
        if (after == '/') {
            from = at + n;
        } else if (after == '\0' || strchr(" \"':\r\n", after) != NULL) {
            out = pstrcat(p, out, "/", NULL);
            from = at + n;
        } else {
            out = pstrcat(p, out, pstrndup(p, home, n), NULL);
            from = at + n;
        }
    }
    return pstrcat(p, out, from, NULL);
}

/* The client's view of a session path: in a session kept in its home the
 * home is "/"; a session shown real paths sees the chroot's real place. */
const char* quellin_client_view(pool* p, const char* path) {
    const char* home = quellin.view_home;
    size_t n = strlen(home);

    if (!quellin.relative_paths) {
        char real[PR_TUNABLE_PATH_MAX + 1];
        const char* named = quellin_real_of(real, sizeof(real), path);
        return named != NULL ? pstrdup(p, named) : path;
    }
    if (strcmp(home, "/") == 0) {
        return path;
    }
    if (strncmp(path, home, n) == 0 && (path[n] == '\0' || path[n] == '/')) {
        return path[n] == '\0' ? "/" : pstrdup(p, path + n);
    }
    return "/";
}

/* Appends "/name" to the path in out (len bytes used); FALSE when it does
 * not fit. */
static int append(char* out, size_t* len, const char* name, size_t n) {
    if (*len + 1 + n >= PR_TUNABLE_PATH_MAX) {
        return FALSE;
    }
    out[(*len)++] = '/';
    memcpy(out + *len, name, n);
    *len += n;
    out[*len] = '\0';
    return TRUE;
}

/* The absolute path as the kernel resolves it: every link followed where
 * it stands, so ".." after a link climbs from the link's target. Names
 * below the first one that does not exist are kept as written. ".." at
 * floor stays there. NULL for a loop of links, a path too long, or ".."
 * below a name that does not exist. */
char* quellin_resolve(pool* p, const char* path, const char* floor) {
    char out[PR_TUNABLE_PATH_MAX + 1] = "";
    char* todo = pstrdup(p, path);
    size_t len = 0;
    int links = 0, missing = FALSE;

    while (*todo != '\0') {
        const char* name;
        size_t n;
        struct stat st;

        while (*todo == '/') {
            todo++;
        }
        name = todo;
        n = strcspn(todo, "/");
        todo += n;
        if (n == 0 || (n == 1 && name[0] == '.')) {
            continue;
        }
        if (n == 2 && name[0] == '.' && name[1] == '.') {
            /* Below a name that does not exist, ".." names nothing either. */
            if (missing) {
                return NULL;
            }
            if (strcmp(out[0] != '\0' ? out : "/", floor) == 0) {
                continue;
            }
            drop_last_name(out, &len);
            continue;
        }
        if (!append(out, &len, name, n)) {
            return NULL;
        }
        if (missing) {
            continue;
        }
        if (lstat(out, &st) < 0) {
            missing = TRUE;
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            char target[PR_TUNABLE_PATH_MAX + 1];
            ssize_t got = readlink(out, target, sizeof(target) - 1);

            if (++links > 40 || got <= 0) {
                return NULL;
            }
            target[got] = '\0';
            /* The link is replaced by its target, read from where it stands. */
            len -= n + 1;
            out[len] = '\0';
            if (target[0] == '/') {
                len = 0;
                out[0] = '\0';
            }
            todo = pstrcat(p, target, "/", todo, NULL);
        }
    }
    return pstrdup(p, len == 0 ? "/" : out);
}

/* The session path a client's path names, every link resolved as the
 * kernel resolves it in the session, or NULL when it names nothing this
 * module will ask about. In a session kept in its home, "/" is the home and
 * ".." stops there. A session shown real paths in a chroot names its home
 * by the real path; any other absolute path is read inside the chroot,
 * as mod_sftp's REALPATH names paths there. */
char* quellin_session_path(pool* p, const char* arg) {
    const char* cwd = pr_fs_getcwd();
    const char* home = quellin.view_home;
    const char* floor = quellin.relative_paths ? home : "/";
    const char* start;

    if (arg == NULL || *arg == '\0') {
        arg = ".";
    }
    if (*arg == '~') {
        /* Only the session's own home; "~name" would name another account's. */
        if (arg[1] != '\0' && arg[1] != '/') {
            return NULL;
        }
        return quellin_resolve(p, pstrcat(p, home, "/", arg + 1, NULL), floor);
    }
    if (!quellin.relative_paths && quellin.jail[0] != '\0' && *arg == '/' &&
        is_under(arg, quellin.jail)) {
        arg += strlen(quellin.jail);
    }
    /* mod_sftp's REALPATH answers session paths: an SFTP client kept in a
     * home below the chroot's root then names it by that path. */
    if (quellin.relative_paths && quellin_is_sftp() && *arg == '/' && strcmp(home, "/") != 0 &&
        is_under(arg, home)) {
        arg += strlen(home);
    }
    if (*arg == '\0') {
        arg = "/";
    }
    start = *arg == '/' ? (quellin.relative_paths ? home : "") : cwd;
    return quellin_resolve(p, pstrcat(p, start, "/", arg, NULL), floor);
}

char* quellin_parent_of(pool* p, const char* path) {
    char* copy = pstrdup(p, path);
    char* slash = strrchr(copy, '/');
    if (slash == NULL || slash == copy) {
        return pstrdup(p, "/");
    }
    *slash = '\0';
    return copy;
}

int quellin_is_dir(const char* path) {
    struct stat st;
    return pr_fsio_stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int quellin_has_glob(const char* text) {
    return strpbrk(text, "*?[") != NULL;
}

/* path named from dir with "../" where needed; both are absolute and
 * without links, so the kernel reads it as the same path. */
static char* relative_to(pool* p, const char* dir, const char* path) {
    char* up = pstrdup(p, "");
    const char* common = dir;
    char* rest;

    while (!is_under(path, common)) {
        up = pstrcat(p, up, "../", NULL);
        common = quellin_parent_of(p, common);
    }
    rest = pstrdup(p, path + (strcmp(common, "/") == 0 ? 1 : strlen(common)));
    if (*rest == '/') {
        rest++;
    }
    if (*rest == '\0') {
        size_t n = strlen(up);
        return n == 0 ? pstrdup(p, ".") : pstrndup(p, up, n - 1);
    }
    return pstrcat(p, up, rest, NULL);
}

/* Puts the session path into the command, so that ProFTPD works on the
 * path that was asked about. A session kept in its home, or chrooted, gets
 * it named from its working directory, so that what ProFTPD prints of it
 * (listings of a pattern, replies) names neither the real home nor a path
 * the client does not know. */
void quellin_rewrite(cmd_rec* cmd, const char* prefix, const char* path) {
    const char* cwd = pr_fs_getcwd();
    if ((quellin.relative_paths && is_under(path, quellin.view_home) &&
         is_under(cwd, quellin.view_home)) ||
        (!quellin.relative_paths && quellin.jail[0] != '\0')) {
        path = relative_to(cmd->pool, pr_fs_getcwd(), path);
    }
    char* arg = prefix != NULL && *prefix != '\0' ? pstrcat(cmd->pool, prefix, " ", path, NULL)
                                                  : pstrdup(cmd->pool, path);
    cmd->arg = arg;
    if (cmd->argc >= 2) {
        cmd->argv[cmd->argc - 1] = pstrdup(cmd->pool, path);
    }
}

modret_t* quellin_judge(cmd_rec* cmd, int code, const char* arg, const char* prefix,
                        char** path_out) {
    char* path = quellin_session_path(cmd->tmp_pool, arg);
    quellin_verdict verdict;

    if (path == NULL) {
        return quellin_permission_denied(cmd);
    }
    verdict = quellin_right(code, path);
    if (verdict != QUELLIN_YES) {
        return quellin_not_granted(cmd, verdict);
    }
    /* ProFTPD and mod_sftp act on exactly the path that was judged. */
    quellin_rewrite(cmd, prefix, path);
    quellin_fs_judged(path, code);
    if (path_out != NULL) {
        *path_out = path;
    }
    return NULL;
}
