/* cvsys_partial.cpp - a system library without cv_free_system_caches, as a
 * camera model's might be: the black-box tests lay it over the stand-in.
 * Only the SD card format makes that call. */
#include "cvsys.h"

int STEPPER_run(StepperParam *) { return 0; }
int STEPPER_check_busy(int) { return 0; }
int STEPPER_set_piris_duty(int) { return 0; }
int STEPPER_close(void) { return 0; }
