## run_mex_scenes (ROOT): for every folder ROOT/scene_* written by the
## Python tests, calls the lineharvest MEX file on its inputs (writing
## Addcandidates.txt there) and buildgridcells on its image-2 segments
## (writing grid_m.txt).
function run_mex_scenes (root)
  scenes = dir (fullfile (root, "scene_*"));
  for k = 1:numel (scenes)
    folder = fullfile (root, scenes(k).name);
    p = read_doubles (fullfile (folder, "params.f64"), [1, Inf]);
    s1 = read_doubles (fullfile (folder, "segments1.f64"), [4, p(1)]);
    s2 = read_doubles (fullfile (folder, "segments2.f64"), [4, p(2)]);
    recs = read_doubles (fullfile (folder, "pair_records.f64"), [14, p(3)]);
    table = read_doubles (fullfile (folder, "pair_index.f64"), [p(4), p(1)]);
    here = pwd ();
    cd (folder);
    unwind_protect
      lineharvest (s1, s2, recs, eye (3), p(1), p(2), p(3), p(5), p(6), p(7), table, p(4), ...
                   "grid.txt", p(8), p(9), p(10), p(11), p(12));
      buildgridcells ("grid_m.txt", s2, p(8), p(9), p(10), p(11), p(12), p(13));
    unwind_protect_cleanup
      cd (here);
    end_unwind_protect
  endfor
endfunction

function a = read_doubles (path, shape)
  if (all (isfinite (shape)) && prod (shape) == 0)
    a = zeros (shape);
    return;
  endif
  fid = fopen (path, "r");
  a = fread (fid, shape, "double", 0, "ieee-le");
  fclose (fid);
  a = reshape (a, shape(1), []);
endfunction
