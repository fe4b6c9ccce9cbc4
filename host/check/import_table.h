// A loaded module's import address table (Windows): where the module keeps
// the address of a function it imports from a system library.
#pragma once

#ifdef _WIN32

#include <windows.h>

namespace udmhost {

// The slot of `module`'s import of `function` from `dll` (case-insensitive
// library name), or nullptr when it has no such import.
void* importSlot(HMODULE module, const char* dll, const char* function);

// Writes `value` into the slot (made writable for the moment) and returns
// what it held.
void* exchangeSlot(void* slot, void* value);

}  // namespace udmhost

#endif  // _WIN32
