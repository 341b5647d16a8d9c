/* Host status codes: the results of the entries and the codes sent to the
 * host's status procedure. The filter carries no message texts; the host
 * owns the wording of every code. */
#ifndef KXFPX_CODES_H
#define KXFPX_CODES_H

enum {
    KX_OK = 0,
    KX_CANNOT_OPEN = 7,            /* the input cannot be opened, or no setup  */
    KX_OUTPUT_WRITE_FAILED = 9,    /* output error 302 with second code 269    */
    KX_NO_DEVICE = 12,             /* no output device; output errors 21..26   */
    KX_OUTPUT_DEVICE = 13,         /* output errors 161..166                   */
    KX_MISSING_STRUCTURE = 14,     /* storage, stream or structure unreadable  */
    KX_OUTPUT_UNSUPPORTED = 15,    /* output error 303                         */
    KX_OUTPUT_RESOURCE = 19,       /* output errors 304, 305                   */
    KX_BAD_DATA = 21,              /* unsupported or out-of-range image data   */
    KX_OUTPUT_PARAMETER = 23,      /* output error 301                         */
    KX_OUTPUT_LIMIT = 25,          /* output error 168                         */
    KX_OUTPUT_ERROR = 26,          /* any other output error                   */
    KX_NO_MEMORY = 27,             /* out of memory, output library missing    */
    KX_CANCELLED = 61,             /* cancelled by the user; never reported    */
    KX_OUTPUT_STATE = 65,          /* output error 20                          */
    KX_NOT_FLASHPIX = -23,         /* not a FlashPix file                      */
    KX_BAD_HANDLE = -7,            /* xDestroySetup: handle does not lock      */
    KX_INFO_FIELD = 17921,         /* InfoPut: unknown id or record too small  */
    KX_INFO_VALUE = 17922          /* InfoPut: value outside its rule          */
};

/* Kinds of status-procedure calls. */
enum {
    KX_STATUS_PROGRESS = 0,
    KX_STATUS_MESSAGE = 1,
    KX_STATUS_QUESTION = 2,
    KX_STATUS_ERROR = 3
};

#endif
