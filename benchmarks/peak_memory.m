## Peak memory of one lineharvest call, in a process of its own:
##   octave-cli peak_memory.m MEX_DIR SCENE_DIR SCENE [MODULE]
## MODULE is the function to call (lineharvest, or lineharvest_old for a
## renamed older build). The baseline is the host's peak resident memory
## once Octave runs, the module is loaded and the scene's inputs are in
## memory; the call's extra memory is the rise of that peak during the call.
1;

function kib = status_kib (field)
  text = fileread ("/proc/self/status");
  token = regexp (text, [field ":\\s*(\\d+) kB"], "tokens", "once");
  kib = str2double (token{1});
endfunction

args = argv ();
mex_dir = args{1}; scene_dir = args{2}; name = args{3};
module = "lineharvest";
if (numel (args) > 3)
  module = args{4};
endif
here = fileparts (mfilename ("fullpath"));
addpath (mex_dir, here, fullfile (fileparts (here), "matlab"));
s = bench_scene (name, scene_dir);
work = tempname (); mkdir (work); cd (work);

## Load the module with a call that does no work.
feval (module, zeros (4, 0), s.s2, zeros (14, 0), eye (3), 0, s.n2, 0, 2, 0.1, 0.5,
       zeros (s.T, 0), s.T, s.grid, s.cell, 0, s.height, 0, s.width);
## Start the peak afresh where the kernel allows it, so that earlier
## transients of reading the scene do not hide the call's own peak.
fid = fopen ("/proc/self/clear_refs", "w");
if (fid >= 0)
  fputs (fid, "5");
  fclose (fid);
endif
before_peak = status_kib ("VmHWM");
before_rss = status_kib ("VmRSS");
started = tic ();
C = feval (module, s.s1, s.s2, s.records, eye (3), s.n1, s.n2, s.P, s.dmax, s.amax, s.omin,
           s.table, s.T, s.grid, s.cell, 0, s.height, 0, s.width);
elapsed = toc (started);
after_peak = status_kib ("VmHWM");
baseline = max (before_peak, before_rss);
printf ("%s on %s: %d added in %.2f s; host baseline %.0f MB, peak during the call %.0f MB, extra %.0f MB\n",
        module, name, columns (C), elapsed, baseline / 1024, after_peak / 1024,
        (after_peak - baseline) / 1024);
cd (here);
confirm_recursive_rmdir (false);
rmdir (work, "s");
