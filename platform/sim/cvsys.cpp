/* cvsys.cpp - stand-in for the stepper motor driver and system helpers. */
#include "cvsys.h"

#include <stdio.h>

#include "camsim.h"

/* Busy polls left, when no state directory is given: always idle. */
static long stepper_busy_mem;

int STEPPER_run(StepperParam *param)
{
    camsim_trace("STEPPER_run %u %u %llu", param->type, param->dir,
                 (unsigned long long)param->steps);
    return (int)camsim_state_long("stepper_run_result", 0);
}

int STEPPER_check_busy(int type)
{
    camsim_trace("STEPPER_check_busy %d", type);
    long left = camsim_active() ? camsim_state_long("stepper_busy", 0) : stepper_busy_mem;
    if (left <= 0)
        return 0;
    left--;
    if (camsim_active()) {
        char text[32];
        int n = snprintf(text, sizeof text, "%ld\n", left);
        camsim_state_write("stepper_busy", text, (size_t)n);
    } else {
        stepper_busy_mem = left;
    }
    return 1;
}

int STEPPER_set_piris_duty(int duty)
{
    camsim_trace("STEPPER_set_piris_duty %d", duty);
    return 0;
}

int STEPPER_close(void)
{
    camsim_trace("STEPPER_close");
    return 0;
}

int cv_free_system_caches(void)
{
    camsim_trace("cv_free_system_caches");
    return 0;
}
