%BUILD_MEX Compile lineharvest, coordsift and epipolarscreen with MATLAB's (or Octave's) mex.
%   BUILD_MEX compiles the MEX modules into the folder "mex" beside this
%   file and copies their help files there; add that folder to the path.
%   The three modules need a C++17 compiler and nothing else (no OpenCV).
%   BUILD_MEX(OPENCV_INCLUDE, OPENCV_LIBDIR), the form of earlier versions,
%   still works; the two folders are no longer used.
function build_mex(varargin)
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
  fprintf('Built lineharvest, coordsift and epipolarscreen in %s\n', outDir);
end
