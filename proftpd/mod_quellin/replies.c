/* Refusals, and what trouble in asking turns into: never a permanent 550
 * nor "address not allowed" for a database that does not answer. */

#include "mod_quellin.h"

#define NOT_ANSWERING "the account database is not answering; try again"

modret_t* quellin_refuse(cmd_rec* cmd, const char* code, const char* text) {
    pr_response_add_err(code, "%s", text);
    pr_cmd_set_errno(cmd, EACCES);
    errno = EACCES;
    return PR_ERROR(cmd);
}

modret_t* quellin_permission_denied(cmd_rec* cmd) {
    return quellin_refuse(cmd, R_550, "Permission denied.");
}

static void log_trouble(const char* what, quellin_result trouble) {
    pr_log_pri(PR_LOG_WARNING, MOD_QUELLIN_VERSION ": %s for %s from %s: %s (%s)", what,
               quellin.user[0] != '\0' ? quellin.user : "(no login)", quellin_client_address(),
               trouble == QUELLIN_END_SESSION ? "the session must end"
                                              : "the account database is not answering",
               quellin_ask_cause());
}

static modret_t* end_now(cmd_rec* cmd) {
    if (!quellin_is_sftp()) {
        pr_response_send(R_421, "Service not available, closing control connection.");
    }
    quellin_end_session("the client check ended the session");
    return PR_ERROR(cmd);
}

modret_t* quellin_not_granted(cmd_rec* cmd, quellin_verdict verdict) {
    if (verdict == QUELLIN_MUST_END) {
        log_trouble((const char*)cmd->argv[0], QUELLIN_END_SESSION);
        return end_now(cmd);
    }
    if (verdict == QUELLIN_NOT_ANSWERING) {
        log_trouble((const char*)cmd->argv[0], QUELLIN_UNAVAILABLE);
        pr_response_add_err(R_451, "%s", NOT_ANSWERING);
        pr_cmd_set_errno(cmd, EAGAIN);
        errno = EAGAIN;
        return PR_ERROR(cmd);
    }
    return quellin_permission_denied(cmd);
}

modret_t* quellin_login_trouble(cmd_rec* cmd, quellin_result trouble) {
    log_trouble("login", trouble);
    if (trouble == QUELLIN_END_SESSION) {
        return end_now(cmd);
    }
    if (!quellin_is_sftp()) {
        pr_response_send(R_421, "%s", NOT_ANSWERING);
    }
    quellin_end_session("the account database is not answering");
    return PR_ERROR(cmd);
}

void quellin_note_trouble(const char* what, quellin_result trouble) {
    if (trouble != QUELLIN_UNAVAILABLE && trouble != QUELLIN_END_SESSION) {
        return;
    }
    log_trouble(what, trouble);
    if (trouble == QUELLIN_END_SESSION) {
        if (!quellin_is_sftp()) {
            pr_response_send_async(R_421, "Service not available, closing control connection.");
        }
        quellin_end_session("the client check ended the session");
    }
}
