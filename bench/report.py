#!/usr/bin/env python3
"""Prints bench/run's table from its raw results and judges the targets.

    report.py RESULTS.tsv [--quick] [--strict]

A results row is: id, case, server, then either "key=value ..." fields (from wrk_report.lua,
rss_kib, startup_ms) or "note=<why it was not measured>".

Exit status: 1 when PeloTest answered a request with an error under load; with --strict also
when a target is missed or not measured; else 0.
"""

import sys

MIB = 1024 * 1024

# (PeloTest row, reference row, reference name, minimum ratio PeloTest/reference or None)
THROUGHPUT_TARGETS = [
    ("1-pic-pelotest", "1-pic-nginx", "nginx", 1.0),
    ("1-pic-pelotest", "1-pic-python", "http.server", 20.0),
    ("1-page-pelotest", "1-page-nginx", "nginx", 1.0),
    ("1-page-pelotest", "1-page-python", "http.server", 20.0),
    ("2-200k-pelotest", "2-200k-nginx", "nginx", None),
    ("2-20m-pelotest", "2-20m-nginx", "nginx", 1.0),
    ("3-on-pelotest", "3-nginx", "nginx", 0.6),
    ("3-on-pelotest", "3-php", "php -S", 30.0),
    ("3-off-pelotest", "3-nginx", "nginx", 0.6),
    ("3-off-pelotest", "3-php", "php -S", 30.0),
]

# (row, base row, what the base is, largest allowed ratio of the time per request (p50))
# 100,000 variables, 10,000 tree nodes and a full log: at most 1.2x the base case (1,000
# variables, 10 nodes, MaxLog 100); 10 to 1,000 variables nearly flat; template length: at most
# linear (100x the lines may cost at most 100x).
SCALING_TARGETS = [
    ("4-base", "4-vars10", "10 vars", 1.5),
    ("4-vars100k", "4-base", "base", 1.2),
    ("4-vars100k-off", "4-base", "base", 1.2),
    ("4-nodes10k", "4-base", "base", 1.2),
    ("4-log9999", "4-base", "base", 1.2),
    ("4-base", "4-lines100", "100 lines", 2.0),
    ("4-lines10k", "4-lines100", "100 lines", 100.0),
]

# (row, largest allowed median time from start to the "Listening on" line, in ms)
STARTUP_TARGET = ("5-startup", 50.0)

RSS_TARGET = ("2-20m-pelotest", "2-idle-pelotest", 2.0)  # peak under load < 2x idle

# (row, largest allowed p99 and maximum latency in ms): static answers while another client sorts
# the variables back to back.
LATENCY_TARGET = ("6-sorting-pelotest", 20.0, 50.0)


def parse(path):
    rows = {}
    order = []
    for line in open(path, encoding="utf-8"):
        parts = line.rstrip("\n").split("\t")
        if len(parts) < 4:
            continue
        rid, case, server = parts[:3]
        row = {"id": rid, "case": case, "server": server}
        rest = parts[3:]
        if rest[0].startswith("note="):
            row["note"] = rest[0][5:]
        else:
            for field in " ".join(rest).split():
                key, _, value = field.partition("=")
                row[key] = value
        rows[rid] = row
        order.append(rid)
    return rows, order


def num(row, key):
    try:
        return float(row.get(key, ""))
    except ValueError:
        return None


def rps(row):
    req, dur = num(row, "requests"), num(row, "duration_us")
    return req / (dur / 1e6) if req and dur else None


def errors(row):
    keys = ("connect", "read", "write", "status", "timeout")
    if not any(k in row for k in keys):
        return None
    return int(sum(num(row, k) or 0 for k in keys))


def ms(us):
    if us is None:
        return "-"
    return "%.2f" % (us / 1000.0) if us < 100000 else "%.0f" % (us / 1000.0)


def main():
    path = sys.argv[1]
    quick = "--quick" in sys.argv
    strict = "--strict" in sys.argv
    rows, order = parse(path)

    judged = []  # (row id, text, met: True/False/None)

    def judge(rid, text, met):
        if quick and met is not None:
            text += " (quick run: not judged)"
            met = None
        judged.append((rid, text, met))

    for pid, ref, name, minimum in THROUGHPUT_TARGETS:
        if pid not in rows or ref not in rows:
            continue
        a, b = rps(rows[pid]), rps(rows[ref])
        if a is None or b is None:
            if minimum:
                judge(pid, "vs %s: not measured" % name, False)
            continue
        ratio = a / b
        if minimum is None:
            judge(pid, "%.2fx %s" % (ratio, name), None)
        else:
            ok = ratio >= minimum
            judge(pid, "%.2fx %s (>= %g: %s)" % (ratio, name, minimum, "met" if ok else "MISSED"),
                  ok)

    rid, base, limit = RSS_TARGET
    if rid in rows and base in rows:
        peak, idle = num(rows[rid], "rss_kib"), num(rows[base], "rss_kib")
        if peak and idle:
            ratio = peak / idle
            ok = ratio < limit
            judge(rid, "peak RSS %.2fx idle (< %g: %s)" % (ratio, limit, "met" if ok else "MISSED"),
                  ok)
        else:
            judge(rid, "peak RSS: not measured", False)

    for rid, base, name, limit in SCALING_TARGETS:
        if rid not in rows or base not in rows:
            continue
        a, b = num(rows[rid], "p50_us"), num(rows[base], "p50_us")
        if not a or not b:
            judge(rid, "vs %s: not measured" % name, False)
            continue
        ratio = a / b
        ok = ratio <= limit
        judge(rid, "%.2fx %s (<= %g: %s)" % (ratio, name, limit, "met" if ok else "MISSED"), ok)

    rid, limit = STARTUP_TARGET
    if rid in rows:
        startup = num(rows[rid], "startup_ms")
        if startup is None:
            judge(rid, "start-up: not measured", False)
        else:
            ok = startup <= limit
            judge(rid, "<= %g ms: %s" % (limit, "met" if ok else "MISSED"), ok)

    rid, p99_limit, max_limit = LATENCY_TARGET
    if rid in rows and "note" not in rows[rid]:
        p99, worst = num(rows[rid], "p99_us"), num(rows[rid], "max_us")
        if p99 is None or worst is None:
            judge(rid, "latency: not measured", False)
        else:
            ok = p99 / 1000 <= p99_limit and worst / 1000 <= max_limit
            judge(rid, "%s sorts meanwhile; max %s ms (p99 <= %g, max <= %g: %s)"
                  % (rows[rid].get("sorts", "?"), ms(worst), p99_limit, max_limit,
                     "met" if ok else "MISSED"), ok)

    # Errors under load are failures of PeloTest, whatever the mode.
    load_failure = False
    for rid in order:
        row = rows[rid]
        e = errors(row)
        if row["server"] == "PeloTest" and e:
            load_failure = True
            judge(rid, "FAILED: %d error responses or broken connections" % e, False)

    header = ["case", "server", "req/s", "MiB/s", "p50 ms", "p99 ms", "errors", "peak RSS MiB",
              "ratio, target"]
    table = []
    for rid in order:
        row = rows[rid]
        r = rps(row)
        mibps = None
        if r is not None and num(row, "bytes") is not None:
            mibps = num(row, "bytes") / (num(row, "duration_us") / 1e6) / MIB
        e = errors(row)
        rss = num(row, "rss_kib")
        notes = [t for (i, t, _) in judged if i == rid]
        if "note" in row:  # not measured: the reason says it all
            notes = [row["note"]]
        if "startup_ms" in row:
            notes.insert(0, "listening after %s ms (median; runs %s ms)"
                         % (row["startup_ms"], row.get("runs", "")))
        table.append([
            row["case"], row["server"],
            "%.0f" % r if r is not None else "-",
            ("%.1f" % mibps) if mibps is not None else "-",
            ms(num(row, "p50_us")), ms(num(row, "p99_us")),
            str(e) if e is not None else "-",
            ("%.1f" % (rss / 1024)) if rss else "-",
            "; ".join(notes),
        ])

    widths = [max(len(str(x[i])) for x in table + [header]) for i in range(len(header) - 1)]
    right = {2, 3, 4, 5, 6, 7}

    def fmt(cells):
        out = []
        for i, c in enumerate(cells[:-1]):
            out.append(c.rjust(widths[i]) if i in right else c.ljust(widths[i]))
        return "  ".join(out + [cells[-1]]).rstrip()

    print(fmt(header))
    print(fmt(["-" * w for w in widths] + ["-" * 13]))
    last_group = None
    for cells, rid in zip(table, order):
        group = rid.split("-")[0]
        if last_group is not None and group != last_group:
            print()
        last_group = group
        print(fmt(cells))

    print()
    print("errors: non-2xx answers, timeouts and socket errors counted by wrk (php -S closes every")
    print("connection after its answer, which wrk counts as a read error). Case 4 and 5: one")
    print("connection, so p50 is the time to answer one request.")
    met = sum(1 for _, _, m in judged if m is True)
    missed = [(i, t) for i, t, m in judged if m is False]
    print()
    if quick:
        print("targets: quick run, not judged")
    else:
        print("targets: %d met, %d missed or not measured" % (met, len(missed)))
        for i, t in missed:
            print("  %s: %s" % (rows[i]["case"], t))
    if load_failure:
        return 1
    if strict and missed:
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
