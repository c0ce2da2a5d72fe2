/* cvptz.cpp - stand-in for the serial pan-tilt-zoom head library. */
#include "cvptz.h"

#include "camsim.h"

int pt_set_speed(int speed1, int speed2)
{
    camsim_trace("pt_set_speed %d %d", speed1, speed2);
    return 0;
}

int pt_run(int command)
{
    camsim_trace("pt_run %d", command);
    return 0;
}

int pt_set_preset(int preset)
{
    camsim_trace("pt_set_preset %d", preset);
    return 0;
}

int pt_remove_preset(int preset)
{
    camsim_trace("pt_remove_preset %d", preset);
    return 0;
}

int pt_go_preset(int preset)
{
    camsim_trace("pt_go_preset %d", preset);
    return 0;
}

int pt_tty_deinit(int release)
{
    camsim_trace("pt_tty_deinit %d", release);
    return 0;
}
