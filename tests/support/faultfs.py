#!/usr/bin/env python3
"""A read-only FUSE passthrough that makes reads fail the way a failing card does.

    faultfs.py SOURCE MOUNTPOINT RULES.json [--foreground] [--log FILE]

Shows the regular files and folders under SOURCE, read-only, and injects the
faults that RULES.json names per file (its path under SOURCE, "/"-separated):

    {"FILE0001.CHK": [{"eio": [offset, length]},
                      {"slow": [offset, length], "seconds": 2.0},
                      {"short": [offset, length]}],
     "FILE0002.CHK": "vanish"}

- eio: a read that overlaps the range gives the good bytes before its first
  faulty byte (a short read, as a block device gives), or fails with EIO when
  it starts on a faulty byte.
- slow: a read that overlaps the range waits `seconds` first (the sum, where
  it overlaps several), then answers.
- short: a read that overlaps the range gives only half of what was asked (at
  least one byte), so the caller must loop; the bytes are always right.
- vanish: the file is listed with its size, but opening it fails with ENOENT.

Every file is served with direct_io: each read() of the program under test
reaches us with its own offset and size, nothing comes from the page cache,
so a retried sector is really read again. The kernel still cuts one large
read into requests of at most 32 pages of the caller's buffer (128 KiB when
the buffer is page-aligned, less for the first request when it is not), and
returns what the requests gave up to the first short or failed one: a fault
inside a large read reaches the caller as a short read. Such files cannot be
mapped (mmap fails with ENODEV).

--log FILE appends one line per read, written before the read is answered:
    NAME OFFSET SIZE OUTCOME RETURNED
OUTCOME is "ok", or the effects that applied joined with "+" in this order:
"slow", then "eio" (the read failed, RETURNED is 0) or "cut" (the good bytes
before a faulty range), then "short". read_log() parses it.

For tests: probe() says whether a mount can work here, mounted() mounts for
the length of a with-block and always unmounts.
"""

import argparse
import contextlib
import ctypes.util
import errno
import importlib.util
import json
import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import time

EFFECTS = ('eio', 'slow', 'short')
# The file Debian's python3-fusepy installs; loaded from here by interpreters
# other than the system's one (a pyenv python3 does not see dist-packages).
DEBIAN_FUSEPY = '/usr/lib/python3/dist-packages/fusepy.py'
MOUNT_WAIT = 10.0
EXIT_WAIT = 5.0


class RulesError(Exception):
    """RULES.json cannot be used: the message says where and why."""


def parse_rules(rules, source):
    """Checks the rules against SOURCE: {path: "vanish" | [(effect, start, end, seconds)]}.

    A rule for a file that SOURCE does not hold is an error rather than a
    rule that never fires, so a misspelt name cannot make a test pass."""
    if not isinstance(rules, dict):
        raise RulesError('the rules must be a JSON object of file names')
    parsed = {}
    for name, value in rules.items():
        where = 'rule for %r' % name
        path = os.path.join(source, *name.split('/'))
        if not name or name != os.path.normpath(name) or name.startswith(('/', '../')) or \
                not _is_regular(path):
            raise RulesError('%s: no such regular file in %s (name it by its plain path '
                             'under it, "/"-separated)' % (where, source))
        if value == 'vanish':
            parsed[name] = 'vanish'
            continue
        if not isinstance(value, list):
            raise RulesError('%s: expected "vanish" or a list of faults' % where)
        faults = []
        for fault in value:
            kinds = [k for k in EFFECTS if isinstance(fault, dict) and k in fault]
            if len(kinds) != 1:
                raise RulesError('%s: each fault needs exactly one of %s: %r'
                                 % (where, ', '.join(EFFECTS), fault))
            kind = kinds[0]
            extra = set(fault) - {kind} - ({'seconds'} if kind == 'slow' else set())
            if extra:
                raise RulesError('%s: unknown key %s in %r' % (where, sorted(extra)[0], fault))
            span = fault[kind]
            if not (isinstance(span, list) and len(span) == 2 and
                    all(type(x) is int and x >= 0 for x in span)):
                raise RulesError('%s: %s needs [offset, length] of non-negative integers, '
                                 'not %r' % (where, kind, span))
            seconds = 0.0
            if kind == 'slow':
                seconds = fault.get('seconds')
                if type(seconds) not in (int, float) or not 0 <= seconds <= 3600:
                    raise RulesError('%s: slow needs "seconds" between 0 and 3600, not %r'
                                     % (where, seconds))
            faults.append((kind, span[0], span[0] + span[1], float(seconds)))
        parsed[name] = faults
    return parsed


def _is_regular(path):
    try:
        return stat.S_ISREG(os.lstat(path).st_mode)
    except OSError:
        return False


def decide(faults, offset, size, file_size):
    """What a read of SIZE bytes at OFFSET meets: (seconds to wait, bytes to
    give or None for EIO, outcome for the log)."""
    end = min(offset + size, file_size)
    if end <= offset:
        return 0.0, 0, 'ok'
    hit = [f for f in faults if f[1] < end and offset < f[2]]
    wait = sum(f[3] for f in hit if f[0] == 'slow')
    applied = ['slow'] if any(f[0] == 'slow' for f in hit) else []
    give = end - offset
    bad = [max(f[1], offset) for f in hit if f[0] == 'eio']
    if bad:
        give = min(bad) - offset
        applied.append('cut' if give else 'eio')
    if any(f[0] == 'short' for f in hit) and give:
        give = min(give, max(1, (end - offset) // 2))
        applied.append('short')
    return wait, (give if give else None), '+'.join(applied) or 'ok'


def read_log(path):
    """The lines of a --log file as (name, offset, size, outcome, returned)."""
    rows = []
    with open(path, encoding='utf-8') as f:
        for line in f:
            name, offset, size, outcome, returned = line.rstrip('\n').rsplit(' ', 4)
            rows.append((name, int(offset), int(size), outcome, int(returned)))
    return rows


def load_fusepy():
    """The fusepy module (FUSE, Operations, FuseOSError), or None.

    Raises OSError where libfuse2 is missing: fusepy loads it on import."""
    with contextlib.suppress(ImportError):
        import fuse
        if hasattr(fuse, 'FUSE') and hasattr(fuse, 'Operations'):
            return fuse
    with contextlib.suppress(ImportError):
        import fusepy
        return fusepy
    if os.path.isfile(DEBIAN_FUSEPY):
        spec = importlib.util.spec_from_file_location('fusepy', DEBIAN_FUSEPY)
        module = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(module)
        sys.modules['fusepy'] = module
        return module
    return None


def make_operations(fusepy, source, rules, log):
    """The Operations object serving SOURCE with RULES, logging reads to LOG."""

    class FaultFs(fusepy.Operations):
        use_ns = True

        def __init__(self):
            self.lock = threading.Lock()

        def _source(self, path):
            return os.path.join(source, path.lstrip('/'))

        def getattr(self, path, fh=None):
            try:
                st = os.lstat(self._source(path))
            except OSError as e:
                raise fusepy.FuseOSError(e.errno)
            if not (stat.S_ISREG(st.st_mode) or stat.S_ISDIR(st.st_mode)):
                raise fusepy.FuseOSError(errno.ENOENT)
            return dict(st_mode=st.st_mode & ~0o222, st_size=st.st_size, st_nlink=st.st_nlink,
                        st_uid=st.st_uid, st_gid=st.st_gid, st_atime=st.st_atime_ns,
                        st_mtime=st.st_mtime_ns, st_ctime=st.st_ctime_ns)

        def readdir(self, path, fh):
            folder = self._source(path)
            try:
                names = sorted(os.listdir(folder))
            except OSError as e:
                raise fusepy.FuseOSError(e.errno)
            shown = ['.', '..']
            for name in names:
                with contextlib.suppress(OSError):
                    mode = os.lstat(os.path.join(folder, name)).st_mode
                    if stat.S_ISREG(mode) or stat.S_ISDIR(mode):
                        shown.append(name)
            return shown

        def open(self, path, flags):
            if flags & (os.O_WRONLY | os.O_RDWR | os.O_TRUNC | os.O_APPEND | os.O_CREAT):
                raise fusepy.FuseOSError(errno.EROFS)
            if rules.get(path.lstrip('/')) == 'vanish':
                raise fusepy.FuseOSError(errno.ENOENT)
            try:
                return os.open(self._source(path), os.O_RDONLY | os.O_NOFOLLOW)
            except OSError as e:
                raise fusepy.FuseOSError(e.errno)

        def read(self, path, size, offset, fh):
            name = path.lstrip('/')
            wait, give, outcome = decide(rules.get(name, []), offset, size,
                                         os.fstat(fh).st_size)
            if wait:
                time.sleep(wait)
            data = b''
            while give and len(data) < give:
                chunk = os.pread(fh, give - len(data), offset + len(data))
                if not chunk:
                    break
                data += chunk
            if log:
                with self.lock:
                    log.write('%s %d %d %s %d\n' % (name, offset, size, outcome, len(data)))
                    log.flush()
            if give is None:
                raise fusepy.FuseOSError(errno.EIO)
            return data

        def release(self, path, fh):
            os.close(fh)
            return 0

    return FaultFs()


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split('\n\n')[0],
                                formatter_class=argparse.RawDescriptionHelpFormatter,
                                epilog=__doc__.split('\n\n', 2)[2])
    p.add_argument('source')
    p.add_argument('mountpoint')
    p.add_argument('rules', help='RULES.json')
    p.add_argument('--foreground', action='store_true', help='stay attached until unmounted')
    p.add_argument('--log', help='append one line per read to this file')
    args = p.parse_args(argv)
    source = os.path.abspath(args.source)
    if not os.path.isdir(source):
        p.error('%s is not a folder' % args.source)
    if not os.path.isdir(args.mountpoint):
        p.error('%s is not a folder' % args.mountpoint)
    try:
        with open(args.rules, encoding='utf-8') as f:
            rules = parse_rules(json.load(f), source)
    except (OSError, ValueError, RulesError) as e:
        p.error('%s: %s' % (args.rules, e))
    try:
        fusepy = load_fusepy()
    except OSError as e:
        print('faultfs: libfuse2 is missing: %s' % e, file=sys.stderr)
        return 1
    if fusepy is None:
        print('faultfs: python3-fusepy is missing', file=sys.stderr)
        return 1
    log = open(args.log, 'a', encoding='utf-8') if args.log else None
    try:
        fusepy.FUSE(make_operations(fusepy, source, rules, log),
                    os.path.abspath(args.mountpoint), foreground=args.foreground,
                    ro=True, direct_io=True, fsname='faultfs')
    except RuntimeError as e:
        print('faultfs: mounting %s failed (%s)' % (args.mountpoint, e), file=sys.stderr)
        return 1
    finally:
        if log:
            log.close()
    return 0


# ---- helpers for tests ----------------------------------------------------

def is_mounted(path):
    """Whether PATH is a mount point now (read from mountinfo, without
    touching the file system, which may hang or be gone)."""
    path = os.path.abspath(path)
    with open('/proc/self/mountinfo', encoding='utf-8', errors='replace') as f:
        for line in f:
            field = line.split()[4]
            for code in ('\\040', '\\011', '\\012', '\\134'):
                field = field.replace(code, chr(int(code[1:], 8)))
            if field == path:
                return True
    return False


def _unmount(mountpoint):
    """Unmounts; False where only a lazy unmount worked because a caller still
    holds a file open (the server then keeps serving it until stopped)."""
    for command in (['fusermount', '-u', '-q', mountpoint],
                    ['fusermount3', '-u', '-q', mountpoint], ['umount', mountpoint]):
        if not is_mounted(mountpoint):
            return True
        if shutil.which(command[0]):
            subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not is_mounted(mountpoint):
        return True
    subprocess.run(['umount', '-l', mountpoint], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    return False


@contextlib.contextmanager
def mounted(source, rules, log=None):
    """Mounts SOURCE with RULES (a dict, as in RULES.json) and yields the mount
    point; LOG, if given, receives the read log. Raises RuntimeError when the
    mount does not come up. Unmounts and stops the server on the way out,
    whatever ended the with-block; a second Ctrl-C cannot cut that short."""
    work = tempfile.mkdtemp(prefix='faultfs-')
    mountpoint = os.path.join(work, 'mnt')
    os.mkdir(mountpoint)
    rules_path = os.path.join(work, 'rules.json')
    with open(rules_path, 'w', encoding='utf-8') as f:
        json.dump(rules, f)
    command = [sys.executable, os.path.abspath(__file__), source, mountpoint, rules_path,
               '--foreground'] + (['--log', log] if log else [])
    errors = open(os.path.join(work, 'stderr'), 'w+', encoding='utf-8')
    # Its own session: a Ctrl-C at the terminal reaches only us, and we unmount.
    server = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=errors, stderr=errors,
                              start_new_session=True)
    try:
        deadline = time.monotonic() + MOUNT_WAIT
        while not is_mounted(mountpoint):
            if server.poll() is not None or time.monotonic() > deadline:
                errors.seek(0)
                raise RuntimeError('faultfs did not mount (%s): %s' % (
                    'exit %d' % server.returncode if server.returncode is not None
                    else 'no mount after %gs' % MOUNT_WAIT, errors.read().strip()))
            time.sleep(0.01)
        yield mountpoint
    finally:
        main_thread = threading.current_thread() is threading.main_thread()
        previous = signal.signal(signal.SIGINT, signal.SIG_IGN) if main_thread else None
        try:
            clean = _unmount(mountpoint)
            try:
                server.wait(timeout=EXIT_WAIT if clean else 0)
            except subprocess.TimeoutExpired:
                server.terminate()
                try:
                    server.wait(timeout=EXIT_WAIT)
                except subprocess.TimeoutExpired:
                    server.kill()
                    server.wait()
            _unmount(mountpoint)
            errors.close()
            if not is_mounted(mountpoint):
                shutil.rmtree(work, ignore_errors=True)
        finally:
            if main_thread:
                signal.signal(signal.SIGINT, previous)


_probed = []


def probe():
    """None where faultfs can mount here, else the reason why not."""
    if not _probed:
        _probed.append(_probe())
    return _probed[0]


def _probe():
    if not sys.platform.startswith('linux'):
        return 'FUSE mounts are tested on Linux only'
    if not os.path.exists('/dev/fuse'):
        return 'no /dev/fuse'
    usable = shutil.which('fusermount') and os.access('/dev/fuse', os.R_OK | os.W_OK)
    if os.geteuid() != 0 and not usable:
        return 'not root, and /dev/fuse or fusermount is not usable by this user'
    if not ctypes.util.find_library('fuse'):
        return 'no libfuse2 (the library libfuse.so.2)'
    try:
        if load_fusepy() is None:
            return 'no python3-fusepy'
    except OSError as e:
        return 'fusepy cannot load libfuse2: %s' % e
    empty = tempfile.mkdtemp(prefix='faultfs-probe-')
    try:
        with mounted(empty, {}) as mountpoint:
            os.listdir(mountpoint)
    except (RuntimeError, OSError) as e:
        return 'the mount fails: %s' % e
    finally:
        shutil.rmtree(empty, ignore_errors=True)
    return None


if __name__ == '__main__':
    sys.exit(main())
