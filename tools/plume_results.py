"""Reading plume's result files (shared by plume-pictures and plume-vtk).

A working directory holds, for each Grashof number Gr it was run with, five
files Result/251_301_5_150/<F>/<F>_Pr_2700_Gr_<Gr>.txt, F in T, W, V, Vy, Vx.
Every line is "row<TAB>column<TAB>value" with row = i + 1 and column = j + 1;
the column is the outer (slow) index and the row the inner (fast) one. T, W
and V cover every node; Vy covers i = 0 .. NX-1, j = 1 .. NY and Vx covers
i = 1 .. NX, j = 0 .. NY-1. The grid size is taken from the files, so any
size is read.
"""

import glob
import json
import os
import re

import numpy as np

RESULT_DIR = os.path.join("Result", "251_301_5_150")
FIELD_FILES = ("T", "W", "V")
DIFFERENCE_FILES = ("Vy", "Vx")
_NAME = re.compile(r"^T_Pr_2700_Gr_(.+)\.txt$")


class ResultError(Exception):
    """A result file is missing or is not as plume writes it."""


def result_path(workdir, folder, gr_text):
    return os.path.join(workdir, RESULT_DIR, folder, "%s_Pr_2700_Gr_%s.txt" % (folder, gr_text))


def same_gr(name_text, wanted):
    if name_text == wanted:
        return True
    try:
        # "1e6" and "1e+06" name the same run; names carry six significant digits.
        return float("%g" % float(wanted)) == float(name_text)
    except ValueError:
        return False


def find_gr(workdir, wanted=None):
    """The Gr text of the run to read: the one matching `wanted`, else the
    newest temperature file's."""
    folder = os.path.join(workdir, RESULT_DIR, "T")
    found = []
    for path in glob.glob(os.path.join(glob.escape(folder), "T_Pr_2700_Gr_*.txt")):
        m = _NAME.match(os.path.basename(path))
        if m:
            found.append((os.path.getmtime(path), m.group(1)))
    if not found:
        raise ResultError("no result files in %s (is %s a plume working directory, and has plume run there?)"
                          % (folder, workdir))
    if wanted is None:
        return max(found)[1]
    for _, text in found:
        if same_gr(text, wanted):
            return text
    raise ResultError("no result files for Gr = %s in %s (found Gr = %s)"
                      % (wanted, folder, ", ".join(sorted(t for _, t in found))))


def _first_bad_line(path):
    with open(path, "rb") as f:
        for number, raw in enumerate(f, 1):
            parts = raw.rstrip(b"\r\n").split(b"\t")
            try:
                if len(parts) != 3:
                    raise ValueError
                if int(parts[0]) < 1 or int(parts[1]) < 1:
                    raise ValueError
                float(parts[2])
            except ValueError:
                shown = raw.rstrip(b"\r\n").decode("ascii", "replace")
                if len(shown) > 60:
                    shown = shown[:60] + "..."
                return "line %d is %r, expected row<TAB>column<TAB>value" % (number, shown)
    return None


def read_table(path):
    """Reads one result file. Returns (first_row, first_col, values) where
    values[i][j] belongs to row first_row + i and column first_col + j."""
    if not os.path.isfile(path):
        raise ResultError("missing result file %s" % path)
    try:
        data = np.loadtxt(path, delimiter="\t", comments=None, dtype=np.float64, ndmin=2)
    except (ValueError, IndexError) as e:
        raise ResultError("%s: malformed: %s" % (path, _first_bad_line(path) or e))
    if data.shape[0] == 0:
        raise ResultError("%s: malformed: the file is empty" % path)
    if data.shape[1] != 3:
        raise ResultError("%s: malformed: %d fields per line, expected row<TAB>column<TAB>value"
                          % (path, data.shape[1]))
    rows, cols, values = data[:, 0], data[:, 1], data[:, 2]
    for index in (rows, cols):
        if not (np.all(np.isfinite(index)) and np.all(index == np.floor(index)) and np.all(index >= 1)):
            raise ResultError("%s: malformed: %s" % (
                path, _first_bad_line(path) or "row and column numbers must be whole numbers from 1"))
    r0, c0 = rows[0], cols[0]
    n_rows = int(rows.max() - r0) + 1
    n_cols = int(cols.max() - c0) + 1
    expected_rows = np.tile(np.arange(n_rows) + r0, n_cols)
    expected_cols = np.repeat(np.arange(n_cols) + c0, n_rows)
    if (len(rows) != n_rows * n_cols or not np.array_equal(rows, expected_rows)
            or not np.array_equal(cols, expected_cols)):
        if len(rows) != n_rows * n_cols:
            detail = "%d lines, expected %d for %d rows x %d columns" % (
                len(rows), n_rows * n_cols, n_rows, n_cols)
        else:
            bad = int(np.argmax((rows != expected_rows) | (cols != expected_cols)))
            detail = "line %d has row %g, column %g; expected row %g, column %g" % (
                bad + 1, rows[bad], cols[bad], expected_rows[bad], expected_cols[bad])
        raise ResultError("%s: malformed: the lines do not cover the grid column by column (%s)"
                          % (path, detail))
    return int(r0), int(c0), values.reshape(n_cols, n_rows).T.copy()


class Results:
    """The fields of one run on the grid of nodes i = 0 .. nx, j = 0 .. ny.

    T, Omega, Psi: arrays [i][j]; Vy, Vx: arrays [i][j] on the same grid
    with NaN where the file has no line (None when the file is absent and
    differences were optional)."""

    def __init__(self, gr_text, T, Omega, Psi, Vy=None, Vx=None):
        self.gr_text = gr_text
        self.T, self.Omega, self.Psi, self.Vy, self.Vx = T, Omega, Psi, Vy, Vx
        self.nx = T.shape[0] - 1
        self.ny = T.shape[1] - 1
        self.h = 1.0 / self.nx

    def coordinates(self):
        """x[i] = i*h, y[j] = j*h."""
        return np.arange(self.nx + 1) * self.h, np.arange(self.ny + 1) * self.h


def _node_field(path):
    r0, c0, values = read_table(path)
    if (r0, c0) != (1, 1):
        raise ResultError("%s: malformed: the first line must be row 1, column 1" % path)
    return values


def _difference_field(path, shape):
    r0, c0, values = read_table(path)
    i0, j0 = r0 - 1, c0 - 1
    if i0 + values.shape[0] > shape[0] or j0 + values.shape[1] > shape[1]:
        raise ResultError("%s: malformed: rows %d..%d, columns %d..%d lie outside the %d x %d grid"
                          % (path, r0, r0 + values.shape[0] - 1, c0, c0 + values.shape[1] - 1,
                             shape[0], shape[1]))
    full = np.full(shape, np.nan)
    full[i0:i0 + values.shape[0], j0:j0 + values.shape[1]] = values
    return full


def load(workdir, gr_text, differences=False):
    """Reads the T, W and V files of one run, and the Vy and Vx files when
    `differences` is true and they exist."""
    fields = {}
    for folder in FIELD_FILES:
        fields[folder] = _node_field(result_path(workdir, folder, gr_text))
    shape = fields["T"].shape
    if shape[0] < 2 or shape[1] < 2:
        raise ResultError("%s: malformed: a grid needs at least 2 x 2 nodes"
                          % result_path(workdir, "T", gr_text))
    for folder in ("W", "V"):
        if fields[folder].shape != shape:
            raise ResultError("%s: malformed: %d x %d nodes, but the T file has %d x %d"
                              % (result_path(workdir, folder, gr_text), fields[folder].shape[0],
                                 fields[folder].shape[1], shape[0], shape[1]))
    extra = {}
    if differences:
        for folder in DIFFERENCE_FILES:
            path = result_path(workdir, folder, gr_text)
            if os.path.exists(path):
                extra[folder] = _difference_field(path, shape)
    return Results(gr_text, fields["T"], fields["W"], fields["V"], extra.get("Vy"), extra.get("Vx"))



def read_summary(workdir, gr_text):
    """The summary plume or plume-steady wrote beside the run's result files
    (Result/251_301_5_150/summary_Gr_<Gr>.json), or None when there is none
    or it cannot be read."""
    path = os.path.join(workdir, RESULT_DIR, "summary_Gr_%s.json" % gr_text)
    try:
        with open(path, encoding="ascii") as f:
            summary = json.load(f)
    except (OSError, ValueError):
        return None
    return summary if isinstance(summary, dict) else None


def read_case(workdir):
    """Pr and the wall temperatures from the folder's Result/parametrs, or None."""
    try:
        with open(os.path.join(workdir, "Result", "parametrs"), encoding="ascii", errors="replace") as f:
            values = [float(v) for v in f.read().split()[:6]]
    except (OSError, ValueError):
        return None
    if len(values) < 6:
        return None
    return dict(zip(("gr", "pr", "t_bottom", "t_top", "t_left", "t_right"), values))


def number_text(value):
    if isinstance(value, str):
        return value
    return "%g" % value if isinstance(value, (int, float)) else "?"


def pr_text(case):
    return "Pr = %s" % number_text(case.get("pr"))


def walls_text(case):
    """'walls: bottom 0, top 0, left 0, right 0' from a summary or case."""
    return "walls: " + ", ".join("%s %s" % (side, number_text(case.get("t_" + side)))
                                 for side in ("bottom", "top", "left", "right"))


def state_text(summary):
    """What the summary says the state is: a verified or unverified steady
    solution, a diverged run, or plume's state after N iterations."""
    if "newton_steps" in summary:
        if summary.get("verified") is True:
            return "steady solution, verified"
        if summary.get("sum_omega_sq") is None:
            return "steady solver did not converge: not a solution"
        return "steady solution, NOT verified"
    n = summary.get("iterations")
    n_text = "%d" % n if isinstance(n, int) else "?"
    if summary.get("sum_omega_sq") is None:
        return "diverged at iteration %s" % n_text
    if summary.get("verified") is True:
        return "converged after %s iterations" % n_text
    return "after %s iterations" % n_text


CHECKPOINT_HEADER = 120


def load_checkpoint(path):
    """The exact fields of a checkpoint (output/checkpoint.h): rows 0 .. axis
    of T, Omega and Psi as stored, the other half by the mirror rule (T even,
    Omega and Psi odd about the axis). Returns (Results, Gr, Pr)."""
    import struct
    import zlib
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise ResultError("%s: cannot be read: %s" % (path, e))
    if len(data) < CHECKPOINT_HEADER + 4 or data[:8] != b"PLUMECKP":
        raise ResultError("%s: not a checkpoint" % path)
    rows, cols, stored = struct.unpack_from("<III", data, 12)
    gr, pr = struct.unpack_from("<dd", data, 24)
    size = CHECKPOINT_HEADER + 3 * stored * cols * 8 + 4
    if len(data) != size or stored != (rows - 1) // 2 + 1:
        raise ResultError("%s: damaged: %d bytes, a %d x %d grid needs %d" % (path, len(data), rows, cols, size))
    if zlib.crc32(data[:-4]) != struct.unpack_from("<I", data, size - 4)[0]:
        raise ResultError("%s: damaged: the CRC does not match" % path)
    fields = np.frombuffer(data, dtype="<f8", count=3 * stored * cols, offset=CHECKPOINT_HEADER)
    fields = fields.reshape(3, stored, cols)
    full = []
    for k, sign in ((0, 1.0), (1, -1.0), (2, -1.0)):
        whole = np.empty((rows, cols))
        whole[:stored] = fields[k]
        whole[stored:] = sign * fields[k][stored - 2::-1]
        full.append(whole)
    return Results("%g" % gr, full[0], full[1], full[2]), gr, pr


def read_branch(path):
    """The rows of a branch.csv as a dict of columns (numbers, NaN where
    empty; `label` as text)."""
    import csv
    try:
        with open(path, newline="") as f:
            rows = list(csv.DictReader(f))
    except OSError as e:
        raise ResultError("%s: cannot be read: %s" % (path, e))
    if not rows or "gr" not in rows[0]:
        raise ResultError("%s: no branch rows" % path)
    columns = {}
    for name in rows[0]:
        if name == "label":
            columns[name] = [r[name] or "" for r in rows]
        else:
            columns[name] = np.array([float(r[name]) if r[name] not in ("", None) else np.nan
                                      for r in rows])
    return columns
