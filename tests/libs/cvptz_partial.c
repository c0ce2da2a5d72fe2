/* cvptz_partial.c - a PTZ library that lacks pt_tty_deinit, as an older build
 * of it might: the black-box tests lay it over the stand-in. */
#include "cvptz.h"

int pt_set_speed(int speed1, int speed2)
{
    (void)speed1;
    (void)speed2;
    return 0;
}

int pt_run(int command)
{
    (void)command;
    return 0;
}

int pt_set_preset(int preset)
{
    (void)preset;
    return 0;
}

int pt_remove_preset(int preset)
{
    (void)preset;
    return 0;
}

int pt_go_preset(int preset)
{
    (void)preset;
    return 0;
}
