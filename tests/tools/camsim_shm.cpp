// camsim_shm.cpp - looks at (or prepares) a System V shared-memory segment
// inside the simulated camera, for tests of the modules that publish to one.
//
//   camsim_shm KEY              prints "size mode: w0 w1 ..." with the
//                               segment's size, its permission bits in octal
//                               and its content as signed 32-bit words in
//                               native order; "none" and status 1 when no
//                               segment has the key
//   camsim_shm -c KEY SIZE BYTE creates the segment with SIZE bytes (mode
//                               0666) and fills it with BYTE
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>

static int shm_dump(key_t key)
{
    int id = shmget(key, 0, 0);
    if (id < 0) {
        printf("none\n");
        return 1;
    }
    struct shmid_ds ds;
    if (shmctl(id, IPC_STAT, &ds) != 0) {
        perror("shmctl");
        return 2;
    }
    void *addr = shmat(id, nullptr, SHM_RDONLY);
    if (addr == (void *)-1) {
        perror("shmat");
        return 2;
    }
    size_t size = ds.shm_segsz;
    printf("%zu %03o:", size, (unsigned)(ds.shm_perm.mode & 0777));
    for (size_t off = 0; off + 4 <= size; off += 4) {
        int32_t word;
        memcpy(&word, (const char *)addr + off, sizeof word);
        printf(" %d", word);
    }
    printf("\n");
    shmdt(addr);
    return 0;
}

static int shm_create(key_t key, size_t size, int byte)
{
    int id = shmget(key, size, IPC_CREAT | 0666);
    if (id < 0) {
        perror("shmget");
        return 2;
    }
    void *addr = shmat(id, nullptr, 0);
    if (addr == (void *)-1) {
        perror("shmat");
        return 2;
    }
    memset(addr, byte, size);
    shmdt(addr);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 2)
        return shm_dump((key_t)strtol(argv[1], nullptr, 0));
    if (argc == 5 && strcmp(argv[1], "-c") == 0)
        return shm_create((key_t)strtol(argv[2], nullptr, 0), strtoul(argv[3], nullptr, 0),
                          (int)strtol(argv[4], nullptr, 0));
    fprintf(stderr, "usage: camsim_shm KEY | camsim_shm -c KEY SIZE BYTE\n");
    return 2;
}
