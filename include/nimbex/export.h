/* Symbol export for libnimbex. The module is built with hidden visibility:
 * only names declared with NIMBEX_API (or NIMBEX_EXPORT) are visible. */
#ifndef NIMBEX_EXPORT_H
#define NIMBEX_EXPORT_H

#define NIMBEX_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
#define NIMBEX_EXTERN_C extern "C"
#define NIMBEX_BEGIN_C extern "C" {
#define NIMBEX_END_C }
#else
#define NIMBEX_EXTERN_C
#define NIMBEX_BEGIN_C
#define NIMBEX_END_C
#endif

/* C linkage and default visibility: the form of every exported function. */
#define NIMBEX_API NIMBEX_EXTERN_C NIMBEX_EXPORT

#endif
