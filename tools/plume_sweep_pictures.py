"""Pictures of a Gr sweep (plume-pictures --sweep DIR): the Nusselt number and
the largest stream function against Gr, from DIR/sweep.csv as plume-steady
--sweep writes it (one row per point: gr, pr, the wall temperatures, status
verified / unverified / failed, and the point's summary values)."""

import csv
import os

import numpy as np
import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt
from matplotlib import ticker

import plume_results

COLUMNS = ("gr", "pr", "t_bottom", "t_top", "t_left", "t_right", "status", "nu", "psi_max")
STATUSES = ("verified", "unverified", "failed")


class SweepError(Exception):
    """sweep.csv is missing or not as plume-steady writes it."""


def _number(text):
    try:
        value = float(text)
    except (TypeError, ValueError):
        return np.nan
    return value


def read_sweep(folder):
    """The sweep's rows as a dict of arrays (numbers; NaN where empty or not a
    number) and a list of statuses."""
    path = os.path.join(folder, "sweep.csv")
    try:
        with open(path, newline="", encoding="ascii", errors="replace") as f:
            rows = list(csv.DictReader(f))
            header = rows and list(rows[0].keys())
    except OSError as e:
        raise SweepError("cannot read %s: %s" % (path, e.strerror or e))
    if not rows:
        raise SweepError("%s: no points (the sweep has not finished one yet?)" % path)
    missing = [c for c in COLUMNS if c not in header]
    if missing:
        raise SweepError("%s: malformed: no column %s" % (path, ", ".join(missing)))
    data = {c: np.array([_number(r[c]) for r in rows]) for c in COLUMNS if c != "status"}
    data["status"] = [(r["status"] or "").strip() for r in rows]
    bad = [s for s in data["status"] if s not in STATUSES]
    if bad:
        raise SweepError("%s: malformed: status %r is none of %s" % (path, bad[0], ", ".join(STATUSES)))
    if not np.all(np.isfinite(data["gr"])) or np.any(data["gr"] == 0):
        raise SweepError("%s: malformed: every row needs a non-zero gr" % path)
    return data


def _case(data):
    """Pr and the walls of the sweep, from its first row; 'several' where rows differ."""
    case = {}
    for key in ("pr", "t_bottom", "t_top", "t_left", "t_right"):
        values = data[key]
        case[key] = float(values[0]) if np.all(values == values[0]) else "several"
    return case


def _draw(data, key, label, title, path):
    gr = data["gr"]
    negative = bool(np.all(gr < 0))
    x = np.abs(gr)
    y = data[key]
    status = np.array(data["status"])
    fig = plt.figure(figsize=(7.5, 5.0), dpi=110)
    ax = fig.add_subplot(1, 1, 1)
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("-Gr" if negative else "Gr")
    ax.set_ylabel(label)
    drawable = np.isfinite(y) & (y > 0)
    ok = drawable & (status == "verified")
    order = np.argsort(x)
    line = order[ok[order]]
    ax.plot(x[line], y[line], "o-", color="tab:blue", label="verified")
    unverified = drawable & (status == "unverified")
    if np.any(unverified):
        ax.plot(x[unverified], y[unverified], "s", mfc="none", color="tab:orange", ms=8,
                label="unverified (self-check did not pass)")
    failed = status == "failed"
    for k, g in enumerate(x[failed]):
        ax.axvline(g, color="tab:red", ls="--", lw=1, label="failed (not reached)" if k == 0 else None)
    skipped = int(np.count_nonzero(~drawable & ~failed))
    if skipped:
        ax.text(0.01, 0.01, "%d point(s) without a positive value not shown" % skipped,
                transform=ax.transAxes, fontsize=8, color="tab:red")
    # Plain numbers on the value axis: a sweep's Nu often spans less than a decade.
    ax.yaxis.set_major_formatter(ticker.LogFormatter())
    ax.yaxis.set_minor_formatter(ticker.LogFormatter(labelOnlyBase=False, minor_thresholds=(1, 0.5)))
    ax.grid(True, which="both", alpha=0.3)
    ax.legend(loc="best", fontsize=8)
    ax.set_title(title)
    fig.tight_layout()
    fig.savefig(path, metadata={"Title": title})
    plt.close(fig)
    print(path)


def draw(folder, out):
    data = read_sweep(folder)
    case = _case(data)
    os.makedirs(out, exist_ok=True)
    about = "%s\n%s" % (plume_results.pr_text(case), plume_results.walls_text(case))
    _draw(data, "nu", "Nu = q_source / q_source(conduction)",
          "Nusselt number against Gr, " + about, os.path.join(out, "nusselt_vs_Gr.png"))
    _draw(data, "psi_max", "psi_max", "Largest stream function against Gr, " + about,
          os.path.join(out, "psi_max_vs_Gr.png"))
