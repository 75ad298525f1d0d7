#!/usr/bin/env python3
"""How each method's output looks on a simulated LCD panel, against the source
shown at the same size on an ideal full-colour screen.

The outputs are the real program's: pixloom-batch reduces every source with
every method, with and without --linear. Each output pixel is then drawn as
three stripes (R|G|B, a third of a pixel each, 6x6 samples a pixel) in
linear light and XYZ (D65, white Y = 100); the reference is the source at the
same physical size, each source pixel a full-colour square. Both are blurred
with the S-CIELAB opponent-colour filters for a viewing distance given in
pixels per degree, and compared by CIEDE2000 per sample.

Controls that must come out right, or the model is wrong: a flat field looks
the same on every panel as on the ideal screen; on a BGR panel and on a panel
turned 90 degrees (the same output, its stripes across) every LCD method that
keeps the picture in place loses to Lanczos3 in linear light; further away
every method's error falls. Where each method puts the picture is measured
and printed too: a method that moves it is wrong on every panel.

usage: lcd_quality.py PIXLOOM_BATCH [--chart FILE.png] [--markdown]
"""
import argparse
import os
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image, ImageDraw, ImageFont
from skimage import data as samples
from skimage.color import deltaE_ciede2000

METHODS = [("Nearest", "nearest"), ("Lanczos3", "lanczos3"), ("LCD(low)", "lcd-low"), ("LCD(mid)", "lcd-mid"),
           ("LCD(hi)", "lcd-hi"), ("LCD(ex)", "lcd-ex"), ("LCD(max)", "lcd-max")]
LCD = [label for label, _ in METHODS if label.startswith("LCD")]
PPD = [35, 38, 45, 54, 65, 80, 95]
REDUCTIONS = [3, 6]
OUT = 64              # output side in pixels; the source's is OUT times the reduction
SUB = 6               # panel samples per output pixel, each way
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"

# sRGB primaries to XYZ (D65), white Y = 100.
RGB_TO_XYZ = 100 * np.array([[0.4124, 0.3576, 0.1805], [0.2126, 0.7152, 0.0722], [0.0193, 0.1192, 0.9505]])
WHITE = RGB_TO_XYZ.sum(axis=1)
# S-CIELAB: XYZ to opponent channels, and each channel's filter as weighted
# Gaussians exp(-(x^2 + y^2) / s^2), s in degrees (Zhang and Wandell, 1996).
XYZ_TO_OPP = np.array([[0.279, 0.72, -0.107], [-0.449, 0.29, -0.077], [0.086, -0.59, 0.501]])
OPP_TO_XYZ = np.linalg.inv(XYZ_TO_OPP)
FILTERS = [([0.921, 0.105, -0.108], [0.0283, 0.133, 4.336]),
           ([0.531, 0.330], [0.0392, 0.494]),
           ([0.488, 0.371], [0.0536, 0.386])]


def light(codes):
    c = np.asarray(codes, dtype=np.float64) / 255
    return np.where(c <= 0.04045, c / 12.92, ((c + 0.055) / 1.055) ** 2.4)


# Sources -------------------------------------------------------------------

def text_source(k):
    """Lines of text 11 output pixels high (a desktop's small text), drawn at the source's scale."""
    side = OUT * k
    image = Image.new("RGB", (side, side), "white")
    draw = ImageDraw.Draw(image)
    font = ImageFont.truetype(FONT, 11 * k)
    words = "The quick brown fox jumps over the lazy dog 0123456789 pixloom reduces images".split()
    y, line = k, 0
    while y < side - 11 * k:
        draw.text((k, y), " ".join(words[line % 5:] + words[:line % 5]), fill=(0, 0, 0), font=font)
        y += 13 * k
        line += 1
    return np.asarray(image)


def chart_source(k):
    """A line chart: a grid, axes and four coloured series one or two output pixels wide."""
    side = OUT * k
    image = Image.new("RGB", (side, side), "white")
    draw = ImageDraw.Draw(image)
    for g in range(0, side, 8 * k):
        draw.line([(g, 0), (g, side)], fill=(200, 200, 200), width=max(1, k // 3))
        draw.line([(0, g), (side, g)], fill=(200, 200, 200), width=max(1, k // 3))
    draw.line([(2 * k, 0), (2 * k, side - 2 * k), (side, side - 2 * k)], fill=(0, 0, 0), width=k // 3 * 2)
    random = np.random.default_rng(25)
    for colour in [(31, 119, 180), (214, 39, 40), (44, 160, 44), (0, 0, 0)]:
        ys = side / 2 + np.cumsum(random.normal(0, side / 30, 40))
        xs = np.linspace(2 * k, side, 40)
        draw.line(list(zip(xs, np.clip(ys, 0, side - 1))), fill=colour, width=max(1, k // 3 * 2))
    return np.asarray(image)


def photo_sources(k):
    """Crops of scikit-image's sample photos at their own scale, from their middle."""
    side = OUT * k
    crops = []
    for name in ("astronaut", "coffee", "rocket"):
        picture = getattr(samples, name)()
        y, x = (picture.shape[0] - side) // 2, (picture.shape[1] - side) // 2
        crops.append((name, np.ascontiguousarray(picture[y:y + side, x:x + side, :3])))
    return crops


def sources():
    """(kind, name, reduction, pixels) for every source."""
    found = []
    for k in REDUCTIONS:
        found.append(("text", "text", k, text_source(k)))
        found.append(("charts", "chart", k, chart_source(k)))
        for name, pixels in photo_sources(k):
            found.append(("photos", name, k, pixels))
    return found


# The real program ----------------------------------------------------------

def reduce_all(batch, work, items):
    """outputs[(method, linear)][index] for every source, by pixloom-batch."""
    home = os.path.join(work, "home")
    os.makedirs(home, exist_ok=True)
    env = dict(os.environ, HOME=home)  # no saved settings of the user's
    outputs = {}
    for k in REDUCTIONS:
        folder = os.path.join(work, "x%d" % k)
        os.makedirs(folder, exist_ok=True)
        names = []
        for index, (_, name, reduction, pixels) in enumerate(items):
            if reduction != k:
                continue
            path = os.path.join(folder, "%02d-%s.png" % (index, name))
            Image.fromarray(pixels).save(path)
            names.append((index, path))
        side = OUT
        for label, method in METHODS:
            for linear in (False, True):
                out = os.path.join(folder, "%s%s" % (method, "-linear" if linear else ""))
                os.makedirs(out, exist_ok=True)
                command = [batch, "--size", "%dx%d" % (side, side), "--pixels", "--stretch", "--method", method,
                           "--linear" if linear else "--no-linear", "--type", "png", "--out", out, "--metadata",
                           "none"] + [path for _, path in names]
                subprocess.run(command, check=True, env=env, stdout=subprocess.DEVNULL)
                for index, path in names:
                    written = os.path.join(out, os.path.basename(path))
                    outputs.setdefault((label, linear), {})[index] = np.asarray(Image.open(written).convert("RGB"))
    return outputs


# The panel and the eye -----------------------------------------------------

def panel(output, layout):
    """XYZ samples of an output on a striped panel: 'rgb', 'bgr', or 'turned' (stripes across)."""
    h, w, _ = output.shape
    lin = light(output)
    samples_ = np.zeros((h * SUB, w * SUB, 3))
    per_stripe = SUB // 3
    for s in range(SUB):
        stripe = s // per_stripe
        channel = 2 - stripe if layout == "bgr" else stripe
        xyz = 3 * lin[:, :, channel:channel + 1] * RGB_TO_XYZ[:, channel]  # a third of the area, three times the light
        if layout == "turned":
            samples_[s::SUB, :, :] = np.repeat(xyz, SUB, axis=1)
        else:
            samples_[:, s::SUB, :] = np.repeat(xyz, SUB, axis=0)
    return samples_


def ideal(source, k):
    """The source at the output's physical size, each pixel a full-colour square."""
    xyz = light(source) @ RGB_TO_XYZ.T
    scale = SUB // k
    return np.repeat(np.repeat(xyz, scale, axis=0), scale, axis=1)


def mirrored(picture):
    """The picture followed by its mirror image, each way: repeated, it has no edges, so the eye's wide filters see
    no seam and the panel's stripes keep their order across the border."""
    picture = np.concatenate([picture, picture[::-1]], axis=0)
    return np.concatenate([picture, picture[:, ::-1]], axis=1)


class Eye:
    """S-CIELAB blur for each pixels-per-degree, by FFT of a mirrored picture's samples."""

    def __init__(self, shape):
        size = (2 * shape[0], 2 * shape[1])
        fy = np.fft.fftfreq(size[0])[:, None]
        fx = np.fft.rfftfreq(size[1])[None, :]
        f2 = fy ** 2 + fx ** 2  # cycles per sample, squared
        self.transfer = {}
        for ppd in PPD:
            per_degree = ppd * SUB
            channels = []
            for weights, spreads in FILTERS:
                h = sum(w * np.exp(-(np.pi * s * per_degree) ** 2 * f2) for w, s in zip(weights, spreads))
                channels.append(h / sum(weights))  # each filter sums to 1
            self.transfer[ppd] = channels

    def spectra(self, xyz):
        """xyz: the samples of a mirrored() picture."""
        opp = xyz @ XYZ_TO_OPP.T
        return [np.fft.rfft2(opp[:, :, c]) for c in range(3)], opp.shape[:2]

    def lab(self, spectra, ppd, h, w):
        planes, shape = spectra
        opp = np.stack([np.fft.irfft2(p * t, s=shape) for p, t in zip(planes, self.transfer[ppd])], axis=-1)
        return xyz_to_lab(opp[:h, :w] @ OPP_TO_XYZ.T)


def xyz_to_lab(xyz):
    t = xyz / WHITE
    e = (6 / 29) ** 3
    f = np.where(t > e, np.cbrt(np.maximum(t, e)), t / (3 * (6 / 29) ** 2) + 4 / 29)
    return np.stack([116 * f[..., 1] - 16, 500 * (f[..., 0] - f[..., 1]), 200 * (f[..., 1] - f[..., 2])], axis=-1)


def errors(lab, reference):
    """Mean and 95th percentile of CIEDE2000, and its lightness-only and colour-only parts."""
    total = deltaE_ciede2000(reference, lab)
    lightness = deltaE_ciede2000(reference, np.concatenate([lab[..., :1], reference[..., 1:]], axis=-1))
    colour = deltaE_ciede2000(reference, np.concatenate([reference[..., :1], lab[..., 1:]], axis=-1))
    return np.array([total.mean(), np.percentile(total, 95), lightness.mean(), colour.mean()])


# The measurement -----------------------------------------------------------

def measure(batch):
    items = sources()
    with tempfile.TemporaryDirectory() as work:
        outputs = reduce_all(batch, work, items)
    results = {}  # (layout, kind, k, method, linear, ppd) -> list of error rows, one per source
    for index, (kind, name, k, pixels) in enumerate(items):
        h = w = OUT * SUB
        eye = Eye((h, w))
        ref_spectra = eye.spectra(ideal(mirrored(pixels), k))
        ref_lab = {ppd: eye.lab(ref_spectra, ppd, h, w) for ppd in PPD}
        for layout in ("rgb", "bgr", "turned"):
            for label, _ in METHODS:
                for linear in (False, True):
                    if layout != "rgb" and label == "Nearest":
                        continue  # the controls compare the LCD methods with Lanczos3 at one distance
                    spectra = eye.spectra(panel(mirrored(outputs[(label, linear)][index]), layout))
                    for ppd in PPD if layout == "rgb" else [CONTROL_PPD]:
                        row = errors(eye.lab(spectra, ppd, h, w), ref_lab[ppd])
                        results.setdefault((layout, kind, k, label, linear, ppd), []).append(row)
        print("measured %s at 1/%d" % (name, k), file=sys.stderr)
    return {key: np.mean(rows, axis=0) for key, rows in results.items()}


KINDS = ["text", "charts", "photos"]
CONTROL_PPD = 38


def mean_over_reductions(results, layout, kind, label, linear, ppd, column=0):
    return np.mean([results[(layout, kind, k, label, linear, ppd)][column] for k in REDUCTIONS])


def name_of(label, linear):
    return label + (" linear" if linear else "")


def print_tables(results, markdown):
    variants = [(label, linear) for linear in (False, True) for label, _ in METHODS]
    shown = [35, 54, 95]
    if markdown:
        print("| content | method | " + " | ".join("%d ppd" % p for p in shown) + " | 95th pct (38) | lightness / colour (38) |")
        print("|---|---|" + "---:|" * (len(shown) + 2))
    else:
        print("Mean S-CIELAB CIEDE2000 on an RGB-striped panel (lower is better), mean of 1/3 and 1/6")
        print("%-8s %-18s" % ("content", "method") + "".join("%9s" % ("%d ppd" % p) for p in shown) +
              "  p95@38  L/C@38")
    for kind in KINDS:
        best = {p: min(mean_over_reductions(results, "rgb", kind, l, lin, p) for l, lin in variants) for p in shown}
        for label, linear in variants:
            cells = []
            for p in shown:
                v = mean_over_reductions(results, "rgb", kind, label, linear, p)
                cells.append(("**%.3f**" if markdown and v == best[p] else "%.3f") % v)
            p95 = mean_over_reductions(results, "rgb", kind, label, linear, 38, 1)
            lightness = mean_over_reductions(results, "rgb", kind, label, linear, 38, 2)
            colour = mean_over_reductions(results, "rgb", kind, label, linear, 38, 3)
            if markdown:
                print("| %s | %s | %s | %.2f | %.3f / %.3f |" % (kind, name_of(label, linear), " | ".join(cells), p95,
                                                             lightness, colour))
            else:
                print("%-8s %-18s" % (kind, name_of(label, linear)) + "".join("%9s" % c for c in cells) +
                      "  %6.2f  %.3f/%.3f" % (p95, lightness, colour))


def flat_field_error():
    """The largest ΔE between a flat field on each panel and on the ideal screen, at the nearest distance: the
    stripes must vanish in the eye's blur, and the border must not show."""
    h = w = OUT * SUB
    eye = Eye((h, w))
    worst = 0.0
    for colour in ((0, 0, 0), (128, 128, 128), (255, 255, 255), (200, 60, 20)):
        picture = np.tile(np.array(colour, dtype=np.uint8), (OUT, OUT, 1))
        reference = eye.lab(eye.spectra(ideal(mirrored(picture), 1)), PPD[0], h, w)
        for layout in ("rgb", "bgr", "turned"):
            seen = eye.lab(eye.spectra(panel(mirrored(picture), layout)), PPD[0], h, w)
            worst = max(worst, deltaE_ciede2000(reference, seen).max())
    return worst


LINE = OUT // 2  # the output column the placement line belongs in
MISPLACED = 1 / 6  # half a stripe, in output pixels


def placement(batch):
    """How far each method moves the picture, in output pixels, at each reduction: where the darkness of its
    green channel lies for a black line one output pixel wide, against where the line is (in light)."""
    items = []
    for k in REDUCTIONS:
        pixels = np.full((OUT * k, OUT * k, 3), 255, dtype=np.uint8)
        pixels[:, LINE * k:(LINE + 1) * k] = 0
        items.append(("line", "line", k, pixels))
    with tempfile.TemporaryDirectory() as work:
        outputs = reduce_all(batch, work, items)
    found = {}
    for index, (_, _, k, _) in enumerate(items):
        for label, _ in METHODS:
            dark = 1 - light(outputs[(label, True)][index][OUT // 2, :, 1])
            found[(label, k)] = (dark * (np.arange(OUT) + 0.5)).sum() / dark.sum() - (LINE + 0.5)
    return found


def print_placement(shifts):
    print("\nPlacement: how far each method moves the picture (output pixels, + is right); more than half a "
          "stripe (%.2f) is misplaced" % MISPLACED)
    for label, _ in METHODS:
        cells = ["1/%d %+.2f" % (k, shifts[(label, k)]) for k in REDUCTIONS]
        wrong = ["1/%d" % k for k in REDUCTIONS if abs(shifts[(label, k)]) > MISPLACED]
        print("  %-9s %s%s" % (label, "  ".join(cells), "  MISPLACED at " + ", ".join(wrong) if wrong else ""))


def check_stripe_order(results, shifts):
    """On a wrong panel every LCD method that keeps the picture in place must lose to Lanczos3 in light. Code
    values are shown but not judged: averaging them darkens thin strokes by more the wider a method averages, an
    advantage of the narrower LCD kernels that no panel takes away."""
    sound = True
    print("\nControls at %d ppd: on a wrong panel every LCD method in place loses to Lanczos3 averaging the same "
          "way (margin: its ΔE minus Lanczos3's; code values shown, not judged)" % CONTROL_PPD)
    for layout, title in (("bgr", "BGR panel"), ("turned", "panel turned 90 degrees")):
        for linear in (False, True):
            for kind in KINDS:
                at = lambda label, k: results[(layout, kind, k, label, linear, CONTROL_PPD)][0]
                pairs = [(l, k) for l in LCD for k in REDUCTIONS if abs(shifts[(l, k)]) <= MISPLACED]
                margins = [at(l, k) - at("Lanczos3", k) for l, k in pairs]
                ahead = ["%s 1/%d" % pair for pair, m in zip(pairs, margins) if m <= 0]
                if linear:
                    sound &= not ahead
                    verdict = "LCD loses" if not ahead else "WRONG (%s)" % ", ".join(ahead)
                else:
                    verdict = "not judged" + ("; ahead: " + ", ".join(ahead) if ahead else ", LCD loses")
                print("  %-24s %-6s %-7s margin %+.2f..%+.2f: %s" % (
                    title, "linear" if linear else "sRGB", kind, min(margins), max(margins), verdict))
    return sound


def check_distance(results):
    """Further away every method's error must fall at every step."""
    sound = True
    print("Distance: every method's mean ΔE falls from %d to %d ppd at every step; spread (max - min) of the "
          "methods at both ends" % (PPD[0], PPD[-1]))
    for linear in (False, True):
        for kind in KINDS:
            rising = []
            for label, _ in METHODS:
                values = [mean_over_reductions(results, "rgb", kind, label, linear, p) for p in PPD]
                if any(b >= a for a, b in zip(values, values[1:])):
                    rising.append(label)
            spread = []
            for ppd in (PPD[0], PPD[-1]):
                values = [mean_over_reductions(results, "rgb", kind, label, linear, ppd) for label, _ in METHODS]
                spread.append(max(values) - min(values))
            sound &= not rising
            print("  %-6s %-7s spread %.3f -> %.3f: %s" % ("linear" if linear else "sRGB", kind, spread[0], spread[1],
                                                          "falls" if not rising else "WRONG (%s)" % ", ".join(rising)))
    return sound


def check_controls(results, shifts):
    """Prints the controls; returns True when the model passes them."""
    flat = flat_field_error()
    print("\nFlat fields on every panel against the ideal screen at %d ppd: largest ΔE %.4f: %s" % (
        PPD[0], flat, "invisible" if flat < 0.05 else "WRONG"))
    print_placement(shifts)
    sound = check_stripe_order(results, shifts) & check_distance(results) & (flat < 0.05)
    print("Model %s." % ("passes its controls" if sound else "FAILS ITS CONTROLS"))
    return sound


def draw_chart(results, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    colours = {"Nearest": "#888888", "Lanczos3": "#000000", "LCD(low)": "#1f77b4", "LCD(mid)": "#2ca02c",
               "LCD(hi)": "#ff7f0e", "LCD(ex)": "#d62728", "LCD(max)": "#9467bd"}
    figure, axes = plt.subplots(1, 3, figsize=(13, 4.4), dpi=100)
    for axis, kind in zip(axes, KINDS):
        for linear in (False, True):
            for label, _ in METHODS:
                values = [mean_over_reductions(results, "rgb", kind, label, linear, p) for p in PPD]
                axis.plot(PPD, values, color=colours[label], linestyle="--" if linear else "-", linewidth=1.4,
                          marker="o" if not linear else None, markersize=3, label=name_of(label, linear))
        axis.set_title(kind)
        axis.set_xlabel("pixels per degree")
        axis.grid(True, color="#dddddd")
    axes[0].set_ylabel("mean S-CIELAB ΔE2000 (lower is better)")
    axes[2].legend(fontsize=7, ncol=2, loc="upper right")
    figure.suptitle("Reduced 3x and 6x, seen on a simulated RGB-striped LCD (dashed: linear light). "
                    "38 ppd: 24\" 1080p at 60 cm, 54: 14\" laptop at 50 cm, 95: phone")
    figure.tight_layout()
    figure.savefig(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("batch", help="the pixloom-batch program to measure")
    parser.add_argument("--chart", help="write the chart to this PNG file")
    parser.add_argument("--markdown", action="store_true", help="print the table as Markdown")
    arguments = parser.parse_args()
    results = measure(arguments.batch)
    shifts = placement(arguments.batch)
    print_tables(results, arguments.markdown)
    sound = check_controls(results, shifts)
    if arguments.chart:
        draw_chart(results, arguments.chart)
    return 0 if sound else 1


if __name__ == "__main__":
    sys.exit(main())
