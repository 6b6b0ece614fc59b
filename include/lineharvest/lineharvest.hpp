// The whole public API of the lineharvest core.
#pragma once

#include "lineharvest/epipolar.hpp"
#include "lineharvest/errors.hpp"
#include "lineharvest/grid_index.hpp"
#include "lineharvest/transfer.hpp"
#include "lineharvest/types.hpp"
