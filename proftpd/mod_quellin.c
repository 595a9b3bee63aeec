/*
 * mod_quellin: ProFTPD serves the accounts of a Kestrix database.
 *
 * Every connection, login and access question goes to the client-check
 * library (Quellin.so) through HandleClientEvent, in the order
 * tools/ftphost/README.md lays down; ProFTPD's own means (scoreboard,
 * TimeoutIdle, TransferRate, MaxStoreFileSize, HideFiles) carry out the
 * answers. Accounts are virtual: every session runs as QuellinUser and
 * QuellinGroup.
 */

#include "conf.h"
#include "privs.h"

#include <ctype.h>
#include <dirent.h>
#include <dlfcn.h>
#include <stdint.h>
#include <sys/file.h>

#define MOD_QUELLIN_VERSION "mod_quellin/1.0"

module quellin_module;

/* The record the library reads and writes in place. */
typedef struct {
    int32_t code;
    int32_t flag;
    char user[40];
    char data[512];
    char address[64];
} quellin_event;

typedef int (*quellin_entry)(quellin_event*);

enum {
    Q_LOGIN_MESSAGE = 1,
    Q_HOME = 2,
    Q_PASSWORD = 3,
    Q_ADDRESS = 4,
    Q_FILE_WRITE = 5,
    Q_FILE_READ = 6,
    Q_FILE_REMOVE = 7,
    Q_DIR_LIST = 9,
    Q_DIR_CHANGE = 10,
    Q_DIR_REMOVE = 11,
    Q_DIR_CREATE = 12,
    Q_HIDE_HIDDEN = 13,
    Q_RELATIVE = 14,
    Q_RATIO_TYPE = 15,
    Q_RATIO_DOWN = 16,
    Q_RATIO_UP = 17,
    Q_RATIO_CREDIT = 18,
    Q_RATIO_FREE = 19,
    Q_QUOTA_ON = 20,
    Q_QUOTA_VALUE = 21,
    Q_QUOTA_MAX = 22,
    Q_ALWAYS_LOGIN = 23,
    Q_ONE_PER_ADDRESS = 24,
    Q_ADDRESS_LISTED = 25,
    Q_SPEED = 26,
    Q_IDLE = 28,
    Q_MAX_CONCURRENT = 29,
    Q_MAX_PER_ADDRESS = 33,
    Q_FILE_APPEND = 35,
    Q_SIGN_ON = 36,
    Q_SIGN_OFF = 37,
    Q_SESSION_TIMEOUT = 39
};

#define QUELLIN_MAX_LIBRARIES 16
#define QUELLIN_MESSAGE_LIMIT (64 * 1024)

static int quellin_engine = FALSE;
static quellin_entry entries[QUELLIN_MAX_LIBRARIES];
static unsigned int entry_count = 0;
static char client_address[64];
static char program_dir[PR_TUNABLE_PATH_MAX + 1];
static int watched = FALSE;
static int lock_fd = -1;

/* The login in progress or done. */
static char sent_name[256]; /* the name as the client sent it */
static char user_name[40];  /* the name the library left in the record */
static char home_dir[PR_TUNABLE_PATH_MAX + 1];
static int logged_in = FALSE;
static int relative_paths = FALSE;
static int quota_on = FALSE;
static int minute_seconds = 60;
static int session_seconds = 0;
static char login_message[512];
static struct passwd account;

/* Ratio: the kind, and the session's own credit for per-session kinds. */
static int ratio_on = FALSE, ratio_files = FALSE, ratio_per_session = FALSE;
static long ratio_up = 0, ratio_down = 0;
static double session_credit = 0;

/* The transfer in progress. */
static char xfer_path[PR_TUNABLE_PATH_MAX + 1];
static off_t xfer_old_size = 0;
static int xfer_existed = FALSE;
static off_t xfer_limit = -1;   /* bytes the file may end up longer, -1: none */
static int xfer_counts = FALSE; /* a download that costs ratio credit */
static int rename_is_dir = FALSE;
static int xfer_appending = FALSE;
static int over_quota = FALSE;

static int quota_write(pr_fh_t* fh, int fd, const char* buf, size_t n);
static int logged_in_session(void);
static int quota_close(pr_fh_t* fh, int fd);

/* --- asking ------------------------------------------------------------- */

static int fits(const char* text, size_t size) {
    return strlen(text) < size;
}

/* Asks the libraries in order; 1 when one answered (ev holds its answer),
 * 0 when none did, -1 when an input does not fit its field: a cut name or
 * path would ask about another user or file. */
static int ask(int code, const char* user, const char* data, quellin_event* ev) {
    unsigned int i;

    if (!fits(user, sizeof(ev->user)) || !fits(data, sizeof(ev->data)) ||
        !fits(client_address, sizeof(ev->address))) {
        return -1;
    }

    /* The library reads and writes a database that only root may (SQLite
     * writes its journal beside the file): it is asked with root's rights
     * whenever the session keeps them (RootRevoke off). */
    PRIVS_ROOT
    for (i = 0; i < entry_count; i++) {
        memset(ev, 0, sizeof(*ev));
        ev->code = code;
        sstrncpy(ev->user, user, sizeof(ev->user));
        sstrncpy(ev->data, data, sizeof(ev->data));
        sstrncpy(ev->address, client_address, sizeof(ev->address));
        if (entries[i](ev) != 0) {
            PRIVS_RELINQUISH
            ev->user[sizeof(ev->user) - 1] = '\0';
            ev->data[sizeof(ev->data) - 1] = '\0';
            return 1;
        }
    }
    PRIVS_RELINQUISH
    return 0;
}

static int granted(int code, const char* data) {
    quellin_event ev;
    return ask(code, user_name, data, &ev) == 1 && ev.flag == 1;
}

static int switch_on(int code) {
    quellin_event ev;
    return ask(code, user_name, "", &ev) == 1 && (unsigned char)ev.data[0] == 1;
}

/* A text answer into out; FALSE when there is none. */
static int text_value(int code, const char* user, char* out, size_t size) {
    quellin_event ev;
    if (ask(code, user, "", &ev) != 1 || ev.data[0] == '\0') {
        return FALSE;
    }
    sstrncpy(out, ev.data, size);
    return TRUE;
}

/* A number answer (flag 1 and a leading whole number). */
static int number_value(int code, const char* data, long* out) {
    quellin_event ev;
    char* end = NULL;
    long value;

    if (ask(code, user_name, data, &ev) != 1 || ev.flag != 1) {
        return FALSE;
    }
    value = strtol(ev.data, &end, 10);
    if (end == ev.data) {
        return FALSE;
    }
    *out = value;
    return TRUE;
}

/* A login limit: 0 for none. FALSE when the library answered that it could
 * not read the limit (flag 0): the login is refused rather than let past a
 * limit nobody knows. */
static int login_limit(int code, long* out) {
    quellin_event ev;
    char* end = NULL;
    long value;

    *out = 0;
    if (ask(code, user_name, "", &ev) != 1) {
        return TRUE;
    }
    if (ev.flag != 1) {
        return FALSE;
    }
    value = strtol(ev.data, &end, 10);
    if (end != ev.data && value > 0) {
        *out = value;
    }
    return TRUE;
}

/* --- finding the libraries ---------------------------------------------- */

static const char* settings_root(void) {
    config_rec* c = find_config(main_server->conf, CONF_PARAM, "QuellinSettings", FALSE);
    const char* env;

    if (c != NULL) {
        return c->argv[0];
    }
    env = getenv("KESTRIX_REGISTRY");
    return env != NULL && *env != '\0' ? env : "/etc/kestrix/registry";
}

static char* trim(char* text) {
    char* end;
    while (isspace((unsigned char)*text)) {
        text++;
    }
    end = text + strlen(text);
    while (end > text && isspace((unsigned char)end[-1])) {
        *--end = '\0';
    }
    return text;
}

/* The program directory the settings store names (servu_path). */
static int read_program_dir(pool* p) {
    const char* file =
        pdircat(p, settings_root(), "software", "orvane", "serv-u", "settings", "servu_path", NULL);
    char buf[PR_TUNABLE_PATH_MAX + 1];
    char* dir;
    size_t len;
    FILE* fh = fopen(file, "r");

    if (fh == NULL) {
        pr_log_pri(PR_LOG_ERR, MOD_QUELLIN_VERSION ": no FTP server directory in %s: %s", file,
                   strerror(errno));
        return -1;
    }
    len = fread(buf, 1, sizeof(buf) - 1, fh);
    fclose(fh);
    buf[len] = '\0';
    dir = trim(buf);
    len = strlen(dir);
    while (len > 1 && (dir[len - 1] == '/' || dir[len - 1] == '\\')) {
        dir[--len] = '\0';
    }
    sstrncpy(program_dir, dir, sizeof(program_dir));
    return 0;
}

/* A name in dir, matched exactly, else without regard to case. */
static char* find_in_dir(pool* p, const char* dir, const char* name) {
    const char* exact = pdircat(p, dir, name, NULL);
    struct stat st;
    DIR* dh;
    struct dirent* de;
    char* found = NULL;

    if (stat(exact, &st) == 0) {
        return pstrdup(p, exact);
    }
    dh = opendir(dir);
    if (dh == NULL) {
        return NULL;
    }
    while ((de = readdir(dh)) != NULL) {
        if (strcasecmp(de->d_name, name) == 0) {
            found = pdircat(p, dir, de->d_name, NULL);
            break;
        }
    }
    closedir(dh);
    return found;
}

/* The libraries named ClientCheckDLL<n> in [EXTERNAL] of the server's
 * configuration file, in the order of n. */
static array_header* configured_libraries(pool* p) {
    array_header* names = make_array(p, 2, sizeof(char*));
    long numbers[QUELLIN_MAX_LIBRARIES];
    char* texts[QUELLIN_MAX_LIBRARIES];
    unsigned int count = 0, i, j;
    char line[1024];
    int in_external = FALSE;
    char* ini;
    FILE* fh;

    if (read_program_dir(p) < 0) {
        return names;
    }
    ini = find_in_dir(p, program_dir, "ServUDaemon.ini");
    if (ini == NULL) {
        ini = find_in_dir(p, program_dir, "serv-u.ini");
    }
    if (ini == NULL || (fh = fopen(ini, "r")) == NULL) {
        pr_log_pri(PR_LOG_ERR, MOD_QUELLIN_VERSION ": no ServUDaemon.ini or serv-u.ini in %s",
                   program_dir);
        return names;
    }
    while (fgets(line, sizeof(line), fh) != NULL) {
        char *text = trim(line), *eq, *key;
        if (*text == '[') {
            in_external = strcasecmp(text, "[EXTERNAL]") == 0;
            continue;
        }
        eq = strchr(text, '=');
        if (!in_external || eq == NULL || count == QUELLIN_MAX_LIBRARIES) {
            continue;
        }
        *eq = '\0';
        key = trim(text);
        if (strncasecmp(key, "ClientCheckDLL", 14) != 0 || !isdigit((unsigned char)key[14])) {
            continue;
        }
        numbers[count] = strtol(key + 14, NULL, 10);
        texts[count] = pstrdup(p, trim(eq + 1));
        count++;
    }
    fclose(fh);

    for (i = 1; i < count; i++) {
        for (j = i; j > 0 && numbers[j - 1] > numbers[j]; j--) {
            long n = numbers[j];
            char* t = texts[j];
            numbers[j] = numbers[j - 1];
            texts[j] = texts[j - 1];
            numbers[j - 1] = n;
            texts[j - 1] = t;
        }
    }
    for (i = 0; i < count; i++) {
        char* path = texts[i];
        if (strchr(path, '/') == NULL) {
            path = find_in_dir(p, program_dir, texts[i]);
            if (path == NULL) {
                path = pdircat(p, program_dir, texts[i], NULL);
            }
        }
        *((char**)push_array(names)) = path;
    }
    return names;
}

static int load_libraries(pool* p) {
    config_rec* c = find_config(main_server->conf, CONF_PARAM, "QuellinLibrary", FALSE);
    array_header* paths;
    unsigned int i;

    if (c != NULL) {
        paths = make_array(p, 1, sizeof(char*));
        *((char**)push_array(paths)) = c->argv[0];
        if (read_program_dir(p) < 0) {
            program_dir[0] = '\0';
        }
    } else {
        paths = configured_libraries(p);
    }
    for (i = 0; i < paths->nelts && entry_count < QUELLIN_MAX_LIBRARIES; i++) {
        const char* path = ((char**)paths->elts)[i];
        void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        void* entry;

        if (handle == NULL) {
            pr_log_pri(PR_LOG_ERR, MOD_QUELLIN_VERSION ": cannot load %s: %s", path, dlerror());
            return -1;
        }
        entry = dlsym(handle, "HandleClientEvent");
        if (entry == NULL) {
            pr_log_pri(PR_LOG_ERR, MOD_QUELLIN_VERSION ": %s has no HandleClientEvent", path);
            return -1;
        }
        entries[entry_count++] = (quellin_entry)entry;
    }
    return entry_count > 0 ? 0 : -1;
}

/* --- messages ------------------------------------------------------------ */

/* The lines of a message file (paths not absolute are taken from the
 * program directory), each sent as "<code>-line". */
static void send_message(pool* p, const char* code, const char* file) {
    char buf[QUELLIN_MESSAGE_LIMIT + 1];
    char *line, *next;
    size_t len;
    FILE* fh;

    if (*file != '/') {
        file = pdircat(p, program_dir, file, NULL);
    }
    fh = fopen(file, "rb");
    if (fh == NULL) {
        return;
    }
    len = fread(buf, 1, QUELLIN_MESSAGE_LIMIT, fh);
    fclose(fh);
    buf[len] = '\0';
    for (line = buf; line != NULL && *line != '\0'; line = next) {
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

static int is_sftp(void) {
    const char* protocol = pr_session_get_protocol(0);
    return protocol != NULL && (strcmp(protocol, "ssh2") == 0 || strcmp(protocol, "sftp") == 0 ||
                                strcmp(protocol, "scp") == 0);
}

static int sftp_server(void) {
    config_rec* c = find_config(main_server->conf, CONF_PARAM, "SFTPEngine", FALSE);
    return c != NULL && *((int*)c->argv[0]) == TRUE;
}

/* --- paths --------------------------------------------------------------- */

/* path made absolute against base and lexically normalised (no ".", ".."
 * or doubled and trailing slashes); ".." stops at the root. */
static char* normalise(pool* p, const char* base, const char* path) {
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
static const char* client_view(pool* p, const char* real) {
    size_t n = strlen(home_dir);
    if (strcmp(home_dir, "/") == 0) {
        return real;
    }
    if (strncmp(real, home_dir, n) == 0 && (real[n] == '\0' || real[n] == '/')) {
        return real[n] == '\0' ? "/" : pstrdup(p, real + n);
    }
    return "/";
}

/* The real absolute path a client's path names, or NULL when it names
 * nothing this module will ask about. */
static char* real_path(pool* p, const char* arg) {
    const char* cwd = pr_fs_getcwd();
    const char* view = relative_paths ? client_view(p, cwd) : cwd;
    char* path;

    if (arg == NULL || *arg == '\0') {
        arg = ".";
    }
    if (*arg == '~') {
        /* Only the session's own home; "~name" would name another account's. */
        if (arg[1] != '\0' && arg[1] != '/') {
            return NULL;
        }
        arg = pstrcat(p, relative_paths ? "/" : home_dir, "/", arg + 1, NULL);
    }
    path = normalise(p, view, arg);
    if (relative_paths && strcmp(home_dir, "/") != 0) {
        path = strcmp(path, "/") == 0 ? pstrdup(p, home_dir) : pstrcat(p, home_dir, path, NULL);
    }
    return path;
}

static char* parent_of(pool* p, const char* path) {
    char* copy = pstrdup(p, path);
    char* slash = strrchr(copy, '/');
    if (slash == NULL || slash == copy) {
        return pstrdup(p, "/");
    }
    *slash = '\0';
    return copy;
}

static int is_dir(const char* path) {
    struct stat st;
    return pr_fsio_stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

static int has_glob(const char* text) {
    return strpbrk(text, "*?[") != NULL;
}

/* Puts the real path into the command, so that ProFTPD works on the path
 * that was asked about. */
static void rewrite(cmd_rec* cmd, const char* prefix, const char* path) {
    char* arg = prefix != NULL && *prefix != '\0' ? pstrcat(cmd->pool, prefix, " ", path, NULL)
                                                  : pstrdup(cmd->pool, path);
    cmd->arg = arg;
    if (cmd->argc >= 2) {
        cmd->argv[cmd->argc - 1] = pstrdup(cmd->pool, path);
    }
}

static modret_t* refuse(cmd_rec* cmd, const char* code, const char* text) {
    pr_response_add_err(code, "%s", text);
    pr_cmd_set_errno(cmd, EACCES);
    errno = EACCES;
    return PR_ERROR(cmd);
}

static modret_t* permission_denied(cmd_rec* cmd) {
    return refuse(cmd, R_550, "Permission denied.");
}

/* --- loading, in the daemon ------------------------------------------------ */

extern xaset_t* server_list;

/* The libraries are loaded once, by the daemon after it has read its
 * configuration, and every session inherits them: a session pays no
 * loading. Nothing is asked here, so no database connection exists before a
 * session forks; each session opens its own. */
static void quellin_postparse_ev(const void* event_data, void* user_data) {
    server_rec* s;
    int wanted = FALSE;

    for (s = (server_rec*)server_list->xas_list; s != NULL; s = s->next) {
        config_rec* c = find_config(s->conf, CONF_PARAM, "QuellinEngine", FALSE);
        if (c != NULL && *((int*)c->argv[0]) == TRUE) {
            wanted = TRUE;
        }
    }
    entry_count = 0;
    if (!wanted) {
        return;
    }
    setenv("KESTRIX_REGISTRY", settings_root(), 1);
    if (load_libraries(permanent_pool) < 0) {
        entry_count = 0;
        pr_log_pri(PR_LOG_ERR, MOD_QUELLIN_VERSION
                   ": the client check library cannot be loaded: every session is refused");
    }
}

static int quellin_init(void) {
    pr_event_register(&quellin_module, "core.postparse", quellin_postparse_ev, NULL);
    return 0;
}

/* --- connection ---------------------------------------------------------- */

static void end_session(const char* why) {
    pr_session_disconnect(&quellin_module, PR_SESS_DISCONNECT_CONFIG_ACL, why);
}

static int quellin_sess_init(void) {
    quellin_event ev;
    config_rec* c;
    char text[512];
    const char* lock;
    int answer;

    c = find_config(main_server->conf, CONF_PARAM, "QuellinEngine", FALSE);
    if (c == NULL || *((int*)c->argv[0]) != TRUE) {
        return 0;
    }
    quellin_engine = TRUE;

    c = find_config(main_server->conf, CONF_PARAM, "QuellinMinuteLength", FALSE);
    if (c != NULL) {
        minute_seconds = *((int*)c->argv[0]);
    }
    sstrncpy(client_address, pr_netaddr_get_ipstr(session.c->remote_addr), sizeof(client_address));

    if (entry_count == 0) {
        pr_log_pri(PR_LOG_ERR, MOD_QUELLIN_VERSION ": no client check library; refusing %s",
                   client_address);
        if (!sftp_server()) {
            pr_response_send(R_421,
                             "Service not available: the client check library cannot be loaded.");
        }
        end_session("no client check library");
        return -1;
    }
    /* The database is readable by root and the kestrix group only: the
     * session's one connection is opened by the first question, below,
     * which is asked with root's rights. */
    lock = pstrcat(session.pool, pr_get_scoreboard(), ".quellin", NULL);
    PRIVS_ROOT
    lock_fd = open(lock, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    PRIVS_RELINQUISH
    answer = ask(Q_ADDRESS, "", client_address, &ev);

    if (answer == 1 && ev.flag != 1) {
        pr_log_pri(PR_LOG_NOTICE, MOD_QUELLIN_VERSION ": %s: address not allowed to connect",
                   client_address);
        if (!sftp_server()) {
            pr_response_send(R_421, "Your address is not allowed to connect.");
        }
        end_session("address not allowed");
        return -1;
    }
    watched = ask(Q_ADDRESS_LISTED, "", client_address, &ev) == 1 && ev.flag == 1;
    if (!sftp_server() && text_value(Q_SIGN_ON, "", text, sizeof(text))) {
        send_message(session.pool, R_220, text);
    }
    return 0;
}

/* --- login --------------------------------------------------------------- */

/* Counts the other sessions of the user (and of them, from this address)
 * and registers this one, under one lock: logins at the same moment cannot
 * pass a limit together. NULL, or the refusal. */
static const char* admit(long max_concurrent, long max_per_address) {
    pr_scoreboard_entry_t* e;
    const char* refusal = NULL;
    long of_user = 0, here = 0;
    pid_t self = getpid();

    if (lock_fd >= 0) {
        flock(lock_fd, LOCK_EX);
    }
    if (pr_rewind_scoreboard() == 0) {
        while ((e = pr_scoreboard_entry_read()) != NULL) {
            if (e->sce_pid == self ||
                strncasecmp(e->sce_user, user_name, sizeof(e->sce_user) - 1) != 0) {
                continue;
            }
            of_user++;
            if (strcmp(e->sce_client_addr, client_address) == 0) {
                here++;
            }
        }
        pr_restore_scoreboard();
    }
    if (max_concurrent > 0 && of_user >= max_concurrent) {
        refusal = "Maximum number of logins for this account reached.";
    } else if (max_per_address > 0 && here >= max_per_address) {
        refusal = "Maximum number of logins for this account from your address reached.";
    } else {
        pr_scoreboard_entry_update(self, PR_SCORE_USER, user_name, NULL);
    }
    if (lock_fd >= 0) {
        flock(lock_fd, LOCK_UN);
    }
    return refusal;
}

MODRET quellin_pre_user(cmd_rec* cmd) {
    /* A session logged in keeps its account: ProFTPD refuses a second
     * login, and nothing here may change whom the questions are about. */
    if (!quellin_engine || logged_in_session()) {
        return PR_DECLINED(cmd);
    }
    sstrncpy(sent_name, cmd->arg != NULL ? cmd->arg : "", sizeof(sent_name));
    return PR_DECLINED(cmd);
}

/* A config record of ProFTPD's own, set for this session only (each
 * session is a process of its own). */
static config_rec* session_param(const char* name, int argc) {
    config_rec* c = find_config(main_server->conf, CONF_PARAM, name, FALSE);
    if (c != NULL && c->argc == argc) {
        return c;
    }
    c = add_config_param_set(&main_server->conf, name, argc, NULL, NULL, NULL, NULL);
    c->flags |= CF_MERGEDOWN;
    return c;
}

static unsigned int* top_precedence(void) {
    unsigned int* value = palloc(session.pool, sizeof(unsigned int));
    *value = (unsigned int)-1;
    return value;
}

static void apply_settings(void) {
    long value;
    char text[512];
    config_rec* c;

    if (number_value(Q_IDLE, "", &value) && value > 0) {
        c = session_param("TimeoutIdle", 1);
        c->argv[0] = palloc(session.pool, sizeof(int));
        *((int*)c->argv[0]) = (int)(value * minute_seconds);
    }
    if (number_value(Q_SESSION_TIMEOUT, "", &value) && value > 0) {
        /* quellin_post_pass starts the timer once the login is through. */
        session_seconds = (int)(value * minute_seconds);
    }
    if (text_value(Q_SPEED, user_name, text, sizeof(text))) {
        long double kbps = strtold(text, NULL);
        if (kbps > 0) {
            static char* commands[] = {C_RETR, C_STOR, C_APPE, C_STOU, NULL};
            c = session_param("TransferRate", 4);
            c->argv[0] = commands;
            c->argv[1] = palloc(session.pool, sizeof(long double));
            *((long double*)c->argv[1]) = kbps;
            c->argv[2] = pcalloc(session.pool, sizeof(off_t));
            c->argv[3] = top_precedence();
        }
    }
    if (switch_on(Q_HIDE_HIDDEN)) {
        pr_regex_t* pre = pr_regexp_alloc(&quellin_module);
        if (pr_regexp_compile(pre, "^\\.", REG_EXTENDED | REG_NOSUB) == 0) {
            c = session_param("HideFiles", 3);
            c->argv[0] = palloc(session.pool, sizeof(pr_regex_t*));
            *((pr_regex_t**)c->argv[0]) = pre;
            c->argv[1] = pcalloc(session.pool, sizeof(unsigned char));
            c->argv[2] = top_precedence();
        }
    }
    relative_paths = switch_on(Q_RELATIVE);
    quota_on = switch_on(Q_QUOTA_ON) && number_value(Q_QUOTA_MAX, "", &value);
    if (quota_on) {
        pr_fs_t* fs = pr_register_fs(session.pool, "quellin", "/");
        if (fs != NULL) {
            fs->write = quota_write;
            fs->close = quota_close;
        } else {
            pr_log_pri(PR_LOG_WARNING,
                       MOD_QUELLIN_VERSION ": cannot watch uploads for the quota: %s",
                       strerror(errno));
        }
    }
    {
        quellin_event ev;
        long down = 0, up = 0;
        if (ask(Q_RATIO_TYPE, user_name, "", &ev) == 1 && ev.flag == 1 &&
            (strcmp(ev.data, "FilesPerSession") == 0 || strcmp(ev.data, "BytesPerSession") == 0 ||
             strcmp(ev.data, "BytesOverall") == 0 || strcmp(ev.data, "FilesOverall") == 0) &&
            number_value(Q_RATIO_DOWN, "", &down) && number_value(Q_RATIO_UP, "", &up) && up > 0 &&
            down >= 0) {
            ratio_on = TRUE;
            ratio_files = strncmp(ev.data, "Files", 5) == 0;
            ratio_per_session = strstr(ev.data, "PerSession") != NULL;
            ratio_up = up;
            ratio_down = down;
        }
    }
    if (ratio_on && ratio_per_session) {
        quellin_event ev;
        if (ask(Q_RATIO_CREDIT, user_name, "0", &ev) == 1 && ev.flag == 1) {
            session_credit = strtod(ev.data, NULL);
        }
    }
}

/* The whole login sequence, at PASS, before ProFTPD's own checks: the
 * first refusal answers 530 and nothing further is asked. */
MODRET quellin_pre_pass(cmd_rec* cmd) {
    quellin_event ev;
    const char* password = cmd->arg != NULL ? cmd->arg : "";
    const char* refusal;
    struct stat st;
    struct passwd* pw;
    struct group* gr;
    config_rec* c;
    const char *unix_user = "ftp", *unix_group = "nogroup";
    int answer;

    if (!quellin_engine || logged_in_session()) {
        return PR_DECLINED(cmd);
    }
    logged_in = FALSE;
    if (sent_name[0] == '\0') {
        return refuse(cmd, R_503, "Login with USER first.");
    }
    answer = ask(Q_PASSWORD, sent_name, password, &ev);
    if (answer != 1 || ev.flag != 1) {
        return refuse(cmd, R_530, "Login incorrect.");
    }
    sstrncpy(user_name, ev.user[0] != '\0' ? ev.user : sent_name, sizeof(user_name));

    if (ask(Q_HOME, user_name, "", &ev) != 1 || ev.flag != 1 || ev.data[0] == '\0') {
        return refuse(cmd, R_530,
                      "Login refused: the account is disabled or has no home directory.");
    }
    sstrncpy(home_dir, *ev.data == '/' ? normalise(cmd->tmp_pool, "/", ev.data) : ev.data,
             sizeof(home_dir));
    if (*home_dir != '/' || stat(home_dir, &st) < 0 || !S_ISDIR(st.st_mode)) {
        return refuse(cmd, R_530,
                      pstrcat(cmd->tmp_pool, "Login refused: the home directory ", home_dir,
                              " does not exist.", NULL));
    }
    answer = ask(Q_ADDRESS, user_name, client_address, &ev);
    if (answer == 1 && ev.flag != 1) {
        return refuse(cmd, R_530, "Login refused: your address is not allowed for this account.");
    }
    {
        long max_concurrent = 0;
        long max_per_address = 0;
        if (!login_limit(Q_MAX_CONCURRENT, &max_concurrent) ||
            !login_limit(Q_MAX_PER_ADDRESS, &max_per_address)) {
            return refuse(cmd, R_530, "Login refused: the account's login limits cannot be read.");
        }
        if (switch_on(Q_ONE_PER_ADDRESS)) {
            max_per_address = 1;
        }
        refusal = admit(max_concurrent, max_per_address);
        if (refusal != NULL) {
            return refuse(cmd, R_530, refusal);
        }
        /* ProFTPD's MaxClients is the server's limit of users: an account that
         * may always log in passes it (the check comes after this phase). */
        if (switch_on(Q_ALWAYS_LOGIN)) {
            (void)remove_config(main_server->conf, "MaxClients", FALSE);
        }
    }
    apply_settings();

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
        return refuse(cmd, R_530, "Login incorrect.");
    }
    memset(&account, 0, sizeof(account));
    account.pw_name = pstrdup(session.pool, user_name);
    account.pw_passwd = pstrdup(session.pool, "*");
    account.pw_uid = pw->pw_uid;
    account.pw_gid = gr->gr_gid;
    account.pw_gecos = pstrdup(session.pool, "");
    account.pw_dir = pstrdup(session.pool, home_dir);
    account.pw_shell = pstrdup(session.pool, "/bin/sh");
    logged_in = TRUE;
    if (!text_value(Q_LOGIN_MESSAGE, user_name, login_message, sizeof(login_message))) {
        login_message[0] = '\0';
    }
    return PR_DECLINED(cmd);
}

static int session_timeout_cb(CALLBACK_FRAME) {
    pr_response_send_async(R_421, "Session time-out reached, closing control connection.");
    pr_session_disconnect(&quellin_module, PR_SESS_DISCONNECT_TIMEOUT, "session time-out");
    return 0;
}

MODRET quellin_post_pass(cmd_rec* cmd) {
    if (!quellin_engine || !logged_in) {
        return PR_DECLINED(cmd);
    }
    if (session.chroot_path != NULL) {
        /* Inside a chroot the real paths the library checks are out of sight. */
        pr_log_pri(
            PR_LOG_ERR,
            MOD_QUELLIN_VERSION
            ": DefaultRoot does not go with mod_quellin (sessions are confined by the accounts' own"
            " settings); ending the session of %s",
            user_name);
        pr_response_send_async(R_421, "Service not available: the server is misconfigured.");
        end_session("DefaultRoot in effect");
        return PR_DECLINED(cmd);
    }
    /* Sent ahead of the 230 reply, which goes out after this phase. */
    if (login_message[0] != '\0' && !is_sftp()) {
        send_message(cmd->tmp_pool, R_230, login_message);
    }
    if (session_seconds > 0) {
        pr_timer_add(session_seconds, -1, &quellin_module, session_timeout_cb,
                     "QuellinSessionTimeout");
    }
    return PR_DECLINED(cmd);
}

/* --- the accounts, for ProFTPD's login ---------------------------------- */

static int is_our_account(const char* name) {
    return logged_in && name != NULL &&
           (strcmp(name, sent_name) == 0 || strcmp(name, user_name) == 0);
}

MODRET quellin_auth_getpwnam(cmd_rec* cmd) {
    if (!quellin_engine || !is_our_account(cmd->argv[0])) {
        return PR_DECLINED(cmd);
    }
    return mod_create_data(cmd, &account);
}

MODRET quellin_auth_authenticate(cmd_rec* cmd) {
    if (!quellin_engine || !is_our_account(cmd->argv[0])) {
        return PR_DECLINED(cmd);
    }
    session.auth_mech = "mod_quellin.c";
    return PR_HANDLED(cmd);
}

MODRET quellin_auth_check(cmd_rec* cmd) {
    if (!quellin_engine || !is_our_account(cmd->argv[1])) {
        return PR_DECLINED(cmd);
    }
    session.auth_mech = "mod_quellin.c";
    return PR_HANDLED(cmd);
}

MODRET quellin_auth_getgroups(cmd_rec* cmd) {
    array_header *gids, *groups;
    struct group* gr;
    if (!quellin_engine || !is_our_account(cmd->argv[0])) {
        return PR_DECLINED(cmd);
    }
    gr = getgrgid(account.pw_gid);
    gids = (array_header*)cmd->argv[1];
    groups = (array_header*)cmd->argv[2];
    if (gids != NULL) {
        *((gid_t*)push_array(gids)) = account.pw_gid;
    }
    if (groups != NULL && gr != NULL) {
        *((char**)push_array(groups)) = pstrdup(session.pool, gr->gr_name);
    }
    return mod_create_data(cmd, (void*)&gids->nelts);
}

/* --- rights of commands -------------------------------------------------- */

static int logged_in_session(void) {
    return quellin_engine && logged_in && session.user != NULL;
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

static modret_t* check_listing(cmd_rec* cmd, int rewrite_arg) {
    char* options = "";
    const char* arg = list_path(cmd, &options);
    char *path, *asked, *tail;

    if (strcmp(cmd->argv[0], C_STAT) == 0 && cmd->argc < 2) {
        return PR_DECLINED(cmd);
    }
    path = real_path(cmd->tmp_pool, arg);
    if (path == NULL) {
        return permission_denied(cmd);
    }
    /* A pattern may only stand in the last part: the directory asked about
     * is then the one the pattern lists. */
    tail = strrchr(path, '/');
    if (has_glob(path)) {
        if (tail == NULL || has_glob(parent_of(cmd->tmp_pool, path))) {
            return permission_denied(cmd);
        }
        asked = parent_of(cmd->tmp_pool, path);
    } else {
        asked = is_dir(path) ? path : parent_of(cmd->tmp_pool, path);
    }
    if (!granted(Q_DIR_LIST, asked)) {
        return permission_denied(cmd);
    }
    if (rewrite_arg && relative_paths && *arg != '\0') {
        rewrite(cmd, options, path);
    }
    return PR_DECLINED(cmd);
}

MODRET quellin_pre_list(cmd_rec* cmd) {
    if (!logged_in_session()) {
        return PR_DECLINED(cmd);
    }
    return check_listing(cmd, !is_sftp());
}

MODRET quellin_pre_info(cmd_rec* cmd) {
    char* path;
    if (!logged_in_session()) {
        return PR_DECLINED(cmd);
    }
    path = real_path(cmd->tmp_pool, cmd->arg);
    if (path == NULL ||
        !granted(Q_DIR_LIST, is_dir(path) ? path : parent_of(cmd->tmp_pool, path))) {
        return permission_denied(cmd);
    }
    if (relative_paths && !is_sftp() && cmd->arg != NULL && *cmd->arg != '\0') {
        rewrite(cmd, NULL, path);
    }
    return PR_DECLINED(cmd);
}

/* One question about the path the command names. */
static modret_t* check_one(cmd_rec* cmd, int code, const char* arg, const char* prefix) {
    char* path;
    if (!logged_in_session()) {
        return PR_DECLINED(cmd);
    }
    path = real_path(cmd->tmp_pool, arg);
    if (path == NULL || !granted(code, path)) {
        return permission_denied(cmd);
    }
    if (relative_paths && !is_sftp()) {
        rewrite(cmd, prefix, path);
    }
    return PR_DECLINED(cmd);
}

MODRET quellin_pre_cwd(cmd_rec* cmd) {
    return check_one(cmd, Q_DIR_CHANGE, cmd->arg, NULL);
}

MODRET quellin_pre_mkd(cmd_rec* cmd) {
    return check_one(cmd, Q_DIR_CREATE, cmd->arg, NULL);
}

MODRET quellin_pre_rmd(cmd_rec* cmd) {
    return check_one(cmd, Q_DIR_REMOVE, cmd->arg, NULL);
}

MODRET quellin_pre_mfmt(cmd_rec* cmd) {
    const char* arg = cmd->argc >= 3 ? strchr(cmd->arg, ' ') : NULL;
    if (!logged_in_session()) {
        return PR_DECLINED(cmd);
    }
    if (arg == NULL) {
        return permission_denied(cmd);
    }
    return check_one(cmd, Q_FILE_WRITE, arg + 1, cmd->argv[1]);
}

MODRET quellin_pre_cdup(cmd_rec* cmd) {
    char* path;
    if (!logged_in_session()) {
        return PR_DECLINED(cmd);
    }
    path = real_path(cmd->tmp_pool, "..");
    if (path == NULL || !granted(Q_DIR_CHANGE, path)) {
        return permission_denied(cmd);
    }
    return PR_DECLINED(cmd);
}

/* In a session confined to its home, CDUP stops at the home and PWD shows
 * the client's own view. */
MODRET quellin_cdup(cmd_rec* cmd) {
    char* path;
    if (!logged_in_session() || !relative_paths) {
        return PR_DECLINED(cmd);
    }
    path = real_path(cmd->tmp_pool, "..");
    if (pr_fsio_chdir_canon(path, TRUE) < 0) {
        return refuse(cmd, R_550, strerror(errno));
    }
    sstrncpy(session.cwd, pr_fs_getcwd(), sizeof(session.cwd));
    sstrncpy(session.vwd, pr_fs_getvwd(), sizeof(session.vwd));
    pr_response_add(R_250, "%s command successful", (char*)cmd->argv[0]);
    return PR_HANDLED(cmd);
}

MODRET quellin_pwd(cmd_rec* cmd) {
    if (!logged_in_session() || !relative_paths) {
        return PR_DECLINED(cmd);
    }
    pr_response_add(R_257, "\"%s\" is the current directory",
                    client_view(cmd->tmp_pool, pr_fs_getcwd()));
    return PR_HANDLED(cmd);
}

MODRET quellin_pre_dele(cmd_rec* cmd) {
    modret_t* mr;
    char* path;
    struct stat st;
    if (!logged_in_session()) {
        return PR_DECLINED(cmd);
    }
    path = real_path(cmd->tmp_pool, cmd->arg);
    mr = check_one(cmd, Q_FILE_REMOVE, cmd->arg, NULL);
    if (mr != NULL && MODRET_ISERROR(mr)) {
        return mr;
    }
    /* The size freed goes back to the quota once the file is gone. */
    xfer_old_size = path != NULL && pr_fsio_lstat(path, &st) == 0 ? st.st_size : 0;
    return mr;
}

MODRET quellin_post_dele(cmd_rec* cmd) {
    char amount[64];
    if (!logged_in_session() || !quota_on || xfer_old_size == 0) {
        return PR_DECLINED(cmd);
    }
    pr_snprintf(amount, sizeof(amount), "-%" PR_LU, (pr_off_t)xfer_old_size);
    (void)granted(Q_QUOTA_VALUE, amount);
    xfer_old_size = 0;
    return PR_DECLINED(cmd);
}

MODRET quellin_pre_rnfr(cmd_rec* cmd) {
    char* path;
    if (!logged_in_session()) {
        return PR_DECLINED(cmd);
    }
    path = real_path(cmd->tmp_pool, cmd->arg);
    rename_is_dir = path != NULL && is_dir(path);
    return check_one(cmd, rename_is_dir ? Q_DIR_REMOVE : Q_FILE_REMOVE, cmd->arg, NULL);
}

MODRET quellin_pre_rnto(cmd_rec* cmd) {
    char* path;
    struct stat st;
    if (!logged_in_session()) {
        return PR_DECLINED(cmd);
    }
    path = real_path(cmd->tmp_pool, cmd->arg);
    /* Replacing a file would delete it without asking. */
    if (path != NULL && pr_fsio_lstat(path, &st) == 0) {
        return refuse(cmd, R_550, "The destination already exists.");
    }
    return check_one(cmd, rename_is_dir ? Q_DIR_CREATE : Q_FILE_WRITE, cmd->arg, NULL);
}

/* Commands no question covers: a file's mode, links, copies, a unique name
 * that cannot be asked about before it exists. */
MODRET quellin_pre_refused(cmd_rec* cmd) {
    if (!logged_in_session()) {
        return PR_DECLINED(cmd);
    }
    return permission_denied(cmd);
}

MODRET quellin_pre_site(cmd_rec* cmd) {
    if (!logged_in_session()) {
        return PR_DECLINED(cmd);
    }
    if (cmd->argc >= 2 && strcasecmp(cmd->argv[1], "HELP") == 0) {
        return PR_DECLINED(cmd);
    }
    return permission_denied(cmd);
}

/* --- transfers: rights, quota, ratio ------------------------------------- */

static double credit_now(void) {
    quellin_event ev;
    if (ratio_per_session) {
        return session_credit;
    }
    if (ask(Q_RATIO_CREDIT, user_name, "0", &ev) == 1 && ev.flag == 1) {
        return strtod(ev.data, NULL);
    }
    return 0;
}

static void add_credit(double amount) {
    char text[64];
    if (!ratio_on || amount == 0) {
        return;
    }
    if (ratio_per_session) {
        session_credit += amount;
        return;
    }
    if (amount == (double)(long long)amount) {
        pr_snprintf(text, sizeof(text), "%lld", (long long)amount);
    } else {
        size_t n;
        pr_snprintf(text, sizeof(text), "%.6f", amount);
        n = strlen(text);
        while (n > 0 && text[n - 1] == '0') {
            text[--n] = '\0';
        }
    }
    (void)granted(Q_RATIO_CREDIT, text);
}

MODRET quellin_pre_retr(cmd_rec* cmd) {
    modret_t* mr;
    char* path;
    struct stat st;
    double cost;

    if (!logged_in_session()) {
        return PR_DECLINED(cmd);
    }
    path = real_path(cmd->tmp_pool, cmd->arg);
    mr = check_one(cmd, Q_FILE_READ, cmd->arg, NULL);
    if (mr != NULL && MODRET_ISERROR(mr)) {
        return mr;
    }
    xfer_counts = FALSE;
    if (ratio_on && !granted(Q_RATIO_FREE, path)) {
        cost = ratio_files ? 1 : (pr_fsio_stat(path, &st) == 0 ? (double)st.st_size : 0);
        if (credit_now() < cost) {
            return refuse(cmd, R_550,
                          "Not enough ratio credit to download this file; upload first.");
        }
        xfer_counts = TRUE;
    }
    return mr;
}

static void downloaded(int complete) {
    if (!xfer_counts) {
        return;
    }
    xfer_counts = FALSE;
    if (ratio_files && !complete) {
        return;
    }
    add_credit(-(ratio_files ? 1.0 : (double)session.xfer.total_bytes));
}

MODRET quellin_post_retr(cmd_rec* cmd) {
    if (logged_in_session()) {
        downloaded(TRUE);
    }
    return PR_DECLINED(cmd);
}

MODRET quellin_post_retr_err(cmd_rec* cmd) {
    if (logged_in_session()) {
        downloaded(FALSE);
    }
    return PR_DECLINED(cmd);
}

MODRET quellin_pre_stor(cmd_rec* cmd) {
    int append = strcmp(cmd->argv[0], C_APPE) == 0;
    int resuming = !append && session.restart_pos > 0;
    modret_t* mr;
    char* path;
    struct stat st;
    long remaining;

    if (!logged_in_session()) {
        return PR_DECLINED(cmd);
    }
    /* SFTP names an append by the open mode; a plain write may also keep
     * what is there. */
    path = real_path(cmd->tmp_pool, cmd->arg);
    mr = check_one(cmd, append || resuming ? Q_FILE_APPEND : Q_FILE_WRITE, cmd->arg, NULL);
    if (mr != NULL && MODRET_ISERROR(mr)) {
        return mr;
    }
    sstrncpy(xfer_path, path, sizeof(xfer_path));
    xfer_existed = pr_fsio_lstat(path, &st) == 0;
    xfer_old_size = xfer_existed ? st.st_size : 0;
    xfer_limit = -1;

    if (quota_on && number_value(Q_QUOTA_VALUE, "0", &remaining)) {
        off_t budget = remaining > 0 ? remaining : 0;
        config_rec* c;

        if (!append && !resuming) {
            budget += xfer_old_size;
        } else if (resuming && session.restart_pos < xfer_old_size) {
            budget += xfer_old_size - session.restart_pos;
        }
        if (budget == 0 && !is_sftp()) {
            return refuse(cmd, R_552, "Disk quota exceeded.");
        }
        /* The file may end up at most this long: an overwrite gets what it
         * replaces back, an append or a resume grows the old file. */
        xfer_limit = (append || resuming ? xfer_old_size : 0) + budget;
        xfer_appending = append;
        over_quota = FALSE;
        if (is_sftp()) {
            /* mod_sftp stops writing once the file is past MaxStoreFileSize;
             * what passed it goes back when the file is closed. */
            c = session_param("MaxStoreFileSize", 2);
            c->argv[0] = palloc(session.pool, sizeof(off_t));
            *((off_t*)c->argv[0]) = xfer_limit > 0 ? xfer_limit : 1;
            c->argv[1] = top_precedence();
        }
    }
    return mr;
}

/* A file the quota cannot take goes back: removed, or cut to its old
 * length. */
static void roll_back(void) {
    if (xfer_existed) {
        (void)truncate(xfer_path, xfer_old_size);
    } else {
        (void)unlink(xfer_path);
    }
}

/* FTP uploads write through these: a write that would take the file past
 * what the quota allows fails with EDQUOT (ProFTPD answers 552), and the
 * file goes back as the transfer closes it, before the reply is sent. */
static int quota_write(pr_fh_t* fh, int fd, const char* buf, size_t n) {
    struct stat st;
    if (xfer_limit >= 0 && !is_sftp() && fstat(fd, &st) == 0) {
        off_t pos = lseek(fd, 0, SEEK_CUR);
        off_t end = xfer_appending ? st.st_size + (off_t)n
                                   : (pos + (off_t)n > st.st_size ? pos + (off_t)n : st.st_size);
        if (end > xfer_limit) {
            over_quota = TRUE;
            errno = EDQUOT;
            return -1;
        }
    }
    return write(fd, buf, n);
}

static int quota_close(pr_fh_t* fh, int fd) {
    int res = close(fd);
    if (over_quota && xfer_path[0] != '\0') {
        roll_back();
    }
    return res;
}

/* After an upload, done or not: a file the quota cannot take goes back
 * (removed, or cut to its old length), then the quota and the credit hear
 * what was stored. */
static void uploaded(int complete, int over_quota) {
    struct stat st;
    off_t new_size;
    char amount[64];

    if (xfer_path[0] == '\0') {
        return;
    }
    new_size = pr_fsio_lstat(xfer_path, &st) == 0 ? st.st_size : 0;
    if (xfer_limit >= 0 && (over_quota || new_size > xfer_limit)) {
        roll_back();
        new_size = xfer_existed ? xfer_old_size : 0;
        complete = FALSE;
    }
    over_quota = FALSE;
    if (quota_on && new_size != xfer_old_size) {
        pr_snprintf(amount, sizeof(amount), "%" PR_LU, (pr_off_t)0);
        if (new_size > xfer_old_size) {
            pr_snprintf(amount, sizeof(amount), "%" PR_LU, (pr_off_t)(new_size - xfer_old_size));
        } else {
            pr_snprintf(amount, sizeof(amount), "-%" PR_LU, (pr_off_t)(xfer_old_size - new_size));
        }
        (void)granted(Q_QUOTA_VALUE, amount);
    }
    if (complete && ratio_on) {
        double units = ratio_files ? 1.0 : (double)session.xfer.total_bytes;
        add_credit(units * (double)ratio_down / (double)ratio_up);
    }
    xfer_path[0] = '\0';
    xfer_limit = -1;
}

MODRET quellin_post_stor(cmd_rec* cmd) {
    if (logged_in_session()) {
        uploaded(TRUE, FALSE);
    }
    return PR_DECLINED(cmd);
}

MODRET quellin_post_stor_err(cmd_rec* cmd) {
    if (logged_in_session()) {
        /* ProFTPD stopped the transfer at MaxStoreFileSize. */
        int xerrno = pr_cmd_get_errno(cmd);
        uploaded(FALSE, xerrno == EFBIG || xerrno == EDQUOT);
    }
    return PR_DECLINED(cmd);
}

/* --- sign-off and the command log ----------------------------------------- */

MODRET quellin_pre_quit(cmd_rec* cmd) {
    char text[512];
    if (!quellin_engine || is_sftp()) {
        return PR_DECLINED(cmd);
    }
    if (text_value(Q_SIGN_OFF, logged_in ? user_name : "", text, sizeof(text))) {
        send_message(cmd->tmp_pool, R_221, text);
    }
    return PR_DECLINED(cmd);
}

MODRET quellin_log_any(cmd_rec* cmd) {
    if (!quellin_engine || !watched) {
        return PR_DECLINED(cmd);
    }
    pr_log_pri(
        PR_LOG_NOTICE, "%s (listed address) <- %s", client_address,
        strcmp(cmd->argv[0], C_PASS) == 0 ? "PASS ******" : pr_cmd_get_displayable_str(cmd, NULL));
    return PR_DECLINED(cmd);
}

/* --- configuration -------------------------------------------------------- */

MODRET set_quellin_flag(cmd_rec* cmd) {
    int value;
    config_rec* c;
    CHECK_ARGS(cmd, 1);
    CHECK_CONF(cmd, CONF_ROOT | CONF_VIRTUAL | CONF_GLOBAL);
    value = get_boolean(cmd, 1);
    if (value == -1) {
        CONF_ERROR(cmd, "expected Boolean parameter");
    }
    c = add_config_param(cmd->argv[0], 1, NULL);
    c->argv[0] = pcalloc(c->pool, sizeof(int));
    *((int*)c->argv[0]) = value;
    return PR_HANDLED(cmd);
}

MODRET set_quellin_text(cmd_rec* cmd) {
    CHECK_ARGS(cmd, 1);
    CHECK_CONF(cmd, CONF_ROOT | CONF_VIRTUAL | CONF_GLOBAL);
    (void)add_config_param_str(cmd->argv[0], 1, cmd->argv[1]);
    return PR_HANDLED(cmd);
}

MODRET set_quellin_path(cmd_rec* cmd) {
    CHECK_ARGS(cmd, 1);
    CHECK_CONF(cmd, CONF_ROOT | CONF_VIRTUAL | CONF_GLOBAL);
    if (*((char*)cmd->argv[1]) != '/') {
        CONF_ERROR(cmd, "must be an absolute path");
    }
    (void)add_config_param_str(cmd->argv[0], 1, cmd->argv[1]);
    return PR_HANDLED(cmd);
}

MODRET set_quellin_seconds(cmd_rec* cmd) {
    int value;
    config_rec* c;
    CHECK_ARGS(cmd, 1);
    CHECK_CONF(cmd, CONF_ROOT | CONF_VIRTUAL | CONF_GLOBAL);
    value = atoi(cmd->argv[1]);
    if (value < 1) {
        CONF_ERROR(cmd, "expected a number of seconds above 0");
    }
    c = add_config_param(cmd->argv[0], 1, NULL);
    c->argv[0] = pcalloc(c->pool, sizeof(int));
    *((int*)c->argv[0]) = value;
    return PR_HANDLED(cmd);
}

static conftable quellin_conftab[] = {{"QuellinEngine", set_quellin_flag, NULL},
                                      {"QuellinLibrary", set_quellin_path, NULL},
                                      {"QuellinSettings", set_quellin_path, NULL},
                                      {"QuellinUser", set_quellin_text, NULL},
                                      {"QuellinGroup", set_quellin_text, NULL},
                                      {"QuellinMinuteLength", set_quellin_seconds, NULL},
                                      {NULL}};

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
    {PRE_CMD, C_CWD, G_NONE, quellin_pre_cwd, FALSE, FALSE},
    {PRE_CMD, C_XCWD, G_NONE, quellin_pre_cwd, FALSE, FALSE},
    {PRE_CMD, C_CDUP, G_NONE, quellin_pre_cdup, FALSE, FALSE},
    {PRE_CMD, C_XCUP, G_NONE, quellin_pre_cdup, FALSE, FALSE},
    {CMD, C_CDUP, G_NONE, quellin_cdup, FALSE, FALSE},
    {CMD, C_XCUP, G_NONE, quellin_cdup, FALSE, FALSE},
    {CMD, C_PWD, G_NONE, quellin_pwd, FALSE, FALSE},
    {CMD, C_XPWD, G_NONE, quellin_pwd, FALSE, FALSE},
    {PRE_CMD, C_MKD, G_NONE, quellin_pre_mkd, FALSE, FALSE},
    {PRE_CMD, C_XMKD, G_NONE, quellin_pre_mkd, FALSE, FALSE},
    {PRE_CMD, C_RMD, G_NONE, quellin_pre_rmd, FALSE, FALSE},
    {PRE_CMD, C_XRMD, G_NONE, quellin_pre_rmd, FALSE, FALSE},
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
    {PRE_CMD, "SITE_CHMOD", G_NONE, quellin_pre_refused, FALSE, FALSE},
    {PRE_CMD, "SITE_CHGRP", G_NONE, quellin_pre_refused, FALSE, FALSE},
    {PRE_CMD, C_SITE, G_NONE, quellin_pre_site, FALSE, FALSE},
    {PRE_CMD, C_QUIT, G_NONE, quellin_pre_quit, FALSE, FALSE},
    {PRE_CMD, C_ANY, G_NONE, quellin_log_any, FALSE, FALSE},
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
