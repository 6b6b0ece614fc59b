## linematchpairs in two Octave sessions at once on the same pairs and
## OUTDIR: every pair folder complete and holding the linematch command's
## files, no scratch folder left, each session's summary listing every
## pair. The pairs are warp_image's warps of small opencv-doc photographs.

## The opencv-doc photographs, or LINEMATCH_DATA_DIR.
%!function d = datadir ()
%!  d = getenv ("LINEMATCH_DATA_DIR");
%!  if (isempty (d))
%!    d = "/usr/share/doc/opencv-doc/examples/data";
%!  endif
%!endfunction

%!test
%! d = datadir ();
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

## What a careless or hostile user puts in the way of pair "=p" (a name a
## spreadsheet would take for a formula, in a list with a byte-order mark):
## "refused" = a failed row naming the folder, which keeps every byte;
## "again" = matched again with the true figures. Then what is refused
## before any pair runs: a .partial linking out of OUTDIR, a FIFO as the
## list, names that are not one folder each.

%!function snapshot = tree (folder)
%!  [~, snapshot] = system (sprintf (["cd '%s' && find . ! -name summary.csv -printf '%%p %%y %%l\\n' | sort " ...
%!                                   "&& find . -type f ! -name summary.csv -exec sha256sum {} + | sort"], folder));
%!endfunction

%!function edit_record (out, good, pattern, replacement)
%!  system (sprintf ("cp -r '%s' '%s/=p'", good, out));
%!  text = fileread (fullfile (out, "=p", "pair.json"));
%!  f = fopen (fullfile (out, "=p", "pair.json"), "w");
%!  fputs (f, regexprep (text, pattern, replacement, "once"));
%!  fclose (f);
%!endfunction

%!function setup (what, out, good)
%!  switch (what)
%!    case "a folder of the user's"
%!      mkdir (fullfile (out, "=p"));
%!      system (sprintf ("echo n > '%s/=p/notes.txt'", out));
%!    case "a user's folder in a pair folder, named as an output"
%!      system (sprintf ("cp -r '%s' '%s/=p' && mkdir '%s/=p/matches.png' && echo t > '%s/=p/matches.png/thesis.tex'", ...
%!                       good, out, out, out));
%!    case "a link to a pair folder"
%!      system (sprintf ("cp -r '%s' '%s/elsewhere' && ln -s '%s/elsewhere' '%s/=p'", good, out, out, out));
%!    case "a FIFO as pair.json"
%!      mkdir (fullfile (out, "=p"));
%!      mkfifo (fullfile (out, "=p", "pair.json"), 600);
%!    case "a record without output checksums"
%!      edit_record (out, good, ',"checksums":\{[^}]*\}', "");
%!    case "a damaged output"
%!      system (sprintf ("cp -r '%s' '%s/=p' && echo '0 0' > '%s/=p/matches.txt'", good, out, out));
%!    case "seconds as text"
%!      edit_record (out, good, '"seconds":[-+.0-9eE]+', '"seconds":"abc"');
%!    case "a count beyond any int"
%!      edit_record (out, good, '"matches":\d+', '"matches":1e30');
%!    case "a formula as a count"
%!      edit_record (out, good, '"matches":\d+', '"matches":"=HYPERLINK(1)"');
%!    case "an extra figure"
%!      edit_record (out, good, '"result":\{', '"result":{"extra":1,');
%!    case "a killed run's scratch folder"
%!      [~, pid] = system ("echo $$");
%!      scratch = fullfile (out, ".partial", sprintf ("%s-%d-x", gethostname (), str2double (pid)));
%!      mkdir (scratch);
%!      system (sprintf ("echo '0 0' > '%s/.matches.txt.Ab12Cd'", scratch));
%!  endswitch
%!endfunction

%!test
%! d = datadir ();
%! addpath (fullfile (fileparts (which ("test_linematchpairs")), "..", "..", "..", "matlab"));
%! work = tempname ();
%! mkdir (work);
%! image = fullfile (d, "box.png");
%! list = fopen (fullfile (work, "pairs.csv"), "w");
%! fprintf (list, "%sname,image1,image2\n=p,%s,%s\n", char ([239 187 191]), image, image);
%! fclose (list);
%! good = fullfile (work, "good");
%! T = linematchpairs (fullfile (work, "pairs.csv"), good);
%! assert (T.status, "ok");
%! summary = strsplit (strtrim (fileread (fullfile (good, "summary.csv"))), "\n");
%! assert (strncmp (summary{2}, "'=p,", 4), summary{2});
%! cases = {"a folder of the user's", "refused"; "a user's folder in a pair folder, named as an output", "refused";
%!          "a link to a pair folder", "refused"; "a FIFO as pair.json", "refused";
%!          "a record without output checksums", "refused"; "a damaged output", "again";
%!          "seconds as text", "again"; "a count beyond any int", "again"; "a formula as a count", "again";
%!          "an extra figure", "again"; "a killed run's scratch folder", "again"};
%! for k = 1:rows (cases)
%!   out = fullfile (work, sprintf ("case%d", k));
%!   mkdir (out);
%!   setup (cases{k, 1}, out, fullfile (good, "=p"));
%!   before = tree (out);
%!   R = linematchpairs (fullfile (work, "pairs.csv"), out);
%!   if (strcmp (cases{k, 2}, "refused"))
%!     assert (R.status, "failed", cases{k, 1});
%!     assert (! isempty (strfind (R.error, "linematchpairs:outputFile")) && ! isempty (strfind (R.error, "in the way")), ...
%!             [cases{k, 1} ": " R.error]);
%!     assert (tree (out), before, cases{k, 1});
%!   else
%!     assert ({R.status, R.matches, R.segments1}, {"ok", T.matches, T.segments1}, cases{k, 1});
%!     assert (fileread (fullfile (out, "=p", "matches.txt")), fileread (fullfile (good, "=p", "matches.txt")));
%!     assert (! exist (fullfile (out, ".partial"), "file"), cases{k, 1});
%!   endif
%! endfor
%! out = fullfile (work, "linked");
%! outside = fullfile (work, "outside");
%! [~, pid] = system ("echo $$");
%! stale = fullfile (outside, sprintf ("%s-%d-x", gethostname (), str2double (pid)));
%! mkdir (stale);
%! system (sprintf ("echo mine > '%s/matches.txt' && mkdir '%s' && ln -s '%s' '%s/.partial'", stale, out, outside, out));
%! id = "";
%! try
%!   linematchpairs (fullfile (work, "pairs.csv"), out);
%! catch err
%!   id = err.identifier;
%! end_try_catch
%! assert (id, "linematchpairs:outputFile");
%! assert (fileread (fullfile (stale, "matches.txt")), "mine\n");
%! assert (! exist (fullfile (out, "=p"), "file"));
%! mkfifo (fullfile (work, "fifo.csv"), 600);
%! names = {{"a\0b"}, {'a\b'}, {"a\tb"}, {"Box", "box"}, {"SUMMARY.CSV"}, {".p"}, {repmat("x", 1, 201)}};
%! for k = 0:numel (names)
%!   id = "";
%!   try
%!     if (k == 0)
%!       linematchpairs (fullfile (work, "fifo.csv"), fullfile (work, "fifo_out"));
%!     else
%!       n = names{k};
%!       linematchpairs ([repmat({image, image, ""}, numel (n), 1), n(:)], fullfile (work, "names"));
%!     endif
%!   catch err
%!     id = err.identifier;
%!   end_try_catch
%!   assert (id, "linematchpairs:badPairs", sprintf ("case %d", k));
%! endfor
%! confirm_recursive_rmdir (false, "local");
%! rmdir (work, "s");

## An image collection: a photograph and two warp_image warps of it, every
## two once. Each image's features are computed once, into the file the
## Python collection names; a second call computes none and reuses the
## pairs; a pair from the features files is the MEX's pair alone; a
## damaged features file is computed again, never read.

%!test
%! d = datadir ();
%! addpath (fullfile (fileparts (which ("test_linematchpairs")), "..", "..", "..", "matlab"));
%! work = tempname ();
%! mkdir (fullfile (work, "images"));
%! photo = fullfile (d, "box.png");
%! copyfile (photo, fullfile (work, "images", "a.png"));
%! for k = 1:2
%!   assert (system (sprintf ("'%s' '%s' '%s/images/%c.png' '%s/h%d.txt' --seed %d", ...
%!                            getenv ("LINEMATCH_WARP_IMAGE"), photo, work, "a" + k, work, k, k)), 0);
%! endfor
%! out = fullfile (work, "out");
%! [T, F] = linematchpairs (fullfile (work, "images"), out, "Pairs", "exhaustive");
%! assert ({T.name; T.status}, {"a__b", "a__c", "b__c"; "ok", "ok", "ok"});
%! assert ([F.computed], true (1, 3));
%! key = hash ("sha256", linematch ("featurekey"))(1:16);
%! for k = 1:3
%!   assert (F(k).features, fullfile (out, ".features", [hash("sha256", fileread (F(k).image)) "-" key ".bin"]));
%! endfor
%! records = cellfun (@(n) fileread (fullfile (out, n, "pair.json")), {T.name}, "UniformOutput", false);
%! [T2, F2] = linematchpairs (fullfile (work, "images"), out, "Pairs", "exhaustive");
%! assert ([F2.computed], false (1, 3));
%! assert (cellfun (@(n) fileread (fullfile (out, n, "pair.json")), {T.name}, "UniformOutput", false), records);
%! assert ([T2.matches], [T.matches]);
%! [M, S1, S2, info] = linematch (F(1).image, F(2).image);
%! [Mc, S1c, S2c, infoc] = linematch (F(1).image, F(2).image, "Features1", F(1).features, "Features2", F(2).features);
%! assert ({Mc, S1c, S2c, infoc.confidence, infoc.status}, {M, S1, S2, info.confidence, info.status});
%! assert ([infoc.features.computed], false (1, 2));
%! assert (fileread (fullfile (out, "a__b", "matches.txt")), sprintf ("%d %d\n", M));
%! assert (fileread (fullfile (out, "a__b", "confidence.txt")), sprintf ("%.4f\n", info.confidence));
%! f = fopen (F(2).features, "w");
%! fputs (f, "damaged");
%! fclose (f);
%! [T3, F3] = linematchpairs (fullfile (work, "images"), out, "Pairs", "exhaustive");
%! assert ([F3.computed], [false, true, false]);
%! assert (! isempty (F3(2).refused));
%! assert ({T3.status}, {"ok", "ok", "ok"});
%! S = linematchpairs (fullfile (work, "images"), out, "Pairs", "sequential");
%! assert ({S.name}, {"a__b", "b__c"});
%! plans = {"sequential:0", "sequential:1.5", "sequentially", {photo, photo, "", "features.h5"}};
%! for k = 1:numel (plans)
%!   id = "";
%!   try
%!     linematchpairs (fullfile (work, "images"), out, "Pairs", plans{k});
%!   catch err
%!     id = err.identifier;
%!   end_try_catch
%!   assert (id, "linematchpairs:badPairs", sprintf ("plan %d", k));
%! endfor
%! confirm_recursive_rmdir (false, "local");
%! rmdir (work, "s");
