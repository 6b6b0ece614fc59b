function picture = drawcorrespondences(pngFile, segments1, segments2, layers, background1, background2)
%DRAWCORRESPONDENCES Picture of segment correspondences between two images.
%
%   PICTURE = drawcorrespondences(PNGFILE, SEGMENTS1, SEGMENTS2, LAYERS, BG1, BG2)
%
%   Draws image 1 and image 2 side by side (image 1 on the left, a white
%   gap of 10 pixels between them) with every segment of SEGMENTS1 and
%   SEGMENTS2 (4xN, [x1; y1; x2; y2] per column, pixel coordinates with the
%   first pixel's centre at 0) as a thin grey line, and then the
%   correspondences of each layer on top, in layer order.
%
%   LAYERS is a struct array with the fields
%     pairs   2xM 0-based correspondences [i; w]: segment i of image 1 and
%             segment w of image 2 are drawn in the layer's colour
%     color   [r g b], 0..255
%     marked  true to ring the midpoints of both segments as well
%
%   BG1 and BG2 are the images (grey or RGB, any numeric class with values
%   0..255, or logical) or their sizes [rows cols]; an image is shown
%   dimmed, a size gives a dark background of that size.
%
%   PICTURE is the RGB uint8 result; it is also written to PNGFILE unless
%   PNGFILE is empty.
%
%   See also lineharvest, truesegmentpairs.

if nargin ~= 6
  error('drawcorrespondences:nargin', 'drawcorrespondences: expected 6 inputs');
end
[canvas1, size1] = backgroundOf(background1);
[canvas2, size2] = backgroundOf(background2);
gap = 10;
height = max(size1(1), size2(1));
picture = 255 * ones(height, size1(2) + gap + size2(2), 3);
picture(1:size1(1), 1:size1(2), :) = canvas1;
picture(1:size2(1), size1(2) + gap + (1:size2(2)), :) = canvas2;
offset2 = size1(2) + gap;

% Each image's drawing is clipped to its own panel.
panel1 = [1, size1(2)];
panel2 = offset2 + [1, size2(2)];
shifted2 = segments2 + repmat([offset2; 0; offset2; 0], 1, size(segments2, 2));
picture = paintSegments(picture, segments1, [150 150 150], 1, panel1);
picture = paintSegments(picture, shifted2, [150 150 150], 1, panel2);
for layer = layers(:)'
  chosen1 = segments1(:, layer.pairs(1, :) + 1);
  chosen2 = shifted2(:, layer.pairs(2, :) + 1);
  picture = paintSegments(picture, chosen1, layer.color, 2, panel1);
  picture = paintSegments(picture, chosen2, layer.color, 2, panel2);
  if layer.marked
    picture = paintRings(picture, chosen1, layer.color, 6, panel1);
    picture = paintRings(picture, chosen2, layer.color, 6, panel2);
  end
end
picture = uint8(picture);
if ~isempty(pngFile)
  imwrite(picture, pngFile);
end
end

function [canvas, imageSize] = backgroundOf(background)
if isvector(background) && numel(background) == 2
  imageSize = double(background(:)');
  canvas = 40 * ones(imageSize(1), imageSize(2), 3);
  return;
end
image = double(background);
if size(image, 3) == 3
  image = 0.299 * image(:, :, 1) + 0.587 * image(:, :, 2) + 0.114 * image(:, :, 3);
elseif islogical(background)
  image = 255 * image;
end
imageSize = [size(image, 1), size(image, 2)];
% Dimmed, so that coloured lines stand out on bright and dark parts alike.
canvas = repmat(30 + 0.45 * image, [1 1 3]);
end

function picture = paintSegments(picture, segments, color, thickness, panel)
% Samples every segment at half-pixel steps and paints a square brush of
% the given thickness at each sample.
if isempty(segments)
  return;
end
x1 = segments(1, :)'; y1 = segments(2, :)'; x2 = segments(3, :)'; y2 = segments(4, :)';
count = ceil(2 * hypot(x2 - x1, y2 - y1)) + 1;
owner = runOwner(count);
firstOfRun = cumsum(count) - count;
t = ((0:numel(owner) - 1)' - firstOfRun(owner)) ./ max(count(owner) - 1, 1);
x = x1(owner) + t .* (x2(owner) - x1(owner));
y = y1(owner) + t .* (y2(owner) - y1(owner));
picture = paintPoints(picture, x, y, color, thickness, panel);
end

function picture = paintRings(picture, segments, color, radius, panel)
centreX = (segments(1, :) + segments(3, :))' / 2;
centreY = (segments(2, :) + segments(4, :))' / 2;
angle = linspace(0, 2 * pi, 48);
x = centreX + radius * cos(angle);
y = centreY + radius * sin(angle);
picture = paintPoints(picture, x(:), y(:), color, 2, panel);
end

function picture = paintPoints(picture, x, y, color, thickness, panel)
% Paints the pixels of a square brush at each point, within the picture's
% rows and the panel's columns [first last].
[rows, cols, ~] = size(picture);
shift = 0:thickness - 1;
[dc, dr] = meshgrid(shift - floor((thickness - 1) / 2));
col = round(x) + 1 + dc(:)';
row = round(y) + 1 + dr(:)';
inside = col >= panel(1) & col <= panel(2) & row >= 1 & row <= rows;
index = unique(sub2ind([rows cols], row(inside), col(inside)));
plane = rows * cols;
for channel = 1:3
  picture(index + (channel - 1) * plane) = color(channel);
end
end

