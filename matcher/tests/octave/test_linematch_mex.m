## Tests of the linematch MEX gateway: results as the C++ matcher gives them,
## outputs that agree with each other, options, and refused calls.
## The photographs come from opencv-doc (or LINEMATCH_DATA_DIR).

%!shared d, M, S1, S2, info
%! d = getenv ("LINEMATCH_DATA_DIR");
%! if (isempty (d))
%!   d = "/usr/share/doc/opencv-doc/examples/data";
%! endif
%! [M, S1, S2, info] = linematch (fullfile (d, "graf1.png"), fullfile (d, "graf3.png"), ...
%!                                struct ("Homography", [7.6285898e-01 -2.9922929e-01 2.2567123e+02;
%!                                                       3.3443473e-01  1.0143901e+00 -7.6999973e+01;
%!                                                       3.4663091e-04 -1.4364524e-05  1.0000000e+00]));

%!test
%! ## 2 x K, 0-based indices into the 4 x N segment arrays, each pair once
%! assert (rows (M), 2);
%! assert (rows (S1), 4);
%! assert (rows (S2), 4);
%! assert (all (M(1,:) >= 0 & M(1,:) < columns (S1) & M(1,:) == fix (M(1,:))));
%! assert (all (M(2,:) >= 0 & M(2,:) < columns (S2) & M(2,:) == fix (M(2,:))));
%! assert (rows (unique (M', "rows")), columns (M));

%!test
%! ## the seeds come first, then the rounds' additions
%! assert (M(:, 1:columns (info.seeds)), info.seeds);
%! assert (columns (M), columns (info.seeds) + sum (info.rounds(:, 6)));
%! assert (columns (info.rounds), 7);
%! ## the first round's seeds by source: those the checks kept are the seeds
%! assert (fieldnames (info.seedSources), {"given"; "point"; "lbd"});
%! assert (sum (structfun (@(s) s.kept, info.seedSources)), columns (info.seeds));

%!test
%! ## the accuracy the C++ tests require, scored by the gateway
%! s = info.score;
%! assert (s.trueCorrespondences > 700);
%! assert (s.final(1), columns (M));
%! assert (s.final(3) >= 0.83);
%! assert (s.final(4) >= 0.72);
%! assert (s.final(3) >= s.descriptorAlone(3));
%! assert (size (s.pointSeeds), [1 4]);

%!test
%! ## one confidence per column of M, the geometry's fields whatever was
%! ## found, and the ranking scores beside the others
%! assert (size (info.confidence), [columns(M), 1]);
%! assert (all (info.confidence >= 0 & info.confidence <= 1));
%! g = info.geometry;
%! assert (all (isfield (g.planes, {"H", "inliers", "medianResidual"})));
%! assert (all (arrayfun (@(p) isequal (size (p.H), [3 3]), g.planes)));
%! f = g.fundamental;
%! assert (islogical (f.verified));
%! assert (isempty (f.F), ! f.verified);
%! assert (all (isfield (f, {"inliers", "offPlaneInliers", "medianResidual"})));
%! s = info.score;
%! assert (s.averagePrecision >= 0 && s.averagePrecision <= s.final(4) + eps);
%! assert (s.confidentHalfPrecision >= 0 && s.confidentHalfPrecision <= 1);

%!test
%! ## S1, S2 handed back as Segments1, Segments2 give the same call again;
%! ## MinLength, which would change detected segments, does not touch them
%! [m, s1, s2, i] = linematch (fullfile (d, "graf1.png"), fullfile (d, "graf3.png"), ...
%!                             struct ("Homography", [7.6285898e-01 -2.9922929e-01 2.2567123e+02;
%!                                                    3.3443473e-01  1.0143901e+00 -7.6999973e+01;
%!                                                    3.4663091e-04 -1.4364524e-05  1.0000000e+00],
%!                                     "MinLength", 50, "Segments1", S1, "Segments2", S2));
%! assert ({m, s1, s2, i.seeds, i.rounds, i.score}, {M, S1, S2, info.seeds, info.rounds, info.score});
%! ## one list alone, or one not as S1, S2 are returned: refused by name
%! bad = {{"Segments1", S1}, "option Segments2 is missing";
%!        {"Segments2", S2}, "option Segments1 is missing";
%!        {"Segments1", S1', "Segments2", S2}, "option Segments1 must be a real 4 x N";
%!        {"Segments1", S1, "Segments2", single(S2)}, "option Segments2 must be a real 4 x N";
%!        {"Segments1", S1, "Segments2", [S2, [0; 0; NaN; 1]]}, "option Segments2 column";
%!        {"Segments1", [S1, [0; 0; 2^24; 0]], "Segments2", S2}, "option Segments1 column";
%!        {"Segments1", S1(:, 1:3), "Segments2", S2(:, 1:3), "SeedMatches", [3 0]}, "columns of Segments1"};
%! for k = 1:rows (bad)
%!   try
%!     linematch (fullfile (d, "graf1.png"), fullfile (d, "graf3.png"), bad{k, 1}{:});
%!     error ("test:noError", "row %d accepted", k);
%!   catch e
%!     assert ({k, e.identifier}, {k, "linematch:badOptions"});
%!     assert (! isempty (strfind (e.message, bad{k, 2})), e.message);
%!   end_try_catch
%! endfor

%!test
%! ## an image array gives what the same grey pixels give from a file
%! g = imread (fullfile (d, "building.jpg"));
%! if (ndims (g) == 3)
%!   g = g(:, :, 1);
%! endif
%! f = [tempname() ".png"];
%! imwrite (g, f);
%! unwind_protect
%!   assert (linematch (g, g(:, end:-1:1)), linematch (f, g(:, end:-1:1)));
%! unwind_protect_cleanup
%!   delete (f);
%! end_unwind_protect

%!test
%! ## options: one round finds no more than three; no score without a homography
%! g = imread (fullfile (d, "building.jpg"));
%! h = g(end:-1:1, :, :);
%! [m1, ~, ~, i1] = linematch (g, h, struct ("Rounds", 1));
%! [m3, ~, ~, i3] = linematch (g, h, struct ("Rounds", 3));
%! assert (rows (i1.rounds), 1);
%! assert (columns (m1) <= columns (m3));
%! assert (! isfield (i1, "score"));
%! ## segments, descriptors, checks, transfer, points
%! assert (size (i1.seconds), [1 5]);
%! assert (i1.status, "ok");

%!test
%! ## tiny and blank images: no segments, no matches, no error
%! [m, s1, s2] = linematch (zeros (20, 30, "uint8"), zeros (5, 5, "uint8"));
%! assert (size (m), [2 0]);
%! assert (size (s1), [4 0]);

%!error id=linematch:nargin linematch (zeros (10, "uint8"))
%!error id=linematch:nargout [a, b, c, d, e] = linematch (zeros (10, "uint8"), zeros (10, "uint8"))
%!error id=linematch:badImage linematch (zeros (10), zeros (10, "uint8"))
%!error id=linematch:badImage linematch (zeros (10, 10, 2, "uint8"), zeros (10, "uint8"))
%!error id=linematch:badImage linematch (zeros (0, 10, "uint8"), zeros (10, "uint8"))
%!error id=linematch:badImage linematch (zeros (10, 10, 3, 2, "uint8"), zeros (10, "uint8"))
%!error id=linematch:badImage linematch ({}, zeros (10, "uint8"))
%!error id=linematch:imageFile linematch ("/no/such/image.png", zeros (10, "uint8"))
%!error id=linematch:imageFile linematch (tempdir (), zeros (10, "uint8"))

%!test
%! ## a FIFO without a writer is refused without being opened (opening it
%! ## would block the host)
%! f = [tempname() ".png"];
%! assert (system (["mkfifo '" f "'"]), 0);
%! unwind_protect
%!   try
%!     linematch (f, zeros (10, "uint8"));
%!     error ("test:noError", "the FIFO was accepted");
%!   catch e
%!     assert (e.identifier, "linematch:imageFile");
%!   end_try_catch
%! unwind_protect_cleanup
%!   delete (f);
%! end_unwind_protect
%!error id=linematch:badOptions linematch (zeros (10, "uint8"), zeros (10, "uint8"), 3)
%!error id=linematch:badOptions linematch (zeros (10, "uint8"), zeros (10, "uint8"), struct ("Rounds", 0))
%!error id=linematch:badOptions linematch (zeros (10, "uint8"), zeros (10, "uint8"), struct ("Rounds", 2.5))
%!error id=linematch:badOptions linematch (zeros (10, "uint8"), zeros (10, "uint8"), struct ("Ratio", NaN))
%!error id=linematch:badOptions linematch (zeros (10, "uint8"), zeros (10, "uint8"), struct ("Ratio", [0.5 0.6]))
%!error id=linematch:badOptions linematch (zeros (10, "uint8"), zeros (10, "uint8"), struct ("Homography", eye (2)))
%!error id=linematch:badOptions linematch (zeros (10, "uint8"), zeros (10, "uint8"), struct ("Homography", [1 0 0; 0 NaN 0; 0 0 1]))
%!error id=linematch:badOptions linematch (zeros (10, "uint8"), zeros (10, "uint8"), struct ("Colour", 1))
%!error id=linematch:badOptions linematch (zeros (10, "uint8"), zeros (10, "uint8"), struct ("Rounds", {1, 2}))
%!error id=linematch:badOptions linematch (zeros (10, "uint8"), zeros (10, "uint8"), struct ("Homography", zeros (3)))
%!error id=linematch:badOptions linematch (zeros (10, "uint8"), zeros (10, "uint8"), "Homography", zeros (3))
%!error id=linematch:badOptions linematch (zeros (10, "uint8"), zeros (10, "uint8"), "Rounds")
%!error id=linematch:badOptions linematch (zeros (10, "uint8"), zeros (10, "uint8"), struct (), 4)

%!test
%! ## the caller's own seeds: point matches of a known shift are the only
%! ## seed source and give true correspondences; line seeds index the
%! ## segments an earlier call detected; bad ones are refused by name
%! g = imread (fullfile (d, "building.jpg"))(:, :, 1);
%! [dx, dy] = deal (9, 6);
%! h = zeros (size (g), "uint8");
%! h(1+dy:end, 1+dx:end) = g(1:end-dy, 1:end-dx);
%! [x, y] = meshgrid (linspace (40, columns (g) - 60, 8), linspace (40, rows (g) - 60, 8));
%! P = [x(:), y(:), x(:) + dx, y(:) + dy];
%! only = struct ("PointSeeds", false, "LbdSeeds", false, "Rounds", 1, ...
%!                "Homography", [1 0 dx; 0 1 dy; 0 0 1]);
%! [m0, ~, ~, i0] = linematch (g, h, only);
%! assert (columns (m0), 0);
%! only.PointMatches = P;
%! [m, s1, s2, info] = linematch (g, h, only);
%! assert (info.status, "ok");
%! assert (columns (m) > 50);
%! assert (info.score.final(3) > 0.9);
%! only = rmfield (only, "PointMatches");
%! only.SeedMatches = m(:, 1:20)';
%! [m2, ~, ~, i2] = linematch (g, h, only);
%! assert (columns (i2.seeds) > 0);
%! bad = {"SeedMatches", m(:, 1:3); "SeedMatches", [0.5 1]; "SeedMatches", [-1 0];
%!        "SeedMatches", [NaN 0]; "SeedMatches", int32([0 1]); "SeedMatches", [columns(s1) 0];
%!        "PointMatches", zeros(2, 3); "PointMatches", [1 2 3 Inf]; "PointMatches", "abcd"};
%! for k = 1:rows (bad)
%!   try
%!     linematch (g, h, bad{k, :});
%!     error ("test:noError", "%s accepted", bad{k, 1});
%!   catch e
%!     assert ({k, e.identifier}, {k, "linematch:badOptions"});
%!     assert (! isempty (strfind (e.message, bad{k, 1})), e.message);
%!   end_try_catch
%! endfor
%!error <unknown option 'Colour'> linematch (zeros (10, "uint8"), zeros (10, "uint8"), "Colour", 1)

%!test
%! ## the option cases every front end shares (matcher/tests/option_cases.txt),
%! ## as name-value pairs in any case and as a struct
%! here = fileparts (file_in_loadpath ("test_linematch_mex.m"));
%! cases = fileread (fullfile (here, "..", "option_cases.txt"));
%! blank = zeros (20, "uint8");
%! for line = strsplit (cases, "\n")
%!   fields = strsplit (strtrim (line{1}));
%!   if (isempty (fields{1}) || fields{1}(1) == "#")
%!     continue;
%!   endif
%!   [name, value, verdict] = deal (fields{2}, fields{4}, fields{5});
%!   if (strcmp (value, "false"))
%!     value = false;
%!   else
%!     value = str2double (value);
%!   endif
%!   for form = 1:3
%!     try
%!       switch (form)
%!         case 1
%!           linematch (blank, blank, name, value);
%!         case 2
%!           linematch (blank, blank, lower (name), value);
%!         case 3
%!           linematch (blank, blank, struct (name, value));
%!       endswitch
%!       got = "accept";
%!     catch e
%!       got = strrep (e.identifier, "linematch:", "");
%!       if (strcmp (got, "badOptions"))
%!         got = "refuse";
%!         assert (! isempty (strfind (lower (e.message), lower (name))), e.message);
%!       endif
%!     end_try_catch
%!     assert ({name, value, form, got}, {name, value, form, verdict});
%!   endfor
%! endfor

%!test
%! ## the bad-image campaign (matcher/tests/make_bad_images.py): a clear
%! ## refusal with its identifier, or a valid result
%! here = fileparts (file_in_loadpath ("test_linematch_mex.m"));
%! d = getenv ("LINEMATCH_DATA_DIR");
%! if (isempty (d))
%!   d = "/usr/share/doc/opencv-doc/examples/data";
%! endif
%! work = tempname ();
%! [status, manifest] = system (sprintf ("/usr/bin/python3 '%s' '%s' '%s' 2>/dev/null", ...
%!                                       fullfile (here, "..", "make_bad_images.py"), work, d));
%! assert (status, 0);
%! unwind_protect
%!   for line = strsplit (strtrim (manifest), "\n")
%!     fields = strsplit (line{1});
%!     [name, path, expected] = deal (fields{:});
%!     try
%!       [m, s1] = linematch (path, zeros (20, "uint8"));
%!       got = "ok";
%!       assert (rows (m), 2);
%!       assert (rows (s1), 4);
%!     catch e
%!       got = strrep (e.identifier, "linematch:", "");
%!     end_try_catch
%!     assert ({name, got}, {name, expected});
%!   endfor
%! unwind_protect_cleanup
%!   confirm_recursive_rmdir (false, "local");
%!   rmdir (work, "s");
%! end_unwind_protect

%!test
%! ## RGBA arrays are taken as their grey; the bomb is refused at once
%! g = uint8 (mod ((1:60)' * (1:80), 251));
%! assert (linematch (cat (3, g, g, g, 255 * ones (60, 80, "uint8")), g), linematch (g, g));
%! f = [tempname() ".png"];
%! fid = fopen (f, "w");
%! ## a PNG signature and an IHDR chunk declaring 32000 x 32000 pixels
%! fwrite (fid, uint8 ([137 80 78 71 13 10 26 10 0 0 0 13 73 72 68 82 0 0 125 0 0 0 125 0 8 0 0 0 0]));
%! fclose (fid);
%! unwind_protect
%!   tic;
%!   try
%!     linematch (f, g);
%!     error ("test:noError", "the bomb was accepted");
%!   catch e
%!     assert (e.identifier, "linematch:imageTooLarge");
%!   end_try_catch
%!   assert (toc < 1);
%! unwind_protect_cleanup
%!   delete (f);
%! end_unwind_protect
