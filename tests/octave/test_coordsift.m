## Tests of the built coordsift MEX module.

%!shared pts
%! pts = zeros (6, 3);
%! pts(3:4, :) = [1 3 1; 2 4 2];

%!test
%! [g, c, k] = coordsift (pts, 3);
%! assert (g, [0 1 0]);
%! assert (c, [1 2 3 4 0 0]);
%! assert (k, 2);
%! for out = {g, c, k}
%!   assert (class (out{1}), "double");
%!   assert (isreal (out{1}) && ! issparse (out{1}));
%! endfor

## A flat table that ends right after the last y is enough.
%!test
%! t = [0 0 1.5 2 0 0, 0 0 1.7 2 0 0, 0 0 1 2];
%! [g, c, k] = coordsift (t, 3);
%! assert (g, [0 1 1]);
%! assert (c, [1 2 1 2 0 0]);
%! assert (k, 2);

%!test
%! for t = {zeros(6, 0), [], zeros(6, 2)}
%!   for n = [0, -0]
%!     [g, c, k] = coordsift (t{1}, n);
%!     assert (size (g), [1 0]);
%!     assert (size (c), [1 0]);
%!     assert (k, 0);
%!   endfor
%! endfor

%!test
%! g1 = coordsift (pts, 3);
%! [g2, c2] = coordsift (pts, 3);
%! [g3, c3, k3] = coordsift (pts, 3);
%! assert (g1, g3);
%! assert (g2, g3);
%! assert (c2, c3);
%! coordsift (pts, 3);
%! assert (ans, g3);

## Every bad call is refused with its identifier and leaves Octave usable.
%!test
%! good = zeros (6, 2);
%! bad = {
%!   {},                          "coordsift:notEnoughInputs",   "";
%!   {good},                      "coordsift:notEnoughInputs",   "";
%!   {good, 2, 1},                "coordsift:tooManyInputs",     "";
%!   {single(good), 2},           "coordsift:pointTableNotDouble", "input 1";
%!   {complex(good), 2},          "coordsift:pointTableNotDouble", "input 1";
%!   {sparse(good), 2},           "coordsift:pointTableNotDouble", "input 1";
%!   {false(6, 2), 2},            "coordsift:pointTableNotDouble", "input 1";
%!   {repmat("a", 6, 2), 2},      "coordsift:pointTableNotDouble", "input 1";
%!   {{good}, 2},                 "coordsift:pointTableNotDouble", "input 1";
%!   {good, single(2)},           "coordsift:pointCountNotDouble", "input 2";
%!   {good, uint8(2)},            "coordsift:pointCountNotDouble", "input 2";
%!   {good, complex(2, 0)},       "coordsift:pointCountNotDouble", "input 2";
%!   {good, sparse(2)},           "coordsift:pointCountNotDouble", "input 2";
%!   {good, true},                "coordsift:pointCountNotDouble", "input 2";
%!   {good, "2"},                 "coordsift:pointCountNotDouble", "input 2";
%!   {good, []},                  "coordsift:badCount",          "empty";
%!   {good, [2 2]},               "coordsift:badScalar",         "scalar";
%!   {good, [2; 1]},              "coordsift:badScalar",         "input 2";
%!   {good, 1.5},                 "coordsift:badCount",          "whole";
%!   {good, NaN},                 "coordsift:badCount",          "whole";
%!   {good, Inf},                 "coordsift:badCount",          "whole";
%!   {good, -1},                  "coordsift:badCount",          "at least 0";
%!   {good, 3},                   "coordsift:badCount",          "at most 2";
%!   {good(1:9), 2},              "coordsift:badCount",          "at most 1";
%!   {zeros(1, 3), 1},            "coordsift:badCount",          "at most 0";
%!   {good, 1e15},                "coordsift:badCount",          "at most 2";
%! };
%! for i = 1:rows (bad)
%!   args = bad{i, 1};
%!   try
%!     coordsift (args{:});
%!     error ("case %d: no error", i);
%!   catch err
%!     assert (err.identifier, bad{i, 2}, sprintf ("case %d: %s", i, err.message));
%!     assert (isempty (bad{i, 3}) || ! isempty (strfind (err.message, bad{i, 3})),
%!             err.message);
%!   end_try_catch
%! endfor
%! assert (coordsift (good(1:10), 2), [0 0]);

## The grouping on a larger table: the group count equals the number of
## distinct whole-number points, and every point's pair is its own.
%!test
%! rand ("seed", 3);
%! xy = floor (rand (2, 20000) * 50) - 25;
%! t = zeros (6, 20000);
%! t(3:4, :) = xy;
%! [g, c, k] = coordsift (t, 20000);
%! assert (k, rows (unique (xy', "rows")));
%! assert (c(2 * g + 1), xy(1, :));
%! assert (c(2 * g + 2), xy(2, :));
%! [u, first] = unique (g, "first");
%! assert (u(:)', 0:k-1);
%! assert (issorted (first));

%!error id=coordsift:tooManyOutputs [a, b, c, d] = coordsift (zeros (6, 1), 1);
