/* drive_shm.h - the request records handed to the resident drive-board and
 * light-sensor services through System V shared memory, and the one way
 * they are handed over. The services are separate programs that attach the
 * same segments, so the keys, sizes and byte layouts below are a contract
 * with them and must not change. */
#ifndef DRIVE_SHM_H
#define DRIVE_SHM_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/types.h>

/* Fixed keys agreed with the services (no key file, no ftok). */
#define PT_SHM_KEY ((key_t)7765432)
#define EXTDRV_SHM_KEY ((key_t)7765433)
#define LIGHT_SENSOR_SHM_KEY ((key_t)7665432)

/* Created if missing, readable and writable by every user; never exclusive,
 * since whichever side comes first creates the segment. */
#define DRIVE_SHM_FLAGS (IPC_CREAT | 0666)

/* 52 bytes: thirteen native-order 32-bit words, no padding. */
typedef struct DriveRequest {
    int32_t valid;    /* 1: the record carries a new request */
    int32_t reserved; /* always 0 */
    int32_t cmd;      /* 100 to 123; 0 when no request */
    int32_t param1;
    int32_t param2;
    int32_t param3;
    int32_t param4;
    int32_t param5;
    int32_t spare[5]; /* always 0 */
} DriveRequest;

/* 48 bytes: twelve native-order 32-bit words, no padding. */
typedef struct LightSensorRequest {
    int32_t valid;  /* 1: the record carries a new request */
    int32_t subcmd; /* 0 night threshold, 1 night and day, 2 sensitivity,
                       3 debug switch, 4 information */
    int32_t value;  /* night threshold, sensitivity or debug switch */
    int32_t value2; /* day threshold */
    int32_t spare[8]; /* always 0 */
} LightSensorRequest;

static_assert(sizeof(DriveRequest) == 52, "DriveRequest is 52 bytes");
static_assert(offsetof(DriveRequest, valid) == 0, "DriveRequest.valid at 0");
static_assert(offsetof(DriveRequest, reserved) == 4, "DriveRequest.reserved at 4");
static_assert(offsetof(DriveRequest, cmd) == 8, "DriveRequest.cmd at 8");
static_assert(offsetof(DriveRequest, param1) == 12, "DriveRequest.param1 at 12");
static_assert(offsetof(DriveRequest, param2) == 16, "DriveRequest.param2 at 16");
static_assert(offsetof(DriveRequest, param3) == 20, "DriveRequest.param3 at 20");
static_assert(offsetof(DriveRequest, param4) == 24, "DriveRequest.param4 at 24");
static_assert(offsetof(DriveRequest, param5) == 28, "DriveRequest.param5 at 28");
static_assert(offsetof(DriveRequest, spare) == 32, "DriveRequest.spare at 32");

static_assert(sizeof(LightSensorRequest) == 48, "LightSensorRequest is 48 bytes");
static_assert(offsetof(LightSensorRequest, valid) == 0, "LightSensorRequest.valid at 0");
static_assert(offsetof(LightSensorRequest, subcmd) == 4, "LightSensorRequest.subcmd at 4");
static_assert(offsetof(LightSensorRequest, value) == 8, "LightSensorRequest.value at 8");
static_assert(offsetof(LightSensorRequest, value2) == 12, "LightSensorRequest.value2 at 12");
static_assert(offsetof(LightSensorRequest, spare) == 16, "LightSensorRequest.spare at 16");

/* Writes a record of `count` 32-bit words, the first its `valid` flag, so
 * that a service that takes a record when it sees `valid` 1 never takes a
 * half-written one: `valid` is cleared first, the rest written, and the
 * record's own `valid` stored last, each step behind a barrier. Every word
 * is stored whole. store(index, value) writes one word of the segment. */
template <typename Store>
static inline void shm_write_words(Store store, const void *record, size_t count)
{
    auto word = [record](size_t i) {
        int32_t w;
        memcpy(&w, (const char *)record + i * sizeof w, sizeof w);
        return w;
    };
    store(0, 0);
    __atomic_thread_fence(__ATOMIC_RELEASE);
    for (size_t i = 1; i < count; i++)
        store(i, word(i));
    __atomic_thread_fence(__ATOMIC_RELEASE);
    store(0, word(0));
}

/* Writes the whole record (size a multiple of 4 bytes) over the start of
 * the segment with this key. There is no handshake with the service: a
 * request it has not taken yet is replaced. The segment is never read and
 * never removed. */
static inline int shm_publish(key_t key, size_t size, const void *record)
{
    int id = shmget(key, size, DRIVE_SHM_FLAGS);
    if (id < 0) {
        printf("faild to get shm id==%d\n", id);
        return -1;
    }
    void *addr = shmat(id, nullptr, 0);
    if (addr == (void *)-1)
        return -1;
    int32_t *segment = (int32_t *)addr;
    auto store = [segment](size_t i, int32_t v) {
        __atomic_store_n(&segment[i], v, __ATOMIC_RELAXED);
    };
    shm_write_words(store, record, size / sizeof(int32_t));
    if (shmdt(addr) != 0) {
        perror("detach error");
        return -1;
    }
    return 0;
}

#endif
