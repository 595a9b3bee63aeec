/* The module's configuration directives. */

#include "mod_quellin.h"

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

conftable quellin_conftab[] = {{"QuellinEngine", set_quellin_flag, NULL},
                               {"QuellinLibrary", set_quellin_path, NULL},
                               {"QuellinSettings", set_quellin_path, NULL},
                               {"QuellinSocket", set_quellin_path, NULL},
                               {"QuellinUser", set_quellin_text, NULL},
                               {"QuellinGroup", set_quellin_text, NULL},
                               {"QuellinMinuteLength", set_quellin_seconds, NULL},
                               {NULL}};
