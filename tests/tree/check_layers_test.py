"""check-layers on small made-up trees: a downward include passes, an upward one, an include of
an unknown folder and a loop fail, each named by file and line."""
import os
import subprocess
import sys
import tempfile

CHECK = sys.argv[1]
TABLE = 'low:\nhigh: low\nside: low\ntests/*: low high\n'
CASES = [
    # files {path: text}, expected exit, expected text in the output
    ({'high/a.h': '#include "low/b.h"\n', 'low/b.h': ''}, 0, '1 includes follow'),
    ({'low/b.h': '\n#include "high/a.h"\n', 'high/a.h': ''}, 1, 'low/b.h:2: low -> high'),
    ({'high/a.h': '#include "side/c.h"\n', 'side/c.h': ''}, 1, 'high/a.h:1: high -> side'),
    ({'high/a.h': '#include "nowhere/x.h"\n'}, 1, 'no folder of layers.txt'),
    ({'tests/x/t.cpp': '#include "tests/y/u.h"\n', 'tests/y/u.h': ''}, 1, 'tests/x -> tests/y'),
    ({'high/a.h': '#include <vector>\n#include "b.h"\n', 'high/b.h': ''}, 0, 'follow'),
]
TABLE_WITH_LOOP = 'low: high\nhigh: low\n'


def run(files, table):
    with tempfile.TemporaryDirectory() as root:
        for path, text in files.items():
            os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(root, path), 'w') as out:
                out.write(text)
        with open(os.path.join(root, 'layers.txt'), 'w') as out:
            out.write(table)
        done = subprocess.run([sys.executable, CHECK, root], capture_output=True, text=True)
        return done.returncode, done.stdout


failures = []
for files, code, text in CASES:
    got_code, output = run(files, TABLE)
    if got_code != code or text not in output:
        failures.append(f'{sorted(files)}: exit {got_code}, output {output!r}')
loop_code, loop_output = run({'low/b.h': '#include "high/a.h"\n',
                             'high/a.h': '#include "low/b.h"\n'}, TABLE_WITH_LOOP)
if loop_code != 1 or 'loop' not in loop_output:
    failures.append(f'loop: exit {loop_code}, output {loop_output!r}')
for failure in failures:
    print(failure)
print(f'{len(CASES) + 1 - len(failures)} passed, {len(failures)} failed')
sys.exit(1 if failures else 0)
