/* mod_quellin: what the module's files share. */
#ifndef MOD_QUELLIN_H
#define MOD_QUELLIN_H

#include "conf.h"
#include "privs.h"

#include "ask.h"

#define MOD_QUELLIN_VERSION "mod_quellin/1.0"
#define QUELLIN_MESSAGE_LIMIT (64 * 1024)

extern module quellin_module;

/* One session's state (each session is a process of its own). */
struct quellin_session {
    int engine;  /* QuellinEngine on for this server */
    int watched; /* the address is listed: commands are logged */
    int lock_fd; /* serialises the login limits' count and registration */

    char sent_name[256];                     /* the name as the client sent it */
    char user[40];                           /* the name the library left in the record */
    char home[PR_TUNABLE_PATH_MAX + 1];      /* the real path */
    char jail[PR_TUNABLE_PATH_MAX + 1];      /* what the session is chrooted to, "" if not */
    char view_home[PR_TUNABLE_PATH_MAX + 1]; /* the home as the session's file system names it */
    int logged_in;
    int relative_paths;
    int quota_on;
    int minute_seconds;
    int session_seconds;
    char login_message[512];
    /* Read before a chroot hides the files: the login message, and the
     * sign-off message (sign_off_read set, text NULL when there is none). */
    char* login_text;
    char* sign_off_text;
    int sign_off_read;
    struct passwd account;

    /* Ratio: the kind, and the session's own credit for per-session kinds. */
    int ratio_on, ratio_files, ratio_per_session;
    long ratio_up, ratio_down;
    double session_credit;
};

extern struct quellin_session quellin;

/* mod_quellin.c */
int quellin_logged_in(void);
void quellin_end_session(const char* why);
/* Once logged in: capabilities a session without root has no use for go. */
void quellin_after_login(void);
void quellin_send_message(pool* p, const char* code, const char* file);
char* quellin_read_message(pool* p, const char* file);
void quellin_send_text(pool* p, const char* code, const char* text);

/* replies.c: refusals, and what trouble in asking turns into. */
modret_t* quellin_refuse(cmd_rec* cmd, const char* code, const char* text);
modret_t* quellin_permission_denied(cmd_rec* cmd);
/* The reply for a right that was not granted (550), or for the trouble
 * that kept it from an answer: 451 (421 at login) and the cause logged,
 * or 421 and the end of the session. */
modret_t* quellin_not_granted(cmd_rec* cmd, quellin_verdict verdict);
modret_t* quellin_login_trouble(cmd_rec* cmd, quellin_result trouble);
/* Trouble after the reply is decided (charges, credits): logged, and the
 * session ended when it must. */
void quellin_note_trouble(const char* what, quellin_result trouble);

/* sftp.c */
int quellin_is_sftp(void);
int quellin_sftp_server(void);
modret_t* quellin_pre_realpath(cmd_rec* cmd);

/* paths.c. Three views of a path: the client's (what it sends and is
 * shown), the session's (what its file system, chrooted or not, names),
 * and the real one (what the rules name, asked about). */
char* quellin_normalise(pool* p, const char* base, const char* path);
/* The session was chrooted to jail (NULL: it was not). */
void quellin_set_jail(const char* jail);
/* The real path of a session path; NULL when it does not fit. */
const char* quellin_real_of(char* out, size_t size, const char* path);
const char* quellin_client_view(pool* p, const char* path);
char* quellin_resolve(pool* p, const char* path, const char* floor);
/* The session path a client's path names, every link resolved. */
char* quellin_session_path(pool* p, const char* arg);
char* quellin_parent_of(pool* p, const char* path);
int quellin_is_dir(const char* path);
int quellin_has_glob(const char* text);
void quellin_rewrite(cmd_rec* cmd, const char* prefix, const char* path);
char* quellin_reply_filter(pool* p, const char* fmt, ...);
/* The session path arg names, asked about with code: NULL when granted (and
 * *path set when path is not NULL), else the refusal. */
modret_t* quellin_judge(cmd_rec* cmd, int code, const char* arg, const char* prefix, char** path);

/* fs.c: the file-system layer through which every use of a path goes
 * once the session is logged in. */
int quellin_fs_register(void);
/* A path judged in this session: changes to the file system are made on
 * judged paths only. */
void quellin_fs_judged(const char* path, int code);
/* An upload the quota cannot take goes back: cut to old_size, or removed
 * when old_size is -1. */
void quellin_fs_take_back(const char* path, off_t old_size);
void quellin_fs_watch_quota(int (*write)(pr_fh_t*, int, const char*, size_t),
                            ssize_t (*pwrite)(pr_fh_t*, int, const void*, size_t, off_t),
                            int (*close)(pr_fh_t*, int));

/* login.c */
int quellin_connect(void);
config_rec* quellin_session_param(const char* name, int argc);
unsigned int* quellin_top_precedence(void);
modret_t* quellin_pre_user(cmd_rec* cmd);
modret_t* quellin_pre_pass(cmd_rec* cmd);
modret_t* quellin_post_pass(cmd_rec* cmd);
modret_t* quellin_auth_getpwnam(cmd_rec* cmd);
modret_t* quellin_auth_authenticate(cmd_rec* cmd);
modret_t* quellin_auth_check(cmd_rec* cmd);
modret_t* quellin_auth_getgroups(cmd_rec* cmd);

/* rights.c */
modret_t* quellin_pre_list(cmd_rec* cmd);
modret_t* quellin_pre_info(cmd_rec* cmd);
modret_t* quellin_pre_path(cmd_rec* cmd);
modret_t* quellin_pre_mfmt(cmd_rec* cmd);
modret_t* quellin_pre_cdup(cmd_rec* cmd);
modret_t* quellin_cdup(cmd_rec* cmd);
modret_t* quellin_pwd(cmd_rec* cmd);
modret_t* quellin_pre_dele(cmd_rec* cmd);
modret_t* quellin_post_dele(cmd_rec* cmd);
modret_t* quellin_pre_rnfr(cmd_rec* cmd);
modret_t* quellin_pre_rnto(cmd_rec* cmd);
modret_t* quellin_pre_refused(cmd_rec* cmd);
modret_t* quellin_pre_site(cmd_rec* cmd);

/* transfer.c: rights, quota and ratio of transfers. */
void quellin_watch_uploads(void);
modret_t* quellin_pre_retr(cmd_rec* cmd);
modret_t* quellin_post_retr(cmd_rec* cmd);
modret_t* quellin_post_retr_err(cmd_rec* cmd);
modret_t* quellin_pre_stor(cmd_rec* cmd);
modret_t* quellin_post_stor(cmd_rec* cmd);
modret_t* quellin_post_stor_err(cmd_rec* cmd);

/* conf.c */
extern conftable quellin_conftab[];

#endif
