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

  lh = fullfile(root, 'lineharvest');
  lhSources = cellfun(@(f) fullfile(lh, f), ...
    {'gateway.cpp', 'geometry.cpp', 'segment_match.cpp', 'grid_file.cpp', ...
     'grid_index.cpp', 'cell_lookup.cpp', 'transfer.cpp', 'epipolar.cpp'}, 'UniformOutput', false);
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

  mex(flags{:}, gwArgs{:}, ['-I' lh], lhSources{:}, gwSource{:}, '-lpthread', ...
      '-output', fullfile(outDir, 'lineharvest'));
  copyfile(fullfile(lh, 'lineharvest.m'), outDir);

  cs = fullfile(root, 'coordsift');
  mex(flags{:}, gwArgs{:}, fullfile(cs, 'gateway.cpp'), fullfile(cs, 'point_grouping.cpp'), ...
      gwSource{:}, '-output', fullfile(outDir, 'coordsift'));
  copyfile(fullfile(cs, 'coordsift.m'), outDir);

  es = fullfile(root, 'epipolarscreen');
  mex(flags{:}, gwArgs{:}, ['-I' lh], fullfile(es, 'gateway.cpp'), fullfile(lh, 'epipolar.cpp'), ...
      fullfile(lh, 'geometry.cpp'), gwSource{:}, '-output', fullfile(outDir, 'epipolarscreen'));
  copyfile(fullfile(es, 'epipolarscreen.m'), outDir);
  built = 'lineharvest, coordsift, epipolarscreen';

  lm = fullfile(root, 'matcher');
  if exist(fullfile(opencvInclude, 'opencv2', 'line_descriptor.hpp'), 'file')
    % The library's sources without the commands and their run into a
    % folder, report, picture and output files.
    commandOnly = {'linematch_main.cpp', 'warp_image_main.cpp', 'folder_run.cpp', 'match_report.cpp', ...
                   'match_picture.cpp', 'output_files.cpp', 'output_set.cpp', 'upper_bound.cpp', 'image_warp.cpp', ...
                   'feature_cache.cpp'};
    listing = dir(fullfile(lm, 'src', '*.cpp'));
    names = setdiff({listing.name}, commandOnly);
    lmSources = cellfun(@(f) fullfile(lm, 'src', f), names, 'UniformOutput', false);
    lmLibs = {'-lopencv_line_descriptor', '-lopencv_calib3d', '-lopencv_features2d', '-lopencv_flann', ...
              '-lopencv_imgcodecs', '-lopencv_imgproc', '-lopencv_core', '-ljpeg'};
    if nargin >= 2 && ~isempty(opencvLibDir)
      lmLibs = [{['-L' opencvLibDir]}, lmLibs];
    end
    mex(flags{:}, gwArgs{:}, ['-I' opencvInclude], ['-I' lh], ['-I' fullfile(lm, 'include')], ...
        fullfile(lm, 'mex', 'linematch_gateway.cpp'), lmSources{:}, lhSources{2:end}, gwSource{:}, ...
        fullfile(gw, 'opencv_failure.cpp'), lmLibs{:}, '-lpthread', '-output', fullfile(outDir, 'linematch'));
    copyfile(fullfile(lm, 'mex', 'linematch.m'), outDir);
    built = [built ', linematch'];
  else
    warning('build_mex:noMatcher', 'OpenCV contrib line_descriptor not found in %s: linematch is not built', ...
            opencvInclude);
  end
  fprintf('Built %s in %s\n', built, outDir);
end
