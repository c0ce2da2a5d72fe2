/* cvsys.h - stepper motor driver and system helpers of the camera platform (libcvsys.so). */
#ifndef PLATFORM_CVSYS_H
#define PLATFORM_CVSYS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One motor move as the driver receives it. */
typedef struct StepperParam {
    uint32_t type;  /* 0 focus, 1 zoom, 2 P-iris */
    uint32_t dir;   /* 0 forward, 1 back */
    uint64_t steps; /* number of steps to run */
} StepperParam;

int STEPPER_run(StepperParam *param);
int STEPPER_check_busy(int type);
int STEPPER_set_piris_duty(int duty);
int STEPPER_close(void);

/* Drops the kernel's page, dentry and inode caches. */
int cv_free_system_caches(void);

#ifdef __cplusplus
}
#endif

#endif
