#!/usr/bin/env python3
"""scripts/testdb start, scripts/test and scripts/demo with the database port held by another
program (this one): each stops at once with exit 2 and names it, before it builds or starts
anything. TESTDB_PORT puts a port of this test's own in place of 3389.

Usage: port_taken.py SOURCE_DIR
"""
import os, re, socket, subprocess, sys, tempfile, time

source = sys.argv[1]
holder = socket.socket()
holder.bind(("127.0.0.1", 0))
holder.listen()
port = holder.getsockname()[1]
wanted = re.compile(
    rf"port {port} is in use by another program \([^,]+, pid {os.getpid()}\); stop it or run the "
    r"tests in a network namespace of their own")

failures = []
with tempfile.TemporaryDirectory() as tmp:
    env = dict(os.environ, TESTDB_PORT=str(port), TESTDB_DIR=f"{tmp}/db", BUILD_DIR=f"{tmp}/build")
    for argv in (["scripts/testdb", "start"], ["scripts/testdb", "check-port"], ["scripts/test"],
                 ["scripts/demo", "--offscreen"], ["scripts/demo", "--check"]):
        began = time.monotonic()
        run = subprocess.run(argv, cwd=source, env=env, stdin=subprocess.DEVNULL,
                             capture_output=True, text=True, timeout=50)
        took = time.monotonic() - began
        what = " ".join(argv)
        if run.returncode != 2:
            failures.append(f"{what}: exit {run.returncode}, wanted 2")
        if not wanted.search(run.stderr):
            failures.append(f"{what}: stderr [{run.stderr.strip()}] does not name the port's holder")
        # At once: a start used to wait 30 s for a server that could never bind.
        if took > 10:
            failures.append(f"{what}: took {took:.1f} s")
        for left in ("db", "build"):
            if os.path.exists(f"{tmp}/{left}"):
                failures.append(f"{what}: made {left}/ before checking the port")
for f in failures:
    print(f, file=sys.stderr)
print("all stopped at once, naming the port's holder" if not failures else f"{len(failures)} failures")
sys.exit(1 if failures else 0)
