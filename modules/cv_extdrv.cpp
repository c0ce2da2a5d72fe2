/* cv_extdrv.cpp - extdrv module: the pt module's requests, published to the
 * extdrv segment. Parser and run are the pt module's (cv_pt.cpp). */
#include "cv_pt.h"
#include "debug.h"

/* Its place in the module table, and the name its usage is printed under. */
static const uint8_t extdrv_module_id = 24;

static DriveRequest g_extdrv_request;
static const PtDriveModule extdrv_drive = {extdrv_module_id, EXTDRV_SHM_KEY, "cv_extdrv",
                                           "module name: extdrv", &g_extdrv_request};

static int extdrv_test_main(int argc, char **argv)
{
    return pt_drive_run(&extdrv_drive, argc, argv);
}

static void extdrv_usage(void)
{
    pt_drive_usage(&extdrv_drive);
}

static ModuleDesc g_extdrv_module = {"extdrv", extdrv_module_id, extdrv_test_main, extdrv_usage, nullptr};
DEBUG_MODULE(g_extdrv_module)
