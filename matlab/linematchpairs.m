function [T, F] = linematchpairs(PAIRS, OUTDIR, varargin)
%LINEMATCHPAIRS  The linematch MEX over many image pairs, one folder per pair.
%
%   T = linematchpairs(PAIRS, OUTDIR)
%   T = linematchpairs(PAIRS, OUTDIR, OPTIONS)
%   T = linematchpairs(PAIRS, OUTDIR, 'Name', Value, ...)
%   [T, F] = linematchpairs(IMAGES, OUTDIR, 'Pairs', PLAN, 'Name', Value, ...)
%
%   PAIRS   an N x 2, N x 3 or N x 4 cell array of file names
%           {image1, image2, homography, name} (homography '' for none,
%           name '' for the default), or the name of a CSV/TSV file as
%           linematch-batch reads it: columns image1,image2[,homography], or
%           a header naming image1, image2, homography, name in any order
%           (no quoted fields). Relative paths in a file are relative to the
%           file's folder. A homography file (nine numbers row by row, as
%           warp_image writes, or an OpenCV matrix file) only scores the
%           result.
%   OUTDIR  the folder of the results, made if missing.
%   OPTIONS a struct of linematch's name-value options (any of HELP
%           LINEMATCH: MinLength, Ratio, Mutual, SeedChecks, Support,
%           Agreement, Refit, Rounds, Verify, VerifyDistance, OneLine,
%           Threads, MaxPixels, PointSeeds, LbdSeeds, LbdBelow,
%           AffineViews, KeypointSide, PointLineDistance, PlaneDistance,
%           Carried, LocalPoints, PlaneAnswer, Fundamental,
%           EpipolarShare, MinSeeds, ScaleWithImage; names in any case),
%           plus
%             Workers  most parfor workers: 0 (default) runs the pairs one
%                      after the other in this session, Inf uses the open
%                      parallel pool (see Parallel below).
%           The same options may follow OUTDIR as name-value pairs.
%
%   T       struct array, one element per pair in the order given, with the
%           columns of OUTDIR/summary.csv: name, image1, image2, homography,
%           status ('ok' or 'failed'), segments1, segments2, matches,
%           precision, recall (with a homography), seconds, error.
%
%   Image collections: features once per image. With the option Pairs (a
%   name-value pair or a field of OPTIONS) the first input is a set of
%   images, and each image's features (segments, keypoints) are computed
%   once and every pair is matched from them:
%   IMAGES  a folder (its image files, sorted by name, not its
%           subfolders), a list file (one path a line, relative to the
%           file's folder; blank lines and lines starting with # skipped),
%           or a cell array of file names.
%   Pairs   the plan: 'exhaustive' (every two images once), 'sequential:K'
%           (each image with the K after it, for a video or a walk), or
%           pairs as PAIRS above (a pair file or a cell array). The pairs
%           of a plan are named <label1>__<label2>, an image's label being
%           its path below the images' common folder without the suffix,
%           separators made '_' (graf/img1.png -> graf_img1).
%   OverlapCheck  true (default): a pair whose features show no overlap
%           (no plane from an approximate match of the keypoints, also of
%           the affine views) is answered at once with status no_overlap
%           in its report.json and no correspondences; the point stage
%           could verify no plane for it either. false matches every pair
%           exactly as alone (an answer from LBD seeds alone included).
%   F       struct array, one element per image of the pairs: image,
%           features (its features file), computed (true when the file
%           was missing or unusable and the features were computed now),
%           refused (why an existing file was not used), segments (their
%           number), error (an image that cannot be read; its pairs fail).
%   The features files are OUTDIR/.features/<SHA-256 of the image file>-
%   <hash of the settings that change features>.bin, the names and format
%   of lineharvest.match_pairs(plan, outdir, images=...) and
%   linematch-batch --images: one OUTDIR serves both. A file that is
%   damaged, of another version or of other settings, or a link, is never
%   trusted: the features are computed again and the file replaced
%   (written under another name and renamed into place). The parts a pair
%   needs beyond them (keypoints at the detail level, LBD descriptors) are
%   computed by the first pair that needs them and stored back. A second
%   call with the same OUTDIR computes no features (all of F.computed
%   false) and reuses the finished pairs. A pair matched from features
%   gives exactly what the linematch MEX gives on the two images. Pair
%   folders, pair.json, summary.csv and resume are as below; the pairs'
%   records name the overlap check, so that a call without it matches a
%   no_overlap pair in full. OUTDIR/.features must be a real folder, not
%   a link. linematchpairs writes no features.h5 or matches.h5 (the
%   Python collection's store).
%
%   The layout is lineharvest.match_pairs' and linematch-batch's:
%   OUTDIR/<name>/ holds matches.txt, confidence.txt, segments1.txt and
%   segments2.txt written exactly as the linematch command writes them,
%   report.json with the command's keys that the MEX reports (status,
%   image1, image2, segments, geometry, stages, rounds, seconds,
%   ground_truth without per-round scores), and
%   pair.json, the record of the inputs' SHA-256 checksums, the options and
%   the outputs' SHA-256 checksums. There is no matches.png. The default
%   name of a pair is <stem1>__<stem2> (-2, -3, ... on repeats); a given
%   name is 1 to 200 bytes without slash, backslash or control character,
%   not starting with '.', not summary.csv, and two names may not differ
%   only in the case of ASCII letters. OUTDIR/summary.csv lists every pair;
%   a text cell a spreadsheet would take for a formula (starting with = + -
%   @, a tab or a carriage return) gets a leading apostrophe.
%
%   Only what the batch wrote is replaced or removed: a pair folder whose
%   pair.json records its outputs' checksums and which holds nothing but
%   the batch's files, and its scratch folders. Anything else of a pair's
%   name (a folder of yours, a link, a file) fails that pair with
%   linematchpairs:outputFile and is left as it is. A rerun reuses a pair
%   only when its outputs still have the recorded checksums and every
%   figure of the record is valid; otherwise the pair is matched again.
%   OUTDIR/.partial must be a real folder, not a link.
%
%   Each pair is written into a scratch folder OUTDIR/.partial/<host>-<pid>-..
%   and renamed into place when complete, so a pair folder is complete or
%   absent, also when the session is killed (the scratch folders of killed
%   sessions of this host are removed at the next start). A pair whose
%   folder records the same checksums and options is not matched again: a
%   rerun goes on where a killed one stopped. A pair that fails (an image
%   that cannot be read) is recorded with its error and the others go on. Several sessions
%   may write into one OUTDIR at once, on one machine or on several sharing
%   the folder: a pair that two of them match is matched twice and the
%   last complete folder stays; each session's summary.csv lists its PAIRS.
%
%   Parallel (MATLAB, Parallel Computing Toolbox): open a process pool and
%   let the loop over the pairs run as parfor,
%     parpool('Processes', 4);
%     T = linematchpairs('pairs.csv', 'out', struct('Workers', Inf));
%   Octave runs parfor as a plain loop; there, start one session per core
%   on the same PAIRS and OUTDIR (each skips what the others finished):
%     for k in 1 2; do octave-cli --eval "linematchpairs('pairs.csv','out');" & done; wait
%   The linematch MEX is safe under parfor and in concurrent sessions: its
%   gateway keeps no global or persistent state (no static variables, no
%   mexLock, no persistent arrays, no mexAtExit), every object it uses
%   (images, detectors, descriptors, results) is made within the call and
%   freed before it returns, and it writes no file but the features files
%   of a collection, each under a name of its own process and renamed into
%   place (two sessions computing one image's features leave one whole
%   file). A worker process that calls it many times, or several calls at
%   once in threads of one process, do not see each other.
%
%   Example (pairs made with warp_image):
%     d = '/usr/share/doc/opencv-doc/examples/data/';
%     system(['warp_image ' d 'box.png w1.png h1.txt --seed 1']);
%     system(['warp_image ' d 'box.png w2.png h2.txt --seed 2']);
%     T = linematchpairs({[d 'box.png'], 'w1.png', 'h1.txt'; [d 'box.png'], 'w2.png', 'h2.txt'}, 'out');
%     disp([T.matches]);
%   A collection (a folder of images, every two once; again: nothing computed):
%     [T, F] = linematchpairs('photos', 'out', 'Pairs', 'exhaustive');
%     [T, F] = linematchpairs('photos', 'out', 'Pairs', 'exhaustive');
%     assert(~any([F.computed]));
%
%   See also LINEMATCH.

if nargin < 2
  error('linematchpairs:nargin', ['linematchpairs(PAIRS, OUTDIR[, OPTIONS]) or linematchpairs(IMAGES, OUTDIR, ' ...
        '''Pairs'', PLAN, ...)']);
end
OPTIONS = optionstruct(varargin);
% An image collection: the first input is the image set, Pairs the plan.
[plan, collection, OPTIONS] = takeoption(OPTIONS, 'Pairs');
[overlap, hasoverlap, OPTIONS] = takeoption(OPTIONS, 'OverlapCheck');
if hasoverlap && ~collection
  error('linematchpairs:badOptions', 'OverlapCheck is for an image collection (give the plan as Pairs)');
end
if ~hasoverlap
  overlap = true;
elseif ~isscalar(overlap) || ~(islogical(overlap) || isnumeric(overlap)) || ~any(overlap == [0 1])
  error('linematchpairs:badOptions', 'OverlapCheck must be true or false');
end
overlap = logical(overlap);
workers = 0;
if isfield(OPTIONS, 'Workers')
  workers = OPTIONS.Workers;
  OPTIONS = rmfield(OPTIONS, 'Workers');
  if ~isnumeric(workers) || ~isscalar(workers) || ~(workers >= 0) || (isfinite(workers) && workers ~= fix(workers))
    error('linematchpairs:badOptions', 'OPTIONS.Workers must be 0, a whole number or Inf');
  end
end
if isstring(OUTDIR) && isscalar(OUTDIR)
  OUTDIR = char(OUTDIR);
end
if ~ischar(OUTDIR) || isempty(OUTDIR)
  error('linematchpairs:badOutdir', 'OUTDIR must be a folder name');
end
outdir = absolutepath(OUTDIR, pwd);
if ~isfolder(outdir) && ~mkdir(outdir)
  error('linematchpairs:outputFile', 'cannot make the folder %s', outdir);
end
if collection
  pairs = planpairs(readimages(PAIRS), plan);
else
  pairs = readpairs(PAIRS);
end
scratchroot(outdir);  % a linked .partial is refused before any pair runs
% The record: the options that change the result (Threads, in any case,
% does not).
recorded = OPTIONS;
names = fieldnames(recorded);
recorded = rmfield(recorded, names(strcmpi(names, 'Threads')));
if collection && overlap
  % A pair the check answered "no_overlap" is matched in full without it.
  recorded.OverlapCheck = true;
end
recorded = orderfields(recorded);

removeleftovers(outdir);
images = {};
cache = [];
if collection
  % Each image's features once, in OUTDIR/.features/<SHA-256 of the
  % image>-<hash of the feature settings>.bin, the Python collection's
  % names and format: one OUTDIR serves both. A bad option is refused
  % here, before any image or pair.
  cache = struct('folder', featuresroot(outdir), 'overlap', overlap, ...
                 'settings', sha256hex(uint8(linematch('featurekey', OPTIONS))));
  cache.settings = cache.settings(1:16);
  removedeadfeatures(cache.folder);
  images = [{pairs.image1}; {pairs.image2}];
  images = unique(images(:), 'stable');  % in the pairs' order, as the Python collection's tasks
end
imagerows = cell(numel(images), 1);
parfor (k = 1:numel(images), workers)
  imagerows{k} = extractimage(images{k}, cache, OPTIONS);
end
F = [imagerows{:}];
if isempty(F)
  F = struct('image', {}, 'features', {}, 'computed', {}, 'refused', {}, 'segments', {}, 'error', {});
end
n = numel(pairs);
rows = cell(n, 1);
parfor (k = 1:n, workers)
  rows{k} = runpair(pairs(k), outdir, OPTIONS, recorded, cache);
end
T = [rows{:}];
if isempty(T)
  T = struct('name', {}, 'image1', {}, 'image2', {}, 'homography', {}, 'status', {}, 'segments1', {}, ...
             'segments2', {}, 'matches', {}, 'precision', {}, 'recall', {}, 'seconds', {}, 'error', {});
end
writesummary(outdir, T);
removeleftovers(outdir);
if strcmp(pathkind(fullfile(outdir, '.partial'), false), 'folder')
  [~, ~] = rmdir(fullfile(outdir, '.partial'));  % left when other sessions still write
end
end

% --- one pair -----------------------------------------------------------

function row = runpair(pair, outdir, options, recorded, cache)
started = tic;
row = struct('name', pair.name, 'image1', pair.image1, 'image2', pair.image2, 'homography', pair.homography, ...
             'status', 'failed', 'segments1', [], 'segments2', [], 'matches', [], 'precision', [], ...
             'recall', [], 'seconds', [], 'error', '');
scratch = '';
try
  inputs = struct('image1', filesha256(pair.image1, 'imageFile', true), ...
                  'image2', filesha256(pair.image2, 'imageFile', true), 'homography', '');
  if ~isempty(pair.homography)
    inputs.homography = filesha256(pair.homography, 'homographyFile', true);
  end
  key = jsonencode(struct('inputs', inputs, 'options', recorded));
  target = fullfile(outdir, pair.name);
  % Before the pair is matched: what is in the way stays in the way.
  why = whynotours(target);
  if ~isempty(why)
    refuseforeign(target, why);
  end
  result = recordedresult(target, key);
  if isempty(result)
    scratch = scratchfolder(outdir);
    if ~mkdir(scratch)
      error('linematchpairs:outputFile', 'cannot make the folder %s', scratch);
    end
    if ~isempty(cache)
      % From the features files named after the images' bytes as they are
      % now: a changed image is never paired with its old features.
      options.Features1 = featurefile(cache, inputs.image1);
      options.Features2 = featurefile(cache, inputs.image2);
      options.OverlapCheck = cache.overlap;
    end
    result = matchinto(scratch, pair, options, started);
    names = outputnames();
    digests = cell(size(names));
    for k = 1:numel(names)
      digests{k} = filesha256(fullfile(scratch, names{k}), 'outputFile', false);
    end
    writetext(fullfile(scratch, 'pair.json'), ...
              jsonencode(struct('key', key, 'image1', pair.image1, 'image2', pair.image2, ...
                                'homography', pair.homography, 'result', result, ...
                                'checksums', containers.Map(names, digests))));
    moveintoplace(scratch, target, outdir, key);
    scratch = '';
  end
  for f = fieldnames(result)'
    row.(f{1}) = result.(f{1});
  end
  row.status = 'ok';
catch err
  id = err.identifier;
  if isempty(id)
    id = 'linematchpairs:pairFailed';  % an error of Octave's or MATLAB's own, named as the batch's
  end
  row.error = strrep([id ': ' err.message], sprintf('\n'), ' ');
  row.seconds = toc(started);
end
if ~isempty(scratch)
  removeown(scratch);
end
end

function result = matchinto(folder, pair, options, started)
% The linematch MEX on the pair, its results written as the command writes them.
if ~isempty(pair.homography)
  options.Homography = readhomography(pair.homography);
end
[M, S1, S2, info] = linematch(pair.image1, pair.image2, options);
writesegments(fullfile(folder, 'segments1.txt'), S1);
writesegments(fullfile(folder, 'segments2.txt'), S2);
writetext(fullfile(folder, 'matches.txt'), sprintf('%d %d\n', M));
writetext(fullfile(folder, 'confidence.txt'), sprintf('%.4f\n', info.confidence));
result = struct('segments1', columns_(S1), 'segments2', columns_(S2), 'matches', columns_(M), ...
                'precision', [], 'recall', [], 'seconds', 0);
% status first, as the command writes it: "ok", "thin_support" or, from
% features files with the overlap check, "no_overlap".
report = struct('status', info.status);
[~, report.image1, e1] = fileparts(pair.image1);
[~, report.image2, e2] = fileparts(pair.image2);
report.image1 = [report.image1 e1];
report.image2 = [report.image2 e2];
report.segments = struct('image1', columns_(S1), 'image2', columns_(S2));
report.stages = struct('descriptor_matches', columns_(info.descriptorMatches), 'seeds_kept', ...
                       columns_(info.seeds), 'matches', columns_(M));
report.geometry = geometryreport(info.geometry);
report.rounds = cell(1, size(info.rounds, 1));
for r = 1:size(info.rounds, 1)
  v = info.rounds(r, :);
  report.rounds{r} = struct('round', r, 'seeds', v(1), 'seeds_kept', v(2), 'pair_records', v(3), ...
                            'transferred', v(4), 'rejected', v(5), 'added', v(6), 'new_seeds', v(7));
end
s = info.seconds;
report.seconds = struct('segments', s(1), 'points', s(5), 'descriptors', s(2), 'seed_checks', s(3), ...
                        'transfer', s(4), 'total', toc(started));
if isfield(info, 'score')
  g = info.score;
  [~, hname, he] = fileparts(pair.homography);
  report.ground_truth = struct('homography_file', [hname he], 'true_correspondences', g.trueCorrespondences, ...
                               'descriptor_alone', scorestruct(g.descriptorAlone), 'seeds', ...
                               scorestruct(g.seeds), 'final', scorestruct(g.final), ...
                               'average_precision', g.averagePrecision, ...
                               'confident_half_precision', g.confidentHalfPrecision);
  result.precision = g.final(3);
  result.recall = g.final(4);
end
writetext(fullfile(folder, 'report.json'), jsonencode(report));
result.seconds = toc(started);
end

function r = geometryreport(g)
% report.json's geometry: planes as a list (a cell, so that one plane is
% still a JSON array), the fundamental matrix row by row when verified.
r.planes = arrayfun(@(p) struct('inliers', p.inliers, 'median_residual_px', p.medianResidual), ...
                    g.planes, 'UniformOutput', false);
f = g.fundamental;
r.fundamental = struct('verified', f.verified, 'inliers', f.inliers, 'off_plane_inliers', ...
                       f.offPlaneInliers, 'median_residual_px', f.medianResidual);
if f.verified
  r.fundamental.matrix = reshape(f.F.', 1, 9);
end
end

function s = scorestruct(v)
s = struct('matches', v(1), 'correct', v(2), 'precision', v(3), 'recall', v(4));
end

function n = columns_(A)
n = size(A, 2);
end

function names = outputnames()
% The files linematchpairs writes into a pair folder besides pair.json.
names = {'segments1.txt', 'segments2.txt', 'matches.txt', 'confidence.txt', 'report.json'};
end

function own = ownname(name)
% A name the batch writes into a pair folder: pair.json, an output (the
% Python batch's matches.png too), or the temporary name ".<output>.XXXXXX"
% that the matcher's writer (mkstemp) gives an output until it is renamed.
own = any(strcmp(name, [{'pair.json', 'matches.png'}, outputnames()])) || ...
      ~isempty(regexp(name, ['^\.(segments1\.txt|segments2\.txt|matches\.txt|report\.json|matches\.png)' ...
                             '\.[A-Za-z0-9]{6}$'], 'once'));
end

function r = readrecord(folder)
% pair.json of folder as a struct, or [] when there is none or it is not
% one: only a regular file (not a link, not a FIFO that would block) of at
% most 1 MB is read.
r = [];
path = fullfile(folder, 'pair.json');
if ~strcmp(pathkind(path, false), 'file')
  return;
end
fid = fopen(path, 'r');
if fid < 0
  return;
end
text = fread(fid, 2^20 + 1, '*char')';
fclose(fid);
if numel(text) > 2^20
  return;
end
try
  r = jsondecode(text);
catch
  r = [];
  return;
end
if ~isstruct(r) || ~isscalar(r)
  r = [];
end
end

function digests = recordedchecksums(r)
% The record's checksums of the outputs as a struct (jsondecode makes
% "matches.txt" the field matches_txt), or [] when they are not in their
% form.
digests = [];
if ~isstruct(r) || ~isfield(r, 'checksums') || ~isstruct(r.checksums) || ~isscalar(r.checksums)
  return;
end
known = strrep([outputnames(), {'matches.png'}], '.', '_');
fields = fieldnames(r.checksums);
if isempty(fields) || ~all(ismember(fields, known))
  return;
end
for k = 1:numel(fields)
  v = r.checksums.(fields{k});
  if ~ischar(v) || isempty(regexp(v, '^[0-9a-f]{64}$', 'once'))
    return;
  end
end
digests = r.checksums;
end

function why = whynotours(folder)
% '' when folder is absent or is a pair folder this batch (or
% lineharvest.match_pairs) wrote: a real folder, not a link to one, whose
% pair.json records its outputs' checksums, holding nothing but the files
% the batch writes. Otherwise the reason it is left alone.
why = '';
switch pathkind(folder, false)
  case 'none'
    return;
  case 'link'
    why = 'it is a symbolic link';
    return;
  case 'folder'
  otherwise
    why = 'it is not a folder';
    return;
end
if isempty(recordedchecksums(readrecord(folder)))
  why = 'it holds no pair.json of this batch (with the checksums of its outputs)';
  return;
end
entries = dir(folder);
for k = 1:numel(entries)
  name = entries(k).name;
  if ~any(strcmp(name, {'.', '..'})) && (~ownname(name) || strcmp(pathkind(fullfile(folder, name), false), 'folder'))
    why = sprintf('it holds ''%s'', which the batch does not write', name);
    return;
  end
end
end

function refuseforeign(folder, why)
error('linematchpairs:outputFile', ['%s is in the way and left as it is: %s. The batch replaces only pair ' ...
      'folders it wrote; move it away or give the pair another name'], folder, why);
end

function result = validresult(r)
% The summary figures of a record, checked one by one (a record is a file
% anyone can edit), in the summary's order; [] if one is off.
result = [];
columns = {'segments1', 'segments2', 'matches', 'precision', 'recall', 'seconds'};
if ~isstruct(r) || ~isscalar(r) || numel(fieldnames(r)) ~= numel(columns) || ~all(isfield(r, columns))
  return;
end
number = @(v) isnumeric(v) && isreal(v) && isscalar(v) && isfinite(v);
clean = struct();
for c = columns(1:3)
  v = r.(c{1});
  if ~number(v) || v ~= fix(v) || v < 0 || v > 2^31 - 1
    return;
  end
  clean.(c{1}) = double(v);
end
for c = columns(4:5)
  v = r.(c{1});
  if ~(isnumeric(v) && isempty(v)) && ~(number(v) && v >= 0 && v <= 1)
    return;
  end
  clean.(c{1}) = double(v);
end
if isempty(clean.precision) ~= isempty(clean.recall) || ~number(r.seconds) || r.seconds < 0 || r.seconds > 1e7
  return;
end
clean.seconds = double(r.seconds);
result = clean;
end

function result = recordedresult(folder, key)
% The summary figures of a pair folder made from these inputs with these
% options whose outputs still have the checksums recorded, else [] (the
% pair is matched again).
result = [];
r = readrecord(folder);
if isempty(r) || ~isfield(r, 'key') || ~ischar(r.key) || ~strcmp(r.key, key) || ~isfield(r, 'result')
  return;
end
digests = recordedchecksums(r);
names = outputnames();
if isempty(digests) || numel(fieldnames(digests)) ~= numel(names)
  return;
end
clean = validresult(r.result);
if isempty(clean)
  return;
end
for k = 1:numel(names)
  field = strrep(names{k}, '.', '_');
  if ~isfield(digests, field)
    return;
  end
  try
    if ~strcmp(filesha256(fullfile(folder, names{k}), 'outputFile', false), digests.(field))
      return;
    end
  catch
    return;
  end
end
result = clean;
end

function moveintoplace(folder, target, outdir, key)
% Renames the complete folder to target. An older pair folder of this
% batch is moved aside and removed; anything else there is refused. When
% another session has just put the same pair's complete folder there, that
% one stays.
for attempt = 1:8
  if renamefolder(folder, target)
    return;
  end
  if ~isempty(recordedresult(target, key))
    removeown(folder);
    return;
  end
  why = whynotours(target);
  if ~isempty(why)
    refuseforeign(target, why);
  end
  aside = scratchfolder(outdir);
  if renamefolder(target, aside) && ~removeown(aside)
    % Something not the batch's came in between the look and the rename:
    % it stays, out of the way, with a name that says why.
    kept = sprintf('%s.kept-%s', target, regexprep(aside, '^.*-', ''));
    renamefolder(aside, kept);
    refuseforeign(target, sprintf('it changed while it was replaced; it is now %s', kept));
  end
end
error('linematchpairs:outputFile', 'cannot move the results into %s', target);
end

function ok = renamefolder(from, to)
% rename(2): atomic, and refused when "to" is a folder that is not empty.
if exist('OCTAVE_VERSION', 'builtin')
  ok = rename(from, to) == 0;
else
  ok = java.io.File(from).renameTo(java.io.File(to));
end
end

function removed = removeown(folder)
% Removes the files the batch writes (ownname) from folder, then folder if
% that empties it. Never follows a link: a folder that is a link is left,
% entries are unlinked (a link named matches.txt goes, not what it points
% at); anything else stays.
removed = false;
if ~strcmp(pathkind(folder, false), 'folder')
  return;
end
entries = dir(folder);
for k = 1:numel(entries)
  if ownname(entries(k).name)
    path = fullfile(folder, entries(k).name);
    if exist('OCTAVE_VERSION', 'builtin')
      [~, ~] = unlink(path);  % a folder by that name, say: left with the folder
    elseif ~strcmp(pathkind(path, false), 'folder')
      delete(path);
    end
  end
end
removed = logical(rmdir(folder));
end

function kind = pathkind(path, follow)
% 'none', 'link', 'folder', 'file' (a regular one) or 'other' (a FIFO, a
% device, ...); a last link is followed only with follow true.
if exist('OCTAVE_VERSION', 'builtin')
  if follow
    [st, err] = stat(path);
  else
    [st, err] = lstat(path);
  end
  if err ~= 0
    kind = 'none';
  elseif S_ISLNK(st.mode)
    kind = 'link';
  elseif S_ISDIR(st.mode)
    kind = 'folder';
  elseif S_ISREG(st.mode)
    kind = 'file';
  else
    kind = 'other';
  end
  return;
end
p = java.io.File(path).toPath();
options = javaArray('java.nio.file.LinkOption', double(~follow));
if ~follow
  options(1) = java.nio.file.LinkOption.NOFOLLOW_LINKS;
end
if ~follow && java.nio.file.Files.isSymbolicLink(p)
  kind = 'link';
elseif ~java.nio.file.Files.exists(p, options)
  kind = 'none';
elseif java.nio.file.Files.isDirectory(p, options)
  kind = 'folder';
elseif java.nio.file.Files.isRegularFile(p, options)
  kind = 'file';
else
  kind = 'other';
end
end

function folder = ownfolder(outdir, name, what)
% OUTDIR/name, made if missing. It must be a real folder: through a symbolic
% link the batch would write, replace and remove its files outside OUTDIR.
folder = fullfile(outdir, name);
if strcmp(pathkind(folder, false), 'none')
  [~] = mkdir(folder);
end
if ~strcmp(pathkind(folder, false), 'folder')
  error('linematchpairs:outputFile', ['%s is a symbolic link or not a folder: the batch keeps its %s only ' ...
        'in a folder of its own; remove it'], folder, what);
end
end

function scratch = scratchroot(outdir)
% OUTDIR/.partial (see ownfolder).
scratch = ownfolder(outdir, '.partial', 'scratch files');
end

function folder = scratchfolder(outdir)
persistent count
if isempty(count)
  count = 0;
end
count = count + 1;
scratch = scratchroot(outdir);
[host, pid] = thisprocess();
folder = fullfile(scratch, sprintf('%s-%d-m%d%s', host, pid, count, strrep(sprintf('%.6f', now), '.', '')));
end

function removeleftovers(outdir)
% The scratch folders and summary files of sessions of this host that are
% gone (killed), with the temporaries in them. Only where /proc tells
% (Linux); a zombie counts as gone. Nothing through a link: a linked
% .partial is not looked into, and only the batch's own files are removed.
scratch = fullfile(outdir, '.partial');
if ~strcmp(pathkind(scratch, false), 'folder')
  return;
end
names = leftbehind(scratch, '^(.*)-(\d+)-([^-]+)$');
for k = 1:numel(names)
  path = fullfile(scratch, names{k});
  kind = pathkind(path, false);
  if strcmp(kind, 'folder')
    removeown(path);
  elseif strcmp(kind, 'file') && numel(path) > 4 && strcmp(path(end-3:end), '.csv')
    delete(path);
  end
end
end

function names = leftbehind(folder, pattern)
% The names in folder that processes of this host that are gone left
% behind: those whose tokens by pattern begin with this host and a pid
% that no longer runs. None where /proc does not tell (not Linux).
names = {};
if ~isfolder('/proc/self')
  return;
end
[host, ~] = thisprocess();
entries = dir(folder);
for k = 1:numel(entries)
  parts = regexp(entries(k).name, pattern, 'tokens', 'once');
  if ~isempty(parts) && strcmp(parts{1}, host) && ~alive(parts{2})
    names{end + 1} = entries(k).name;  %#ok<AGROW>
  end
end
end

function yes = alive(pid)
% Whether process pid (digits) of this host runs, from /proc; a zombie
% counts as gone.
status = fullfile('/proc', pid, 'stat');
yes = isfile(status);
if yes
  try
    text = fileread(status);
    state = strtrim(text(find(text == ')', 1, 'last') + 1:end));
    yes = ~isempty(state) && ~any(state(1) == 'ZX');
  catch
    yes = false;  % ended between the look and the read
  end
end
end

function [host, pid] = thisprocess()
if exist('OCTAVE_VERSION', 'builtin')
  pid = getpid();
  host = gethostname();
else
  pid = feature('getpid');
  host = char(java.net.InetAddress.getLocalHost().getHostName());
end
end

% --- the features files of a collection ---------------------------------

function folder = featuresroot(outdir)
% OUTDIR/.features (see ownfolder).
folder = ownfolder(outdir, '.features', 'features files');
end

function file = featurefile(cache, checksum)
file = fullfile(cache.folder, sprintf('%s-%s.bin', checksum, cache.settings));
end

function row = extractimage(image, cache, options)
% One image's features file, made unless a sound one is there. Never
% raises: an image that fails is reported in its row, and its pairs fail
% on it with their own error.
row = struct('image', image, 'features', '', 'computed', false, 'refused', '', 'segments', [], 'error', '');
try
  row.features = featurefile(cache, filesha256(image, 'imageFile', true));
  options.OverlapCheck = cache.overlap;
  info = linematch('features', image, row.features, options);
  row.computed = info.computed;
  row.refused = info.refused;
  row.segments = size(info.segments, 2);
catch err
  row.error = strrep([err.identifier ': ' err.message], sprintf('\n'), ' ');
end
end

function removedeadfeatures(folder)
% The temporary features files (<file>.tmp-<host>-<pid>-<n>, as the
% features are written before they are renamed into place) that processes
% of this host that are gone left behind; regular files only.
names = leftbehind(folder, '^.+\.bin\.tmp-(.*)-(\d+)-([^-]+)$');
for k = 1:numel(names)
  path = fullfile(folder, names{k});
  if strcmp(pathkind(path, false), 'file')
    delete(path);
  end
end
end

% --- files --------------------------------------------------------------

function writetext(path, text)
fid = fopen(path, 'w');
if fid < 0
  error('linematchpairs:outputFile', 'cannot write %s', path);
end
count = fwrite(fid, text, 'char');
if fclose(fid) ~= 0 || count ~= numel(text)
  error('linematchpairs:outputFile', 'cannot write %s', path);
end
end

function writesegments(path, S)
% As the command: each coordinate "%.3f" when that reads back to the same
% double, otherwise "%.17g".
v = S(:);
short = sprintf('%.3f\n', v);
exact = sscanf(short, '%f') == v;
if all(exact)
  writetext(path, sprintf('%.3f %.3f %.3f %.3f\n', S));
  return;
end
cells = strsplit(short(1:end-1), sprintf('\n'));
for k = find(~exact)'
  cells{k} = sprintf('%.17g', v(k));
end
lines = cell(1, size(S, 2));
for k = 1:size(S, 2)
  lines{k} = [strjoin(cells(4*k-3:4*k), ' ') sprintf('\n')];
end
writetext(path, [lines{:}]);
end

function H = readhomography(path)
% Nine numbers row by row, or the first matrix of an OpenCV matrix file
% (the numbers of its data field).
text = fileread(path);
data = regexp(text, '<data>(.*?)</data>', 'tokens', 'once');
if isempty(data)
  data = regexp(text, 'data"?\s*:\s*\[([^\]]*)\]', 'tokens', 'once');
end
if ~isempty(data)
  text = data{1};
end
values = sscanf(strrep(text, ',', ' '), '%f');
if numel(values) ~= 9 || ~all(isfinite(values))
  error('linematchpairs:homographyFile', '%s holds no 3x3 matrix', path);
end
H = reshape(values, 3, 3)';
end

function digest = filesha256(path, kind, follow)
% Only a regular file is opened: a FIFO would block the session for good.
% With follow false a symbolic link is refused too.
if ~strcmp(pathkind(path, follow), 'file')
  error(['linematchpairs:' kind], 'cannot open %s: not a regular file', path);
end
fid = fopen(path, 'r');
if fid < 0
  error(['linematchpairs:' kind], 'cannot open %s', path);
end
bytes = fread(fid, Inf, '*uint8');
fclose(fid);
digest = sha256hex(bytes');
end

function digest = sha256hex(bytes)
% SHA-256 of a uint8 row, 64 lower-case hexadecimal digits.
if exist('OCTAVE_VERSION', 'builtin')
  digest = hash('sha256', char(bytes));
else
  md = java.security.MessageDigest.getInstance('SHA-256');
  digest = lower(reshape(dec2hex(typecast(md.digest(bytes(:)), 'uint8'), 2)', 1, []));
end
end

function writesummary(outdir, T)
columns = {'name', 'image1', 'image2', 'homography', 'status', 'segments1', 'segments2', 'matches', ...
           'precision', 'recall', 'seconds', 'error'};
lines = cell(1, numel(T) + 1);
lines{1} = [strjoin(columns, ',') sprintf('\n')];
for k = 1:numel(T)
  cells = cell(1, numel(columns));
  for c = 1:numel(columns)
    cells{c} = csvcell(columns{c}, T(k).(columns{c}));
  end
  lines{k + 1} = [strjoin(cells, ',') sprintf('\n')];
end
path = fullfile(outdir, 'summary.csv');
scratch = [scratchfolder(outdir) '.csv'];
writetext(scratch, [lines{:}]);
if ~renamefolder(scratch, path)
  delete(scratch);
  error('linematchpairs:outputFile', 'cannot write %s', path);
end
end

function text = csvcell(column, value)
if isempty(value)
  text = '';
elseif ischar(value)
  % Text a spreadsheet would take for a formula (starting with = + - @, a
  % tab or a carriage return) gets a leading apostrophe: OWASP's defence
  % against CSV injection, as lineharvest.match_pairs writes it.
  text = value;
  if any(text(1) == sprintf('=+-@\t\r'))
    text = [char(39) text];
  end
  if any(text == ',' | text == '"' | text == sprintf('\n') | text == sprintf('\r'))
    text = ['"' strrep(text, '"', '""') '"'];
  end
elseif strcmp(column, 'seconds')
  text = sprintf('%.3f', value);
elseif value == fix(value) && ~any(strcmp(column, {'precision', 'recall'}))
  text = sprintf('%d', value);
else
  % The shortest decimal that reads back to the same double.
  for digits = 1:17
    text = sprintf(sprintf('%%.%dg', digits), value);
    if str2double(text) == value
      break;
    end
  end
end
end

% --- the options, the image set and the plan ----------------------------

function options = optionstruct(args)
% The inputs after OUTDIR: none, one scalar struct, or name-value pairs.
if isempty(args)
  options = struct();
  return;
end
if numel(args) == 1
  options = args{1};
  if ~isstruct(options) || numel(options) ~= 1
    error('linematchpairs:badOptions', 'OPTIONS must be a scalar struct');
  end
  return;
end
if mod(numel(args), 2) ~= 0
  error('linematchpairs:badOptions', 'the options after OUTDIR must be name-value pairs or one struct');
end
options = struct();
for k = 1:2:numel(args)
  name = args{k};
  if isstring(name) && isscalar(name)
    name = char(name);
  end
  if ~ischar(name) || ~isvarname(name)
    error('linematchpairs:badOptions', 'input %d must be an option name', k + 2);
  end
  options.(name) = args{k + 1};
end
end

function [value, found, options] = takeoption(options, name)
% The option name (in any case) taken out of options.
value = [];
names = fieldnames(options);
match = names(strcmpi(names, name));
found = ~isempty(match);
if found
  value = options.(match{1});
  options = rmfield(options, match);
end
end

function images = readimages(IMAGES)
% Absolute paths of a collection's images, each once, in the order given:
% a folder (its image files sorted by name, not its subfolders), a list
% file (one path a line, relative to the file's folder; blank lines and
% lines starting with # skipped), or a cell array of file names.
suffixes = {'.png', '.jpg', '.jpeg', '.jpe', '.ppm', '.pgm', '.pbm', '.pnm', '.bmp', '.dib', '.tif', '.tiff', ...
            '.webp', '.jp2', '.sr', '.ras'};
if isstring(IMAGES)
  IMAGES = cellstr(IMAGES);
  if numel(IMAGES) == 1
    IMAGES = IMAGES{1};
  end
end
if ischar(IMAGES) && isrow(IMAGES)
  path = normpath(absolutepath(IMAGES, pwd));
  switch pathkind(path, true)
    case 'folder'
      entries = dir(path);
      names = sort({entries.name});
      images = {};
      for k = 1:numel(names)
        [~, ~, suffix] = fileparts(names{k});
        candidate = fullfile(path, names{k});
        if names{k}(1) ~= '.' && any(strcmpi(suffix, suffixes)) && strcmp(pathkind(candidate, true), 'file')
          images{end + 1} = candidate; %#ok<AGROW>
        end
      end
    case 'file'
      text = fileread(path);
      if numel(text) >= 3 && isequal(double(text(1:3)), [239 187 191])
        text = text(4:end);
      end
      lines = strtrim(regexp(text, '\r?\n', 'split'));
      lines = lines(~cellfun(@skipped, lines));
      base = fileparts(path);
      images = cellfun(@(line) normpath(absolutepath(line, base)), lines, 'UniformOutput', false);
    otherwise
      error('linematchpairs:imageFile', 'IMAGES: %s is neither a folder nor a list file', path);
  end
elseif iscell(IMAGES) && all(cellfun(@(p) ischar(p) && isrow(p), IMAGES(:)))
  images = cellfun(@(p) normpath(absolutepath(p, pwd)), IMAGES(:)', 'UniformOutput', false);
else
  error('linematchpairs:badPairs', 'IMAGES must be a folder, a list file or a cell array of file names');
end
images = unique(images, 'stable');
if isempty(images)
  error('linematchpairs:badPairs', 'IMAGES: no images there');
end
end

function pairs = planpairs(images, plan)
% The pairs of a plan over the images: 'exhaustive' (every two images
% once), 'sequential:K' (each image with the K after it), or pairs as
% PAIRS takes them (a pair file or a cell array). Pairs of a plan are
% named <label1>__<label2>.
if isstring(plan) && isscalar(plan)
  plan = char(plan);
end
if ischar(plan) && (strcmp(plan, 'exhaustive') || strncmp(plan, 'sequential', 10))
  window = numel(images);
  if ~strcmp(plan, 'exhaustive')
    % 'sequential' and 'sequential:' are sequential:1.
    count = regexp(plan, '^sequential(:\d*)?$', 'match', 'once');
    if isempty(count)
      window = 0;
    elseif numel(plan) <= 11
      window = 1;
    else
      window = str2double(plan(12:end));
    end
    if ~(window >= 1)
      error('linematchpairs:badPairs', ['Pairs: ''%s'' is not a plan (exhaustive, sequential:K with K >= 1, ' ...
            'or a pair file)'], plan);
    end
  end
  labels = imagelabels(images);
  n = numel(images);
  pairs = struct('name', {}, 'image1', {}, 'image2', {}, 'homography', {});
  for i = 1:n
    for j = i + 1:min(n, i + window)
      pairs(end + 1) = struct('name', [labels{i} '__' labels{j}], 'image1', images{i}, 'image2', images{j}, ...
                              'homography', ''); %#ok<AGROW>
    end
  end
else
  pairs = readpairs(plan);
end
% The Python collection writes its store beside the pair folders.
taken = intersect({pairs.name}, {'features.h5', 'matches.h5'});
if ~isempty(taken)
  error('linematchpairs:badPairs', 'Pairs: the name ''%s'' is the collection''s store''s', taken{1});
end
end

function labels = imagelabels(paths)
% A short name per image: its path below the images' common folder,
% without the suffix, separators made '_' (graf/img1.png -> graf_img1),
% -2, -3, ... on repeats: the Python collection's labels.
parts = cellfun(@(p) strsplit(p, '/'), paths, 'UniformOutput', false);
common = parts{1}(1:end - 1);
for k = 2:numel(parts)
  folder = parts{k}(1:end - 1);
  m = min(numel(common), numel(folder));
  same = find(~strcmp(common(1:m), folder(1:m)), 1);
  if isempty(same)
    same = m + 1;
  end
  common = common(1:same - 1);
end
labels = cell(size(paths));
for k = 1:numel(paths)
  below = parts{k}(numel(common) + 1:end);
  [~, stem] = fileparts(below{end});
  below{end} = stem;
  label = regexprep(strjoin(below, '_'), '[^A-Za-z0-9._+-]', '_');
  label = regexprep(label, '^\.+', '');
  if isempty(label)
    label = 'pair';
  end
  name = label;
  repeat = 1;
  while any(strcmp(name, labels(1:k - 1)))
    repeat = repeat + 1;
    name = sprintf('%s-%d', label, repeat);
  end
  labels{k} = name;
end
end

function p = normpath(p)
% An absolute path without '.', '..' and repeated separators (a path
% that is not absolute stays as it is).
if isempty(p) || p(1) ~= '/'
  return;
end
kept = {};
for part = strsplit(p, '/')
  if strcmp(part{1}, '..')
    kept = kept(1:end - 1);
  elseif ~isempty(part{1}) && ~strcmp(part{1}, '.')
    kept{end + 1} = part{1}; %#ok<AGROW>
  end
end
p = ['/' strjoin(kept, '/')];
end

% --- the pair list ------------------------------------------------------

function pairs = readpairs(PAIRS)
columns = {'image1', 'image2', 'homography', 'name'};
if isstring(PAIRS) && isscalar(PAIRS)
  PAIRS = char(PAIRS);
end
if ischar(PAIRS)
  [rows, base] = readpairfile(PAIRS, columns);
elseif iscell(PAIRS) && ismatrix(PAIRS) && (isempty(PAIRS) || (size(PAIRS, 2) >= 2 && size(PAIRS, 2) <= 4))
  base = pwd;
  rows = cell(size(PAIRS, 1), 4);
  rows(:) = {''};
  rows(:, 1:size(PAIRS, 2)) = PAIRS;
  if ~all(cellfun(@ischar, rows(:)))
    error('linematchpairs:badPairs', 'PAIRS must hold file names (char rows)');
  end
else
  error('linematchpairs:badPairs', 'PAIRS must be an N x 2..4 cell array of file names or a pair file name');
end
n = size(rows, 1);
given = rows(:, 4);
named = given(~cellfun(@isempty, given));
% A given name is one folder name in OUTDIR, the set lineharvest.match_pairs
% accepts: at most 200 bytes, no slash or backslash, no control character (a NUL
% would cut the name short: two pairs, one folder), not starting with '.',
% not summary.csv.
for k = 1:numel(named)
  name = named{k};
  if ~isrow(name) || name(1) == '.' || any(name == '/' | name == char(92) | name < 32 | name == 127) || ...
     strcmp(folderkey(name), 'summary.csv') || numel(unicode2native(name, 'UTF-8')) > 200
    error('linematchpairs:badPairs', ['the name ''%s'' cannot be a folder name here (1 to 200 bytes, no slash, ' ...
          'backslash or control character, not starting with ''.'', not summary.csv)'], name);
  end
end
% Names that differ only in the case of ASCII letters are one folder on a
% case-insensitive file system (a shared SMB or macOS folder).
taken = cellfun(@folderkey, named, 'UniformOutput', false);
if numel(unique(taken)) ~= numel(taken)
  error('linematchpairs:badPairs', 'two pairs have the same name (ASCII letters'' case aside)');
end
pairs = struct('name', cell(1, n), 'image1', '', 'image2', '', 'homography', '');
for k = 1:n
  if isempty(rows{k, 1}) || isempty(rows{k, 2})
    error('linematchpairs:badPairs', 'pair %d needs image1 and image2', k);
  end
  pairs(k).image1 = absolutepath(rows{k, 1}, base);
  pairs(k).image2 = absolutepath(rows{k, 2}, base);
  if ~isempty(rows{k, 3})
    pairs(k).homography = absolutepath(rows{k, 3}, base);
  end
  name = rows{k, 4};
  if isempty(name)
    [~, s1] = fileparts(pairs(k).image1);
    [~, s2] = fileparts(pairs(k).image2);
    stem = regexprep([s1 '__' s2], '[^A-Za-z0-9._+-]', '_');
    stem = regexprep(stem, '^\.+', '');
    if isempty(stem)
      stem = 'pair';
    end
    name = stem;
    repeat = 1;
    while any(strcmp(folderkey(name), taken)) || strcmp(folderkey(name), 'summary.csv')
      repeat = repeat + 1;
      name = sprintf('%s-%d', stem, repeat);
    end
    taken{end + 1} = folderkey(name); %#ok<AGROW>
  end
  pairs(k).name = name;
end
end

function key = folderkey(name)
% The name with its ASCII letters in lower case (as match_pairs folds them).
key = name;
upper = key >= 'A' & key <= 'Z';
key(upper) = char(key(upper) + 32);
end

function [rows, base] = readpairfile(path, columns)
% Only a regular file is read: a FIFO would block the session for good.
if ~strcmp(pathkind(path, true), 'file')
  error('linematchpairs:badPairs', 'cannot read the pair file %s: not a regular file', path);
end
try
  text = fileread(path);
catch err
  error('linematchpairs:badPairs', 'cannot read the pair file %s: %s', path, err.message);
end
% A byte-order mark (spreadsheets write one) is not part of the first
% column's name: UTF-8's three bytes, or U+FEFF where fileread decodes.
if numel(text) >= 3 && isequal(double(text(1:3)), [239 187 191])
  text = text(4:end);
elseif ~isempty(text) && double(text(1)) == 65279
  text = text(2:end);
end
base = fileparts(absolutepath(path, pwd));
lines = regexp(text, '\r?\n', 'split');
lines = lines(~cellfun(@skipped, lines));
rows = cell(0, 4);
if isempty(lines)
  return;
end
separator = ',';
if any(lines{1} == sprintf('\t')) || (numel(path) > 4 && strcmpi(path(end-3:end), '.tsv'))
  separator = sprintf('\t');
end
head = lower(strtrim(strsplit(lines{1}, separator)));
order = [1 2 3];
if any(strcmp(head, 'image1')) && any(strcmp(head, 'image2'))
  [known, order] = ismember(head, columns);
  if ~all(known)
    error('linematchpairs:badPairs', '%s: unknown column ''%s''', path, head{find(~known, 1)});
  end
  lines = lines(2:end);
end
rows = cell(numel(lines), 4);
rows(:) = {''};
for k = 1:numel(lines)
  cells = strtrim(strsplit(lines{k}, separator));
  if numel(cells) < 2 || numel(cells) > numel(order)
    error('linematchpairs:badPairs', '%s: line %d has %d columns', path, k, numel(cells));
  end
  rows(k, order(1:numel(cells))) = cells;
end
end

function skip = skipped(line)
% Blank lines and comment lines of a pair file.
line = strtrim(line);
skip = isempty(line) || line(1) == '#';
end

function p = absolutepath(p, base)
if isempty(p) || p(1) == '/' || (numel(p) > 1 && p(2) == ':')
  return;
end
p = fullfile(base, p);
end
