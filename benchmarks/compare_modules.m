## Times an older build of the MEX modules against the current one in ONE
## Octave process and checks that their outputs are identical.
##   octave-cli compare_modules.m NEW_MEX_DIR OLD_MEX_DIR SCENE_DIR RUNS SCENES COORDSIFT OLD_DISTINCT
## The old modules are loaded as lineharvest_old / coordsift_old (the files
## renamed); both builds hide every symbol but mexFunction, so they do not
## interpose each other. Each scene runs old and new alternately RUNS times;
## the medians are reported. SCENES is a comma-separated list (graf,large,huge);
## COORDSIFT is "yes" or "no"; OLD_DISTINCT is how many distinct points the
## old, quadratic coordsift gets (it takes minutes at 10^6).
1;

function t = median_time (f, runs)
  t = zeros (1, runs);
  for k = 1:runs
    started = tic ();
    f ();
    t(k) = toc (started);
  endfor
  t = median (t);
endfunction

function text = file_bytes (path)
  fid = fopen (path, "r");
  text = fread (fid, Inf, "uint8=>uint8");
  fclose (fid);
endfunction

args = argv ();
new_dir = args{1}; old_dir = args{2}; scene_dir = args{3};
runs = str2double (args{4});
scenes = strsplit (args{5}, ",");
with_coordsift = strcmp (args{6}, "yes");
old_distinct = str2double (args{7});
here = fileparts (mfilename ("fullpath"));
root = fileparts (here);
addpath (new_dir, old_dir, here, fullfile (root, "matlab"));

printf ("%-8s %12s %12s %8s %10s  %s\n", "scene", "old (s)", "new (s)", "ratio", "added", "outputs");
old_work = tempname (); mkdir (old_work);
new_work = tempname (); mkdir (new_work);
for name = scenes
  if (isempty (name{1}))
    continue;
  endif
  s = bench_scene (name{1}, scene_dir);
  args18 = {s.s1, s.s2, s.records, eye(3), s.n1, s.n2, s.P, s.dmax, s.amax, s.omin, ...
            s.table, s.T, s.grid, s.cell, 0, s.height, 0, s.width};
  ## Alternate the two so that a change in the machine's load hits both.
  t_old = zeros (1, runs); t_new = zeros (1, runs);
  for k = 1:runs
    cd (old_work);
    started = tic (); C_old = lineharvest_old (args18{:}); t_old(k) = toc (started);
    cd (new_work);
    started = tic (); C_new = lineharvest (args18{:}); t_new(k) = toc (started);
  endfor
  same = isequal (C_old, C_new) && isequal (file_bytes (fullfile (old_work, "Addcandidates.txt")),
                                            file_bytes (fullfile (new_work, "Addcandidates.txt")));
  verdict = "identical";
  if (! same)
    verdict = "DIFFERENT";
  endif
  printf ("%-8s %12.3f %12.3f %7.1fx %10d  %s\n", name{1}, median (t_old), median (t_new),
          median (t_old) / median (t_new), columns (C_new), verdict);
  fflush (stdout);
  clear C_old C_new args18 s;
endfor
cd (here);

if (with_coordsift)
  printf ("\n%-34s %12s %12s %8s  %s\n", "coordsift", "old (s)", "new (s)", "ratio", "outputs");
  rand ("twister", 7);
  cases = {};
  ## n distinct whole-number points (a shuffled grid), and 10^7 points that
  ## fall into 1,024 groups.
  n = 1e6;
  side = ceil (sqrt (n));
  order = randperm (side * side, n) - 1;
  distinct = zeros (6, n);
  distinct(3:4, :) = [mod(order, side); floor(order / side)];
  cases(end + 1, :) = {"10^6 distinct points", distinct, n};
  m = 1e7;
  grouped = zeros (6, m);
  g = randi (1024, 1, m) - 1;
  grouped(3:4, :) = [mod(g, 32) * 17; floor(g / 32) * 13];
  cases(end + 1, :) = {"10^7 points in 1,024 groups", grouped, m};
  if (old_distinct < n)
    ## The old scan is quadratic on distinct points (minutes at 10^6): it is
    ## compared on a prefix, and the new one is also timed on all points.
    cases(end + 1, :) = {sprintf("%d distinct points", old_distinct), distinct, old_distinct};
  endif
  for c = 1:rows (cases)
    [label, table, count] = cases{c, :};
    t_new = median_time (@() coordsift (table, count), runs);
    if (c == 1 && old_distinct < count)
      printf ("%-34s %12s %12.3f %8s  %s\n", label, "-", t_new, "-", "(old: see the prefix below)");
      continue;
    endif
    [gi, gc, k] = coordsift (table, count);
    [oi, oc, ok] = coordsift_old (table, count);
    verdict = "identical";
    if (! isequal ({oi, oc, ok}, {gi, gc, k}))
      verdict = "DIFFERENT";
    endif
    t_old = median_time (@() coordsift_old (table, count), runs);
    printf ("%-34s %12.3f %12.3f %7.0fx  %s\n", label, t_old, t_new, t_old / t_new, verdict);
    ## What both pay for the host's output arrays alone (1 x n and 1 x 2n,
    ## zero-filled), so that the grouping's own share can be read off.
    t_alloc = median_time (@() zeros (1, count), runs) + median_time (@() zeros (1, 2 * count), runs);
    printf ("%-34s %12.3f %12.3f %8s  %s\n", "  of which allocating the outputs", t_alloc, t_alloc, "", "");
    fflush (stdout);
    clear oi oc ok gi gc k;
  endfor
  clear cases distinct grouped;
endif
confirm_recursive_rmdir (false);
rmdir (old_work, "s"); rmdir (new_work, "s");
