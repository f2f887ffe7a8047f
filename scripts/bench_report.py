"""Pairs Google Benchmark results into 'NAME value=V floor=F ratio=R' lines."""
import json
import sys

results = {}
for path in sys.argv[1:]:
    with open(path) as f:
        for b in json.load(f).get("benchmarks", []):
            if b.get("run_type", "iteration") != "iteration":
                continue
            results[b["name"].split("/")[0]] = b

for name, b in results.items():
    if name.endswith("_floor"):
        continue
    if "value" in b and "floor" in b:
        value, floor = float(b["value"]), float(b["floor"])
    elif name + "_floor" in results:
        value, floor = float(b["real_time"]), float(results[name + "_floor"]["real_time"])
    else:
        continue
    ratio = value / floor if floor else float("nan")
    print(f"{name} value={value:.6g} floor={floor:.6g} ratio={ratio:.3f}")
