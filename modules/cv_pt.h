/* cv_pt.h - the parser and run shared by the pt and extdrv modules. The two
 * send the same drive-board requests and differ only in the values below. */
#ifndef CV_PT_H
#define CV_PT_H

#include "drive_shm.h"

typedef struct PtDriveModule {
    unsigned id;
    key_t key;                  /* segment the request is published to */
    const char *source;         /* file name shown in error lines */
    const char *module_help;    /* description of the "module" option */
    DriveRequest *request;      /* the module's own record, zero at start */
} PtDriveModule;

int pt_drive_run(const PtDriveModule *drive, int argc, char **argv);
void pt_drive_usage(const PtDriveModule *drive);

#endif
