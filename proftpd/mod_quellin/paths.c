/* Path mapping: from the client's path to the real one asked about. */

#include "mod_quellin.h"

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
            while (len > 0 && out[len - 1] != '/') {
                len--;
            }
            if (len > 0) {
                len--;
            }
            out[len] = '\0';
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

/* The client's view of a real path in a session confined to its home. */
const char* quellin_client_view(pool* p, const char* real) {
    const char* home = quellin.home;
    size_t n = strlen(home);
    if (strcmp(home, "/") == 0) {
        return real;
    }
    if (strncmp(real, home, n) == 0 && (real[n] == '\0' || real[n] == '/')) {
        return real[n] == '\0' ? "/" : pstrdup(p, real + n);
    }
    return "/";
}

/* The real absolute path a client's path names, or NULL when it names
 * nothing this module will ask about. */
char* quellin_real_path(pool* p, const char* arg) {
    const char* cwd = pr_fs_getcwd();
    const char* view = quellin.relative_paths ? quellin_client_view(p, cwd) : cwd;
    char* path;

    if (arg == NULL || *arg == '\0') {
        arg = ".";
    }
    if (*arg == '~') {
        /* Only the session's own home; "~name" would name another account's. */
        if (arg[1] != '\0' && arg[1] != '/') {
            return NULL;
        }
        arg = pstrcat(p, quellin.relative_paths ? "/" : quellin.home, "/", arg + 1, NULL);
    }
    path = quellin_normalise(p, view, arg);
    if (quellin.relative_paths && strcmp(quellin.home, "/") != 0) {
        path = strcmp(path, "/") == 0 ? pstrdup(p, quellin.home)
                                      : pstrcat(p, quellin.home, path, NULL);
    }
    return path;
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

/* Puts the real path into the command, so that ProFTPD works on the path
 * that was asked about. */
void quellin_rewrite(cmd_rec* cmd, const char* prefix, const char* path) {
    char* arg = prefix != NULL && *prefix != '\0' ? pstrcat(cmd->pool, prefix, " ", path, NULL)
                                                  : pstrdup(cmd->pool, path);
    cmd->arg = arg;
    if (cmd->argc >= 2) {
        cmd->argv[cmd->argc - 1] = pstrdup(cmd->pool, path);
    }
}

modret_t* quellin_judge(cmd_rec* cmd, int code, const char* arg, const char* prefix,
                        char** path_out) {
    char* path = quellin_real_path(cmd->tmp_pool, arg);
    quellin_verdict verdict;

    if (path == NULL) {
        return quellin_permission_denied(cmd);
    }
    verdict = quellin_right(code, path);
    if (verdict != QUELLIN_YES) {
        return quellin_not_granted(cmd, verdict);
    }
    if (quellin.relative_paths && !quellin_is_sftp()) {
        quellin_rewrite(cmd, prefix, path);
    }
    if (path_out != NULL) {
        *path_out = path;
    }
    return NULL;
}
