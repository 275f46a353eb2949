#include "steady/nested_dissection.h"

namespace plume::steady {

namespace {

struct Orderer {
  int cols, dof;
  std::vector<int>& position;
  int next = 0;

  void node(int r, int c) {
    for (int f = 0; f < dof; ++f) position[(std::size_t(r) * cols + c) * dof + f] = next++;
  }

  // Orders rows [r0, r1) x columns [c0, c1).
  void rectangle(int r0, int r1, int c0, int c1) {
    int h = r1 - r0, w = c1 - c0;
    if (h <= 0 || w <= 0) return;
    if (h * w <= 16 || (h <= 2 && w <= 2)) {
      for (int r = r0; r < r1; ++r)
        for (int c = c0; c < c1; ++c) node(r, c);
      return;
    }
    if (h >= w) {
      int m = r0 + h / 2;
      rectangle(r0, m, c0, c1);
      rectangle(m + 1, r1, c0, c1);
      for (int c = c0; c < c1; ++c) node(m, c);
    } else {
      int m = c0 + w / 2;
      rectangle(r0, r1, c0, m);
      rectangle(r0, r1, m + 1, c1);
      for (int r = r0; r < r1; ++r) node(r, m);
    }
  }
};

}  // namespace

std::vector<int> nestedDissection(int rows, int cols, int dof) {
  std::vector<int> position(std::size_t(rows) * cols * dof, -1);
  Orderer o{cols, dof, position};
  o.rectangle(0, rows, 0, cols);
  return position;
}

}  // namespace plume::steady
