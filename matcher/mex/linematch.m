% LINEMATCH  Line-segment correspondences between two images, no ground truth.
%
%   M = linematch(IMAGE1, IMAGE2)
%   [M, S1, S2, INFO] = linematch(IMAGE1, IMAGE2, 'Name', Value, ...)
%   [M, S1, S2, INFO] = linematch(IMAGE1, IMAGE2, OPTIONS)
%
%   IMAGE1, IMAGE2 are uint8 images (H x W grey, H x W x 3 RGB or
%   H x W x 4 RGBA) or image file names. The matcher detects line segments
%   (LSD, 10 px or longer), matches LBD descriptors (mutual best match with
%   a ratio test) into seeds, rejects seeds and pair records that their
%   neighbours contradict, and runs transfer rounds (lineharvest's candidate
%   transfer) in which the accepted correspondences become seeds of the
%   next round. It is meant for two views of a mostly planar or piecewise
%   planar scene.
%
%   Image files are read the way the linematch command reads them: only
%   regular files are opened (a FIFO or a device is refused), the size in
%   the header must be within MaxPixels before anything is decoded, and a
%   truncated or corrupt PNG or JPEG is refused as damaged.
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
%     confidence         K x 1 double in [0, 1], row k for column k of M: how
%                        sure the matcher is of that correspondence (higher
%                        is more often right; keeping the more confident
%                        ones trades recall for precision)
%     geometry           the models the point matches verified:
%                        planes       1 x P struct array, planes(k).H (3 x 3
%                                     homography image 1 -> image 2),
%                                     .inliers (point matches it explains),
%                                     .medianResidual (pixels of image 2);
%                                     1 x 0 when none was found
%                        fundamental  struct: verified (logical), F (3 x 3,
%                                     x2' * F * x1 = 0 for [x; y; 1] in
%                                     pixels; [] unless verified), inliers,
%                                     offPlaneInliers
%                                     (inliers no plane explains),
%                                     medianResidual (pixels from the
%                                     epipolar line)
%     status             'ok', or 'thin_support' when no seed survived the
%                        checks and no plane was verified (no
%                        correspondences then)
%     score              only with the option Homography: trueCorrespondences,
%                        and [matches correct precision recall] rows
%                        descriptorAlone, seeds, rounds (one row per round:
%                        the seeds and the additions so far), final (the
%                        project's ground-truth rule: 2 px, same direction,
%                        overlap 0.5); averagePrecision (the matches ranked
%                        by confidence, over trueCorrespondences) and
%                        confidentHalfPrecision (precision of the more
%                        confident half, ceil(K/2) matches)
%
%   Options, as name-value pairs (names in any case) or as the fields of
%   one struct OPTIONS; the command's flag in brackets:
%     MinLength       shortest segment kept, pixels, in [1, 1e6] (10) [--min-length]
%     Ratio           descriptor ratio test, best < Ratio * second best, in
%                     (0, 1]; 1 = off (0.7) [--ratio]
%     Mutual          false: keep best matches that are not mutual (true) [--no-mutual]
%     SeedChecks      false switches the three seed checks off (true) [--no-checks]
%     Support         false keeps seeds without neighbour support (true) [--no-support]
%     Agreement       false keeps pair records whose neighbours do not vote
%                     for them (true) [--no-agreement]
%     Refit           false keeps the pair records' endpoint homographies
%                     (true) [--no-refit]
%     Rounds          most transfer rounds, 1..100 (3) [--rounds]
%     Verify          false keeps transferred correspondences their neighbours
%                     contradict (true) [--no-verify]
%     VerifyDistance  pixels of the neighbour verification, in (0, 1e6] (2)
%                     [--verify-distance]
%     OneLine         false keeps correspondences that give a segment partners
%                     on two different lines (true) [--no-one-line]
%     Threads         threads of the whole matcher, 1..256 (1); the result
%                     does not depend on it [--threads]
%     MaxPixels       largest image accepted, width x height, 1..1e12
%                     (268435456 = 2^28) [--max-pixels]
%     Homography      3 x 3 ground-truth homography image 1 -> image 2, finite
%                     and not singular, used only to score the result in
%                     INFO.score
%     SeedMatches     K x 2 double, the caller's own line seeds: 0-based
%                     indices image 1, image 2 (as in M, one seed per row)
%                     into Segments1, Segments2 when given, otherwise into
%                     the segments this call detects, which are the S1, S2
%                     of an earlier call on the same images with the same
%                     MinLength (detection is deterministic); they join the
%                     matcher's seeds and pass the same checks ([])
%     PointMatches    M x 4 double, the caller's own point matches x1 y1 x2 y2
%                     (pixels, finite), image 1 -> image 2; they replace the
%                     keypoint matching as the source of the point seeds,
%                     even with PointSeeds false ([])
%     Segments1       4 x N1 and 4 x N2 double, the caller's own segments,
%     Segments2       one [x1; y1; x2; y2] per column in 0-based pixels
%                     exactly as S1, S2 are returned, finite and below 2^24
%                     in magnitude; both or neither. They are matched
%                     instead of detected ones (MinLength does not apply)
%                     and are the S1, S2 returned; an earlier call's S1, S2
%                     handed back with the same options give that call's
%                     result again ([])
%   A switch is true/false (or 1/0); a switch set to false stays off whatever
%   another one says (SeedChecks false turns Support, Agreement and Refit off).
%
%   Errors have identifiers linematch:<kind>: nargin, nargout, badImage
%   (an array of the wrong type or shape), imageFile (a file name that is
%   missing, not a regular file, not readable or not an image), damagedImage
%   (a truncated or corrupt PNG or JPEG file), imageTooLarge (more pixels
%   than MaxPixels), badOptions (an unknown option, a value of the wrong type
%   or out of range, Segments1 without Segments2 or the reverse, a
%   SeedMatches index outside the segments),
%   outOfMemory, opencv, internal.
%
%   Example:
%     d = '/usr/share/doc/opencv-doc/examples/data/';
%     [M, S1, S2, info] = linematch([d 'graf1.png'], [d 'graf3.png']);
%     printf('%d correspondences from %d seeds\n', columns(M), columns(info.seeds));
%
%   The command-line tool linematch does the same and writes the result
%   files, a picture and a report.
