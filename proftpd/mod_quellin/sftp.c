/* SFTP: what differs when mod_sftp carries the session. */

#include "mod_quellin.h"

int quellin_is_sftp(void) {
    const char* protocol = pr_session_get_protocol(0);
    return protocol != NULL && (strcmp(protocol, "ssh2") == 0 || strcmp(protocol, "sftp") == 0 ||
                                strcmp(protocol, "scp") == 0);
}

/* The server is mod_sftp's: nothing may be written on the connection
 * before the SSH exchange. */
int quellin_sftp_server(void) {
    config_rec* c = find_config(main_server->conf, CONF_PARAM, "SFTPEngine", FALSE);
    return c != NULL && *((int*)c->argv[0]) == TRUE;
}

/* REALPATH names only what the account may list, and a path that does not
 * exist gets the same refusal as one it may not see. */
modret_t* quellin_pre_realpath(cmd_rec* cmd) {
    char* path;
    struct stat st;
    quellin_verdict verdict;

    if (!quellin_logged_in()) {
        return PR_DECLINED(cmd);
    }
    path = quellin_session_path(cmd->tmp_pool, cmd->arg);
    if (path == NULL || pr_fsio_stat(path, &st) < 0) {
        return quellin_permission_denied(cmd);
    }
    verdict = quellin_right(Q_DIR_LIST,
                            S_ISDIR(st.st_mode) ? path : quellin_parent_of(cmd->tmp_pool, path));
    if (verdict != QUELLIN_YES) {
        return quellin_not_granted(cmd, verdict == QUELLIN_NO ? QUELLIN_NO : verdict);
    }
    quellin_rewrite(cmd, NULL, path);
    return PR_DECLINED(cmd);
}
