"""python3 -m kvd: describes a recording, and draws pictures of it (see --help)."""
import argparse
import json
import os
import sys
from pathlib import Path

import kvd

PROG = "python3 -m kvd"
FORMATS = (".png", ".svg", ".pdf")
SOURCES = {0: "the standard linear layout", 1: "the standard layout of the 60-electrode array",
           2: "the standard layout of two 60-electrode arrays", 3: "stored in the file"}


class Failure(Exception):
    """A failure that ends the command with status 1; its text names the file."""


class Usage(Exception):
    """A wrong argument found after parsing (status 2)."""


def seconds(text, positive=False):
    try:
        value = float(text)
    except ValueError:
        value = float("nan")
    if not (value > 0 if positive else value >= 0) or value == float("inf"):
        least = "above 0" if positive else "from 0 on"
        raise argparse.ArgumentTypeError(f"{text!r} is not a number of seconds {least}")
    return value


def length(text):
    return seconds(text, positive=True)


def size(text):
    try:
        width, height = (float(v) for v in text.lower().split("x"))
    except ValueError:
        width = height = float("nan")
    if not (0 < width <= 100 and 0 < height <= 100):
        raise argparse.ArgumentTypeError(f"{text!r} is not WIDTHxHEIGHT in inches, each above 0 and up to 100")
    return width, height


def dpi(text):
    if not text.isdigit() or not 10 <= int(text) <= 1200:
        raise argparse.ArgumentTypeError(f"{text!r} is not a whole number of dots per inch from 10 to 1200")
    return int(text)


def parser():
    top = argparse.ArgumentParser(
        prog=PROG, description="Describes a recording of a microelectrode array (*.kvd) and draws pictures of it.",
        epilog="Exit status: 0 done, 1 the recording could not be read or the picture not written, 2 wrong usage.")
    top.add_argument("-V", "--version", action="version",
                     version=f"{PROG} {kvd.__version__} (nsKVDLibrary) {kvd.library_version}")
    commands = top.add_subparsers(dest="command", metavar="COMMAND", required=True)

    info = commands.add_parser("info", help="describe the recording: file, streams, layout",
                               description="Describes the recording: the file, its streams and its layout.")
    info.add_argument("file", metavar="FILE")
    info.add_argument("--channels", action="store_true", help="also every channel of every stream")
    info.add_argument("--json", action="store_true", help="the description as JSON, keyed as kvdinfo --json")

    picture = argparse.ArgumentParser(add_help=False)
    picture.add_argument("file", metavar="FILE")
    picture.add_argument("-o", "--output", metavar="OUT",
                         help="the picture: .png, .svg or .pdf (default FILE's name with -array.png or -raster.png, "
                              "in the current folder)")
    picture.add_argument("--size", type=size, metavar="WxH", help="the figure's width and height in inches")
    picture.add_argument("--dpi", type=dpi, default=100, help="dots per inch of a PNG (default 100)")

    plot = commands.add_parser(
        "plot", parents=[picture], help="the traces of every electrode, laid out as on the array",
        description="Draws a window of every electrode's trace in a panel where the electrode sits on the array, "
                    "on one scale, with the window's spikes and triggers. Prints the picture's path.")
    plot.add_argument("--start", type=seconds, default=0.0, metavar="S",
                      help="start of the window, seconds since the start of the recording (default 0)")
    plot.add_argument("--duration", type=length, default=1.0, metavar="D", help="length of the window (default 1)")
    plot.add_argument("--stream", metavar="ID", help="the stream: index, buffer ID or name (default the electrodes)")

    raster = commands.add_parser(
        "raster", parents=[picture], help="spike raster, population rate and a map of the spike rates",
        description="Draws the spikes of the whole recording, one row per electrode, with the population rate "
                    "and a map of the array coloured by each electrode's spike rate. Prints the picture's path.")
    raster.add_argument("--spikes", metavar="ID", help="the spike stream: index, buffer ID or name (default the first)")
    return top


def stream_key(text):
    return int(text) if text is not None and text.lstrip("-").isdigit() else text


def describe(rec, channels, out):
    """The recording in words, as kvdinfo describes it."""
    doc = rec.description
    file = doc["file"]
    rows = [("file", rec.path), ("recorded", rec.start.strftime("%Y-%m-%d %H:%M:%S.%f")[:-3] + " UTC"),
            ("duration", f"{rec.duration:.3f} s, {rec.mode}" +
             (f", {rec.n_sweeps} sweeps" if rec.mode == "triggered" else "")),
            ("program", rec.program), ("comment", rec.comment), ("source", file.get("DataSourceName", "")),
            ("layout", f"{rec.layout.size} entries, {SOURCES.get(file.get('SourceType'), 'none')}"
             if rec.layout.size else "none")]
    for name, value in rows:
        print(f"{name:<12}{value}", file=out)
    print(f"\n{'stream':<8}{'buffer ID':<11}{'kind':<10}{'channels':>8}{'rate (Hz)':>11}{'frames':>11}{'events':>9}"
          f"  {'units':<7}name", file=out)
    for s in rec.streams:
        frames = s.content == "frames"
        events = s.event_count if s.content in ("spikes", "triggers") or s.digital else None
        print(f"{s.index:<8}{s.buffer_id:<11}{s.kind:<10}{s.n_channels:>8}{s.sampling_rate:>11g}"
              f"{s.n_frames if frames else '-':>11}{'-' if events is None else events:>9}  {s.units or '-':<7}{s.name}",
              file=out)
    if channels:
        for s in rec.streams:
            print(f"\n{s.buffer_id}: {'index':>5}  {'label':<10}{'hwid':>5}  {'electrode':<10}{'x (um)':>8}"
                  f"{'y (um)':>8}", file=out)
            for c in s.channels:
                where = (f"{c.x:>8}{c.y:>8}") if c.x is not None else f"{'-':>8}{'-':>8}"
                print(f"{'':<10}{c.index:>5}  {c.label:<10}{c.hwid:>5}  {c.electrode or '-':<10}{where}", file=out)


def draw(args):
    """Draws the picture of `plot` or `raster` and returns the path written."""
    output = Path(args.output or f"{Path(args.file).stem}-{'array' if args.command == 'plot' else 'raster'}.png")
    if output.suffix.lower() not in FORMATS:
        raise Usage(f"{output}: the picture's format is chosen by its suffix: .png, .svg or .pdf")
    with kvd.open(args.file) as rec:
        import matplotlib
        matplotlib.use("Agg")
        from kvd import plot
        options = {} if args.size is None else {"size": args.size}
        if args.command == "plot":
            fig = plot.plot_array(rec, args.start, args.duration, stream_key(args.stream), **options)
        else:
            fig = plot.plot_raster(rec, stream_key(args.spikes), **options)
    try:
        fig.savefig(output, dpi=args.dpi)
    except OSError as e:
        raise Failure(f"cannot write {output}: {e.strerror or e}") from None
    return output


def main(argv=None):
    arguments = parser()
    args = arguments.parse_args(argv)
    tool = f"{PROG} {args.command}"
    try:
        if args.command == "info":
            with kvd.open(args.file) as rec:
                if args.json:
                    json.dump(rec.description, sys.stdout, indent=1, ensure_ascii=False)
                    print()
                else:
                    describe(rec, args.channels, sys.stdout)
        else:
            print(draw(args))
    except Usage as e:
        print(f"{tool}: {e}", file=sys.stderr)
        return 2
    except Failure as e:
        print(f"{tool}: {e}", file=sys.stderr)
        return 1
    except BrokenPipeError:  # the reader of the output has gone (| head): end quietly, as a C tool would
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except kvd.KvdError as e:
        text = str(e)
        print(f"{tool}: {text if args.file in text else f'{args.file}: {text}'}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
