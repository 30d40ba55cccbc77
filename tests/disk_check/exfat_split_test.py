#!/usr/bin/env python3
"""exFAT rescues split back into their files by tessaro-cli recover --split.

scripts/make-disk-check --fs exfat writes the real test files (tests/data/kinds)
into the folders of an exFAT volume through exfat-fuse, loses the top folders,
and lets fsck.exfat -s salvage them: LOST+FOUND then holds a few fragments,
each the lost folders' own clusters or a run of whole files back to back.
For 32K and 128K clusters (and, for the fixture alone, 4K with every folder
lost and one overwritten):
- the fixture holds every source whole, and leaves no mount and no loop device
  behind, neither after a run nor after one interrupted while it is mounted;
- recover --split --trim gives back >= 97% of the sources byte-identical in
  some output, and none cut short;
- with --names original, >= 95% come back as DEST/<folder>/<name>.
Exit status 77 (skipped, the reason printed) where the machine cannot make the
volume (root, loop devices, /dev/fuse, exFAT tools) or tessaro-cli has no
--split yet.
"""

import argparse
import importlib.machinery
import importlib.util
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
KINDS = os.path.join(ROOT, 'tests', 'data', 'kinds')
MAKE = os.path.join(ROOT, 'scripts', 'make-disk-check')
SKIP = 77

# name, options, scored by --split: the 4K case loses the nested folders too,
# grows folders between the files and overwrites one folder's first cluster,
# so only the fixture is checked on it.
CASES = [('32K', ['--cluster', '32K'], True), ('128K', ['--cluster', '128K'], True),
         ('4K-all-wiped', ['--cluster', '4K', '--lose', 'all', '--wipe', 'random'], False)]
COMMON = ['--fs', 'exfat', '--seed', '7']
IDENTICAL, OWN_NAME = 0.97, 0.95


def load_scorer():
    path = os.path.join(ROOT, 'scripts', 'score-disk-check')
    loader = importlib.machinery.SourceFileLoader('score_disk_check', path)
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
    loader.exec_module(module)
    return module


scorer = load_scorer()


class Skip(Exception):
    """This machine or this tessaro-cli cannot run the test."""


def leftovers(work):
    """Mounts and loop devices that still refer to anything under WORK."""
    with open('/proc/mounts') as f:
        found = ['mount ' + line.split()[1] for line in f if work in line.split()[1]]
    done = subprocess.run(['losetup', '-a'], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    found += ['loop ' + line for line in done.stdout.decode('utf-8', 'replace').splitlines()
              if work in line]
    return found


def make(out, options, work):
    """Runs make-disk-check with its temporary folder under WORK."""
    done = subprocess.run([sys.executable, MAKE] + COMMON + options + [KINDS, out],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          env=dict(os.environ, TMPDIR=work))
    message = done.stderr.decode('utf-8', 'replace').strip()
    if done.returncode == SKIP:
        raise Skip(message)
    if done.returncode != 0:
        return ['make-disk-check failed: %s' % message], ''
    problems = ['left behind: %s' % x for x in leftovers(work)]
    meta, rows = scorer.read_truth(out)
    held, partial = scorer.whole_sources(out, meta, rows)
    if sorted(held) != sorted(os.listdir(KINDS)) or partial:
        problems.append('the fragments do not hold every source whole: missing %s, partial %s'
                        % (sorted(set(os.listdir(KINDS)) - set(held)), partial))
    return problems, message.splitlines()[-1]


def check_interrupt(work):
    """An interrupt while the volume is mounted unmounts it and frees its loop device."""
    tmp = os.path.join(work, 'interrupted')
    os.mkdir(tmp)
    proc = subprocess.Popen([sys.executable, MAKE] + COMMON + [KINDS, os.path.join(tmp, 'out')],
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            env=dict(os.environ, TMPDIR=tmp))
    deadline = time.monotonic() + 30
    while proc.poll() is None and time.monotonic() < deadline:
        if any(x.startswith('mount ') for x in leftovers(tmp)):
            proc.send_signal(signal.SIGINT)
            break
        time.sleep(0.002)
    else:
        proc.kill()
        proc.wait()
        return ['make-disk-check ended (%s) before it could be interrupted while mounted'
                % proc.returncode]
    proc.wait(timeout=60)
    problems = ['left behind after Ctrl-C: %s' % x for x in leftovers(tmp)]
    if proc.returncode != 130:
        problems.append('interrupted make-disk-check exited with %d: %s'
                        % (proc.returncode, proc.stderr.read().decode('utf-8', 'replace')))
    return problems


def has_split(cli):
    done = subprocess.run([cli, '--help'], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return '--split' in done.stdout.decode('utf-8', 'replace')


def recover(cli, config, folder, dest, extra):
    done = subprocess.run([cli, '--config', config, 'recover', '--split', '--trim', '--json']
                          + extra + [folder, dest], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        json.loads(done.stdout)
    except ValueError:
        return ['recover %s exited with %d and gave no JSON: %s' % (
            ' '.join(extra), done.returncode, done.stderr.decode('utf-8', 'replace')[:300])]
    return []


def check_split(cli, config, out, work, name):
    folder = os.path.join(out, 'LOST+FOUND')
    problems = []
    plain, named = os.path.join(work, name + '-split'), os.path.join(work, name + '-names')
    problems += recover(cli, config, folder, plain, [])
    problems += recover(cli, config, folder, named, ['--names', 'original'])
    if problems:
        return problems, ''
    got = scorer.score_split(out, plain)
    names = scorer.score_split(out, named)
    if got['identical_share'] < IDENTICAL:
        problems.append('%.1f%% byte-identical, at least %.0f%% expected; missing: %s' % (
            100 * got['identical_share'], 100 * IDENTICAL, ' '.join(got['missing'])))
    for result, how in ((got, '--split'), (names, '--names original')):
        if result['cut']:
            problems.append('%s: cut short: %s' % (how, ' '.join(result['cut'])))
    if names['own_name_share'] < OWN_NAME:
        problems.append('%.1f%% under their own folder and name, at least %.0f%% expected; '
                        'not: %s' % (100 * names['own_name_share'], 100 * OWN_NAME,
                                     ' '.join(names['misnamed'])))
    return problems, '%.1f%% byte-identical, %.1f%% under their own name' % (
        100 * got['identical_share'], 100 * names['own_name_share'])


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument('--cli', required=True)
    p.add_argument('--config', default=os.path.join(ROOT, 'resources', 'tessaro.cfg'))
    args = p.parse_args()
    failed = False
    try:
        with tempfile.TemporaryDirectory(prefix='exfat-split-test-') as work:
            made = []
            for name, options, scored in CASES:
                out = os.path.join(work, name)
                problems, summary = make(out, options, work)
                print('exfat %s: %s' % (name, summary))
                if scored:
                    made.append((name, out))
                for problem in problems:
                    print('  FAIL %s' % problem)
                failed = failed or bool(problems)
            problems = check_interrupt(work)
            print('exfat interrupted while mounted: %s' % ('FAIL' if problems else 'cleaned up'))
            for problem in problems:
                print('  FAIL %s' % problem)
            failed = failed or bool(problems)
            if not has_split(args.cli):
                if failed:
                    return 1
                raise Skip('tessaro-cli has no --split yet')
            for name, out in made:
                problems, summary = check_split(args.cli, args.config, out, work, name)
                print('split %s: %s' % (name, summary))
                for problem in problems:
                    print('  FAIL %s' % problem)
                failed = failed or bool(problems)
    except Skip as e:
        print('SKIP: %s' % e)
        return SKIP
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
