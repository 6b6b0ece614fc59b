## A seeded campaign of malformed calls of every MEX module. Each call
## changes a known-good call in one to three ways: too few or too many
## inputs or outputs, an argument of another class (every numeric class,
## logical, char, cell, struct, function handle), empty, sparse, complex, of
## another shape, NaN/Inf/huge/negative/fractional scalars, counts larger
## than their arrays, bad entries inside the arrays, bad paths and bad grid
## files. After every call the host must still be running, a refused call
## must carry the module's identifier prefix ("lineharvest:", ...) and a
## message, and an accepted one must return well-formed outputs; every 100
## calls the known-good call must still give its known result. A failing
## call is reported with its number and what was changed, so that it can be
## replayed from the seed. Runs in the scratch directory of
## run_octave_test.m.
1;

## ---- drawing malformed values -------------------------------------------

## A whole number in 1..range, or in range(1)..range(2), from rand: randi
## checks its arguments at a cost larger than that of the calls under test.
%!function k = roll (range)
%!  if (isscalar (range))
%!    k = 1 + floor (rand () * range);
%!  else
%!    k = range(1) + floor (rand () * (range(2) - range(1) + 1));
%!  endif
%!endfunction

%!function v = pick (list)
%!  v = list{roll(numel (list))};
%!endfunction

%!function v = special_scalar ()
%!  persistent values = {NaN, Inf, -Inf, -0, -1, -0.5, 0.5, 2.5, 1e300, -1e300, 2^31, -2^31 - 1, ...
%!                       2^53 + 2, 4294967296, realmin / 4, 0, 1, 3e9};
%!  v = pick (values);
%!endfunction

## Paths that refuse differently (missing, a directory, a device, empty, too
## long, not a row). No path that blocks or never ends (a FIFO, /dev/zero).
%!function v = odd_path ()
%!  persistent paths = {".", "..", "/", "no/such/dir/file.txt", "", "/dev/null", repmat("a", 1, 5000), ...
%!                      ["ab"; "cd"], "Addcandidates.txt", tempdir(), "campaign_grid.txt", "bad_grid.txt"};
%!  v = pick (paths);
%!endfunction

## A value unlike `good` (the valid argument at that position).
%!function v = odd_value (good)
%!  try
%!    switch (roll (13))
%!      case 1
%!        v = pick ({[], zeros(0, 3), zeros(3, 0), "", {}, struct([]), zeros(1, 0, 2), sparse([])});
%!      case 2
%!        cls = pick ({"single", "int8", "uint8", "int16", "uint16", "int32", "uint32", ...
%!                     "int64", "uint64", "logical", "char"});
%!        v = cast (good, cls);
%!      case 3
%!        v = pick ({{good}, struct("a", good), @sin, {1, 2}, struct("a", {1, 2})});
%!      case 4
%!        v = sparse (double (good(:, :)));
%!      case 5
%!        v = complex (double (good), 1);
%!      case 6
%!        v = pick ({good.', good(:).', reshape(good, 1, 1, []), good(:, 1:end-1), [good good], ...
%!                   good(1:end-1, :), good(:)});
%!      case 7
%!        v = special_scalar ();
%!      case 8
%!        v = double (good);
%!        if (! isempty (v))
%!          v(roll (numel (v))) = special_scalar ();
%!        endif
%!      case 9
%!        v = pick ({[1 1], 1:3, [2; 2], ones(2), [NaN 1]});
%!      case 10
%!        v = odd_path ();
%!      case 11
%!        v = double (good) * pick ({1e9, -1, 0.5, 1e-9});
%!      case 12
%!        v = numel (good) + pick ({1, 2, 1e6, 1e9});
%!      otherwise
%!        v = rand (roll ([0 5]), roll ([0 20])) * 70 - 5;
%!    endswitch
%!  catch
%!    ## The conversion itself was refused (logical (NaN), ...).
%!    v = NaN;
%!  end_try_catch
%!endfunction

## Text for a grid cell file: tokens that are not numbers, beyond the int
## range, entries beyond the segments, signs, tabs, CR, a byte-order mark.
%!function text = odd_grid_text ()
%!  pieces = {"0", "1", "2", " ", "  ", "\n", "\r\n", "\r", "\t", "-1", "+2", "x", "-", "7.9", ...
%!            "2147483648", "-2147483649", "99999999999999999999", "0x1F", "\xef\xbb\xbf", "3", "12abc"};
%!  text = [pieces{1 + floor(rand (1, roll ([0 12])) * numel (pieces))}];
%!endfunction

## Calls module with args and nout outputs; returns the outputs and the
## error (empty struct fields when it succeeded).
%!function [outs, err] = call_module (module, args, nout)
%!  outs = cell (1, nout);
%!  err = [];
%!  try
%!    if (nout == 0)
%!      feval (module, args{:});
%!    else
%!      [outs{:}] = feval (module, args{:});
%!    endif
%!  catch e
%!    err = e;
%!  end_try_catch
%!endfunction

## ---- the campaign engine --------------------------------------------------

%!function label = call_label (call, what, nout)
%!  changes = "";
%!  for k = 1:rows (what)
%!    changes = [changes sprintf(what{k, 1}, what{k, 2}) ", "];
%!  endfor
%!  label = sprintf ("call %d (%s%d outputs)", call, changes, nout);
%!endfunction

## m: the module's description (see the blocks below):
##   name, good (the known-good arguments), max_outputs, extra (a function
##   (args, m) -> [args, what] with module-specific changes), check_good (a
##   function that runs and checks the known-good call), check_outputs (a
##   function (outs, args) -> message for an accepted call, '' when fine).
%!function summary = run_campaign (m, seed, calls)
%!  warning ("off", "all", "local");  # lossy casts and odd calls are the point here
%!  rand ("twister", seed);
%!  ids = struct ();
%!  failures = {};
%!  accepted = 0;
%!  m.check_good ();
%!  for call = 1:calls
%!    args = m.good;
%!    nout = roll ([0 m.max_outputs]);
%!    what = cell (0, 2);  # format and value of each change, printed on failure
%!    for change = 1:roll (3)
%!      kind = roll (12);
%!      if (kind <= 6)
%!        position = roll (numel (m.good));
%!        args{position} = odd_value (m.good{position});
%!        what(end+1, :) = {"input %d odd", position};
%!      elseif (kind <= 9)
%!        args(end+1:numel (m.good)) = m.good(numel (args)+1:end);
%!        try
%!          [args, w] = m.extra (args, m);
%!        catch
%!          w = "module change not applicable";  # e.g. the table is a cell now
%!        end_try_catch
%!        what(end+1, :) = {"%s", w};
%!      elseif (kind == 10)
%!        n = roll ([0 numel(m.good) - 1]);
%!        args = args(1:min (n, numel (args)));
%!        what(end+1, :) = {"%d inputs", n};
%!      elseif (kind == 11)
%!        for k = 1:roll (3)
%!          args{end+1} = odd_value (pick (m.good));
%!        endfor
%!        what(end+1, :) = {"%d inputs", numel(args)};
%!      else
%!        nout = m.max_outputs + roll (2);
%!        what(end+1, :) = {"%d outputs", nout};
%!      endif
%!    endfor
%!    [outs, err] = call_module (m.name, args, nout);
%!    if (isempty (err))
%!      accepted += 1;
%!      problem = m.check_outputs (outs, args);
%!      if (! isempty (problem))
%!        failures{end+1} = [call_label(call, what, nout) ": accepted, but " problem];
%!      endif
%!    elseif (strncmp (err.identifier, [m.name ":"], numel (m.name) + 1) && ! isempty (err.message))
%!      key = strrep (err.identifier(numel (m.name) + 2:end), ":", "_");
%!      if (isfield (ids, key))
%!        ids.(key) += 1;
%!      else
%!        ids.(key) = 1;
%!      endif
%!    else
%!      failures{end+1} = sprintf ("%s: error '%s' without the module's identifier: %s", ...
%!                                 call_label (call, what, nout), err.identifier, err.message);
%!    endif
%!    if (mod (call, 100) == 0)
%!      m.check_good ();
%!    endif
%!  endfor
%!  kinds = fieldnames (ids);
%!  counts = cellfun (@(k) ids.(k), kinds);
%!  summary = sprintf ("%s: %d malformed calls, %d accepted, %d refused under %d identifiers", ...
%!                     m.name, calls, accepted, sum (counts), numel (kinds));
%!  printf ("%s\n", summary);
%!  for k = 1:numel (kinds)
%!    printf ("  %s:%s %d\n", m.name, kinds{k}, counts(k));
%!  endfor
%!  if (! isempty (failures))
%!    printf ("  %s\n", failures{1:min (20, end)});
%!    error ("%d of %d calls of %s broke the rules; first: %s", numel (failures), calls, m.name, failures{1});
%!  endif
%!endfunction

## ---- lineharvest ------------------------------------------------------------

## One image-1 segment that coincides with image-2 segment 2 under the
## identity; segment 0 of each image lies outside the window.
%!function args = lineharvest_good ()
%!  other = [10; 500; 10; 580];
%!  seg = [10; 50; 90; 50];
%!  record = [0; 0; 0; 0; 0; 1; 0; 0; 0; 1; 0; 0; 0; 1];
%!  args = {[other seg], [other other seg], record, eye(3), 2, 3, 1, 1, 0.1, 0.5, ...
%!          [0 0], 1, "good_grid.txt", 100, 0, 100, 0, 10000};
%!endfunction

%!function lineharvest_check_good ()
%!  fid = fopen ("good_grid.txt", "w");
%!  fputs (fid, "0 1 2\n");
%!  fclose (fid);
%!  C = lineharvest (lineharvest_good (){:});
%!  assert (C, [1; 2; 0]);
%!  fid = fopen ("Addcandidates.txt", "r");
%!  text = fread (fid, Inf, "char=>char").';
%!  fclose (fid);
%!  assert (text, "1 2 0\n");
%!endfunction

## Changes inside otherwise valid arguments: bad entries in the arrays,
## counts beyond the arrays, a bad grid file, the optional output path.
%!function [args, what] = lineharvest_extra (args, m)
%!  switch (roll (6))
%!    case 1  # an entry of a segment, a pair record or the pair index table
%!      position = pick ({1, 2, 3, 11});
%!      a = double (args{position});
%!      if (! isempty (a))
%!        a(roll (numel (a))) = pick ({NaN, Inf, -1, 2, 3, 1e10, 0.5, -0.5, 2^31});
%!      endif
%!      args{position} = a;
%!      what = sprintf ("entry of input %d", position);
%!    case 2  # a count beyond its array
%!      position = pick ({5, 6, 7, 12});
%!      args{position} = pick ({args{position} + 1, args{position} + 3, 1e6, 2^31 - 1});
%!      what = sprintf ("count %d too large", position);
%!    case 3  # a grid cell file with odd content
%!      fid = fopen ("campaign_grid.txt", "w");
%!      fputs (fid, odd_grid_text ());
%!      fclose (fid);
%!      args{13} = "campaign_grid.txt";
%!      what = "odd grid file";
%!    case 4  # the output path, also a bad one or the grid itself
%!      while (numel (args) < 18)
%!        args{end+1} = m.good{numel (args) + 1};
%!      endwhile
%!      args{19} = pick ({"", "campaign_out.txt", odd_path(), args{13}, 42, {}});
%!      what = "output path";
%!    case 5  # window and cell at their limits
%!      position = roll ([14 18]);
%!      args{position} = pick ({-2^31, 2^31 - 1, 0, 1, -1, 1e5});
%!      what = sprintf ("window input %d at a limit", position);
%!    otherwise  # a homography that degenerates
%!      r = args{3};
%!      if (rows (r) >= 14)
%!        r(6:14, 1) = pick ({zeros(9, 1), [0; 0; 0; 0; 0; 0; 0; 0; 1], [1; 0; 0; 0; 1; 0; 0; 0; 0], ...
%!                            NaN(9, 1), [1e300; 0; 0; 0; 1e300; 0; 0; 0; 1e-300]});
%!      endif
%!      args{3} = r;
%!      what = "degenerate homography";
%!  endswitch
%!endfunction

## An accepted call had 18 or 19 inputs, one element in each scalar and no
## NaN threshold, and returns 3xK whole numbers: indices within the counts.
%!function problem = lineharvest_outputs (outs, args)
%!  problem = "";
%!  if (numel (args) > 19)
%!    problem = sprintf ("%d inputs were accepted", numel (args));
%!    return;
%!  endif
%!  for position = [5:10, 12, 14:18]
%!    if (numel (args{position}) != 1)
%!      problem = sprintf ("input %d with %d elements was accepted", position, numel (args{position}));
%!      return;
%!    endif
%!  endfor
%!  if (any (isnan ([args{8:10}])))
%!    problem = "a NaN threshold was accepted";
%!    return;
%!  endif
%!  if (isempty (outs))
%!    return;
%!  endif
%!  C = outs{1};
%!  if (! (isa (C, "double") && isreal (C) && ! issparse (C) && rows (C) == 3))
%!    problem = sprintf ("returned a %s of size %s", class (C), mat2str (size (C)));
%!  elseif (any (C(:) < 0 | C(:) != fix (C(:))))
%!    problem = "returned negative or fractional indices";
%!  elseif (! isempty (C) && (any (C(1, :) >= args{5}) || any (C(2, :) >= args{6}) || any (C(3, :) >= args{7})))
%!    problem = "returned an index beyond its count";
%!  endif
%!endfunction

%!test
%! m.name = "lineharvest";
%! m.good = lineharvest_good ();
%! m.max_outputs = 1;
%! m.extra = @lineharvest_extra;
%! m.check_good = @lineharvest_check_good;
%! m.check_outputs = @lineharvest_outputs;
%! run_campaign (m, 20261209, 2000);

## ---- coordsift --------------------------------------------------------------

%!function args = coordsift_good ()
%!  pts = zeros (6, 4);
%!  pts(3:4, :) = [1 2 1 3; 1 1 1 3];
%!  args = {pts, 4};
%!endfunction

%!function coordsift_check_good ()
%!  [g, c, k] = coordsift (coordsift_good (){:});
%!  assert (g, [0 1 0 2]);
%!  assert (c, [1 1 2 1 3 3 0 0]);
%!  assert (k, 3);
%!endfunction

%!function [args, what] = coordsift_extra (args, m)
%!  switch (roll (3))
%!    case 1  # odd coordinates: a valid call
%!      t = double (args{1});
%!      if (! isempty (t))
%!        t(roll (numel (t))) = special_scalar ();
%!      endif
%!      args{1} = t;
%!      what = "odd coordinate";
%!    case 2  # a count beyond the table
%!      args{min (2, end)} = pick ({5, 6, 100, 1e9, 2^53});
%!      what = "count too large";
%!    otherwise  # a flat table cut right after the last y
%!      t = double (args{1});
%!      args{1} = t(1:max (0, min (numel (t), 6 * 3 + 4)));
%!      args{2} = pick ({4, 5});
%!      what = "cut table";
%!  endswitch
%!endfunction

%!function problem = coordsift_outputs (outs, args)
%!  problem = "";
%!  if (numel (args{2}) != 1)
%!    problem = sprintf ("a count with %d elements was accepted", numel (args{2}));
%!    return;
%!  endif
%!  n = double (args{2});
%!  sizes = {[1 n], [1 2*n], [1 1]};
%!  for k = 1:numel (outs)
%!    o = outs{k};
%!    if (! (isa (o, "double") && isreal (o) && ! issparse (o) && isequal (size (o), sizes{k})))
%!      problem = sprintf ("output %d is a %s of size %s", k, class (o), mat2str (size (o)));
%!      return;
%!    endif
%!  endfor
%!  if (numel (outs) >= 1 && any (outs{1} < 0 | outs{1} != fix (outs{1})))
%!    problem = "group numbers are negative or fractional";
%!  endif
%!endfunction

%!test
%! m.name = "coordsift";
%! m.good = coordsift_good ();
%! m.max_outputs = 3;
%! m.extra = @coordsift_extra;
%! m.check_good = @coordsift_check_good;
%! m.check_outputs = @coordsift_outputs;
%! run_campaign (m, 20261210, 2000);

## ---- epipolarscreen ---------------------------------------------------------

## F * [x; y; 1] is the line u = x + y: each image-1 segment cuts a band of
## vertical lines.
%!function args = epipolarscreen_good ()
%!  S1 = [0 0 10 0; 12 3 20 5; 4 4 4 4]';
%!  S2 = [2 5 8 5; 5 0 15 0; 20 0 30 0; -5 0 15 0]';
%!  args = {S1, S2, [0 0 1; 0 0 0; -1 -1 0], 0.6};
%!endfunction

%!function epipolarscreen_check_good ()
%!  E = epipolarscreen (epipolarscreen_good (){:});
%!  assert (E, [1 1 0 0; 0 0 1 0; 0 0 0 0]);
%!endfunction

%!function [args, what] = epipolarscreen_extra (args, m)
%!  switch (roll (4))
%!    case 1  # an odd entry in the segments or the matrix
%!      position = roll (3);
%!      a = double (args{position});
%!      if (! isempty (a))
%!        a(roll (numel (a))) = special_scalar ();
%!      endif
%!      args{position} = a;
%!      what = sprintf ("entry of input %d", position);
%!    case 2  # the optional output path, also a bad one
%!      args{5} = pick ({"", [], "campaign_e.txt", odd_path(), 42, {}, zeros(1, 0)});
%!      what = "output path";
%!    case 3  # the ratio at its limits
%!      args{4} = pick ({Inf, -Inf, 0, -0, 1e300, realmin / 4, 1});
%!      what = "ratio at a limit";
%!    otherwise  # segments of another count or layout
%!      position = roll (2);
%!      args{position} = pick ({zeros(4, 0), zeros(0, 4), zeros(4, 1), rand(4, 7) * 40, ...
%!                              args{position}(:, [1 1 2])});
%!      what = sprintf ("segments of input %d", position);
%!  endswitch
%!endfunction

## An accepted call had 4 or 5 inputs and a ratio that is one number, not
## NaN, and returns the N1xN2 matrix of 0 and 1.
%!function problem = epipolarscreen_outputs (outs, args)
%!  problem = "";
%!  if (numel (args) > 5 || numel (args{4}) != 1 || isnan (args{4}))
%!    problem = sprintf ("%d inputs with a ratio of %d elements were accepted", numel (args), numel (args{4}));
%!    return;
%!  endif
%!  if (isempty (outs))
%!    return;
%!  endif
%!  E = outs{1};
%!  n = [columns(args{1}), columns(args{2})];
%!  n(cellfun (@isempty, args(1:2))) = 0;
%!  if (! (isa (E, "double") && isreal (E) && ! issparse (E) && isequal (size (E), n)))
%!    problem = sprintf ("returned a %s of size %s", class (E), mat2str (size (E)));
%!  elseif (any (E(:) != 0 & E(:) != 1))
%!    problem = "returned entries other than 0 and 1";
%!  endif
%!endfunction

%!test
%! m.name = "epipolarscreen";
%! m.good = epipolarscreen_good ();
%! m.max_outputs = 1;
%! m.extra = @epipolarscreen_extra;
%! m.check_good = @epipolarscreen_check_good;
%! m.check_outputs = @epipolarscreen_outputs;
%! run_campaign (m, 20261211, 2000);

## ---- fixed calls ------------------------------------------------------------

## -0.5 truncates to index 0, which an empty range does not have: a record
## into no image-2 segments, or a table entry into no records, is refused
## (it used to be read past the arrays).
%!test
%! fid = fopen ("empty_grid.txt", "w"); fclose (fid);
%! seg = [10; 50; 90; 50];
%! rec = [0; 0; -0.5; -0.5; 0; 1; 0; 0; 0; 1; 0; 0; 0; 1];
%! calls = {
%!   {seg, zeros(4, 0), rec, eye(3), 1, 0, 1}, 0, "lineharvest:badPairRecord"
%!   {seg, seg, zeros(14, 0), eye(3), 1, 1, 0}, -0.5, "lineharvest:badPairIndex"
%! };
%! for k = 1:rows (calls)
%!   try
%!     lineharvest (calls{k, 1}{:}, 1, 0.1, 0.5, calls{k, 2}, 1, "empty_grid.txt", 100, 0, 100, 0, 1000);
%!     error ("call %d was accepted", k);
%!   catch err
%!     assert (err.identifier, calls{k, 3});
%!   end_try_catch
%! endfor
