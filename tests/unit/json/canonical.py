"""Prints JSON documents in one canonical line each, read by Python's own json module, for the C++ reader's
test to compare with: numbers as exact plain decimals, strings as UTF-16 code units with everything outside
printable ASCII as \\uXXXX.

canonical.py DIR   every DIR/*.json, one line "name<TAB>form" each, sorted by name
canonical.py -     standard input, lines "name<TAB>document"
"""
import decimal
import json
import pathlib
import sys

decimal.getcontext().prec = 1000  # normalize() must not round


def number(d):
    return "0" if d == 0 else format(d.normalize(), "f")


def text(s):
    units = s.encode("utf-16-le", "surrogatepass")
    out = []
    for i in range(0, len(units), 2):
        u = units[i] | units[i + 1] << 8
        out.append(chr(u) if 0x20 <= u < 0x7F and u not in (0x22, 0x5C) else "\\u%04x" % u)
    return '"' + "".join(out) + '"'


def canon(v):
    if isinstance(v, dict):
        return "{" + ",".join(text(k) + ":" + canon(x) for k, x in v.items()) + "}"
    if isinstance(v, list):
        return "[" + ",".join(canon(x) for x in v) + "]"
    if isinstance(v, str):
        return text(v)
    if v is True:
        return "true"
    if v is False:
        return "false"
    if v is None:
        return "null"
    return number(v)


def load(document):
    return json.loads(document, parse_float=decimal.Decimal, parse_int=decimal.Decimal)


if sys.argv[1] == "-":
    for line in sys.stdin.buffer.read().decode("utf-8", "surrogatepass").split("\n"):
        if line:
            name, document = line.split("\t", 1)
            print(name + "\t" + canon(load(document)))
else:
    for path in sorted(pathlib.Path(sys.argv[1]).glob("*.json")):
        print(path.name + "\t" + canon(load(path.read_text(encoding="utf-8"))))
