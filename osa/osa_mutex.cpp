/* osa_mutex.cpp - thin wrappers over process-private mutexes. */
#include "osa.h"

int OSA_mutexCreate(OSA_MutexHndl *mutex)
{
    pthread_mutexattr_t attr;
    int status = pthread_mutexattr_init(&attr);
    status |= pthread_mutex_init(mutex, &attr);
    if (status != 0)
        report_error("OSA_mutexCreate() = %d \r\n", status);
    pthread_mutexattr_destroy(&attr);
    return status;
}

int OSA_mutexTake(OSA_MutexHndl *mutex)
{
    return pthread_mutex_lock(mutex);
}

int OSA_mutexGive(OSA_MutexHndl *mutex)
{
    return pthread_mutex_unlock(mutex);
}

int OSA_mutexRemove(OSA_MutexHndl *mutex)
{
    pthread_mutex_destroy(mutex);
    return 0;
}
