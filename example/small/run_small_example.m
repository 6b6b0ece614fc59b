## RUN_SMALL_EXAMPLE  A tiny synthetic scene: image 2 is image 1 shifted by (3, 2) pixels, two
## pair records carry that shift, and lineharvest adds the correspondences
## of the segments that are not seeds yet.
function C = run_small_example ()
here = fileparts (mfilename ("fullpath"));
s1 = dlmread (fullfile (here, "segments1.txt"));
s2 = dlmread (fullfile (here, "segments2.txt"));
records = dlmread (fullfile (here, "pair_records.txt"));
table = dlmread (fullfile (here, "pair_index_table.txt"));
grid_file = fullfile (here, "grid.txt");
## distance 2 px, angle 0.1 rad, overlap 0.5; 50 px cells over 200 x 200.
C = lineharvest (s1, s2, records, eye (3), columns (s1), columns (s2),
                 columns (records), 2, 0.1, 0.5, table, rows (table),
                 grid_file, 50, 0, 200, 0, 200);
printf ("image-1 segments: %d, image-2 segments: %d, pair records: %d\n",
        columns (s1), columns (s2), columns (records));
printf ("added correspondences (image-1 segment, image-2 segment, pair record):\n");
printf ("  %d %d %d\n", C);
printf ("written to %s\n", fullfile (pwd (), "Addcandidates.txt"));
end
