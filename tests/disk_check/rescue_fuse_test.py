#!/usr/bin/env python3
"""recover --rescue and check --rescue on fragments that lie on a failing card.

The fragments are real files (tests/data/kinds) served by the fault-injecting
FUSE file system (tests/support/faultfs.py), which makes chosen sectors fail
with EIO, reads slow or short, and one file vanish between listing and
opening, all through the kernel as a failing card does. Each fragment must
come back with every readable byte as it was and zeros in its unreadable
sectors, listed in --json as `unreadable`; no sector may be tried more than
twice; a fragment none of whose bytes can be read, and the one that vanished,
are failures. A stop (SIGINT) while every read is slow ends the pass within
two reads.

Exit status 77 (skipped, the reason printed) where no FUSE mount can be made.
"""

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, 'tests', 'support'))
import faultfs  # noqa: E402

SKIP = 77
SECTOR = 512
KINDS = os.path.join(ROOT, 'tests', 'data', 'kinds')


def sample(name, slack=0):
    with open(os.path.join(KINDS, name), 'rb') as f:
        data = f.read()
    return data + bytes(slack)


# name: (bytes, faults, expected output name or None for a failure,
#        expected unreadable ranges in the output)
def cases():
    wav = sample('sox.wav', 3110)        # 13,274 bytes, then its cluster's slack
    eps = sample('ghostscript.eps')      # 99,080 bytes
    ppt = sample('libreoffice-ppt.ppt')  # 459,264 bytes
    text = (b'a letter that lay on a failing card\n' * 600)[:20480]
    return {
        'FILE0000.CHK': (wav, [{'eio': [4096, 512]}], 'FILE0000.wav', [[4096, 512]]),
        'FILE0001.CHK': (eps, [{'eio': [40960, 2048]}, {'eio': [90112, 700]}], 'FILE0001.eps',
                         [[40960, 2048], [90112, 1024]]),
        'FILE0002.CHK': (ppt, [{'eio': [200000, 1]}, {'short': [0, 459264]}], 'FILE0002.ppt', [[199680, 512]]),
        'FILE0003.CHK': (text, [{'eio': [0, 512]}], 'FILE0003.CHK', [[0, 512]]),
        'FILE0004.CHK': (text, [{'eio': [0, 20480]}], None, []),
        'FILE0005.CHK': (wav, 'vanish', None, []),
        'FILE0006.CHK': (text, [{'slow': [8192, 4096], 'seconds': 1.5}, {'eio': [12288, 512]}], 'FILE0006.txt',
                         [[12288, 512]]),
        'FILE0007.CHK': (wav, [], 'FILE0007.wav', []),
    }


def holed(data, ranges):
    data = bytearray(data)
    for offset, length in ranges:
        data[offset:offset + length] = bytes(length)
    return bytes(data)


def most_tries(reads):
    """The most reads that met the faulty bytes of one sector."""
    tries = {}
    for name, offset, size, outcome, returned in reads:
        if 'eio' not in outcome and 'cut' not in outcome:
            continue
        first = offset + returned  # the first faulty byte this read met
        tries[(name, first // SECTOR)] = tries.get((name, first // SECTOR), 0) + 1
    return max(tries.values()) if tries else 0


def recover(cli, config, work):
    problems = []
    source = os.path.join(work, 'FOUND.000')
    os.mkdir(source)
    table = cases()
    rules = {}
    for name, (data, faults, _, _) in table.items():
        with open(os.path.join(source, name), 'wb') as f:
            f.write(data)
        if faults:
            rules[name] = faults
    log = os.path.join(work, 'reads.log')
    dest = os.path.join(work, 'out')
    with faultfs.mounted(source, rules, log=log) as mount:
        done = subprocess.run([cli, '--config', config, 'recover', '--rescue', '--json', mount, dest],
                              capture_output=True, timeout=300)
        tries = most_tries(faultfs.read_log(log))
        checked = subprocess.run([cli, '--config', config, 'check', '--rescue',
                                  os.path.join(mount, 'FILE0001.CHK')], capture_output=True, timeout=60)
    if done.returncode != 1:
        problems.append('recover --rescue exit %d, wanted 1 (two fragments cannot be read at all): %s'
                        % (done.returncode, done.stderr.decode(errors='replace')))
    try:
        document = json.loads(done.stdout)
    except ValueError:
        return problems + ['recover --json is no JSON: %r' % done.stdout[:300]]
    entries = {e['name']: e for e in document['files']}
    lost = 0
    damaged = 0
    for name, (data, faults, output, unreadable) in table.items():
        entry = entries.get(name)
        if entry is None:
            problems.append('%s: no entry' % name)
            continue
        if output is None:
            if entry['failure'] is None or entry['output'] is not None:
                problems.append('%s: wanted a failure and no output, got %r' % (name, entry))
            continue
        if entry['failure'] is not None:
            problems.append('%s: failed: %s' % (name, entry['failure']))
            continue
        if os.path.basename(entry['output']) != output:
            problems.append('%s: output %s, wanted %s' % (name, entry['output'], output))
            continue
        if entry['unreadable'] != unreadable:
            problems.append('%s: unreadable %r, wanted %r' % (name, entry['unreadable'], unreadable))
        wanted_verdict = 'damaged' if unreadable else 'intact'
        if entry['verdict'] != wanted_verdict:
            problems.append('%s: verdict %s, wanted %s (%s)' % (name, entry['verdict'], wanted_verdict,
                                                                entry['detail']))
        with open(entry['output'], 'rb') as f:
            got = f.read()
        want = holed(data[:len(got)], unreadable)
        if got != want or len(got) < len(data.rstrip(b'\0')):
            problems.append('%s: the output (%d bytes) is not the readable bytes of the original' % (name, len(got)))
        lost += sum(length for _, length in unreadable)
        damaged += 1 if unreadable else 0
    if (document.get('unreadable_files'), document.get('unreadable_bytes')) != (damaged, lost):
        problems.append('summary: %r files, %r bytes; wanted %d, %d' % (
            document.get('unreadable_files'), document.get('unreadable_bytes'), damaged, lost))
    leftovers = [n for n in os.listdir(dest) if n.startswith('.tessaro-rescue')]
    if leftovers:
        problems.append('images left in the destination: %r' % leftovers)
    if tries > 2:
        problems.append('a bad sector was tried %d times' % tries)
    line = checked.stdout.decode(errors='replace').split('\t')
    if checked.returncode != 0 or len(line) < 5 or line[2] != 'damaged' or '3072 unreadable bytes' not in line[4]:
        problems.append('check --rescue: exit %d, %r' % (checked.returncode, checked.stdout))
    print('recover --rescue: %d fragments, %d with unreadable sectors, %d bytes lost, most tries of a sector %d'
          % (len(table), damaged, lost, tries))
    return problems


def stop(cli, config, work):
    """SIGINT while every read takes a second: the pass ends within two reads."""
    source = os.path.join(work, 'SLOW')
    os.mkdir(source)
    with open(os.path.join(source, 'FILE0000.CHK'), 'wb') as f:
        f.write(sample('libreoffice-ppt.ppt'))
    rules = {'FILE0000.CHK': [{'slow': [0, 459264], 'seconds': 1.0}, {'eio': [4096, 512]}]}
    log = os.path.join(work, 'slow.log')
    with faultfs.mounted(source, rules, log=log) as mount:
        run = subprocess.Popen([cli, '--config', config, 'recover', '--rescue', mount, os.path.join(work, 'o2')],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(4.5)  # into the careful pass: the first reads failed or were slow
        before = len(faultfs.read_log(log))
        run.send_signal(signal.SIGINT)
        try:
            code = run.wait(timeout=60)
        except subprocess.TimeoutExpired:
            run.kill()
            return ['recover --rescue did not stop on SIGINT']
        after = len(faultfs.read_log(log))
    problems = []
    if code != 130:
        problems.append('stopped recover --rescue exit %d, wanted 130' % code)
    if after - before > 2:
        problems.append('%d reads after the stop, wanted at most 2' % (after - before))
    print('stop during slow reads: %d reads after SIGINT, exit %d' % (after - before, code))
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--cli', required=True)
    parser.add_argument('--config', required=True)
    args = parser.parse_args()
    reason = faultfs.probe()
    if reason is not None:
        print('SKIP: %s' % reason)
        return SKIP
    work = tempfile.mkdtemp(prefix='rescue-fuse-test-')
    try:
        problems = recover(args.cli, args.config, work) + stop(args.cli, args.config, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for p in problems:
        print('FAIL: %s' % p)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
