#!/usr/bin/env python3
"""Builds the seed corpora and dictionaries under fuzz/ from data/ and tests/files/.

Run from anywhere: python3 fuzz/make_corpus.py. The output is committed; run it again only when
the shipped data or the test files change in a way the seeds should follow.
"""
import hashlib
import os
import re
import shutil
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
DATA = os.path.join(ROOT, "data")
FILES = os.path.join(ROOT, "tests", "files")
CORPUS = os.path.join(HERE, "corpus")
DICT = os.path.join(HERE, "dict")

# Property elements of each action type, in the order of their property numbers.
ACTION_PROPERTIES = {
    "WRITE_REG": (0, ["NAME", "COMMAND", "DATA", "DELAY", "BUS_WIDTH"]),
    "READ_REG": (1, ["NAME", "COMMAND", "DATA_LENGTH", "EXPECTED_DATA", "EXPECTED_DATA_MASK",
                     "ATTEMPT_COUNT", "DELAY", "BUS_WIDTH"]),
    "WRITE_DATA": (2, ["NAME", "COMMAND", "ADDRESS", "DATA", "PAGE_SIZE", "ADDRESSING_MODE",
                       "DELAY", "BUS_WIDTH"]),
    "READ_DATA": (3, ["NAME", "COMMAND", "ADDRESS", "DATA_LENGTH", "EXPECTED_DATA",
                      "EXPECTED_DATA_MASK", "ADDRESSING_MODE", "ACT_DUMMY_CLOCK_CYCLE", "DELAY",
                      "BUS_WIDTH"]),
    "ERASE": (4, ["NAME", "COMMAND", "ADDRESS", "ERASE_SIZE", "ADDRESSING_MODE", "DELAY",
                  "BUS_WIDTH"]),
    "CUSTOM": (5, ["DESCRIPTION", "DIRECTION"]),
}
FIRST_PROPERTY = {"WRITE_REG": 0, "READ_REG": 5, "WRITE_DATA": 13, "READ_DATA": 21, "ERASE": 31,
                  "CUSTOM": 38}


def reset(target):
    path = os.path.join(CORPUS, target)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def put(directory, data):
    if isinstance(data, str):
        data = data.encode("utf-8")
    name = hashlib.sha1(data).hexdigest()[:16]
    with open(os.path.join(directory, name), "wb") as out:
        out.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def golden_text():
    return read(os.path.join(DATA, "xml", "pgm_flash_db_qspi.xml")).decode("utf-8")


def user_files_from_golden(count):
    """The first `count` built-in devices, each as a user file, and one vendor flow as a
    user template."""
    text = golden_text()
    head = '<?xml version="1.0" encoding="UTF-8"?>\n<QSPI_FLASH version="1">\n'
    out = []
    for match in list(re.finditer(r"<FLASH>.*?</FLASH>", text, re.S))[:count]:
        device = match.group(0)
        device = re.sub(r"<DEVICE_NAME>([^<]*)</DEVICE_NAME>",
                        r"<DEVICE_NAME>\1_USER</DEVICE_NAME>", device, count=1)
        out.append(head + device + "\n</QSPI_FLASH>\n")
    flow = re.search(r"<MICRON>\s*(<PROGRAMMING_FLOW>.*?</PROGRAMMING_FLOW>)", text, re.S)
    if flow:
        out.append(head + "<USER_TEMPLATE><TEMPLATE_NAME>seed_template</TEMPLATE_NAME>" +
                   flow.group(1) + "</USER_TEMPLATE>\n</QSPI_FLASH>\n")
    return out


def is_sdmmc(data):
    return b"<SDMMC_FLASH" in data


def hostile_and_test_files():
    names = []
    for sub in ("xml", "tool"):
        for folder, dirs, files in os.walk(os.path.join(FILES, sub)):
            dirs.sort()
            for name in sorted(files):
                path = os.path.join(folder, name)
                if not name.endswith((".md", ".json", ".tsv")) and os.path.getsize(path) <= 16384:
                    names.append(path)
    return names


def action_values():
    """(property number, action type number, value) for every property of every golden
    action, distinct."""
    root = ET.fromstring(golden_text().encode("utf-8"))
    seen = set()
    for action in root.iter("ACTION"):
        kind = action.get("type")
        if kind not in ACTION_PROPERTIES:
            continue
        type_number, tags = ACTION_PROPERTIES[kind]
        for child in action:
            if child.tag in tags:
                number = FIRST_PROPERTY[kind] + tags.index(child.tag)
                seen.add((number, type_number, child.text or ""))
    return sorted(seen)


def main():
    test_files = hostile_and_test_files()

    qspi = reset("fuzz_qspi_user_file")
    sdmmc = reset("fuzz_sdmmc_user_file")
    check = reset("fuzz_check")
    for text in user_files_from_golden(3):
        put(qspi, text)
        put(check, text)
    for path in test_files:
        data = read(path)
        put(sdmmc if is_sdmmc(data) else qspi, data)
        put(check, data)
    sdmmc_golden = read(os.path.join(DATA, "xml", "pgm_flash_db_sdmmc.xml"))
    put(sdmmc, sdmmc_golden)
    put(check, sdmmc_golden)

    values = action_values()
    prop = reset("fuzz_action_property")
    for number, type_number, value in values:
        put(prop, bytes([number, type_number]) + value.encode("utf-8"))
    # Values the shipped data never holds but the rules single out.
    for number, value in [(3, "0x"), (7, "data.jic"), (17, "256"), (28, "15"), (38, "a\nb"),
                          (39, "start"), (10, "0"), (15, "0xFFFFFFFFFF"), (2, "0x06 0x01")]:
        put(prop, bytes([number, 0]) + value.encode("utf-8"))

    byte_list = reset("fuzz_byte_list")
    lists = {v for n, _, v in values if n in (1, 2, 6, 8, 9, 14, 16, 22, 25, 26, 32) and v}
    for device_id in re.findall(r"<DEVICE_ID>([^<]*)</DEVICE_ID>", golden_text()):
        lists.add(device_id)
    lists.update(["255", "  0x0A  0x0B ", "0x0A\t0x0B", "0x123", "0x", "256", "   "])
    for text in sorted(lists):
        put(byte_list, text)

    # Journals: one a save writes, and the kinds recovery must set aside.
    journal = reset("fuzz_journal")
    header = "vorn folder change 1\n"
    for steps in ["rename .pgm_flash_A.xml.Ab12Cd pgm_flash_A.xml\nremove pgm_flash_B.xml\nend\n",
                  "remove pgm_flash_B%2exml\nend\n",
                  "remove %ZZ\nend\n",
                  "rename pgm_flash_B.xml pgm_flash_A.xml\nend\n",
                  "remove notes.txt\nend\n",
                  "remove pgm_flash_B.xml\n"]:
        put(journal, (header + steps).encode("utf-8"))

    os.makedirs(DICT, exist_ok=True)
    xsd_names = set()
    for xsd in ("vorn_qspi.xsd", "vorn_sdmmc.xsd"):
        xsd_names.update(re.findall(r'name="([A-Z_0-9]+)"', read(os.path.join(DATA, "xsd", xsd))
                                    .decode("utf-8")))
    xml_tokens = []
    for name in sorted(xsd_names):
        xml_tokens += ["<%s>" % name, "</%s>" % name]
    xml_tokens += ['type="%s"' % t for t in sorted(ACTION_PROPERTIES)]
    xml_tokens += ['unit="us"', 'version="1"', "1-1", "1-1-1", "0x", "jic", "start", "end",
                   "nil", "1.8V", "3.0V/3.3V", "256Mb", "32GB", "\\n", "&amp;", "<![CDATA[",
                   "]]>", "<!--", "-->"]
    for target in ("fuzz_qspi_user_file", "fuzz_sdmmc_user_file", "fuzz_check"):
        with open(os.path.join(DICT, target + ".dict"), "w") as out:
            for token in xml_tokens:
                out.write('"%s"\n' % token.replace("\\", "\\\\").replace('"', '\\"'))
    value_tokens = ["0x", " ", "jic", "JIC", "1-1", "1-1-1", "start", "end", "nil", "256", "15"]
    for target in ("fuzz_byte_list", "fuzz_action_property"):
        with open(os.path.join(DICT, target + ".dict"), "w") as out:
            for token in value_tokens:
                out.write('"%s"\n' % token)


if __name__ == "__main__":
    main()
