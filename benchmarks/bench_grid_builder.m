## Time of buildgridcells for 10,000 segments of detector-like lengths on a
## 2000 x 1500 image (cell 10 px, margin 3 px), best of five runs.
## Run from the repository root:  octave-cli benchmarks/bench_grid_builder.m
root = fileparts (fileparts (mfilename ("fullpath")));
addpath (fullfile (root, "matlab"));
rand ("seed", 3);
n = 10000;
x = rand (1, n) * 2000; y = rand (1, n) * 1500;
len = 5 + 80 * rand (1, n); theta = 2 * pi * rand (1, n);
segs = [x; y; x + len .* cos(theta); y + len .* sin(theta)];
grid_file = [tempname() ".txt"];
best = Inf;
for run = 1:5
  started = tic ();
  buildgridcells (grid_file, segs, 10, 0, 1500, 0, 2000, 3);
  best = min (best, toc (started));
endfor
delete (grid_file);
printf ("buildgridcells: %d segments, best of 5: %.3f s\n", n, best);
