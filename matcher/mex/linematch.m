% LINEMATCH  Line-segment correspondences between two images, no ground truth.
%
%   M = linematch(IMAGE1, IMAGE2)
%   [M, S1, S2, INFO] = linematch(IMAGE1, IMAGE2, 'Name', Value, ...)
%   [M, S1, S2, INFO] = linematch(IMAGE1, IMAGE2, OPTIONS)
%   FEATURES = linematch('features', IMAGE, FILE, 'Name', Value, ...)
%   KEY = linematch('featurekey', 'Name', Value, ...)
%
%   IMAGE1, IMAGE2 are uint8 images (H x W grey, H x W x 3 RGB or
%   H x W x 4 RGBA) or image file names. The matcher detects line segments
%   (LSD, 10 px or longer); makes seeds from SIFT keypoint matches verified
%   by planes, and from LBD descriptors (mutual best match with a ratio
%   test) only where the points give few; verifies the two-view geometry
%   the point matches allow (the planes, and the fundamental matrix where
%   the scene is not planes alone); rejects seeds and pair records that
%   their neighbours contradict; runs transfer rounds (lineharvest's
%   candidate transfer) in which the accepted correspondences become seeds
%   of the next round; adds the correspondences the verified planes carry;
%   and gives every match a confidence. It is meant for two views of a
%   mostly planar or piecewise planar scene.
%
%   Image files are read the way the linematch command reads them: only
%   regular files are opened (a FIFO or a device is refused), the size in
%   the header must be within MaxPixels before anything is decoded, and a
%   truncated or corrupt PNG or JPEG is refused as damaged. A file whose
%   size its header does not give, or of floating-point or 32-bit samples
%   (OpenEXR, HDR, PFM, float TIFF), is refused (imageFile).
%
%   EXIF orientation: a file name is read turned upright by the file's EXIF
%   orientation tag, as the linematch command and Python read it, so S1, S2
%   and Homography are in the upright picture's pixels. Octave's imread
%   returns the stored pixels without turning them: for a photo whose tag
%   says "rotated", linematch(imread(F1), ...) matches the sideways picture.
%   Pass the file name, linematch(F1, F2, ...), to get the same picture as
%   the command.
%
%   M   2 x K double: column k says image-1 segment M(1,k) corresponds to
%       image-2 segment M(2,k) (0-based indices into S1 and S2).
%   S1  4 x N1 double: image-1 segments [x1; y1; x2; y2], pixels, 0-based
%       pixel coordinates.
%   S2  4 x N2 double: image-2 segments.
%   INFO struct:
%     descriptorMatches  2 x D, the mutual + ratio LBD matches (empty where
%                        the points gave enough seeds and LBD was not sought)
%     seeds              2 x S, the seeds (point, LBD and given) the checks
%                        kept
%     rounds             one row per transfer round: seeds, kept seeds, pair
%                        records, transferred, refused, added, next seeds
%     seconds            [segments descriptors checks transfer points]
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
%                        correspondences then), or with OverlapCheck
%                        'no_overlap'
%     seedSources        first-round seeds per source: given, point, lbd,
%                        each a struct seeds (before the checks), kept
%                        (after them)
%     score              only with the option Homography: trueCorrespondences,
%                        and [matches correct precision recall] rows
%                        descriptorAlone, pointSeeds (the point seed
%                        candidates), seeds, rounds (one row per round:
%                        the seeds and the additions so far), final (the
%                        project's ground-truth rule: 2 px, same direction,
%                        overlap 0.5); averagePrecision (the matches ranked
%                        by confidence, over trueCorrespondences) and
%                        confidentHalfPrecision (precision of the more
%                        confident half, ceil(K/2) matches)
%     features           only with Features1, Features2: 1 x 2 struct array,
%                        file, computed (true when the file was missing or
%                        unusable and the features were computed and
%                        written now), refused (why an existing file was
%                        not used, '' otherwise)
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
%     PointSeeds      false: no seeds from keypoint matches verified by
%                     planes (true) [--no-points]
%     LbdSeeds        false: no seeds from LBD descriptors (true) [--no-lbd]
%     LbdBelow        LBD seeds only when the points give fewer seeds than
%                     this, 0..1e9; 0 = always (100) [--lbd-below]
%     AffineViews     false: no affine-simulated views when plain keypoint
%                     matches are few (true) [--no-affine]
%     KeypointSide    longest side the keypoints are first detected at, in
%                     [0, 1e5]; 0 = the image as it is (640) [--keypoint-side]
%     PointLineDistance  pixels a plane-carried segment may lie from its
%                     partner's line, in (0, 1e6] (2) [--point-line-distance]
%     PlaneDistance   pixels a transferred correspondence may miss the plane
%                     carrying it by, in [0, 1e6]; 0 = no check (3)
%                     [--plane-distance]
%     Carried         false: the planes give seeds only, not the other
%                     correspondences they carry (true) [--no-carried]
%     LocalPoints     inliers of a plane's local fits, 0..1e6; 0 = the
%                     plane's own homography (24) [--local-points]
%     PlaneAnswer     false: the planes' correspondences do not join the
%                     answer without the neighbour checks (true)
%                     [--no-plane-answer]
%     Fundamental     false: no fundamental matrix from the keypoint matches
%                     (true) [--no-fundamental]
%     EpipolarShare   share of a partner no plane carries that must lie in the
%                     epipolar band, in [0, 1]; 0 = no check (0.5)
%                     [--epipolar-share]
%     MinSeeds        fewer checked seeds: no transfer rounds (thin support
%                     with none and no plane), 0..1e6 (8) [--min-seeds]
%     ScaleWithImage  false: neighbourhoods in pixels whatever the image size;
%                     true: they grow with images larger than 1000 px (true)
%                     [--no-scale]
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
%     Features1       features files of image 1 and image 2 (both or
%     Features2       neither): the pair is matched from the images'
%                     features kept there, with exactly the result without
%                     them. A file that is missing, damaged, of another
%                     version or of other settings, or a symbolic link, is
%                     never trusted: the features are computed from the
%                     image and the file is written (under another name,
%                     renamed into place); parts a pair needs beyond those
%                     in the file are added to it. Not with Segments1,
%                     Segments2 ('')
%     OverlapCheck    with Features1, Features2: true answers a pair whose
%                     features show no overlap (no plane from an
%                     approximate match of their keypoints, also of the
%                     affine views) at once, status 'no_overlap', no
%                     correspondences; the point stage could verify no plane
%                     for it either, but LBD seeds alone might have given an
%                     answer. Not with SeedMatches or PointMatches (false)
%   A switch is true/false (or 1/0); a switch set to false stays off whatever
%   another one says (SeedChecks false turns Support, Agreement and Refit off).
%
%   Features files (a collection's, see LINEMATCHPAIRS):
%   linematch('features', IMAGE, FILE, ...) computes IMAGE's features (the
%   segments and the first level of keypoints; with OverlapCheck true also
%   the affine views') into FILE, or finds them there; an image file is
%   decoded only when they are computed. It takes the options above that
%   change features (MinLength, KeypointSide, ...; all are accepted but
%   those of a pair: Homography, SeedMatches, PointMatches, Segments1/2,
%   Features1/2) and OverlapCheck, and returns a struct: segments (4 x N
%   as S1), size [width height], computed, refused (as INFO.features),
%   settings (the KEY below). linematch('featurekey', ...) returns the
%   text of the settings that change features: features files of equal
%   keys are interchangeable, and the collections name them
%   <SHA-256 of the image file>-<first 16 hex digits of SHA-256 of KEY>.bin.
%   A first input 'features' or 'featurekey' names these forms: an image
%   file of such a name is given as './features'.
%
%   Errors have identifiers linematch:<kind>: nargin, nargout, badImage
%   (an array of the wrong type or shape), imageFile (a file name that is
%   missing, not a regular file, not readable or not an image), damagedImage
%   (a truncated or corrupt PNG or JPEG file), imageTooLarge (more pixels
%   than MaxPixels, or a diagonal over 32703 pixels, the line descriptor's
%   limit), badOptions (an unknown option, a value of the wrong type
%   or out of range, Segments1 without Segments2 or the reverse, a
%   SeedMatches index outside the segments, Features1 without Features2 or
%   the reverse), badOutputFile (a features FILE that is not a file name),
%   outputFile (a features file that cannot be written), interrupted
%   (Ctrl-C: the match stops as its next stage starts), outOfMemory, opencv,
%   internal.
%
%   Example:
%     d = '/usr/share/doc/opencv-doc/examples/data/';
%     [M, S1, S2, info] = linematch([d 'graf1.png'], [d 'graf3.png']);
%     printf('%d correspondences from %d seeds\n', columns(M), columns(info.seeds));
%
%   The command-line tool linematch does the same and writes the result
%   files, a picture and a report.
