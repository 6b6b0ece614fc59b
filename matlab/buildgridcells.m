function [numCells, numEntries] = buildgridcells(gridFilePath, segments2, cellSize, yBegin, yEnd, xBegin, xEnd, margin)
%BUILDGRIDCELLS Write the grid cell file that lineharvest reads.
%
%   buildgridcells(GRIDFILE, SEGMENTS2, CELLSIZE, YBEGIN, YEND, XBEGIN, XEND)
%   buildgridcells(GRIDFILE, SEGMENTS2, CELLSIZE, YBEGIN, YEND, XBEGIN, XEND, MARGIN)
%   [NUMCELLS, NUMENTRIES] = buildgridcells(...)
%
%   Indexes the image-2 segments SEGMENTS2 (4xN, one column [x1; y1; x2; y2]
%   per segment) in a regular grid and writes the index to the text file
%   GRIDFILE. Pass the same GRIDFILE, CELLSIZE, YBEGIN, YEND, XBEGIN and XEND
%   to lineharvest (its inputs 13 to 18).
%
%   Each segment is rasterised from its endpoints truncated toward zero, with
%   the same Bresenham raster that lineharvest uses for a mapped segment. The
%   raster is widened by MARGIN pixels in every direction (a square of side
%   2*MARGIN+1 around each raster pixel; default 0), and the segment is
%   registered in the cell of every widened pixel that lies inside the
%   window XBEGIN <= x < XEND, YBEGIN <= y < YEND. A mapped image-1 segment
%   that passes within MARGIN pixels of the raster of its match therefore
%   meets that match in some cell. MARGIN 0 registers exactly the cells that
%   lineharvest's lookup visits for the same segment.
%
%   Cell numbering, on raw pixel coordinates (XBEGIN and YBEGIN are not
%   subtracted; division truncates toward zero):
%       gridColumns = fix((XEND - XBEGIN) / CELLSIZE) + 1
%       cell        = fix(y / CELLSIZE) * gridColumns + fix(x / CELLSIZE)
%   Line k of the file (counting from 0) lists the segment indices of cell k,
%   0-based, ascending, separated by single spaces; a cell without segments
%   is an empty line. The file has one line for every cell number from 0 to
%   the largest cell of a window pixel, each line ended by LF. Cell numbers
%   below 0 (possible only for a window reaching negative coordinates) are
%   not stored, as lineharvest ignores them. With XBEGIN > 0 the high
%   columns of one grid row share numbers with the low columns of the next;
%   lineharvest numbers its lookups the same way, so such cells simply hold
%   the segments of both places.
%
%   Scalars are truncated toward zero as lineharvest does. Endpoint
%   coordinates must be finite and smaller than 2^24 in magnitude.
%
%   NUMCELLS is the number of lines written, NUMENTRIES the number of
%   (cell, segment) entries.
%
%   Errors carry the identifiers
%     buildgridcells:nargin       fewer than 7 inputs
%     buildgridcells:badPath      GRIDFILE is not a non-empty character row
%     buildgridcells:badSegments  SEGMENTS2 not a real numeric 4xN matrix
%                                 of finite coordinates below 2^24
%     buildgridcells:badCellSize  CELLSIZE not a real scalar, or below 1
%     buildgridcells:badWindow    a bound not a real finite scalar,
%                                 YEND < YBEGIN or XEND < XBEGIN, or a
%                                 window of more than 2^31-1 cells
%     buildgridcells:badMargin    MARGIN not a real scalar >= 0
%     buildgridcells:fileOpen     GRIDFILE cannot be written
%
%   Example:
%     buildgridcells('grid.txt', segments2, 10, 0, rows, 0, cols, 3);
%
%   See also lineharvest.

if nargin < 7
  error('buildgridcells:nargin', ...
        'buildgridcells: expected 7 or 8 inputs, got %d', nargin);
end
if nargin < 8
  margin = 0;
end

if ~ischar(gridFilePath) || isempty(gridFilePath) || size(gridFilePath, 1) ~= 1
  error('buildgridcells:badPath', ...
        'buildgridcells: GRIDFILE must be a non-empty character row vector');
end
if ~isnumeric(segments2) || ~isreal(segments2) || ndims(segments2) ~= 2 ...
    || (size(segments2, 1) ~= 4 && ~isempty(segments2))
  error('buildgridcells:badSegments', ...
        'buildgridcells: SEGMENTS2 must be a real numeric 4xN matrix, got %s %s', ...
        sizeText(segments2), class(segments2));
end
segments2 = double(segments2);
if isempty(segments2)
  segments2 = zeros(4, 0);
end
if any(~isfinite(segments2(:))) || any(abs(segments2(:)) >= 2^24)
  error('buildgridcells:badSegments', ...
        'buildgridcells: SEGMENTS2 coordinates must be finite and below 2^24 in magnitude');
end

cellSize = scalarInput(cellSize, 'CELLSIZE', 'badCellSize');
if cellSize < 1
  error('buildgridcells:badCellSize', ...
        'buildgridcells: CELLSIZE must be at least 1, got %g', cellSize);
end
yBegin = scalarInput(yBegin, 'YBEGIN', 'badWindow');
yEnd = scalarInput(yEnd, 'YEND', 'badWindow');
xBegin = scalarInput(xBegin, 'XBEGIN', 'badWindow');
xEnd = scalarInput(xEnd, 'XEND', 'badWindow');
if yEnd < yBegin || xEnd < xBegin
  error('buildgridcells:badWindow', ...
        'buildgridcells: window ends before it begins (y %d..%d, x %d..%d)', ...
        yBegin, yEnd, xBegin, xEnd);
end
margin = scalarInput(margin, 'MARGIN', 'badMargin');
if margin < 0
  error('buildgridcells:badMargin', ...
        'buildgridcells: MARGIN must not be negative, got %g', margin);
end

gridColumns = fix((xEnd - xBegin) / cellSize) + 1;
if xEnd > xBegin && yEnd > yBegin
  numCells = max(fix((yEnd - 1) / cellSize) * gridColumns + fix((xEnd - 1) / cellSize) + 1, 0);
else
  numCells = 0;
end
if numCells > 2^31 - 1
  error('buildgridcells:badWindow', ...
        'buildgridcells: the window needs %g cells, more than lineharvest can number', numCells);
end

[segIndex, px, py] = rasterPoints(segments2, [xBegin - margin, xEnd - 1 + margin], ...
                                  [yBegin - margin, yEnd - 1 + margin]);

% Widen each raster pixel to its square, clipped to the window, and turn the
% square into a range of grid columns and rows (fix is monotonic, so the
% columns of a pixel range form one integer range).
xl = max(px - margin, xBegin);
xh = min(px + margin, xEnd - 1);
yl = max(py - margin, yBegin);
yh = min(py + margin, yEnd - 1);
keep = xl <= xh & yl <= yh;
segIndex = segIndex(keep);
colLo = fix(xl(keep) / cellSize);
colHi = fix(xh(keep) / cellSize);
rowLo = fix(yl(keep) / cellSize);
rowHi = fix(yh(keep) / cellSize);

% Neighbouring raster pixels mostly give the same ranges; drop the repeats
% before expanding.
if ~isempty(segIndex)
  same = [false; segIndex(2:end) == segIndex(1:end-1) & colLo(2:end) == colLo(1:end-1) ...
          & colHi(2:end) == colHi(1:end-1) & rowLo(2:end) == rowLo(1:end-1) ...
          & rowHi(2:end) == rowHi(1:end-1)];
  segIndex = segIndex(~same);
  colLo = colLo(~same); colHi = colHi(~same);
  rowLo = rowLo(~same); rowHi = rowHi(~same);
end

numCols = colHi - colLo + 1;
perRange = numCols .* (rowHi - rowLo + 1);
owner = runOwner(perRange);
firstOfRun = cumsum(perRange) - perRange;
within = (0:numel(owner) - 1)' - firstOfRun(owner);
cols = colLo(owner) + mod(within, numCols(owner));
rows = rowLo(owner) + floor(within ./ numCols(owner));
cells = rows * gridColumns + cols;
segIndex = segIndex(owner);
valid = cells >= 0;

numSegments = size(segments2, 2);
keys = unique(cells(valid) * numSegments + (segIndex(valid) - 1));
entryCell = floor(keys / numSegments);
entrySegment = keys - entryCell * numSegments;
numEntries = numel(keys);

writeCells(gridFilePath, numCells, entryCell, entrySegment);
end

function value = scalarInput(value, name, kind)
% A real finite numeric scalar, truncated toward zero.
if ~isnumeric(value) || ~isreal(value) || ~isscalar(value) || ~isfinite(value) ...
    || abs(double(value)) >= 2^31
  error(['buildgridcells:' kind], ...
        'buildgridcells: %s must be a real finite numeric scalar', name);
end
value = fix(double(value));
end

function text = sizeText(value)
text = sprintf('%dx', size(value));
text = text(1:end-1);
end

function [segIndex, px, py] = rasterPoints(segments, xRange, yRange)
% Bresenham raster of every segment from its truncated first endpoint to its
% truncated second endpoint: one point per unit step along the major axis
% (x when |dx| >= |dy|); the minor coordinate steps when the error term is
% positive, and at exactly zero only when the major axis runs forward. After
% k steps the minor offset is therefore round(k * minor / major) with ties
% rounded up for a forward major axis and down for a backward one.
% Only the points whose major coordinate lies in xRange / yRange are
% produced; the others cannot reach the window.
x1 = fix(segments(1, :))'; y1 = fix(segments(2, :))';
x2 = fix(segments(3, :))'; y2 = fix(segments(4, :))';
dx = x2 - x1; dy = y2 - y1;
xMajor = abs(dx) >= abs(dy);

majorStart = y1; majorStart(xMajor) = x1(xMajor);
minorStart = x1; minorStart(xMajor) = y1(xMajor);
majorDelta = dy; majorDelta(xMajor) = dx(xMajor);
minorDelta = dx; minorDelta(xMajor) = dy(xMajor);
lo = repmat(yRange(1), size(x1)); lo(xMajor) = xRange(1);
hi = repmat(yRange(2), size(x1)); hi(xMajor) = xRange(2);

majorSign = sign(majorDelta);
majorLength = abs(majorDelta);
minorLength = abs(minorDelta);

% Steps k with lo <= majorStart + majorSign * k <= hi and 0 <= k <= majorLength.
forward = majorSign >= 0;
kMin = zeros(size(x1)); kMax = zeros(size(x1));
kMin(forward) = lo(forward) - majorStart(forward);
kMax(forward) = hi(forward) - majorStart(forward);
kMin(~forward) = majorStart(~forward) - hi(~forward);
kMax(~forward) = majorStart(~forward) - lo(~forward);
kMin = max(kMin, 0);
kMax = min(kMax, majorLength);
count = max(kMax - kMin + 1, 0);

owner = runOwner(count);
firstOfRun = cumsum(count) - count;
k = (0:numel(owner) - 1)' - firstOfRun(owner) + kMin(owner);

major = majorLength(owner);
twiceMajor = 2 * max(major, 1);
numerator = 2 * k .* minorLength(owner) + major;
backward = ~forward(owner);
numerator(backward) = numerator(backward) - 1;
minorSteps = floor(numerator ./ twiceMajor);
minorSteps(major == 0) = 0;

majorCoord = majorStart(owner) + majorSign(owner) .* k;
minorCoord = minorStart(owner) + sign(minorDelta(owner)) .* minorSteps;
onX = xMajor(owner);
px = minorCoord; px(onX) = majorCoord(onX);
py = majorCoord; py(onX) = minorCoord(onX);
segIndex = owner;
end

function writeCells(gridFilePath, numCells, entryCell, entrySegment)
% Each non-empty cell prints as its entries separated by spaces; the LF
% after a cell's last entry is repeated for the empty cells that follow it.
% The decimal digits are formed column by column: sprintf is several times
% slower on large grids.
text = '';
if ~isempty(entryCell)
  isLast = [entryCell(2:end) ~= entryCell(1:end-1); true];
  separator = repmat(' ', 1, numel(entryCell));
  separator(isLast) = char(10);
  lastCells = entryCell(isLast);
  newlines = diff([lastCells; numCells]);
  % Runs of LF: one after each non-empty cell plus one per empty cell
  % that follows it.
  repeat = ones(1, numel(entryCell));
  repeat(isLast) = newlines;
  text = [decimalColumns(entrySegment'); separator];
  keep = [text(1:end-1, :) ~= ' '; true(1, size(text, 2))];
  text = text(keep)';
  text = text(runOwner(runLengths(keep, repeat)));
  text = [repmat(char(10), 1, lastCells(1)), text(:)'];
elseif numCells > 0
  text = repmat(char(10), 1, numCells);
end
fid = fopen(gridFilePath, 'w');
if fid < 0
  error('buildgridcells:fileOpen', 'buildgridcells: cannot write "%s"', gridFilePath);
end
fwrite(fid, text, 'char');
fclose(fid);
end

function digits = decimalColumns(values)
% Right-aligned decimal digits of non-negative whole numbers, one column
% each, padded with leading spaces.
width = 1;
while any(values >= 10^width)
  width = width + 1;
end
powers = 10 .^ (width - 1:-1:0)';
digits = char(double('0') + mod(floor(values ./ powers), 10));
digits(values < powers & powers > 1) = ' ';
end

function counts = runLengths(keep, repeat)
% Repeat count of every kept character: 1, except the separator of column
% k, which is written repeat(k) times.
counts = ones(size(keep));
counts(end, :) = repeat;
counts = counts(keep);
end
