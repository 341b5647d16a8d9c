/* kxport_probe FILTER NAME SIZE: loads a filter in a clean process, prints "loaded PATH" for every object
 * loaded, then "find RESULT BUFFER" from the filter's FindFilter. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <link.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int print_object(struct dl_phdr_info *info, size_t size, void *data)
{
    (void)size, (void)data;
    if (info->dlpi_name && info->dlpi_name[0])
        printf("loaded %s\n", info->dlpi_name);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc != 4)
        return 1;
    void *filter = dlopen(argv[1], RTLD_NOW);
    if (!filter) {
        printf("dlopen failed: %s\n", dlerror());
        return 2;
    }
    dl_iterate_phdr(print_object, NULL);
    int32_t (*find)(char *, int16_t) = (int32_t(*)(char *, int16_t))dlsym(filter, "FindFilter");
    if (!find)
        return 3;
    char buffer[1100] = {0};
    strncpy(buffer, argv[2], sizeof buffer - 1);
    int size = atoi(argv[3]);
    if (size < 1 || size > (int)sizeof buffer)
        size = (int)sizeof buffer;
    printf("find %d %s\n", find(buffer, (int16_t)size), buffer);
    return 0;
}
