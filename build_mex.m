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

  % Every build here compiles whole folders, as the CMake build does, so
  % that a new source file is compiled without a word here: the cores
  % lineharvest/ and coordsift/, the shared gateway layer gateway/ (its own
  % files, not its subfolders), and each core module's gateway
  % gateway/<module>/ beside its help file <module>.m.
  lhCore = sources(fullfile(root, 'lineharvest'));
  csCore = sources(fullfile(root, 'coordsift'));
  flags = {'CXXFLAGS=$CXXFLAGS -std=c++17 -ffp-contract=off'};
  if exist('OCTAVE_VERSION', 'builtin')
    % Octave's mex takes compiler flags from the environment instead.
    setenv('CXXFLAGS', [getenv('CXXFLAGS') ' -std=c++17 -ffp-contract=off']);
    flags = {};
  end

  % Every gateway checks its arguments with the shared layer in gateway/.
  gw = fullfile(root, 'gateway');
  gwArgs = {['-I' gw], ['-I' fullfile(root, 'include')]};
  gwShared = sources(gw);

  modules = {'lineharvest', lhCore, {'-lpthread'}; ...
             'coordsift', csCore, {}; ...
             'epipolarscreen', lhCore, {'-lpthread'}};
  for k = 1:size(modules, 1)
    [name, core, libs] = modules{k, :};
    gateway = sources(fullfile(gw, name));
    mex(flags{:}, gwArgs{:}, gateway{:}, core{:}, gwShared{:}, libs{:}, '-output', fullfile(outDir, name));
    copyfile(fullfile(gw, name, [name '.m']), outDir);
  end
  built = 'lineharvest, coordsift, epipolarscreen';

  lm = fullfile(root, 'matcher');
  if exist(fullfile(opencvInclude, 'opencv2', 'line_descriptor.hpp'), 'file')
    % The matcher and its front-end layer: every source in matcher/src
    % (not its folder output/, the commands' run into a folder).
    lmSources = sources(fullfile(lm, 'src'));
    lmLibs = {'-lopencv_line_descriptor', '-lopencv_calib3d', '-lopencv_features2d', '-lopencv_flann', ...
              '-lopencv_imgcodecs', '-lopencv_imgproc', '-lopencv_core', '-ljpeg'};
    if nargin >= 2 && ~isempty(opencvLibDir)
      lmLibs = [{['-L' opencvLibDir]}, lmLibs];
    end
    % OpenCV's failures as host errors (gateway/opencv/): only the
    % matcher's gateway uses OpenCV.
    gwOpenCv = fullfile(gw, 'opencv');
    lmGateway = sources(fullfile(lm, 'mex'));
    gwOpenCvSource = sources(gwOpenCv);
    mex(flags{:}, gwArgs{:}, ['-I' gwOpenCv], ['-I' opencvInclude], ['-I' fullfile(lm, 'include')], ...
        lmGateway{:}, lmSources{:}, lhCore{:}, gwShared{:}, gwOpenCvSource{:}, ...
        lmLibs{:}, '-lpthread', '-output', fullfile(outDir, 'linematch'));
    copyfile(fullfile(lm, 'mex', 'linematch.m'), outDir);
    built = [built ', linematch'];
  else
    warning('build_mex:noMatcher', 'OpenCV contrib line_descriptor not found in %s: linematch is not built', ...
            opencvInclude);
  end
  fprintf('Built %s in %s\n', built, outDir);
end

% Every .cpp file in FOLDER itself (not in its subfolders), by full path.
function files = sources(folder)
  listing = dir(fullfile(folder, '*.cpp'));
  files = cellfun(@(f) fullfile(folder, f), {listing.name}, 'UniformOutput', false);
end
