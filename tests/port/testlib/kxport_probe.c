/* A probe for the relocation tests: loads a filter library in a clean
 * process (nothing of the build folder already loaded), lists every object
 * the loader brought in, then asks that filter's FindFilter for a name.
 * Usage: kxport_probe FILTER NAME SIZE
 * Prints "loaded PATH" per object and "find RESULT BUFFER"; exit status 2
 * when the filter cannot be loaded. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <link.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef int32_t (*find_filter_proc)(char *name, int16_t size);

static int print_object(struct dl_phdr_info *info, size_t size, void *data)
{
    (void)size;
    (void)data;
    if (info->dlpi_name && info->dlpi_name[0])
        printf("loaded %s\n", info->dlpi_name);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: kxport_probe FILTER NAME SIZE\n");
        return 1;
    }
    void *filter = dlopen(argv[1], RTLD_NOW);
    if (!filter) {
        printf("dlopen failed: %s\n", dlerror());
        return 2;
    }
    dl_iterate_phdr(print_object, NULL);

    /* The probe is a test tool, not the family's loader: it may look the
     * entry up in the dynamic symbol table. */
    find_filter_proc find = (find_filter_proc)dlsym(filter, "FindFilter");
    if (!find) {
        printf("no FindFilter\n");
        return 3;
    }
    char buffer[1100];
    memset(buffer, 0, sizeof buffer);
    strncpy(buffer, argv[2], sizeof buffer - 1);
    int size = atoi(argv[3]);
    if (size < 1 || size > (int)sizeof buffer)
        size = (int)sizeof buffer;
    int32_t found = find(buffer, (int16_t)size);
    printf("find %d %s\n", found, buffer);
    return 0;
}
