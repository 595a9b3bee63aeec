/* The rights of commands that name a path. */

#include "mod_quellin.h"

/* The size of the file DELE removes, given back to the quota once it is gone. */
static off_t freed_size = 0;
/* RNFR named a directory: RNTO asks about creating one. */
static int rename_is_dir = FALSE;

/* Commands with one question about the path they name. */
static const struct {
    const char* command;
    int code;
} path_questions[] = {{C_CWD, Q_DIR_CHANGE},  {C_XCWD, Q_DIR_CHANGE}, {C_MKD, Q_DIR_CREATE},
                      {C_XMKD, Q_DIR_CREATE}, {C_RMD, Q_DIR_REMOVE},  {C_XRMD, Q_DIR_REMOVE}};

modret_t* quellin_pre_path(cmd_rec* cmd) {
    size_t i;
    modret_t* refusal;

    if (!quellin_logged_in()) {
        return PR_DECLINED(cmd);
    }
    for (i = 0; i < sizeof(path_questions) / sizeof(path_questions[0]); i++) {
        if (strcmp(cmd->argv[0], path_questions[i].command) == 0) {
            refusal = quellin_judge(cmd, path_questions[i].code, cmd->arg, NULL, NULL);
            return refusal != NULL ? refusal : PR_DECLINED(cmd);
        }
    }
    return quellin_permission_denied(cmd);
}

/* Splits LIST/NLST/STAT options ("-la") from the path. */
static const char* list_path(cmd_rec* cmd, char** options) {
    char* arg = cmd->arg != NULL ? pstrdup(cmd->tmp_pool, cmd->arg) : pstrdup(cmd->tmp_pool, "");
    char* opts = pstrdup(cmd->pool, "");

    while (*arg == '-') {
        char* space = strchr(arg, ' ');
        if (space == NULL) {
            opts = pstrcat(cmd->pool, opts, *opts ? " " : "", arg, NULL);
            arg = "";
            break;
        }
        *space = '\0';
        opts = pstrcat(cmd->pool, opts, *opts ? " " : "", arg, NULL);
        arg = space + 1;
        while (*arg == ' ') {
            arg++;
        }
    }
    *options = opts;
    return arg;
}

/* Asks about the directory a path lists (for a file: its directory). */
static modret_t* judge_listed(cmd_rec* cmd, const char* path) {
    quellin_verdict verdict = quellin_right(
        Q_DIR_LIST, quellin_is_dir(path) ? path : quellin_parent_of(cmd->tmp_pool, path));
    return verdict == QUELLIN_YES ? NULL : quellin_not_granted(cmd, verdict);
}

modret_t* quellin_pre_list(cmd_rec* cmd) {
    char* options = "";
    const char* arg;
    char *path, *tail;
    quellin_verdict verdict;
    modret_t* refusal;

    if (!quellin_logged_in()) {
        return PR_DECLINED(cmd);
    }
    arg = list_path(cmd, &options);
    if (strcmp(cmd->argv[0], C_STAT) == 0 && cmd->argc < 2) {
        return PR_DECLINED(cmd);
    }
    path = quellin_session_path(cmd->tmp_pool, arg);
    if (path == NULL) {
        return quellin_permission_denied(cmd);
    }
    /* A pattern may only stand in the last part: the directory asked about
     * is then the one the pattern lists. */
    tail = strrchr(path, '/');
    if (quellin_has_glob(path)) {
        char* parent = quellin_parent_of(cmd->tmp_pool, path);
        if (tail == NULL || quellin_has_glob(parent)) {
            return quellin_permission_denied(cmd);
        }
        verdict = quellin_right(Q_DIR_LIST, parent);
        refusal = verdict == QUELLIN_YES ? NULL : quellin_not_granted(cmd, verdict);
    } else {
        refusal = judge_listed(cmd, path);
    }
    if (refusal != NULL) {
        return refusal;
    }
    if (*arg != '\0' || quellin_is_sftp()) {
        quellin_rewrite(cmd, options, path);
    }
    return PR_DECLINED(cmd);
}

modret_t* quellin_pre_info(cmd_rec* cmd) {
    char* path;
    modret_t* refusal;

    if (!quellin_logged_in()) {
        return PR_DECLINED(cmd);
    }
    path = quellin_session_path(cmd->tmp_pool, cmd->arg);
    if (path == NULL) {
        return quellin_permission_denied(cmd);
    }
    refusal = judge_listed(cmd, path);
    if (refusal != NULL) {
        return refusal;
    }
    if ((cmd->arg != NULL && *cmd->arg != '\0') || quellin_is_sftp()) {
        quellin_rewrite(cmd, NULL, path);
    }
    return PR_DECLINED(cmd);
}

modret_t* quellin_pre_mfmt(cmd_rec* cmd) {
    const char* arg;
    modret_t* refusal;

    if (!quellin_logged_in()) {
        return PR_DECLINED(cmd);
    }
    arg = cmd->argc >= 3 ? strchr(cmd->arg, ' ') : NULL;
    if (arg == NULL) {
        return quellin_permission_denied(cmd);
    }
    refusal = quellin_judge(cmd, Q_FILE_WRITE, arg + 1, cmd->argv[1], NULL);
    return refusal != NULL ? refusal : PR_DECLINED(cmd);
}

modret_t* quellin_pre_cdup(cmd_rec* cmd) {
    char* path;
    quellin_verdict verdict;

    if (!quellin_logged_in()) {
        return PR_DECLINED(cmd);
    }
    path = quellin_session_path(cmd->tmp_pool, "..");
    if (path == NULL) {
        return quellin_permission_denied(cmd);
    }
    verdict = quellin_right(Q_DIR_CHANGE, path);
    return verdict == QUELLIN_YES ? PR_DECLINED(cmd) : quellin_not_granted(cmd, verdict);
}

/* In a session confined to its home, CDUP stops at the home and PWD shows
 * the client's own view. */
modret_t* quellin_cdup(cmd_rec* cmd) {
    char* path;
    if (!quellin_logged_in() || !quellin.relative_paths) {
        return PR_DECLINED(cmd);
    }
    path = quellin_session_path(cmd->tmp_pool, "..");
    if (pr_fsio_chdir_canon(path, TRUE) < 0) {
        return quellin_refuse(cmd, R_550, strerror(errno));
    }
    sstrncpy(session.cwd, pr_fs_getcwd(), sizeof(session.cwd));
    sstrncpy(session.vwd, pr_fs_getvwd(), sizeof(session.vwd));
    pr_response_add(R_250, "%s command successful", (char*)cmd->argv[0]);
    return PR_HANDLED(cmd);
}

/* A chrooted session shown real paths sees the chroot's real place. */
modret_t* quellin_pwd(cmd_rec* cmd) {
    if (!quellin_logged_in() || (!quellin.relative_paths && quellin.jail[0] == '\0')) {
        return PR_DECLINED(cmd);
    }
    pr_response_add(R_257, "\"%s\" is the current directory",
                    quellin_client_view(cmd->tmp_pool, pr_fs_getcwd()));
    return PR_HANDLED(cmd);
}

modret_t* quellin_pre_dele(cmd_rec* cmd) {
    modret_t* refusal;
    char* path = NULL;
    struct stat st;

    if (!quellin_logged_in()) {
        return PR_DECLINED(cmd);
    }
    refusal = quellin_judge(cmd, Q_FILE_REMOVE, cmd->arg, NULL, &path);
    if (refusal != NULL) {
        return refusal;
    }
    freed_size = pr_fsio_lstat(path, &st) == 0 ? st.st_size : 0;
    return PR_DECLINED(cmd);
}

modret_t* quellin_post_dele(cmd_rec* cmd) {
    char amount[64];
    quellin_event ev;

    if (!quellin_logged_in() || !quellin.quota_on || freed_size == 0) {
        return PR_DECLINED(cmd);
    }
    pr_snprintf(amount, sizeof(amount), "-%" PR_LU, (pr_off_t)freed_size);
    freed_size = 0;
    quellin_note_trouble("quota credit", quellin_ask(Q_QUOTA_VALUE, quellin.user, amount, &ev));
    return PR_DECLINED(cmd);
}

modret_t* quellin_pre_rnfr(cmd_rec* cmd) {
    char* path;
    modret_t* refusal;

    if (!quellin_logged_in()) {
        return PR_DECLINED(cmd);
    }
    path = quellin_session_path(cmd->tmp_pool, cmd->arg);
    rename_is_dir = path != NULL && quellin_is_dir(path);
    refusal =
        quellin_judge(cmd, rename_is_dir ? Q_DIR_REMOVE : Q_FILE_REMOVE, cmd->arg, NULL, NULL);
    return refusal != NULL ? refusal : PR_DECLINED(cmd);
}

modret_t* quellin_pre_rnto(cmd_rec* cmd) {
    char* path;
    struct stat st;
    modret_t* refusal;

    if (!quellin_logged_in()) {
        return PR_DECLINED(cmd);
    }
    path = quellin_session_path(cmd->tmp_pool, cmd->arg);
    /* Replacing a file would delete it without asking. */
    if (path != NULL && pr_fsio_lstat(path, &st) == 0) {
        return quellin_refuse(cmd, R_550, "The destination already exists.");
    }
    refusal = quellin_judge(cmd, rename_is_dir ? Q_DIR_CREATE : Q_FILE_WRITE, cmd->arg, NULL, NULL);
    return refusal != NULL ? refusal : PR_DECLINED(cmd);
}

/* Commands no question covers: a file's mode, links, copies, a unique name
 * that cannot be asked about before it exists. */
modret_t* quellin_pre_refused(cmd_rec* cmd) {
    if (!quellin_logged_in()) {
        return PR_DECLINED(cmd);
    }
    return quellin_permission_denied(cmd);
}

modret_t* quellin_pre_site(cmd_rec* cmd) {
    if (!quellin_logged_in()) {
        return PR_DECLINED(cmd);
    }
    if (cmd->argc >= 2 && strcasecmp(cmd->argv[1], "HELP") == 0) {
        return PR_DECLINED(cmd);
    }
    return quellin_permission_denied(cmd);
}
