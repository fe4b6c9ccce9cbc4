/* Win32 services that plug-ins and hosts of this interface rely on.
 *
 * On Windows this header simply includes <windows.h>. Elsewhere it declares
 * the stand-ins exported by the udmplatform library, with the Win32 names,
 * signatures and meanings, so that the same sources build on both. */
#ifndef UDM_PLATFORM_H
#define UDM_PLATFORM_H

#ifdef _WIN32
#include <windows.h>
#else

#include <stddef.h>
#include <stdint.h>

#if defined(UDM_PLATFORM_BUILDING)
#define UDM_PLATFORM_API __attribute__((visibility("default")))
#else
#define UDM_PLATFORM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef void* HGLOBAL;   /* pointer-sized; its integer value is nonzero and below 2^32 */
typedef void* HINSTANCE; /* base address of a loaded module */
typedef HINSTANCE HMODULE;
typedef unsigned int UINT;

#define GMEM_FIXED 0x0000u
#define GMEM_MOVEABLE 0x0002u
#define GMEM_ZEROINIT 0x0040u
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)
#define GMEM_LOCKCOUNT 0x00FFu
#define GMEM_INVALID_HANDLE 0x8000u

/* Movable memory. Handles are generation-checked: a freed, stale or forged
 * handle never reaches memory it does not own. Lock and unlock are O(1). */
UDM_PLATFORM_API HGLOBAL GlobalAlloc(UINT flags, size_t bytes);
UDM_PLATFORM_API void* GlobalLock(HGLOBAL h);
UDM_PLATFORM_API int GlobalUnlock(HGLOBAL h);
UDM_PLATFORM_API HGLOBAL GlobalFree(HGLOBAL h);
UDM_PLATFORM_API UINT GlobalFlags(HGLOBAL h);
UDM_PLATFORM_API size_t GlobalSize(HGLOBAL h);

#ifdef __cplusplus
}
#endif

#endif /* _WIN32 */

#endif /* UDM_PLATFORM_H */
