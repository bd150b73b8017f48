#!/usr/bin/env python3
"""Two engine builds side by side: the same Lua loop of script calls.

    bench/compare_engines.py OURS_QUILD OTHER_QUILD [--rounds 5] [--cpus 6,7]
        [--sizes 10,1000,10000] [--keep DIR]

Each round runs, for each size, a small game in each engine (the engines
take turns: ours first in odd rounds, the other first in even ones), pinned
with taskset. The game (written into a temporary folder) makes that many
hotspots in its room (children of one of them), global hotspots, scenes,
fonts, meshes and game texts, times each script call in a loop of its own
(CPU time, os.clock, the best of three loops), measures the Lua heap after
a full collect and quits. Per call the table gives each engine's median
over the rounds and the ratio ours / other: the median of the rounds'
ratios and their spread (lowest-highest).

A benchmark, not a test: nothing here passes or fails.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile

MAIN = r"""
N = __N__
DIR_ROOT, DIR_STAGES, DIR_SCRIPTS = '', 'stages', 'scripts'
ge_resetdisplay(320, 240, 32, false, 0, "compare", 0)
for i = 1, N do hotspot{name = 'g' .. i, rect = '0,0,4,4'} end
for i = 1, N do scene{name = 's' .. i} end
for i = 1, N do font{name = 'f' .. i} end
for i = 1, N do gtext_new('t' .. i) end
ge_switchscene('room')

local lines = {}
local function timed(name, call)
  local best
  for _ = 1, 3 do
    local reps = 1
    while true do
      local t0 = os.clock()
      for _ = 1, reps do call() end
      local t = os.clock() - t0
      if t >= 0.02 then
        t = t / reps
        if not best or t < best then best = t end
        break
      end
      reps = reps * 2
    end
  end
  lines[#lines + 1] = string.format('%s %.1f', name, best * 1e9)
end

local function run()
  local first, parent, last = hs_get('h1'), hs_get('p'), 't' .. N
  timed('hs_checkevents(first)', function() hs_checkevents(first) end)
  timed('hs_checkevents()', function() hs_checkevents() end)
  timed('hs_get(last)', function() hs_get('h' .. N) end)
  timed('gtext_get(last)', function() gtext_get(last) end)
  timed('ge_gethotspotslist()', function() ge_gethotspotslist() end)
  timed('ge_gethotspotslist(parent)', function() ge_gethotspotslist(parent) end)
  timed('ge_getglobalhotspotslist()', function() ge_getglobalhotspotslist() end)
  timed('ge_getsceneobjectslist()', function() ge_getsceneobjectslist() end)
  timed("ge_getsceneobjectlist('hotspot')", function() ge_getsceneobjectlist('hotspot') end)
  timed('ge_getsceneslist()', function() ge_getsceneslist() end)
  timed('ge_getfontslist()', function() ge_getfontslist() end)
  timed('ge_getmesheslist()', function() ge_getmesheslist() end)
  local box = edit_create and edit_create(rect_screen2d(), nil, 1)
  if box then
    edit_settext(box, string.rep('x', N))
    timed('edit_cmd(undo)', function() edit_cmd(box, 'undo') end)
  end
  timed('gtext_load(N texts)', function() gtext_freeall() gtext_load('texts.txt') end)
  collectgarbage('collect') collectgarbage('collect')
  lines[#lines + 1] = string.format('heap_KiB %.1f', collectgarbage('count'))
  local f = io.open('results.txt', 'w')
  f:write(table.concat(lines, '\n'), '\n')
  f:close()
end

local done, frames = false, 0
function OnGameUpdate()
  frames = frames + 1
  if frames > 600 then quit() end  -- the room never came
  if done or not hs_get('p') then return end
  done = true
  run()
  quit()
end
"""

ROOM = r"""
beginscene()
scene{name = 'room'}
hotspot{name = 'p', rect = '0,0,10,10'}
for i = 1, __N__ do hotspot{name = 'h' .. i, rect = '0,0,10,10', parent = 'p'} end
for i = 1, __N__ do mesh{name = 'm' .. i} end
endscene()
"""


def write_game(folder, n):
    os.makedirs(os.path.join(folder, 'stages', 'room'), exist_ok=True)
    with open(os.path.join(folder, 'main.lua'), 'w') as f:
        f.write(MAIN.replace('__N__', str(n)))
    with open(os.path.join(folder, 'stages', 'room', 'data.lua'), 'w') as f:
        f.write(ROOM.replace('__N__', str(n)))
    with open(os.path.join(folder, 'texts.txt'), 'w') as f:
        for i in range(1, n + 1):
            f.write('<t%d>\r\nline %d\r\n\r\n' % (i, i))


def run_game(engine, folder, cpus, timeout):
    result = os.path.join(folder, 'results.txt')
    if os.path.exists(result):
        os.remove(result)
    env = dict(os.environ, SDL_VIDEODRIVER='offscreen', SDL_AUDIODRIVER='dummy',
               HOME=os.path.join(folder, 'home'))
    os.makedirs(env['HOME'], exist_ok=True)
    subprocess.run(['taskset', '-c', cpus, os.path.abspath(engine)], cwd=folder, env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout)
    figures = {}
    if os.path.exists(result):
        with open(result) as f:
            for line in f:
                name, _, value = line.rstrip('\n').rpartition(' ')
                if name:
                    figures[name] = float(value)
    return figures


def spread(values):
    return '%s (%s-%s)' % (fmt(statistics.median(values)), fmt(min(values)), fmt(max(values)))


def fmt(v):
    return '%.3g' % v


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('ours')
    ap.add_argument('other')
    ap.add_argument('--rounds', type=int, default=5)
    ap.add_argument('--cpus', default='6,7')
    ap.add_argument('--sizes', default='10,1000,10000')
    ap.add_argument('--timeout', type=float, default=900)
    ap.add_argument('--keep', help='folder for the games (kept); a temporary one otherwise')
    args = ap.parse_args()
    sizes = [int(s) for s in args.sizes.split(',')]
    root = args.keep or tempfile.mkdtemp(prefix='quild_compare_')
    runs = {}  # (size, side) -> [figures per round]
    for n in sizes:
        write_game(os.path.join(root, str(n)), n)
    for r in range(args.rounds):
        for n in sizes:
            order = [('ours', args.ours), ('other', args.other)]
            if r % 2:
                order.reverse()
            for side, engine in order:
                figures = run_game(engine, os.path.join(root, str(n)), args.cpus, args.timeout)
                runs.setdefault((n, side), []).append(figures)
                print('round %d, %d objects, %s: %d figures' % (r + 1, n, side, len(figures)), file=sys.stderr)
    print('| objects | call | ours (ns a call) | other | ratio ours/other |')
    print('|---|---|---|---|---|')
    for n in sizes:
        names = [k for k in runs[(n, 'ours')][0]] if runs[(n, 'ours')] else []
        for name in names:
            ours = [f[name] for f in runs[(n, 'ours')] if name in f]
            other = [f[name] for f in runs[(n, 'other')] if name in f]
            ratios = [a / b for a, b in zip((f.get(name) for f in runs[(n, 'ours')]),
                                            (f.get(name) for f in runs[(n, 'other')])) if a and b]
            print('| %d | %s | %s | %s | %s |' % (n, name, spread(ours) if ours else '-',
                                                 spread(other) if other else '-',
                                                 spread(ratios) + 'x' if ratios else '-'))
    if not args.keep:
        subprocess.run(['rm', '-rf', root])


if __name__ == '__main__':
    main()
