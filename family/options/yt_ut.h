/* libyt_ut.so: the family's option library (stand-in).
 *
 * Readers (called by the filter):
 *   HostGetGlobalOption(option, value, size)  copies a global option's value
 *       into value (at most size bytes); 0 on success, -1 when the option is
 *       not set or the buffer is too small.
 *   HostGetGlobalOptionSet()  the host's option set, or null when none was
 *       installed.
 *   HostGetOption(set, option, value, size)  copies an option of the set into
 *       value; *size is the buffer size on entry and the value's size on exit;
 *       0 on success, -1 otherwise.
 *
 * Setters (for hosts and tests; the library starts with no options set):
 *   HostSetGlobalOption / HostSetOption store a copy of a value (null value
 *   removes the option); HostClearOptions removes everything.
 *
 * Well-known options: global option 67 (YT_OPTION_FILE_HOOK) holds the host's
 * file hook, a function pointer stored as 8 bytes; option 0x52A37
 * (YT_OPTION_TEMP_DIR) of the set holds a block whose text from byte 8 is the
 * temporary directory. */
#ifndef YT_UT_H
#define YT_UT_H
#include <stdint.h>
#ifdef __cplusplus
extern "C" {
#endif

#define YT_OPTION_FILE_HOOK 67
#define YT_OPTION_TEMP_DIR 0x52A37

int32_t HostGetGlobalOption(int32_t option, void *value, uint32_t size);
void *HostGetGlobalOptionSet(void);
int32_t HostGetOption(void *set, int32_t option, void *value, uint32_t *size);

int32_t HostSetGlobalOption(int32_t option, const void *value, uint32_t size);
int32_t HostSetOption(int32_t option, const void *value, uint32_t size);
void HostClearOptions(void);

#ifdef __cplusplus
}
#endif
#endif
