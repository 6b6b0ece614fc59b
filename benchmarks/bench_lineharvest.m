## Throughput of lineharvest on a synthetic scene of N random segments on a
## 2000 x 1500 image, image 2 being image 1 shifted by 0.3 px, with 500 pair
## records and 10 records tried per segment; best of five runs.
## Run from the repository root after building:
##   octave-cli benchmarks/bench_lineharvest.m [N]
root = fileparts (fileparts (mfilename ("fullpath")));
addpath (fullfile (root, "build", "mex"), fullfile (root, "matlab"));
args = argv ();
N = 5000;
if (! isempty (args) && ! isnan (str2double (args{end})))
  N = str2double (args{end});
endif
rand ("seed", 1); randn ("seed", 1);
W = 2000; H = 1500;
x1 = rand (1, N) * W; y1 = rand (1, N) * H;
angle = rand (1, N) * pi; len = 20 + rand (1, N) * 80;
s1 = [x1; y1; x1 + len .* cos(angle); y1 + len .* sin(angle)];
s2 = s1 + 0.3;
P = 500;
records = zeros (14, P);
for r = 1:P
  records(1:4, r) = [r - 1; r; r - 1; r];
  h = [1 0 0.3; 0 1 0.3; 0 0 1] + [1e-5 * randn(2, 3); 0 0 0];
  records(6:14, r) = reshape (h', [], 1);
endfor
T = 10;
table = floor (rand (T, N) * P);
cell_size = 20;
grid_file = [tempname() ".txt"];
buildgridcells (grid_file, s2, cell_size, 0, H, 0, W, 3);
work = tempname (); mkdir (work); here = pwd (); cd (work);
best = Inf;
for run = 1:5
  started = tic ();
  C = lineharvest (s1, s2, records, eye (3), N, N, P, 2, 0.1, 0.5, table, T,
                   grid_file, cell_size, 0, H, 0, W);
  best = min (best, toc (started));
endfor
cd (here); confirm_recursive_rmdir (false); rmdir (work, "s"); delete (grid_file);
printf ("lineharvest: %d segments, %d records per segment, %d added, best of 5: %.3f s (%.2f us per segment and record)\n",
        N, T, columns (C), best, 1e6 * best / (N * T));
