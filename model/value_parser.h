// Turns one entry of a parameter list into a value: a decimal number with an
// optional unit letter, or one of the keywords.
#pragma once

#include <cstdint>

namespace vcswitch {

// The nine results of one parse, in the order of parseValue's outputs.
struct ParsedValue {
    int32_t hasText;
    int32_t isNumber;
    int32_t isQuit;
    int32_t isHelp;
    int32_t isYes;
    int32_t isNo;
    int32_t intValue;
    float floatValue;
    double doubleValue;
};

// Parses text into the places given; any of the first eight may be null.
// A null doubleValue or text only resets the places that are present.
void parseValue(int32_t* hasText, int32_t* isNumber, int32_t* isQuit, int32_t* isHelp,
                int32_t* isYes, int32_t* isNo, int32_t* intValue, float* floatValue,
                double* doubleValue, const char* text);

// Parses one parameter entry into the library's single ParsedValue record;
// returns 1 when the entry is a number, else 0.
int32_t parseDefinitionToken(const char* text);

// The record parseDefinitionToken fills; valid until its next call.
const ParsedValue& lastParsedValue();

}  // namespace vcswitch
