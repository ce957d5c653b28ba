"""Prints scandrv_bench's JSON results as a table: the median of each
benchmark's repetitions (or its single run), throughput of delivered data,
and the ratio to the memcpy baseline on lines of the same size
("line_bytes"); the counters a benchmark adds follow its row."""
import json
import sys

SKIP = {"line_bytes", "bytes_per_second"}


def rate(bps):
    return f"{bps / 1e9:7.2f} GB/s" if bps >= 1e8 else f"{bps / 1e6:7.1f} MB/s"


def duration(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return f"{ns / scale:8.3f} {unit}"
    return f"{ns:8.1f} ns"


def main(path, markdown=False):
    data = json.load(open(path))
    rows = {}
    order = []
    for b in data["benchmarks"]:
        if b.get("aggregate_name") not in (None, "median"):
            continue
        name = b.get("run_name", b["name"])
        if "error_occurred" in b and b["error_occurred"]:
            rows[name] = {"error": b.get("error_message", "error")}
            order.append(name)
            continue
        if name not in rows:
            order.append(name)
        rows[name] = b
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}
    memcpy = {}
    for name, b in rows.items():
        if name.startswith("memcpy/lines/") and "error" not in b:
            memcpy[int(b["line_bytes"])] = b["bytes_per_second"]
    if markdown:
        print("| benchmark | wall time | CPU time | throughput | x memcpy | counters |")
        print("|---|---:|---:|---:|---:|---|")
    else:
        print(f"{'benchmark':58} {'wall time':>11} {'cpu time':>11} {'throughput':>12} {'x memcpy':>9}  counters")
        print("(medians; throughput is delivered bytes per CPU second; x memcpy: beside memcpy on lines of the same size)")
    for name in order:
        b = rows[name]
        if "error" in b:
            print(f"| {name} | error: {b['error']} | | | | |" if markdown else f"{name:58} ERROR: {b['error']}")
            continue
        t = b["real_time"] * scale[b.get("time_unit", "ns")]
        c = b["cpu_time"] * scale[b.get("time_unit", "ns")]
        bps = b.get("bytes_per_second", 0)
        line = int(b.get("line_bytes", 0))
        ratio = f"{bps / memcpy[line]:9.3f}" if line in memcpy and bps else f"{'':9}"
        extra = "  ".join(
            f"{k}={v:.7g}" for k, v in b.items()
            if isinstance(v, (int, float)) and k not in SKIP and k not in
            ("real_time", "cpu_time", "iterations", "repetitions", "repetition_index", "threads",
             "family_index", "per_family_instance_index", "items_per_second"))
        if markdown:
            print(f"| {name} | {duration(t).strip()} | {duration(c).strip()} | {rate(bps).strip() if bps else ''} "
                  f"| {ratio.strip()} | {extra} |")
        else:
            print(f"{name:58} {duration(t)} {duration(c)} {rate(bps) if bps else '':>12} {ratio}  {extra}")


if __name__ == "__main__":
    main(sys.argv[1], "--markdown" in sys.argv[2:])
