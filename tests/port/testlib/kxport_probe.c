/* kxport_probe FILTER NAME: loads a filter in a clean process, prints "loaded PATH" for every object
 * loaded, then "find RESULT BUFFER" from the filter's FindFilter. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <link.h>
#include <stdint.h>
#include <stdio.h>
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
    if (argc != 3)
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
    char buffer[260] = {0};
    strncpy(buffer, argv[2], sizeof buffer - 1);
    printf("find %d %s\n", find(buffer, (int16_t)sizeof buffer), buffer);
    return 0;
}
