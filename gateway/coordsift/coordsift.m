%COORDSIFT Group points by their coordinates.
%   [groupIndex, groupCoords, groupCount] = coordsift(pointTable, pointCount)
%
%   Inputs
%     pointTable  real double matrix with one 6-row column (record) per point;
%                 row 3 is the point's x and row 4 its y. Rows 1, 2, 5 and 6
%                 are not read, nor are columns after pointCount.
%     pointCount  real double n, a whole number >= 0. pointTable must hold at
%                 least 6*(n-1)+4 elements when n > 0.
%
%   Outputs (each a real double row vector)
%     groupIndex  1-by-n: the group of every point, numbered from 0.
%     groupCoords 1-by-2n: entries 2g+1 and 2g+2 are the x and y of group g's
%                 first point, truncated toward zero to int32 (NaN or values
%                 outside the int32 range become -2147483648). Entries after
%                 2*groupCount are 0.
%     groupCount  scalar: the number of groups.
%   Only the requested outputs are returned; at most three may be requested.
%
%   Grouping rule
%     Points are visited in table order. A point that no group holds yet
%     opens the next group, whose pair is that point's truncated x and y.
%     Every LATER point whose own, untruncated x and y are exactly equal to
%     that pair is put in the group, even if an earlier group had it: the
%     last group to claim a point keeps it. For whole-number coordinates
%     within the int32 range this simply numbers the distinct points. With
%     fractional coordinates, a repeat of a fractional point opens a group
%     of its own (so a pair may appear twice in groupCoords), while a point
%     at the truncated whole numbers joins. NaN equals nothing; -0 equals 0.
%     The groups are found by hashing the integer pairs, with results
%     identical to that scan, in time linear in n and extra memory
%     proportional to the number of groups.
%
%   Errors (match the identifier; the message says which argument is wrong)
%     coordsift:notEnoughInputs, coordsift:tooManyInputs  not exactly 2 inputs
%     coordsift:tooManyOutputs     more than 3 outputs requested
%     coordsift:pointTableNotDouble  pointTable not a real, full double array
%     coordsift:pointCountNotDouble  pointCount not a real, full double
%     coordsift:badCount   pointCount empty, not a whole number, negative, or
%                          larger than pointTable can hold
%     coordsift:badScalar  pointCount holds more than one element
%     coordsift:outOfMemory  the working memory could not be allocated
%
%   Example
%     pts = zeros(6, 3);
%     pts(3:4, :) = [1 3 1; 2 4 2];        % points (1,2), (3,4), (1,2)
%     [g, c, k] = coordsift(pts, 3)
%     % g = [0 1 0], c = [1 2 3 4 0 0], k = 2

function varargout = coordsift(varargin)
  error('coordsift:notBuilt', ...
        'coordsift: the MEX file is not built; build it and put it beside this file');
end
