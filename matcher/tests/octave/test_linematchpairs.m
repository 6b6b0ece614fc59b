## linematchpairs in two Octave sessions at once on the same pairs and
## OUTDIR: every pair folder complete and holding the linematch command's
## files, no scratch folder left, each session's summary listing every
## pair. The pairs are warp_image's warps of small opencv-doc photographs.

%!test
%! d = getenv ("LINEMATCH_DATA_DIR");
%! if (isempty (d))
%!   d = "/usr/share/doc/opencv-doc/examples/data";
%! endif
%! warp = getenv ("LINEMATCH_WARP_IMAGE");
%! command = getenv ("LINEMATCH_COMMAND");
%! octave = getenv ("LINEMATCH_OCTAVE");
%! mcode = fullfile (fileparts (which ("test_linematchpairs")), "..", "..", "..", "matlab");
%! sources = {"box.png", 1; "box.png", 2; "blox.jpg", 1; "blox.jpg", 2};
%! work = tempname ();
%! mkdir (work);
%! list = fopen (fullfile (work, "pairs.csv"), "w");
%! fprintf (list, "name,image1,image2,homography\n");
%! for k = 1:rows (sources)
%!   image1 = fullfile (d, sources{k, 1});
%!   w = sprintf ("%s/w%d.png", work, k);
%!   h = sprintf ("%s/h%d.txt", work, k);
%!   assert (system (sprintf ("'%s' '%s' '%s' '%s' --seed %d", warp, image1, w, h, sources{k, 2})), 0);
%!   assert (system (sprintf ("'%s' '%s' '%s' '%s/command/p%d' --homography '%s' --quiet --no-picture", ...
%!                            command, image1, w, work, k, h)), 0);
%!   fprintf (list, "p%d,%s,w%d.png,h%d.txt\n", k, image1, k, k);
%! endfor
%! fclose (list);
%! session = @(k) sprintf (["('%s' --norc --quiet --no-history --eval \"addpath('%s'); addpath('%s'); " ...
%!                          "linematchpairs('%s/pairs.csv', '%s/out');\" > '%s/log%d' 2>&1; echo $? > '%s/status%d')"], ...
%!                         octave, fileparts (which ("linematch")), mcode, work, work, work, k, work, k);
%! system ([session(1) " & " session(2) " & wait"]);
%! for k = 1:2
%!   assert (str2double (fileread (sprintf ("%s/status%d", work, k))), 0, fileread (sprintf ("%s/log%d", work, k)));
%! endfor
%! for k = 1:rows (sources)
%!   for f = {"matches.txt", "confidence.txt", "segments1.txt", "segments2.txt"}
%!     assert (fileread (sprintf ("%s/out/p%d/%s", work, k, f{1})), ...
%!             fileread (sprintf ("%s/command/p%d/%s", work, k, f{1})));
%!   endfor
%! endfor
%! summary = strsplit (strtrim (fileread (fullfile (work, "out", "summary.csv"))), "\n");
%! assert (numel (summary), rows (sources) + 1);
%! assert (all (cellfun (@(line) ! isempty (strfind (line, ",ok,")), summary(2:end))));
%! assert (! exist (fullfile (work, "out", ".partial"), "dir"));
%! confirm_recursive_rmdir (false, "local");
%! rmdir (work, "s");
