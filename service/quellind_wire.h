/* What the FTP server's session and quellind say to each other over the
 * service's Unix stream socket. Plain C, so that the ProFTPD module can
 * include it.
 *
 * Each request is answered by one reply, in order, on the same connection;
 * both are fixed-size and in the machine's own byte order (the socket never
 * leaves the host). The record is the plug-in's ClientEvent, byte for byte:
 * code, answer flag, user name, data text, address text. */
#ifndef KESTRIX_QUELLIND_WIRE_H
#define KESTRIX_QUELLIND_WIRE_H

#include <stddef.h>
#include <stdint.h>

#define QUELLIND_WIRE_VERSION 1u
#define QUELLIND_DEFAULT_SOCKET "/run/kestrix/quellind.sock"

/* What a request asks. */
enum quellind_kind {
    /* Answer the event in the record, as HandleClientEvent would. */
    QUELLIND_ASK = 1,
    /* Is the session's account still allowed in, from its address? Only
     * after the login; the record's texts are not read. The reply is
     * QUELLIND_ANSWERED (flag 1), QUELLIND_SESSION_ENDS or
     * QUELLIND_NOT_ANSWERING. */
    QUELLIND_STILL_ALLOWED = 2,
    /* May the session's account log in now, counting its sessions on every
     * host of the database? Only after the password check; the record's
     * texts are not read. QUELLIND_ANSWERED with flag 1: admitted and
     * counted until the connection closes; flag 0: refused, the data text
     * saying by which limit ("account", "address" or "unreadable").
     * QUELLIND_NO_ANSWER: sessions are not counted across hosts here (one
     * host, SQLite): the FTP server counts its own. Asked again on the same
     * connection it answers as the first time. */
    QUELLIND_ADMIT = 3
};

/* How a request was answered. */
enum quellind_status {
    /* The record holds the plug-in's answer. */
    QUELLIND_ANSWERED = 0,
    /* The plug-in does not answer this code: the record is unchanged. */
    QUELLIND_NO_ANSWER = 1,
    /* The account database cannot answer now: try again later. The
     * record's answer means nothing. */
    QUELLIND_NOT_ANSWERING = 2,
    /* Not for this session: before the login only the connection and
     * login questions are answered, after it only about its own account. */
    QUELLIND_REFUSED = 3,
    /* The account was deleted, disabled or expired, or its address is
     * blocked: the session must end. */
    QUELLIND_SESSION_ENDS = 4,
    /* A quota or credit change that the database could not take now is
     * kept on disk and written as soon as it can be: count it as done. */
    QUELLIND_QUEUED = 5,
    /* Not a request of this version. The connection is closed. */
    QUELLIND_BAD_REQUEST = 6
};

#define QUELLIND_RECORD_SIZE 624

struct quellind_record {
    int32_t code;
    int32_t flag;
    char user_name[40];
    char data[512];
    char address[64];
};

struct quellind_request {
    uint32_t version; /* QUELLIND_WIRE_VERSION */
    uint32_t kind;    /* enum quellind_kind */
    struct quellind_record record;
};

struct quellind_reply {
    uint32_t version; /* QUELLIND_WIRE_VERSION */
    uint32_t status;  /* enum quellind_status */
    struct quellind_record record;
};

#ifdef __cplusplus
#define QUELLIND_STATIC_ASSERT(what, why) static_assert(what, why)
#else
#define QUELLIND_STATIC_ASSERT(what, why) _Static_assert(what, why)
#endif
QUELLIND_STATIC_ASSERT(sizeof(struct quellind_record) == QUELLIND_RECORD_SIZE,
                       "the record is the plug-in's 624 bytes");
QUELLIND_STATIC_ASSERT(offsetof(struct quellind_record, data) == 48, "data text at 48");
QUELLIND_STATIC_ASSERT(offsetof(struct quellind_record, address) == 560, "address text at 560");
QUELLIND_STATIC_ASSERT(sizeof(struct quellind_request) == 8 + QUELLIND_RECORD_SIZE,
                       "no padding in a request");
QUELLIND_STATIC_ASSERT(sizeof(struct quellind_reply) == 8 + QUELLIND_RECORD_SIZE,
                       "no padding in a reply");
#undef QUELLIND_STATIC_ASSERT

#endif
