## scene = bench_scene (NAME, DIR)
## One of the benchmark scenes of lineharvest, made with a fixed seed and
## kept as files in DIR (made on the first call, read on later ones), so that
## every process and program of a benchmark sees the same inputs:
##   NAME    image-1 x image-2 segments, pair records, records per segment, image
##   graf    2,000 x 2,300,     1,500, 20,   800 x 640
##   large   20,000 x 20,000,  10,000, 30, 2,600 x 2,000
##   huge    100,000 x 100,000, 50,000, 20, 5,800 x 4,400
## Segments of 10-80 px are spread uniformly over image 1 (about as dense as
## the detected segments of the bundled graf example); image 2 holds most of
## them moved by a small rotation and shift, with 0.3 px of noise, plus
## segments of its own. A fifth of the moved segments are seeds; every pair
## record joins two seeds and carries the motion slightly disturbed; each
## segment tries records drawn at random. Grid cell 10 px,
## margin 3 px, over the whole of image 2; thresholds 2 px, 0.1 rad, 0.5.
##
## Files in DIR/NAME: s1.bin, s2.bin, records.bin, table.bin (raw
## little-endian doubles, column-major: 4xN1, 4xN2, 14xP, TxN1),
## grid_cells.txt and scene.txt ("n1 n2 P T width height cell dmax amax omin").
function scene = bench_scene (name, dir)
  sizes = struct ("graf",  [2000, 2300, 1500, 20, 800, 640],
                  "large", [20000, 20000, 10000, 30, 2600, 2000],
                  "huge",  [100000, 100000, 50000, 20, 5800, 4400]);
  if (! isfield (sizes, name))
    error ("bench_scene: unknown scene '%s' (graf, large, huge)", name);
  endif
  folder = fullfile (dir, name);
  if (! exist (fullfile (folder, "scene.txt"), "file"))
    make_scene (folder, sizes.(name));
  endif
  info = load (fullfile (folder, "scene.txt"));
  scene.name = name;
  scene.n1 = info(1); scene.n2 = info(2); scene.P = info(3); scene.T = info(4);
  scene.width = info(5); scene.height = info(6); scene.cell = info(7);
  scene.dmax = info(8); scene.amax = info(9); scene.omin = info(10);
  scene.s1 = read_doubles (fullfile (folder, "s1.bin"), [4, scene.n1]);
  scene.s2 = read_doubles (fullfile (folder, "s2.bin"), [4, scene.n2]);
  scene.records = read_doubles (fullfile (folder, "records.bin"), [14, scene.P]);
  scene.table = read_doubles (fullfile (folder, "table.bin"), [scene.T, scene.n1]);
  scene.grid = fullfile (folder, "grid_cells.txt");
endfunction

function make_scene (folder, size_row)
  n1 = size_row(1); n2 = size_row(2); P = size_row(3); T = size_row(4);
  W = size_row(5); H = size_row(6);
  cell_size = 10; margin = 3;
  rand ("twister", 20261209);
  mkdir (folder);

  ## Image 1: segments of 10-80 px, kept 20 px inside the image.
  len = 10 + 70 * rand (1, n1);
  angle = 2 * pi * rand (1, n1);
  x1 = 20 + (W - 40) * rand (1, n1);
  y1 = 20 + (H - 40) * rand (1, n1);
  x2 = min (max (x1 + len .* cos (angle), 0), W - 1);
  y2 = min (max (y1 + len .* sin (angle), 0), H - 1);
  s1 = [x1; y1; x2; y2];

  ## The motion from image 1 to image 2: 0.5 degrees about the centre, and
  ## a shift of a few pixels.
  a = 0.5 * pi / 180;
  c = [W / 2; H / 2];
  R = [cos(a) -sin(a); sin(a) cos(a)];
  Hm = [R, c - R * c + [3.2; -2.1]; 0 0 1];

  ## Image 2: the moved image-1 segments that stay inside, with noise, in a
  ## shuffled order, then segments of its own up to n2.
  moved = zeros (4, n1);
  moved(1:2, :) = Hm(1:2, :) * [s1(1:2, :); ones(1, n1)];
  moved(3:4, :) = Hm(1:2, :) * [s1(3:4, :); ones(1, n1)];
  moved += 0.3 * (rand (4, n1) - 0.5);
  keep = find (all (moved >= 0, 1) & moved(1, :) < W & moved(3, :) < W
               & moved(2, :) < H & moved(4, :) < H);
  keep = keep(1:min (numel (keep), round (0.9 * n2)));
  extra = n2 - numel (keep);
  lenx = 10 + 70 * rand (1, extra);
  anglex = 2 * pi * rand (1, extra);
  ex1 = 20 + (W - 40) * rand (1, extra);
  ey1 = 20 + (H - 40) * rand (1, extra);
  own = [ex1; ey1; min(max(ex1 + lenx .* cos (anglex), 0), W - 1);
         min(max(ey1 + lenx .* sin (anglex), 0), H - 1)];
  s2 = [moved(:, keep), own];
  order = randperm (n2);
  s2 = s2(:, order);
  partner = -ones (1, n1);                  # image-2 index of each moved segment
  [~, where] = sort (order);
  partner(keep) = where(1:numel (keep)) - 1;

  ## Pair records: two seeds (a fifth of the segments that have partners;
  ## their correspondences are known and never added again), and the motion
  ## disturbed by a little noise (row-major in rows 6 to 14).
  seeds = keep(randperm (numel (keep), round (numel (keep) / 5)));
  with = seeds(randi (numel (seeds), 2, P));
  records = zeros (14, P);
  records(1:2, :) = with - 1;
  records(3:4, :) = partner(with);
  for r = 1:P
    h = Hm + [2e-4 * (rand (2, 2) - 0.5), 0.2 * (rand (2, 1) - 0.5); 0 0 0];
    records(6:14, r) = reshape (h', 9, 1);
  endfor

  table = floor (P * rand (T, n1));

  write_doubles (fullfile (folder, "s1.bin"), s1);
  write_doubles (fullfile (folder, "s2.bin"), s2);
  write_doubles (fullfile (folder, "records.bin"), records);
  write_doubles (fullfile (folder, "table.bin"), table);
  buildgridcells (fullfile (folder, "grid_cells.txt"), s2, cell_size, 0, H, 0, W, margin);
  fid = fopen (fullfile (folder, "scene.txt"), "w");
  fprintf (fid, "%d %d %d %d %d %d %d %.17g %.17g %.17g\n", n1, n2, P, T, W, H, cell_size, 2, 0.1, 0.5);
  fclose (fid);
endfunction

function write_doubles (path, values)
  fid = fopen (path, "w", "ieee-le");
  fwrite (fid, values, "double");
  fclose (fid);
endfunction

function values = read_doubles (path, dims)
  fid = fopen (path, "r", "ieee-le");
  values = fread (fid, dims, "double=>double");
  fclose (fid);
endfunction
