#!/usr/bin/env python3
"""Turns bench/run's result lines into the benchmark table (plain text or markdown).

Each line of --results is "NAME key=value ...": NAME is ROUTE.SERVER.N for wrk runs (N the
round); a table row shows the median of a ROUTE.SERVER's rounds. Comparisons are made round by
round (the subject and its anchor ran in turns) and judged on the median of those ratios.
"memory.rss", "idle.rss.N", "burst.SERVER", "dbdown.status" and "load.start"/"load.end" carry their
own figures.
"""
import argparse, datetime, os, platform, statistics, subprocess, sys

ROUTES = {
    "gtin": "GET /api/gtin/:id",
    "fotoexiste": "GET /api/fotoexiste/:id",
    "desc": "GET /api/desc/:id",
    "grava": "POST /api/grava",
    "history": "GET /api/fotoexiste/:id, history",
    "idle": "GET /api/fotoexiste/:id, idle connections",
    "mixed": "GET /api/fotoexiste/:id, mixed",
    "dbdown": "database stopped",
}
SERVERS = {
    "mirovandel": "mirovandel",
    "nginx": "nginx (sendfile, %d workers)",
    "beast": "bare Beast, thread per connection",
    "httplib": "cpp-httplib, 32-thread pool",
    "dbloop": "bare MariaDB C client loop, 32 threads",
    "on": "mirovandel, history shown",
    "off": "mirovandel, history detached",
    "without": "mirovandel, no idle connection",
    "with": "mirovandel, 10,000 idle connections open",
    "a7cac42": "mirovandel at a7cac42, thread per connection",
    "alone": "mirovandel, alone",
}
# Labels that depend on the route as well.
LABELS = {
    "mixed.desc": "mirovandel, 32 /api/desc clients beside it",
    "mixed.grava": "mirovandel, 32 /api/grava clients beside it",
    "mixed.descload": "the 32 /api/desc clients (from 1 s before to 2 s after)",
    "mixed.gravaload": "the 32 /api/grava clients (from 1 s before to 2 s after)",
    "dbdown.desc": "mirovandel, GET /api/desc/:id (answered failures)",
    "dbdown.fotoexiste": "mirovandel, GET /api/fotoexiste/:id beside it, 32 connections",
}
# (subject, anchor, ">=" or ">" or None for a comparison without a goal, req/s ratio)
GOALS = [
    ("gtin.mirovandel", "gtin.nginx", ">=", 1.0),
    ("fotoexiste.mirovandel", "fotoexiste.beast", ">=", 1.0),
    ("fotoexiste.mirovandel", "fotoexiste.httplib", None, None),
    ("desc.mirovandel", "desc.dbloop", ">=", 0.6),
    ("desc.mirovandel", "desc.a7cac42", None, None),
    ("grava.mirovandel", "grava.dbloop", ">=", 0.6),
    ("grava.mirovandel", "grava.a7cac42", ">", 1.0),
    ("history.on", "history.off", ">=", 0.95),
    ("idle.with", "idle.without", ">=", 0.9),
]
# (subject, anchor, most p50 and p99 ratio)
LATENCY_GOALS = [
    ("mixed.desc", "mixed.alone", 2.0),
    ("mixed.grava", "mixed.alone", 2.0),
]
# Runs whose non-2xx answers are the expected outcome, not errors.
ANSWERED_FAILURES = ("dbdown.desc",)
THREADS_PER_S_LIMIT = 1.0
GROWTH_PER_REQUEST_LIMIT = 1.0  # bytes of VmRSS per request over the second half of the memory run
P99_LIMIT_MS = 20.0
IDLE_P99_LIMIT_MS = 5.0
IDLE_BYTES_LIMIT = 16 * 1024
SUBJECTS = ("mirovandel", "on", "off", "with", "without", "mixed.alone", "mixed.desc", "mixed.grava",
            "dbdown.desc", "dbdown.fotoexiste")


def is_subject(key):
    return key in SUBJECTS or (key.split(".")[1] in SUBJECTS and not key.startswith(("mixed.", "dbdown.")))


def parse(path):
    runs, extra = {}, {"idle": []}
    with open(path) as f:
        for line in f:
            parts = line.split()
            if not parts:
                continue
            name, kv = parts[0], dict(p.split("=", 1) for p in parts[1:] if "=" in p and p != "RESULT")
            if name == "memory.rss":
                extra["memory"] = {k: (v if k == "between" else int(v)) for k, v in kv.items()}
            elif name.startswith("idle.rss."):
                extra["idle"].append({k: int(v) for k, v in kv.items()})
            elif name.startswith("burst."):
                extra.setdefault("burst", {})[name.split(".")[1]] = {k: float(v) for k, v in kv.items()}
            elif name.startswith("load.") or name == "dbdown.status":
                extra[name] = kv
            else:
                bits = name.split(".")
                key = ".".join(bits[:2])
                rnd = int(bits[2]) if len(bits) > 2 and bits[2].isdigit() else 1
                run = {k: float(v) for k, v in kv.items()}
                if run.get("cpu_ticks") is not None and run.get("requests"):
                    run["cpu_us"] = run["cpu_ticks"] / run["ticks_per_s"] * 1e6 / run["requests"]
                key_errors = ("connect_err", "read_err", "write_err", "timeout_err")
                if key not in ANSWERED_FAILURES:
                    key_errors += ("status_err",)
                run["errors"] = sum(run.get(k, 0) for k in key_errors)
                if run.get("threads_created") is not None and run.get("threads_seconds"):
                    run["threads_per_s"] = run["threads_created"] / run["threads_seconds"]
                    if run.get("loop_threads_made") is not None:
                        run["loop_threads_per_s"] = run["loop_threads_made"] / run["threads_seconds"]
                runs.setdefault(key, {})[rnd] = run
    table = {}
    for key, rounds in runs.items():
        rs = list(rounds.values())
        row = {k: statistics.median(r[k] for r in rs if k in r) for k in rs[0] if k != "errors"}
        row["errors"] = sum(r["errors"] for r in rs)
        row["runs"] = len(rs)
        row["rounds"] = rounds
        table[key] = row
    return table, extra


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def commit():
    try:
        here = os.path.dirname(os.path.abspath(__file__))
        return subprocess.run(["git", "-C", here, "rev-parse", "--short", "HEAD"], capture_output=True,
                              text=True, check=True).stdout.strip()
    except Exception:
        return "unknown"


def fmt_table(header, rows, md, align):
    if md:
        lines = ["| " + " | ".join(header) + " |",
                 "|" + "|".join("---:" if a == "r" else "---" for a in align) + "|"]
        lines += ["| " + " | ".join(r) + " |" for r in rows]
        return lines
    widths = [max(len(x) for x in col) for col in zip(header, *rows)]
    def line(cells):
        return "  ".join(c.rjust(w) if a == "r" else c.ljust(w) for c, w, a in zip(cells, widths, align)).rstrip()
    return [line(header)] + [line(r) for r in rows]


def threads_made(r):
    if "threads_per_s" not in r:
        return "-"
    if "loop_threads_per_s" not in r:
        return "%.1f" % r["threads_per_s"]
    return "%.1f (%.1f)" % (r["threads_per_s"], r["loop_threads_per_s"])


def yes_no(ok, md):
    return "yes" if ok else ("**no**" if md else "NO")


def verdict(ok, md):
    return ("met" if ok else ("**missed**" if md else "MISSED"))


def load_text(extra):
    def one(key):
        kv = extra.get(key)
        return "%s/%s/%s" % (kv["one"], kv["five"], kv["fifteen"]) if kv else "?"
    return "load average (1/5/15 min) %s at the start, %s at the end" % (one("load.start"), one("load.end"))


def render(table, extra, args):
    md = args.markdown
    cores = os.cpu_count() or 0
    out = []
    now = datetime.datetime.now().strftime("%Y-%m-%d %H:%M %Z").strip()
    if md:
        out.append("# Benchmark results\n")
        out.append("Written by `bench/run` (see README.md, Benchmarks). Machine: %d cores (%s); %s; "
                   "commit %s; %s. wrk with %d threads and %d connections, %d s per run after a 1 s "
                   "warm-up; subject and anchors take turns, rounds: %d; the table shows the median of "
                   "the rounds, comparisons each round's ratio and their median. Everything on "
                   "127.0.0.1.\n" % (cores, cpu_model(), now, commit(), load_text(extra), args.threads,
                                     args.connections, args.seconds, args.rounds))
    else:
        out.append("Machine: %s." % load_text(extra))
        out.append("")

    rows = []
    def order(k):
        route, server = k.split(".")
        return (list(ROUTES).index(route) if route in ROUTES else 99,
                list(SERVERS).index(server) if server in SERVERS else 99)
    for key in sorted(table, key=order):
        r = table[key]
        route, server = key.split(".")
        label = LABELS.get(key, SERVERS.get(server, server))
        if "%d" in label:
            label = label % cores
        rows.append([ROUTES.get(route, route), label, "%.0f" % r["rps"], "%.2f" % (r["p50_us"] / 1000),
                     "%.2f" % (r["p99_us"] / 1000), "%.1f" % r["cpu_us"] if "cpu_us" in r else "-",
                     threads_made(r),
                     "%.0f" % r["threads_alive"] if "threads_alive" in r else "-", "%d" % r["errors"]])
    out += fmt_table(["route", "server", "req/s", "p50 ms", "p99 ms", "CPU µs/req", "threads made/s", "threads",
                      "errors"], rows, md, ["l", "l", "r", "r", "r", "r", "r", "r", "r"])
    out.append("")
    out.append("Medians of the rounds. CPU µs/req: the server's user+system time over the run per answered "
               "request (nginx: master and workers; the database loop's is the MariaDB server's and is not "
               "counted). Threads made/s: threads the server created over the measured run (perf stat, "
               "task:task_newtask) per second, in brackets those the HTTP server made to run its loops "
               "(hand-offs); threads: alive at its end.")
    out.append("")

    verdicts = []
    rows = []
    for subject, anchor, op, goal in GOALS:
        if subject not in table or anchor not in table:
            continue
        s, a = table[subject]["rounds"], table[anchor]["rounds"]
        per_round = [s[n]["rps"] / a[n]["rps"] for n in sorted(s) if n in a and a[n]["rps"]]
        if not per_round:
            continue
        ratio = statistics.median(per_round)
        p99 = statistics.median(s[n]["p99_us"] / a[n]["p99_us"] for n in sorted(s) if n in a and a[n]["p99_us"])
        cells = ["%s / %s" % (subject, anchor), ", ".join("%.2f" % x for x in per_round), "%.2f" % ratio,
                 "%.2f" % p99]
        if op is None:
            cells += ["-", "-"]
        else:
            ok = ratio >= goal if op == ">=" else ratio > goal
            verdicts.append(ok)
            cells += ["%s %.2f" % (op, goal), yes_no(ok, md)]
        rows.append(cells)
    if rows:
        out += fmt_table(["comparison", "req/s ratio by round", "median", "p99 ratio", "goal", "met"], rows, md,
                         ["l", "l", "r", "r", "r", "l"])
        out.append("")

    rows = []
    for subject, anchor, most in LATENCY_GOALS:
        if subject not in table or anchor not in table:
            continue
        s, a = table[subject]["rounds"], table[anchor]["rounds"]
        both = [n for n in sorted(s) if n in a and a[n]["p50_us"] and a[n]["p99_us"]]
        if not both:
            continue
        p50 = [s[n]["p50_us"] / a[n]["p50_us"] for n in both]
        p99 = [s[n]["p99_us"] / a[n]["p99_us"] for n in both]
        refused = sum(s[n]["errors"] for n in both)
        answered = sum(s[n]["requests"] for n in both)
        # Quick refusals would only flatter the latencies.
        ok = statistics.median(p50) <= most and statistics.median(p99) <= most and refused <= answered / 1000
        verdicts.append(ok)
        rows.append(["%s / %s" % (subject, anchor), ", ".join("%.2f" % x for x in p50), "%.2f" % statistics.median(p50),
                     ", ".join("%.2f" % x for x in p99), "%.2f" % statistics.median(p99),
                     "%.1f%%" % (100.0 * refused / answered if answered else 0), "<= %.1f, 2xx" % most, yes_no(ok, md)])
    if rows:
        out += fmt_table(["comparison", "p50 ratio by round", "median", "p99 ratio by round", "median",
                          "not 2xx", "goal", "met"], rows, md, ["l", "l", "r", "l", "r", "r", "r", "l"])
        out.append("")
        out.append("Latencies of /api/fotoexiste with the others beside it, against alone; not 2xx: its share of "
                   "answers that were not 2xx (their latencies are counted in the ratios). Goal: p50 and p99 at most "
                   "twice the figures alone, and (nearly) every answer 2xx (at most 0.1 % others).")
        out.append("")

    made = [(k, r["threads_per_s"]) for k, r in table.items() if is_subject(k) and "threads_per_s" in r]
    if made:
        k, rate = max(made, key=lambda x: x[1])
        ok = rate < THREADS_PER_S_LIMIT
        verdicts.append(ok)
        out.append("Most threads created per second by mirovandel over a measured run: %.1f (%s); goal under %.0f "
                   "on every route: %s." % (rate, k, THREADS_PER_S_LIMIT, verdict(ok, md)))
        out.append("")
    if "dbdown.desc" in table:
        d = table["dbdown.desc"]
        f = table.get("dbdown.fotoexiste")
        status = extra.get("dbdown.status", {}).get("code", "?")
        out.append("Database stopped while the pool held open sessions: %.0f lookups answered per second (a sample "
                   "answered %s; %d answers not 2xx, %d wrk errors), p50 %.2f ms, p99 %.2f ms; %s." % (
                       d["rps"], status, d.get("status_err", 0), d["errors"], d["p50_us"] / 1000,
                       d["p99_us"] / 1000,
                       ("/api/fotoexiste beside it: %.0f req/s, p99 %.2f ms, %d of %d answers not 2xx" % (
                           f["rps"], f["p99_us"] / 1000, f["errors"], f["requests"])) if f
                       else "/api/fotoexiste not measured"))
        out.append("")

    worst = [(k, r["p99_us"] / 1000) for k, r in table.items() if is_subject(k)]
    if worst:
        k, ms = max(worst, key=lambda x: x[1])
        ok = ms < P99_LIMIT_MS
        verdicts.append(ok)
        out.append("Worst p99 of mirovandel: %.2f ms (%s); goal under %.0f ms: %s." % (
            ms, k, P99_LIMIT_MS, verdict(ok, md)))
        out.append("")
    if "idle.with" in table:
        ms = table["idle.with"]["p99_us"] / 1000
        ok = ms < IDLE_P99_LIMIT_MS
        verdicts.append(ok)
        out.append("p99 of /api/fotoexiste with 10,000 idle connections open: %.2f ms; goal under %.0f ms: %s." % (
            ms, IDLE_P99_LIMIT_MS, verdict(ok, md)))
    if extra["idle"]:
        per = [(r["rss1_kb"] - r["rss0_kb"]) * 1024.0 / r["clients"] for r in extra["idle"] if r.get("clients")]
        if per:
            b = statistics.median(per)
            ok = b < IDLE_BYTES_LIMIT
            verdicts.append(ok)
            out.append("Resident size per idle connection: %s bytes by round (%s connections held; %s descriptors "
                       "open after each run with them); median %.0f bytes; goal under %d: %s." % (
                           ", ".join("%.0f" % x for x in per),
                           ", ".join(str(r["clients"]) for r in extra["idle"]),
                           ", ".join(str(r.get("fds_after", "?")) for r in extra["idle"]), b, IDLE_BYTES_LIMIT,
                           verdict(ok, md)))
        out.append("")
    for server, b in sorted(extra.get("burst", {}).items()):
        out.append("Burst, %d connections at once to %s (listen queue 15): %d served, all of them within %.1f s "
                   "(half within %.2f s); %d refused (no connection, reset or 503), %d without an answer." % (
                       b["clients"], server, b["served"], b["all_ms"] / 1000, b["p50_ms"] / 1000, b["refused"],
                       b["failed"]))
        out.append("")
    memory = extra.get("memory")
    if memory:
        growth = memory["rss2_kb"] / memory["rss1_kb"] - 1.0 if memory["rss1_kb"] else 0.0
        ok = growth <= 0.10
        verdicts.append(ok)
        out.append("Memory (VmRSS, a mix of the nine GET routes with misses, history shown): %d kB after %d "
                   "requests, %d kB after %d requests (%+.1f%%); goal within 10%%: %s." % (
                       memory["rss1_kb"], memory["requests1"], memory["rss2_kb"], memory["requests2"],
                       growth * 100, verdict(ok, md)))
        between = [p.split(":") for p in memory.get("between", "").split(",") if ":" in p]
        if between:
            out.append("On the way: " + ", ".join("%s kB after %s requests" % (kb, n) for n, kb in between) + ".")
            # The second half: from the last reading on the way to the end.
            n0, kb0 = int(between[-1][0]), int(between[-1][1])
            if memory["requests2"] > n0:
                per = (memory["rss2_kb"] - kb0) * 1024.0 / (memory["requests2"] - n0)
                ok = per < GROWTH_PER_REQUEST_LIMIT
                verdicts.append(ok)
                out.append("Growth per request from %d to %d requests: %.2f bytes; goal under %.0f (no growth per "
                           "request): %s." % (n0, memory["requests2"], per, GROWTH_PER_REQUEST_LIMIT,
                                              verdict(ok, md)))
        out.append("")
    if verdicts:
        out.append("All goals met." if all(verdicts) else "Some goals missed: see bench/NOTES.md.")
    return "\n".join(out).rstrip() + "\n"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--results", required=True)
    ap.add_argument("--seconds", type=int, default=10)
    ap.add_argument("--connections", type=int, default=32)
    ap.add_argument("--threads", type=int, default=4)
    ap.add_argument("--rounds", type=int, default=1)
    ap.add_argument("--markdown", action="store_true")
    args = ap.parse_args()
    table, extra = parse(args.results)
    sys.stdout.write(render(table, extra, args))


if __name__ == "__main__":
    main()
