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

%!test
%! ## the accuracy the C++ tests require, scored by the gateway
%! s = info.score;
%! assert (s.trueCorrespondences > 700);
%! assert (s.final(1), columns (M));
%! assert (s.final(3) >= 0.83);
%! assert (s.final(4) >= 0.72);
%! assert (s.final(3) >= s.descriptorAlone(3));

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
%! assert (isfield (i1, "seconds"));

%!test
%! ## tiny and blank images: no segments, no matches, no error
%! [m, s1, s2] = linematch (zeros (20, 30, "uint8"), zeros (5, 5, "uint8"));
%! assert (size (m), [2 0]);
%! assert (size (s1), [4 0]);

%!error id=linematch:nargin linematch (zeros (10, "uint8"))
%!error id=linematch:nargin linematch (zeros (10, "uint8"), zeros (10, "uint8"), struct (), 4)
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
