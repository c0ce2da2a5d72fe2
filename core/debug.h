/* debug.h - the command framework as the modules see it: the module record
 * and table, the usage printer, the stop flag and the program's name. */
#ifndef DEBUG_H
#define DEBUG_H

#include <getopt.h>
#include <signal.h>
#include <stddef.h>
#include <stdint.h>

#include "osa.h"

/* ---- module table (module.cpp) ---- */

/* A platform library call a module makes (PTZ, Wi-Fi, database or system
 * library; the GPIO and PWM libraries are linked), by its declared name. A
 * call made only by one option's action names that option; 0 means that any
 * run may make it. A module's list ends with an entry without a name. */
typedef struct ModuleCall {
    const char *name;
    int option;
} ModuleCall;

typedef struct ModuleDesc {
    const char *name;
    uint8_t id;
    int (*run)(int argc, char **argv);
    void (*usage)(void);
    void (*deinit)(void);
    /* Opened and found before the module runs, so that a missing or broken
     * library stops it before it prints or changes anything. */
    const ModuleCall *calls = nullptr;
} ModuleDesc;

#define MODULE_TABLE_SLOTS 26

/* Constant-initialised: filled only by the modules' start-up constructors. */
extern ModuleDesc g_module_table[MODULE_TABLE_SLOTS];
extern int g_module_count;

void register_module(const ModuleDesc *desc);
void unregister_module(const ModuleDesc *desc);
ModuleDesc *find_module(const char *name);
int run_module(const char *name, int argc, char **argv);
/* Opens the calls of the list that the option's action makes (0: those any
 * run makes): 0, or -1 after the error line of the first that cannot be had. */
int find_module_calls(const ModuleCall *calls, int option);
/* The same for a run: one that cannot be had ends it with
 * PLATFORM_LOAD_FAILED after its error line; 0 otherwise. */
int open_module_calls(const ModuleCall *calls, int option);
int show_module_help(const char *name);
void deinit_all_modules(void);

/* Enters a module into the table before main and removes it after main:
 * DEBUG_MODULE(g_gpio_module) after the module's ModuleDesc. */
#define DEBUG_MODULE(desc)                                                    \
    __attribute__((constructor)) static void desc##_register(void)            \
    {                                                                         \
        register_module(&desc);                                               \
    }                                                                         \
    __attribute__((destructor)) static void desc##_unregister(void)           \
    {                                                                         \
        unregister_module(&desc);                                             \
    }

/* ---- usage printer (usage.cpp) ---- */

typedef struct OptionHelp {
    const char *hint;
    const char *description;
} OptionHelp;

void print_repeated(unsigned count, char c);
void print_module_usage(unsigned id, const struct option *options, const OptionHelp *help,
                        unsigned count);

/* The call the modules make: the row count is the option table's, less its
 * all-zero end entry, and the compiler checks that the help table has one
 * pair for each row. */
template <size_t Options, size_t Helps>
void print_module_usage(unsigned id, const struct option (&options)[Options],
                        const OptionHelp (&help)[Helps])
{
    static_assert(Helps + 1 == Options, "one help pair per option, and the option table's end");
    print_module_usage(id, options, help, Options - 1);
}

/* The row of a module's table of like options whose option field is c, or
 * nullptr: for parsers that look an option up instead of switching on it. */
template <typename Row, size_t Rows>
const Row *find_option_row(const Row (&table)[Rows], int c)
{
    for (const Row &row : table) {
        if (row.option == c)
            return &row;
    }
    return nullptr;
}

/* ---- entry, start-up and shutdown (test.cpp) ---- */

#define DEBUG_PROG_NAME "debug"
#define DEBUG_VERSION "1.2.0"

extern char g_prog_name[256];
extern char g_module_name[64];
extern char g_help_name[64];

/* Set by the signal handler and at shutdown; long loops test it between steps. */
extern volatile sig_atomic_t g_stop_flag;

int test_init(void);
int test_deinit(void);
int test_run(int argc, char **argv);
int scan_main_options(int argc, char **argv);
void print_program_usage(void);
void print_module_names(unsigned id);
void restore_default_databases(void);
void test_signal_handler(int signo);

#endif
