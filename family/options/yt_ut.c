/* libyt_ut.so: the family's option library (stand-in). Options live in two
 * small tables in memory, the global options and one option set, each a
 * fixed array of (number, size, heap copy of the value); see yt_ut.h for the
 * contract. One mutex guards both tables. */
#include "yt_ut.h"

#include <pthread.h>
#include <stdlib.h>
#include <string.h>

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
static pthread_mutex_t tables_lock = PTHREAD_MUTEX_INITIALIZER;

static struct yt_option *find(struct yt_table *t, int32_t number)
{
    for (int i = 0; i < t->count; i++)
        if (t->items[i].number == number)
            return &t->items[i];
    return NULL;
}

/* Removes an entry by moving the last one into its place. */
static void remove_at(struct yt_table *t, struct yt_option *o)
{
    free(o->value);
    *o = t->items[--t->count];
}

static void clear_table(struct yt_table *t)
{
    while (t->count)
        remove_at(t, &t->items[0]);
}

static int32_t store(struct yt_table *t, int32_t number, const void *value, uint32_t size)
{
    int32_t result = YT_OK;
    /* The copy is made outside the lock; a zero-size value still gets a
     * distinct one-byte allocation so that "set" and "not set" differ. */
    unsigned char *copy = NULL;
    if (value) {
        copy = malloc(size ? size : 1);
        if (!copy)
            return YT_NO_MEMORY;
        memcpy(copy, value, size);
    }

    pthread_mutex_lock(&tables_lock);
    struct yt_option *o = find(t, number);
    if (!value) {
        if (o)
            remove_at(t, o);
    } else if (o) {
        free(o->value);
        o->value = copy;
        o->size = size;
        copy = NULL;
    } else if (t->count == YT_MAX_OPTIONS) {
        result = YT_FULL;
    } else {
        o = &t->items[t->count++];
        o->number = number;
        o->value = copy;
        o->size = size;
        copy = NULL;
    }
    pthread_mutex_unlock(&tables_lock);
    free(copy);
    return result;
}

int32_t HostGetGlobalOption(int32_t option, void *value, uint32_t size)
{
    if (!value)
        return YT_BAD_ARGUMENT;
    int32_t result = YT_NOT_SET;
    pthread_mutex_lock(&tables_lock);
    const struct yt_option *o = find(&global_options, option);
    if (o) {
        if (o->size > size) {
            result = YT_TOO_SMALL;
        } else {
            memcpy(value, o->value, o->size);
            memset((unsigned char *)value + o->size, 0, size - o->size);
            result = YT_OK;
        }
    }
    pthread_mutex_unlock(&tables_lock);
    return result;
}

void *HostGetGlobalOptionSet(void)
{
    pthread_mutex_lock(&tables_lock);
    void *set = option_set.count ? &option_set : NULL;
    pthread_mutex_unlock(&tables_lock);
    return set;
}

int32_t HostGetOption(void *set, int32_t option, void *value, uint32_t *size)
{
    /* Only the one option set this library hands out is accepted, so a stray
     * pointer is refused instead of being read as a table. */
    if (set != (void *)&option_set || !value || !size)
        return YT_BAD_ARGUMENT;
    int32_t result = YT_NOT_SET;
    pthread_mutex_lock(&tables_lock);
    const struct yt_option *o = find(&option_set, option);
    if (o) {
        if (o->size > *size) {
            result = YT_TOO_SMALL;
        } else {
            memcpy(value, o->value, o->size);
            result = YT_OK;
        }
        *size = o->size;
    }
    pthread_mutex_unlock(&tables_lock);
    return result;
}

int32_t HostSetGlobalOption(int32_t option, const void *value, uint32_t size)
{
    return store(&global_options, option, value, size);
}

int32_t HostSetOption(int32_t option, const void *value, uint32_t size)
{
    return store(&option_set, option, value, size);
}

int32_t HostSetFileHook(void (*hook)(void))
{
    if (!hook)
        return store(&global_options, YT_OPTION_FILE_HOOK, NULL, 0);
    unsigned char bytes[sizeof hook];
    memcpy(bytes, &hook, sizeof hook);
    return store(&global_options, YT_OPTION_FILE_HOOK, bytes, sizeof bytes);
}

int32_t HostSetTempDirectory(const char *directory)
{
    if (!directory)
        return store(&option_set, YT_OPTION_TEMP_DIR, NULL, 0);
    size_t length = strlen(directory);
    if (length > UINT32_MAX - YT_TEMP_DIR_TEXT_OFFSET - 1)
        return YT_BAD_ARGUMENT;
    size_t size = YT_TEMP_DIR_TEXT_OFFSET + length + 1;
    unsigned char *block = calloc(1, size);
    if (!block)
        return YT_NO_MEMORY;
    memcpy(block + YT_TEMP_DIR_TEXT_OFFSET, directory, length + 1);
    int32_t result = store(&option_set, YT_OPTION_TEMP_DIR, block, (uint32_t)size);
    free(block);
    return result;
}

void HostClearOptions(void)
{
    pthread_mutex_lock(&tables_lock);
    clear_table(&global_options);
    clear_table(&option_set);
    pthread_mutex_unlock(&tables_lock);
}
