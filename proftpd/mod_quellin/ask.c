/*
 * Asking: the client-check libraries named by the FTP server's
 * configuration file, loaded once in the daemon, and the one function
 * through which every question goes.
 */

#include "mod_quellin.h"

#include <ctype.h>
#include <dirent.h>
#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>

#include "quellind_wire.h"

#define QUELLIN_MAX_LIBRARIES 16

typedef int (*quellin_entry)(quellin_event*);

static quellin_entry entries[QUELLIN_MAX_LIBRARIES];
static unsigned int entry_count = 0;
static char program_dir[PR_TUNABLE_PATH_MAX + 1];
static char client_address[64];
static char cause[256];
static quellin_result trouble = QUELLIN_ANSWERED;

const char* quellin_program_dir(void) {
    return program_dir;
}

void quellin_ask_set_address(const char* address) {
    sstrncpy(client_address, address, sizeof(client_address));
}

const char* quellin_client_address(void) {
    return client_address;
}

/* The answering service's socket (QuellinSocket), NULL when the libraries
 * are loaded in-process. */
const char* quellin_service_socket(void) {
    config_rec* c = find_config(main_server->conf, CONF_PARAM, "QuellinSocket", FALSE);
    return c != NULL ? c->argv[0] : NULL;
}

int quellin_ask_ready(void) {
    return entry_count > 0 || quellin_service_socket() != NULL;
}

const char* quellin_ask_cause(void) {
    return cause[0] != '\0' ? cause : "no cause given";
}

quellin_result quellin_ask_take_trouble(void) {
    quellin_result seen = trouble;
    trouble = QUELLIN_ANSWERED;
    return seen;
}

static int fits(const char* text, size_t size) {
    return strlen(text) < size;
}

/* --- the answering service ---------------------------------------------- */

/* The session's one connection to the service: opened at the first question
 * (never in the daemon, whose children would share it) and opened again
 * when the service has come back. */
static int service_fd = -1;

/* Longer than the longest password delay the service imposes. */
#define QUELLIN_SERVICE_WAIT_SECONDS 60

static void service_close(void) {
    if (service_fd >= 0) {
        (void)close(service_fd);
        service_fd = -1;
    }
}

static int service_open(const char* path) {
    struct sockaddr_un address;
    struct timeval wait = {QUELLIN_SERVICE_WAIT_SECONDS, 0};
    int fd, connected;

    memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (strlen(path) >= sizeof(address.sun_path)) {
        snprintf(cause, sizeof(cause), "the socket path %s is too long", path);
        return -1;
    }
    sstrncpy(address.sun_path, path, sizeof(address.sun_path));
    fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        snprintf(cause, sizeof(cause), "socket: %s", strerror(errno));
        return -1;
    }
    (void)setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
    (void)setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof(wait));
    /* The service knows its peers by the credentials they connect with:
     * root's while the session still has them, else the session user's. */
    PRIVS_ROOT
    connected = connect(fd, (struct sockaddr*)&address, sizeof(address)) == 0 ? 0 : errno;
    PRIVS_RELINQUISH
    if (connected != 0) {
        snprintf(cause, sizeof(cause), "the answering service at %s: %s", path,
                 strerror(connected));
        (void)close(fd);
        return -1;
    }
    service_fd = fd;
    return 0;
}

static int whole_io(int writing, void* buffer, size_t size) {
    char* bytes = buffer;
    size_t done = 0;
    while (done < size) {
        ssize_t n = writing ? send(service_fd, bytes + done, size - done, MSG_NOSIGNAL)
                            : read(service_fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            snprintf(cause, sizeof(cause), "the answering service: %s",
                     n == 0 ? "connection closed" : strerror(errno));
            return -1;
        }
        done += (size_t)n;
    }
    return 0;
}

/* Set once the session is chrooted: the socket is out of its sight. */
static int connection_is_final = FALSE;

void quellin_ask_connection_final(void) {
    connection_is_final = TRUE;
}

/* One request and its reply. A connection the service closed (it was
 * restarted) is opened again once; -1 when no reply came, -2 when the
 * connection is gone for good. */
static int service_exchange(const struct quellind_request* request, struct quellind_reply* reply) {
    const char* path = quellin_service_socket();
    int attempt;

    for (attempt = 0; attempt < 2; attempt++) {
        int reused = service_fd >= 0;
        if (!reused && connection_is_final) {
            snprintf(cause, sizeof(cause),
                     "the connection to the answering service was lost, and a chrooted session "
                     "cannot open it again");
            return -2;
        }
        if (!reused && service_open(path) < 0) {
            return -1;
        }
        if (whole_io(TRUE, (void*)request, sizeof(*request)) == 0 &&
            whole_io(FALSE, reply, sizeof(*reply)) == 0) {
            if (reply->version != QUELLIND_WIRE_VERSION || reply->status == QUELLIND_BAD_REQUEST) {
                snprintf(cause, sizeof(cause), "the answering service refused the request");
                service_close();
                return -1;
            }
            return 0;
        }
        service_close();
        if (!reused) {
            return -1;
        }
    }
    return -1;
}

/* A reply that carries no answer: the session must end, or the service
 * cannot answer now. */
static quellin_result unanswered_reply(uint32_t status) {
    if (status == QUELLIND_SESSION_ENDS) {
        snprintf(cause, sizeof(cause), "the account may no longer log in");
        return QUELLIN_END_SESSION;
    }
    snprintf(cause, sizeof(cause), "the account database is not answering");
    return QUELLIN_UNAVAILABLE;
}

static quellin_result ask_service(quellin_event* ev) {
    struct quellind_request request;
    struct quellind_reply reply;

    memset(&request, 0, sizeof(request));
    request.version = QUELLIND_WIRE_VERSION;
    request.kind = QUELLIND_ASK;
    memcpy(&request.record, ev, sizeof(request.record));
    switch (service_exchange(&request, &reply)) {
        case -2:
            return QUELLIN_END_SESSION;
        case -1:
            return QUELLIN_UNAVAILABLE;
    }
    switch (reply.status) {
        case QUELLIND_ANSWERED:
        case QUELLIND_QUEUED: /* kept by the service: as good as written */
            memcpy(ev, &reply.record, sizeof(*ev));
            ev->user[sizeof(ev->user) - 1] = '\0';
            ev->data[sizeof(ev->data) - 1] = '\0';
            return QUELLIN_ANSWERED;
        case QUELLIND_NO_ANSWER:
            return QUELLIN_UNANSWERED;
        case QUELLIND_REFUSED:
            /* Read as a no: flag 0 and no text. */
            pr_log_pri(PR_LOG_WARNING,
                       MOD_QUELLIN_VERSION
                       ": the answering service refused event %d for this session",
                       (int)ev->code);
            ev->flag = 0;
            ev->data[0] = '\0';
            return QUELLIN_ANSWERED;
        default:
            return unanswered_reply(reply.status);
    }
}

quellin_verdict quellin_still_allowed(void) {
    struct quellind_request request;
    struct quellind_reply reply;
    quellin_verdict verdict;
    int exchanged;

    memset(&request, 0, sizeof(request));
    request.version = QUELLIND_WIRE_VERSION;
    request.kind = QUELLIND_STILL_ALLOWED;
    exchanged = service_exchange(&request, &reply);
    if (exchanged == -2) {
        verdict = QUELLIN_MUST_END;
    } else if (exchanged < 0) {
        verdict = QUELLIN_NOT_ANSWERING;
    } else if (reply.status == QUELLIND_ANSWERED && reply.record.flag == 1) {
        verdict = QUELLIN_YES;
    } else if (reply.status == QUELLIND_NOT_ANSWERING) {
        snprintf(cause, sizeof(cause), "the account database is not answering");
        verdict = QUELLIN_NOT_ANSWERING;
    } else {
        /* Ended, or refused: a connection opened again after the service
         * restarted no longer speaks for the account. */
        snprintf(cause, sizeof(cause), "%s",
                 reply.status == QUELLIND_SESSION_ENDS
                     ? "the account may no longer log in"
                     : "the answering service no longer knows the session's account");
        verdict = QUELLIN_MUST_END;
    }
    return verdict;
}

quellin_result quellin_admit(quellin_event* ev) {
    struct quellind_request request;
    struct quellind_reply reply;

    memset(&request, 0, sizeof(request));
    request.version = QUELLIND_WIRE_VERSION;
    request.kind = QUELLIND_ADMIT;
    if (service_exchange(&request, &reply) < 0) {
        return QUELLIN_UNAVAILABLE;
    }
    switch (reply.status) {
        case QUELLIND_ANSWERED:
            memcpy(ev, &reply.record, sizeof(*ev));
            ev->data[sizeof(ev->data) - 1] = '\0';
            return QUELLIN_ANSWERED;
        case QUELLIND_NO_ANSWER:
            return QUELLIN_UNANSWERED;
        default:
            return unanswered_reply(reply.status);
    }
}

/* --- asking --------------------------------------------------------------- */

/* Asks the libraries in order. Loaded in-process, they either answer or
 * leave the question to the next; a database they cannot reach reads to
 * them as a refusal. */
quellin_result quellin_ask(int code, const char* user, const char* data, quellin_event* ev) {
    quellin_result result = QUELLIN_UNANSWERED;
    unsigned int i;

    if (!fits(user, sizeof(ev->user)) || !fits(data, sizeof(ev->data)) ||
        !fits(client_address, sizeof(ev->address))) {
        return QUELLIN_TOO_LONG;
    }

    if (quellin_service_socket() != NULL) {
        memset(ev, 0, sizeof(*ev));
        ev->code = code;
        sstrncpy(ev->user, user, sizeof(ev->user));
        sstrncpy(ev->data, data, sizeof(ev->data));
        sstrncpy(ev->address, client_address, sizeof(ev->address));
        result = ask_service(ev);
        if (result == QUELLIN_UNAVAILABLE || result == QUELLIN_END_SESSION) {
            if (trouble != QUELLIN_END_SESSION) {
                trouble = result;
            }
        }
        return result;
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
            ev->user[sizeof(ev->user) - 1] = '\0';
            ev->data[sizeof(ev->data) - 1] = '\0';
            result = QUELLIN_ANSWERED;
            break;
        }
    }
    PRIVS_RELINQUISH
    if (result == QUELLIN_UNAVAILABLE || result == QUELLIN_END_SESSION) {
        if (trouble != QUELLIN_END_SESSION) {
            trouble = result;
        }
    }
    return result;
}

static quellin_verdict verdict_of(quellin_result result, int yes) {
    if (result == QUELLIN_UNAVAILABLE || result == QUELLIN_END_SESSION) {
        return (quellin_verdict)result;
    }
    return result == QUELLIN_ANSWERED && yes ? QUELLIN_YES : QUELLIN_NO;
}

/* Rights are asked about the real path the rules name; data is a session
 * path. */
quellin_verdict quellin_right(int code, const char* data) {
    char real[sizeof(((quellin_event*)NULL)->data)];
    const char* asked = quellin_real_of(real, sizeof(real), data);
    quellin_event ev;
    quellin_result result;

    if (asked == NULL) {
        return QUELLIN_NO;
    }
    result = quellin_ask(code, quellin.user, asked, &ev);
    return verdict_of(result, result == QUELLIN_ANSWERED && ev.flag == 1);
}

quellin_verdict quellin_switch(int code) {
    quellin_event ev;
    quellin_result result = quellin_ask(code, quellin.user, "", &ev);
    return verdict_of(result, result == QUELLIN_ANSWERED && (unsigned char)ev.data[0] == 1);
}

int quellin_text(int code, const char* user, char* out, size_t size) {
    quellin_event ev;
    if (quellin_ask(code, user, "", &ev) != QUELLIN_ANSWERED || ev.data[0] == '\0') {
        return FALSE;
    }
    sstrncpy(out, ev.data, size);
    return TRUE;
}

/* A number answer (flag 1 and a leading whole number). */
int quellin_number(int code, const char* data, long* out) {
    quellin_event ev;
    char* end = NULL;
    long value;

    if (quellin_ask(code, quellin.user, data, &ev) != QUELLIN_ANSWERED || ev.flag != 1) {
        return FALSE;
    }
    value = strtol(ev.data, &end, 10);
    if (end == ev.data) {
        return FALSE;
    }
    *out = value;
    return TRUE;
}

/* --- finding the libraries ---------------------------------------------- */

const char* quellin_settings_root(void) {
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
    const char* file = pdircat(p, quellin_settings_root(), "software", "orvane", "serv-u",
                               "settings", "servu_path", NULL);
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

int quellin_ask_load(void) {
    pool* p = permanent_pool;
    config_rec* c = find_config(main_server->conf, CONF_PARAM, "QuellinLibrary", FALSE);
    array_header* paths;
    unsigned int i;

    entry_count = 0;
    if (quellin_service_socket() != NULL) {
        /* The service loads the libraries; the daemon only needs the
         * program directory, for the message files. */
        if (read_program_dir(p) < 0) {
            program_dir[0] = '\0';
        }
        return 0;
    }
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
            entry_count = 0;
            return -1;
        }
        entry = dlsym(handle, "HandleClientEvent");
        if (entry == NULL) {
            pr_log_pri(PR_LOG_ERR, MOD_QUELLIN_VERSION ": %s has no HandleClientEvent", path);
            entry_count = 0;
            return -1;
        }
        entries[entry_count++] = (quellin_entry)entry;
    }
    return entry_count > 0 ? 0 : -1;
}
