#!/usr/bin/env python3
"""Fails on any include or link between the service object's modules that
ServiceObject/modules.txt does not allow.

Every folder of ServiceObject/ is a module and must be listed. A source file
of module M may include "N/..." only when N is M or one of M's allowed
modules; the same holds for the norvik_so_N libraries that M's CMakeLists.txt
links. Includes outside the modules (common/, Vorlex.h, system and generated
headers) are not the table's business.

    tools/check-layers.py [ROOT]     exit 0 clean, 1 with one line per breach
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
service = root / "ServiceObject"

allowed = {}
for number, line in enumerate((service / "modules.txt").read_text().splitlines(), 1):
    line = line.split("#", 1)[0].strip()
    if not line:
        continue
    name, _, uses = line.partition(":")
    allowed[name.strip()] = set(uses.split())

breaches = []
for name, uses in allowed.items():
    for used in uses - allowed.keys():
        breaches.append(f"modules.txt: {name} allows {used}, which is no module")

include = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]*"', re.M)
link = re.compile(r"\bnorvik_so_(\w+)")
for folder in sorted(p for p in service.iterdir() if p.is_dir()):
    module = folder.name
    if module not in allowed:
        breaches.append(f"ServiceObject/{module}/: a module that modules.txt does not list")
        continue
    permitted = allowed[module] | {module}
    for source in sorted(folder.rglob("*")):
        if source.suffix not in (".h", ".hpp", ".c", ".cpp") and source.name != "CMakeLists.txt":
            continue
        text = source.read_text(errors="replace")
        relative = source.relative_to(root)
        if source.name == "CMakeLists.txt":
            used = {m for m in link.findall(text) if m in allowed}
            kind = "links"
        else:
            used = {m for m in include.findall(text) if m in allowed}
            kind = "includes"
        for other in sorted(used - permitted):
            breaches.append(f"{relative}: {module} {kind} {other}, which modules.txt does not allow")

for breach in breaches:
    print(breach)
if breaches:
    print(f"layering: {len(breaches)} breach(es) of ServiceObject/modules.txt")
    sys.exit(1)
print(f"layering: {len(allowed)} modules, every include and link allowed")
