#!/usr/bin/env python3
"""Helpers of tests/bench/install_bench.sh.

  install_bench_tool.py game DIR big|small [MEDIA_MB]
      a generated game folder: big = incompressible media files (MEDIA_MB MiB in all),
      compressible scripts and a thousand small files; small = 600 small files. The same
      bytes on every run (seeded).
  install_bench_tool.py measure OUT WINESERVER_PID CMD...
      runs CMD and writes "wall cpu NAME=CPU..." (seconds) into OUT: wall until CMD ends;
      CPU of CMD and of every process it leaves behind (reaped here as their subreaper, up
      to 60 s) plus what the prefix's wineserver spent meanwhile, then the same by name.
  install_bench_tool.py median FILE...
      per file: its name, the medians of its wall and CPU columns, the count of runs and
      the median CPU of each process name.
"""
import ctypes
import os
import random
import resource
import statistics
import subprocess
import sys
import time


def make_game(root, kind, media_mb):
    rng = random.Random(21)
    os.makedirs(root, exist_ok=True)

    def put(rel, data):
        path = os.path.join(root, *rel.split('/'))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data)

    words = [b'scene', b'label', b'jump', b'wait', b'text', b'voice', b'bgm', b'fade', b'if', b'flag',
             b'\x83\x65\x83\x4c\x83\x58\x83\x67', b'\x89\xe6\x91\x9c', b'\x89\xb9\x8a\x79']

    def script(size):
        out = bytearray()
        while len(out) < size:
            out += b' '.join(rng.choice(words) for _ in range(rng.randint(3, 12))) + b'\r\n'
        return bytes(out[:size])

    if kind == 'big':
        count = 8
        for i in range(count):
            put('media/movie%02d.dat' % i, rng.randbytes(media_mb * 1048576 // count))
        for i in range(150):
            put('scripts/scene%03d.txt' % i, script(rng.randint(20000, 120000)))
        for i in range(1000):
            put('data/%02d/item%04d.dat' % (i // 50, i), script(rng.randint(200, 6000)))
    else:
        for i in range(600):
            data = script(rng.randint(500, 8000)) if i % 3 else rng.randbytes(rng.randint(500, 8000))
            put('data/%02d/file%03d.dat' % (i // 40, i), data)


def cpu_seconds(pid):
    with open('/proc/%d/stat' % pid) as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')


def measure(out, server_pid, command):
    # Wine's processes leave their parent at once; as subreaper they come back here, so
    # each one's processor time is taken as it is reaped, by its name.
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(36, 1, 0, 0, 0) != 0:  # PR_SET_CHILD_SUBREAPER
        sys.exit('measure: cannot become a subreaper')
    server_before = cpu_seconds(server_pid)
    start = time.monotonic()
    child = subprocess.Popen(command)
    by_name = {}
    wall = None
    status = 0
    deadline = None
    while True:
        try:
            info = os.waitid(os.P_ALL, 0, os.WEXITED | os.WNOHANG | os.WNOWAIT)
        except ChildProcessError:
            break
        if info is None:
            if deadline and time.monotonic() > deadline:
                break
            time.sleep(0.005)
            continue
        try:
            with open('/proc/%d/stat' % info.si_pid) as f:
                name = f.read().split('(', 1)[1].rsplit(')', 1)[0]
        except OSError:
            name = '?'
        pid, code, usage = os.wait4(info.si_pid, 0)
        by_name[name] = by_name.get(name, 0.0) + usage.ru_utime + usage.ru_stime
        if pid == child.pid:
            wall = time.monotonic() - start
            status = os.waitstatus_to_exitcode(code)
            deadline = time.monotonic() + 60  # what it left behind may run on a while
    server = cpu_seconds(server_pid) - server_before
    total = sum(by_name.values()) + server
    parts = ' '.join('%s=%.2f' % (n.replace(' ', '_'), t) for n, t in sorted(by_name.items()) if t >= 0.005)
    with open(out, 'w') as f:
        f.write('%.3f %.3f wineserver=%.2f %s\n' % (wall, total, server, parts))
    sys.exit(status)


def median(files):
    for name in files:
        with open(name) as f:
            rows = [line.split() for line in f if line.strip()]
        parts = {}
        for row in rows:
            for field in row[2:]:
                key, value = field.split('=')
                parts.setdefault(key, []).append(float(value))
        # A process missing from a run counts as 0 there.
        split = ' '.join('%s=%.2f' % (k, statistics.median(v + [0.0] * (len(rows) - len(v))))
                         for k, v in sorted(parts.items()))
        print('%s %.3f %.3f %d %s' % (name, statistics.median(float(r[0]) for r in rows),
                                      statistics.median(float(r[1]) for r in rows), len(rows), split))


if __name__ == '__main__':
    what = sys.argv[1] if len(sys.argv) > 1 else ''
    if what == 'game':
        make_game(sys.argv[2], sys.argv[3], int(sys.argv[4]) if len(sys.argv) > 4 else 64)
    elif what == 'measure':
        measure(sys.argv[2], int(sys.argv[3]), sys.argv[4:])
    elif what == 'median':
        median(sys.argv[2:])
    else:
        sys.exit(__doc__)
