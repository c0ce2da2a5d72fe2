/* module.cpp - the module table: filled before main by the modules'
 * constructors, kept sorted by id, searched by name. */
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "debug.h"
#include "platform_libs.h"

ModuleDesc g_module_table[MODULE_TABLE_SLOTS] = {};
int g_module_count;

ModuleDesc *find_module(const char *name)
{
    if (!name)
        return nullptr;
    for (int i = 0; i < MODULE_TABLE_SLOTS; i++) {
        const char *slot = g_module_table[i].name;
        if (slot && *slot && strcasecmp(slot, name) == 0)
            return &g_module_table[i];
    }
    return nullptr;
}

void register_module(const ModuleDesc *desc)
{
    if (!desc || !desc->name)
        return;
    if (find_module(desc->name))
        return;
    if (g_module_count >= MODULE_TABLE_SLOTS)
        return;
    int pos = g_module_count;
    for (int i = 0; i < g_module_count; i++) {
        if (g_module_table[i].id > desc->id) {
            pos = i;
            break;
        }
    }
    for (int i = g_module_count; i > pos; i--)
        g_module_table[i] = g_module_table[i - 1];
    g_module_table[pos] = *desc;
    g_module_count++;
}

void unregister_module(const ModuleDesc *desc)
{
    if (!desc || !desc->name)
        return;
    ModuleDesc *slot = find_module(desc->name);
    if (!slot)
        return;
    *slot = ModuleDesc{};
    g_module_count--;
}

static ModuleDesc *find_module_exact(const char *name)
{
    for (int i = 0; i < g_module_count; i++) {
        if (g_module_table[i].name && strcmp(g_module_table[i].name, name) == 0)
            return &g_module_table[i];
    }
    return nullptr;
}

int run_module(const char *name, int argc, char **argv)
{
    ModuleDesc *m = find_module_exact(name);
    if (m && m->run)
        m->run(argc, argv);
    return 0;
}

int find_module_calls(const ModuleCall *calls, int option)
{
    for (const ModuleCall *call = calls; call && call->name; call++) {
        if (call->option == option && platform_call_open(call->name) != 0)
            return -1;
    }
    return 0;
}

int open_module_calls(const ModuleCall *calls, int option)
{
    /* The library's error line tells why the module did not run. */
    if (find_module_calls(calls, option) != 0)
        exit(PLATFORM_LOAD_FAILED);
    return 0;
}

int show_module_help(const char *name)
{
    ModuleDesc *m = find_module_exact(name);
    if (m && m->usage)
        m->usage();
    return 0;
}

void deinit_all_modules(void)
{
    for (int i = 0; i < g_module_count; i++) {
        if (g_module_table[i].name && g_module_table[i].deinit)
            g_module_table[i].deinit();
    }
}
