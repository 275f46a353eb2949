// The pure parts of a sweep in Gr: its points, where each is computed from,
// and the rows of Result/251_301_5_150/sweep.csv.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "output/summary_files.h"
#include "state/parameters.h"
#include "steady/arguments.h"

namespace plume::steady {

// The N values of Gr, evenly spaced in log|Gr|. The ends are FROM and TO as
// given; the others are rounded to the six significant digits the result
// files' names carry, so a point's Gr is the one its name says. Empty when
// two points would share a name (N too large for the range).
std::vector<double> sweepPoints(const SweepRange& r);

// The finished point nearest point `next` (the earlier one of two as near),
// or -1 when none is finished.
int nearestFinished(const std::vector<bool>& finished, int next);

// One row of sweep.csv. Quantities without a value (nu where the conduction
// state carries no heat, sums of a failed point) are left empty.
struct SweepRow {
  Case c;
  std::string status;  // verified, unverified or failed
  int newtonSteps = 0;
  double seconds = 0;
  // q_source, q_bottom, q_top, q_left, q_right, balance, nu, psi_max,
  // psi_min, u_max, v_max, sum_omega_sq
  std::optional<double> quantities[12];
  // stable, lambda_sym_re/im, lambda_anti_re/im: empty without --stability
  std::optional<StabilityFacts> stability;
};

inline constexpr const char* kSweepHeader =
    "gr,pr,t_bottom,t_top,t_left,t_right,status,newton_steps,seconds,q_source,q_bottom,q_top,"
    "q_left,q_right,balance,nu,psi_max,psi_min,u_max,v_max,sum_omega_sq,stable,lambda_sym_re,"
    "lambda_sym_im,lambda_anti_re,lambda_anti_im";

// The row as a line (numbers in the shortest form that reads back to the same
// double), and the case and status read back from one; nullopt for a line
// that is not a row.
std::string sweepCsvLine(const SweepRow& row);
struct RowKey {
  Case c;
  std::string status;
};
std::optional<RowKey> readRowKey(const std::string& line);

// True when the row's `stable` column holds a value (the stability was
// computed for it). Rows written before the column existed have none.
bool rowHasStability(const std::string& line);

// The row with empty cells appended up to the header's columns, for rows
// written before the stability columns existed.
std::string paddedRow(const std::string& line);

// True when the two cases are equal bit for bit.
bool sameCase(const Case& a, const Case& b);

}  // namespace plume::steady
