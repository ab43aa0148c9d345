#!/usr/bin/env python3
"""The requests of the README's "Routes" section, with their answers and the history they leave.

Usage: readme_routes.py README list BASE
       readme_routes.py README check BASE PICTURES HISTORY
  list   prints each curl command of the section, in order, http://127.0.0.1:9000 replaced by BASE
  check  runs them against BASE and compares each answer with the README's (Date headers aside),
         then waits for the window's history (the file HISTORY, one line as shown a line) to hold
         the README's lines, with PICTURES for the demo's picture folder and any date and time
"""
import re, subprocess, sys, time

README_BASE = "http://127.0.0.1:9000"


def section(lines, title, end):
    first = lines.index(title)
    last = next(i for i in range(first + 1, len(lines)) if lines[i].startswith(end))
    return lines[first + 1:last]


def indented_blocks(lines):
    """Runs of indented (or blank) lines, their indent removed, blank lines at the ends dropped."""
    blocks, block = [], None
    for line in lines + ["#"]:  # a last non-indented line closes the last block
        if line.startswith("    "):
            block = (block or []) + [line[4:]]
        elif line == "" and block is not None:
            block.append("")
        else:
            if block:
                while block and block[-1] == "":
                    block.pop()
                blocks.append(block)
            block = None
    return blocks


def requests(readme):
    """[(command, expected output lines)] of the Routes section, in order."""
    lines = open(readme, encoding="utf-8").read().split("\n")
    found = []
    for block in indented_blocks(section(lines, "## Routes", "### The history")):
        i = 0
        while i < len(block):
            if not block[i].startswith("$ curl"):
                i += 1
                continue
            command = [block[i][2:]]
            while command[-1].endswith("\\"):
                i += 1
                command.append(block[i])
            i += 1
            answer = []
            while i < len(block) and not block[i].startswith("$ "):
                answer.append(block[i])
                i += 1
            while answer and answer[-1] == "":
                answer.pop()
            found.append(("\n".join(command), answer))
    return found


def history(readme):
    lines = open(readme, encoding="utf-8").read().split("\n")
    return indented_blocks(section(lines, "### The history", "## "))[0]


def comparable(text):
    return [re.sub(r"^Date: .*", "Date: -", line) for line in text.replace("\r", "").split("\n")]


def line_pattern(line, pictures):
    line = re.sub(r"\d\d/\d\d/\d\d", "@DATE@", line, count=1)
    line = re.sub(r"\d\d:\d\d:\d\d", "@TIME@", line, count=1)
    line = re.sub(r"/tmp/mirovandel-demo\.[^/]+/files/", "@PICTURES@", line)
    pattern = re.escape(line).replace("@DATE@", "[^|]+").replace("@TIME@", "[^|]+?")
    return re.compile(pattern.replace("@PICTURES@", re.escape(pictures.rstrip("/") + "/")))


def check(readme, base, pictures, shown):
    failures = 0
    for command, answer in requests(readme):
        run = subprocess.run(["bash", "-c", command.replace(README_BASE, base)], capture_output=True)
        got = comparable(run.stdout.decode("utf-8", "replace"))
        while got and got[-1] == "":
            got.pop()
        if got != comparable("\n".join(answer)):
            failures += 1
            print(f"readme_routes: {command}\n  got:    {got}\n  README: {comparable(chr(10).join(answer))}",
                  file=sys.stderr)
    wanted = history(readme)
    for _ in range(100):  # lines reach the window in batches, a quarter of a second apart
        lines = open(shown, encoding="utf-8").read().splitlines()
        if len(lines) >= len(wanted):
            break
        time.sleep(0.1)
    for i, want in enumerate(wanted):
        got = lines[i] if i < len(lines) else "(none)"
        if not line_pattern(want, pictures).fullmatch(got):
            failures += 1
            print(f"readme_routes: history line {i + 1}\n  got:    {got}\n  README: {want}", file=sys.stderr)
    if len(lines) > len(wanted):
        failures += 1
        print(f"readme_routes: more history lines than the README's: {lines[len(wanted):]}", file=sys.stderr)
    return failures


def main():
    readme, mode, base = sys.argv[1:4]
    if mode == "list":
        for command, _ in requests(readme):
            print(command.replace(README_BASE, base))
        return 0
    count = len(requests(readme))
    failures = check(readme, base, sys.argv[4], sys.argv[5])
    if failures == 0:
        print(f"readme_routes: the README's {count} requests answer as it shows, with its history lines")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
