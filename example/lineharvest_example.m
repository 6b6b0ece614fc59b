function report = lineharvest_example(varargin)
%LINEHARVEST_EXAMPLE Run lineharvest on a prepared image pair and score it.
%
%   REPORT = lineharvest_example('Name', value, ...)
%
%   Loads a prepared example (by default the bundled graf1/graf3 pair in
%   graf/ beside this file), runs lineharvest on it in OUTPUTDIR, where
%   "Addcandidates.txt" is written, scores the added correspondences
%   against the ground-truth homography, prints a short report and draws a
%   picture of the result.
%
%   A correspondence (i, w) is correct when image-1 segment i, mapped by
%   the ground-truth homography, lies on image-2 segment w by the rule of
%   truesegmentpairs, with the distance and overlap that the example was
%   prepared with (prepare_info.txt: truth_distance, truth_overlap).
%   Precision is the share of correct ones among the added
%   correspondences; recall is the share of the true correspondences that
%   are not seeds which lineharvest added.
%
%   Options (defaults in brackets):
%     DataDir             prepared example [graf/ beside this file]
%     OutputDir           where lineharvest runs [current directory]
%     Picture             PNG to write, '' for none [OUTPUTDIR/graf_result.png]
%     ImageDir            where the example's images are looked up; without
%                         them the picture has a plain background
%                         [/usr/share/doc/opencv-doc/examples/data]
%     MaxLineDistance     lineharvest distance threshold, pixels [2]
%     MaxAngleDifference  lineharvest angle threshold, radians [0.1]
%     MinOverlapRatio     lineharvest overlap threshold [0.5]
%     Quiet               true to print nothing [false]
%
%   REPORT has the fields added (3xK: the [i; w; r] columns lineharvest
%   returned), correct (1xK logical), truth (2xM true correspondences),
%   counts (struct), precision, recall, seconds (struct of run times),
%   picture (path written or ''), text (the printed report) and settings.
%
%   See also lineharvest, buildgridcells, truesegmentpairs, loadlineexample.

here = fileparts(mfilename('fullpath'));
settings = struct('DataDir', fullfile(here, 'graf'), 'OutputDir', pwd, ...
                  'Picture', [], 'ImageDir', '/usr/share/doc/opencv-doc/examples/data', ...
                  'MaxLineDistance', 2, 'MaxAngleDifference', 0.1, ...
                  'MinOverlapRatio', 0.5, 'Quiet', false);
if mod(numel(varargin), 2) ~= 0
  error('lineharvest_example:badOption', 'lineharvest_example: options come in name/value pairs');
end
for k = 1:2:numel(varargin)
  name = varargin{k};
  if ~ischar(name) || ~isfield(settings, name)
    error('lineharvest_example:badOption', 'lineharvest_example: unknown option "%s"', ...
          num2str(name));
  end
  settings.(name) = varargin{k + 1};
end
if isempty(settings.Picture) && ~ischar(settings.Picture)
  settings.Picture = fullfile(settings.OutputDir, 'graf_result.png');
end

started = tic;
ex = loadlineexample(settings.DataDir);
info = ex.info;
n1 = size(ex.segments1, 2);
n2 = size(ex.segments2, 2);
numRecords = size(ex.pairRecords, 2);
pairsPerSegment = size(ex.pairIndex, 1);

if ~exist(settings.OutputDir, 'dir')
  mkdir(settings.OutputDir);
end
previous = cd(settings.OutputDir);
restore = onCleanup(@() cd(previous));
harvestStart = tic;
added = lineharvest(ex.segments1, ex.segments2, ex.pairRecords, eye(3), n1, n2, numRecords, ...
                    settings.MaxLineDistance, settings.MaxAngleDifference, ...
                    settings.MinOverlapRatio, ex.pairIndex, pairsPerSegment, ex.gridFile, ...
                    info.cell_size, 0, info.image2_height, 0, info.image2_width);
seconds.lineharvest = toc(harvestStart);
clear restore;

scoreStart = tic;
truth = truesegmentpairs(ex.segments1, ex.segments2, ex.truth, info.truth_distance, ...
                         info.truth_overlap);
correct = memberPairs(added(1:2, :), truth);
isSeed = memberPairs(added(1:2, :), ex.seeds);
truthNotSeed = truth(:, ~memberPairs(truth, ex.seeds));
found = memberPairs(truthNotSeed, added(1:2, :));
seconds.scoring = toc(scoreStart);

counts = struct('segments1', n1, 'segments2', n2, 'seeds', size(ex.seeds, 2), ...
                'pairRecords', numRecords, 'pairsPerSegment', pairsPerSegment, ...
                'truth', size(truth, 2), 'truthNotSeeds', size(truthNotSeed, 2), ...
                'added', size(added, 2), 'correct', sum(correct), 'false', sum(~correct), ...
                'seedsRefound', sum(isSeed), 'found', sum(found));
precision = counts.correct / max(counts.added, 1);
recall = counts.found / max(counts.truthNotSeeds, 1);

pictureStart = tic;
picture = '';
if ~isempty(settings.Picture)
  [background1, background2, photo] = backgrounds(settings.ImageDir, info);
  layers = struct('pairs', {ex.seeds, added(1:2, correct), added(1:2, ~correct)}, ...
                  'color', {[60 140 255], [40 220 60], [255 40 40]}, ...
                  'marked', {false, false, true});
  drawcorrespondences(settings.Picture, ex.segments1, ex.segments2, layers, ...
                      background1, background2);
  picture = settings.Picture;
end
seconds.picture = toc(pictureStart);
seconds.total = toc(started);

lines = {
  sprintf('lineharvest example: %s -> %s', fieldOr(info, 'image1_file', 'image 1'), ...
          fieldOr(info, 'image2_file', 'image 2'))
  sprintf('  segments          %d in image 1, %d in image 2', n1, n2)
  sprintf('  seeds             %d', counts.seeds)
  sprintf('  pair records      %d, %d tried per image-1 segment', numRecords, pairsPerSegment)
  sprintf('  thresholds        distance %g px, angle %g rad, overlap %g, grid cell %d px', ...
          settings.MaxLineDistance, settings.MaxAngleDifference, ...
          settings.MinOverlapRatio, info.cell_size)
  sprintf('  ground truth      %d correspondences (%g px, overlap %g), %d of them not seeds', ...
          counts.truth, info.truth_distance, info.truth_overlap, counts.truthNotSeeds)
  sprintf('  added             %d correspondences in %.3f s', counts.added, seconds.lineharvest)
  sprintf('    correct         %d (of them seeds found again: %d)', counts.correct, ...
          counts.seedsRefound)
  sprintf('    false           %d', counts.false)
  sprintf('  precision         %.3f', precision)
  sprintf('  recall            %.3f (%d of %d)', recall, counts.found, counts.truthNotSeeds)
  };
if ~isempty(picture)
  if photo
    lines{end + 1} = sprintf('  picture           %s', picture);
  else
    lines{end + 1} = sprintf('  picture           %s (images not found in %s: plain background)', ...
                             picture, settings.ImageDir);
  end
  lines{end + 1} = '                    blue: seeds, green: correct added, red and ringed: false added';
end
lines{end + 1} = sprintf('  time              %.2f s in all', seconds.total);
text = sprintf('%s\n', lines{:});
if ~settings.Quiet
  fprintf('%s', text);
end

report = struct('added', added, 'correct', correct, 'truth', truth, 'counts', counts, ...
                'precision', precision, 'recall', recall, 'seconds', seconds, ...
                'picture', picture, 'text', text, 'settings', settings);
end

function inside = memberPairs(pairs, set)
% Which columns of PAIRS (2xM) occur as columns of SET (2xN).
if isempty(pairs)
  inside = false(1, size(pairs, 2));
  return;
end
if isempty(set)
  set = zeros(2, 0);
end
inside = ismember(pairs', set', 'rows')';
end

function value = fieldOr(s, name, fallback)
if isfield(s, name)
  value = s.(name);
else
  value = fallback;
end
end

function [background1, background2, photo] = backgrounds(imageDir, info)
background1 = [info.image1_height, info.image1_width];
background2 = [info.image2_height, info.image2_width];
photo = false;
if ~isfield(info, 'image1_file') || ~isfield(info, 'image2_file')
  return;
end
file1 = fullfile(imageDir, info.image1_file);
file2 = fullfile(imageDir, info.image2_file);
if exist(file1, 'file') && exist(file2, 'file')
  background1 = imread(file1);
  background2 = imread(file2);
  photo = true;
end
end
