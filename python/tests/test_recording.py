"""The package over the library: values against the sample's own definition, selections against numpy
slicing, events against the words, errors, and threads."""
import datetime
import subprocess
import threading

import numpy as np
import pytest

import kvd
from conftest import program


def test_sample_words_and_values(sample):
    """The words of the sample are those kvdsynth defines; scaled values are (word - zero) x units per step."""
    with kvd.open(sample) as rec:
        assert (rec.mode, rec.duration, len(rec.streams)) == ("continuous", 2.0, 7)
        assert rec.start == datetime.datetime(2026, 3, 14, 9, 26, 53, tzinfo=datetime.timezone.utc)
        for key, column, synth in [("elec0001", 0, 0), ("Electrode Raw Data", 59, 59), (1, 0, 60)]:
            s = rec.stream(key)
            lines = subprocess.run([program("KVD_SYNTH", "tools/kvdsynth"), "--samples", str(synth), "30000", "700"],
                                   check=True, capture_output=True, text=True).stdout.split()
            words = s.read(30000, 30700)[:, column]
            np.testing.assert_array_equal(words, np.array(lines, dtype=np.uint16))
            scaled = s.read(30000, 30700, scaled=True)[:, column]
            expected = words.astype(np.float64) if s.digital else (words.astype(np.int64) - s.ad_zero) * s.gain
            np.testing.assert_array_equal(scaled, expected.astype(np.float32))
            assert s.offset == (0.0 if s.digital else -s.ad_zero * s.gain)


SELECTIONS = [  # read(start, stop, channels) against numpy slicing of the whole stream
    (0, None, None, slice(None)),
    (5, 17, [2, 0, 2], [2, 0, 2]),
    (-40, -3, slice(1, None, 2), slice(1, None, 2)),
    (100, 101, "E2", [1]),
    (0, 9, ["E3", 0], [2, 0]),
    (7, 7, -1, [-1]),
]


@pytest.mark.parametrize("start,stop,channels,columns", SELECTIONS)
def test_selections(folder, start, stop, channels, columns):
    with kvd.open(folder / "streams.kvd") as rec:
        s = rec.stream("elec0001")
        whole = s.read()
        assert whole.shape == (1000, 3) and whole.flags.c_contiguous
        np.testing.assert_array_equal(s.read(start, stop, channels), whole[start:stop][:, columns])
        assert s.read(start, stop, channels, scaled=True).dtype == np.float32
        np.testing.assert_array_equal(s[start:stop:3], whole[start:stop:3])
        assert s[start, "E2"] == whole[start, 1]


def test_time_and_sweeps(folder):
    """Frames by time follow the sweeps of a triggered recording: those of sweep k lie from its start on."""
    with kvd.open(folder / "triggered.kvd") as rec:
        s = rec.stream("elec0001")
        sweeps = rec.sweeps
        assert rec.mode == "triggered" and sweeps.size == 6
        np.testing.assert_array_equal(sweeps["first_frame"], np.arange(6) * 200)
        whole = s.read()
        for k in range(6):
            t = sweeps["start"][k]
            np.testing.assert_array_equal(s.read_time(t + 0.004, t + 0.0044), whole[200 * k + 100:200 * k + 110])
        assert s.read_time(sweeps["end"][0], sweeps["start"][1]).shape == (0, 2)  # between sweeps
        np.testing.assert_array_equal(s.read_time(-1, 1e9), whole)


def test_description(sample):
    with kvd.open(sample) as rec:
        assert [s.kind for s in rec.streams] == ["analog", "digital", "trigger", "spikes", "filter", "average",
                                                 "spkparam"]
        assert rec.stream("spks0001") is rec.stream("Spikes 1") is rec.stream(3) is rec.streams[-4]
        s = rec.stream("elec0001")
        assert [c.label for c in s.channels[:3]] == ["21", "31", "41"]
        assert (s.channels[0].hwid, s.channels[0].x, s.channels[0].y) == (23, 200, 0)
        assert rec.layout.size == 61 and rec.layout["name"][0] == "47"
        assert rec.settings["spks0001"]["PreTrigger_us"] == 1000 and "stimulator" in rec.settings
        assert set(rec.spikes("spks0001")["pre_samples"]) == {25}
        assert rec.sweeps.size == 0


@pytest.mark.parametrize("name", ["sample.kvd", "continuous.kvd", "streams.kvd"])
def test_events(folder, name):
    """Spikes with their cut-outs, and the bit changes of every digital stream as the words show them."""
    with kvd.open(folder / name) as rec:
        for s in rec.streams:
            if s.content == "spikes":
                spikes, waves = rec.spikes(s.buffer_id), rec.spike_waveforms(s.buffer_id)
                assert spikes.size == s.event_count == waves.shape[0] > 0
                np.testing.assert_array_equal(rec.spike_waveforms(s.buffer_id, 1, 3), waves[1:3])
                np.testing.assert_array_equal(rec.spikes(s.buffer_id, 1, 3), spikes[1:3])
                assert np.all(spikes["hwid"] == [s.channels[c].hwid for c in spikes["channel"]])
            elif s.content == "triggers":
                assert np.all(np.diff(rec.triggers(s.buffer_id)["time"]) >= 0)
            elif s.digital:
                words = s.read()
                changed = np.unpackbits((words[1:] ^ words[:-1]).view(np.uint8), bitorder="little")
                frame, channel, bit = np.nonzero(changed.reshape(words.shape[0] - 1, s.n_channels, 16))
                events = rec.digital_events(s.buffer_id)
                np.testing.assert_array_equal(events["frame"], frame + 1)
                np.testing.assert_array_equal(events["channel"], channel)
                np.testing.assert_array_equal(events["bit"], bit)
                np.testing.assert_array_equal(events["level"], (words[frame + 1, channel] >> bit) & 1)
                np.testing.assert_allclose(events["time"], (frame + 1) / s.sampling_rate, atol=1e-9)
                counts = np.bincount(channel * 16 + bit, minlength=16 * s.n_channels).reshape(s.n_channels, 16)
                np.testing.assert_array_equal(s.bit_change_counts(), counts)


def test_errors(folder, tmp_path):
    (tmp_path / "junk.kvd").write_bytes(b"not a recording" * 100)
    for path, words in [(tmp_path / "none.kvd", "No such file"), (tmp_path / "junk.kvd", "junk.kvd")]:
        with pytest.raises(kvd.KvdError, match=words) as failure:
            kvd.open(path)
        assert isinstance(failure.value, OSError) and failure.value.code < 0
    rec = kvd.open(folder / "continuous.kvd")
    s = rec.stream("elec0001")
    for call, words in [(lambda: rec.stream("nope"), "nope"), (lambda: rec.stream(9), "stream 9"),
                        (lambda: s.read(channels="E9"), "E9"), (lambda: s.read(channels=[2]), "channel 2"),
                        (lambda: s.read(0, 2001), "2000 frames"), (lambda: rec.spikes("elec0001"), "holds no events"),
                        (lambda: rec.stream("spks0001").read(), "no sample frames")]:
        with pytest.raises(kvd.KvdError, match=words):
            call()
    rec.close()
    rec.close()
    for call in [s.read, lambda: rec.spikes("spks0001"), lambda: rec.stream("trig0001"), lambda: rec.layout]:
        with pytest.raises(kvd.KvdError, match="closed"):
            call()


def test_threads(sample):
    """Threads read one recording at once, with the results of reads one after another; closing it while
    they read makes the later reads raise."""
    rec = kvd.open(sample)
    s = rec.stream("filt0001")
    expected = s.read()
    results, failures = {}, []

    def work(k):
        try:
            for _ in range(20):
                results[k] = s.read(channels=slice(k, None, 4))
        except kvd.KvdError as e:
            failures.append(e)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for k in range(4):
        np.testing.assert_array_equal(results[k], expected[:, k::4])
    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    rec.close()
    for t in threads:
        t.join()
    assert all("closed" in str(e) for e in failures)
