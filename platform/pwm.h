/* pwm.h - PWM library of the camera platform (libpwm.so). */
#ifndef PLATFORM_PWM_H
#define PLATFORM_PWM_H

#ifdef __cplusplus
extern "C" {
#endif

int pwm_read(int channel);
int pwm_write(int channel, int period, int duty);
int pwm_close(void);

#ifdef __cplusplus
}
#endif

#endif
