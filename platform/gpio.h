/* gpio.h - GPIO library of the camera platform (libgpio.so). */
#ifndef PLATFORM_GPIO_H
#define PLATFORM_GPIO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Board line assignments exported by the library. Only the IR-cut line is
 * used by this tool; its offset is fixed by the library's ABI. */
typedef struct ExtGpio {
    int32_t reserved[4];
    int32_t ircut; /* byte offset 16: the IR-cut filter line */
    int32_t spare[11];
} ExtGpio;

extern ExtGpio extGpio;

int gpio_read(unsigned int id);
int gpio_write(unsigned int id, int value);
int gpio_close(void);

#ifdef __cplusplus
}
#endif

#endif
