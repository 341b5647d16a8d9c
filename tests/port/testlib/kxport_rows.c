/* A library of the family handing out its own export rows, "UnLoadOutput" (answer chosen by the test) and the
 * 260-byte "szDLLName" among them. Built again with KXPORT_BARE: no fltLoadPointers, so no names. */
#include <kxfpx/records.h>

#include <stddef.h>

#define KXPORT_EXPORT __attribute__((visibility("default")))

#ifndef KXPORT_BARE

static int32_t unload_answer;
static int32_t *unload_calls;
static SharedLib **unload_record;

static int32_t unload_output(SharedLib *lib)
{
    if (unload_calls)
        ++*unload_calls, *unload_record = lib;
    return unload_answer;
}

static void set_unload_answer(int32_t answer, int32_t *calls, SharedLib **record)
{
    unload_answer = answer, unload_calls = calls, unload_record = record;
}

static int32_t echo(int32_t value) { return value + 1; }
static int32_t echo_upper(int32_t value) { return value + 2; }
static int32_t second_twin(int32_t value) { return value + 3; }
static char dll_name[260];

static const FilterExportRow rows[] = {
    {NULL, 2000, (void *)&echo_upper}, /* a row without a name is never matched */
    {"Echo", 2001, (void *)&echo},
    {"ECHO", 2002, (void *)&echo_upper},
    {"Twin", 2003, (void *)&echo},
    {"Twin", 2004, (void *)&second_twin},
    {"SetUnloadAnswer", 2005, (void *)&set_unload_answer},
    {"szDLLName", 2006, dll_name},
    {"UnLoadOutput", 2007, (void *)&unload_output},
};

KXPORT_EXPORT void fltLoadPointers(SharedLib *lib)
{
    if (!lib)
        return;
    lib->rowCount = (int16_t)(sizeof rows / sizeof rows[0]);
    lib->rows = (FilterExportRow *)rows;
}

#else

/* In the dynamic symbol table only: the loader must not find it. */
KXPORT_EXPORT int32_t Echo(int32_t value) { return value + 1; }

#endif
