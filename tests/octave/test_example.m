## Tests of the bundled image-pair example: the report of the example script
## against the file lineharvest wrote, the accuracy floors, the consistency
## of the prepared inputs, the ground-truth rule and the picture.
1;

%!function root = repoRoot ()
%!  root = fileparts (fileparts (fileparts (which ("test_example"))));
%!endfunction

%!function n = reportedNumber (text, label)
%!  ## The first number after LABEL on its line of the printed report.
%!  token = regexp (text, [label '\s+([0-9.]+)'], "tokens", "once");
%!  assert (! isempty (token), ["no '" label "' in the report"]);
%!  n = str2double (token{1});
%!endfunction

%!shared root, ex, report, written, picture
%! root = repoRoot ();
%! addpath (fullfile (root, "matlab"), fullfile (root, "example"));
%! ex = loadlineexample (fullfile (root, "example", "graf"));
%! picture = fullfile (pwd, "picture.png");
%! report = lineharvest_example ("OutputDir", pwd, "Picture", picture, "Quiet", true);
%! written = load ("Addcandidates.txt")';

## The script reports exactly what lineharvest wrote, and its figures follow
## from that file.
%!test
%! assert (report.added, written);
%! assert (reportedNumber (report.text, "added"), columns (written));
%! truth = truesegmentpairs (ex.segments1, ex.segments2, ex.truth, ...
%!                           ex.info.truth_distance, ex.info.truth_overlap);
%! correct = ismember (written(1:2, :)', truth', "rows");
%! assert (reportedNumber (report.text, "correct"), sum (correct));
%! assert (reportedNumber (report.text, "false"), sum (! correct));
%! assert (reportedNumber (report.text, "precision"), round (1000 * mean (correct)) / 1000);
%! notSeeds = truth(:, ! ismember (truth', ex.seeds', "rows"));
%! found = sum (ismember (notSeeds', written(1:2, :)', "rows"));
%! assert (report.recall, found / columns (notSeeds), 1e-12);
%! assert (reportedNumber (report.text, "segments"), columns (ex.segments1));
%! assert (reportedNumber (report.text, "seeds"), columns (ex.seeds));
%! assert (reportedNumber (report.text, "pair records"), columns (ex.pairRecords));

## Accuracy floors (measured 0.860 and 0.717 on the bundled inputs).
%!test
%! assert (report.precision >= 0.80, sprintf ("precision %.3f", report.precision));
%! assert (report.recall >= 0.65, sprintf ("recall %.3f", report.recall));

## The prepared inputs hang together: every seed is a true correspondence
## by the scoring rule, seeds are one-to-one, the pair records are made of
## seeds and carry them onto their partners, and the table and the grid file
## are what the builder and the counts say.
%!test
%! s1 = ex.segments1; s2 = ex.segments2;
%! truth = truesegmentpairs (s1, s2, ex.truth, ex.info.truth_distance, ex.info.truth_overlap);
%! assert (all (ismember (ex.seeds', truth', "rows")));
%! assert (numel (unique (ex.seeds(1, :))), columns (ex.seeds));
%! assert (numel (unique (ex.seeds(2, :))), columns (ex.seeds));
%! rec = ex.pairRecords;
%! assert (all (ismember ([rec([1 3], :), rec([2 4], :)]', ex.seeds', "rows")));
%! for r = 1:columns (rec)
%!   H = reshape (rec(6:14, r), 3, 3)';
%!   for side = [1 2]
%!     a = s1(:, rec(side, r) + 1); b = s2(:, rec(side + 2, r) + 1);
%!     p = H * [a(1:2), a(3:4); 1 1]; p = p(1:2, :) ./ p(3, :);
%!     normal = [b(2) - b(4); b(3) - b(1)] / hypot (b(3) - b(1), b(4) - b(2));
%!     assert (max (abs (normal' * (p - b(1:2)))) <= 2 + 1e-9);
%!     assert ((p(:, 2) - p(:, 1))' * (b(3:4) - b(1:2)) > 0);
%!   endfor
%! endfor
%! assert (rows (ex.pairIndex), ex.info.pairs_per_segment);
%! assert (all (ex.pairIndex(:) >= 0 & ex.pairIndex(:) < columns (rec)));
%! assert (all (ex.pairIndex(:) == fix (ex.pairIndex(:))));
%! buildgridcells ("grid_now.txt", s2, ex.info.cell_size, 0, ex.info.image2_height, ...
%!                 0, ex.info.image2_width, ex.info.grid_margin);
%! assert (fileread ("grid_now.txt"), fileread (ex.gridFile));

## The ground-truth rule: candidate (0,0)-(10,0), identity homography unless
## a case says otherwise; distance 2, overlap 0.5 unless a case says so.
%!test
%! cases = {
%!   ## image-1 segment       H                           dist overlap  true?
%!   [2; 1; 4; 1],            eye(3),                       2, 0.5,    true
%!   [2; 2; 4; 2],            eye(3),                       2, 0.5,    true
%!   [2; 2.5; 4; 1],          eye(3),                       2, 0.5,    false
%!   [4; 1; 2; 1],            eye(3),                       2, 0.5,    false
%!   [8; 1; 12; 1],           eye(3),                       2, 0.5,    true
%!   [8; 1; 12; 1],           eye(3),                       2, 0.6,    false
%!   [-5; 0; 15; 0],          eye(3),                       2, 0.9,    true
%!   [10; 1; 20; 1],          eye(3),                       2, 0,      false
%!   [-100; -50; -90; -50],   [1 0 100; 0 1 50; 0 0 1],     2, 0.5,    true
%!   [0; 0; 5; 0],            [2 0 0; 0 2 0; 0 0 1],        2, 0.9,    true
%!   [0; 0; 5; 0],            [2 0 0; 0 2 0; 0 0 2],        2, 0.9,    true
%!   [0; 0; 5; 0],            [1 0 0; 0 1 0; 0 0.1 1],      2, 0.9,    true
%!   [0; 0; 5; 0],            [1 0 0; 0 1 0; 0.1 0 1],      2, 0.9,    true
%!   [0; 0; 5; 0],            [1 0 0; 0 1 0; -0.3 0 1],     2, 0.5,    false
%! };
%! for k = 1:rows (cases)
%!   [seg, H, dist, overlap, expected] = cases{k, :};
%!   pairs = truesegmentpairs (seg, [0; 0; 10; 0], H, dist, overlap);
%!   assert (isequal (pairs, [0; 0]) == expected, sprintf ("case %d", k));
%! endfor
%! ## Several candidates, in order of i, then w.
%! s1 = [0 0; 5 20; 10 10; 5 20];
%! s2 = [0 0 0; 20 5 5; 10 4 10; 20 5 5];
%! assert (truesegmentpairs (s1, s2, eye (3), 1, 0.3), [0 0 1; 1 2 0]);

## The picture: both images side by side with a 10-pixel gap, and the
## colours of the seeds, the correct and the false correspondences.
%!test
%! info = ex.info;
%! img = imread (picture);
%! assert (size (img), [max(info.image1_height, info.image2_height), ...
%!                      info.image1_width + 10 + info.image2_width, 3]);
%! assert (all (all (img(:, info.image1_width + (1:10), :) == 255)));
%! colours = [60 140 255; 40 220 60; 255 40 40];
%! flat = reshape (img, [], 3);
%! for c = 1:3
%!   assert (any (all (flat == uint8 (colours(c, :)), 2)));
%! endfor

## A mark on a plain background lands where the segment is.
%!test
%! layers = struct ("pairs", [0; 0], "color", [255 0 0], "marked", false);
%! img = drawcorrespondences ("", [2; 5; 12; 5], [0; 3; 0; 13], layers, [20 30], [20 40]);
%! assert (size (img), [20 80 3]);
%! red = img(:, :, 1) == 255 & img(:, :, 2) == 0;
%! [r, c] = find (red);
%! assert (unique (r(c <= 30))', [6 7]);
%! assert ([min(c(c <= 30)), max(c(c <= 30))], [3 14]);
%! assert (unique (c(c > 40))' - 40, [1 2]);
%! assert ([min(r(c > 40)), max(r(c > 40))], [4 15]);

%!error <unknown option> lineharvest_example ("NoSuchOption", 1)
