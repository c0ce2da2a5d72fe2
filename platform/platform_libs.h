/* platform_libs.h - the platform libraries the tool opens itself when a module
 * needs one (PTZ, Wi-Fi, database and the system library), instead of having
 * the program loader map them at every start. Their calls keep the names and
 * declarations of cvptz.h, cvwifi.h, cvdb.h and cvsys.h. */
#ifndef PLATFORM_LIBS_H
#define PLATFORM_LIBS_H

/* Opens the library that holds the named call, if it is not open yet, and
 * finds the call in it. 0; or -1 after the error line naming the library
 * and what is wrong: missing or refused by the loader, ending or holding up
 * a trial load (a file cut short, a damaged header, a FIFO), or lacking the
 * call. */
int platform_call_open(const char *name);

#endif
