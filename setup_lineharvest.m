%SETUP_LINEHARVEST Put the lineharvest MEX modules and m-code on the path.
%   SETUP_LINEHARVEST adds the folder "mex" beside this file (the MEX files
%   lineharvest, coordsift, epipolarscreen and, where OpenCV's contrib
%   modules are installed, linematch, with their help files) and the
%   m-code folder "matlab" (buildgridcells, truesegmentpairs, ...) to the
%   path. When the MEX files are missing it builds them first with
%   BUILD_MEX, which needs a C++17 compiler set up for MEX.
%
%   SETUP_LINEHARVEST(MEXDIR) takes the MEX files from MEXDIR instead, for
%   example the CMake build's 'build/mex'.
%
%   Call SAVEPATH afterwards to keep the paths for later sessions.
%
%   See also BUILD_MEX, LINEHARVEST, COORDSIFT, EPIPOLARSCREEN, LINEMATCH, BUILDGRIDCELLS.
function setup_lineharvest(mexDir)
  root = fileparts(mfilename('fullpath'));
  if nargin < 1 || isempty(mexDir)
    mexDir = fullfile(root, 'mex');
    if ~has_modules(mexDir)
      build_mex();
    end
  elseif ~has_modules(mexDir)
    error('setup_lineharvest:noMex', 'no MEX files of lineharvest in %s', mexDir);
  end
  addpath(fullfile(root, 'matlab'));
  addpath(mexDir);
end

function yes = has_modules(folder)
  yes = ~isempty(dir(fullfile(folder, ['lineharvest.' mexext()]))) || ...
        ~isempty(dir(fullfile(folder, 'lineharvest.mex')));
end
