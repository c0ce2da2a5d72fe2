/* osa.h - platform services under the framework and every module: console
 * lock and mutexes, millisecond clock and sleep, the error line, child
 * processes, System V semaphores with the guarded log, and the IPv4 check. */
#ifndef OSA_H
#define OSA_H

#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/types.h>

/* ---- mutexes, console lock, time (osa, osa_mutex) ---- */

typedef pthread_mutex_t OSA_MutexHndl;

/* Serialises everything printed to standard output. */
extern OSA_MutexHndl g_console_lock;

int OSA_init(void);
int OSA_shutdown(void);
int OSA_mutexCreate(OSA_MutexHndl *mutex);
int OSA_mutexTake(OSA_MutexHndl *mutex);
int OSA_mutexGive(OSA_MutexHndl *mutex);
int OSA_mutexRemove(OSA_MutexHndl *mutex);

/* One printf to standard output under the console lock. */
void OSA_printf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

/* Milliseconds of the monotonic clock, which setting the date does not
 * move: durations and waits are measured with it, never with the wall
 * clock, which only dated texts use. 0 when the clock cannot be read. */
uint64_t OSA_clockMsec(void);
/* The same modulo 2^32: a difference of two stamps read as signed 32 bits
 * is right for intervals up to about 24 days. */
uint32_t OSA_nowMsec(void);
/* Sleeps once; a signal ends the sleep early (result -1). */
int OSA_sleepMsec(uint32_t ms);

/* A number from the command line, as the modules that take base-prefixed
 * numbers read one: strtoul in base 0 (decimal, "0x" hexadecimal, leading-
 * zero octal), what follows the number ignored, a leading minus wrapping
 * round, text that is not a number reading as 0. Callers that keep 32 bits
 * narrow it themselves, after any check that must see the whole value. */
unsigned long OSA_number(const char *text);

/* The error line on standard error:
 * " ERROR  (file|function|line): " followed by the message. */
void report_error_at(const char *file, const char *func, int line, const char *fmt, ...)
    __attribute__((format(printf, 4, 5)));
/* The source file's own name, without directory or extension. */
const char *OSA_sourceName(const char *path);
#define report_error(...) report_error_at(OSA_sourceName(__FILE__), __func__, __LINE__, __VA_ARGS__)
/* report_error's head, " ERROR  (file|func|line): ", into buf, for a line
 * finished where stdio may not be used (a signal handler); snprintf's result. */
int report_error_head(char *buf, size_t size, const char *file, const char *func, int line);
#define REPORT_ERROR_HEAD(buf, size) report_error_head(buf, size, OSA_sourceName(__FILE__), __func__, __LINE__)

/* Writes all len bytes, going on after a short write or an interrupt.
 * 0, or -1 with errno (ENOSPC when the file took nothing more). */
int OSA_writeAll(int fd, const void *data, size_t len);

/* Syncs the directory dir itself, so that the names made or removed in it
 * reach the disk. 0, or -1 with errno. */
int OSA_syncDirectory(const char *dir);

/* Runs cmd with /bin/sh -c and waits for it; returns the status in the form
 * system() gives. Unlike system(), the caller keeps receiving SIGINT and
 * SIGQUIT while the child runs, so an interrupt sets the stop flag. */
int OSA_system(const char *cmd);
/* Runs a program with its arguments as they are, no shell between: names
 * read from the system's tables reach it whatever characters they hold.
 * quiet: its output goes to /dev/null. The wait status, or -1. */
int OSA_exec(const char *const argv[], int quiet);
/* Starts a program with its arguments as they are, its standard input the
 * read end of a pipe whose write end goes to *input (close-on-exec): the
 * caller decides byte by byte what reaches it, and when. The pid, or -1. */
pid_t OSA_spawnFed(const char *const argv[], int *input);
/* Waits for a child started by OSA_spawnFed: its wait status, or -1. */
int OSA_waitChild(pid_t pid);
/* popen/pclose with standard output flushed first. */
FILE *OSA_popen(const char *cmd, const char *mode);
int OSA_pclose(FILE *fp);

/* ---- System V semaphores and the guarded log (osa_log) ---- */

typedef struct OSA_SemSet {
    int32_t id;       /* from semget; negative when opening failed */
    uint32_t count;   /* semaphores in the set */
    uint32_t maximum; /* a post at or above this value does nothing */
} OSA_SemSet;

typedef struct OSA_LogFile {
    char path[128];
    int32_t fd;
    int32_t initialised;
    int32_t key;
    OSA_SemSet sem;
} OSA_LogFile;

extern OSA_LogFile g_osa_log;

int32_t OSA_ipcMakeKey(const char *path, uint8_t project);
int OSA_ipcSemOpen(OSA_SemSet *set, int32_t key, uint32_t count, uint32_t initial,
                   uint32_t maximum, int create);
int OSA_ipcSemWait(OSA_SemSet *set, uint32_t index, int wait);
/* Takes one unit, waiting at most ms; -1 with errno EAGAIN when the time ran
 * out, EINTR when a signal came first. */
int OSA_ipcSemWaitMsec(OSA_SemSet *set, uint32_t index, uint32_t ms);
int OSA_ipcSemPost(OSA_SemSet *set, uint32_t index, int wait);
int OSA_ipcSemValue(OSA_SemSet *set, uint32_t index);

/* How long a log writer waits for the lock before writing without it. */
#define OSA_LOG_LOCK_WAIT_MSEC 5000u

int OSA_logInit(void);
int OSA_log(const void *data, uint32_t length);
int OSA_logOpen(void);
int OSA_logClose(void);

/* ---- IPv4 check (osa_net) ---- */

extern "C" int CheckIPAddr(const char *text);

#endif
