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
 * handle never reaches memory it does not own. Lock and unlock are O(1) and
 * take no lock of their own; the lock count is exact for calls on one block
 * that do not overlap (the address is right in any case). */
UDM_PLATFORM_API HGLOBAL GlobalAlloc(UINT flags, size_t bytes);
UDM_PLATFORM_API void* GlobalLock(HGLOBAL h);
UDM_PLATFORM_API int GlobalUnlock(HGLOBAL h);
UDM_PLATFORM_API HGLOBAL GlobalFree(HGLOBAL h);
UDM_PLATFORM_API UINT GlobalFlags(HGLOBAL h);
UDM_PLATFORM_API size_t GlobalSize(HGLOBAL h);

/* String table of a loaded module (its handle is its load address; null is
 * the program): copies the entry `id` in the user's language, Windows-1252,
 * at most capacity - 1 bytes plus a terminating zero, and returns the number
 * of bytes copied. A missing entry or module yields 0 and an empty buffer.
 * The user's language is the first non-empty of LC_ALL, LC_MESSAGES, LANG:
 * German (1031) when it starts with "de", otherwise English (1033), which is
 * also taken when the entry is missing in the user's language. */
UDM_PLATFORM_API int LoadStringA(HINSTANCE module, UINT id, char* buffer, int capacity);

typedef struct UdmVersionInfo {
    uint16_t fileVersion[4];
    uint16_t productVersion[4];
    char comments[128];
} UdmVersionInfo;

/* Version record of a loaded module; comments in `language` (1033, 1031;
 * 0 = the user's language, as LoadStringA picks it), Windows-1252. Nonzero on
 * success, 0 when the module has no version record. */
UDM_PLATFORM_API int UdmGetVersionInfo(HMODULE module, UINT language, UdmVersionInfo* info);

#ifdef __cplusplus
}
#endif

#endif /* _WIN32 */

#endif /* UDM_PLATFORM_H */
