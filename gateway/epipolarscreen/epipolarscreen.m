%EPIPOLARSCREEN Which image-2 segments lie in the epipolar band of each image-1 segment.
%   E = epipolarscreen(S1, S2, F, RATIO)
%   E = epipolarscreen(S1, S2, F, RATIO, PATH)
%
%   Inputs
%     S1     4-by-N1 real double, one image-1 segment [x1; y1; x2; y2] per
%            column (pixel coordinates); [] for none.
%     S2     4-by-N2 real double, the image-2 segments, likewise.
%     F      3-by-3 real double, as you write it: F * [x; y; 1] is the
%            epipolar line [a; b; c] in image 2 (a*u + b*v + c = 0) of the
%            image-1 point (x, y). For a fundamental matrix this is the usual
%            convention [u v 1] * F * [x; y; 1] = 0.
%     RATIO  real double scalar, not NaN: how far a segment may stick out of
%            the band (see below); a ratio must lie strictly below it. Inf
%            accepts every segment that reaches into the band.
%     PATH   optional char row: also write E as text to this file, replacing
%            it (the Ecandidates.txt format: one line per image-1 segment,
%            each entry "0 " or "1 ", lines ended by LF). '' or [] writes no
%            file.
%
%   Output
%     E      N1-by-N2 double of 0 and 1: E(i, w) is 1 when image-2 segment w
%            is an epipolar candidate of image-1 segment i.
%
%   The test of one pair. The epipolar lines of image-1 segment i's two
%   endpoints cut the line of image-2 segment w at two crossing points; the
%   band is the stretch between them, ends included.
%     both endpoints of w in the band          candidate
%     exactly one endpoint in the band         candidate when the distance
%                                              from the other endpoint to the
%                                              nearer crossing point, over w's
%                                              length, is below RATIO
%     neither, both beyond the first line's    never
%     same side
%     neither, w spans the band                candidate when w's length over
%                                              the band's length is below RATIO
%   Degenerate geometry (a zero-length segment, a segment parallel to an
%   epipolar line, NaN or Inf anywhere) gives no candidate unless both
%   endpoints are found in the band.
%
%   Errors (match the identifier; the message names the input)
%     epipolarscreen:nargin, epipolarscreen:nargout  not 4 or 5 inputs; more
%                                                    than one output
%     epipolarscreen:notRealDouble  S1, S2, F or RATIO not a real, full double
%     epipolarscreen:badSegments    S1 or S2 not 4-by-N (nor empty)
%     epipolarscreen:badMatrix      F not 3-by-3
%     epipolarscreen:emptyScalar, epipolarscreen:badScalar  RATIO empty, not
%                                   a scalar, or NaN
%     epipolarscreen:badPath        PATH not a char row
%     epipolarscreen:outputFile     PATH cannot be written
%     epipolarscreen:outOfMemory    the N1-by-N2 result does not fit in memory
%
%   Example
%     F = [0 0 1; 0 0 0; -1 -1 0];   % the point (x, y) gives the line u = x + y
%     S1 = [0; 0; 10; 0];            % band 0 <= u <= 10
%     S2 = [2 5 20; 5 0 0; 8 15 30; 5 0 0];
%     E = epipolarscreen(S1, S2, F, 0.6)
%     % E = [1 1 0]

function varargout = epipolarscreen(varargin)
  error('epipolarscreen:notBuilt', ...
        'epipolarscreen: the MEX file is not built; build it and put it beside this file');
end
