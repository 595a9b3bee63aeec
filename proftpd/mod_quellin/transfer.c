/* Transfers: the rights of RETR/STOR/APPE, the quota and the ratio. */

#include "mod_quellin.h"

/* The transfer in progress. */
static char xfer_path[PR_TUNABLE_PATH_MAX + 1];
static off_t xfer_old_size = 0;
static int xfer_existed = FALSE;
static off_t xfer_limit = -1;   /* bytes the file may end up longer, -1: none */
static int xfer_counts = FALSE; /* a download that costs ratio credit */
static int xfer_appending = FALSE;
static int over_quota = FALSE;

/* --- ratio ---------------------------------------------------------------- */

static double credit_now(void) {
    quellin_event ev;
    if (quellin.ratio_per_session) {
        return quellin.session_credit;
    }
    if (quellin_ask(Q_RATIO_CREDIT, quellin.user, "0", &ev) == QUELLIN_ANSWERED && ev.flag == 1) {
        return strtod(ev.data, NULL);
    }
    return 0;
}

static void add_credit(double amount) {
    char text[64];
    quellin_event ev;

    if (!quellin.ratio_on || amount == 0) {
        return;
    }
    if (quellin.ratio_per_session) {
        quellin.session_credit += amount;
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
    quellin_note_trouble("ratio credit", quellin_ask(Q_RATIO_CREDIT, quellin.user, text, &ev));
}

modret_t* quellin_pre_retr(cmd_rec* cmd) {
    modret_t* refusal;
    char* path = NULL;
    struct stat st;
    double cost;
    quellin_verdict free_of_ratio;

    if (!quellin_logged_in()) {
        return PR_DECLINED(cmd);
    }
    refusal = quellin_judge(cmd, Q_FILE_READ, cmd->arg, NULL, &path);
    if (refusal != NULL) {
        return refusal;
    }
    xfer_counts = FALSE;
    if (!quellin.ratio_on) {
        return PR_DECLINED(cmd);
    }
    free_of_ratio = quellin_right(Q_RATIO_FREE, path);
    if (free_of_ratio == QUELLIN_NOT_ANSWERING || free_of_ratio == QUELLIN_MUST_END) {
        return quellin_not_granted(cmd, free_of_ratio);
    }
    if (free_of_ratio != QUELLIN_YES) {
        cost = quellin.ratio_files ? 1 : (pr_fsio_stat(path, &st) == 0 ? (double)st.st_size : 0);
        if (credit_now() < cost) {
            return quellin_refuse(cmd, R_550,
                                  "Not enough ratio credit to download this file; upload first.");
        }
        xfer_counts = TRUE;
    }
    return PR_DECLINED(cmd);
}

static void downloaded(int complete) {
    if (!xfer_counts) {
        return;
    }
    xfer_counts = FALSE;
    if (quellin.ratio_files && !complete) {
        return;
    }
    add_credit(-(quellin.ratio_files ? 1.0 : (double)session.xfer.total_bytes));
}

modret_t* quellin_post_retr(cmd_rec* cmd) {
    if (quellin_logged_in()) {
        downloaded(TRUE);
    }
    return PR_DECLINED(cmd);
}

modret_t* quellin_post_retr_err(cmd_rec* cmd) {
    if (quellin_logged_in()) {
        downloaded(FALSE);
    }
    return PR_DECLINED(cmd);
}

/* --- quota ---------------------------------------------------------------- */

modret_t* quellin_pre_stor(cmd_rec* cmd) {
    int append = strcmp(cmd->argv[0], C_APPE) == 0;
    int resuming = !append && session.restart_pos > 0;
    modret_t* refusal;
    char* path = NULL;
    struct stat st;
    long remaining = 0;
    int have_remaining = FALSE;

    if (!quellin_logged_in()) {
        return PR_DECLINED(cmd);
    }
    /* SFTP names an append by the open mode; a plain write may also keep
     * what is there. */
    refusal = quellin_judge(cmd, append || resuming ? Q_FILE_APPEND : Q_FILE_WRITE, cmd->arg, NULL,
                            &path);
    if (refusal != NULL) {
        return refusal;
    }
    sstrncpy(xfer_path, path, sizeof(xfer_path));
    xfer_existed = pr_fsio_lstat(path, &st) == 0;
    xfer_old_size = xfer_existed ? st.st_size : 0;
    xfer_limit = -1;

    if (quellin.quota_on) {
        quellin_result trouble;
        (void)quellin_ask_take_trouble();
        have_remaining = quellin_number(Q_QUOTA_VALUE, "0", &remaining);
        trouble = quellin_ask_take_trouble();
        if (trouble == QUELLIN_UNAVAILABLE || trouble == QUELLIN_END_SESSION) {
            xfer_path[0] = '\0';
            return quellin_not_granted(cmd, (quellin_verdict)trouble);
        }
    }
    if (have_remaining) {
        off_t budget = remaining > 0 ? remaining : 0;

        if (!append && !resuming) {
            budget += xfer_old_size;
        } else if (resuming && session.restart_pos < xfer_old_size) {
            budget += xfer_old_size - session.restart_pos;
        }
        if (budget == 0 && !quellin_is_sftp()) {
            return quellin_refuse(cmd, R_552, "Disk quota exceeded.");
        }
        /* The file may end up at most this long: an overwrite gets what it
         * replaces back, an append or a resume grows the old file. */
        xfer_limit = (append || resuming ? xfer_old_size : 0) + budget;
        xfer_appending = append;
        over_quota = FALSE;
    }
    return PR_DECLINED(cmd);
}

/* A file the quota cannot take goes back: removed, or cut to its old
 * length. */
static void roll_back(void) {
    quellin_fs_take_back(xfer_path, xfer_existed ? xfer_old_size : -1);
}

/* FTP uploads write through these: a write that would take the file past
 * what the quota allows fails with EDQUOT (ProFTPD answers 552), and the
 * file goes back as the transfer closes it, before the reply is sent. */
static int quota_write(pr_fh_t* fh, int fd, const char* buf, size_t n) {
    struct stat st;
    if (xfer_limit >= 0 && !quellin_is_sftp() && fstat(fd, &st) == 0) {
        off_t pos = lseek(fd, 0, SEEK_CUR);
        off_t end = xfer_appending ? st.st_size + (off_t)n
                                   : (pos + (off_t)n > st.st_size ? pos + (off_t)n : st.st_size);
        if (end > xfer_limit) {
            over_quota = TRUE;
            errno = EDQUOT;
            return -1;
        }
    }
    return (int)write(fd, buf, n);
}

/* SFTP writes at offsets: a write that would take the file past the limit
 * fails, and the file goes back when the client closes it. */
static ssize_t quota_pwrite(pr_fh_t* fh, int fd, const void* buf, size_t n, off_t offset) {
    if (xfer_limit >= 0 && offset + (off_t)n > xfer_limit) {
        over_quota = TRUE;
        errno = EDQUOT;
        return -1;
    }
    return pwrite(fd, buf, n, offset);
}

static int quota_close(pr_fh_t* fh, int fd) {
    int res = close(fd);
    if (over_quota && xfer_path[0] != '\0') {
        roll_back();
    }
    return res;
}

void quellin_watch_uploads(void) {
    quellin_fs_watch_quota(quota_write, quota_pwrite, quota_close);
}

/* After an upload, done or not: a file the quota cannot take goes back
 * (removed, or cut to its old length), then the quota and the credit hear
 * what was stored. */
static void uploaded(int complete, int stopped) {
    struct stat st;
    off_t new_size;
    char amount[64];
    quellin_event ev;

    if (xfer_path[0] == '\0') {
        return;
    }
    new_size = pr_fsio_lstat(xfer_path, &st) == 0 ? st.st_size : 0;
    if (xfer_limit >= 0 && (stopped || over_quota || new_size > xfer_limit)) {
        roll_back();
        new_size = xfer_existed ? xfer_old_size : 0;
        complete = FALSE;
    }
    over_quota = FALSE;
    if (quellin.quota_on && new_size != xfer_old_size) {
        if (new_size > xfer_old_size) {
            pr_snprintf(amount, sizeof(amount), "%" PR_LU, (pr_off_t)(new_size - xfer_old_size));
        } else {
            pr_snprintf(amount, sizeof(amount), "-%" PR_LU, (pr_off_t)(xfer_old_size - new_size));
        }
        quellin_note_trouble("quota charge", quellin_ask(Q_QUOTA_VALUE, quellin.user, amount, &ev));
    }
    if (complete && quellin.ratio_on) {
        double units = quellin.ratio_files ? 1.0 : (double)session.xfer.total_bytes;
        add_credit(units * (double)quellin.ratio_down / (double)quellin.ratio_up);
    }
    xfer_path[0] = '\0';
    xfer_limit = -1;
}

modret_t* quellin_post_stor(cmd_rec* cmd) {
    if (quellin_logged_in()) {
        uploaded(TRUE, FALSE);
    }
    return PR_DECLINED(cmd);
}

modret_t* quellin_post_stor_err(cmd_rec* cmd) {
    if (quellin_logged_in()) {
        /* ProFTPD stopped the transfer at MaxStoreFileSize. */
        int xerrno = pr_cmd_get_errno(cmd);
        uploaded(FALSE, xerrno == EFBIG || xerrno == EDQUOT);
    }
    return PR_DECLINED(cmd);
}
