% LINEMATCH  Line-segment correspondences between two images, no ground truth.
%
%   M = linematch(IMAGE1, IMAGE2)
%   [M, S1, S2, INFO] = linematch(IMAGE1, IMAGE2, OPTIONS)
%
%   IMAGE1, IMAGE2 are uint8 images (H x W grey or H x W x 3 RGB) or image
%   file names. The matcher detects line segments (LSD, 10 px or longer),
%   matches LBD descriptors (mutual best match with a ratio test) into
%   seeds, rejects seeds and pair records that their neighbours contradict,
%   and runs transfer rounds (lineharvest's candidate transfer) in which the
%   accepted correspondences become seeds of the next round. It is meant for
%   two views of a mostly planar or piecewise planar scene.
%
%   M   2 x K double: column k says image-1 segment M(1,k) corresponds to
%       image-2 segment M(2,k) (0-based indices into S1 and S2).
%   S1  4 x N1 double: image-1 segments [x1; y1; x2; y2], pixels, 0-based
%       pixel coordinates.
%   S2  4 x N2 double: image-2 segments.
%   INFO struct:
%     descriptorMatches  2 x D, the mutual + ratio LBD matches (the seeds
%                        before the checks)
%     seeds              2 x S, the seeds the checks kept
%     rounds             one row per transfer round: seeds, kept seeds, pair
%                        records, transferred, refused, added, next seeds
%     seconds            [segments descriptors checks transfer]
%     score              only with OPTIONS.Homography: trueCorrespondences,
%                        and [matches correct precision recall] rows
%                        descriptorAlone, seeds, final (the project's
%                        ground-truth rule: 2 px, same direction, overlap 0.5)
%
%   OPTIONS is a struct with any of these fields:
%     Rounds      most transfer rounds (3)
%     Ratio       descriptor ratio test, best < Ratio * second best (0.7; 1 = off)
%     Mutual      true: only mutual best descriptor matches (true)
%     SeedChecks  false switches the seed checks off (true)
%     Verify      false keeps transferred correspondences their neighbours
%                 contradict (true)
%     OneLine     false keeps correspondences that give a segment partners on
%                 two different lines (true)
%     MinLength   shortest segment kept, pixels (10)
%     Threads     threads of the whole matcher (1); the result does not depend on it
%     Homography  3 x 3 ground-truth homography image 1 -> image 2, used only
%                 to score the result in INFO.score
%
%   Errors have identifiers linematch:<kind>: nargin, nargout, badImage,
%   imageFile (a file name that cannot be read as an image), badOptions,
%   outOfMemory, opencv, internal.
%
%   Example:
%     d = '/usr/share/doc/opencv-doc/examples/data/';
%     [M, S1, S2, info] = linematch([d 'graf1.png'], [d 'graf3.png']);
%     printf('%d correspondences from %d seeds\n', columns(M), columns(info.seeds));
%
%   The command-line tool linematch does the same and writes the result
%   files, a picture and a report.
