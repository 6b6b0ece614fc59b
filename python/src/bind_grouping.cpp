// lineharvest.group_points and group_coordinates: coordsift's grouping of
// points by their coordinates.
#include "bindings.hpp"

#include "argument_error.hpp"
#include "array_arguments.hpp"

#include "coordsift/point_grouping.hpp"

#include <cstdint>
#include <vector>

namespace pybinding {

namespace {

constexpr std::size_t kRecord = coordsift::kRecordLength;

// Largest point count whose records fit in tableElements doubles: the last
// record only needs to reach its y.
std::size_t maxPointCount(std::size_t tableElements) {
    constexpr std::size_t kLastRecordLength = coordsift::kRecordY + 1;
    return tableElements < kLastRecordLength ? 0 : (tableElements - kLastRecordLength) / kRecord + 1;
}

// Runs the grouping on the points and packs the results as
// the Groups named tuple (index int64 (n,), coords int32 (g, 2), count).
py::object groupView(coordsift::PointView points) {
    const std::size_t count = points.count;
    std::vector<double> groupIndex(count);
    std::vector<double> groupCoords(2 * count);
    std::size_t groups = 0;
    {
        py::gil_scoped_release unlocked;
        groups = coordsift::groupPoints(points, groupIndex.data(), groupCoords.data());
    }
    py::array_t<std::int64_t> index(static_cast<py::ssize_t>(count));
    std::int64_t* indexOut = index.mutable_data();
    for (std::size_t k = 0; k < count; ++k) indexOut[k] = static_cast<std::int64_t>(groupIndex[k]);
    py::array_t<std::int32_t> coords({static_cast<py::ssize_t>(groups), py::ssize_t{2}});
    std::int32_t* coordsOut = coords.mutable_data();
    // Group coordinates are truncated int32 values stored as doubles: exact.
    for (std::size_t k = 0; k < 2 * groups; ++k) coordsOut[k] = static_cast<std::int32_t>(groupCoords[k]);
    py::object groupsType = py::module_::import("lineharvest._groups").attr("Groups");
    return groupsType(index, coords, groups);
}

py::object groupPoints(py::handle pointTable, py::handle count) {
    py::array asArray = py::array::ensure(pointTable);
    const bool flat = asArray && asArray.ndim() == 1;
    DoubleRows table;
    std::size_t elements = 0;
    if (flat) {
        // The MEX's own view: the table's memory as one run of doubles.
        table = doubleRows(asArray.attr("reshape")(py::make_tuple(1, -1)), "point_table", -1);
        elements = static_cast<std::size_t>(table.columns);
    } else {
        table = doubleRows(pointTable, "point_table", static_cast<int>(kRecord));
        elements = kRecord * static_cast<std::size_t>(table.rows);
    }
    const std::size_t limit = maxPointCount(elements);
    std::size_t n = limit;
    if (!count.is_none()) {
        const int requested = integerScalar(count, "count");
        if (requested < 0) refuseValue(ErrorKind::badCount, "count must be at least 0, got " + std::to_string(requested));
        if (static_cast<std::size_t>(requested) > limit)
            refuseValue(ErrorKind::badCount, "count is " + std::to_string(requested) + ", but point_table has " +
                                                 std::to_string(elements) + " elements, enough for at most " +
                                                 std::to_string(limit) + " points (6*(n-1)+4 elements are needed)");
        n = static_cast<std::size_t>(requested);
    }
    return groupView(coordsift::PointView::table(table.data, n));
}

py::object groupCoordinates(py::handle coordinates) {
    const DoubleRows xy = doubleRows(coordinates, "coordinates", 2);
    return groupView(coordsift::PointView::pairs(xy.data, static_cast<std::size_t>(xy.rows)));
}

}  // namespace

void bindGrouping(py::module_& m) {
    m.def("group_points", &groupPoints, py::arg("point_table"), py::arg("count") = py::none(), R"doc(group_points(point_table, count=None) -> Groups

Group points by their coordinates, as ``coordsift`` does.

``point_table`` is the table the MEX takes, one point per row of a
``(N, 6)`` array (x in column 2, y in column 3), or its memory as a flat
array (the last point may stop after its y). ``count`` (default: every
point the table holds) limits the points grouped.

A point opens group g (counted from 0 in table order) when no earlier
group took it; its coordinates, truncated toward zero to int32 (NaN or out
of range gives -2147483648), are the group's pair. A later point joins when
its own, untruncated x and y equal that pair, and the last group to claim
a point keeps it.

Returns ``Groups(index, coords, count)``: ``index`` int64 (n,) each point's
group, ``coords`` int32 (count, 2) each group's x, y, and ``count``.
The GIL is released while it runs.
)doc");
    m.def("group_coordinates", &groupCoordinates, py::arg("coordinates"), R"doc(group_coordinates(coordinates) -> Groups

:func:`group_points` on a plain ``(n, 2)`` array of x, y coordinates.
)doc");
}

}  // namespace pybinding
