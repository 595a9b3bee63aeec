/*
 * mod_quellin: ProFTPD serves the accounts of a Kestrix database.
 *
 * Every connection, login and access question goes to the client-check
 * library (Quellin.so) through HandleClientEvent, in the order
 * tools/ftphost/README.md lays down; ProFTPD's own means (scoreboard,
 * TimeoutIdle, TransferRate, MaxStoreFileSize, HideFiles) carry out the
 * answers. Accounts are virtual: every session runs as QuellinUser and
 * QuellinGroup.
 *
 * ask.c       the libraries, and the one function every question goes through
 * replies.c   refusals, and what trouble in asking turns into
 * paths.c     from the client's path to the real one asked about
 * login.c     the address at connect, the login sequence, the accounts
 * rights.c    the rights of commands that name a path
 * transfer.c  the rights, quota and ratio of transfers
 * sftp.c      what differs under mod_sftp
 * conf.c      the configuration directives
 * this file   the module's tables, start-up and the messages
 */

#include "mod_quellin.h"

#include <ctype.h>
#include <linux/capability.h>
#include <sys/syscall.h>

struct quellin_session quellin = {.lock_fd = -1, .minute_seconds = 60};

int quellin_logged_in(void) {
    return quellin.engine && quellin.logged_in && session.user != NULL;
}

void quellin_end_session(const char* why) {
    pr_session_disconnect(&quellin_module, PR_SESS_DISCONNECT_CONFIG_ACL, why);
}

/* A message file's text (paths not absolute are taken from the program
 * directory), NULL when it cannot be read. */
char* quellin_read_message(pool* p, const char* file) {
    char buf[QUELLIN_MESSAGE_LIMIT + 1];
    size_t len;
    FILE* fh;

    if (*file != '/') {
        file = pdircat(p, quellin_program_dir(), file, NULL);
    }
    fh = fopen(file, "rb");
    if (fh == NULL) {
        return NULL;
    }
    len = fread(buf, 1, QUELLIN_MESSAGE_LIMIT, fh);
    fclose(fh);
    buf[len] = '\0';
    return pstrdup(p, buf);
}

/* Each line of a message's text, sent as "<code>-line". */
void quellin_send_text(pool* p, const char* code, const char* text) {
    char *line, *next;

    for (line = pstrdup(p, text); line != NULL && *line != '\0'; line = next) {
        size_t end;
        next = strchr(line, '\n');
        if (next != NULL) {
            *next++ = '\0';
        }
        end = strlen(line);
        while (end > 0 && isspace((unsigned char)line[end - 1])) {
            line[--end] = '\0';
        }
        pr_response_send_raw("%s-%s", code, line);
    }
}

void quellin_send_message(pool* p, const char* code, const char* file) {
    const char* text = quellin_read_message(p, file);
    if (text != NULL) {
        quellin_send_text(p, code, text);
    }
}

/* --- loading, in the daemon ------------------------------------------------ */

extern xaset_t* server_list;

/* The libraries are loaded once, by the daemon after it has read its
 * configuration, and every session inherits them: a session pays no
 * loading. Nothing is asked here, so no database connection exists before a
 * session forks; each session opens its own. With QuellinSocket the
 * libraries stay in the answering service and each session opens its own
 * connection to it instead. */
static void quellin_postparse_ev(const void* event_data, void* user_data) {
    server_rec* s;
    int wanted = FALSE;

    for (s = (server_rec*)server_list->xas_list; s != NULL; s = s->next) {
        config_rec* c = find_config(s->conf, CONF_PARAM, "QuellinEngine", FALSE);
        if (c != NULL && *((int*)c->argv[0]) == TRUE) {
            wanted = TRUE;
        }
    }
    if (!wanted) {
        return;
    }
    setenv("KESTRIX_REGISTRY", quellin_settings_root(), 1);
    if (quellin_ask_load() < 0) {
        pr_log_pri(PR_LOG_ERR, MOD_QUELLIN_VERSION
                   ": the client check library cannot be loaded: every session is refused");
    }
}

static int quellin_init(void) {
    pr_event_register(&quellin_module, "core.postparse", quellin_postparse_ev, NULL);
    return 0;
}

static int quellin_sess_init(void) {
    config_rec* c = find_config(main_server->conf, CONF_PARAM, "QuellinEngine", FALSE);

    if (c == NULL || *((int*)c->argv[0]) != TRUE) {
        return 0;
    }
    quellin.engine = TRUE;
    c = find_config(main_server->conf, CONF_PARAM, "QuellinMinuteLength", FALSE);
    if (c != NULL) {
        quellin.minute_seconds = *((int*)c->argv[0]);
    }
    quellin_ask_set_address(pr_netaddr_get_ipstr(session.c->remote_addr));

    if (!quellin_ask_ready()) {
        pr_log_pri(PR_LOG_ERR, MOD_QUELLIN_VERSION ": no client check library; refusing %s",
                   quellin_client_address());
        if (!quellin_sftp_server()) {
            pr_response_send(R_421,
                             "Service not available: the client check library cannot be loaded.");
        }
        quellin_end_session("no client check library");
        return -1;
    }
    return quellin_connect();
}

/* --- sign-off and the command log ----------------------------------------- */

MODRET quellin_pre_quit(cmd_rec* cmd) {
    char text[512];
    if (!quellin.engine || quellin_is_sftp()) {
        return PR_DECLINED(cmd);
    }
    if (quellin.sign_off_read) {
        if (quellin.sign_off_text != NULL) {
            quellin_send_text(cmd->tmp_pool, R_221, quellin.sign_off_text);
        }
    } else if (quellin_text(Q_SIGN_OFF, quellin.logged_in ? quellin.user : "", text,
                            sizeof(text))) {
        quellin_send_message(cmd->tmp_pool, R_221, text);
    }
    return PR_DECLINED(cmd);
}

/* ProFTPD keeps only what it needs once root is revoked */
#define QUELLIN_KEPT_CAPABILITIES ((1u << CAP_CHOWN) | (1u << CAP_NET_BIND_SERVICE))

/* Once the session has given up root for good (RootRevoke on), it gives up
 * too the capabilities that would take it back (CAP_SETUID, CAP_SETGID)
 * and those no session needs. */
static void drop_capabilities(void) {
    static int dropped = FALSE;
    struct __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    struct __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3];
    uid_t ruid, euid, suid;
    unsigned int i;

    if (dropped || getresuid(&ruid, &euid, &suid) != 0 || ruid == 0 || euid == 0 || suid == 0) {
        return;
    }
    if (syscall(SYS_capget, &header, data) != 0) {
        return;
    }
    for (i = 0; i < _LINUX_CAPABILITY_U32S_3; i++) {
        uint32_t kept = i == 0 ? QUELLIN_KEPT_CAPABILITIES : 0;
        data[i].permitted &= kept;
        data[i].effective &= kept;
        data[i].inheritable &= kept;
    }
    if (syscall(SYS_capset, &header, data) != 0) {
        pr_log_pri(PR_LOG_WARNING, MOD_QUELLIN_VERSION ": cannot give up capabilities: %s",
                   strerror(errno));
        return;
    }
    dropped = TRUE;
}

void quellin_after_login(void) {
    drop_capabilities();
}

/* Before each command: logged when the address is listed, and, with the
 * answering service, ended when the account was deleted, disabled or
 * expired or its address blocked since the login. */
MODRET quellin_pre_any(cmd_rec* cmd) {
    quellin_verdict verdict;

    if (!quellin.engine) {
        return PR_DECLINED(cmd);
    }
    if (quellin.watched) {
        pr_log_pri(PR_LOG_NOTICE, "%s (listed address) <- %s", quellin_client_address(),
                   strcmp(cmd->argv[0], C_PASS) == 0 ? "PASS ******"
                                                     : pr_cmd_get_displayable_str(cmd, NULL));
    }
    if (quellin_logged_in()) {
        drop_capabilities();
    }
    if (quellin_service_socket() == NULL || !quellin_logged_in() ||
        strcmp(cmd->argv[0], C_QUIT) == 0) {
        return PR_DECLINED(cmd);
    }
    verdict = quellin_still_allowed();
    return verdict == QUELLIN_YES ? PR_DECLINED(cmd) : quellin_not_granted(cmd, verdict);
}

/* --- the tables ------------------------------------------------------------- */

static cmdtable quellin_cmdtab[] = {
    {PRE_CMD, C_USER, G_NONE, quellin_pre_user, FALSE, FALSE},
    {PRE_CMD, C_PASS, G_NONE, quellin_pre_pass, FALSE, FALSE},
    {POST_CMD, C_PASS, G_NONE, quellin_post_pass, FALSE, FALSE},

    {PRE_CMD, C_LIST, G_NONE, quellin_pre_list, FALSE, FALSE},
    {PRE_CMD, C_NLST, G_NONE, quellin_pre_list, FALSE, FALSE},
    {PRE_CMD, C_MLSD, G_NONE, quellin_pre_list, FALSE, FALSE},
    {PRE_CMD, C_STAT, G_NONE, quellin_pre_list, FALSE, FALSE},
    {PRE_CMD, C_MLST, G_NONE, quellin_pre_info, FALSE, FALSE},
    {PRE_CMD, C_SIZE, G_NONE, quellin_pre_info, FALSE, FALSE},
    {PRE_CMD, C_MDTM, G_NONE, quellin_pre_info, FALSE, FALSE},
    {PRE_CMD, "LSTAT", G_NONE, quellin_pre_info, FALSE, FALSE},
    {PRE_CMD, "READLINK", G_NONE, quellin_pre_info, FALSE, FALSE},
    {PRE_CMD, "REALPATH", G_NONE, quellin_pre_realpath, FALSE, FALSE},
    {PRE_CMD, C_CWD, G_NONE, quellin_pre_path, FALSE, FALSE},
    {PRE_CMD, C_XCWD, G_NONE, quellin_pre_path, FALSE, FALSE},
    {PRE_CMD, C_MKD, G_NONE, quellin_pre_path, FALSE, FALSE},
    {PRE_CMD, C_XMKD, G_NONE, quellin_pre_path, FALSE, FALSE},
    {PRE_CMD, C_RMD, G_NONE, quellin_pre_path, FALSE, FALSE},
    {PRE_CMD, C_XRMD, G_NONE, quellin_pre_path, FALSE, FALSE},
    {PRE_CMD, C_CDUP, G_NONE, quellin_pre_cdup, FALSE, FALSE},
    {PRE_CMD, C_XCUP, G_NONE, quellin_pre_cdup, FALSE, FALSE},
    {CMD, C_CDUP, G_NONE, quellin_cdup, FALSE, FALSE},
    {CMD, C_XCUP, G_NONE, quellin_cdup, FALSE, FALSE},
    {CMD, C_PWD, G_NONE, quellin_pwd, FALSE, FALSE},
    {CMD, C_XPWD, G_NONE, quellin_pwd, FALSE, FALSE},
    {PRE_CMD, C_DELE, G_NONE, quellin_pre_dele, FALSE, FALSE},
    {POST_CMD, C_DELE, G_NONE, quellin_post_dele, FALSE, FALSE},
    {PRE_CMD, C_RNFR, G_NONE, quellin_pre_rnfr, FALSE, FALSE},
    {PRE_CMD, C_RNTO, G_NONE, quellin_pre_rnto, FALSE, FALSE},
    {PRE_CMD, "MFMT", G_NONE, quellin_pre_mfmt, FALSE, FALSE},
    {PRE_CMD, C_RETR, G_NONE, quellin_pre_retr, FALSE, FALSE},
    {POST_CMD, C_RETR, G_NONE, quellin_post_retr, FALSE, FALSE},
    {POST_CMD_ERR, C_RETR, G_NONE, quellin_post_retr_err, FALSE, FALSE},
    {PRE_CMD, C_STOR, G_NONE, quellin_pre_stor, FALSE, FALSE},
    {PRE_CMD, C_APPE, G_NONE, quellin_pre_stor, FALSE, FALSE},
    {POST_CMD, C_STOR, G_NONE, quellin_post_stor, FALSE, FALSE},
    {POST_CMD, C_APPE, G_NONE, quellin_post_stor, FALSE, FALSE},
    {POST_CMD_ERR, C_STOR, G_NONE, quellin_post_stor_err, FALSE, FALSE},
    {POST_CMD_ERR, C_APPE, G_NONE, quellin_post_stor_err, FALSE, FALSE},
    {PRE_CMD, C_STOU, G_NONE, quellin_pre_refused, FALSE, FALSE},
    {PRE_CMD, "MFF", G_NONE, quellin_pre_refused, FALSE, FALSE},
    {PRE_CMD, "SETSTAT", G_NONE, quellin_pre_refused, FALSE, FALSE},
    {PRE_CMD, "FSETSTAT", G_NONE, quellin_pre_refused, FALSE, FALSE},
    {PRE_CMD, "SYMLINK", G_NONE, quellin_pre_refused, FALSE, FALSE},
    {PRE_CMD, "LINK", G_NONE, quellin_pre_refused, FALSE, FALSE},
    {PRE_CMD, "HARDLINK", G_NONE, quellin_pre_refused, FALSE, FALSE},
    {PRE_CMD, "SITE_COPY", G_NONE, quellin_pre_refused, FALSE, FALSE},
    {PRE_CMD, "SITE_CHMOD", G_NONE, quellin_pre_refused, FALSE, FALSE},
    {PRE_CMD, "SITE_CHGRP", G_NONE, quellin_pre_refused, FALSE, FALSE},
    {PRE_CMD, C_SITE, G_NONE, quellin_pre_site, FALSE, FALSE},
    {PRE_CMD, C_QUIT, G_NONE, quellin_pre_quit, FALSE, FALSE},
    {PRE_CMD, C_ANY, G_NONE, quellin_pre_any, FALSE, FALSE},
    {0, NULL}};

static authtable quellin_authtab[] = {{0, "getpwnam", quellin_auth_getpwnam},
                                      {0, "auth", quellin_auth_authenticate},
                                      {0, "check", quellin_auth_check},
                                      {0, "getgroups", quellin_auth_getgroups},
                                      {0, NULL, NULL}};

module quellin_module = {NULL,
                         NULL,
                         0x20,
                         "quellin",
                         quellin_conftab,
                         quellin_cmdtab,
                         quellin_authtab,
                         quellin_init,
                         quellin_sess_init,
                         MOD_QUELLIN_VERSION};
