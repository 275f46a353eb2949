// Vector wavefront: the rows of a band in groups of eight, one row per lane
// of the instruction-set layer's Vec (simd.h), so the same code runs with
// AVX-512 and with AVX2.
//
// At step c lane k updates node (r-k, c-k) of its group (top row r). Lane k
// reads (r-k, c-k-1) from its own previous step, (r-k+1, c-k) from lane k-1's
// previous step, and (r-k-1, c-k), (r-k, c-k+1) before anyone has written
// them: exactly what the row-by-row order gives. Every lane does the scalar
// operations of its node, in the same order, so it produces the same bits.
//
// Memory is read and written in blocks of eight steps: each lane's eight
// nodes of a block are eight consecutive columns of its row, so a block is
// loaded as eight row vectors and transposed (and stored the same way).
//
// Groups of a band run as a pipeline, each two blocks behind the one above
// it: a group reads its top neighbour row only after the group above has
// stored it, and its last lane's west row before the group below has
// written it. The blocks of the groups in flight are independent; away from
// the row ends their steps are interleaved, so that their chains of dependent
// operations overlap (blocks whose weights are all still use the constant).
// Each block's weights are computed just before the group's previous block
// runs (block_weights.h), in both sweeps.
//
// The band's last group reads the previous band's first row; the previous
// band publishes how far along that row it has stored, and the group waits
// for the columns it needs (with one thread the previous band is complete).
//
// The parts: wavefront_skew.h (groups, blocks, skewed loads and stores),
// wavefront_weights.h (block weights and their ring), wavefront_calm.h
// (calm bits and range flags), wavefront_update.h (a step's node updates),
// wavefront_schedule.h (the order of the blocks), and the two sweeps,
// wavefront_temperature.h and wavefront_vorticity.h.
#pragma once

// Each part after those it uses.
#include "solver/wavefront_skew.h"
#include "solver/wavefront_weights.h"
#include "solver/wavefront_calm.h"
#include "solver/wavefront_update.h"
#include "solver/wavefront_schedule.h"
#include "solver/wavefront_temperature.h"
#include "solver/wavefront_vorticity.h"
