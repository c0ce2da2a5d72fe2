/* platform_libs.h - the platform libraries the tool opens itself when a module
 * needs one (PTZ, Wi-Fi, database and the system library), instead of having
 * the program loader map them at every start. Their calls keep the names and
 * declarations of cvptz.h, cvwifi.h, cvdb.h and cvsys.h. */
#ifndef PLATFORM_LIBS_H
#define PLATFORM_LIBS_H

/* Opens the libraries that the named module calls into, before it runs. When
 * one cannot be opened or lacks a call, prints the error line naming the
 * library and the loader's reason, and ends the process with status 255. */
void platform_libs_open_for_module(const char *module);

#endif
