/* Linkage of the filter's exported names: C linkage, default visibility.
 * Everything not marked KX_API stays hidden inside libkx_fpx2.so. */
#ifndef KXFPX_EXPORT_H
#define KXFPX_EXPORT_H

#define KX_API __attribute__((visibility("default")))

#ifdef __cplusplus
#define KX_BEGIN_DECLS extern "C" {
#define KX_END_DECLS }
#else
#define KX_BEGIN_DECLS
#define KX_END_DECLS
#endif

#endif
