function pairs = truesegmentpairs(segments1, segments2, H, maxDistance, minOverlap)
%TRUESEGMENTPAIRS Segment correspondences implied by a known homography.
%
%   PAIRS = truesegmentpairs(SEGMENTS1, SEGMENTS2, H, MAXDISTANCE, MINOVERLAP)
%
%   SEGMENTS1 (4xN1) and SEGMENTS2 (4xN2) hold one segment [x1; y1; x2; y2]
%   per column; H (3x3) maps image-1 pixels to image-2 pixels. Image-1
%   segment i and image-2 segment w correspond when the segment i, mapped
%   by H, satisfies all of:
%     - both mapped endpoints lie within MAXDISTANCE pixels of the line
%       through segment w;
%     - it runs the same way as segment w (positive dot product of the
%       directions; the line detector orients a segment by the side of its
%       darker region);
%     - the common part of segment w and the projection of the mapped
%       segment onto w's line covers at least MINOVERLAP times the length
%       of the shorter of the two (mapped segment, segment w).
%
%   PAIRS is 2xM, one correspondence [i; w] per column with 0-based
%   indices, sorted by i, then w. An image-1 segment may correspond to
%   several image-2 segments (a detector may cut one edge into pieces).
%
%   See also lineharvest, buildgridcells.

if nargin ~= 5
  error('truesegmentpairs:nargin', 'truesegmentpairs: expected 5 inputs');
end
if ~isnumeric(segments1) || size(segments1, 1) ~= 4 || ~isnumeric(segments2) ...
    || size(segments2, 1) ~= 4
  error('truesegmentpairs:badSegments', 'truesegmentpairs: segments must be 4xN matrices');
end
if ~isnumeric(H) || ~isequal(size(H), [3 3])
  error('truesegmentpairs:badHomography', 'truesegmentpairs: H must be 3x3');
end

n1 = size(segments1, 2);
n2 = size(segments2, 2);
p = H * [segments1([1 2], :); ones(1, n1)];
q = H * [segments1([3 4], :); ones(1, n1)];
mapped = [p(1, :) ./ p(3, :); p(2, :) ./ p(3, :); q(1, :) ./ q(3, :); q(2, :) ./ q(3, :)];
mappedLength = hypot(mapped(3, :) - mapped(1, :), mapped(4, :) - mapped(2, :))';

cx = segments2(3, :) - segments2(1, :);
cy = segments2(4, :) - segments2(2, :);
candidateLength = hypot(cx, cy);
ux = cx ./ candidateLength;
uy = cy ./ candidateLength;
bx = segments2(1, :);
by = segments2(2, :);

pairs = zeros(2, 0);
block = max(1, floor(4e6 / max(n2, 1)));
for first = 1:block:n1
  rows = first:min(first + block - 1, n1);
  m = mapped(:, rows);
  % Signed distances to the candidate lines and positions along them:
  % rows of the block against every candidate.
  d1 = ux .* (m(2, :)' - by) - uy .* (m(1, :)' - bx);
  d2 = ux .* (m(4, :)' - by) - uy .* (m(3, :)' - bx);
  t1 = ux .* (m(1, :)' - bx) + uy .* (m(2, :)' - by);
  t2 = ux .* (m(3, :)' - bx) + uy .* (m(4, :)' - by);
  common = min(t2, candidateLength) - max(t1, 0);
  shorter = min(mappedLength(rows), candidateLength);
  accept = abs(d1) <= maxDistance & abs(d2) <= maxDistance & t2 > t1 ...
           & common > 0 & common >= minOverlap * shorter ...
           & candidateLength > 0 & mappedLength(rows) > 0;
  [i, w] = find(accept);
  pairs = [pairs, [rows(i(:)) - 1; w(:)' - 1]]; %#ok<AGROW>
end
pairs = sortrows(pairs', [1 2])';
end
