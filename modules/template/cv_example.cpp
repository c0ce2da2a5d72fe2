/* cv_example.cpp - example module: the shape of a module, to copy as
 * modules/cv_<name>.cpp and rename throughout (the README's "Adding a
 * module" lists the other files). The build takes modules/cv_*.cpp, not
 * this directory, so the example is never registered; the tests compile it
 * to keep it in step with the framework. It prints a text a number of times. */
#include <stdlib.h>

#include "debug.h"

/* The module's state, with its built-in defaults. */
typedef struct ExampleSettings {
    const char *text;
    uint32_t times;
} ExampleSettings;

static ExampleSettings g_example_settings = {"example", 1};

/* Its place in the module table, and the name its usage is printed under:
 * an id no other module has, at most 24. */
static const uint8_t example_module_id = 21;

/* One help pair per option, in the same order: the compiler checks the
 * count. Every module takes the framework's -M NAME as its own first option. */
static const struct option example_options[] = {
    {"module", required_argument, nullptr, 'M'},
    {"text", required_argument, nullptr, 't'},
    {"count", required_argument, nullptr, 'c'},
    {nullptr, 0, nullptr, 0},
};
static const OptionHelp example_option_help[] = {
    {"module", "module name: example"},
    {"str", "text to print, default [example]"},
    {"digit", "times to print it, default 1"},
};

static void example_usage(void)
{
    print_module_usage(example_module_id, example_options, example_option_help);
}

/* Reads the options into the state. A bad option is reported at once and
 * ends the parsing with -1; what follows is the run operation's choice. */
static int example_init_param(int argc, char **argv)
{
    int c;
    optind = 0; /* the whole argument vector, from the start */
    while ((c = getopt_long(argc, argv, "M:t:c:", example_options, nullptr)) != -1) {
        switch (c) {
        case 'M':
            break;
        case 't':
            g_example_settings.text = optarg;
            break;
        case 'c':
            g_example_settings.times = (uint32_t)OSA_number(optarg);
            if (g_example_settings.times == 0) {
                report_error("Example count must > 0\n");
                return -1;
            }
            break;
        default: /* '?': unknown, or its argument is missing */
            report_error("Unknow option\n");
            return -1;
        }
    }
    return 0;
}

static int example_test_main(int argc, char **argv)
{
    if (example_init_param(argc, argv) != 0) {
        /* This module's outcome of a bad option: the usage, exit status 255. */
        example_usage();
        exit(-1);
    }
    /* A loop that may run long ends early once a signal sets the stop flag. */
    for (uint32_t i = 0; i < g_example_settings.times && !g_stop_flag; i++)
        OSA_printf("%s\n", g_example_settings.text);
    return 0;
}

/* The calls it makes into the PTZ, Wi-Fi, database or system library, by
 * name: none here. A module that makes some lists them, ended by an entry
 * without a name, and names the list last, for example
 *     static const ModuleCall example_calls[] = {{"pt_run", 0}, {nullptr, 0}};
 * A call that only one option's action makes names that option instead of 0. */
static ModuleDesc g_example_module = {"example", example_module_id, example_test_main,
                                      example_usage, nullptr, nullptr};
DEBUG_MODULE(g_example_module)
