/* A client-check library that shows the stand-in what it was asked. Built
 * twice: as the first library (PROBE_FIRST) and as a second one, to show
 * the order in which libraries are asked. */
#include <ctype.h>
#include <stdio.h>
#include <string.h>

typedef struct {
    int code;
    int flag;
    char user[40];
    char data[512];
    char address[64];
} Record;

_Static_assert(sizeof(Record) == 624, "record size");

#ifdef PROBE_FIRST
static size_t bounded(const char* text, size_t size) {
    const char* end = memchr(text, '\0', size);
    return end ? (size_t)(end - text) : size;
}
#endif

int HandleClientEvent(Record* r) {
#ifdef PROBE_FIRST
    switch (r->code) {
        case 1: { /* echo every field back into the data text */
            char out[512];
            snprintf(out, sizeof out, "%d|%d|%.*s|%.*s|%.*s", r->code, r->flag,
                     (int)bounded(r->user, sizeof r->user), r->user,
                     (int)bounded(r->data, sizeof r->data), r->data,
                     (int)bounded(r->address, sizeof r->address), r->address);
            memcpy(r->data, out, sizeof out);
            r->flag = 7;
            return 1;
        }
        case 2: /* lower-case the user name in place */
            for (size_t i = 0; i < bounded(r->user, sizeof r->user); ++i)
                r->user[i] = (char)tolower((unsigned char)r->user[i]);
            r->flag = 1;
            return 1;
        case 3: /* a data text without its NUL */
            memset(r->data, 'x', sizeof r->data);
            r->flag = 1;
            return 1;
        case 13: /* a switch: byte value 1 */
            r->data[0] = 1;
            r->flag = 1;
            return 1;
        default:
            return 0; /* left to the next library */
    }
#else
    if (r->code == 4 || r->code == 1) {
        strcpy(r->data, "second");
        r->flag = 1;
        return 1;
    }
    return 0;
#endif
}
