#!/usr/bin/env python3
"""Collects every trace point's text into the decode table that trace readers use.

trace-table.py OUTPUT SOURCE_DIR...

Writes one line per message: unit GUID, number, level, flag, text (as written in the source), file:line.
Fails, naming the place, on a trace point it cannot read, a unit without TRACE_UNIT, or a message identity or
unit GUID used twice.
"""
import pathlib
import re
import sys

LEVELS = {"ERROR": 2, "WARNING": 3, "INFO": 4, "VERBOSE": 5}
FLAGS = {"kTraceFlagGeneral": 1, "kTraceFlagCompression": 2, "kTraceFlagEvents": 4}
UNIT = re.compile(r'^\s*TRACE_UNIT\("([0-9a-fA-F-]{36})"\)', re.M)
CALL = re.compile(r'\bTRACE_(ERROR|WARNING|INFO|VERBOSE)\(')
POINT = re.compile(r'\s*(\w+)\s*,\s*(\d+)\s*,\s*"((?:[^"\\\n]|\\.)*)"\s*[,)]')


def main():
    output, roots = sys.argv[1], sys.argv[2:]
    rows, errors, seen, units = [], [], {}, {}
    for root in roots:
        for path in sorted(pathlib.Path(root).rglob("*")):
            if path.suffix not in (".cpp", ".h") or path.name == "Trace.h":
                continue
            source = path.read_text(encoding="utf-8")
            unit_match = UNIT.search(source)
            unit = unit_match.group(1).lower() if unit_match else None
            if unit and unit in units:
                errors.append(f"{path}: trace unit {unit} already used by {units[unit]}")
            if unit:
                units[unit] = path
            for call in CALL.finditer(source):
                line = source.count("\n", 0, call.start()) + 1
                where = f"{path}:{line}"
                point = POINT.match(source, call.end())
                if not point:
                    errors.append(f"{where}: trace point needs (kTraceFlag..., number, \"one literal text\", ...)")
                    continue
                flag, number, text = point.groups()
                if flag not in FLAGS:
                    errors.append(f"{where}: unknown trace flag {flag}")
                    continue
                if unit is None:
                    errors.append(f"{where}: trace point in a unit without TRACE_UNIT")
                    continue
                key = (unit, int(number))
                if key in seen:
                    errors.append(f"{where}: message {number} of {unit} already used at {seen[key]}")
                    continue
                seen[key] = where
                rows.append(f"{unit}\t{number}\t{LEVELS[call.group(1)]}\t{FLAGS[flag]}\t{text}\t{where}\n")
    if errors:
        sys.stderr.write("".join(f"{e}\n" for e in errors))
        return 1
    pathlib.Path(output).write_text("".join(rows), encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
