/* camsim.h - shared plumbing of the simulated camera's platform libraries:
 * the call trace and the device state files under $CAMSIM_DIR. */
#ifndef CAMSIM_H
#define CAMSIM_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Appends one formatted line to $CAMSIM_DIR/calls.log in a single write.
 * Does nothing when CAMSIM_DIR is not set. */
void camsim_trace(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

/* Reads the decimal number in state file name; def when the file is missing,
 * unreadable or CAMSIM_DIR is not set. */
long camsim_state_long(const char *name, long def);

/* Reads state file name as text (without a trailing line end) into buf.
 * Returns 0, or -1 when there is no such file. */
int camsim_state_text(const char *name, char *buf, size_t size);

/* Replaces state file name with the given bytes. Returns 0 or -1 (also
 * when CAMSIM_DIR is not set). */
int camsim_state_write(const char *name, const void *data, size_t len);

/* 1 when CAMSIM_DIR is set, so state lives in files rather than in memory. */
int camsim_active(void);

#ifdef __cplusplus
}
#endif

#endif
