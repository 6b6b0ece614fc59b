function T = linematchpairs(PAIRS, OUTDIR, OPTIONS)
%LINEMATCHPAIRS  The linematch MEX over many image pairs, one folder per pair.
%
%   T = linematchpairs(PAIRS, OUTDIR)
%   T = linematchpairs(PAIRS, OUTDIR, OPTIONS)
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
%
%   T       struct array, one element per pair in the order given, with the
%           columns of OUTDIR/summary.csv: name, image1, image2, homography,
%           status ('ok' or 'failed'), segments1, segments2, matches,
%           precision, recall (with a homography), seconds, error.
%
%   The layout is lineharvest.match_pairs' and linematch-batch's:
%   OUTDIR/<name>/ holds matches.txt, confidence.txt, segments1.txt and
%   segments2.txt written exactly as the linematch command writes them,
%   report.json with the command's keys that the MEX reports (image1,
%   image2, segments, geometry, stages, rounds, seconds, ground_truth
%   without per-round scores), and pair.json, the record of the inputs'
%   SHA-256 checksums and the options.
%   There is no matches.png. The default name of a pair is
%   <stem1>__<stem2> (-2, -3, ... on repeats); OUTDIR/summary.csv lists
%   every pair.
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
%   freed before it returns, and it writes no file. A worker process that
%   calls it many times, or several calls at once in threads of one
%   process, do not see each other.
%
%   Example (pairs made with warp_image):
%     d = '/usr/share/doc/opencv-doc/examples/data/';
%     system(['warp_image ' d 'box.png w1.png h1.txt --seed 1']);
%     system(['warp_image ' d 'box.png w2.png h2.txt --seed 2']);
%     T = linematchpairs({[d 'box.png'], 'w1.png', 'h1.txt'; [d 'box.png'], 'w2.png', 'h2.txt'}, 'out');
%     disp([T.matches]);
%
%   See also LINEMATCH.

if nargin < 2 || nargin > 3
  error('linematchpairs:nargin', 'linematchpairs(PAIRS, OUTDIR[, OPTIONS])');
end
if nargin < 3
  OPTIONS = struct();
end
if ~isstruct(OPTIONS) || numel(OPTIONS) ~= 1
  error('linematchpairs:badOptions', 'OPTIONS must be a scalar struct');
end
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
pairs = readpairs(PAIRS);
% The record: the options that change the result (Threads, in any case,
% does not).
recorded = OPTIONS;
names = fieldnames(recorded);
recorded = rmfield(recorded, names(strcmpi(names, 'Threads')));
recorded = orderfields(recorded);

removeleftovers(outdir);
n = numel(pairs);
rows = cell(n, 1);
parfor (k = 1:n, workers)
  rows{k} = runpair(pairs(k), outdir, OPTIONS, recorded);
end
T = [rows{:}];
if isempty(T)
  T = struct('name', {}, 'image1', {}, 'image2', {}, 'homography', {}, 'status', {}, 'segments1', {}, ...
             'segments2', {}, 'matches', {}, 'precision', {}, 'recall', {}, 'seconds', {}, 'error', {});
end
writesummary(outdir, T);
[~, ~] = rmdir(fullfile(outdir, '.partial'));  % left when other sessions still write
end

% --- one pair -----------------------------------------------------------

function row = runpair(pair, outdir, options, recorded)
started = tic;
row = struct('name', pair.name, 'image1', pair.image1, 'image2', pair.image2, 'homography', pair.homography, ...
             'status', 'failed', 'segments1', [], 'segments2', [], 'matches', [], 'precision', [], ...
             'recall', [], 'seconds', [], 'error', '');
scratch = '';
try
  inputs = struct('image1', filesha256(pair.image1), 'image2', filesha256(pair.image2), 'homography', '');
  if ~isempty(pair.homography)
    inputs.homography = filesha256(pair.homography);
  end
  key = jsonencode(struct('inputs', inputs, 'options', recorded));
  target = fullfile(outdir, pair.name);
  result = recordedresult(target, key);
  if isempty(result)
    scratch = scratchfolder(outdir);
    if ~mkdir(scratch)
      error('linematchpairs:outputFile', 'cannot make the folder %s', scratch);
    end
    result = matchinto(scratch, pair, options, started);
    writetext(fullfile(scratch, 'pair.json'), ...
              jsonencode(struct('key', key, 'image1', pair.image1, 'image2', pair.image2, ...
                                'homography', pair.homography, 'result', result)));
    moveintoplace(scratch, target, outdir, key);
    scratch = '';
  end
  for f = fieldnames(result)'
    row.(f{1}) = result.(f{1});
  end
  row.status = 'ok';
catch err
  row.error = strrep([err.identifier ': ' err.message], sprintf('\n'), ' ');
  row.seconds = toc(started);
end
if ~isempty(scratch) && isfolder(scratch)
  removefolder(scratch);
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
report = struct();
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

function result = recordedresult(folder, key)
% The summary figures of a complete pair folder made from these inputs with
% these options, else [].
result = [];
record = fullfile(folder, 'pair.json');
if ~isfile(record)
  return;
end
try
  r = jsondecode(fileread(record));
catch
  return;
end
names = {'segments2.txt', 'segments1.txt', 'matches.txt', 'confidence.txt', 'report.json'};
if ~isstruct(r) || ~isfield(r, 'key') || ~strcmp(r.key, key) || ~isfield(r, 'result')
  return;
end
for k = 1:numel(names)
  if ~isfile(fullfile(folder, names{k}))
    return;
  end
end
result = r.result;
end

function moveintoplace(folder, target, outdir, key)
% Renames the complete folder to target. An older target folder is moved
% aside and removed; when another session has just put the same pair's
% complete folder there, that one stays.
for attempt = 1:8
  if renamefolder(folder, target)
    return;
  end
  if ~isempty(recordedresult(target, key))
    removefolder(folder);
    return;
  end
  aside = scratchfolder(outdir);
  if renamefolder(target, aside)
    removefolder(aside);
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

function removefolder(folder)
if exist('OCTAVE_VERSION', 'builtin')
  confirm_recursive_rmdir(false, 'local');
end
[~] = rmdir(folder, 's');
end

function folder = scratchfolder(outdir)
persistent count
if isempty(count)
  count = 0;
end
count = count + 1;
scratch = fullfile(outdir, '.partial');
if ~isfolder(scratch)
  [~] = mkdir(scratch);
end
[host, pid] = thisprocess();
folder = fullfile(scratch, sprintf('%s-%d-m%d%s', host, pid, count, strrep(sprintf('%.6f', now), '.', '')));
end

function removeleftovers(outdir)
% Scratch folders of sessions of this host that are gone (killed). Only
% where /proc tells (Linux); a zombie counts as gone.
scratch = fullfile(outdir, '.partial');
if ~isfolder(scratch) || ~isfolder('/proc/self')
  return;
end
[host, ~] = thisprocess();
entries = dir(scratch);
for k = 1:numel(entries)
  parts = regexp(entries(k).name, '^(.*)-(\d+)-([^-]+)$', 'tokens', 'once');
  if isempty(parts) || ~strcmp(parts{1}, host)
    continue;
  end
  status = fullfile('/proc', parts{2}, 'stat');
  alive = isfile(status);
  if alive
    text = fileread(status);
    state = strtrim(text(find(text == ')', 1, 'last') + 1:end));
    alive = ~isempty(state) && ~any(state(1) == 'ZX');
  end
  if ~alive
    path = fullfile(scratch, entries(k).name);
    if isfolder(path)
      removefolder(path);
    else
      delete(path);
    end
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

function digest = filesha256(path)
% Only a regular file is opened: a FIFO would block the session for good.
if ~isfile(path)
  error('linematchpairs:imageFile', 'cannot open %s: not a regular file', path);
end
fid = fopen(path, 'r');
if fid < 0
  error('linematchpairs:imageFile', 'cannot open %s', path);
end
bytes = fread(fid, Inf, '*uint8');
fclose(fid);
if exist('OCTAVE_VERSION', 'builtin')
  digest = hash('sha256', char(bytes'));
else
  md = java.security.MessageDigest.getInstance('SHA-256');
  digest = lower(reshape(dec2hex(typecast(md.digest(bytes), 'uint8'), 2)', 1, []));
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
  text = value;
  if any(text == ',' | text == '"' | text == sprintf('\n'))
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
if numel(unique(named)) ~= numel(named)
  error('linematchpairs:badPairs', 'two pairs have the same name');
end
for k = 1:numel(named)
  if named{k}(1) == '.' || any(named{k} == '/') || strcmp(named{k}, 'summary.csv')
    error('linematchpairs:badPairs', 'the name ''%s'' cannot be a folder name here', named{k});
  end
end
taken = named;
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
    while any(strcmp(name, taken)) || strcmp(name, 'summary.csv')
      repeat = repeat + 1;
      name = sprintf('%s-%d', stem, repeat);
    end
    taken{end + 1} = name; %#ok<AGROW>
  end
  pairs(k).name = name;
end
end

function [rows, base] = readpairfile(path, columns)
text = fileread(path);
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
