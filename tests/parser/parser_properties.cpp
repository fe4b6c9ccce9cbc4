#include "parser_properties.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "parsed_value_compare.h"
#include "value_parser.h"

namespace parsertest {
namespace {

using vcswitch::ParsedValue;

bool isBlank(char c) { return c != '\0' && std::strchr(" \t\n\v\f\r", c) != nullptr; }

std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// What the text should give when strtod reads nothing from it.
ParsedValue expectedForWord(const std::string& body) {
    const std::string w = lowerAscii(body);
    ParsedValue r{1, 0, 0, 0, 0, 0, 0, 0.0f, 0.0};
    if (w == "quit" || w == "q") r.isQuit = 1;
    if (w == "help" || w == "h" || w == "?") r.isHelp = 1;
    if (w == "ja" || w == "j") r.isYes = 1;
    if (w == "nein" || w == "n") r.isNo = 1;
    if (w == "on") r = ParsedValue{1, 1, 0, 0, 1, 0, 1, 1.0f, 1.0};
    if (w == "off") r = ParsedValue{1, 1, 0, 0, 0, 1, 0, 0.0f, 0.0};
    return r;
}

struct Unit {
    int k;   // decimal exponent
    int e2;  // base-2 exponent of 10^k as frexp gives it
};

bool unitOf(const std::string& rest, Unit& unit) {
    if (rest.empty()) {
        unit = {0, 1};
        return true;
    }
    if (rest.size() != 1) return false;
    switch (rest[0] | 0x20) {
        case 'f': unit = {-15, -49}; return true;
        case 'p': unit = {-12, -39}; return true;
        case 'n': unit = {-9, -29}; return true;
        case 'u': unit = {-6, -19}; return true;
        case 'm': unit = {-3, -9}; return true;
        case 'k': unit = {3, 10}; return true;
        case 'g': unit = {9, 30}; return true;
        case 't': unit = {12, 40}; return true;
        default: return false;
    }
}

std::string fail(const char* what, const ParsedValue& r) { return std::string(what) + " " + describe(r); }

// The value must be the strtod value times 10^k within the rounding of at
// most five correctly rounded steps (and exactly it without a unit).
std::string checkNumber(const ParsedValue& r, double v0, Unit unit) {
    if (r.isNumber != 1 || r.isYes != 0 || r.isNo != 0 || r.isQuit != 0 || r.isHelp != 0)
        return fail("a number in range was not parsed as a plain number", r);
    if (unit.k == 0) {
        if (std::bit_cast<uint64_t>(r.doubleValue) != std::bit_cast<uint64_t>(v0))
            return fail("value differs from strtod", r);
    } else {
        const long double exact = static_cast<long double>(v0) * std::pow(10.0L, unit.k);
        const long double error = std::fabs(static_cast<long double>(r.doubleValue) - exact);
        const long double allowed = std::fabs(exact) * 0x1p-50L + 0x1p-1072L;
        if (!(error <= allowed)) return fail("scaled value off by more than the step rounding", r);
        if (std::signbit(r.doubleValue) != std::signbit(v0)) return fail("scaling lost the sign", r);
    }
    const double d = r.doubleValue;
    const bool fitsFloat = d >= static_cast<double>(FLT_MIN) && d <= static_cast<double>(FLT_MAX);
    const float wantFloat = fitsFloat ? static_cast<float>(d) : 0.0f;
    if (std::bit_cast<uint32_t>(r.floatValue) != std::bit_cast<uint32_t>(wantFloat))
        return fail("single-precision result wrong", r);
    const bool fitsInt = d >= -2147483648.0 && d <= 2147483647.0 && std::trunc(d) == d;
    const int32_t wantInt = fitsInt ? static_cast<int32_t>(d) : 0;
    if (r.intValue != wantInt) return fail("integer result wrong", r);
    return {};
}

// The complete expected outcome, derived from strtod and magnitude bounds
// rather than from the parser's own steps.
std::string checkAgainstModel(const std::string& text, const ParsedValue& r) {
    std::string body = text;
    while (!body.empty() && isBlank(body.back())) body.pop_back();
    if (body.empty()) return sameBits(r, ParsedValue{}) ? std::string{} : fail("blank text gave results", r);

    char* end = nullptr;
    const double v0 = std::strtod(body.c_str(), &end);
    const size_t consumed = static_cast<size_t>(end - body.c_str());
    if (consumed == 0) {
        return sameBits(r, expectedForWord(body)) ? std::string{} : fail("keyword outcome wrong", r);
    }

    Unit unit{};
    const bool unitOk = unitOf(body.substr(consumed), unit);
    const double magnitude = std::fabs(v0);
    const bool inGuard = magnitude == 0.0 || (magnitude >= std::ldexp(1.0, -1022 - unit.e2) &&
                                              magnitude < std::ldexp(1.0, 1024 - unit.e2));
    if (unitOk && std::isfinite(v0) && inGuard) return checkNumber(r, v0, unit);
    const ParsedValue textOnly{1, 0, 0, 0, 0, 0, 0, 0.0f, 0.0};
    return sameBits(r, textOnly) ? std::string{} : fail("a refused number left results", r);
}

ParsedValue parseWithout(const char* text, int missing) {
    ParsedValue r{9, 9, 9, 9, 9, 9, 9, 9.0f, 9.0};
    auto place = [missing](int index, auto* p) { return index == missing ? nullptr : p; };
    vcswitch::parseValue(place(0, &r.hasText), place(1, &r.isNumber), place(2, &r.isQuit),
                         place(3, &r.isHelp), place(4, &r.isYes), place(5, &r.isNo),
                         place(6, &r.intValue), place(7, &r.floatValue), &r.doubleValue, text);
    return r;
}

// A missing place changes nothing but that one result.
std::string checkMissingPlaces(const char* text, const ParsedValue& full) {
    for (int missing = 0; missing < 8; ++missing) {
        ParsedValue expected = full;
        int32_t* ints[] = {&expected.hasText, &expected.isNumber, &expected.isQuit, &expected.isHelp,
                           &expected.isYes,   &expected.isNo,     &expected.intValue};
        if (missing < 7)
            *ints[missing] = 9;
        else
            expected.floatValue = 9.0f;
        const ParsedValue got = parseWithout(text, missing);
        if (!sameBits(got, expected))
            return "place " + std::to_string(missing) + " missing changed other results " +
                   describe(got);
    }
    return {};
}

}  // namespace

std::string checkParserProperties(const char* text) {
    const std::string original = text;
    const ParsedValue r = parse(text);
    if (original != text) return "the input text was modified";

    for (int32_t flag : {r.hasText, r.isNumber, r.isQuit, r.isHelp, r.isYes, r.isNo})
        if (flag != 0 && flag != 1) return fail("flag outside 0 and 1", r);
    if (r.isNumber == 1 && r.hasText == 0) return fail("number without text", r);
    if (r.isQuit + r.isHelp + r.isYes + r.isNo > 1) return fail("two keyword flags", r);
    if (r.isNumber == 1 && !std::isfinite(r.doubleValue)) return fail("non-finite number", r);

    if (std::string problem = checkAgainstModel(original, r); !problem.empty()) return problem;
    if (std::string problem = checkMissingPlaces(text, r); !problem.empty()) return problem;

    const int32_t answer = vcswitch::parseDefinitionToken(text);
    if (answer != r.isNumber || !sameBits(vcswitch::lastParsedValue(), r))
        return fail("parseDefinitionToken differs from parseValue", vcswitch::lastParsedValue());
    return {};
}

}  // namespace parsertest
