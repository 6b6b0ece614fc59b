## Tests of buildgridcells: file format and cell numbering, the raster it
## registers (against a literal step-by-step Bresenham), the margin, the
## round trip through lineharvest, speed, and the errors of bad calls.
1;

%!function root = repoRoot ()
%!  root = fileparts (fileparts (fileparts (which ("test_grid_builder"))));
%!endfunction

%!function cells = readGrid (path)
%!  ## One cell per LF-terminated line; each a row of entries.
%!  text = fileread (path);
%!  assert (isempty (text) || text(end) == "\n", "grid file must end with LF");
%!  ends = find (text == "\n");
%!  starts = [1, ends(1:end-1) + 1];
%!  cells = cell (1, numel (ends));
%!  for k = 1:numel (ends)
%!    line = text(starts(k):ends(k) - 1);
%!    assert (! any (line == "\r" | line == "\t"));
%!    cells{k} = sscanf (line, "%d")';
%!  endfor
%!endfunction

%!function points = literalRaster (x1, y1, x2, y2)
%!  ## The raster of a mapped segment, one step at a time, with the error
%!  ## term and the tie rule of lineharvest's lookup.
%!  x1 = fix (x1); y1 = fix (y1); x2 = fix (x2); y2 = fix (y2);
%!  dx = x2 - x1; sx = sign (dx); ax = 2 * abs (dx);
%!  dy = y2 - y1; sy = sign (dy); ay = 2 * abs (dy);
%!  x = x1; y = y1; points = [x, y];
%!  if ax >= ay
%!    e = ay - abs (dx);
%!    while x != x2
%!      if e > 0 || (e == 0 && sx > 0)
%!        e -= ax; y += sy;
%!      endif
%!      e += ay; x += sx;
%!      points(end+1, :) = [x, y];
%!    endwhile
%!  else
%!    e = ax - abs (dy);
%!    while y != y2
%!      if e > 0 || (e == 0 && sy > 0)
%!        e -= ay; x += sx;
%!      endif
%!      e += ax; y += sy;
%!      points(end+1, :) = [x, y];
%!    endwhile
%!  endif
%!endfunction

%!function entries = gridEntries (cells)
%!  ## One row [cell, segment] per entry of the grid.
%!  counts = cellfun (@numel, cells);
%!  owner = repelem ((0:numel (cells) - 1)', counts(:));
%!  entries = [owner(:), [cells{:}]'];
%!endfunction

%!shared root
%! root = repoRoot ();
%! addpath (fullfile (root, "matlab"));

## The literal raster itself reproduces the reference rasters.
%!test
%! cases = {
%!   [0 0 3 1],  [0 0; 1 0; 2 1; 3 1]
%!   [3 1 0 0],  [3 1; 2 1; 1 0; 0 0]
%!   [0 0 2 1],  [0 0; 1 1; 2 1]
%!   [2 1 0 0],  [2 1; 1 1; 0 0]
%!   [0 0 1 3],  [0 0; 0 1; 1 2; 1 3]
%!   [5 5 5 5],  [5 5]
%! };
%! for k = 1:rows (cases)
%!   s = num2cell (cases{k, 1});
%!   assert (literalRaster (s{:}), cases{k, 2});
%! endfor

## Format and numbering: each case lists the non-empty cells it expects as
## {cell, entries}; every other line must be empty.
%!test
%! cases = {
%!   ## segments (4xN)                        cell y0 y1 x0  x1 margin lines  expected cells
%!   [5.7; 3.2; 25.9; 3.9],                    10, 0, 50, 0, 100, 0,  54, {0, 0; 1, 0; 2, 0}
%!   [5.7; 3.2; 25.9; 3.9],                    10, 0, 50, 0, 100, 7,  54, {0, 0; 1, 0; 2, 0; 3, 0; 11, 0; 12, 0; 13, 0; 14, 0}
%!   [-0.5; 3.9; 9.99; 3.2],                    5, 0, 50, 0, 100, 0, 209, {0, 0; 1, 0}
%!   [-0.9; 5; -0.9; 25],                      10, 0, 50, 0, 100, 0,  54, {0, 0; 11, 0; 22, 0}
%!   [35; 25; 35; 25],                         10, 0, 50, 0, 100, 0,  54, {25, 0}
%!   [-20 200; 5 5; 15 300; 5 5],              10, 0, 50, 0, 100, 0,  54, {0, 0; 1, 0}
%!   [20 9; 0 10; 20 9; 0 10],                 10, 0, 50, 9,  21, 0,  11, {2, [0 1]}
%!   [9; 10; 20; 10],                          10, 0, 50, 9,  21, 0,  11, {2, 0; 3, 0; 4, 0}
%!   [3 1 2; 3 1 2; 4 2 3; 3 1 2],             10, 0, 50, 0, 100, 0,  54, {0, [0 1 2]}
%!   [5; 5; 45; 45],                           10, 0, 50, 0, 100, 0,  54, {0, 0; 12, 0; 24, 0; 36, 0; 48, 0}
%!   zeros(4, 0),                              10, 0, 50, 0, 100, 0,  54, cell(0, 2)
%!   [5; 5; 6; 6],                             10, 0, 50, 0,   0, 0,   0, cell(0, 2)
%!   [5; 5; 6; 6],                             10, 20, 20, 0, 100, 0,  0, cell(0, 2)
%! };
%! for k = 1:rows (cases)
%!   [segs, cs, y0, y1, x0, x1, margin, lines, expected] = cases{k, :};
%!   [numCells, numEntries] = buildgridcells ("grid.txt", segs, cs, y0, y1, x0, x1, margin);
%!   cells = readGrid ("grid.txt");
%!   assert (numel (cells) == lines, sprintf ("case %d: %d lines", k, numel (cells)));
%!   assert (numCells, lines);
%!   want = repmat ({zeros(1, 0)}, 1, lines);
%!   for e = 1:rows (expected)
%!     want{expected{e, 1} + 1} = expected{e, 2};
%!   endfor
%!   for c = 1:lines
%!     assert (isequal (cells{c}, want{c}) || (isempty (cells{c}) && isempty (want{c})), ...
%!             sprintf ("case %d, cell %d: got [%s], want [%s]", k, c - 1, ...
%!                      num2str (cells{c}), num2str (want{c})));
%!   endfor
%!   assert (numEntries, sum (cellfun (@numel, cells)));
%! endfor

## With cell size 1 and no margin each segment sits exactly in the pixels of
## its raster inside the window; with a margin, in every window pixel within
## that many pixels (in x and in y) of one.
%!test
%! rand ("seed", 11);
%! n = 150;
%! x = [rand(1, n) * 70, 0 0 3 2 0 5 10 30 10];
%! y = [rand(1, n) * 50, 0 0 1 1 0 5 40 10 10];
%! dx = [round(rand(1, n) * 40 - 20) + (rand(1, n) > 0.5) .* rand(1, n), 3 2 -3 -2 1 0 25 -25 25];
%! dy = [round(rand(1, n) * 40 - 20) + (rand(1, n) > 0.5) .* rand(1, n), 1 1 -1 -1 3 0 -25 25 25];
%! segs = [x; y; x + dx; y + dy];
%! window = {1, 5, 45, 0, 60};            # cell, yBegin, yEnd, xBegin, xEnd
%! gridColumns = 60 - 0 + 1;
%! for margin = [0 2]
%!   buildgridcells ("grid.txt", segs, window{:}, margin);
%!   entries = gridEntries (readGrid ("grid.txt"));
%!   for s = 1:columns (segs)
%!     raster = literalRaster (segs(1, s), segs(2, s), segs(3, s), segs(4, s));
%!     [ox, oy] = meshgrid (-margin:margin);
%!     wide = unique ([kron(raster(:, 1), ones(numel (ox), 1)) + repmat(ox(:), rows (raster), 1), ...
%!                     kron(raster(:, 2), ones(numel (oy), 1)) + repmat(oy(:), rows (raster), 1)], "rows");
%!     inside = wide(:, 1) >= 0 & wide(:, 1) < 60 & wide(:, 2) >= 5 & wide(:, 2) < 45;
%!     ## With cell size 1 a cell is a pixel.
%!     held = entries(entries(:, 2) == s - 1, 1);
%!     pixels = sortrows ([mod(held, gridColumns), floor(held / gridColumns)]);
%!     assert (isequal (pixels, sortrows (wide(inside, :))), ...
%!             sprintf ("segment %d, margin %d", s - 1, margin));
%!   endfor
%! endfor

## Round trip: with the identity homography every image-2 segment, used as
## an image-1 segment, finds itself, whatever the cell size and window.
## (The distance threshold only absorbs the rounding of the line equation
## of fractional endpoints; random segments are never collinear.)
%!test
%! rand ("seed", 5);
%! configs = {
%!   ## cell yBegin yEnd xBegin xEnd margin
%!   10,   0, 1500,   0, 2000, 0
%!    7,   0, 1500,   0, 2000, 0
%!    1,   0,  300,   0,  400, 0
%!   16, 100,  700, 250, 1000, 2
%!   64,  33,  500,  17,  900, 0
%! };
%! for k = 1:rows (configs)
%!   [cs, y0, y1, x0, x1, margin] = configs{k, :};
%!   n = 300;
%!   x = x0 + rand (1, n) * (x1 - x0 - 1);
%!   y = y0 + rand (1, n) * (y1 - y0 - 1);
%!   len = 2 + rand (1, n) * 80;
%!   theta = rand (1, n) * 2 * pi;
%!   segs = [x; y; x + len .* cos(theta); y + len .* sin(theta); ];
%!   segs = [segs, [-50; -50; -40; -50]];      # flagged by the pair record
%!   record = [n; n; n; n; 0; 1; 0; 0; 0; 1; 0; 0; 0; 1];
%!   buildgridcells ("grid.txt", segs(:, 1:n), cs, y0, y1, x0, x1, margin);
%!   added = lineharvest (segs, segs, record, eye (3), n + 1, n + 1, 1, 1e-6, 0, 0.5, ...
%!                        zeros (1, n + 1), 1, "grid.txt", cs, y0, y1, x0, x1);
%!   assert (isequal (added, [0:n-1; 0:n-1; zeros(1, n)]), sprintf ("config %d", k));
%! endfor

## 10,000 segments of typical detector lengths on a 2000x1500 image (its
## speed is measured by benchmarks/bench_grid_builder.m).
%!test
%! rand ("seed", 3);
%! n = 10000;
%! x = rand (1, n) * 2000; y = rand (1, n) * 1500;
%! len = 5 + 80 * rand (1, n); theta = 2 * pi * rand (1, n);
%! segs = [x; y; x + len .* cos(theta); y + len .* sin(theta)];
%! numCells = buildgridcells ("grid.txt", segs, 10, 0, 1500, 0, 2000, 3);
%! assert (numCells, 149 * 201 + 200);

## Bad calls: an error with the builder's identifier, and no file written.
%!test
%! s = [0; 0; 10; 10];
%! cases = {
%!   {"grid.txt", s, 10, 0, 50, 0},                  "buildgridcells:nargin"
%!   {42, s, 10, 0, 50, 0, 100},                     "buildgridcells:badPath"
%!   {"", s, 10, 0, 50, 0, 100},                     "buildgridcells:badPath"
%!   {"abc", "abcd", 10, 0, 50, 0, 100},             "buildgridcells:badSegments"
%!   {"grid.txt", {s}, 10, 0, 50, 0, 100},           "buildgridcells:badSegments"
%!   {"grid.txt", s(1:3), 10, 0, 50, 0, 100},        "buildgridcells:badSegments"
%!   {"grid.txt", [s s]', 10, 0, 50, 0, 100},        "buildgridcells:badSegments"
%!   {"grid.txt", s * 1i, 10, 0, 50, 0, 100},        "buildgridcells:badSegments"
%!   {"grid.txt", [s [NaN; 0; 1; 1]], 10, 0, 50, 0, 100}, "buildgridcells:badSegments"
%!   {"grid.txt", [s [2^25; 0; 1; 1]], 10, 0, 50, 0, 100}, "buildgridcells:badSegments"
%!   {"grid.txt", s, 0, 0, 50, 0, 100},              "buildgridcells:badCellSize"
%!   {"grid.txt", s, 0.9, 0, 50, 0, 100},            "buildgridcells:badCellSize"
%!   {"grid.txt", s, -10, 0, 50, 0, 100},            "buildgridcells:badCellSize"
%!   {"grid.txt", s, [10 10], 0, 50, 0, 100},        "buildgridcells:badCellSize"
%!   {"grid.txt", s, "10", 0, 50, 0, 100},           "buildgridcells:badCellSize"
%!   {"grid.txt", s, NaN, 0, 50, 0, 100},            "buildgridcells:badCellSize"
%!   {"grid.txt", s, 10, 50, 0, 0, 100},             "buildgridcells:badWindow"
%!   {"grid.txt", s, 10, 0, 50, 100, 0},             "buildgridcells:badWindow"
%!   {"grid.txt", s, 10, [0 1], 50, 0, 100},         "buildgridcells:badWindow"
%!   {"grid.txt", s, 10, 0, Inf, 0, 100},            "buildgridcells:badWindow"
%!   {"grid.txt", s, 10, 0, 50, "a", 100},           "buildgridcells:badWindow"
%!   {"grid.txt", s, 1, 0, 2e9, 0, 2e9},             "buildgridcells:badWindow"
%!   {"grid.txt", s, 10, 0, 50, 0, 100, -1},         "buildgridcells:badMargin"
%!   {"grid.txt", s, 10, 0, 50, 0, 100, [1 2]},      "buildgridcells:badMargin"
%!   {"no/such/dir/grid.txt", s, 10, 0, 50, 0, 100}, "buildgridcells:fileOpen"
%! };
%! for k = 1:rows (cases)
%!   if exist ("grid.txt", "file")
%!     delete ("grid.txt");
%!   endif
%!   id = "";
%!   try
%!     buildgridcells (cases{k, 1}{:});
%!   catch err
%!     id = err.identifier;
%!   end_try_catch
%!   assert (strcmp (id, cases{k, 2}), sprintf ("case %d: got '%s'", k, id));
%!   assert (! exist ("grid.txt", "file"), sprintf ("case %d wrote a file", k));
%! endfor

## The core's own grid index (GridIndex::build, used by C++ and Python
## callers) writes exactly the file buildgridcells writes: the example's
## segments and seeded random scenes with windows off the origin, margins,
## cell sizes from 1 px and segments partly or wholly outside.
%!test
%! dump = fullfile (getenv ("LH_TEST_TOOLS"), "grid_index_dump");
%! assert (exist (dump, "file") == 2, "grid_index_dump not built");
%! rand ("seed", 11);
%! s2 = dlmread (fullfile (repoRoot (), "example", "graf", "segments2.txt"))';
%! scenes = {s2, 10, 0, 640, 0, 800, 3};
%! for k = 1:40
%!   n = randi ([0 60]);
%!   seg = round (rand (4, n) * 300 - 40) + (rand (4, n) > 0.5) .* rand (4, n);
%!   ## (no space before the parentheses: inside braces it would split)
%!   scenes(end+1, :) = {seg, randi([1 40]), randi([-20 20]), randi([0 300]), ...
%!                       randi([-30 30]), randi([0 300]), randi([0 4])};
%!   scenes{end, 4} = max (scenes{end, 4}, scenes{end, 3});
%!   scenes{end, 6} = max (scenes{end, 6}, scenes{end, 5});
%! endfor
%! for k = 1:rows (scenes)
%!   [seg, cellSize, y0, y1, x0, x1, margin] = scenes{k, :};
%!   buildgridcells ("expected.txt", seg, cellSize, y0, y1, x0, x1, margin);
%!   fid = fopen ("segments.txt", "w"); fprintf (fid, "%.17g %.17g %.17g %.17g\n", seg); fclose (fid);
%!   status = system (sprintf ("'%s' segments.txt built.txt %d %d %d %d %d %d", dump, ...
%!                             cellSize, y0, y1, x0, x1, margin));
%!   assert (status, 0);
%!   assert (strcmp (fileread ("built.txt"), fileread ("expected.txt")), ...
%!           sprintf ("scene %d differs", k));
%! endfor
