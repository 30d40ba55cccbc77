#!/usr/bin/env python3
"""The fault-injecting file system of faultfs.py, read through the real kernel.

A folder of two files: A (256 KiB) with a bad pair of sectors, a bad byte
past the kernel's 128 KiB split, a slow sector and a stretch of short reads;
B, which vanishes. Each fault must be what it claims:
- eio: the good bytes up to the first faulty byte, then EIO at that offset,
  also when the kernel cuts the read in two;
- slow: the read takes at least its seconds, and gives the right bytes;
- short: one read gives half, a loop gets every byte right;
- vanish: listed with its size, open fails with ENOENT;
- a subfolder is shown, and the rules name its files by their path;
- the log has one line per read, so a retried sector counts each try;
- writing is refused and the source stays as it was;
- rules that cannot work are refused before mounting;
- mounted() leaves no mount and no server behind after an exception, with a
  file still open, or after Ctrl-C.
Exit status 77 (skipped, the reason printed) where no FUSE mount can work.
"""

import errno
import hashlib
import os
import random
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import faultfs  # noqa: E402

SKIP = 77
SECTOR = 512
SIZE_A, SIZE_B = 256 * 1024, 8 * 1024
BAD = 20 * SECTOR              # two bad sectors: [10240, 11264)
LATE_BAD = 200 * 1024 + 100    # one bad byte, not sector-aligned, past 128 KiB
SLOW, SLOW_SECONDS = 32 * SECTOR, 0.5
SHORT = 64 * 1024              # short reads over [64 KiB, 72 KiB)
RULES = {'A': [{'eio': [BAD, 2 * SECTOR]}, {'eio': [LATE_BAD, 1]},
               {'slow': [SLOW, SECTOR], 'seconds': SLOW_SECONDS},
               {'short': [SHORT, 8 * 1024]}],
         'B': 'vanish', 'sub/C': [{'eio': [0, SECTOR]}]}

# offset, size, good bytes expected before the read stops (an EIO when 0).
EIO_READS = [
    (0, 4096, 4096),                     # before the fault
    (8192, 4096, BAD - 8192),            # the good part, short
    (BAD, SECTOR, 0),                    # first bad sector
    (BAD + SECTOR, SECTOR, 0),           # second bad sector
    (BAD - 40, 100, 40),                 # not sector-aligned
    (BAD + 2 * SECTOR, SECTOR, SECTOR),  # just after
    (128 * 1024, 128 * 1024, LATE_BAD - 128 * 1024),
    (72 * 1024, SIZE_A, LATE_BAD - 72 * 1024),  # cut by the kernel into requests
    (LATE_BAD + 1, SIZE_A, SIZE_A - LATE_BAD - 1),  # to the end
]


def content(size, seed):
    return random.Random(seed).randbytes(size)


def pread_error(fd, size, offset):
    """The errno of pread, or None when it succeeds."""
    try:
        os.pread(fd, size, offset)
    except OSError as e:
        return e.errno
    return None


def check_listing(mnt, data):
    """Both files with their sizes, and a subfolder whose file has rules too."""
    found = {n: os.stat(os.path.join(mnt, n)).st_size for n in os.listdir(mnt)}
    want = {n: len(d) for n, d in data.items()}
    want['sub'] = found.get('sub')
    problems = [] if found == want else ['listed %s, expected %s' % (found, want)]
    nested = os.path.join(mnt, 'sub', 'C')
    if not os.path.isdir(os.path.join(mnt, 'sub')) or not os.path.isfile(nested):
        return problems + ['the subfolder sub/C is not shown']
    fd = os.open(nested, os.O_RDONLY)
    try:
        if pread_error(fd, SECTOR, 0) != errno.EIO or os.pread(fd, 3, SECTOR) != b'xyz':
            problems.append('sub/C does not follow its rule')
    finally:
        os.close(fd)
    return problems


def check_eio(mnt, data):
    problems = []
    fd = os.open(os.path.join(mnt, 'A'), os.O_RDONLY)
    try:
        for offset, size, good in EIO_READS:
            where = 'pread(%d, %d)' % (offset, size)
            try:
                got = os.pread(fd, size, offset)
            except OSError as e:
                if good or e.errno != errno.EIO:
                    problems.append('%s failed (%s), expected %d bytes' % (where, e, good))
                continue
            if not good:
                problems.append('%s gave %d bytes, expected EIO' % (where, len(got)))
            elif got != data['A'][offset:offset + good]:
                problems.append('%s gave %d bytes (%s), expected the %d good ones'
                                % (where, len(got), 'right' if got == data['A'][
                                    offset:offset + len(got)] else 'wrong', good))
            elif offset + good < SIZE_A and offset + good < offset + size:
                failed = pread_error(fd, SECTOR, offset + good)
                if failed != errno.EIO:
                    problems.append('%s: the read at %d after its good bytes gave %s, not EIO'
                                    % (where, offset + good, failed and os.strerror(failed)))
    finally:
        os.close(fd)
    return problems


def check_slow(mnt, data):
    fd = os.open(os.path.join(mnt, 'A'), os.O_RDONLY)
    try:
        start = time.monotonic()
        got = os.pread(fd, SECTOR, SLOW)
        took = time.monotonic() - start
    finally:
        os.close(fd)
    problems = []
    if took < SLOW_SECONDS:
        problems.append('the slow sector answered in %.3fs, under %gs' % (took, SLOW_SECONDS))
    if got != data['A'][SLOW:SLOW + SECTOR]:
        problems.append('the slow sector gave wrong bytes')
    return problems


def read_looping(fd, offset, size):
    """(bytes, number of preads) of a read that loops over short reads."""
    got, calls = b'', 0
    while len(got) < size:
        chunk = os.pread(fd, size - len(got), offset + len(got))
        calls += 1
        if not chunk:
            break
        got += chunk
    return got, calls


def check_short(mnt, data):
    problems = []
    a = data['A']
    fd = os.open(os.path.join(mnt, 'A'), os.O_RDONLY)
    try:
        # offset, size, bytes the first read gives
        for offset, size, first in ((SHORT, 8192, 4096), (SHORT - 4096, 8192, 4096),
                                    (SHORT + 8191, 1, 1), (SHORT + 8192, 4096, 4096)):
            got = os.pread(fd, size, offset)
            if len(got) != first or got != a[offset:offset + first]:
                problems.append('pread(%d, %d) gave %d bytes (%s), expected the first %d'
                                % (offset, size, len(got), 'right' if got == a[
                                    offset:offset + len(got)] else 'wrong', first))
        got, calls = read_looping(fd, SHORT - 100, 8400)
        if got != a[SHORT - 100:SHORT + 8300]:
            problems.append('looping over short reads gave %d wrong or missing bytes' % len(got))
        elif calls < 2:
            problems.append('the short range never gave a short read')
    finally:
        os.close(fd)
    return problems


def check_vanish(mnt, data):
    problems = []
    path = os.path.join(mnt, 'B')
    for attempt in (1, 2):
        try:
            os.close(os.open(path, os.O_RDONLY))
            problems.append('open #%d of the vanished file succeeded' % attempt)
        except OSError as e:
            if e.errno != errno.ENOENT:
                problems.append('open #%d of the vanished file: %s, not ENOENT' % (attempt, e))
    return problems


def check_log(mnt, data, log):
    def count(row):
        return faultfs.read_log(log).count(row)

    problems = []
    tries = ('A', BAD, SECTOR, 'eio', 0)
    before = count(tries)
    fd = os.open(os.path.join(mnt, 'A'), os.O_RDONLY)
    try:
        for _ in range(3):
            pread_error(fd, SECTOR, BAD)
    finally:
        os.close(fd)
    if count(tries) != before + 3:
        problems.append('3 tries of the bad sector logged as %d' % (count(tries) - before))
    rows = faultfs.read_log(log)
    for row in (('A', SLOW, SECTOR, 'slow', SECTOR), ('A', SHORT, 8192, 'short', 4096),
                ('A', 8192, 4096, 'cut', BAD - 8192), ('A', 0, 4096, 'ok', 4096)):
        if row not in rows:
            problems.append('no log line %s' % ' '.join(map(str, row)))
    return problems


def check_read_only(mnt, data, source):
    problems = []
    a = os.path.join(mnt, 'A')
    attempts = [('open for writing', lambda: os.open(a, os.O_WRONLY)),
                ('open for update', lambda: os.open(a, os.O_RDWR)),
                ('truncate', lambda: os.truncate(a, 0)),
                ('create', lambda: os.open(os.path.join(mnt, 'C'), os.O_WRONLY | os.O_CREAT)),
                ('unlink', lambda: os.unlink(a)),
                ('rename', lambda: os.rename(a, os.path.join(mnt, 'C'))),
                ('mkdir', lambda: os.mkdir(os.path.join(mnt, 'D')))]
    for what, attempt in attempts:
        try:
            fd = attempt()
            if isinstance(fd, int):
                os.close(fd)
            problems.append('%s was allowed' % what)
        except OSError as e:
            if e.errno not in (errno.EROFS, errno.EACCES, errno.EPERM):
                problems.append('%s: %s, not a refusal' % (what, e))
    if sorted(os.listdir(source)) != ['A', 'B', 'sub']:
        problems.append('the source folder now holds %s' % sorted(os.listdir(source)))
    for name, want in data.items():
        with open(os.path.join(source, name), 'rb') as f:
            if hashlib.sha256(f.read()).digest() != hashlib.sha256(want).digest():
                problems.append('the source of %s changed' % name)
    return problems


def check_bad_rules(source, work):
    """Rules that cannot work stop faultfs.py with a message, before mounting."""
    cases = (('["A"]', 'JSON object'), ('{"D": "vanish"}', "'D': no such"),
             ('{"./A": "vanish"}', "'./A': no such"), ('{"A": [{"eio": [0]}]}', '[offset, length]'),
             ('{"A": [{"slow": [0, 512]}]}', 'seconds'),
             ('{"A": [{"eio": [0, 1], "short": [0, 1]}]}', 'exactly one'),
             ('{"A": [{"eio": [0, 1], "seconds": 1}]}', 'unknown key'),
             ('{"A": ', 'rules7.json'))
    runs = []
    for i, (rules, says) in enumerate(cases):
        path, mnt = os.path.join(work, 'rules%d.json' % i), os.path.join(work, 'mnt%d' % i)
        os.mkdir(mnt)
        with open(path, 'w') as f:
            f.write(rules)
        # All at once: each run is mostly the interpreter starting.
        runs.append((rules, says, mnt, subprocess.Popen(
            [sys.executable, faultfs.__file__, source, mnt, path],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)))
    problems = []
    for rules, says, mnt, run in runs:
        message = run.communicate(timeout=30)[1].decode('utf-8', 'replace')
        if run.returncode != 2 or says not in message:
            problems.append('rules %s: exit %d, %r; expected exit 2 saying %r'
                            % (rules, run.returncode, message.strip()[-200:], says))
        if faultfs.is_mounted(mnt):
            subprocess.run(['umount', '-l', mnt])
            problems.append('rules %s were mounted' % rules)
    return problems


def servers_of(mnt):
    """Running faultfs.py processes serving MNT."""
    found = []
    for pid in filter(str.isdigit, os.listdir('/proc')):
        try:
            with open('/proc/%s/cmdline' % pid, 'rb') as f:
                args = f.read().decode('utf-8', 'replace').split('\0')
        except OSError:
            continue
        if any(a.endswith('faultfs.py') for a in args) and mnt in args:
            found.append(int(pid))
    return found


def check_cleanup(source):
    problems = []
    try:
        with faultfs.mounted(source, RULES) as mnt:
            fd = os.open(os.path.join(mnt, 'A'), os.O_RDONLY)
            raise ZeroDivisionError
    except ZeroDivisionError:
        pass
    with_open_file = [faultfs.is_mounted(mnt) and 'still mounted',
                      servers_of(mnt) and 'server still running',
                      os.path.exists(mnt) and 'mount point left']
    problems += ['after an exception with a file open: %s' % x for x in with_open_file if x]
    try:
        os.close(fd)
    except OSError:
        pass   # the server is gone: ENOTCONN is the right answer

    script = ('import sys, time; sys.path.insert(0, %r); import faultfs\n'
              'with faultfs.mounted(%r, {}) as m:\n'
              '    print(m, flush=True); time.sleep(60)\n' % (HERE, source))
    child = subprocess.Popen([sys.executable, '-c', script], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
    mnt = child.stdout.readline().decode().strip()
    if not mnt or not faultfs.is_mounted(mnt):
        child.kill()
        child.wait()
        return problems + ['the Ctrl-C case never mounted: %s'
                           % child.stderr.read().decode('utf-8', 'replace')[-300:]]
    child.send_signal(signal.SIGINT)
    try:
        child.wait(timeout=30)
    except subprocess.TimeoutExpired:
        child.kill()
        child.wait()
        problems.append('Ctrl-C did not end the with-block')
    interrupted = [faultfs.is_mounted(mnt) and 'still mounted',
                   servers_of(mnt) and 'server still running',
                   os.path.exists(mnt) and 'mount point left']
    problems += ['after Ctrl-C: %s' % x for x in interrupted if x]
    if b'KeyboardInterrupt' not in child.stderr.read():
        problems.append('Ctrl-C did not reach the with-block as KeyboardInterrupt')
    return problems


def main():
    reason = faultfs.probe()
    if reason:
        print('SKIP: %s' % reason)
        return SKIP
    problems = []
    with tempfile.TemporaryDirectory(prefix='faultfs-test-') as work:
        source = os.path.join(work, 'source')
        os.mkdir(source)
        data = {'A': content(SIZE_A, 1), 'B': content(SIZE_B, 2)}
        for name, bytes_ in data.items():
            with open(os.path.join(source, name), 'wb') as f:
                f.write(bytes_)
        os.mkdir(os.path.join(source, 'sub'))
        with open(os.path.join(source, 'sub', 'C'), 'wb') as f:
            f.write(bytes(SECTOR) + b'xyz')
        log = os.path.join(work, 'reads.log')
        with faultfs.mounted(source, RULES, log=log) as mnt:
            for name, check in (('listing', lambda: check_listing(mnt, data)),
                                ('eio', lambda: check_eio(mnt, data)),
                                ('slow', lambda: check_slow(mnt, data)),
                                ('short', lambda: check_short(mnt, data)),
                                ('vanish', lambda: check_vanish(mnt, data)),
                                ('log', lambda: check_log(mnt, data, log)),
                                ('read-only', lambda: check_read_only(mnt, data, source))):
                found = check()
                print('%s: %s' % (name, 'FAIL' if found else 'ok'))
                problems += ['%s: %s' % (name, p) for p in found]
        for name, check in (('bad rules', lambda: check_bad_rules(source, work)),
                            ('cleanup', lambda: check_cleanup(source))):
            found = check()
            print('%s: %s' % (name, 'FAIL' if found else 'ok'))
            problems += ['%s: %s' % (name, p) for p in found]
    for problem in problems:
        print('  FAIL %s' % problem)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
