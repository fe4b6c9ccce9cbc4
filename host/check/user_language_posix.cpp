#include "check/user_language.h"

#include <cstdlib>

namespace udmhost {

void setUserLanguage(const char* all, const char* messages, const char* lang) {
    const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    const char* values[] = {all, messages, lang};
    for (int i = 0; i < 3; ++i) {
        if (values[i] == nullptr) unsetenv(names[i]);
        else setenv(names[i], values[i], 1);
    }
}

}  // namespace udmhost
