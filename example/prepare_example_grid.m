function prepare_example_grid(dataDir)
%PREPARE_EXAMPLE_GRID Write the grid cell file of a prepared example.
%
%   prepare_example_grid(DATADIR) indexes the image-2 segments of the
%   example in DATADIR with buildgridcells, over the whole of image 2 and
%   with the cell size and margin recorded in prepare_info.txt, and writes
%   DATADIR/grid_cells.txt.
%
%   See also buildgridcells, loadlineexample.

ex = loadlineexample(dataDir);
info = ex.info;
[numCells, numEntries] = buildgridcells(ex.gridFile, ex.segments2, info.cell_size, ...
                                        0, info.image2_height, 0, info.image2_width, ...
                                        info.grid_margin);
fprintf('grid cells: %d cells of %d px, %d entries, margin %d px\n', numCells, ...
        info.cell_size, numEntries, info.grid_margin);
end
