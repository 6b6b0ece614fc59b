function ex = loadlineexample(dataDir)
%LOADLINEEXAMPLE Read a prepared lineharvest example from a directory.
%
%   EX = loadlineexample(DATADIR)
%
%   DATADIR holds the files written by the preparation tool
%   (tools/prepare_example) and the grid builder:
%     segments1.txt, segments2.txt  one segment "x1 y1 x2 y2" per line
%     seeds.txt                     one seed correspondence "i w" per line
%     pair_records.txt              one pair record (14 numbers) per line
%     pair_index.txt                the pair records to try, one line per
%                                   image-1 segment
%     homography.txt                ground-truth homography, image 1 -> 2
%     prepare_info.txt              "name value" lines: image sizes and the
%                                   settings the files were made with
%     grid_cells.txt                the grid cell file (buildgridcells)
%   All indices are 0-based.
%
%   EX has the fields segments1 (4xN1), segments2 (4xN2), seeds (2xS),
%   pairRecords (14xP), pairIndex (KxN1), truth (3x3), info (struct of the
%   prepare_info.txt values; numbers where the value is numeric) and
%   gridFile (absolute path of grid_cells.txt), laid out as lineharvest
%   takes them.
%
%   See also lineharvest, buildgridcells, truesegmentpairs.

if ~ischar(dataDir) || ~exist(dataDir, 'dir')
  error('loadlineexample:noDirectory', 'loadlineexample: no directory "%s"', char(dataDir));
end
ex.segments1 = readMatrix(dataDir, 'segments1.txt', 4)';
ex.segments2 = readMatrix(dataDir, 'segments2.txt', 4)';
ex.seeds = readMatrix(dataDir, 'seeds.txt', 2)';
ex.pairRecords = readMatrix(dataDir, 'pair_records.txt', 14)';
ex.pairIndex = readMatrix(dataDir, 'pair_index.txt', [])';
ex.truth = readMatrix(dataDir, 'homography.txt', 3);
ex.info = readInfo(fullfile(dataDir, 'prepare_info.txt'));
ex.gridFile = fullfile(absolutePath(dataDir), 'grid_cells.txt');

if size(ex.truth, 1) ~= 3
  error('loadlineexample:badFile', 'loadlineexample: homography.txt must hold a 3x3 matrix');
end
if size(ex.pairIndex, 2) ~= size(ex.segments1, 2)
  error('loadlineexample:badFile', ...
        'loadlineexample: pair_index.txt has %d lines for %d image-1 segments', ...
        size(ex.pairIndex, 2), size(ex.segments1, 2));
end
end

function m = readMatrix(dataDir, name, columns)
path = fullfile(dataDir, name);
fid = fopen(path, 'r');
if fid < 0
  error('loadlineexample:missingFile', 'loadlineexample: cannot read "%s"', path);
end
text = fread(fid, Inf, 'char=>char')';
fclose(fid);
lines = sum(text == char(10)) + (~isempty(text) && text(end) ~= char(10));
values = sscanf(text, '%f');
if isempty(columns)
  columns = numel(values) / max(lines, 1);
end
if lines == 0
  m = zeros(0, columns);
  return;
end
if numel(values) ~= lines * columns || columns ~= fix(columns)
  error('loadlineexample:badFile', 'loadlineexample: "%s" is not a table of %g columns', ...
        path, columns);
end
m = reshape(values, columns, lines)';
end

function info = readInfo(path)
fid = fopen(path, 'r');
if fid < 0
  error('loadlineexample:missingFile', 'loadlineexample: cannot read "%s"', path);
end
info = struct();
line = fgetl(fid);
while ischar(line)
  [name, rest] = strtok(line);
  value = strtrim(rest);
  number = str2double(value);
  if ~isempty(name)
    if ~isnan(number)
      info.(name) = number;
    else
      info.(name) = value;
    end
  end
  line = fgetl(fid);
end
fclose(fid);
end

function p = absolutePath(p)
if isempty(p) || (p(1) ~= '/' && p(1) ~= '\' && ~(numel(p) > 1 && p(2) == ':'))
  p = fullfile(pwd, p);
end
end
