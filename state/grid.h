// Grid, the field type and the constants derived from the grid step.
// Indices are (i, j) = (row, column): i runs along x, j along y (upwards).
#pragma once

namespace plume {

constexpr int NX = 1200;  // intervals along i; rows 0 .. NX
constexpr int NY = 920;   // intervals along j; columns 0 .. NY
constexpr int kRows = NX + 1;
constexpr int kCols = NY + 1;

// Each constant is the double result of its expression; the sweeps divide by
// exactly these values.
constexpr double h = 1.0 / 1200;
constexpr double twoH = 2 * h;
constexpr double hh = h * h;
constexpr double fourOverHH = 4 / (h * h);
constexpr double wallVorticityFactor = -2 / (h * h);

static_assert(h == 0x1.b4e81b4e81b4fp-11);
static_assert(twoH == 0x1.b4e81b4e81b4fp-10);
static_assert(hh == 0x1.74d3b7ba75829p-21);
static_assert(fourOverHH == 0x1.5f8ffffffffffp+22);
static_assert(wallVorticityFactor == -0x1.5f8ffffffffffp+21);

using Field = double[kRows][kCols];

constexpr int axisI = NX / 2;  // row of the symmetry axis (600)
constexpr int srcI = axisI;    // row of the heat-source node, on the axis
constexpr int srcJ = 20;       // column of the heat-source node
constexpr double hx2 = hh;     // divisor of the i-direction weights
constexpr double hy2 = hh;     // divisor of the j-direction weights

// Row that mirrors row i about the axis (row NX - i).
constexpr int mirrorRow(int i) { return NX - i; }

}  // namespace plume
