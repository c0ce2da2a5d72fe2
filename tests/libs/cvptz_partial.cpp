/* cvptz_partial.cpp - a PTZ library that lacks pt_tty_deinit, as an older
 * build of it might: the black-box tests lay it over the stand-in. The tool
 * looks every call up before its module runs, so none of these is called. */
#include "cvptz.h"

int pt_set_speed(int, int) { return 0; }
int pt_run(int) { return 0; }
int pt_set_preset(int) { return 0; }
int pt_remove_preset(int) { return 0; }
int pt_go_preset(int) { return 0; }
