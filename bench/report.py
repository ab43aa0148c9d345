#!/usr/bin/env python3
"""Turns bench/run's result lines into the benchmark table (plain text or markdown).

Each line of --results is "NAME key=value ...": NAME is ROUTE.SERVER[.N]; runs with the same
ROUTE.SERVER are averaged. "memory.rss" carries the two resident sizes.
"""
import argparse, datetime, os, platform, re, subprocess, sys

ROUTES = {
    "gtin": "GET /api/gtin/:id",
    "fotoexiste": "GET /api/fotoexiste/:id",
    "desc": "GET /api/desc/:id",
    "grava": "POST /api/grava",
    "history": "GET /api/fotoexiste/:id, history",
}
SERVERS = {
    "mirovandel": "mirovandel",
    "nginx": "nginx (sendfile, %d workers)",
    "beast": "bare Beast, thread per connection",
    "httplib": "cpp-httplib, 32-thread pool",
    "dbloop": "bare MariaDB C client loop, 32 threads",
    "on": "mirovandel, history shown",
    "off": "mirovandel, history detached",
}
# (subject, anchor, least req/s ratio)
GOALS = [
    ("gtin.mirovandel", "gtin.nginx", 0.8),
    ("fotoexiste.mirovandel", "fotoexiste.beast", 0.8),
    ("fotoexiste.mirovandel", "fotoexiste.httplib", 1.0),
    ("desc.mirovandel", "desc.dbloop", 0.5),
    ("history.on", "history.off", 0.95),
]
P99_LIMIT_MS = 20.0


def parse(path):
    runs, memory = {}, None
    with open(path) as f:
        for line in f:
            parts = line.split()
            if not parts:
                continue
            name, kv = parts[0], dict(p.split("=", 1) for p in parts[1:] if "=" in p and p != "RESULT")
            if name == "memory.rss":
                memory = {k: (v if k == "between" else int(v)) for k, v in kv.items()}
                continue
            key = ".".join(name.split(".")[:2])
            run = {k: float(v) for k, v in kv.items()}
            if run.get("cpu_ticks") is not None and run.get("requests"):
                run["cpu_us"] = run["cpu_ticks"] / run["ticks_per_s"] * 1e6 / run["requests"]
            runs.setdefault(key, []).append(run)
    table = {}
    for key, rs in runs.items():
        avg = {k: sum(r[k] for r in rs) / len(rs) for k in rs[0]}
        avg["errors"] = sum(r.get(k, 0) for r in rs for k in
                            ("connect_err", "read_err", "write_err", "timeout_err", "status_err"))
        avg["runs"] = len(rs)
        table[key] = avg
    return table, memory


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


def render(table, memory, args):
    md = args.markdown
    cores = os.cpu_count() or 0
    out = []
    now = datetime.datetime.now().strftime("%Y-%m-%d %H:%M %Z").strip()
    if md:
        out.append("# Benchmark results\n")
        out.append("Written by `bench/run` (see README.md, Benchmarks). Machine: %d cores (%s); %s; "
                   "commit %s. wrk with %d threads and %d connections, %d s per run after a 1 s warm-up; "
                   "subject and anchors take turns, %d rounds, the table shows their mean. Everything on "
                   "127.0.0.1.\n" % (cores, cpu_model(), now, commit(), args.threads, args.connections,
                                     args.seconds, args.rounds))

    rows = []
    def order(k):
        route, server = k.split(".")
        return (list(ROUTES).index(route) if route in ROUTES else 99,
                list(SERVERS).index(server) if server in SERVERS else 99)
    for key in sorted(table, key=order):
        r = table[key]
        route, server = key.split(".")
        label = SERVERS.get(server, server)
        if "%d" in label:
            label = label % cores
        rows.append([ROUTES.get(route, route), label, "%.0f" % r["rps"], "%.2f" % (r["p50_us"] / 1000),
                     "%.2f" % (r["p99_us"] / 1000), "%.1f" % r["cpu_us"] if "cpu_us" in r else "-",
                     "%d" % r["errors"]])
    out += fmt_table(["route", "server", "req/s", "p50 ms", "p99 ms", "CPU µs/req", "errors"], rows, md,
                     ["l", "l", "r", "r", "r", "r", "r"])
    out.append("")
    out.append("CPU µs/req: the server's user+system time over the run per answered request (nginx: "
               "master and workers; the database loop's is the MariaDB server's and is not counted).")
    out.append("")

    verdicts = []
    rows = []
    for subject, anchor, goal in GOALS:
        if subject not in table or anchor not in table:
            continue
        s, a = table[subject], table[anchor]
        ratio = s["rps"] / a["rps"] if a["rps"] else 0.0
        ok = ratio >= goal
        verdicts.append(ok)
        p50 = s["p50_us"] / a["p50_us"] if a["p50_us"] else 0.0
        p99 = s["p99_us"] / a["p99_us"] if a["p99_us"] else 0.0
        rows.append(["%s / %s" % (subject, anchor), "%.2f" % ratio, ">= %.2f" % goal, "%.2f" % p50,
                     "%.2f" % p99, ("yes" if ok else "**no**") if md else ("yes" if ok else "NO")])
    if rows:
        out += fmt_table(["comparison", "req/s ratio", "goal", "p50 ratio", "p99 ratio", "met"], rows, md,
                         ["l", "r", "r", "r", "r", "l"])
        out.append("")
    worst = [(k, r["p99_us"] / 1000) for k, r in table.items() if k.split(".")[1] in ("mirovandel", "on", "off")]
    if worst:
        k, ms = max(worst, key=lambda x: x[1])
        ok = ms < P99_LIMIT_MS
        verdicts.append(ok)
        out.append("Worst p99 of mirovandel: %.2f ms (%s); goal under %.0f ms: %s." % (
            ms, k, P99_LIMIT_MS, "met" if ok else ("**missed**" if md else "MISSED")))
        out.append("")
    if memory:
        growth = memory["rss2_kb"] / memory["rss1_kb"] - 1.0 if memory["rss1_kb"] else 0.0
        ok = growth <= 0.10
        verdicts.append(ok)
        out.append("Memory (VmRSS, a mix of the nine GET routes with misses, history shown): %d kB after %d "
                   "requests, %d kB after %d requests (%+.1f%%); goal within 10%%: %s." % (
                       memory["rss1_kb"], memory["requests1"], memory["rss2_kb"], memory["requests2"],
                       growth * 100, "met" if ok else ("**missed**" if md else "MISSED")))
        between = [p.split(":") for p in memory.get("between", "").split(",") if ":" in p]
        if between:
            out.append("On the way: " + ", ".join("%s kB after %s requests" % (kb, n) for n, kb in between) + ".")
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
    table, memory = parse(args.results)
    sys.stdout.write(render(table, memory, args))


if __name__ == "__main__":
    main()
