"""Pictures of a recording with matplotlib: the traces of every electrode where the electrode sits on the
array (plot_array), and a spike raster with the population rate and a map of each electrode's spike rate
(plot_raster).

    import kvd, kvd.plot
    with kvd.open("recording.kvd") as rec:
        kvd.plot.plot_array(rec, start=10.0, duration=1.0).savefig("array.png")
        kvd.plot.plot_raster(rec).savefig("raster.pdf")

The figures are made without pyplot, so they need no display and hold no global state: save them with
savefig (PNG, SVG, PDF ...) or show them in a notebook. plot_array reads only the frames of its window;
plot_raster reads only the spike records, without their cut-outs.
"""
import math
from dataclasses import dataclass
from pathlib import Path

import numpy as np
from matplotlib.collections import LineCollection
from matplotlib.figure import Figure
from matplotlib.lines import Line2D
from matplotlib.patches import Rectangle
from matplotlib.transforms import Affine2D, Bbox, TransformedBbox

from kvd._lib import KvdError

TRACE_COLOR = "#1f3b73"
SPIKE_COLOR = "#d62728"
TRIGGER_COLOR = "#7f7f7f"
# A trace keeps at most this many points: longer windows are drawn as the lowest and the highest value of
# each of MAX_POINTS / 2 stretches, which looks the same at any resolution a panel is shown at.
MAX_POINTS = 1000


def electrode_stream(rec):
    """The stream plot_array shows by default: the electrode stream, else the first analog stream of
    frames, else the first stream of frames."""
    frames = [s for s in rec.streams if s.content == "frames"]
    for chosen in ([s for s in frames if s.buffer_id.startswith("elec")], [s for s in frames if not s.digital],
                   frames):
        if chosen:
            return chosen[0]
    raise KvdError(f"{rec.path} holds no stream of sample frames", filename=rec.path)


def _spike_stream(rec, spikes):
    if spikes is False:
        return None
    if spikes is not None:
        return rec.stream(spikes)
    return next((s for s in rec.streams if s.content == "spikes"), None)


# ---- Where the panels go ------------------------------------------------------------------------------
@dataclass
class Placement:
    """The panels of a stream's channels: `channels` (indexes in the stream), their `names`, grid cells
    (`cols`, `rows`; row 0 at the top) on a grid of `n_cols` x `n_rows`, and whether the electrode layout
    placed them (`placed`; else they fill a plain grid in channel order)."""
    channels: np.ndarray
    names: list
    cols: np.ndarray
    rows: np.ndarray
    n_cols: int
    n_rows: int
    placed: bool


def _cells(values):
    """Grid cells of positions along one axis: multiples of the smallest spacing when that keeps them
    apart (so that gaps stay gaps), else their ranks."""
    distinct = np.unique(values)
    if distinct.size > 1:
        cells = np.rint((values - distinct[0]) / np.diff(distinct).min()).astype(int)
        if np.unique(cells).size == distinct.size and cells.max() < 4 * distinct.size:
            return cells
    return np.searchsorted(distinct, values)


def placement(rec, stream):
    """The panels of `stream`: one per channel whose layout entry is an electrode, at its electrode's
    position and named after it. Where the layout leaves one of those electrodes without a position or puts
    two at the same one, they fill a plain grid in channel order, named by their labels; so do all the
    channels where the layout marks none as an electrode (no layout, a digital stream)."""
    kinds = dict(zip(rec.layout["hwid"].tolist(), rec.layout["kind"].tolist()))
    channels = stream.channels
    electrodes = [c for c in channels if kinds.get(c.hwid) == 0]
    if electrodes and all(c.x is not None for c in electrodes):
        xy = np.array([(c.x, c.y) for c in electrodes])
        if len(np.unique(xy, axis=0)) == len(electrodes):
            cols, rows = _cells(xy[:, 0]), _cells(xy[:, 1])
            return Placement(np.array([c.index for c in electrodes]), [c.electrode for c in electrodes], cols, rows,
                             int(cols.max()) + 1, int(rows.max()) + 1, True)
    chosen = electrodes or channels
    n_cols = max(1, math.ceil(math.sqrt(len(chosen))))
    k = np.arange(len(chosen))
    return Placement(np.array([c.index for c in chosen]), [c.label for c in chosen], k % n_cols, k // n_cols, n_cols,
                     max(1, math.ceil(len(chosen) / n_cols)), False)


# ---- Reading what a window shows ----------------------------------------------------------------------
def _first_at(read_time, count, t):
    """The first of `count` events (in time order) whose time is at or after t, by bisection: each probe
    reads one record."""
    low, high = 0, count
    while low < high:
        middle = (low + high) // 2
        if read_time(middle) < t:
            low = middle + 1
        else:
            high = middle
    return low


def spikes_between(rec, stream, t0, t1):
    """The spikes of a spike stream from t0 up to t1 (seconds since the start): rec.spikes() of the
    records in that span only, found by bisection over the stream's spikes in file (time) order."""
    key, n = stream.index, stream.event_count
    probe = lambda i: rec.spikes(key, i, i + 1)["time"][0]  # noqa: E731
    first = _first_at(probe, n, t0)
    spikes = rec.spikes(key, first, _first_at(probe, n, t1))
    return spikes[(spikes["time"] >= t0) & (spikes["time"] < t1)]


def trigger_times(rec, t0=-np.inf, t1=np.inf):
    """The times of the trigger events of every trigger stream from t0 up to t1, in order."""
    times = [rec.triggers(s.index)["time"] for s in rec.streams if s.content == "triggers"]
    times = np.sort(np.concatenate(times)) if times else np.empty(0)
    return times[(times >= t0) & (times < t1)]


def frame_times(stream, first, count):
    """Times (s since the start) of frames [first, first + count) of a stream: at its rate, sweep by sweep
    in triggered recordings."""
    frames = np.arange(first, first + count)
    sweeps = stream.sweeps
    if sweeps.size == 0:
        return stream.t_start + frames / stream.sampling_rate
    k = np.clip(np.searchsorted(sweeps["first_frame"], frames, side="right") - 1, 0, None)
    return sweeps["start"][k] + (frames - sweeps["first_frame"][k]) / stream.sampling_rate


def _envelope(times, values, max_points):
    """At most about max_points points of every column that draw as the whole trace does: where there are
    more, each stretch of frames gives its lowest and its highest value, at their times and in time order.
    Frames that do not follow on from each other (between sweeps) are kept apart by a row of NaN. Returns
    (times as frames x columns, values)."""
    n, k = values.shape
    breaks = np.flatnonzero(np.diff(times) > 1.5 * np.median(np.diff(times))) + 1 if n > 2 else []
    pieces_t, pieces_v = [], []
    for piece_t, piece_v in zip(np.split(times, breaks), np.split(values, breaks)):
        m = piece_t.size
        width = max(1, math.ceil(2 * m / max(2, max_points * m // n)))
        if width > 1:
            whole = m - m % width
            blocks = piece_v[:whole].reshape(-1, width, k)
            # By groups of columns, which keeps numpy's working copies small.
            at = np.concatenate([np.sort(np.stack([part.argmin(axis=1), part.argmax(axis=1)], axis=1), axis=1)
                                 for part in np.array_split(blocks, math.ceil(k / 16), axis=2)], axis=2)
            rows = (np.arange(blocks.shape[0]) * width)[:, None, None] + at
            rows = np.concatenate([rows.reshape(-1, k), np.repeat(np.arange(whole, m)[:, None], k, axis=1)])
            piece_t, piece_v = piece_t[rows], np.take_along_axis(piece_v, rows, axis=0)
        else:
            piece_t = np.repeat(piece_t[:, None], k, axis=1)
        pieces_t += [piece_t, np.full((1, k), np.nan)]
        pieces_v += [piece_v, np.full((1, k), np.nan)]
    return np.concatenate(pieces_t[:-1]), np.concatenate(pieces_v[:-1])


def _nice(value):
    """The largest of 1, 2 and 5 times a power of ten not above `value` (> 0)."""
    power = 10.0 ** math.floor(math.log10(value))
    return max(m * power for m in (1, 2, 5) if m * power <= value * (1 + 1e-9))


def _quantity(value, units):
    """A length of the scale bar as text: volts and seconds with the prefix that suits them."""
    for factor, prefix in ((1.0, ""), (1e-3, "m"), (1e-6, "\u00b5"), (1e-9, "n")):
        if abs(value) >= factor * 0.999 or factor == 1e-9:
            return f"{value / factor:g} {prefix}{units}" if units else f"{value:g}"
    return f"{value:g} {units}"


def _count(n, thing):
    return f"{n} {thing}" + ("" if n == 1 else "s")


# ---- The array picture --------------------------------------------------------------------------------
@dataclass
class Panel:
    """The panel of one channel in plot_array's figure: the channel's index in the stream, the name shown,
    and its artists, whose data are times (s) and values (the stream's units): the frame, the trace, the
    spike marks and trigger lines (None when the window has none). `transform` takes those data to the
    display."""
    channel: int
    name: str
    transform: object
    frame: object
    trace: object
    spikes: object = None
    triggers: object = None

    def position(self):
        """The frame's [left, bottom, width, height] in figure coordinates (0 to 1)."""
        figure = self.frame.get_figure()
        corners = self.frame.get_transform().transform(self.frame.get_bbox().get_points())
        (x0, y0), (x1, y1) = figure.transFigure.inverted().transform(corners)
        return [x0, y0, x1 - x0, y1 - y0]


def plot_array(rec, start=0.0, duration=1.0, stream=None, spikes=None, size=None):
    """The traces of a window of every electrode, each in a small panel where its electrode sits on the
    array and named after it, all on one scale (a scale bar shows it; every trace less its median), with
    the window's spikes marked on their electrode's trace and trigger times as vertical lines.

    rec: a kvd.Recording. start, duration: the window, in seconds since the start of the recording.
    stream: the stream shown (index, buffer ID or name; default electrode_stream(rec)). spikes: the spike
    stream marked (default the first; False for none); a spike is marked on the channel with its hardware
    ID. size: (width, height) of the figure in inches (default from the grid). Returns a
    matplotlib.figure.Figure; fig.panels lists a kvd.plot.Panel per channel shown, in channel order.
    All panels are drawn in one axes (fig.array), which keeps a picture of hundreds of electrodes fast.
    """
    if not duration > 0 or not start >= 0:
        raise ValueError(f"a window starts at 0 s or later and lasts more than 0 s, not {start} s for {duration} s")
    stream = electrode_stream(rec) if stream is None else rec.stream(stream)
    if stream.content != "frames":
        raise KvdError(f"{stream.buffer_id} of {rec.path} holds no sample frames to plot", filename=rec.path)
    where = placement(rec, stream)
    t0, t1 = float(start), float(start) + float(duration)
    first = stream.frame_at(t0)
    values = stream.read(first, max(first, stream.frame_at(t1)), where.channels, scaled=True)
    if values.shape[0] == 0:
        raise KvdError(f"{rec.path} holds no frames of {stream.buffer_id} from {t0:g} s to {t1:g} s "
                       f"(the recording lasts {rec.duration:g} s)", filename=rec.path)
    times = frame_times(stream, first, values.shape[0])
    # Each trace less its median (of at most about 2,500 frames), in place: the window is the one large
    # array a picture holds.
    values -= np.median(values[::max(1, values.shape[0] // 2500)], axis=0)
    # One scale for all that holds every trace whole, unless a trace reaches beyond three times the
    # median trace's reach (an artefact, a broken electrode): such traces are cut.
    peaks = np.maximum(values.max(axis=0), -values.min(axis=0))
    limit = 1.05 * float(min(peaks.max(), 3 * np.median(peaks))) or 1.0

    # The grid, with the scale bar in the bottom right cell, or in a row of its own when that cell is taken.
    taken = set(zip(where.cols.tolist(), where.rows.tolist()))
    n_cols, n_rows = where.n_cols, where.n_rows
    bar_cell = (n_cols - 1, n_rows - 1)
    if bar_cell in taken:
        bar_cell, n_rows = (n_cols - 1, n_rows), n_rows + 1
    # Cells 4:3 and at most 1.1 inches wide, the figure at least 5 inches wide with the grid in its middle.
    if size is None:
        cell = min(1.1, 14.0 / n_cols, 13.0 / n_rows)
        size = (max(5.0, n_cols * cell + 0.4), n_rows * cell * 0.75 + 0.75)
    width, height = size
    cell = max(0.01, min((width - 0.4) / n_cols, (height - 0.75) / (0.75 * n_rows)))
    fig = Figure(figsize=size)
    grid_w, grid_h = n_cols * cell / width, n_rows * 0.75 * cell / height
    fig.array = fig.add_axes([(1 - grid_w) / 2, 1 - 0.5 / height - grid_h, grid_w, grid_h])
    fig.array.set_axis_off()
    fig.array.set_xlim(0, n_cols)
    fig.array.set_ylim(n_rows, 0)  # row 0 on top

    def cell_transform(col, row):
        """Times and values of a panel into its cell of the grid (whose units are cells)."""
        return (Affine2D().translate(-t0, 0).scale(0.94 / (t1 - t0), -0.46 / limit)
                .translate(col + 0.03, row + 0.5) + fig.array.transData)

    drawn_t, drawn_v = _envelope(times, values, MAX_POINTS)
    triggers = trigger_times(rec, t0, t1)
    fig.panels = []
    for j, name in enumerate(where.names):
        transform = cell_transform(where.cols[j], where.rows[j])
        frame = Rectangle((t0, -limit), t1 - t0, 2 * limit, transform=transform, facecolor="none",
                          edgecolor="#c8c8c8", linewidth=0.5)
        clip = TransformedBbox(Bbox([[t0, -limit], [t1, limit]]), transform)
        panel = Panel(int(where.channels[j]), name, transform, frame,
                      Line2D(drawn_t[:, j], drawn_v[:, j], color=TRACE_COLOR, linewidth=0.5, transform=transform))
        fig.array.add_patch(frame)
        if triggers.size:
            panel.triggers = LineCollection([[(t, -limit), (t, limit)] for t in triggers], colors=TRIGGER_COLOR,
                                            linewidths=0.6, linestyles="dashed", transform=transform)
            fig.array.add_collection(panel.triggers, autolim=False)
        panel.trace.set_clip_box(clip)
        fig.array.add_line(panel.trace)
        fig.array.text(t0 + 0.02 * (t1 - t0), 0.95 * limit, name, transform=transform, fontsize=6, va="top",
                       ha="left", color="#333333")
        fig.panels.append(panel)

    # Spikes: marked on the drawn trace where it departs furthest from the median of the cut-out (with
    # long windows, where no drawn point lies in the cut-out, at the drawn point nearest to it).
    marked = 0
    spike_stream = _spike_stream(rec, spikes)
    if spike_stream is not None:
        found = spikes_between(rec, spike_stream, t0, t1)
        cutout = rec.spike_waveforms(spike_stream.index, 0, 0).shape[1] / spike_stream.sampling_rate
        panel_of = {stream.channels[c].hwid: j for j, c in enumerate(where.channels)}
        marks = {}
        for t, hwid in zip(found["time"], found["hwid"]):
            j = panel_of.get(int(hwid))
            a, b = np.searchsorted(times, [t, t + cutout], side="right")
            if j is None or a == 0 and b == 0:
                continue
            x, y = drawn_t[:, j], drawn_v[:, j]
            inside = np.flatnonzero((x >= t) & (x <= t + cutout))
            if inside.size:
                k = inside[np.argmax(np.abs(y[inside] - np.median(values[max(a - 1, 0):b, j])))]
            else:
                k = np.nanargmin(np.abs(x - (t + cutout / 2)))
            marks.setdefault(j, []).append((x[k], y[k]))
        for j, points in marks.items():
            x, y = np.array(points).T
            panel = fig.panels[j]
            panel.spikes = Line2D(x, y, linestyle="none", marker="v", markersize=3, color=SPIKE_COLOR,
                                  markeredgewidth=0, transform=panel.transform)
            panel.spikes.set_clip_box(panel.trace.get_clip_box())
            fig.array.add_line(panel.spikes)
            marked += len(points)

    # The scale bar: as long as a round number of units and of seconds, drawn on the panels' scale.
    bar = cell_transform(*bar_cell)
    volts, seconds = _nice(limit), _nice(duration / 4)
    x0, y0 = t0 + 0.1 * duration, -0.8 * limit
    fig.array.add_line(Line2D([x0, x0, x0 + seconds], [y0 + volts, y0, y0], color="black", linewidth=1.2,
                              solid_capstyle="butt", transform=bar))
    fig.array.text(x0 - 0.04 * duration, y0 + volts / 2, _quantity(volts, stream.units), fontsize=6, rotation=90,
                   ha="right", va="center", transform=bar)
    fig.array.text(x0 + seconds / 2, y0 - 0.06 * limit, _quantity(seconds, "s"), fontsize=6, ha="center", va="top",
                   transform=bar)
    fig.scale = (volts, seconds)

    what = "electrode" if where.placed else "channel"
    fig.text(0.2 / width, 1 - 0.12 / height, f"{Path(rec.path).name}  {stream.buffer_id} ({stream.name})", fontsize=9,
             va="top", weight="bold")
    fig.text(0.2 / width, 1 - 0.3 / height,
             f"{t0:g} to {t1:g} s, {_count(len(where.names), what)}, {_count(marked, 'spike')}, "
             f"{_count(triggers.size, 'trigger')}",
             fontsize=7, va="top", color="#444444")
    return fig


# ---- The raster picture -------------------------------------------------------------------------------
def plot_raster(rec, spikes=None, bin_width=None, size=(12.0, 6.5)):
    """A spike raster of the whole recording, one row per electrode in layout order (by position: column
    by column), the population rate (spikes per second of all electrodes, in bins of `bin_width` seconds,
    default about a 400th of the recording) above it, and a map of the array coloured by each electrode's
    spike rate. Reads the spike records only.

    spikes: the spike stream (index, buffer ID or name; default the first). Returns a
    matplotlib.figure.Figure; fig.raster, fig.rate and fig.map are its axes, fig.rows_channels the
    channel (index in the spike stream) of each raster row from the top.
    """
    stream = _spike_stream(rec, spikes)
    if stream is None or stream.content != "spikes":
        raise KvdError(f"{rec.path} holds no spike stream", filename=rec.path)
    where = placement(rec, stream)
    order = np.lexsort((where.rows, where.cols)) if where.placed else np.arange(len(where.names))
    row_of = np.full(stream.n_channels, -1)
    row_of[where.channels[order]] = np.arange(order.size)
    found = rec.spikes(stream.index)
    rows = row_of[found["channel"]]
    times = found["time"][rows >= 0]
    rows = rows[rows >= 0]
    duration = max(rec.duration, float(times.max()) if times.size else 0.0) or 1.0
    counts = np.bincount(rows, minlength=order.size)

    fig = Figure(figsize=size)
    grid = fig.add_gridspec(2, 2, width_ratios=[2.1, 1], height_ratios=[1, 4], left=0.07, right=0.95, bottom=0.09,
                            top=0.9, wspace=0.12, hspace=0.06)
    fig.rate = fig.add_subplot(grid[0, 0])
    fig.raster = fig.add_subplot(grid[1, 0], sharex=fig.rate)
    fig.rows_channels = where.channels[order]

    width = bin_width or _nice(duration / 400)
    edges = np.arange(0.0, duration + width, width)
    histogram = np.histogram(times, edges)[0] / width
    fig.rate.fill_between(edges[:-1], histogram, step="post", color=TRACE_COLOR, linewidth=0)
    fig.rate.set_ylabel("spikes/s", fontsize=8)
    fig.rate.tick_params(labelbottom=False, labelsize=7)
    fig.rate.set_title(f"{Path(rec.path).name}  {stream.buffer_id}: {_count(times.size, 'spike')} on "
                       f"{_count(order.size, 'electrode' if where.placed else 'channel')} in {duration:g} s",
                       fontsize=9, loc="left")

    axes_height = fig.raster.get_position().height * size[1] * 72
    fig.raster.plot(times, rows, linestyle="none", marker="|", color="black",
                    markersize=max(1.0, 0.8 * axes_height / max(1, order.size)), markeredgewidth=0.5, gid="spikes")
    fig.raster.set_xlim(0, duration)
    fig.raster.set_ylim(order.size - 0.5, -0.5)
    step = max(1, math.ceil(order.size / 40))
    fig.raster.set_yticks(np.arange(0, order.size, step))
    fig.raster.set_yticklabels([where.names[i] for i in order[::step]], fontsize=5)
    fig.raster.set_xlabel("time since the start (s)", fontsize=8)
    fig.raster.tick_params(axis="x", labelsize=7)

    # The map: every electrode's cell coloured by its spike rate.
    fig.map = fig.add_subplot(grid[:, 1])
    rates = np.full((where.n_rows, where.n_cols), np.nan)
    per_panel = np.empty(order.size)
    per_panel[order] = counts / duration
    rates[where.rows, where.cols] = per_panel
    image = fig.map.imshow(rates, cmap="viridis", vmin=0, interpolation="nearest")
    for j, name in enumerate(where.names):
        bright = per_panel[j] > 0.6 * np.nanmax(rates) if np.nanmax(rates) > 0 else False
        fig.map.text(where.cols[j], where.rows[j], name, fontsize=5, ha="center", va="center",
                     color="black" if bright else "white")
    fig.map.set_xticks([])
    fig.map.set_yticks([])
    fig.map.set_title("spike rate of each electrode" if where.placed else "spike rate of each channel",
                      fontsize=9)
    colorbar = fig.colorbar(image, ax=fig.map, orientation="horizontal", fraction=0.05, pad=0.03)
    colorbar.set_label("spikes/s", fontsize=8)
    colorbar.ax.tick_params(labelsize=7)
    return fig
