/* SFTP: what differs when mod_sftp carries the session. */

#include "mod_quellin.h"

int quellin_is_sftp(void) {
    const char* protocol = pr_session_get_protocol(0);
    return protocol != NULL && (strcmp(protocol, "ssh2") == 0 || strcmp(protocol, "sftp") == 0 ||
                                strcmp(protocol, "scp") == 0);
}

/* The server is mod_sftp's: nothing may be written on the connection
 * before the SSH exchange. */
int quellin_sftp_server(void) {
    config_rec* c = find_config(main_server->conf, CONF_PARAM, "SFTPEngine", FALSE);
    return c != NULL && *((int*)c->argv[0]) == TRUE;
}
