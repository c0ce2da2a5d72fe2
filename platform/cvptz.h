/* cvptz.h - serial pan-tilt-zoom head library of the camera platform (libcvptz.so). */
#ifndef PLATFORM_CVPTZ_H
#define PLATFORM_CVPTZ_H

#ifdef __cplusplus
extern "C" {
#endif

int pt_set_speed(int speed1, int speed2);
int pt_run(int command);
int pt_set_preset(int preset);
int pt_remove_preset(int preset);
int pt_go_preset(int preset);
int pt_tty_deinit(int release);

#ifdef __cplusplus
}
#endif

#endif
