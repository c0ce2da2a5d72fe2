/* gpio.cpp - stand-in for the GPIO library: line values kept in state files. */
#include "gpio.h"

#include <stdio.h>

#include "camsim.h"

/* Lines are kept in memory when no state directory is given. */
static int gpio_mem[256];

ExtGpio extGpio = {{0, 0, 0, 0}, 13, {0}};

int gpio_read(unsigned int id)
{
    camsim_trace("gpio_read %u", id);
    if (camsim_active()) {
        char name[32];
        snprintf(name, sizeof name, "gpio/%u", id);
        return (int)camsim_state_long(name, 0);
    }
    return id < sizeof gpio_mem / sizeof gpio_mem[0] ? gpio_mem[id] : 0;
}

int gpio_write(unsigned int id, int value)
{
    camsim_trace("gpio_write %u %d", id, value);
    if (camsim_active()) {
        char name[32], text[32];
        snprintf(name, sizeof name, "gpio/%u", id);
        int n = snprintf(text, sizeof text, "%d\n", value);
        return camsim_state_write(name, text, (size_t)n) == 0 ? 0 : -1;
    }
    if (id < sizeof gpio_mem / sizeof gpio_mem[0])
        gpio_mem[id] = value;
    return 0;
}

int gpio_close(void)
{
    camsim_trace("gpio_close");
    return 0;
}
