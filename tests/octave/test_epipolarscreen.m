## Tests of the built epipolarscreen MEX function.


## The screen written out in m-code from its rule, for comparing on random
## scenes in general position (no ties at a threshold).
%!function E = screen_in_mcode (S1, S2, F, ratio)
%!  E = zeros (columns (S1), columns (S2));
%!  for i = 1:columns (S1)
%!    l1 = F * [S1(1:2, i); 1];
%!    l2 = F * [S1(3:4, i); 1];
%!    for w = 1:columns (S2)
%!      p1 = S2(1:2, w);  p2 = S2(3:4, w);
%!      L = [p1(2) - p2(2); p2(1) - p1(1); p1(1) * p2(2) - p2(1) * p1(2)];
%!      c1 = cross (L, l1);  c1 = c1(1:2) / c1(3);
%!      c2 = cross (L, l2);  c2 = c2(1:2) / c2(3);
%!      in1 = dot (c1 - p1, c2 - p1) <= 0;
%!      in2 = dot (c1 - p2, c2 - p2) <= 0;
%!      if (in1 && in2)
%!        E(i, w) = 1;
%!      elseif (! in1 && ! in2)
%!        if ((l1' * [p1; 1]) * (l1' * [p2; 1]) > 0)
%!          E(i, w) = 0;
%!        else
%!          E(i, w) = ratio > norm (p1 - p2) / norm (c1 - c2);
%!        endif
%!      else
%!        outside = p1;
%!        if (in1)
%!          outside = p2;
%!        endif
%!        E(i, w) = ratio > min (norm (outside - c1), norm (outside - c2)) / norm (p1 - p2);
%!      endif
%!    endfor
%!  endfor
%!endfunction

%!function text = file_text (path)
%!  fid = fopen (path, "r");
%!  text = fread (fid, Inf, "char=>char")';
%!  fclose (fid);
%!endfunction

## F * [x; y; 1] is the line u = x + y: each image-1 segment cuts a band of
## vertical lines.
%!shared F, S1, S2, expected
%! F = [0 0 1; 0 0 0; -1 -1 0];
%! S1 = [0 0 10 0; 12 3 20 5; 4 4 4 4]';
%! S2 = [2 5 8 5; 5 0 15 0; 20 0 30 0; -5 0 15 0]';
%! expected = [1 1 0 0; 0 0 1 0; 0 0 0 0];

%!test
%! E = epipolarscreen (S1, S2, F, 0.6);
%! assert (E, expected);
%! assert (class (E), "double");
%! assert (isreal (E) && ! issparse (E));
%! ## The transpose of F is another mapping: F is used as written.
%! assert (! isequal (epipolarscreen (S1, S2, F', 0.6), expected));
%! ## A ratio above 1 takes every segment with one endpoint in the band;
%! ## Inf also the segment that spans the band.
%! assert (epipolarscreen (S1(:, 1), S2, F, Inf), [1 1 0 1]);
%! assert (epipolarscreen (S1(:, 1), S2, F, -1), [1 0 0 0]);

## With a path the same matrix is written as text, replacing the file; '' and
## [] write nothing.
%!test
%! path = [tempname() ".txt"];
%! unwind_protect
%!   fid = fopen (path, "w"); fputs (fid, "stale content\n"); fclose (fid);
%!   E = epipolarscreen (S1, S2, F, 0.6, path);
%!   assert (E, expected);
%!   assert (file_text (path), "1 1 0 0 \n0 0 1 0 \n0 0 0 0 \n");
%!   epipolarscreen (S1, zeros (4, 0), F, 0.6, path);
%!   assert (file_text (path), "\n\n\n");
%!   epipolarscreen ([], S2, F, 0.6, path);
%!   assert (isempty (file_text (path)));
%!   delete (path);
%!   epipolarscreen (S1, S2, F, 0.6, "");
%!   epipolarscreen (S1, S2, F, 0.6, []);
%!   assert (! exist (path, "file"));
%! unwind_protect_cleanup
%!   if (exist (path, "file"))
%!     delete (path);
%!   endif
%! end_unwind_protect

%!test
%! assert (size (epipolarscreen ([], S2, F, 0.6)), [0 4]);
%! assert (size (epipolarscreen (S1, zeros (4, 0), F, 0.6)), [3 0]);
%! assert (size (epipolarscreen (zeros (0, 4), [], F, 0.6)), [0 0]);

## Random scenes against the rule written out above: checks the orientation
## of F, of the segments and of E, on sizes that are not square. F is near
## that of a horizontal stereo pair (epipolar lines v = y), so that the bands
## are strips and every case of the rule occurs.
%!test
%! rand ("seed", 11);
%! for scene = 1:4
%!   S1 = rand (4, 17) * 600; S1(4, :) = S1(2, :) + (rand (1, 17) - 0.5) * 120;
%!   S2 = rand (4, 23) * 600; S2(4, :) = S2(2, :) + (rand (1, 23) - 0.5) * 80;
%!   F = [0 0 0; 0 0 -1; 0 1 0] + 1e-4 * (rand (3) - 0.5);
%!   counts = [];
%!   for ratio = [0.3, 1, 2.5]
%!     E = epipolarscreen (S1, S2, F, ratio);
%!     assert (E, screen_in_mcode (S1, S2, F, ratio));
%!     counts(end + 1) = nnz (E);
%!   endfor
%!   assert (counts(1) > 0 && counts(1) < counts(3) && counts(3) < numel (E));
%! endfor

## Every bad call is refused with its identifier and leaves Octave usable.
%!test
%! s = [0; 0; 10; 0];
%! bad = {
%!   {},                          "epipolarscreen:nargin",        "";
%!   {s, s, F},                   "epipolarscreen:nargin",        "";
%!   {s, s, F, 1, "", 2},         "epipolarscreen:nargin",        "";
%!   {single(s), s, F, 1},        "epipolarscreen:notRealDouble", "input 1 (S1)";
%!   {s, complex(s), F, 1},       "epipolarscreen:notRealDouble", "input 2 (S2)";
%!   {s, sparse(s), F, 1},        "epipolarscreen:notRealDouble", "input 2 (S2)";
%!   {s, s, int8(F), 1},          "epipolarscreen:notRealDouble", "input 3 (F)";
%!   {s, s, F, "1"},              "epipolarscreen:notRealDouble", "input 4 (RATIO)";
%!   {s', s, F, 1},               "epipolarscreen:badSegments",   "input 1 (S1)";
%!   {s, [s; 1], F, 1},           "epipolarscreen:badSegments",   "input 2 (S2)";
%!   {zeros(4, 2, 2), s, F, 1},   "epipolarscreen:badSegments",   "input 1 (S1)";
%!   {s, s, F(1:2, :), 1},        "epipolarscreen:badMatrix",     "input 3 (F)";
%!   {s, s, F(:), 1},             "epipolarscreen:badMatrix",     "input 3 (F)";
%!   {s, s, F, []},               "epipolarscreen:emptyScalar",   "input 4 (RATIO)";
%!   {s, s, F, [1 2]},            "epipolarscreen:badScalar",     "input 4 (RATIO)";
%!   {s, s, F, NaN},              "epipolarscreen:badScalar",     "NaN";
%!   {s, s, F, 1, 3},             "epipolarscreen:badPath",       "input 5 (PATH)";
%!   {s, s, F, 1, ["ab"; "cd"]},  "epipolarscreen:badPath",       "input 5 (PATH)";
%!   {s, s, F, 1, tempdir()},     "epipolarscreen:outputFile",    "";
%!   {s, s, F, 1, "/nonexistent-dir/E.txt"}, "epipolarscreen:outputFile", "nonexistent";
%! };
%! for i = 1:rows (bad)
%!   args = bad{i, 1};
%!   try
%!     epipolarscreen (args{:});
%!     error ("case %d: no error", i);
%!   catch err
%!     assert (err.identifier, bad{i, 2}, sprintf ("case %d: %s", i, err.message));
%!     assert (isempty (bad{i, 3}) || ! isempty (strfind (err.message, bad{i, 3})),
%!             sprintf ("case %d: %s", i, err.message));
%!   end_try_catch
%! endfor
%! assert (epipolarscreen (s, s, F, 1), 1);

%!error id=epipolarscreen:nargout [a, b] = epipolarscreen ([0; 0; 10; 0], [0; 0; 10; 0], eye (3), 1);
