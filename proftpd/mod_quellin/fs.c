/*
 * The file-system layer of a logged-in session: what was judged is what is
 * used. Paths reach the kernel through openat2() with RESOLVE_NO_SYMLINKS,
 * so a folder swapped for a link after the check fails instead of leading
 * elsewhere; and the file system changes only at paths the module judged.
 * Without links in a path, its lexical form is the one the kernel resolves.
 */

#include "mod_quellin.h"

#include <linux/openat2.h>
#include <sys/syscall.h>

#define JUDGED_KEPT 8

/* What each use needs to have been granted. */
static const int reading[] = {Q_FILE_READ, 0};
static const int writing[] = {Q_FILE_WRITE, Q_FILE_APPEND, 0};
static const int creating_dirs[] = {Q_DIR_CREATE, 0};
static const int removing_dirs[] = {Q_DIR_REMOVE, 0};
static const int removing_files[] = {Q_FILE_REMOVE, 0};
static const int renaming_from[] = {Q_FILE_REMOVE, Q_DIR_REMOVE, 0};
static const int renaming_to[] = {Q_FILE_WRITE, Q_DIR_CREATE, 0};

static pr_fs_t* fs = NULL;
/* The last paths judged and the question each was granted (RNFR and RNTO
 * are two commands). */
static struct {
    char path[PR_TUNABLE_PATH_MAX + 1];
    int code;
} judged[JUDGED_KEPT];
static unsigned int judged_next = 0;

void quellin_fs_judged(const char* path, int code) {
    sstrncpy(judged[judged_next].path, path, sizeof(judged[0].path));
    judged[judged_next].code = code;
    judged_next = (judged_next + 1) % JUDGED_KEPT;
}

/* The absolute, lexically normal form of a path ProFTPD passes. */
static char* absolute(pool* p, const char* path) {
    return quellin_normalise(p, *path == '/' ? "/" : pr_fs_getcwd(), path);
}

/* TRUE when path was granted one of the questions (codes ends with 0). */
static int granted_as(const char* path, const int* codes) {
    unsigned int i;
    const int* c;
    for (i = 0; i < JUDGED_KEPT; i++) {
        if (strcmp(judged[i].path, path) != 0) {
            continue;
        }
        for (c = codes; *c != 0; c++) {
            if (judged[i].code == *c) {
                return TRUE;
            }
        }
    }
    pr_log_debug(DEBUG3, MOD_QUELLIN_VERSION ": %s was not judged: refused", path);
    errno = EACCES;
    return FALSE;
}

static int open_unlinked(const char* path, int flags, mode_t mode) {
    struct open_how how;
    memset(&how, 0, sizeof(how));
    how.flags = (unsigned long long)(flags | O_CLOEXEC);
    how.mode = (flags & O_CREAT) != 0 ? mode : 0;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return (int)syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof(how));
}

/* The directory holding path, opened without links, and the last name. */
static int open_parent(pool* p, const char* path, const char** name) {
    char* parent = quellin_parent_of(p, path);
    const char* slash = strrchr(path, '/');
    *name = slash != NULL ? slash + 1 : path;
    if (**name == '\0') {
        errno = EINVAL;
        return -1;
    }
    return open_unlinked(parent, O_PATH | O_DIRECTORY, 0);
}

/* Runs one change on a judged path through its directory's handle. */
#define WITH_PARENT(fs_, path_, codes_, body)                                       \
    do {                                                                            \
        pool* tmp = make_sub_pool(fs_->fs_pool);                                    \
        const char* abs = absolute(tmp, path_);                                     \
        const char* name;                                                           \
        int dfd, res = -1, xerrno;                                                  \
        if (granted_as(abs, codes_) && (dfd = open_parent(tmp, abs, &name)) >= 0) { \
            res = (body);                                                           \
            xerrno = errno;                                                         \
            close(dfd);                                                             \
            errno = xerrno;                                                         \
        }                                                                           \
        xerrno = errno;                                                             \
        destroy_pool(tmp);                                                          \
        errno = xerrno;                                                             \
        return res;                                                                 \
    } while (0)

static int stat_path(pr_fs_t* f, const char* path, struct stat* st, int follow) {
    pool* tmp = make_sub_pool(f->fs_pool);
    int fd = open_unlinked(absolute(tmp, path), O_PATH | (follow ? 0 : O_NOFOLLOW), 0);
    int res = -1, xerrno;

    if (fd >= 0) {
        res = fstatat(fd, "", st, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW);
        xerrno = errno;
        close(fd);
        errno = xerrno;
    }
    xerrno = errno;
    destroy_pool(tmp);
    errno = xerrno;
    return res;
}

static int fs_stat(pr_fs_t* f, const char* path, struct stat* st) {
    return stat_path(f, path, st, TRUE);
}

static int fs_lstat(pr_fs_t* f, const char* path, struct stat* st) {
    return stat_path(f, path, st, FALSE);
}

static int fs_open(pr_fh_t* fh, const char* path, int flags) {
    pool* tmp = make_sub_pool(fs->fs_pool);
    const char* abs = absolute(tmp, path);
    int res = -1, xerrno;

    if (granted_as(abs, (flags & O_ACCMODE) == O_RDONLY && (flags & (O_CREAT | O_TRUNC)) == 0
                            ? reading
                            : writing)) {
        res = open_unlinked(abs, flags, PR_OPEN_MODE);
    }
    xerrno = errno;
    destroy_pool(tmp);
    errno = xerrno;
    return res;
}

static int fs_mkdir(pr_fs_t* f, const char* path, mode_t mode) {
    WITH_PARENT(f, path, creating_dirs, mkdirat(dfd, name, mode));
}

static int fs_rmdir(pr_fs_t* f, const char* path) {
    WITH_PARENT(f, path, removing_dirs, unlinkat(dfd, name, AT_REMOVEDIR));
}

static int fs_unlink(pr_fs_t* f, const char* path) {
    WITH_PARENT(f, path, removing_files, unlinkat(dfd, name, 0));
}

static int fs_readlink(pr_fs_t* f, const char* path, char* buf, size_t size) {
    pool* tmp = make_sub_pool(f->fs_pool);
    const char* name;
    int dfd = open_parent(tmp, absolute(tmp, path), &name);
    int res = -1, xerrno;

    if (dfd >= 0) {
        res = (int)readlinkat(dfd, name, buf, size);
        xerrno = errno;
        close(dfd);
        errno = xerrno;
    }
    xerrno = errno;
    destroy_pool(tmp);
    errno = xerrno;
    return res;
}

/* Both names judged, both directories opened without links. */
static int fs_rename(pr_fs_t* f, const char* from, const char* to) {
    pool* tmp = make_sub_pool(f->fs_pool);
    const char *a = absolute(tmp, from), *b = absolute(tmp, to), *na, *nb;
    int da = -1, db = -1, res = -1, xerrno;

    if (granted_as(a, renaming_from) && granted_as(b, renaming_to) &&
        (da = open_parent(tmp, a, &na)) >= 0 && (db = open_parent(tmp, b, &nb)) >= 0) {
        res = renameat(da, na, db, nb);
    }
    xerrno = errno;
    if (da >= 0) {
        close(da);
    }
    if (db >= 0) {
        close(db);
    }
    destroy_pool(tmp);
    errno = xerrno;
    return res;
}

/* A session never makes links, nor changes a file's mode or owner: no
 * question covers where a link would lead or who may read the file. */
static int fs_symlink(pr_fs_t* f, const char* target, const char* path) {
    errno = EACCES;
    return -1;
}

static int fs_link(pr_fs_t* f, const char* from, const char* to) {
    errno = EACCES;
    return -1;
}

static int fs_chmod(pr_fs_t* f, const char* path, mode_t mode) {
    errno = EACCES;
    return -1;
}

static int fs_chown(pr_fs_t* f, const char* path, uid_t uid, gid_t gid) {
    errno = EACCES;
    return -1;
}

/* Changes to a judged file's length or times, through a handle. */
static int with_file(pr_fs_t* f, const char* path, off_t size, struct timeval* tvs) {
    pool* tmp = make_sub_pool(f->fs_pool);
    const char* abs = absolute(tmp, path);
    int fd = -1, res = -1, xerrno;

    if (granted_as(abs, writing) &&
        (fd = open_unlinked(abs, tvs == NULL ? O_WRONLY : O_RDONLY | O_NONBLOCK, 0)) >= 0) {
        if (tvs == NULL) {
            res = ftruncate(fd, size);
        } else {
            struct timespec ts[2];
            ts[0].tv_sec = tvs[0].tv_sec;
            ts[0].tv_nsec = tvs[0].tv_usec * 1000;
            ts[1].tv_sec = tvs[1].tv_sec;
            ts[1].tv_nsec = tvs[1].tv_usec * 1000;
            res = futimens(fd, ts);
        }
    }
    xerrno = errno;
    if (fd >= 0) {
        close(fd);
    }
    destroy_pool(tmp);
    errno = xerrno;
    return res;
}

static int fs_truncate(pr_fs_t* f, const char* path, off_t size) {
    return with_file(f, path, size, NULL);
}

static int fs_utimes(pr_fs_t* f, const char* path, struct timeval* tvs) {
    return with_file(f, path, 0, tvs);
}

static int fs_chdir(pr_fs_t* f, const char* path) {
    pool* tmp = make_sub_pool(f->fs_pool);
    int fd = open_unlinked(absolute(tmp, path), O_PATH | O_DIRECTORY, 0);
    int res = -1, xerrno;

    if (fd >= 0) {
        res = fchdir(fd);
        xerrno = errno;
        close(fd);
        errno = xerrno;
    }
    if (res == 0) {
        pr_fs_setcwd(path);
    }
    xerrno = errno;
    destroy_pool(tmp);
    errno = xerrno;
    return res;
}

/* Every directory a listing opens is asked about, the folders a recursive
 * listing enters too. */
static void* fs_opendir(pr_fs_t* f, const char* path) {
    pool* tmp = make_sub_pool(f->fs_pool);
    const char* abs = absolute(tmp, path);
    int fd = open_unlinked(abs, O_RDONLY | O_DIRECTORY, 0);
    quellin_verdict verdict = QUELLIN_YES;
    DIR* dir = NULL;
    int xerrno;

    if (fd >= 0 && quellin_logged_in()) {
        verdict = quellin_right(Q_DIR_LIST, abs);
    }
    if (fd >= 0 && verdict == QUELLIN_YES) {
        dir = fdopendir(fd);
    }
    xerrno = verdict == QUELLIN_YES ? errno : verdict == QUELLIN_NO ? EACCES : EAGAIN;
    if (dir == NULL && fd >= 0) {
        close(fd);
    }
    destroy_pool(tmp);
    errno = xerrno;
    return dir;
}

void quellin_fs_take_back(const char* path, off_t old_size) {
    pool* tmp = make_sub_pool(session.pool);
    const char* name;
    int fd;

    if (old_size >= 0) {
        fd = open_unlinked(path, O_WRONLY, 0);
        if (fd >= 0) {
            (void)ftruncate(fd, old_size);
            close(fd);
        }
    } else if ((fd = open_parent(tmp, path, &name)) >= 0) {
        (void)unlinkat(fd, name, 0);
        close(fd);
    }
    destroy_pool(tmp);
}

/* The quota's watch on writes, kept for a registration after a chroot. */
static int (*quota_write)(pr_fh_t*, int, const char*, size_t) = NULL;
static ssize_t (*quota_pwrite)(pr_fh_t*, int, const void*, size_t, off_t) = NULL;
static int (*quota_close)(pr_fh_t*, int) = NULL;

int quellin_fs_register(void) {
    if (fs != NULL && pr_get_fs("/", NULL) == fs) {
        return 0;
    }
    fs = pr_register_fs(session.pool, "quellin", "/");
    if (fs == NULL) {
        pr_log_pri(PR_LOG_ERR, MOD_QUELLIN_VERSION ": cannot take over the file system: %s",
                   strerror(errno));
        return -1;
    }
    fs->stat = fs_stat;
    fs->lstat = fs_lstat;
    fs->open = fs_open;
    fs->mkdir = fs_mkdir;
    fs->rmdir = fs_rmdir;
    fs->unlink = fs_unlink;
    fs->rename = fs_rename;
    fs->link = fs_link;
    fs->symlink = fs_symlink;
    fs->readlink = fs_readlink;
    fs->truncate = fs_truncate;
    fs->chmod = fs_chmod;
    fs->chown = fs_chown;
    fs->lchown = fs_chown;
    fs->utimes = fs_utimes;
    fs->chdir = fs_chdir;
    fs->opendir = fs_opendir;
    if (quota_write != NULL) {
        fs->write = quota_write;
        fs->pwrite = quota_pwrite;
        fs->close = quota_close;
    }
    return 0;
}

void quellin_fs_watch_quota(int (*write)(pr_fh_t*, int, const char*, size_t),
                            ssize_t (*pwrite)(pr_fh_t*, int, const void*, size_t, off_t),
                            int (*close)(pr_fh_t*, int)) {
    quota_write = write;
    quota_pwrite = pwrite;
    quota_close = close;
    if (fs == NULL) {
        pr_log_pri(PR_LOG_WARNING, MOD_QUELLIN_VERSION ": cannot watch uploads for the quota");
        return;
    }
    fs->write = write;
    fs->pwrite = pwrite;
    fs->close = close;
}
