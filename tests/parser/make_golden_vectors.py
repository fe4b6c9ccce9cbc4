#!/usr/bin/env python3
"""Writes golden_vectors.inc: parameter texts with the nine parse results.

The results come from a second, separate implementation of the parsing rules
in Python, whose float() is correctly rounded like glibc's strtod and whose
arithmetic is IEEE double, so the C++ parser is checked bit for bit against
it. Run again after changing the rules:

    python3 tests/parser/make_golden_vectors.py > tests/parser/golden_vectors.inc
"""
import math
import random
import re
import struct

WHITE = " \t\n\v\f\r"
NUMBER = re.compile(r"[ \t\n\v\f\r]*[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?")
KEYWORDS = [("quit", "quit"), ("q", "quit"), ("help", "help"), ("h", "help"), ("?", "help"),
            ("ja", "yes"), ("j", "yes"), ("nein", "no"), ("n", "no"), ("on", "on"), ("off", "off")]
UNITS = {"f": -15, "p": -12, "n": -9, "u": -6, "m": -3, "k": 3, "g": 9, "t": 12}
FLT_MIN = 2.0 ** -126
FLT_MAX = (2.0 - 2.0 ** -23) * 2.0 ** 127


def reference(text):
    """(hasText, isNumber, isQuit, isHelp, isYes, isNo, intValue, float, double)."""
    r = [0, 0, 0, 0, 0, 0, 0, 0.0, 0.0]
    body = text.rstrip(WHITE)
    if not body:
        return r
    r[0] = 1
    match = NUMBER.match(body)
    if not match:
        lowered = body.lower()
        for word, meaning in KEYWORDS:
            if lowered == word:
                if meaning == "quit":
                    r[2] = 1
                elif meaning == "help":
                    r[3] = 1
                elif meaning == "yes":
                    r[4] = 1
                elif meaning == "no":
                    r[5] = 1
                elif meaning == "on":
                    r[1], r[4], r[6], r[7], r[8] = 1, 1, 1, 1.0, 1.0
                else:
                    r[1], r[5] = 1, 1
                break
        return r
    v = float(match.group(0))
    rest = body[match.end():]
    if rest == "":
        k = 0
    elif rest.lower() in UNITS:
        k = UNITS[rest.lower()]
    else:
        return r
    if math.isnan(v) or math.isinf(v):
        return r
    e1 = math.frexp(v)[1]
    e2 = math.frexp(math.pow(10.0, k))[1]
    if not -1021 <= e1 + e2 <= 1024:
        return r
    while k > 0:
        v, k = v * 1000.0, k - 3
    while k < 0:
        v, k = v / 1000.0, k + 3
    r[8] = v
    if FLT_MIN <= v <= FLT_MAX:
        r[7] = struct.unpack("<f", struct.pack("<f", v))[0]
    if -2147483648.0 <= v <= 2147483647.0 and math.modf(v)[0] == 0.0:
        r[6] = int(v)
    r[1] = 1
    return r


def c_string(text):
    out = []
    for ch in text:
        code = ord(ch)
        if ch in "\\\"":
            out.append("\\" + ch)
        elif 0x20 <= code < 0x7F:
            out.append(ch)
        else:
            out.append("\\%03o" % code)
    return '"' + "".join(out) + '"'


def boundary_texts():
    texts = []
    for letter, k in [("", 0)] + sorted(UNITS.items(), key=lambda item: item[1]):
        e2 = math.frexp(math.pow(10.0, k))[1]
        edges = [2.0 ** (-1022 - e2)]
        if 1024 - e2 < 1024:
            edges.append(2.0 ** (1024 - e2))
        for edge in edges:
            for v in (edge, math.nextafter(edge, 0.0), math.nextafter(edge, math.inf)):
                for sign in ("", "-"):
                    texts.append(sign + repr(v) + letter)
    for v in (FLT_MIN, math.nextafter(FLT_MIN, 0.0), FLT_MAX, math.nextafter(FLT_MAX, math.inf),
              2147483647.0, 2147483648.0, -2147483648.0, -2147483649.0, 2147483646.5):
        texts.append(repr(v))
    texts += ["2147483.647k", "2147483.648k", "-2147483.648k", "2.147483647g", "0.0021474836475t"]
    return texts


def random_text(rng):
    sign = rng.choice(["", "", "+", "-"])
    whole = "".join(rng.choice("0123456789") for _ in range(rng.randint(0, 20)))
    frac = "".join(rng.choice("0123456789") for _ in range(rng.randint(0, 20)))
    mantissa = whole + ("." + frac if frac or rng.random() < 0.2 else "")
    if not whole and not frac:
        mantissa = rng.choice(["", ".", "0"])
    exponent = ""
    if rng.random() < 0.6:
        exponent = rng.choice("eE") + rng.choice(["", "+", "-"]) + str(rng.randint(0, 330))
    tail = rng.choice(list("fpnumkgtFPNUMKGT") * 3 + ["", "", "", "", "meg", "x", " k", "kk", "e",
                                                      "e+", ".", ",5", "K ", "\t"])
    lead = rng.choice(["", "", "", " ", "  ", "\t"])
    trail = rng.choice(["", "", "", " ", " \t", "\r\n", "\v\f"])
    return lead + sign + mantissa + exponent + tail + trail


def main():
    rng = random.Random(20261207)
    texts = ["", " ", "\t\r\n", "4.7k", "4.7K  ", "  10", " on", "1M", "1m", "1meg", "5kOhm", "5 k",
             "1f", "100n", "1u", "1e3k", "-3", "0", "-0", "2.5", "1e40", "2e-308", "1e-308",
             "8.98e307", "8.99e307", "1e308", "1e999", "1e305k", "2e305k", "1e-290f", "1e-300f",
             "1e-400", "k", "abc", "+", "-", ".", "5n"]
    for word, _ in KEYWORDS:
        texts += [word, word.upper(), word.capitalize(), word + " ", " " + word, word + "x"]
    texts += boundary_texts()
    texts += [random_text(rng) for _ in range(1500)]

    seen = set()
    print("// Generated by make_golden_vectors.py; do not edit.")
    print("// text, hasText, isNumber, isQuit, isHelp, isYes, isNo, intValue, float bits, double bits")
    for text in texts:
        if text in seen:
            continue
        seen.add(text)
        r = reference(text)
        fbits = struct.unpack("<I", struct.pack("<f", r[7]))[0]
        dbits = struct.unpack("<Q", struct.pack("<d", r[8]))[0]
        print("{%s, %d, %d, %d, %d, %d, %d, %d, 0x%08xu, 0x%016xull}," %
              ((c_string(text),) + tuple(r[:7]) + (fbits, dbits)))


if __name__ == "__main__":
    main()
