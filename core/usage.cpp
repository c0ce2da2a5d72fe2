/* usage.cpp - the option help every module prints, in one format. */
#include <ctype.h>

#include "debug.h"

void print_repeated(unsigned count, char c)
{
    for (unsigned i = 0; i < count; i++) {
        OSA_mutexTake(&g_console_lock);
        putchar(c);
        OSA_mutexGive(&g_console_lock);
    }
}

void print_module_usage(unsigned id, const struct option *options, const OptionHelp *help,
                        unsigned count)
{
    if (id > 24)
        return;
    const char *name = nullptr;
    for (int i = 0; i < MODULE_TABLE_SLOTS - 1; i++) {
        if (g_module_table[i].name && g_module_table[i].id == id) {
            name = g_module_table[i].name;
            break;
        }
    }
    /* A module always passes its own registered id; an unknown id has no
     * name to show. */
    if (!name)
        name = "?";
    print_repeated(80, '*');
    OSA_printf("\n%s usage:\n", name);
    OSA_printf("%s -M %s [option] \n", g_prog_name, name);
    for (unsigned row = 0; row < count; row++) {
        int val = options[row].val;
        if (val >= 0 && val < 256 && isalpha(val))
            OSA_printf("-%c  ", val);
        else
            OSA_printf("    ");
        OSA_printf("--%s", options[row].name);
        const char *hint = help[row].hint ? help[row].hint : "";
        const char *desc = help[row].description ? help[row].description : "";
        if (*hint) {
            OSA_printf(" [%s]", hint);
            OSA_printf("\t%s\n", desc);
        } else {
            OSA_printf("\t\t%s\n", desc);
        }
    }
    print_repeated(80, '*');
    OSA_printf("\n");
}
