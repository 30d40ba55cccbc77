#!/usr/bin/env python3
"""The HTML recovery report as a real browser shows it.

A disk check's folder is made with scripts/make-disk-check from real files of
tests/data/kinds (pictures among them) and of tests/data/names (a photo, a
song, a film and a document whose metadata names them), one more fragment with
a hostile name is put beside its fragments, and `tessaro-cli recover --check
--names content --sort kind --report` writes the page into a folder outside
the destination; the named files must come back under their names from
content, in their kinds' folders. Headless Chromium then opens
a probe page that loads the report in a frame and writes down what it renders:
one row per fragment, links that reach the recovered files (names with spaces,
'#', '?', '%' and non-ASCII letters), thumbnails that loaded, the hostile name
as plain text with no element of its own, and sorting and filtering that work.
Exit 77 (skipped) only when Chromium is not installed.
"""

import argparse
import html
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import urllib.parse

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
KINDS = os.path.join(ROOT, 'tests', 'data', 'kinds')
SOURCES = ['exiftool-thumbnail.jpg', 'ffmpeg.png', 'imagemagick-89a.gif', 'imagemagick.webp', 'ffmpeg.bmp',
           'ghostscript.pdf', 'plain.txt', 'flac.flac']
# Files whose own metadata names them (tests/data/names), and the start of the
# name each must be recovered under, in its kind's folder.
NAMED = {'exiftool.jpg': 'jpg/2019-07-14 15.30.12 (', 'ffmpeg-id3v24.mp3': 'mp3/The Band - Song Two (',
         'libreoffice.docx': 'docx/Quarterly report & plans \u2014 2024 (', 'ffmpeg.mp4': 'mp4/2021-03-04 05.06.07 ('}
# No '/' can be in a file name; everything else that could break a page can.
HOSTILE = '<script>alert(1)<b> "q" \'a\' & #1 ?%é.CHK'
SKIP = 77
NOTES = 600

PROBE = r'''<!DOCTYPE html><meta charset=utf-8><pre id=out>waiting</pre>
<iframe id=f width=1400 height=6000 src="REPORT"></iframe>
<script>
var frame = document.getElementById('f');
frame.onload = function () {
  var started = Date.now();
  (function look() {
    var d = frame.contentDocument, imgs = Array.prototype.slice.call(d.images);
    if (imgs.some(function (i) { return !i.complete; }) && Date.now() - started < 8000) return setTimeout(look, 50);
    try { inspect(d, imgs); } catch (e) { document.getElementById('out').textContent = JSON.stringify({error: String(e)}); }
  })();
};
function inspect(d, imgs) {
    var all = d.querySelectorAll('#r tbody tr'), rows = function () {
      return Array.prototype.slice.call(d.querySelectorAll('#r tbody tr')).filter(function (r) { return !r.hidden; });
    };
    var out = {
      rows: all.length,
      cells: rows().map(function (r) { return Array.prototype.map.call(r.cells, function (c) { return c.textContent; }); }),
      links: Array.prototype.map.call(d.querySelectorAll('#r a'), function (a) { return a.href; }),
      images: imgs.map(function (i) { return [i.src, i.naturalWidth]; }),
      scripts: d.scripts.length,
      tags: Array.from(new Set(Array.prototype.map.call(d.querySelectorAll('#r tbody *'), function (e) { return e.tagName; }))),
      title: d.title
    };
    var report = frame.contentWindow.tessaroReport;
    report.sortBy(1);
    out.ascending = rows().map(function (r) { return +r.cells[1].textContent; });
    report.sortBy(1);
    out.descending = rows().map(function (r) { return +r.cells[1].textContent; });
    var status = d.getElementById('fs');
    status.value = 's';
    report.filter();
    out.noKind = rows().map(function (r) { return r.cells[r.cells.length - 1].textContent; });
    document.getElementById('out').textContent = JSON.stringify(out);
}
</script>'''


def chromium():
    for name in ('chromium', 'chromium-browser'):
        if shutil.which(name):
            return shutil.which(name)
    return None


def render(browser, probe, work):
    """What the probe page wrote down, from the DOM Chromium dumps."""
    args = [browser, '--headless', '--disable-gpu', '--allow-file-access-from-files',
            '--user-data-dir=' + os.path.join(work, 'profile'), '--virtual-time-budget=15000',
            '--dump-dom', 'file://' + urllib.parse.quote(probe)]
    if os.geteuid() == 0:
        args.insert(1, '--no-sandbox')  # Chromium refuses to run as root with it
    done = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    found = re.search(r'<pre id="out">(.*?)</pre>', done.stdout.decode('utf-8', 'replace'), re.S)
    if not found or found.group(1) == 'waiting':
        sys.exit('the probe wrote nothing; chromium said: ' + done.stderr.decode('utf-8', 'replace')[-2000:])
    seen = json.loads(html.unescape(found.group(1)))
    if 'error' in seen:
        sys.exit('the report could not be inspected: ' + seen['error'])
    return seen


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument('--cli', required=True)
    p.add_argument('--config', default=os.path.join(ROOT, 'resources', 'tessaro.cfg'))
    args = p.parse_args()
    browser = chromium()
    if browser is None:
        print('chromium is not installed (scripts/packages/report.txt): skipped')
        return SKIP
    problems = []
    with tempfile.TemporaryDirectory(prefix='report-browser-test-') as work:
        sources = os.path.join(work, 'sources')
        os.mkdir(sources)
        for name in SOURCES:
            shutil.copy(os.path.join(KINDS, name), sources)
        for name in NAMED:
            shutil.copy(os.path.join(ROOT, 'tests', 'data', 'names', name), sources)
        made = os.path.join(work, 'disk')
        subprocess.run([sys.executable, os.path.join(ROOT, 'scripts', 'make-disk-check'), '--fs', 'fat32',
                        '--names', 'chk', '--seed', '3', '--broken', '0.3', '--slack', 'old', sources, made],
                       check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        folder = os.path.join(made, 'FOUND.000')
        shutil.copy(os.path.join(KINDS, 'ffmpeg.png'), os.path.join(folder, HOSTILE))
        # Notes of many sizes, so the rows fill more than one of the page's bodies
        # and a sort has to move them from one to another.
        for i in range(NOTES):
            with open(os.path.join(folder, 'NOTE%04d.CHK' % i), 'w') as f:
                f.write('note %d\n' % i * ((i * 37) % 101 + 1))
        fragments = sorted(os.listdir(folder))
        dest = os.path.join(work, 'recovered files')
        report = os.path.join(work, 'pages', 'report.html')
        os.mkdir(os.path.dirname(report))
        done = subprocess.run([args.cli, '--config', args.config, 'recover', folder, dest, '--check',
                               '--names', 'content', '--sort', 'kind', '--report', report], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if done.returncode != 0:
            sys.exit('recover exited with %d: %s' % (done.returncode, done.stderr.decode()))
        probe = os.path.join(work, 'probe.html')
        with open(probe, 'w', encoding='utf-8') as f:
            f.write(PROBE.replace('REPORT', 'pages/report.html'))
        seen = render(browser, probe, work)

        if seen['rows'] != len(fragments):
            problems.append('%d rows for %d fragments' % (seen['rows'], len(fragments)))
        names = sorted(cells[0] for cells in seen['cells'])
        if names != fragments:
            problems.append('fragment names shown %s, in the folder %s' % (names, fragments))
        # Every link reaches a recovered file, and every recovered file has one.
        targets = set()
        for link in seen['links']:
            path = os.fsdecode(urllib.parse.unquote_to_bytes(urllib.parse.urlparse(link).path))
            if not os.path.isfile(path):
                problems.append('a link leads nowhere: %s' % link)
            targets.add(os.path.realpath(path))
        outputs = {os.path.realpath(os.path.join(top, n)) for top, _, files in os.walk(dest) for n in files}
        relative = [os.path.relpath(o, os.path.realpath(dest)) for o in outputs]
        for source, start in NAMED.items():
            if not any(r.startswith(start) for r in relative):
                problems.append('%s is not recovered as %s...: %s' % (source, start, sorted(relative)))
        if targets != outputs:
            problems.append('recovered files without a link: %s; links elsewhere: %s' % (
                sorted(outputs - targets), sorted(targets - outputs)))
        loaded = [src for src, width in seen['images'] if width > 0]
        if not loaded:
            problems.append('no thumbnail loaded: %s' % seen['images'])
        hostile_base = HOSTILE.split('.')[0]
        if not any(urllib.parse.unquote(src).endswith(hostile_base + '.png') for src in loaded):
            problems.append('the thumbnail of the hostile name did not load: %s' % seen['images'])
        hostile_rows = [c for c in seen['cells'] if c[0] == HOSTILE]
        if len(hostile_rows) != 1 or not hostile_rows[0][-1].endswith(hostile_base + '.png'):
            problems.append('the hostile name is not shown as text: %s' % hostile_rows)
        if seen['scripts'] != 1 or not set(seen['tags']) <= {'TR', 'TD', 'A', 'IMG'}:
            problems.append('a name made markup: %d scripts, elements %s' % (seen['scripts'], seen['tags']))
        if seen['ascending'] != sorted(seen['ascending']) or seen['descending'] != sorted(seen['ascending'],
                                                                                          reverse=True):
            problems.append('sorting by size gave %s, then %s' % (seen['ascending'], seen['descending']))
        skipped = sum(1 for c in seen['cells'] if c[-1] == 'no kind')
        if not skipped or seen['noKind'] != ['no kind'] * skipped:
            problems.append('the "no kind" filter shows %s, expected %d rows' % (seen['noKind'], skipped))
    for problem in problems:
        print('FAIL ' + problem)
    print('%d fragments, %d problems' % (len(fragments), len(problems)))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
