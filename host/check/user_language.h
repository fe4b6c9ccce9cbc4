// The user's language as a plug-in's string lookups see it, set for the
// checks that compare the catalogue in English and German.
#pragma once

namespace udmhost {

// Sets the three variables of a POSIX locale (nullptr unsets one). On
// Windows the first non-empty of them picks the thread's user interface
// language instead: German (1031) for "de...", otherwise English (1033).
void setUserLanguage(const char* all, const char* messages, const char* lang);

}  // namespace udmhost
