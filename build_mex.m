%BUILD_MEX Compile lineharvest and coordsift with MATLAB's (or Octave's) mex.
%   BUILD_MEX compiles both MEX modules into the folder "mex" beside this
%   file and copies their help files there; add that folder to the path.
%   BUILD_MEX(OPENCV_INCLUDE, OPENCV_LIBDIR) names where the OpenCV core
%   headers (the folder holding opencv2/) and libopencv_core are installed;
%   the defaults are Debian's /usr/include/opencv4 and the system library
%   path.
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
  gw = fullfile(root, 'gateway');
  includes = {['-I' fullfile(root, 'include')], ['-I' lh], ['-I' gw]};
  lhSources = [cellfun(@(f) fullfile(lh, f), ...
    {'gateway.cpp', 'geometry.cpp', 'segment_match.cpp', 'grid_file.cpp', 'grid_index.cpp', ...
     'cell_lookup.cpp', 'transfer.cpp', 'epipolar.cpp'}, 'UniformOutput', false), ...
    {fullfile(gw, 'mex_args.cpp'), fullfile(gw, 'call_failure.cpp')}];
  libArgs = {'-lopencv_core'};
  if nargin >= 2 && ~isempty(opencvLibDir)
    libArgs = [{['-L' opencvLibDir]}, libArgs];
  end
  flags = {'CXXFLAGS=$CXXFLAGS -std=c++17 -ffp-contract=off'};
  if exist('OCTAVE_VERSION', 'builtin')
    % Octave's mex takes compiler flags from the environment instead.
    setenv('CXXFLAGS', [getenv('CXXFLAGS') ' -std=c++17 -ffp-contract=off']);
    flags = {};
  end

  mex(flags{:}, includes{:}, ['-I' opencvInclude], lhSources{:}, libArgs{:}, '-lpthread', ...
      '-output', fullfile(outDir, 'lineharvest'));
  copyfile(fullfile(lh, 'lineharvest.m'), outDir);

  cs = fullfile(root, 'coordsift');
  mex(flags{:}, ['-I' cs], fullfile(cs, 'gateway.cpp'), fullfile(cs, 'point_grouping.cpp'), ...
      '-output', fullfile(outDir, 'coordsift'));
  copyfile(fullfile(cs, 'coordsift.m'), outDir);
  fprintf('Built lineharvest and coordsift in %s\n', outDir);
end
