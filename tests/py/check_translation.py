#!/usr/bin/env python3
"""Checks a translation file as lupdate leaves it after reading the sources: every text of
the program is there and translated, nothing stale is kept, the translation carries the
same %N arguments and the same line end as its source, and no Chinese is left in it.

    check_translation.py LUPDATE SOURCE_DIR TS_FILE WORK_DIR
"""
import re
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

lupdate, sources, ts, work = sys.argv[1:5]
copy = Path(work) / Path(ts).name
copy.parent.mkdir(parents=True, exist_ok=True)
shutil.copyfile(ts, copy)
# Texts the sources no longer use are kept (not dropped) so they show up here as stale.
subprocess.run([lupdate, "-locations", "none", "-source-language", "zh_CN", sources, "-ts", str(copy)],
               check=True, stdout=subprocess.DEVNULL)

cjk = re.compile("[\u3000-\u303f\u3400-\u9fff\uff00-\uffef]")
problems = []
count = 0
for context in ET.parse(copy).getroot().iter("context"):
    name = context.findtext("name")
    for message in context.iter("message"):
        count += 1
        source = message.findtext("source") or ""
        tr = message.find("translation")
        text = tr.text or ""
        where = f"{name}: {source!r}"
        kind = tr.get("type")
        if kind in ("obsolete", "vanished"):
            problems.append(f"{where} is no longer in the sources")
            continue
        if kind == "unfinished" or not text:
            problems.append(f"{where} has no translation")
            continue
        if sorted(re.findall(r"%\d", source)) != sorted(re.findall(r"%\d", text)):
            problems.append(f"{where} -> {text!r}: the %N arguments differ")
        if source.endswith("\n") != text.endswith("\n"):
            problems.append(f"{where} -> {text!r}: the line end differs")
        if cjk.search(text):
            problems.append(f"{where} -> {text!r}: Chinese left in the translation")

print(f"{count} texts checked")
for p in problems:
    print(p)
sys.exit(1 if problems or count == 0 else 0)
