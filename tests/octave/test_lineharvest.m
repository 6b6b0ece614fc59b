## Tests of the lineharvest MEX module. They run in a scratch directory,
## where the module writes "Addcandidates.txt".
1;

%!function write_grid (name, lines)
%!  fid = fopen (name, "w");
%!  fprintf (fid, "%s\n", lines{:});
%!  fclose (fid);
%!endfunction

%!function rec = identity_record (a, b, c, d)
%!  rec = [a; b; c; d; 0; 1; 0; 0; 0; 1; 0; 0; 0; 1];
%!endfunction

%!function rows = read_output ()
%!  rows = dlmread ("Addcandidates.txt", " ");
%!  if (isempty (rows))
%!    rows = zeros (0, 3);
%!  endif
%!endfunction

## Runs a call whose image-2 segments all sit in grid cell 0 of a 100 px
## grid over a 10000 x 100 window.
%!function C = run_cell0 (s1, s2, recs, table)
%!  write_grid ("grid.txt", {num2str(0:columns (s2) - 1)});
%!  C = lineharvest (s1, s2, recs, eye (3), columns (s1), columns (s2),
%!                   columns (recs), 1, 0.1, 0.5, table, rows (table),
%!                   "grid.txt", 100, 0, 100, 0, 10000);
%!endfunction

%!shared seg, other
%! seg = [10; 50; 90; 50];        # horizontal, inside cell 0
%! other = [10; 500; 10; 580];    # outside the window: never looked up

## Identity homography: an image-1 segment equal to an image-2 segment.
%!test
%! C = run_cell0 ([other seg], [other other seg], identity_record (0, 0, 0, 0), [0 0]);
%! assert (C, [1; 2; 0]);
%! assert (read_output (), C');

## A correspondence named by a pair record is never written.
%!test
%! C = run_cell0 ([other seg], [other seg], identity_record (1, 1, 1, 1), [0 0]);
%! assert (isempty (C));
%! assert (size (C), [3 0]);
%! assert (dir ("Addcandidates.txt").bytes, 0);

## Two homographies of one segment that find the same segment: one line,
## carrying the first record of the table.
%!test
%! recs = [identity_record(0, 0, 0, 0), identity_record(0, 0, 0, 0)];
%! recs(8, 2) = 0.5;  # second record shifts x by 0.5, still a match
%! C = run_cell0 ([other seg], [other seg], recs, [0 1; 0 0]);
%! assert (C, [1; 1; 1]);

## Mapped length 7000 is still looked up, 7001 is not.
%!test
%! s = [[0; 50; 7000; 50], [0; 60; 7001; 60]];
%! C = run_cell0 ([other s], [other s], identity_record (0, 0, 0, 0), [0 0 0]);
%! assert (C, [1; 1; 0]);

## Without an output the call returns nothing and writes the same file.
%!test
%! run_cell0 ([other seg], [other other seg], identity_record (0, 0, 0, 0), [0 0]);
%! assert (read_output (), [1 2 0]);

## Homography mapping to the line at infinity: skipped, no error.
%!test
%! rec = identity_record (0, 0, 0, 0);
%! rec(12:14) = [0; 0; 0];
%! C = run_cell0 ([other seg], [other seg], rec, [0 0]);
%! assert (isempty (C));

%!shared good
%! seg = [10; 50; 90; 50];
%! fid = fopen ("grid.txt", "w"); fprintf (fid, "0 1\n"); fclose (fid);
%! good = {seg, [seg seg], [0; 0; 0; 0; 0; 1; 0; 0; 0; 1; 0; 0; 0; 1], eye(3), ...
%!         1, 2, 1, 1, 0.1, 0.5, 0, 1, "grid.txt", 100, 0, 100, 0, 1000};

%!function args = with (args, position, value)
%!  args{position} = value;
%!endfunction

%!error <expects 18 inputs> lineharvest (1, 2, 3)
%!error id=lineharvest:nargin lineharvest ()
%!error id=lineharvest:nargout [a, b] = lineharvest (good{:})
%!error id=lineharvest:notRealDouble lineharvest (with (good, 1, int32 (good{1})){:})
%!error id=lineharvest:notRealDouble lineharvest (with (good, 2, complex (good{2})){:})
%!error id=lineharvest:notRealDouble lineharvest (with (good, 11, sparse (0)){:})
%!error id=lineharvest:notRealDouble lineharvest (with (good, 14, "10"){:})
%!error id=lineharvest:badGridFile lineharvest (with (good, 13, 42){:})
%!error id=lineharvest:badCameraMatrix lineharvest (with (good, 4, eye (2)){:})
%!error id=lineharvest:badCount lineharvest (with (good, 6, -1){:})
%!error id=lineharvest:badCount lineharvest (with (good, 12, -0.5){:})
%!error id=lineharvest:badScalar lineharvest (with (good, 14, Inf){:})
%!error id=lineharvest:badScalar lineharvest (with (good, 15, NaN){:})
%!error id=lineharvest:badScalar lineharvest (with (good, 7, 3e9){:})
%!error id=lineharvest:emptyScalar lineharvest (with (good, 12, []){:})
%!error id=lineharvest:tooSmall lineharvest (with (good, 6, 3){:})
%!error id=lineharvest:tooSmall lineharvest (with (good, 3, zeros (13, 1)){:})
%!error id=lineharvest:tooSmall lineharvest (with (good, 12, 2){:})
%!error id=lineharvest:badCellSize lineharvest (with (good, 14, 0.5){:})
%!error <pair record 0 \(column 1\), row 3> lineharvest (with (good, 3, [0; 0; 2; 0; good{3}(5:end)]){:})
%!error id=lineharvest:badPairRecord lineharvest (with (good, 3, [-1; good{3}(2:end)]){:})
%!error <column 1, row 1> lineharvest (with (good, 11, 1){:})
%!error id=lineharvest:badPairIndex lineharvest (with (good, 11, NaN){:})
%!error id=lineharvest:gridFile lineharvest (with (good, 13, "no/such/grid.txt"){:})

## Grid files that are refused: the identifier, the parts of the message,
## and the lines written before the failure (none: the grid is read before
## the search, after the output file has been opened).
%!test
%! cases = {
%!   "0\n\n0 2\n",   "lineharvest:gridEntry", {"line 3", "entry 2"}
%!   "0\n1 x7\n",     "lineharvest:gridToken", {"invalid stoi argument", "line 2"}
%!   "2147483648\n",  "lineharvest:gridToken", {"stoi argument out of range", "line 1"}
%! };
%! for k = 1:rows (cases)
%!   fid = fopen ("bad_grid.txt", "w"); fputs (fid, cases{k, 1}); fclose (fid);
%!   fid = fopen ("Addcandidates.txt", "w"); fputs (fid, "stale\n"); fclose (fid);
%!   try
%!     lineharvest (with (good, 13, "bad_grid.txt"){:});
%!     error ("no error raised");
%!   catch err
%!     assert (err.identifier, cases{k, 2});
%!     for part = cases{k, 3}
%!       assert (! isempty (strfind (err.message, part{1})), err.message);
%!     endfor
%!   end_try_catch
%!   assert (dir ("Addcandidates.txt").bytes, 0);
%! endfor

## An output file that cannot be written is an error, not an empty result.
%!test
%! mkdir ("blocked");
%! here = pwd ();
%! cd ("blocked");
%! mkdir ("Addcandidates.txt");
%! unwind_protect
%!   try
%!     lineharvest (with (good, 13, fullfile (here, "grid.txt")){:});
%!     error ("no error raised");
%!   catch err
%!     assert (err.identifier, "lineharvest:outputFile");
%!   end_try_catch
%! unwind_protect_cleanup
%!   cd (here);
%! end_unwind_protect

## After all the refused calls the session is alive and a good call works.
%!test
%! C = lineharvest (good{:});
%! assert (C, [0; 1; 0]);

## Input 19 names the output file; '' writes none. Parallel loops in one
## folder give each call its own file.
%!test
%! delete ("Addcandidates.txt");
%! C = lineharvest (good{:}, "mine.txt");
%! assert (C, [0; 1; 0]);
%! assert (fileread ("mine.txt"), "0 1 0\n");
%! assert (! exist ("Addcandidates.txt", "file"));
%! C2 = lineharvest (good{:}, "");
%! assert (C2, C);
%! assert (! exist ("Addcandidates.txt", "file"));
%!error id=lineharvest:nargin lineharvest (good{:}, "out.txt", 1)
%!error id=lineharvest:badOutputFile lineharvest (good{:}, 42)

## Grid paths that are not regular files are refused before the output is
## touched, and never block: a directory, a FIFO without a writer, a device.
%!test
%! mkdir ("grid_dir");
%! assert (system ("mkfifo grid_fifo"), 0);
%! for path = {"grid_dir", ".", "grid_fifo", "/dev/null", "no/such/grid.txt"}
%!   fid = fopen ("Addcandidates.txt", "w"); fputs (fid, "kept\n"); fclose (fid);
%!   try
%!     lineharvest (with (good, 13, path{1}){:});
%!     error ("no error raised for %s", path{1});
%!   catch err
%!     assert (err.identifier, "lineharvest:gridFile", err.message);
%!   end_try_catch
%!   assert (fileread ("Addcandidates.txt"), "kept\n");
%! endfor

## The grid file as its own output, also through a link: refused, and the
## grid survives.
%!test
%! fid = fopen ("self.txt", "w"); fputs (fid, "0 1\n"); fclose (fid);
%! assert (system ("ln -sf self.txt self_link.txt"), 0);
%! for target = {"self.txt", "self_link.txt", fullfile(pwd (), "self.txt")}
%!   try
%!     lineharvest (with (good, 13, "self.txt"){:}, target{1});
%!     error ("no error raised");
%!   catch err
%!     assert (err.identifier, "lineharvest:outputFile");
%!   end_try_catch
%!   assert (fileread ("self.txt"), "0 1\n");
%! endfor

## NaN thresholds would switch their test off: refused, naming the input.
## An infinite threshold switches its test off on purpose.
%!error <input 8 \(distance threshold\)> lineharvest (with (good, 8, NaN){:})
%!error id=lineharvest:badScalar lineharvest (with (good, 9, NaN){:})
%!error id=lineharvest:badScalar lineharvest (with (good, 10, NaN){:})
%!test
%! far = good;
%! far{2} = [good{2}(:, 1), good{2}(:, 2) + [0; 40; 0; 40]];
%! assert (isempty (lineharvest (far{:})));
%! assert (lineharvest (with (far, 8, Inf){:}), [0; 1; 0]);

## A scalar input with several elements is refused, not read by its first.
%!error id=lineharvest:badScalar lineharvest (with (good, 8, [1 2]){:})
%!error id=lineharvest:badScalar lineharvest (with (good, 14, [10 10]){:})
%!error id=lineharvest:badScalar lineharvest (with (good, 5, [2 2]){:})
