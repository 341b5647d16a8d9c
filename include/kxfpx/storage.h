/* Compound File (structured storage) reader and writer over QorFile: the
 * root storage, sub-storages and streams open by name and read, seek and
 * write like files. */
#ifndef KXFPX_STORAGE_H
#define KXFPX_STORAGE_H

#include "records.h"

KX_BEGIN_DECLS

KX_API extern const uint8_t SIGNATURE[8];
KX_API extern const uint8_t ROOT_CLASSID[16];
KX_API extern const uint8_t STORAGE_CLASSID[16];

/* Reader. */
KX_API QorFile qorOpenStorage_ex(QorFile file, const char *name, uint32_t fatSectorLimit);
KX_API QorFile qorOpenStorage(QorFile file, const char *name);
KX_API QorFile qorOpenStream(QorFile storage, const char *name);
KX_API int32_t qorCloseStream(QorFile stream);
KX_API int32_t qorCloseStorage(QorFile storage);
KX_API uint32_t qorGetSect(uint32_t start, uint32_t offset, uint32_t sectorSize,
                           const uint32_t *table, uint32_t limit);
KX_API uint32_t qorGetEndSect(uint32_t start, const uint32_t *table);

/* The stream layer behind the compound-stream callback; each takes the
 * inner stream record. */
KX_API int32_t docRead(QorFile inner, void *buffer, int32_t count);
KX_API int32_t docSeek(QorFile inner, int32_t offset, int32_t whence);
KX_API int32_t docWrite(QorFile inner, const void *data, int32_t count);
KX_API int32_t docClose(QorFile inner);

/* Writer. */
KX_API QorFile qorCreateStorage(QorFile outFile, QorFile parent, const char *name);
KX_API QorFile qorCreateStream(QorFile storage, const char *name);
KX_API int32_t qorDocWriteToFAT(QorFile inner);
KX_API int32_t qorDocWriteToMiniFAT(QorFile inner);

KX_END_DECLS

#endif
