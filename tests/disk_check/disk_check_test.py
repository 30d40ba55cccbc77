#!/usr/bin/env python3
"""Fragments left by the real disk checks, identified and recovered by tessaro-cli.

scripts/make-disk-check writes the real test files (tests/data/kinds) and a few
files of random bytes into a FAT32 and an ext4 image, damages them, lets
fsck.fat and e2fsck salvage what they find, and says in truth.tsv which source
bytes every fragment holds. Then, through tessaro-cli:
- a whole file or the head of a broken one gets its source's extension (the
  names in tests/data/kinds are spelled as the catalogue spells them);
- a tail or the lost folder's own clusters gets no kind, or text (a piece
  from the middle of a PDF or a PostScript file is often text itself), or
  its source's kind for stream formats, where any piece is a stream;
- recover copies each recognised fragment byte for byte, changes no fragment,
  and leaves random data behind.
Every mismatch is listed, not only the first.
"""

import argparse
import hashlib
import json
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
KINDS = os.path.join(ROOT, 'tests', 'data', 'kinds')

CASES = [
    # file system, options, the roles its fragments must come in: old data
    # after each file's last sector, many broken chains and Windows names on
    # FAT; e2fsck gives whole files of exact length.
    ('fat32', ['--slack', 'old', '--broken', '0.5', '--names', 'chk'],
     {'whole', 'head', 'tail', 'folder'}),
    ('ext4', [], {'whole'}),
]
RANDOM = 4
COMMON = ['--seed', '11', '--random', str(RANDOM)]

sys.path.insert(0, os.path.join(ROOT, 'tests', 'support'))
from scripts import load_script  # noqa: E402

scorer = load_script(os.path.join('scripts', 'score-disk-check'), 'score_disk_check')


def read(path):
    with open(path, 'rb') as f:
        return f.read()


def snapshot(paths):
    return {p: (hashlib.sha256(read(p)).hexdigest(), os.stat(p).st_size, os.stat(p).st_mtime_ns)
            for p in paths}


def allowed_kinds(row, path):
    """The extensions that are right for one fragment (None: no kind)."""
    own = scorer.source_extension(row['source']) or None
    if row['role'] in ('whole', 'head'):
        # A head that holds only zeros (the system area of a disc image)
        # tells nothing of what it was.
        return {None} if scorer.blank(path, row) else {own}
    allowed = {None, '.txt'}
    if own and own.lower() in scorer.STREAM_EXTENSIONS:
        allowed.add(own)
    return allowed


def check_coverage(rows, roles):
    """Every source starts exactly one fragment, and every role is there to be checked."""
    problems = []
    starts = sorted(r['source'] for r in rows if r['role'] in ('whole', 'head'))
    wanted = sorted(os.listdir(KINDS) + ['@random-%02d' % i for i in range(RANDOM)])
    if starts != wanted:
        problems.append('sources without a first fragment: %s; more than one: %s' % (
            sorted(set(wanted) - set(starts)), sorted({s for s in starts if starts.count(s) > 1})))
    found = {r['role'] for r in rows}
    if found != roles:
        problems.append('fragments of the roles %s, expected %s' % (sorted(found), sorted(roles)))
    return problems


def check_verdicts(rows, paths, verdicts):
    problems = []
    for row, path in zip(rows, paths):
        allowed = allowed_kinds(row, path)
        if verdicts[path] not in allowed:
            problems.append('%s (%s of %s): got %s, expected %s' % (
                row['fragment'], row['role'], row['source'], verdicts[path] or '-',
                ' or '.join(sorted(a or '-' for a in allowed))))
    return problems


def check_recovery(cli, config, folder, rows, paths, verdicts, dest):
    problems = []
    before = snapshot(paths)
    done = subprocess.run([cli, '--config', config, 'recover', folder, dest, '--json'],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if done.returncode != 0:
        problems.append('recover exited with %d: %s' % (done.returncode, done.stderr.decode()))
    files = {f['name']: f for f in json.loads(done.stdout)['files']}
    outputs = set()
    for row, path in zip(rows, paths):
        entry = files.get(row['fragment'])
        if entry is None:
            problems.append('%s: not in the recovery report' % row['fragment'])
            continue
        if entry['failure']:
            problems.append('%s: %s' % (row['fragment'], entry['failure']))
        if entry['extension'] != verdicts[path]:
            problems.append('%s: recovered as %s, identified as %s' % (
                row['fragment'], entry['extension'], verdicts[path]))
        if entry['output'] is None:
            continue
        outputs.add(entry['output'])
        if row['source'].startswith('@random'):
            problems.append('%s: random data recovered as %s' % (row['fragment'], entry['output']))
        wanted_name = row['fragment'].split('.')[0] + (entry['extension'] or '')
        if os.path.basename(entry['output']) != wanted_name:
            problems.append('%s: recovered as %s' % (row['fragment'], entry['output']))
        if read(entry['output']) != read(path) or entry['bytes'] != int(row['size']):
            problems.append('%s: %s is not a copy of it' % (row['fragment'], entry['output']))
    written = {os.path.join(dest, n) for n in os.listdir(dest)}
    if written != outputs:
        problems.append('outputs not in the report: %s' % sorted(written - outputs))
    after = snapshot(paths)
    problems += ['%s: changed by the recovery' % os.path.basename(p) for p in paths
                 if before[p] != after[p]]
    return problems


def run_case(fs, options, roles, cli, config, work):
    out = os.path.join(work, fs)
    done = subprocess.run([sys.executable, os.path.join(ROOT, 'scripts', 'make-disk-check'),
                           '--fs', fs] + COMMON + options + [KINDS, out],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if done.returncode != 0:
        return ['make-disk-check failed: %s' % done.stderr.decode().strip()], ''
    summary = done.stderr.decode().strip().splitlines()[-1]
    meta, rows = scorer.read_truth(out)
    paths = scorer.fragment_paths(out, meta, rows)
    verdicts = scorer.identify(cli, config, paths)
    dest = os.path.join(work, fs + '-recovered')
    os.mkdir(dest)
    problems = check_coverage(rows, roles) + check_verdicts(rows, paths, verdicts)
    problems += check_recovery(cli, config, os.path.join(out, meta['folder']),
                               rows, paths, verdicts, dest)
    if fs == 'fat32':
        problems += check_original_names(cli, config, out, meta, work)
    return problems, summary


def check_original_names(cli, config, out, meta, work):
    """recover --names original on FAT: the lost folder's records name the
    lost chains after it and cut each at its recorded size; every file held
    whole comes back byte-identical, none shorter, nearly all under its own
    name (a few records cannot be told apart by size and kind)."""
    dest = os.path.join(work, 'fat32-named')
    done = subprocess.run([cli, '--config', config, 'recover', '--names', 'original', '--trim',
                           os.path.join(out, meta['folder']), dest],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if done.returncode != 0:
        return ['recover --names original exited with %d: %s' % (done.returncode, done.stderr.decode())]
    result = scorer.score_split(out, dest)
    problems = []
    if result['identical'] != result['sources']:
        problems.append('--names original: not byte-identical: %s' % ' '.join(result['missing']))
    if result['shorter']:
        problems.append('--names original: cut short: %s' % ' '.join(result['cut']))
    if result['own_name_share'] < 0.95:
        problems.append('--names original: %.1f%% under their own name, at least 95%% expected'
                        % (100 * result['own_name_share']))
    return problems


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument('--cli', required=True)
    p.add_argument('--config', default=os.path.join(ROOT, 'resources', 'tessaro.cfg'))
    args = p.parse_args()
    failed = False
    with tempfile.TemporaryDirectory(prefix='disk-check-test-') as work:
        for fs, options, roles in CASES:
            try:
                problems, summary = run_case(fs, options, roles, args.cli, args.config, work)
            except scorer.Unscorable as e:
                problems, summary = [str(e)], ''
            print('%s: %s' % (fs, summary))
            for problem in problems:
                print('  FAIL %s' % problem)
            failed = failed or bool(problems)
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
