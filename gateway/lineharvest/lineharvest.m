%LINEHARVEST Add line-segment correspondences through local homographies.
%   LINEHARVEST(S1, S2, PAIRS, K, N1, N2, P, DMAX, AMAX, OMIN, TABLE, T,
%   GRIDFILE, CELL, YBEGIN, YEND, XBEGIN, XEND) maps every image-1 segment
%   into image 2 with each homography that TABLE lists for it, tests the
%   image-2 segments registered in the grid cells that the mapped segment
%   crosses, and writes every new correspondence to "Addcandidates.txt" in
%   the current directory (the file is replaced on every call).
%
%   LINEHARVEST(..., OUTFILE) writes to OUTFILE instead; '' writes no file.
%   Calls that run side by side in one folder (parfor) each need their own
%   OUTFILE, or '' and the output argument.
%
%   C = LINEHARVEST(...) also returns the added correspondences as a 3xK
%   double matrix, one column [i; w; r] per line of the file, in file order.
%
%   All indices are 0-based. Inputs:
%     S1       4xN1 double, one segment [x1; y1; x2; y2] per column (image 1)
%     S2       4xN2 double, image-2 segments
%     PAIRS    14xP double, one pair record per column: rows 1 and 3 are a
%              matched (image-1, image-2) segment pair, rows 2 and 4 a second
%              one, row 5 is unused, rows 6-14 a 3x3 homography from image 1
%              to image 2 in row-major order
%     K        3x3 double, carried along but not used by the transfer
%     N1, N2, P  number of image-1 segments, image-2 segments, pair records
%     DMAX     largest distance of a mapped endpoint from the candidate's
%              line, in pixels
%     AMAX     largest angle between the directed segments, in radians
%     OMIN     least overlap, as a fraction of the shorter segment
%              (a threshold may be Inf, which switches its test off; NaN is
%              refused)
%     TABLE    TxN1 double, column i holding the pair records to try for
%              image-1 segment i
%     T        pairs per segment (rows of TABLE)
%     GRIDFILE char, path of the grid cell file (a regular file): line k lists the
%              space-separated image-2 segments registered in cell k, with
%              cell = fix(y/CELL) * (fix((XEND-XBEGIN)/CELL) + 1) + fix(x/CELL)
%              on integer pixel coordinates (the window origin is not
%              subtracted)
%     CELL     grid cell edge in pixels, at least 1
%     YBEGIN, YEND, XBEGIN, XEND  raster window: XBEGIN <= x < XEND,
%              YBEGIN <= y < YEND
%   Scalar inputs are truncated toward zero where an integer is needed.
%
%   "Addcandidates.txt" holds one line "i w r" per added correspondence:
%   image-1 segment i, image-2 segment w, and the pair record r whose
%   homography found it. Correspondences named by the pair records, and
%   pairs already written, are never written again.
%
%   Errors carry identifiers lineharvest:<kind>:
%     nargin, nargout      not 18 or 19 inputs; more than one output
%     notRealDouble        a numeric input is not a real, full double array
%     badGridFile          GRIDFILE is not a char row
%     badOutputFile        OUTFILE is not a char row
%     badCameraMatrix      K is not 3x3
%     emptyScalar          a scalar input is empty
%     badScalar            a scalar input has several elements, is NaN, or
%                          (for integers) is not finite or beyond int32
%     badCount             a count (N1, N2, P, T) is negative
%     badCellSize          CELL below 1
%     badGrid              the x window is too wide for CELL
%     tooSmall             an array holds fewer elements than its count says
%     badPairRecord        a pair record names a segment that does not exist
%     badPairIndex         a TABLE entry is not a pair record index
%     gridFile             GRIDFILE is missing, not a regular file (directory,
%                          FIFO, device), or cannot be read to its end
%     gridToken            a grid token is not a number ("invalid stoi
%                          argument") or beyond int32 ("stoi argument out of
%                          range"); the message names the line and token
%     gridEntry            a grid entry is not an image-2 segment index
%     outputFile           the output cannot be written, or is GRIDFILE itself
%     outOfMemory          memory ran out
%     internal             any other failure inside the computation
%   Everything but gridToken, gridEntry and the failures inside the
%   computation is refused before the output file is touched.
%
%   Example (identity homography, one segment that finds itself):
%     s = [0; 5; 9; 5];
%     rec = [0; 0; 0; 0; 0; 1; 0; 0; 0; 1; 0; 0; 0; 1];
%     fid = fopen('grid.txt', 'w'); fprintf(fid, '0 1\n'); fclose(fid);
%     C = lineharvest(s, [s s], rec, eye(3), 1, 2, 1, 1, 0.1, 0.5, 0, 1, ...
%                     'grid.txt', 10, 0, 10, 0, 10)   % gives [0; 1; 0]
%
%   See also COORDSIFT.
function varargout = lineharvest(varargin) %#ok<STOUT>
  error('lineharvest:notBuilt', ...
        'the lineharvest MEX file is not built or not on the path; run build_mex');
end
