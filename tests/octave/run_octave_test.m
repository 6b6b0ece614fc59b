## Runs the %!test blocks of one test file against the built MEX modules.
## Usage: octave run_octave_test.m MEX_DIR TEST_FILE
1;
args = argv ();
mex_dir = args{1};
test_file = args{2};
addpath (mex_dir);
addpath (fileparts (test_file));
## The modules write their result files into the current directory.
work_dir = tempname ();
mkdir (work_dir);
cd (work_dir);
[~, test_name] = fileparts (test_file);
[passed, total] = test (test_name, "normal", stdout);
printf ("%s: %d of %d passed\n", test_name, passed, total);
confirm_recursive_rmdir (false);
cd (tempdir ());
rmdir (work_dir, "s");
exit (double (total == 0 || passed != total));
