/*
 * Asking: the client-check libraries named by the FTP server's
 * configuration file, loaded once in the daemon, and the one function
 * through which every question goes.
 */

#include "mod_quellin.h"

#include <ctype.h>
#include <dirent.h>
#include <dlfcn.h>

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

int quellin_ask_ready(void) {
    return entry_count > 0;
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

quellin_verdict quellin_right(int code, const char* data) {
    quellin_event ev;
    quellin_result result = quellin_ask(code, quellin.user, data, &ev);
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
