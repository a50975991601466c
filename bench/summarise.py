#!/usr/bin/env python3
"""Prints the markdown table of a benchmark run: every figure, every ratio, every target."""
import json
import os
import platform
import sys


def medians(path):
    with open(path) as f:
        data = json.load(f)
    out = {}
    ctx = data.get("context", {})
    for b in data["benchmarks"]:
        ctx["repetitions"] = b.get("repetitions", 1)
        if b.get("aggregate_name", "median") != "median":
            continue
        name = b.get("run_name", b["name"])
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b.get("time_unit", "ns")]
        # CPU time: these machines are shared, and a loaded one stretches wall time by a
        # factor that has nothing to do with the code.
        b["seconds"] = b["cpu_time"] * scale
        b["wall"] = b["real_time"] * scale
        out[name] = b
    return out, ctx


def fresh_medians(folder):
    """Medians over the runs of each load benchmark, one process and one iteration per run."""
    runs, ctx = {}, {}
    for name in sorted(os.listdir(folder)):
        if name.endswith(".json"):
            found, ctx = medians(os.path.join(folder, name))
            for key, b in found.items():
                runs.setdefault(key, []).append(b)
    out = {}
    for key, bs in runs.items():
        # Loads report wall time and the CPU time of every thread: each gets its own median.
        median = dict(bs[0])
        for field in ("seconds", "wall"):
            values = sorted(b[field] for b in bs)
            median[field] = values[len(values) // 2]
        out[key.split("/process_time")[0]] = median
    ctx["repetitions"] = max(len(bs) for bs in runs.values())
    return out, ctx


def paired_ratios(folder, bench, anchor, n):
    """The ratios of `bench` to `anchor` of each round, sorted: a round runs the two back to
    back, so both meet the shared machine in the same state, which medians taken apart do not."""
    def cpu(name):
        found, _ = medians(os.path.join(folder, name))
        return next(iter(found.values()))["seconds"]
    ratios = []
    for name in os.listdir(folder):
        prefix = "%s_%d_" % (bench, n)
        if name.startswith(prefix) and name.endswith(".json"):
            other = anchor + name[len(bench):]
            if os.path.exists(os.path.join(folder, other)):
                ratios.append(cpu(name) / cpu(other))
    return sorted(ratios)


def ratio_cell(ratios):
    """The median of the rounds' ratios, with their range."""
    median = ratios[len(ratios) // 2]
    return median, "%.2f (%.2f-%.2f)" % (median, ratios[0], ratios[-1])


def fmt_time(s):
    if s < 1e-6:
        return "%.0f ns" % (s * 1e9)
    if s < 1e-3:
        return "%.2f us" % (s * 1e6)
    if s < 1:
        return "%.2f ms" % (s * 1e3)
    return "%.2f s" % s


def main(out):
    load, ctx = fresh_medians(os.path.join(out, "load"))
    look, _ = medians(os.path.join(out, "bench_lookup.json"))
    save, _ = medians(os.path.join(out, "bench_save.json"))
    mem = [json.loads(l) for l in open(os.path.join(out, "memory.jsonl")) if l.strip()]

    load_avg = ctx.get("load_avg") or []
    print("Machine: %s, %s, %s CPUs at %s MHz, load average %s; run %s; %s repetitions, "
          "medians of CPU time" % (
              platform.node() or "?", platform.machine(), ctx.get("num_cpus"),
              ctx.get("mhz_per_cpu"), " ".join("%.1f" % x for x in load_avg),
              ctx.get("date", "?"), ctx.get("repetitions", 1)))
    print()
    print("| figure | measured | anchor / reference | ratio | target | met |")
    print("|---|---|---|---|---|---|")

    def row(fig, measured, anchor, ratio, target, met):
        print("| %s | %s | %s | %s | %s | %s |" % (fig, measured, anchor, ratio, target,
                                                   "yes" if met else "**no**"))

    # The load runs on one thread: its CPU time is both its cost and what a user waits for.
    # Times are medians over the rounds; a ratio is the median of the rounds' own ratios.
    load_dir = os.path.join(out, "load")
    per_dev = {}
    for n in (100, 1000, 10000):
        l = load["BM_Load/%d" % n]["seconds"]
        a = load["BM_LoadAnchor/%d" % n]["seconds"]
        per_dev[n] = l / n
        r, cell = ratio_cell(paired_ratios(load_dir, "BM_Load", "BM_LoadAnchor", n))
        row("load, %d devices" % n, fmt_time(l), fmt_time(a), cell,
            "<= 1.3 (at 1,000 and 10,000)", r <= 1.3 if n >= 1000 else True)
    l = load["BM_Load/1300"]["seconds"]
    a = load["BM_LoadAnchor/1300"]["seconds"]
    r, cell = ratio_cell(paired_ratios(load_dir, "BM_Load", "BM_LoadAnchor", 1300))
    # The load's byte count takes in the golden template; the memory run counts the file alone.
    one_file = [m["user_bytes"] for m in mem if m["devices"] == 1300]
    row("load of one user file of 1,300 devices (%.1f MiB)" % (
        (one_file[0] if one_file else load["BM_Load/1300"].get("xml_bytes", 0)) / 2**20),
        fmt_time(l), fmt_time(a), cell, "<= 1.3", r <= 1.3)
    # What libxml2's one pass with the schema check costs the load before anything is built.
    for n in (1000, 10000):
        check = load.get("BM_LoadCheckOnly/%d" % n)
        if check is None:
            continue
        c = check["seconds"]
        a = load["BM_LoadAnchor/%d" % n]["seconds"]
        _, cell = ratio_cell(paired_ratios(load_dir, "BM_LoadCheckOnly", "BM_LoadAnchor", n))
        row("schema check alone, %d devices (no elements, no records)" % n, fmt_time(c),
            fmt_time(a), cell, "none", True)
    r = per_dev[10000] / per_dev[1000]
    row("load per device, 10,000 / 1,000", fmt_time(per_dev[10000]),
        fmt_time(per_dev[1000]), "%.2f" % r, "<= 1.2", r <= 1.2)

    limits = [
        ("BM_GetFlashFiltered", "get_flash by name, filtered", 2e-6),
        ("BM_GetFlashUnfiltered", "get_flash by name, unfiltered", 2e-6),
        ("BM_GetFlashLegacy", "get_flash of a legacy name (new record)", None),
        ("BM_DeviceExistInDb", "device_exist_in_db, present", 2e-6),
        ("BM_DeviceExistInDbMissing", "device_exist_in_db, absent", 2e-6),
        ("BM_GetFlashWithIdFullMask", "get_flash_with_id, full mask, last in order", 50e-6),
        ("BM_GetFlashWithIdMiss", "get_flash_with_id, full mask, no match", 50e-6),
        ("BM_GetFlashWithIdPartialMask", "get_flash_with_id, partial mask", 50e-6),
        ("BM_GetFlashWithDensityHit", "get_flash_with_density, match", 50e-6),
        ("BM_GetFlashWithDensityMiss", "get_flash_with_density, no match", 50e-6),
        ("BM_GetFlashWithIdAfterEdit", "get_flash_with_id after an edit in place", None),
        ("BM_GetFlashWithIdAfterMapChange", "get_flash_with_id after a change of the map", None),
        ("BM_NewConfigDeviceList/ignore_filter:0", "get_new_config_device_list, filtered", 2e-3),
        ("BM_NewConfigDeviceList/ignore_filter:1", "get_new_config_device_list, all", 2e-3),
        ("BM_LegacyConfigDeviceList/ignore_filter:0", "get_legacy_config_device_list, filtered", 2e-3),
        ("BM_LegacyConfigDeviceList/ignore_filter:1", "get_legacy_config_device_list, all", 2e-3),
    ]
    for key, fig, limit in limits:
        b = look[key]
        extra = " (%d names)" % b["names"] if "names" in b else ""
        row(fig + extra, fmt_time(b["seconds"]), "", "",
            "<= " + fmt_time(limit) if limit else "none", limit is None or b["seconds"] <= limit)

    u = save["BM_UpdateDbNewDevice"]["seconds"]
    ua = save["BM_UpdateDbAnchor"]["seconds"]
    row("update_db, new device (1,000 files)", fmt_time(u), fmt_time(ua) + " write_xml",
        "%.2f" % (u / ua), "<= 3", u / ua <= 3)
    d = save["BM_DeleteDbSharedFile/iterations:200"]["seconds"]
    da = save["BM_DeleteDbAnchor"]["seconds"]
    row("delete_db, file shared with 9 (1,000 files)", fmt_time(d),
        fmt_time(da) + " write_xml of 9", "%.2f" % (d / da), "none", True)

    # The flow check (`vorn verify --all`): the shipped database, and generated ones to show
    # that it grows linearly with the devices.
    flow, _ = medians(os.path.join(out, "bench_flow_check.json"))
    s = flow["BM_VerifyShippedWithLoad"]["seconds"]
    row("verify --all, shipped database, load and check", fmt_time(s), "", "", "< 1 s", s < 1)
    per_check = {}
    for n in (100, 1000, 10000):
        b = flow["BM_VerifyGenerated/%d" % n]
        per_check[n] = b["seconds"] / b["devices"]
        row("flow check, %d generated devices and the shipped ones" % n, fmt_time(b["seconds"]),
            "", "", "none", True)
    r = per_check[10000] / per_check[1000]
    row("flow check per device, 10,000 / 1,000", fmt_time(per_check[10000]),
        fmt_time(per_check[1000]), "%.2f" % r, "<= 1.2", r <= 1.2)

    for m in mem:
        if m["devices"] == 1300:
            # One file: what it costs beside the database loaded with it, against its size.
            continue
        r = m["peak_after_load"] / m["xml_bytes"]
        g = (m["peak_after_load"] - m["peak_before_load"]) / m["xml_bytes"]
        row("peak RSS after load, %d devices (growth by the load: %.1f MiB, %.2f x)" % (
            m["devices"], (m["peak_after_load"] - m["peak_before_load"]) / 2**20, g),
            "%.1f MiB" % (m["peak_after_load"] / 2**20), "%.1f MiB XML" % (m["xml_bytes"] / 2**20),
            "%.2f" % r, "<= 2 (at 10,000)", r <= 2 if m["devices"] == 10000 else True)
    for m in mem:
        if m["devices"] != 1300:
            continue
        # The whole process, shipped database included, against the one user file it read.
        r = m["peak_after_load"] / m["user_bytes"]
        row("peak RSS after loading one user file of %.1f MiB" % (m["user_bytes"] / 2**20),
            "%.1f MiB" % (m["peak_after_load"] / 2**20), "%.1f MiB file" % (
                m["user_bytes"] / 2**20), "%.2f" % r, "<= 4", r <= 4)

if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else ".")
