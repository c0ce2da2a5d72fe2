/* platform_libs.h - the platform libraries the tool opens itself when a module
 * needs one (PTZ, Wi-Fi, database and the system library), instead of having
 * the program loader map them at every start. Their calls keep the names and
 * declarations of cvptz.h, cvwifi.h, cvdb.h and cvsys.h. */
#ifndef PLATFORM_LIBS_H
#define PLATFORM_LIBS_H

/* The status of a run ended by a library that cannot be loaded: the
 * loader's own, so that a script tells it from an option error (255). */
enum { PLATFORM_LOAD_FAILED = 127 };

/* Opens the library that holds the named call, if it is not open yet, and
 * finds the call in it. 0; or -1 after the error line naming the library
 * and what is wrong: missing, refused by the loader, or lacking the call.
 * What ends the open itself (a fault, a stop request, a wait over 10 s, a
 * constructor's exit()) or an object it mapped found shorter than its
 * segments ends the tool after that line, with PLATFORM_LOAD_FAILED. */
int platform_call_open(const char *name);

#endif
