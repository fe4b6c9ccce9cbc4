#!/usr/bin/env python3
"""Writes the stored seed sessions of interface_fuzz into interface_corpus/.

The encoding is the one ByteReader and the session decode: a block layout,
then operations (see interface_session.cpp, Session::step)."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "interface_corpus")

# Indices into ByteReader::number's table of special values.
ZERO, NEG_ZERO, ONE, MINUS_ONE, HALF, TWO, MILLI, GIGA, NAN, INF, NEG_INF, DMAX = range(12)


def u16(v):
    return struct.pack(">H", v)


def layout(vec=160, nv=24, nd=72, rhs=104, mat=120, col=12, row=40, val=64):
    # Each field is taken modulo its range by the session.
    return u16(vec - 32) + u16(nv) + u16(nd) + u16(rhs) + u16(mat - 32) + u16(col) + u16(row) + u16(val)


def text(s):
    b = s.encode()
    return bytes([len(b)]) + b


def num(index):
    return bytes([index])


def raw(value):
    return bytes([255]) + struct.pack(">d", value)


def mode(m, handles=0, definition=None):
    out = bytes([m - 1, handles])
    if definition is not None:
        out += text(definition)
    return out


def nodes(a, b, c, d):
    return bytes([8]) + a + b + c + d


def times(t, start):
    return bytes([12]) + t + start


def selector(s):
    return bytes([13]) + s


def name(s):
    return bytes([15]) + text(s)


def vector_handle(choice):
    return bytes([10, choice])


def matrix_handle(choice):
    return bytes([11, choice])


def catalogue(index):
    return bytes([14]) + struct.pack(">I", index)


def life(definition, registration=b"", evaluation=b"", **kw):
    return (layout(**kw) + mode(1, 0, definition) + mode(2) + registration
            + nodes(num(ZERO), num(ZERO), num(ONE), num(ZERO)) + times(num(ONE), num(ZERO))
            + mode(3) + evaluation + mode(4) + name("V") + mode(5) + selector(num(TWO)) + mode(6)
            + mode(7))


SEEDS = {
    "numbers": life("1m,1k,0.5,0.1,1"),
    "expressions": life("a,b*2,c,d,e", registration=(num(ONE) + num(TWO)) * 5,
                        evaluation=num(TWO) + num(ZERO) + num(HALF) + num(NAN) + num(ONE)),
    "warnings": life("1,2,3,-0.5,0,9,9"),
    "zero-resistance": life("0,-0,1,0,1"),
    "before-start": layout() + mode(1, 0, "1,2,0,0,1") + mode(2) + times(raw(-1.0), num(ZERO)) + mode(3)
                    + times(num(NAN), num(ZERO)) + mode(3) + mode(4) + mode(7),
    "bad-handles": layout() + mode(1, 0, "x,1,2,3,4") + mode(3, 4) + mode(3, 4 << 3) + mode(3, 5) + mode(3, 6)
                   + mode(2, 7) + b"\x00\x00\x12\x34" + vector_handle(4) + mode(2) + mode(3) + mode(6)
                   + vector_handle(0) + matrix_handle(6) + mode(2) + mode(3) + mode(6) + matrix_handle(5)
                   + mode(3) + matrix_handle(0) + mode(2) + num(ONE) + num(ONE) + mode(7, 6) + mode(7),
    "odd-modes": layout() + bytes([7]) + b"\xff\xff\xff\xff" + b"\x00" + bytes([7]) + b"\x00\x00\x00\x08" + b"\x00"
                 + bytes([7]) + b"\x00\x00\x00\x00" + b"\x00" + mode(5) + mode(6) + mode(4) + mode(7) + mode(7),
    "extreme-values": layout(vec=32, nv=0, nd=0, rhs=16, mat=32, col=0, row=16, val=0)
                      + mode(1, 0, "1e308,1e-308,nan,inf,2147483648") + mode(2)
                      + nodes(num(INF), num(NEG_INF), num(NAN), num(DMAX)) + times(num(INF), num(NEG_INF))
                      + mode(3) + mode(4) + selector(raw(65539.0)) + mode(6) + selector(num(NAN)) + mode(6)
                      + mode(7),
    "catalogue": layout() + b"".join(catalogue(i) for i in (0, 5, 9, 10, 13, 14, 0xFFFFFFFF)),
    "redefinition": layout() + mode(1, 0, "a,b,,,") + mode(1, 0, "1,2,,,") + mode(1, 0, ",,,,") + mode(2)
                    + num(ONE) + mode(7),
}

if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    for seed_name, data in SEEDS.items():
        with open(os.path.join(OUT, seed_name), "wb") as f:
            f.write(data)
