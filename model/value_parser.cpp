// One parameter entry into a value. Every bit of the result follows from the
// steps below (strtod, a range guard, then scaling by 1000 per three decades),
// so a parameter text means the same double on every build.
#include "value_parser.h"

#include "text_memory.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#ifndef _WIN32
#include <locale.h>
#endif

namespace vcswitch {
namespace {

ParsedValue g_lastParsed{};  // the library's single result record

// strtod in the "C" locale, whatever locale the host process runs under: a
// German LC_NUMERIC would otherwise read "4.7k" as 4 followed by ".7k". The
// text is the parser's own working copy.
#ifdef _WIN32
// The system's _strtod_l reads no hexadecimal numbers; the MinGW runtime's
// strtod reads the whole C syntax, but with the decimal point of the process's
// locale. For the call, the full stop and that decimal point trade places in
// the copy, and back afterwards. (A decimal point of more than one byte is
// left alone; no Western European locale has one.)
void swapDecimalPoint(char* text, char point) {
    if (point == '.') return;
    for (char* c = text; *c != '\0'; ++c) {
        if (*c == '.') *c = point;
        else if (*c == point) *c = '.';
    }
}

double strtodC(char* text, char** end) {
#ifdef UDM_BREAK_LOCALE  // fault: converts in the process's locale
    return __mingw_strtod(text, end);
#endif
    const std::lconv* numeric = std::localeconv();
    const char* point = numeric != nullptr ? numeric->decimal_point : nullptr;
    const char localePoint = point != nullptr && point[0] != '\0' && point[1] == '\0' ? point[0] : '.';
    swapDecimalPoint(text, localePoint);
    const double v = __mingw_strtod(text, end);
    swapDecimalPoint(text, localePoint);
    return v;
}
#else
double strtodC(char* text, char** end) {
#ifdef UDM_BREAK_LOCALE  // fault: converts in the process's locale
    return std::strtod(text, end);
#endif
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    if (cLocale == static_cast<locale_t>(nullptr)) return std::strtod(text, end);
    return strtod_l(text, end, cLocale);
}
#endif

// Exactly the six C white-space characters; no byte from 0x80 counts.
bool isTrailingBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Whole-text comparison ignoring the case of ASCII letters only, so the
// result does not depend on the host's locale.
bool equalsIgnoringAsciiCase(const char* text, const char* lowerWord) {
    for (; *text != '\0' && *lowerWord != '\0'; ++text, ++lowerWord) {
        if (foldAscii(*text) != *lowerWord) return false;
    }
    return *text == '\0' && *lowerWord == '\0';
}

// Where one parse delivers its results; a null place is not delivered.
struct OutputPlaces {
    int32_t* hasText;
    int32_t* isNumber;
    int32_t* isQuit;
    int32_t* isHelp;
    int32_t* isYes;
    int32_t* isNo;
    int32_t* intValue;
    float* floatValue;
    double* doubleValue;
};

template <typename T>
void deliver(T* place, T value) {
    if (place != nullptr) *place = value;
}

enum class Keyword { Quit, Help, Yes, No, On, Off };

struct KeywordRow {
    const char* word;
    Keyword meaning;
};

// Tested in this order; the first match wins.
constexpr KeywordRow kKeywords[] = {
    {"quit", Keyword::Quit}, {"q", Keyword::Quit},  {"help", Keyword::Help}, {"h", Keyword::Help},
    {"?", Keyword::Help},    {"ja", Keyword::Yes},  {"j", Keyword::Yes},     {"nein", Keyword::No},
    {"n", Keyword::No},      {"on", Keyword::On},   {"off", Keyword::Off},
};

void applyKeyword(const OutputPlaces& out, Keyword meaning) {
    switch (meaning) {
        case Keyword::Quit: deliver(out.isQuit, 1); break;
        case Keyword::Help: deliver(out.isHelp, 1); break;
        case Keyword::Yes: deliver(out.isYes, 1); break;
        case Keyword::No: deliver(out.isNo, 1); break;
        case Keyword::On:
            deliver(out.isYes, 1);
            deliver(out.isNumber, 1);
            deliver(out.intValue, 1);
            deliver(out.floatValue, 1.0f);
            deliver(out.doubleValue, 1.0);
            break;
        case Keyword::Off:
            deliver(out.isNo, 1);
            deliver(out.isNumber, 1);
            deliver(out.intValue, 0);
            deliver(out.floatValue, 0.0f);
            deliver(out.doubleValue, 0.0);
            break;
    }
}

void matchKeyword(const OutputPlaces& out, const char* word) {
    for (const KeywordRow& row : kKeywords) {
        if (equalsIgnoringAsciiCase(word, row.word)) {
            applyKeyword(out, row.meaning);
            return;
        }
    }
}

struct UnitRow {
    char letter;
    int decimalExponent;
};

// Tested in this order. "m" and "M" are both milli; there is no mega.
constexpr UnitRow kUnits[] = {
    {'f', -15}, {'p', -12}, {'n', -9}, {'u', -6}, {'m', -3}, {'k', 3}, {'g', 9}, {'t', 12},
};

// The decimal exponent of the text behind the number, or false when that
// text is anything but nothing or exactly one unit letter.
bool unitExponent(const char* remainder, int& k) {
    if (*remainder == '\0') {
        k = 0;
        return true;
    }
#ifdef UDM_BREAK_MEGA  // fault: an upper-case M reads as mega
    if (remainder[0] == 'M' && remainder[1] == '\0') {
        k = 6;
        return true;
    }
#endif
    for (const UnitRow& row : kUnits) {
        const char word[2] = {row.letter, '\0'};
        if (equalsIgnoringAsciiCase(remainder, word)) {
            k = row.decimalExponent;
            return true;
        }
    }
    return false;
}

// Bounds the sum of the frexp exponents of v and 10^k, so that scaling can
// neither overflow nor sink far into the subnormals. Without a unit the sum
// still counts 10^0 = 0.5 * 2^1: magnitudes from 2^1023 up are refused
// although finite, and 2^-1023 is the smallest that passes.
bool passesScaleGuard(double v, int k) {
    int e1 = 0;
    int e2 = 0;
    static_cast<void>(std::frexp(v, &e1));
    static_cast<void>(std::frexp(std::pow(10.0, k), &e2));
    const int sum = e1 + e2;
    return sum >= -1021 && sum <= 1024;
}

// Steps of 1000, each rounded on its own: the last bits of the value depend
// on it (1f is 9.999999999999997e-16, not 1e-15).
double scaleByThousands(double v, int k) {
    while (k != 0) {
        if (k > 0) {
            v *= 1000.0;
            k -= 3;
        } else {
            v /= 1000.0;
            k += 3;
        }
    }
    return v;
}

void deliverNumber(const OutputPlaces& out, double v) {
    deliver(out.doubleValue, v);

    constexpr double kFloatMin = static_cast<double>(std::numeric_limits<float>::min());
    constexpr double kFloatMax = static_cast<double>(std::numeric_limits<float>::max());
    if (v >= kFloatMin && v <= kFloatMax) deliver(out.floatValue, static_cast<float>(v));

    double whole = 0.0;
    if (v >= -2147483648.0 && v <= 2147483647.0 && std::modf(v, &whole) == 0.0) {
        deliver(out.intValue, static_cast<int32_t>(v));
    }

    deliver(out.isNumber, 1);
}

using WorkingCopy = std::unique_ptr<char, TextReleaser>;

// Trims, reads a number or a keyword, checks and scales, all on the caller's
// zero-terminated working copy, which may be shortened in place.
void parseWorkingCopy(const OutputPlaces& out, WorkingCopy& working) {
    char* const copy = working.get();
#ifdef UDM_BREAK_TRAILING_BLANKS  // fault: measures the text again for every blank it removes
    while (std::strlen(copy) > 0 && isTrailingBlank(copy[std::strlen(copy) - 1])) copy[std::strlen(copy) - 1] = '\0';
    const size_t length = std::strlen(copy);
#else
    size_t length = std::strlen(copy);
    while (length > 0 && isTrailingBlank(copy[length - 1])) copy[--length] = '\0';
#endif
    if (length == 0) return;
    deliver(out.hasText, 1);

    char* remainder = copy;
    double v = strtodC(copy, &remainder);
    if (remainder == copy) {
        matchKeyword(out, copy);
        return;
    }

    int k = 0;
    if (!unitExponent(remainder, k)) {
#ifdef UDM_BREAK_PARSER_LEAK  // fault: a refused unit returns without freeing the working copy
        static_cast<void>(working.release());
#endif
        return;
    }

    constexpr double kLargest = std::numeric_limits<double>::max();
    if (std::isnan(v) || v < -kLargest || v > kLargest) return;
    if (!passesScaleGuard(v, k)) return;

    deliverNumber(out, scaleByThousands(v, k));
}

}  // namespace

void parseValue(int32_t* hasText, int32_t* isNumber, int32_t* isQuit, int32_t* isHelp,
                int32_t* isYes, int32_t* isNo, int32_t* intValue, float* floatValue,
                double* doubleValue, const char* text) {
    const OutputPlaces out{hasText, isNumber, isQuit, isHelp, isYes,
                           isNo,    intValue, floatValue, doubleValue};
    deliver(out.hasText, 0);
    deliver(out.isNumber, 0);
    deliver(out.isQuit, 0);
    deliver(out.isHelp, 0);
    deliver(out.isYes, 0);
    deliver(out.isNo, 0);
    deliver(out.intValue, 0);
    deliver(out.floatValue, 0.0f);
    deliver(out.doubleValue, 0.0);
    if (doubleValue == nullptr || text == nullptr) return;

    // The text itself is never written; trimming works on a copy.
    const size_t length = std::strlen(text);
    WorkingCopy copy(allocateText(length + 1));
    if (!copy) return;
    std::memcpy(copy.get(), text, length);
    copy.get()[length] = '\0';

    parseWorkingCopy(out, copy);
}

int32_t parseDefinitionToken(const char* text) {
    ParsedValue& r = g_lastParsed;
    parseValue(&r.hasText, &r.isNumber, &r.isQuit, &r.isHelp, &r.isYes, &r.isNo, &r.intValue,
               &r.floatValue, &r.doubleValue, text);
    return r.isNumber != 0 ? 1 : 0;
}

const ParsedValue& lastParsedValue() { return g_lastParsed; }

}  // namespace vcswitch
