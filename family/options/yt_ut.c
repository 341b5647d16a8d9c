/* libyt_ut.so: the family's option library, a stand-in that keeps options
 * in two small tables in memory: the global options and one option set.
 * The option set "exists" as soon as any option was stored in it. */
#include "yt_ut.h"
#include <stdlib.h>
#include <string.h>

enum { YT_MAX_OPTIONS = 32 };

struct yt_option {
    int32_t number;
    uint32_t size;
    unsigned char *value;
};

struct yt_table {
    struct yt_option items[YT_MAX_OPTIONS];
    int count;
};

static struct yt_table global_options;
static struct yt_table option_set;

static struct yt_option *find(struct yt_table *t, int32_t number)
{
    for (int i = 0; i < t->count; i++)
        if (t->items[i].number == number)
            return &t->items[i];
    return NULL;
}

static void remove_at(struct yt_table *t, struct yt_option *o)
{
    free(o->value);
    *o = t->items[--t->count];
}

static int32_t store(struct yt_table *t, int32_t number, const void *value, uint32_t size)
{
    struct yt_option *o = find(t, number);
    if (!value) {
        if (o)
            remove_at(t, o);
        return 0;
    }
    unsigned char *copy = malloc(size ? size : 1);
    if (!copy)
        return -1;
    memcpy(copy, value, size);
    if (!o) {
        if (t->count == YT_MAX_OPTIONS) {
            free(copy);
            return -1;
        }
        o = &t->items[t->count++];
        o->number = number;
    } else {
        free(o->value);
    }
    o->value = copy;
    o->size = size;
    return 0;
}

int32_t HostGetGlobalOption(int32_t option, void *value, uint32_t size)
{
    struct yt_option *o = find(&global_options, option);
    if (!o || !value || size < o->size)
        return -1;
    memcpy(value, o->value, o->size);
    return 0;
}

void *HostGetGlobalOptionSet(void)
{
    return option_set.count ? &option_set : NULL;
}

int32_t HostGetOption(void *set, int32_t option, void *value, uint32_t *size)
{
    if (!set || !value || !size)
        return -1;
    struct yt_option *o = find((struct yt_table *)set, option);
    if (!o || *size < o->size)
        return -1;
    memcpy(value, o->value, o->size);
    *size = o->size;
    return 0;
}

int32_t HostSetGlobalOption(int32_t option, const void *value, uint32_t size)
{
    return store(&global_options, option, value, size);
}

int32_t HostSetOption(int32_t option, const void *value, uint32_t size)
{
    return store(&option_set, option, value, size);
}

void HostClearOptions(void)
{
    while (global_options.count)
        remove_at(&global_options, &global_options.items[0]);
    while (option_set.count)
        remove_at(&option_set, &option_set.items[0]);
}
