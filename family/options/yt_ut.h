/* libyt_ut.so: the family's option library (stand-in), plain C on libc.
 *
 * Options are numbered byte values of any size. There are two tables: the
 * global options, and one option set that a host may fill. The library
 * starts with no options set and no option set.
 *
 * Readers (what the filter calls):
 *
 *   int32_t HostGetGlobalOption(option, value, size)
 *       Copies global option `option` into `value`, a buffer of `size`
 *       bytes; bytes of the buffer past the stored value are set to zero,
 *       so a 4-byte value read into an 8-byte buffer reads back cleanly.
 *       Returns YT_OK (0), or YT_NOT_SET when the option is not set,
 *       YT_TOO_SMALL when the value is longer than `size` (nothing is
 *       written), YT_BAD_ARGUMENT for a null buffer.
 *
 *   void *HostGetGlobalOptionSet(void)
 *       The host's option set, or null while no option of the set is
 *       stored. The pointer is only meaningful to HostGetOption.
 *
 *   int32_t HostGetOption(set, option, value, size)
 *       Copies option `option` of `set` into `value`; `*size` is the buffer
 *       size on entry and the value's size on success. When the buffer is
 *       too small nothing is written, `*size` receives the size needed and
 *       YT_TOO_SMALL is returned. A set pointer that did not come from
 *       HostGetGlobalOptionSet gives YT_BAD_ARGUMENT.
 *
 * Setters (for hosts and tests):
 *
 *   int32_t HostSetGlobalOption(option, value, size)
 *   int32_t HostSetOption(option, value, size)
 *       Store a copy of `size` bytes at `value` as a global option, or as an
 *       option of the option set (which comes into being with its first
 *       option). A null `value` removes the option; removing the last option
 *       of the set makes HostGetGlobalOptionSet answer null again. Returns
 *       YT_OK, YT_FULL when YT_MAX_OPTIONS options are already stored in
 *       that table, YT_NO_MEMORY when the copy cannot be made.
 *
 *   int32_t HostSetFileHook(hook)
 *       Installs `hook` (a function pointer, or null to remove it) as global
 *       option 67, stored as an 8-byte value.
 *
 *   int32_t HostSetTempDirectory(directory)
 *       Stores option 0x52A37 of the option set as a block of 8 zero bytes
 *       followed by the directory and its terminating NUL (null removes the
 *       option). The filter reads this option into a 264-byte block, so a
 *       directory of more than 255 characters makes it fall back to /tmp.
 *
 *   void HostClearOptions(void)
 *       Removes every global option and the whole option set.
 *
 * Well-known options:
 *   YT_OPTION_FILE_HOOK (global option 67): the host's file hook, a function
 *       called as hook(address for a stream object, path, mode) that answers
 *       0 when it made the object (see HostFileHook in kxfpx/qorfile.h).
 *   YT_OPTION_TEMP_DIR (option 0x52A37 of the set): a block whose text from
 *       byte 8 is the directory for temporary files.
 *
 * All calls may be made from any thread; a mutex guards the tables. */
#ifndef YT_UT_H
#define YT_UT_H
#include <stdint.h>
#ifdef __cplusplus
extern "C" {
#endif

#define YT_OPTION_FILE_HOOK 67
#define YT_OPTION_TEMP_DIR 0x52A37
/* Offset of the directory text inside the YT_OPTION_TEMP_DIR block. */
#define YT_TEMP_DIR_TEXT_OFFSET 8
/* How many options each table (global, set) holds at most. */
#define YT_MAX_OPTIONS 64

enum {
    YT_OK = 0,
    YT_NOT_SET = -1,
    YT_TOO_SMALL = -2,
    YT_BAD_ARGUMENT = -3,
    YT_FULL = -4,
    YT_NO_MEMORY = -5
};

int32_t HostGetGlobalOption(int32_t option, void *value, uint32_t size);
void *HostGetGlobalOptionSet(void);
int32_t HostGetOption(void *set, int32_t option, void *value, uint32_t *size);

int32_t HostSetGlobalOption(int32_t option, const void *value, uint32_t size);
int32_t HostSetOption(int32_t option, const void *value, uint32_t size);
int32_t HostSetFileHook(void (*hook)(void));
int32_t HostSetTempDirectory(const char *directory);
void HostClearOptions(void);

#ifdef __cplusplus
}
#endif
#endif
