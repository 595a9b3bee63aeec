/* Asking the client-check library: the one way every question goes. */
#ifndef MOD_QUELLIN_ASK_H
#define MOD_QUELLIN_ASK_H

#include <stdint.h>
#include <sys/types.h>

/* The record the library reads and writes in place. */
typedef struct {
    int32_t code;
    int32_t flag;
    char user[40];
    char data[512];
    char address[64];
} quellin_event;

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

/* What became of a question. */
typedef enum {
    QUELLIN_ANSWERED = 1,     /* the event holds the answer */
    QUELLIN_UNANSWERED = 0,   /* no library answered */
    QUELLIN_TOO_LONG = -1,    /* an input does not fit its field: a cut name or path
                                 would ask about another user or file */
    QUELLIN_UNAVAILABLE = -2, /* the account database is not answering */
    QUELLIN_END_SESSION = -3  /* the session must end */
} quellin_result;

/* A right asked about: yes, no, or the trouble that kept it from an answer. */
typedef enum {
    QUELLIN_YES = 1,
    QUELLIN_NO = 0,
    QUELLIN_NOT_ANSWERING = QUELLIN_UNAVAILABLE,
    QUELLIN_MUST_END = QUELLIN_END_SESSION
} quellin_verdict;

/* Loads the libraries once, in the daemon. 0 when at least one is ready. */
int quellin_ask_load(void);
int quellin_ask_ready(void);
/* The program directory the settings store names ("" when unknown). */
const char* quellin_program_dir(void);
const char* quellin_settings_root(void);
void quellin_ask_set_address(const char* address);
const char* quellin_client_address(void);

/* Every question goes through here. */
quellin_result quellin_ask(int code, const char* user, const char* data, quellin_event* ev);
/* Why the last question that could not be answered was not (for the log). */
const char* quellin_ask_cause(void);
/* The worst trouble met since the last call (QUELLIN_ANSWERED when none),
 * for sequences of reads that each fall back to a default. */
quellin_result quellin_ask_take_trouble(void);

/* The answering service's socket, NULL when the libraries are loaded
 * in-process. */
const char* quellin_service_socket(void);
/* The session can no longer reach the socket (it is chrooted): once the
 * connection is lost, the session must end. */
void quellin_ask_connection_final(void);
/* Asked of the service before each command of a logged-in session: is the
 * account still allowed in from the session's address? */
quellin_verdict quellin_still_allowed(void);
/* Asked of the service once a login's checks passed: counts the account's
 * sessions on every host of the database and registers this one.
 * QUELLIN_ANSWERED: flag 1 admitted, flag 0 refused with the limit in the
 * data ("account", "address"); QUELLIN_UNANSWERED: this server counts its
 * own sessions (one host). */
quellin_result quellin_admit(quellin_event* ev);

/* Answer forms, for the session's user. */
quellin_verdict quellin_right(int code, const char* data);
quellin_verdict quellin_switch(int code);
/* TRUE with the value; FALSE when there is none or on trouble. */
int quellin_text(int code, const char* user, char* out, size_t size);
int quellin_number(int code, const char* data, long* out);

#endif
