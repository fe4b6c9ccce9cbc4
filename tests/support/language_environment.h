// Sets the user's language for the duration of a test, restoring the
// variables that decide it afterwards.
#pragma once

#include <stdlib.h>

#include <array>
#include <optional>
#include <string>

namespace udmtest {

class LanguageEnvironment {
public:
    LanguageEnvironment() {
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            const char* value = getenv(kNames[i]);
            if (value != nullptr) saved_[i] = value;
            unsetenv(kNames[i]);
        }
    }
    ~LanguageEnvironment() {
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            if (saved_[i]) setenv(kNames[i], saved_[i]->c_str(), 1);
            else unsetenv(kNames[i]);
        }
    }
    LanguageEnvironment(const LanguageEnvironment&) = delete;
    LanguageEnvironment& operator=(const LanguageEnvironment&) = delete;

    // Only LANG set, to `locale`.
    void use(const char* locale) const {
        unsetenv("LC_ALL");
        unsetenv("LC_MESSAGES");
        setenv("LANG", locale, 1);
    }
    void set(const char* name, const char* value) const { setenv(name, value, 1); }

private:
    static constexpr std::array<const char*, 3> kNames = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::array<std::optional<std::string>, 3> saved_;
};

}  // namespace udmtest
