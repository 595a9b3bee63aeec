/* The connection's address check and the login sequence. */

#include "mod_quellin.h"

#include <sys/file.h>

static int is_trouble(quellin_result result) {
    return result == QUELLIN_UNAVAILABLE || result == QUELLIN_END_SESSION;
}

/* The address question at connect, the command log and the sign-on
 * message. 0, or -1 when the session is refused. */
int quellin_connect(void) {
    quellin_event ev;
    quellin_result answer;
    char text[512];
    const char* lock;

    /* The database is readable by root and the kestrix group only: the
     * session's one connection is opened by the first question, below,
     * which is asked with root's rights. */
    lock = pstrcat(session.pool, pr_get_scoreboard(), ".quellin", NULL);
    PRIVS_ROOT
    quellin.lock_fd = open(lock, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    PRIVS_RELINQUISH

    answer = quellin_ask(Q_ADDRESS, "", quellin_client_address(), &ev);
    if (is_trouble(answer)) {
        pr_log_pri(PR_LOG_WARNING, MOD_QUELLIN_VERSION ": %s: %s (%s)", quellin_client_address(),
                   answer == QUELLIN_END_SESSION ? "the session must end"
                                                 : "the account database is not answering",
                   quellin_ask_cause());
        if (!quellin_sftp_server()) {
            pr_response_send(R_421, "the account database is not answering; try again");
        }
        quellin_end_session("the account database is not answering");
        return -1;
    }
    if (answer == QUELLIN_ANSWERED && ev.flag != 1) {
        pr_log_pri(PR_LOG_NOTICE, MOD_QUELLIN_VERSION ": %s: address not allowed to connect",
                   quellin_client_address());
        if (!quellin_sftp_server()) {
            pr_response_send(R_421, "Your address is not allowed to connect.");
        }
        quellin_end_session("address not allowed");
        return -1;
    }
    quellin.watched =
        quellin_ask(Q_ADDRESS_LISTED, "", quellin_client_address(), &ev) == QUELLIN_ANSWERED &&
        ev.flag == 1;
    if (!quellin_sftp_server() && quellin_text(Q_SIGN_ON, "", text, sizeof(text))) {
        quellin_send_message(session.pool, R_220, text);
    }
    return 0;
}

modret_t* quellin_pre_user(cmd_rec* cmd) {
    /* A session logged in keeps its account: ProFTPD refuses a second
     * login, and nothing here may change whom the questions are about. */
    if (!quellin.engine || quellin_logged_in()) {
        return PR_DECLINED(cmd);
    }
    sstrncpy(quellin.sent_name, cmd->arg != NULL ? cmd->arg : "", sizeof(quellin.sent_name));
    return PR_DECLINED(cmd);
}

/* --- the steps of a login, each NULL when it passes ---------------------- */

static modret_t* check_password(cmd_rec* cmd) {
    quellin_event ev;
    const char* password = cmd->arg != NULL ? cmd->arg : "";
    quellin_result answer = quellin_ask(Q_PASSWORD, quellin.sent_name, password, &ev);

    if (is_trouble(answer)) {
        return quellin_login_trouble(cmd, answer);
    }
    if (answer != QUELLIN_ANSWERED || ev.flag != 1) {
        return quellin_refuse(cmd, R_530, "Login incorrect.");
    }
    sstrncpy(quellin.user, ev.user[0] != '\0' ? ev.user : quellin.sent_name, sizeof(quellin.user));
    return NULL;
}

static modret_t* find_home(cmd_rec* cmd) {
    const char* resolved;
    quellin_event ev;
    struct stat st;
    quellin_result answer = quellin_ask(Q_HOME, quellin.user, "", &ev);

    if (is_trouble(answer)) {
        return quellin_login_trouble(cmd, answer);
    }
    if (answer != QUELLIN_ANSWERED || ev.flag != 1 || ev.data[0] == '\0') {
        return quellin_refuse(cmd, R_530,
                              "Login refused: the account is disabled or has no home directory.");
    }
    sstrncpy(quellin.home,
             *ev.data == '/' ? quellin_normalise(cmd->tmp_pool, "/", ev.data) : ev.data,
             sizeof(quellin.home));
    if (*quellin.home != '/' || stat(quellin.home, &st) < 0 || !S_ISDIR(st.st_mode)) {
        return quellin_refuse(cmd, R_530,
                              pstrcat(cmd->tmp_pool, "Login refused: the home directory ",
                                      quellin.home, " does not exist.", NULL));
    }
    /* Paths are asked about as the kernel resolves them: so is the home. */
    resolved = quellin_resolve(cmd->tmp_pool, quellin.home, "/");
    if (resolved != NULL) {
        sstrncpy(quellin.home, resolved, sizeof(quellin.home));
    }
    quellin_set_jail(NULL);
    return NULL;
}

static modret_t* check_address(cmd_rec* cmd) {
    quellin_event ev;
    quellin_result answer = quellin_ask(Q_ADDRESS, quellin.user, quellin_client_address(), &ev);

    if (is_trouble(answer)) {
        return quellin_login_trouble(cmd, answer);
    }
    if (answer == QUELLIN_ANSWERED && ev.flag != 1) {
        return quellin_refuse(cmd, R_530,
                              "Login refused: your address is not allowed for this account.");
    }
    return NULL;
}

/* A login limit: 0 for none. QUELLIN_NO when the library answered that it
 * could not read the limit (flag 0): the login is refused rather than let
 * past a limit nobody knows. */
static quellin_result login_limit(int code, long* out) {
    quellin_event ev;
    char* end = NULL;
    long value;
    quellin_result answer = quellin_ask(code, quellin.user, "", &ev);

    *out = 0;
    if (is_trouble(answer)) {
        return answer;
    }
    if (answer != QUELLIN_ANSWERED) {
        return QUELLIN_ANSWERED;
    }
    if (ev.flag != 1) {
        return QUELLIN_UNANSWERED;
    }
    value = strtol(ev.data, &end, 10);
    if (end != ev.data && value > 0) {
        *out = value;
    }
    return QUELLIN_ANSWERED;
}

static const char* const account_full = "Maximum number of logins for this account reached.";
static const char* const address_full =
    "Maximum number of logins for this account from your address reached.";
static const char* const limits_unread =
    "Login refused: the account's login limits cannot be read.";

/* Counts the other sessions of the user (and of them, from this address)
 * and registers this one, under one lock: logins at the same moment cannot
 * pass a limit together. NULL, or the refusal. */
static const char* admit(long max_concurrent, long max_per_address) {
    pr_scoreboard_entry_t* e;
    const char* refusal = NULL;
    long of_user = 0, here = 0;
    pid_t self = getpid();

    if (quellin.lock_fd >= 0) {
        flock(quellin.lock_fd, LOCK_EX);
    }
    if (pr_rewind_scoreboard() == 0) {
        while ((e = pr_scoreboard_entry_read()) != NULL) {
            if (e->sce_pid == self ||
                strncasecmp(e->sce_user, quellin.user, sizeof(e->sce_user) - 1) != 0) {
                continue;
            }
            of_user++;
            if (strcmp(e->sce_client_addr, quellin_client_address()) == 0) {
                here++;
            }
        }
        pr_restore_scoreboard();
    }
    if (max_concurrent > 0 && of_user >= max_concurrent) {
        refusal = account_full;
    } else if (max_per_address > 0 && here >= max_per_address) {
        refusal = address_full;
    } else {
        pr_scoreboard_entry_update(self, PR_SCORE_USER, quellin.user, NULL);
    }
    if (quellin.lock_fd >= 0) {
        flock(quellin.lock_fd, LOCK_UN);
    }
    return refusal;
}

static modret_t* check_limits(cmd_rec* cmd) {
    long max_concurrent = 0, max_per_address = 0;
    quellin_result a = login_limit(Q_MAX_CONCURRENT, &max_concurrent);
    quellin_result b = is_trouble(a) ? a : login_limit(Q_MAX_PER_ADDRESS, &max_per_address);
    quellin_verdict one_here, always;
    const char* refusal;

    if (is_trouble(b)) {
        return quellin_login_trouble(cmd, b);
    }
    if (a != QUELLIN_ANSWERED || b != QUELLIN_ANSWERED) {
        return quellin_refuse(cmd, R_530, limits_unread);
    }
    one_here = quellin_switch(Q_ONE_PER_ADDRESS);
    if (one_here == QUELLIN_NOT_ANSWERING || one_here == QUELLIN_MUST_END) {
        return quellin_login_trouble(cmd, (quellin_result)one_here);
    }
    if (one_here == QUELLIN_YES) {
        max_per_address = 1;
    }
    if (quellin_service_socket() != NULL) {
        /* The service counts the sessions of every host on the database;
         * the scoreboard then only shows this one. */
        quellin_event ev;
        quellin_result counted = quellin_admit(&ev);
        if (is_trouble(counted)) {
            return quellin_login_trouble(cmd, counted);
        }
        if (counted == QUELLIN_ANSWERED) {
            if (ev.flag != 1) {
                return quellin_refuse(cmd, R_530,
                                      strcmp(ev.data, "account") == 0   ? account_full
                                      : strcmp(ev.data, "address") == 0 ? address_full
                                                                        : limits_unread);
            }
            max_concurrent = 0;
            max_per_address = 0;
        }
    }
    refusal = admit(max_concurrent, max_per_address);
    if (refusal != NULL) {
        return quellin_refuse(cmd, R_530, refusal);
    }
    /* ProFTPD's MaxClients is the server's limit of users: an account that
     * may always log in passes it (the check comes after this phase). */
    always = quellin_switch(Q_ALWAYS_LOGIN);
    if (always == QUELLIN_YES) {
        (void)remove_config(main_server->conf, "MaxClients", FALSE);
    }
    return NULL;
}

/* A config record of ProFTPD's own, set for this session only (each
 * session is a process of its own). */
config_rec* quellin_session_param(const char* name, int argc) {
    config_rec* c = find_config(main_server->conf, CONF_PARAM, name, FALSE);
    if (c != NULL && c->argc == argc) {
        return c;
    }
    c = add_config_param_set(&main_server->conf, name, argc, NULL, NULL, NULL, NULL);
    c->flags |= CF_MERGEDOWN;
    return c;
}

unsigned int* quellin_top_precedence(void) {
    unsigned int* value = palloc(session.pool, sizeof(unsigned int));
    *value = (unsigned int)-1;
    return value;
}

static void apply_timeouts(void) {
    long value;
    config_rec* c;

    if (quellin_number(Q_IDLE, "", &value) && value > 0) {
        c = quellin_session_param("TimeoutIdle", 1);
        c->argv[0] = palloc(session.pool, sizeof(int));
        *((int*)c->argv[0]) = (int)(value * quellin.minute_seconds);
    }
    if (quellin_number(Q_SESSION_TIMEOUT, "", &value) && value > 0) {
        /* quellin_post_pass starts the timer once the login is through. */
        quellin.session_seconds = (int)(value * quellin.minute_seconds);
    }
}

static void apply_speed(void) {
    char text[512];
    config_rec* c;
    long double kbps;

    if (!quellin_text(Q_SPEED, quellin.user, text, sizeof(text))) {
        return;
    }
    kbps = strtold(text, NULL);
    if (kbps > 0) {
        static char* commands[] = {C_RETR, C_STOR, C_APPE, C_STOU, NULL};
        c = quellin_session_param("TransferRate", 4);
        c->argv[0] = commands;
        c->argv[1] = palloc(session.pool, sizeof(long double));
        *((long double*)c->argv[1]) = kbps;
        c->argv[2] = pcalloc(session.pool, sizeof(off_t));
        c->argv[3] = quellin_top_precedence();
    }
}

static void apply_hidden(void) {
    pr_regex_t* pre;
    config_rec* c;

    if (quellin_switch(Q_HIDE_HIDDEN) != QUELLIN_YES) {
        return;
    }
    pre = pr_regexp_alloc(&quellin_module);
    if (pr_regexp_compile(pre, "^\\.", REG_EXTENDED | REG_NOSUB) == 0) {
        c = quellin_session_param("HideFiles", 3);
        c->argv[0] = palloc(session.pool, sizeof(pr_regex_t*));
        *((pr_regex_t**)c->argv[0]) = pre;
        c->argv[1] = pcalloc(session.pool, sizeof(unsigned char));
        c->argv[2] = quellin_top_precedence();
    }
}

static void apply_ratio(void) {
    quellin_event ev;
    long down = 0, up = 0;

    if (quellin_ask(Q_RATIO_TYPE, quellin.user, "", &ev) == QUELLIN_ANSWERED && ev.flag == 1 &&
        (strcmp(ev.data, "FilesPerSession") == 0 || strcmp(ev.data, "BytesPerSession") == 0 ||
         strcmp(ev.data, "BytesOverall") == 0 || strcmp(ev.data, "FilesOverall") == 0) &&
        quellin_number(Q_RATIO_DOWN, "", &down) && quellin_number(Q_RATIO_UP, "", &up) && up > 0 &&
        down >= 0) {
        quellin.ratio_on = TRUE;
        quellin.ratio_files = strncmp(ev.data, "Files", 5) == 0;
        quellin.ratio_per_session = strstr(ev.data, "PerSession") != NULL;
        quellin.ratio_up = up;
        quellin.ratio_down = down;
    }
    if (quellin.ratio_on && quellin.ratio_per_session &&
        quellin_ask(Q_RATIO_CREDIT, quellin.user, "0", &ev) == QUELLIN_ANSWERED && ev.flag == 1) {
        quellin.session_credit = strtod(ev.data, NULL);
    }
}

/* The account's settings, read once for the session. */
static modret_t* apply_settings(cmd_rec* cmd) {
    long value;
    quellin_result trouble;

    (void)quellin_ask_take_trouble();
    apply_timeouts();
    apply_speed();
    apply_hidden();
    quellin.relative_paths = quellin_switch(Q_RELATIVE) == QUELLIN_YES;
    quellin.quota_on =
        quellin_switch(Q_QUOTA_ON) == QUELLIN_YES && quellin_number(Q_QUOTA_MAX, "", &value);
    apply_ratio();
    if (!quellin_text(Q_LOGIN_MESSAGE, quellin.user, quellin.login_message,
                      sizeof(quellin.login_message))) {
        quellin.login_message[0] = '\0';
    }
    /* A setting that could not be read would let the session run without
     * its limit or its confinement. */
    trouble = quellin_ask_take_trouble();
    if (is_trouble(trouble)) {
        return quellin_login_trouble(cmd, trouble);
    }
    quellin_fs_register();
    if (quellin.quota_on) {
        quellin_watch_uploads();
    }
    return NULL;
}

/* The system user and group every session runs as. */
static modret_t* make_account(cmd_rec* cmd) {
    const char *unix_user = "ftp", *unix_group = "nogroup";
    struct passwd* pw;
    struct group* gr;
    config_rec* c;

    c = find_config(main_server->conf, CONF_PARAM, "QuellinUser", FALSE);
    if (c != NULL) {
        unix_user = c->argv[0];
    }
    c = find_config(main_server->conf, CONF_PARAM, "QuellinGroup", FALSE);
    if (c != NULL) {
        unix_group = c->argv[0];
    }
    pw = getpwnam(unix_user);
    gr = getgrnam(unix_group);
    if (pw == NULL || gr == NULL) {
        pr_log_pri(PR_LOG_ERR, MOD_QUELLIN_VERSION ": no system user %s or group %s", unix_user,
                   unix_group);
        return quellin_refuse(cmd, R_530, "Login incorrect.");
    }
    memset(&quellin.account, 0, sizeof(quellin.account));
    quellin.account.pw_name = pstrdup(session.pool, quellin.user);
    quellin.account.pw_passwd = pstrdup(session.pool, "*");
    quellin.account.pw_uid = pw->pw_uid;
    quellin.account.pw_gid = gr->gr_gid;
    quellin.account.pw_gecos = pstrdup(session.pool, "");
    quellin.account.pw_dir = pstrdup(session.pool, quellin.home);
    quellin.account.pw_shell = pstrdup(session.pool, "/bin/sh");
    return NULL;
}

/* Where the session will be chrooted (DefaultRoot), the message files
 * are read now, while their paths can still be seen. */
static void read_messages(void) {
    char file[512];

    if (quellin_sftp_server() ||
        find_config(main_server->conf, CONF_PARAM, "DefaultRoot", FALSE) == NULL) {
        return;
    }
    if (quellin.login_message[0] != '\0') {
        quellin.login_text = quellin_read_message(session.pool, quellin.login_message);
    }
    quellin.sign_off_text = quellin_text(Q_SIGN_OFF, quellin.user, file, sizeof(file))
                                ? quellin_read_message(session.pool, file)
                                : NULL;
    quellin.sign_off_read = TRUE;
}

/* The whole login sequence, at PASS, before ProFTPD's own checks: the
 * first refusal answers 530 and nothing further is asked. */
modret_t* quellin_pre_pass(cmd_rec* cmd) {
    modret_t* (*const steps[])(cmd_rec*) = {check_password, find_home,      check_address,
                                            check_limits,   apply_settings, make_account};
    size_t i;

    if (!quellin.engine || quellin_logged_in()) {
        return PR_DECLINED(cmd);
    }
    quellin.logged_in = FALSE;
    if (quellin.sent_name[0] == '\0') {
        return quellin_refuse(cmd, R_503, "Login with USER first.");
    }
    for (i = 0; i < sizeof(steps) / sizeof(steps[0]); i++) {
        modret_t* refusal = steps[i](cmd);
        if (refusal != NULL) {
            return refusal;
        }
    }
    quellin.logged_in = TRUE;
    read_messages();
    return PR_DECLINED(cmd);
}

static int session_timeout_cb(CALLBACK_FRAME) {
    pr_response_send_async(R_421, "Session time-out reached, closing control connection.");
    pr_session_disconnect(&quellin_module, PR_SESS_DISCONNECT_TIMEOUT, "session time-out");
    return 0;
}

modret_t* quellin_post_pass(cmd_rec* cmd) {
    if (!quellin.engine || !quellin.logged_in) {
        return PR_DECLINED(cmd);
    }
    /* With DefaultRoot the session is chrooted by now: its paths are named
     * from the chroot's root, and the kernel keeps it there. */
    quellin_set_jail(session.chroot_path);
    if (quellin.jail[0] != '\0' && quellin_service_socket() == NULL) {
        /* The plug-in in ProFTPD itself opens its database and settings
         * again by paths the chroot hides. */
        pr_log_pri(PR_LOG_ERR,
                   MOD_QUELLIN_VERSION
                   ": DefaultRoot needs QuellinSocket; ending the session of %s",
                   quellin.user);
        pr_response_send_async(R_421, "Service not available: the server is misconfigured.");
        quellin_end_session("DefaultRoot without QuellinSocket");
        return PR_DECLINED(cmd);
    }
    if (quellin.jail[0] != '\0') {
        quellin_ask_connection_final();
        pr_log_debug(DEBUG3, MOD_QUELLIN_VERSION ": %s chrooted to %s, home %s", quellin.user,
                     quellin.jail, quellin.view_home);
    }
    /* ProFTPD moves or drops the file systems registered before a chroot;
     * without its own the session would use paths nobody judged. */
    if (quellin_fs_register() < 0) {
        pr_response_send_async(R_421, "Service not available: the server is misconfigured.");
        quellin_end_session("no file system of mod_quellin");
        return PR_DECLINED(cmd);
    }
    if (quellin.relative_paths && strcmp(quellin.view_home, "/") != 0) {
        pr_response_register_handler(quellin_reply_filter);
    }
    quellin_after_login();
    /* Sent ahead of the 230 reply, which goes out after this phase. */
    if (quellin.login_text != NULL && !quellin_is_sftp()) {
        quellin_send_text(cmd->tmp_pool, R_230, quellin.login_text);
    } else if (quellin.login_message[0] != '\0' && !quellin_is_sftp()) {
        quellin_send_message(cmd->tmp_pool, R_230, quellin.login_message);
    }
    if (quellin.session_seconds > 0) {
        pr_timer_add(quellin.session_seconds, -1, &quellin_module, session_timeout_cb,
                     "QuellinSessionTimeout");
    }
    return PR_DECLINED(cmd);
}

/* --- the accounts, for ProFTPD's login ---------------------------------- */

static int is_our_account(const char* name) {
    return quellin.logged_in && name != NULL &&
           (strcmp(name, quellin.sent_name) == 0 || strcmp(name, quellin.user) == 0);
}

modret_t* quellin_auth_getpwnam(cmd_rec* cmd) {
    if (!quellin.engine || !is_our_account(cmd->argv[0])) {
        return PR_DECLINED(cmd);
    }
    return mod_create_data(cmd, &quellin.account);
}

modret_t* quellin_auth_authenticate(cmd_rec* cmd) {
    if (!quellin.engine || !is_our_account(cmd->argv[0])) {
        return PR_DECLINED(cmd);
    }
    session.auth_mech = "mod_quellin.c";
    return PR_HANDLED(cmd);
}

modret_t* quellin_auth_check(cmd_rec* cmd) {
    if (!quellin.engine || !is_our_account(cmd->argv[1])) {
        return PR_DECLINED(cmd);
    }
    session.auth_mech = "mod_quellin.c";
    return PR_HANDLED(cmd);
}

modret_t* quellin_auth_getgroups(cmd_rec* cmd) {
    array_header *gids, *groups;
    struct group* gr;
    if (!quellin.engine || !is_our_account(cmd->argv[0])) {
        return PR_DECLINED(cmd);
    }
    gr = getgrgid(quellin.account.pw_gid);
    gids = (array_header*)cmd->argv[1];
    groups = (array_header*)cmd->argv[2];
    if (gids != NULL) {
        *((gid_t*)push_array(gids)) = quellin.account.pw_gid;
    }
    if (groups != NULL && gr != NULL) {
        *((char**)push_array(groups)) = pstrdup(session.pool, gr->gr_name);
    }
    return mod_create_data(cmd, (void*)&gids->nelts);
}
