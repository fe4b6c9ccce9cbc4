// LoadStringA picks the string table of the thread's language.
#include "check/user_language.h"

#include <windows.h>

#include <cstring>
#include <initializer_list>

namespace udmhost {

void setUserLanguage(const char* all, const char* messages, const char* lang) {
    const char* chosen = "";
    for (const char* value : {all, messages, lang})
        if (value != nullptr && *value != '\0') {
            chosen = value;
            break;
        }
    const LANGID language = std::strncmp(chosen, "de", 2) == 0 ? MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)
                                                                : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    SetThreadUILanguage(language);
    SetThreadLocale(MAKELCID(language, SORT_DEFAULT));
}

}  // namespace udmhost
