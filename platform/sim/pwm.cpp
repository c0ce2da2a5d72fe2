/* pwm.cpp - stand-in for the PWM library. */
#include "pwm.h"

#include <stdio.h>

#include "camsim.h"

struct PwmChannel {
    int period;
    int duty;
};

static PwmChannel pwm_mem[16];

static PwmChannel *pwm_channel(int channel)
{
    return (channel >= 0 && channel < 16) ? &pwm_mem[channel] : nullptr;
}

int pwm_read(int channel)
{
    camsim_trace("pwm_read %d", channel);
    PwmChannel *ch = pwm_channel(channel);
    if (!ch) {
        printf("pwm%d: no such channel\n", channel);
        return -1;
    }
    printf("pwm%d: period %d, duty %d\n", channel, ch->period, ch->duty);
    return 0;
}

int pwm_write(int channel, int period, int duty)
{
    camsim_trace("pwm_write %d %d %d", channel, period, duty);
    PwmChannel *ch = pwm_channel(channel);
    if (!ch)
        return -1;
    ch->period = period;
    ch->duty = duty;
    return 0;
}

int pwm_close(void)
{
    camsim_trace("pwm_close");
    return 0;
}
