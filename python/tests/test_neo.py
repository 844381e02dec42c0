"""The Neo reader: Neo's own compliance checks, and the same signals, spike times and event times as Neo's
Neuroshare IO (and the Neuroshare segment entities, which that IO leaves out) over this library."""
import ctypes as C

import numpy as np
import pytest

neo = pytest.importorskip("neo")
from neo.io import NeuroshareIO, neurosharectypesio as ns  # noqa: E402
from neo.test.rawiotest import rawio_compliance as compliance  # noqa: E402

import kvd  # noqa: E402
from kvd.neo import KvdIO, KvdRawIO  # noqa: E402

CHECKS = [compliance.header_is_total, compliance.count_element, compliance.read_analogsignals,
          compliance.read_spike_times, compliance.read_spike_waveforms, compliance.read_events,
          compliance.has_annotations]


def test_compliance(any_recording):
    reader = KvdRawIO(any_recording)
    reader.parse_header()
    for check in CHECKS:
        check(reader)


def neuroshare_spikes(path):
    """(time, unit) of every item of every spike segment entity, entity after entity."""
    lib = ns.DllWithError(C.CDLL(kvd.library_path))
    handle, info = C.c_uint32(), ns.ns_FILEINFO()
    lib.ns_OpenFile(path.encode(), C.byref(handle))
    lib.ns_GetFileInfo(handle, C.byref(info), C.sizeof(info))
    entities = []
    for e in range(info.dwEntityCount):
        entity, segment = ns.ns_ENTITYINFO(), ns.ns_SEGMENTINFO()
        lib.ns_GetEntityInfo(handle, e, C.byref(entity), C.sizeof(entity))
        if entity.dwEntityType != 3 or not entity.szEntityLabel.startswith(b"spks"):
            continue
        lib.ns_GetSegmentInfo(handle, e, C.byref(segment), C.sizeof(segment))
        data = (C.c_double * max(1, segment.dwMaxSampleCount))()
        t, n, unit = C.c_double(), C.c_uint32(), C.c_uint32()
        items = []
        for i in range(entity.dwItemCount):
            lib.ns_GetSegmentData(handle, e, i, C.byref(t), data, C.sizeof(data), C.byref(n), C.byref(unit))
            items.append((t.value, unit.value))
        entities.append(sorted(items))
    lib.ns_CloseFile(handle)
    return entities


@pytest.mark.parametrize("name", ["sample.kvd", "continuous.kvd", "triggered.kvd", "streams.kvd", "sweeps.kvd"])
def test_agrees_with_neuroshare(folder, name):
    path = str(folder / name)
    theirs = NeuroshareIO(filename=path, dllname=kvd.library_path).read_segment()
    block = KvdIO(path).read_block()
    # Signals: one Neuroshare entity per channel, a triggered recording's sweeps one after another.
    columns = [np.concatenate([seg.analogsignals[i].magnitude for seg in block.segments])[:, c]
               for i, stream in enumerate(block.segments[0].analogsignals) for c in range(stream.shape[1])]
    assert len(columns) == len(theirs.analogsignals)
    for mine, signal in zip(columns, theirs.analogsignals):
        np.testing.assert_allclose(mine, signal.magnitude[:, 0], rtol=2 ** -24, atol=1e-30)
    assert block.segments[0].analogsignals[0].t_start == theirs.analogsignals[0].t_start
    # Events: the trigger entities and the bit entities that have events, in entity order.
    mine = [np.concatenate([seg.events[i].times.magnitude for seg in block.segments])
            for i in range(len(block.segments[0].events))]
    mine, expected = [t for t in mine if t.size], [e.times.magnitude for e in theirs.events if e.size]
    assert len(mine) == len(expected)
    for a, b in zip(mine, expected):
        np.testing.assert_allclose(a, b, rtol=0, atol=1e-9)
    # Spikes: per channel of each spike stream, the spikes of all its units.
    trains = {}
    for seg in block.segments:
        for train in seg.spiketrains:
            key = (train.annotations["buffer_id"], train.annotations["channel"])
            trains.setdefault(key, []).extend((t, train.annotations["unit"]) for t in train.magnitude)
    expected = [e for e in neuroshare_spikes(path) if e]
    assert len(trains) == len(expected)
    for key, items in zip(sorted(trains), expected):
        mine = sorted(trains[key])
        np.testing.assert_allclose([t for t, _ in mine], [t for t, _ in items], rtol=0, atol=1e-9)
        assert [u for _, u in mine] == [u for _, u in items]


def test_lazy(sample):
    """Proxies load what the whole block holds: a time slice of every signal, spike trains with waveforms."""
    io = KvdIO(sample)
    whole = io.read_block().segments[0]
    lazy = io.read_block(lazy=True).segments[0]
    for proxy, signal in zip(lazy.analogsignals, whole.analogsignals):
        part = proxy.load(time_slice=(0.5, 0.75))
        np.testing.assert_array_equal(part.magnitude, signal.magnitude[12500:18750])
    train = lazy.spiketrains[7].load(load_waveforms=True)
    np.testing.assert_array_equal(train.magnitude, whole.spiketrains[7].magnitude)
    with kvd.open(sample) as rec:
        spikes, stream = rec.spikes("spks0001"), rec.stream("spks0001")
        rows = np.flatnonzero(spikes["channel"] == train.annotations["channel"])
        words = rec.spike_waveforms("spks0001")[rows]
    assert train.waveforms.shape == (rows.size, 1, words.shape[1])
    values = ((words.astype(np.int64) - stream.ad_zero) * stream.gain).astype(np.float32)
    np.testing.assert_array_equal(train.waveforms.magnitude[:, 0], values)
