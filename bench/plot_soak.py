"""Draws bench/soak's samples (minutes,unique MB,PSS MB lines on standard
input) into a PNG, with the least-squares line of the unique memory after
minute 10 and its slope in MB/h. Runs under Debian's python3 with
python3-matplotlib:

    /usr/bin/python3 bench/plot_soak.py OUT.png TITLE < samples
"""

import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def main():
    out, title = sys.argv[1], sys.argv[2]
    rows = [tuple(float(v) for v in line.split(",")) for line in sys.stdin if line.strip()]
    minutes = [r[0] for r in rows]
    unique = [r[1] for r in rows]
    pss = [r[2] for r in rows]
    fig, ax = plt.subplots(figsize=(9, 4.5), dpi=100)
    ax.plot(minutes, unique, marker=".", label="unique memory of the process tree")
    ax.plot(minutes, pss, marker=".", alpha=0.6,
            label="summed PSS (moves with other WebKit processes on the machine)")
    steady = [(t, v) for t, v in zip(minutes, unique) if t >= 10]
    if len(steady) >= 2:
        n = len(steady)
        mx = sum(t for t, _ in steady) / n
        my = sum(v for _, v in steady) / n
        sxx = sum((t - mx) ** 2 for t, _ in steady)
        slope = sum((t - mx) * (v - my) for t, v in steady) / sxx if sxx else 0.0
        xs = [steady[0][0], steady[-1][0]]
        ax.plot(xs, [my + slope * (x - mx) for x in xs], "k--",
                label=f"fit after minute 10: {slope * 60:+.1f} MB/h")
    ax.set_xlabel("minutes")
    ax.set_ylabel("MB")
    ax.set_ylim(bottom=0)
    ax.set_title(title, fontsize=9)
    ax.grid(alpha=0.3)
    ax.legend(loc="lower right")
    fig.tight_layout()
    fig.savefig(out)


if __name__ == "__main__":
    main()
