%BUILD_MEX Compile lineharvest, coordsift, epipolarscreen and linematch with MATLAB's (or Octave's) mex.
%   BUILD_MEX compiles the MEX modules into the folder "mex" beside this
%   file and copies their help files there; add that folder to the path.
%   lineharvest, coordsift and epipolarscreen need a C++17 compiler and
%   nothing else (no OpenCV). The line matcher linematch also needs OpenCV
%   (core, imgproc, imgcodecs, calib3d, features2d, flann and contrib's
%   line_descriptor) and libjpeg; where OpenCV's line_descriptor header is
%   missing it is left out with a warning.
%   BUILD_MEX(OPENCV_INCLUDE, OPENCV_LIBDIR) names where the OpenCV headers
%   (the folder holding opencv2/) and libraries are, for linematch; the
%   defaults are Debian's /usr/include/opencv4 and the system library path.
function build_mex(opencvInclude, opencvLibDir)
  if nargin < 1 || isempty(opencvInclude)
    opencvInclude = '/usr/include/opencv4';
  end
  root = fileparts(mfilename('fullpath'));
  outDir = fullfile(root, 'mex');
  if ~exist(outDir, 'dir')
    mkdir(outDir);
  end

  % In lineharvest/ and coordsift/, gateway.cpp is the MEX gateway and every
  % other source is the core (the rule of the CMake build); the folders are
  % read, so that a new core file is compiled without a word here.
  lh = fullfile(root, 'lineharvest');
  lhCore = coresources(lh);
  flags = {'CXXFLAGS=$CXXFLAGS -std=c++17 -ffp-contract=off'};
  if exist('OCTAVE_VERSION', 'builtin')
    % Octave's mex takes compiler flags from the environment instead.
    setenv('CXXFLAGS', [getenv('CXXFLAGS') ' -std=c++17 -ffp-contract=off']);
    flags = {};
  end

  % Every gateway checks its arguments with the shared layer in gateway/.
  gw = fullfile(root, 'gateway');
  gwArgs = {['-I' gw], ['-I' fullfile(root, 'include')]};
  gwSource = {fullfile(gw, 'mex_args.cpp'), fullfile(gw, 'call_failure.cpp')};

  mex(flags{:}, gwArgs{:}, ['-I' lh], fullfile(lh, 'gateway.cpp'), lhCore{:}, gwSource{:}, '-lpthread', ...
      '-output', fullfile(outDir, 'lineharvest'));
  copyfile(fullfile(lh, 'lineharvest.m'), outDir);

  cs = fullfile(root, 'coordsift');
  csCore = coresources(cs);
  mex(flags{:}, gwArgs{:}, fullfile(cs, 'gateway.cpp'), csCore{:}, ...
      gwSource{:}, '-output', fullfile(outDir, 'coordsift'));
  copyfile(fullfile(cs, 'coordsift.m'), outDir);

  es = fullfile(root, 'epipolarscreen');
  mex(flags{:}, gwArgs{:}, ['-I' lh], fullfile(es, 'gateway.cpp'), lhCore{:}, ...
      gwSource{:}, '-lpthread', '-output', fullfile(outDir, 'epipolarscreen'));
  copyfile(fullfile(es, 'epipolarscreen.m'), outDir);
  built = 'lineharvest, coordsift, epipolarscreen';

  lm = fullfile(root, 'matcher');
  if exist(fullfile(opencvInclude, 'opencv2', 'line_descriptor.hpp'), 'file')
    % The matcher and its front-end layer: every source in matcher/src
    % (not its folder output/, the commands' run into a folder).
    listing = dir(fullfile(lm, 'src', '*.cpp'));
    lmSources = cellfun(@(f) fullfile(lm, 'src', f), {listing.name}, 'UniformOutput', false);
    lmLibs = {'-lopencv_line_descriptor', '-lopencv_calib3d', '-lopencv_features2d', '-lopencv_flann', ...
              '-lopencv_imgcodecs', '-lopencv_imgproc', '-lopencv_core', '-ljpeg'};
    if nargin >= 2 && ~isempty(opencvLibDir)
      lmLibs = [{['-L' opencvLibDir]}, lmLibs];
    end
    mex(flags{:}, gwArgs{:}, ['-I' opencvInclude], ['-I' lh], ['-I' fullfile(lm, 'include')], ...
        fullfile(lm, 'mex', 'linematch_gateway.cpp'), lmSources{:}, lhCore{:}, gwSource{:}, ...
        fullfile(gw, 'opencv_failure.cpp'), lmLibs{:}, '-lpthread', '-output', fullfile(outDir, 'linematch'));
    copyfile(fullfile(lm, 'mex', 'linematch.m'), outDir);
    built = [built ', linematch'];
  else
    warning('build_mex:noMatcher', 'OpenCV contrib line_descriptor not found in %s: linematch is not built', ...
            opencvInclude);
  end
  fprintf('Built %s in %s\n', built, outDir);
end

% The sources of the core in FOLDER: every .cpp there but the gateway.
function sources = coresources(folder)
  listing = dir(fullfile(folder, '*.cpp'));
  names = setdiff({listing.name}, {'gateway.cpp'});
  sources = cellfun(@(f) fullfile(folder, f), names, 'UniformOutput', false);
end
