"""The pictures (kvd.plot) and the command python3 -m kvd: what the figures hold, checked on their axes and
plotted data; the files the command writes; its exit status and messages."""
import os
import re
import struct
import subprocess
import sys

import numpy as np
import pytest

import kvd
import kvd.__main__ as command
import kvd.plot as plot
from conftest import program


@pytest.fixture(scope="module")
def standard(folder):
    """The sample without a stored layout: the library gives the standard layout of its array."""
    path = folder / "standard.kvd"
    subprocess.run([program("KVD_SYNTH", "tools/kvdsynth"), "--seconds", "2", str(path)], check=True)
    return str(path)


def run(*args):
    return subprocess.run([sys.executable, "-m", "kvd", *map(str, args)], capture_output=True, text=True,
                          env=dict(os.environ, PYTHONPATH=os.path.dirname(kvd.__path__[0])))


@pytest.mark.parametrize("recording, stream, placed", [("sample", None, True), ("standard", None, True),
                                                       ("sample", "filt0001", True), ("sample", "digi0001", False)])
def test_panels_where_the_layout_places_them(request, recording, stream, placed):
    """One panel per electrode, named after it, its frame's centre in the figure an affine image of the
    electrode's position (row 1 on top); a stream without electrodes fills a plain grid in channel order."""
    with kvd.open(request.getfixturevalue(recording)) as rec:
        fig = plot.plot_array(rec, 0.5, 0.2, stream=stream)
        s = plot.electrode_stream(rec) if stream is None else rec.stream(stream)
        kinds = dict(zip(rec.layout["hwid"], rec.layout["kind"]))
        channels = [c for c in s.channels if kinds.get(c.hwid) == 0] if placed else s.channels
        assert [c.index for c in channels] == [p.channel for p in fig.panels]
        boxes = np.array([p.position() for p in fig.panels])
        assert np.all(boxes[:, 2:] > 0) and np.all(boxes[:, :2] >= 0) and np.all(boxes[:, :2] + boxes[:, 2:] <= 1)
        centre = boxes[:, :2] + boxes[:, 2:] / 2
        names = [text.get_text() for text in fig.array.texts[:len(channels)]]
        assert names == [p.name for p in fig.panels] == [c.electrode if placed else c.label for c in channels]
        if placed:
            xy = np.array([(c.x, c.y) for c in channels], dtype=float)
            for axis, sign in ((0, 1), (1, -1)):
                slope, offset = np.polyfit(xy[:, axis], centre[:, axis], 1)
                assert sign * slope > 0
                np.testing.assert_allclose(slope * xy[:, axis] + offset, centre[:, axis], atol=1e-9)
        else:
            assert np.all(np.diff(centre[:, 0]) > 0) or len(channels) == 1


def test_spikes_and_triggers_where_they_lie(standard):
    """Every spike of the window marked once on its channel's panel, within its cut-out and on the drawn
    trace; the trigger of the window on every panel; the raster's rows and the map's rates from the spikes."""
    t0, t1 = 0.9, 1.9
    with kvd.open(standard) as rec:
        fig = plot.plot_array(rec, t0, t1 - t0)
        spikes = rec.spikes("spks0001")
        cutout = rec.spike_waveforms("spks0001", 0, 1).shape[1] / 25000
        window = spikes[(spikes["time"] >= t0) & (spikes["time"] < t1)]
        assert window.size >= 50
        for panel in fig.panels:
            mine = np.sort(window["time"][window["hwid"] == rec.stream(0).channels[panel.channel].hwid])
            x, y = panel.spikes.get_data() if panel.spikes else ([], [])
            assert len(x) == mine.size
            assert np.all((mine <= np.sort(x)) & (np.sort(x) <= mine + cutout))
            trace = np.column_stack(panel.trace.get_data())
            assert all(np.any(np.all(trace == point, axis=1)) for point in zip(x, y))
            assert [segment[0][0] for segment in panel.triggers.get_segments()] == [1.0]
            # Trace, marks and lines are drawn in the panel's frame.
            drawn = [panel.trace, panel.triggers] + ([panel.spikes] if panel.spikes else [])
            assert panel.frame.get_data_transform() == panel.transform
            assert all(artist.get_transform() == panel.transform for artist in drawn)

        fig = plot.plot_raster(rec)
        times, rows = fig.raster.lines[0].get_data()
        np.testing.assert_array_equal(times, spikes["time"])
        np.testing.assert_array_equal(fig.rows_channels[rows.astype(int)], spikes["channel"])
        rates = fig.map.images[0].get_array()
        assert np.ma.count(rates) == 60
        np.testing.assert_allclose(np.ma.sum(rates) * rec.duration, spikes.size)


@pytest.mark.parametrize("suffix", [".png", ".svg", ".pdf"])
def test_the_command_writes_pictures_of_the_size_asked(tmp_path, sample, suffix, capsys):
    out = tmp_path / f"a{suffix}"
    assert command.main(["plot", sample, "--start", "0.5", "--size", "6x4", "--dpi", "50", "-o", str(out)]) == 0
    assert capsys.readouterr().out == f"{out}\n"
    data = out.read_bytes()
    if suffix == ".png":
        assert data[:8] == b"\x89PNG\r\n\x1a\n" and struct.unpack(">II", data[16:24]) == (300, 200)
    elif suffix == ".svg":
        assert re.search(rb'<svg [^>]*width="432pt" height="288pt"', data)
    else:
        assert data.startswith(b"%PDF") and re.search(rb"/MediaBox \[ ?0 0 432 288 ?\]", data)
    out = tmp_path / "r.png"
    assert command.main(["raster", sample, "--size", "8x5", "--dpi", "50", "-o", str(out)]) == 0
    assert struct.unpack(">II", out.read_bytes()[16:24]) == (400, 250)


def test_failures(tmp_path, sample):
    """Wrong usage exits 2 naming what is wrong; a recording that cannot be read exits 1 with the library's
    text, naming the file."""
    damaged = tmp_path / "damaged.kvd"
    damaged.write_bytes(open(sample, "rb").read()[:2000000])
    with kvd.open(damaged) as rec:
        with pytest.raises(kvd.KvdError) as read:
            rec.stream(0).read()  # the first second, which the picture shows, is all it holds
    header = tmp_path / "header.kvd"
    header.write_bytes(open(sample, "rb").read()[:3000])
    with pytest.raises(kvd.KvdError) as opened:
        kvd.open(header)
    for args, status, message in [
        (["plot", sample, "--duration", "0"], 2, "argument --duration: '0' is not a number of seconds above 0"),
        (["plot", sample, "--start", "-1"], 2, "argument --start"),
        (["plot", sample, "--size", "4"], 2, "argument --size"),
        (["plot", sample, "-o", tmp_path / "a.gif"], 2, "a.gif: the picture's format"),
        (["draw", sample], 2, "invalid choice: 'draw'"),
        (["raster"], 2, "required: FILE"),
        (["plot", tmp_path / "missing.kvd"], 1, f"cannot open {tmp_path}/missing.kvd: No such file or directory"),
        (["plot", damaged], 1, f"{damaged}: {read.value}"),
        (["raster", header], 1, str(opened.value)),
        (["info", header], 1, str(opened.value)),
        (["plot", sample, "--start", "9"], 1, f"{sample} holds no frames of elec0001 from 9 s to 10 s"),
        (["plot", sample, "--stream", "spks0001"], 1, f"spks0001 of {sample} holds no sample frames"),
        (["plot", sample, "-o", tmp_path / "no" / "a.png"], 1, f"cannot write {tmp_path}/no/a.png: No such file"),
    ]:
        result = run(*args)
        assert (result.returncode, result.stdout) == (status, ""), args
        assert message in result.stderr, (args, result.stderr)
