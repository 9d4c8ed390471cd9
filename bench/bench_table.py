#!/usr/bin/env python3
"""Runs the benchmarks and rtcm3dump's outputs on one stream, beside the peers that are
installed (convbin for --rinex and the whole road, gpsdecode -j for --json), and prints one
table. Times are CPU seconds (user + system), the least of several runs, so that a busy
machine disturbs them less than wall-clock times.

    bench_table.py BUILD_DIR STREAM [PEER_STREAM]

convbin runs on PEER_STREAM (default STREAM), and so do the rows set beside it: convbin
fails on streams whose epochs jump back and forth in time, as captures back to back do.
"""
import json
import os
import resource
import shutil
import subprocess
import sys
import tempfile

RUNS = 3


def cpu_seconds(command, stdin_path=None, cwd=None):
    """The least CPU time of RUNS runs of command, its output thrown away; None if it fails."""
    best = None
    for _ in range(RUNS):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        with open(stdin_path or os.devnull, 'rb') as stdin:
            result = subprocess.run(command, stdin=stdin, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL, cwd=cwd)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        if result.returncode != 0:
            return None
        spent = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
        best = spent if best is None else min(best, spent)
    return best


def google_benchmarks(program, pattern):
    """name -> (MB/s, items/s) of the benchmarks of program matching pattern."""
    if not os.path.exists(program):
        return {}
    out = subprocess.run([program, '--benchmark_format=json', '--benchmark_min_time=0.3',
                          '--benchmark_filter=' + pattern],
                         capture_output=True, text=True)
    if out.returncode != 0:
        return {}
    rows = {}
    for b in json.loads(out.stdout).get('benchmarks', []):
        rows[b['name']] = (b.get('bytes_per_second', 0) / 1e6, b.get('items_per_second', 0),
                           b.get('allocs/frame'))
    return rows


def main():
    build, stream = sys.argv[1], sys.argv[2]
    peer_stream = sys.argv[3] if len(sys.argv) > 3 else stream
    dump = os.path.join(build, 'apps', 'rtcm3dump')
    work = tempfile.mkdtemp(prefix='nuvrix-bench-')
    rows = []

    def ours(label, options, on=stream, peer=None):
        seconds = cpu_seconds([dump, *options, on])
        peer_name, peer_seconds = (None, None)
        if peer and shutil.which(peer[1][0]):
            peer_name, peer_seconds = peer[0], cpu_seconds(peer[1], stdin_path=peer[2])
        rows.append((label, on, seconds, peer_name, peer_seconds))

    convbin = ('convbin', ['convbin', '-r', 'rtcm3', '-od', '-os', '-o', os.path.join(work, 'c.obs'),
                           '-n', os.path.join(work, 'c.nav'), peer_stream], None)
    gpsd = ('gpsdecode -j', ['gpsdecode', '-j'], stream)
    rinex = ['--rinex', os.path.join(work, 'rinex')]
    ours('--stats', ['--stats'])
    ours('--json', ['--json'], peer=gpsd)
    ours('(text)', [])
    ours('--raw', ['--raw'])
    ours('--obs', ['--obs'])
    ours('--obs --json', ['--obs', '--json'])
    ours('--rinex', rinex)
    ours('--stats', ['--stats'], on=peer_stream, peer=convbin)
    ours('--rinex', rinex, on=peer_stream, peer=convbin)

    print(f'CPU seconds (user + system), least of {RUNS} runs')
    names = {stream: 'A', peer_stream: 'B' if peer_stream != stream else 'A'}
    for path, name in sorted(set((p, n) for p, n in names.items()), key=lambda x: x[1]):
        print(f'  stream {name}: {path}, {os.path.getsize(path) / 1e6:.1f} MB')
    print(f'{"rtcm3dump":16} {"stream":6} {"ours s":>8} {"MB/s":>8}   {"peer":14} {"peer s":>8} {"peer/ours":>9}')
    for label, on, seconds, peer_name, peer_seconds in rows:
        size_mb = os.path.getsize(on) / 1e6
        mine = f'{seconds:8.3f} {size_mb / seconds:8.1f}' if seconds else f'{"failed":>8} {"":8}'
        peer = ''
        if peer_name:
            peer = f'{peer_name:14} ' + (f'{peer_seconds:8.3f} {peer_seconds / seconds:9.2f}'
                                         if peer_seconds and seconds else f'{"failed":>8}')
        print(f'{label:16} {names[on]:6} {mine}   {peer}')

    print()
    print(f'{"benchmark":52} {"MB/s":>8} {"frames/s":>10} {"allocs/frame":>12}')
    for program, pattern in (('bench_codec', 'real_captures'), ('bench_path', 'real_captures'),
                             ('bench_json', 'real_captures')):
        for name, (mbs, items, allocs) in google_benchmarks(
                os.path.join(build, 'bench', program), pattern).items():
            allocs_text = f'{allocs:12.2f}' if allocs is not None else ''
            print(f'{program + " " + name:52} {mbs:8.1f} {items:10.0f} {allocs_text}')
    shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
