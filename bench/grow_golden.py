#!/usr/bin/env python3
"""Writes a programmer directory whose golden template holds COPIES + 1 times the devices of
the shipped one: the shipped data directory, with every <FLASH> element of the golden template
repeated under new names (suffix _C1, _C2, ...). A stand-in for a grown shipped database.

    bench/grow_golden.py OUT_DIR [COPIES]    (default 5: six times the devices)
"""
import os
import re
import shutil
import sys

src = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")
out = sys.argv[1]
copies = int(sys.argv[2]) if len(sys.argv) > 2 else 5
shutil.rmtree(out, ignore_errors=True)
shutil.copytree(src, out)
path = os.path.join(out, "xml", "pgm_flash_db_qspi.xml")
text = open(path, encoding="utf-8").read()
flashes = re.findall(r"  <FLASH>.*?</FLASH>\n", text, re.S)
if not flashes:
    sys.exit("no <FLASH> element in " + path)
grown = []
for n in range(1, copies + 1):
    for flash in flashes:
        grown.append(re.sub(r"<DEVICE_NAME>(.*?)</DEVICE_NAME>",
                            lambda m: "<DEVICE_NAME>%s_C%d</DEVICE_NAME>" % (m.group(1), n), flash))
end = text.rindex(flashes[-1]) + len(flashes[-1])
open(path, "w", encoding="utf-8").write(text[:end] + "".join(grown) + text[end:])
print("%s: %d devices" % (path, len(flashes) * (copies + 1)))
