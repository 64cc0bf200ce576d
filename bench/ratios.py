#!/usr/bin/env python3
"""Reads the JSON output of ovbench (run with repetitions) and prints, per
reply kind, SendCommand's median over its baseline's, then the medians of
the start-up block and profile benchmarks. Given several reports (runs of
ovbench at different times), it prints the median of their figures.

usage: ratios.py OVBENCH.json... [--json OUT]
"""

import argparse
import json
import statistics
import sys
from pathlib import Path

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def medians(report):
    """run_name -> (median cpu time in ns, label)."""
    found = {}
    for row in report["benchmarks"]:
        if row.get("run_type") == "aggregate" and row.get("aggregate_name") != "median":
            continue
        # Without repetitions the single run stands for the median.
        if row.get("run_type") == "iteration" and any(
                other.get("run_type") == "aggregate" for other in report["benchmarks"]):
            continue
        name = row.get("run_name", row["name"])
        found[name] = (row["cpu_time"] * UNIT_NS[row.get("time_unit", "ns")], row.get("label", ""))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("reports", type=Path, nargs="+")
    parser.add_argument("--json", type=Path, help="also write the ratios here")
    arguments = parser.parse_args()
    runs = [medians(json.loads(report.read_text())) for report in arguments.reports]
    found = {name: (statistics.median(run[name][0] for run in runs), label)
             for name, (_, label) in runs[0].items() if all(name in run for run in runs)}

    rows = []
    for name, (time, label) in sorted(found.items()):
        if not name.startswith("BM_SendCommand"):
            continue
        suffix = name[len("BM_SendCommand"):]
        baseline = found.get("BM_Baseline" + suffix)
        with_number = found.get("BM_BaselineWithNumber" + suffix)
        rows.append({
            "kind": label or suffix.strip("/") or "formatted",
            "send_command_ns": time,
            "baseline_ns": baseline[0] if baseline else None,
            "ratio": time / baseline[0] if baseline else None,
            "baseline_with_number_ns": with_number[0] if with_number else None,
            "ratio_with_number": time / with_number[0] if with_number else None,
        })

    print(f"{'reply':16} {'SendCommand ns':>14} {'baseline ns':>12} {'ratio':>6} {'+number ns':>11} {'ratio':>6}")
    for row in rows:
        def cell(value, width, digits):
            return f"{value:{width}.{digits}f}" if value is not None else " " * width
        print(f"{row['kind']:16} {cell(row['send_command_ns'], 14, 1)} {cell(row['baseline_ns'], 12, 1)} "
              f"{cell(row['ratio'], 6, 2)} {cell(row['baseline_with_number_ns'], 11, 1)} "
              f"{cell(row['ratio_with_number'], 6, 2)}")
    print("medians of cpu time; ratio: SendCommand over the baseline; +number: the baseline that also reads the "
          "reply's number with atoi or atof")
    print()
    others = {name: time for name, (time, _) in found.items()
              if name.startswith("BM_BuildStartupBlock") or name.startswith("BM_Profile")}
    for name, time in sorted(others.items()):
        print(f"{name:36} {time / 1e3:12.2f} us")
    if arguments.json:
        arguments.json.write_text(json.dumps({"send_command": rows,
                                              "others_us": {k: v / 1e3 for k, v in sorted(others.items())}},
                                             indent=2) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
