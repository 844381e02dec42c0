"""Neo's reader of recordings: KvdRawIO (neo.rawio) and KvdIO (neo.io, lazy loading included).

- One signal stream per stream of sample frames (electrode, analog, filter, channel-tool and digital
  streams), raw dtype uint16 with the stream's gain and offset, so that Neo's scaling gives the values
  ns_GetAnalogData gives; a chunk reads only the frames and channels asked for.
- One spike channel per channel and unit of each spike stream, with waveforms; one event channel per
  trigger stream and per bit of a digital channel that changes (labelled with the new level).
- A continuous recording is one segment; a triggered recording one segment per sweep. Segment k of a
  triggered recording runs from its sweep's start to the next sweep's start (the last to the end of the
  recording), so that every event lies in a segment; its signals are the frames of the sweep.
Times of spikes and events are kept as nanoseconds since the start of the recording.
"""
import ctypes as C
import threading

import numpy as np
from neo.io.basefromrawio import BaseFromRaw
from neo.rawio import baserawio
from neo.rawio.baserawio import BaseRawIO

import kvd
from kvd import _lib

# Bit changes read at a time when the times of a digital stream's bits are first asked for.
_EVENT_BLOCK = 1 << 20
# Words scaled at a time: the pieces stay in the processor's caches.
_SCALE_BLOCK = 1 << 18


def _scale(raw, stream, dtype):
    """Values of words as ns_GetAnalogData computes them, (word - zero) x units per step in double precision,
    rounded once to `dtype`. (Neo's own word x gain + offset in float32 loses up to a hundredth of a step
    to cancellation.)"""
    zero, gain = (0, 1.0) if stream.digital else (stream.ad_zero, stream.gain)
    words = raw.reshape(-1)
    out = np.empty(words.shape, dtype=dtype)
    piece = np.empty(min(words.size, _SCALE_BLOCK), dtype=np.float64)
    for first in range(0, words.size, _SCALE_BLOCK):
        part = piece[:min(_SCALE_BLOCK, words.size - first)]
        part[...] = words[first:first + part.size]
        part -= zero
        part *= gain
        out[first:first + part.size] = part
    return out.reshape(raw.shape)


def _table(dtype_spec, rows):
    """A header table of Neo's dtype (whatever fields this version of Neo has) from dicts."""
    table = np.zeros(len(rows), dtype=dtype_spec)
    for i, row in enumerate(rows):
        for name in table.dtype.names:
            if name in row:
                table[name][i] = row[name]
    return table


class _SpikeChannel:
    def __init__(self, stream, channel, unit, indexes, pre_samples):
        self.stream, self.channel, self.unit = stream, channel, unit
        self.indexes = indexes  # of the stream's spikes, in file order
        self.pre_samples = pre_samples


class _EventChannel:
    """A trigger stream's events, or the changes of one bit of a digital channel (their times are read when
    first asked for: the header needs only how many there are)."""

    def __init__(self, stream, channel=None, bit=None, count=0, times=None, labels=None):
        self.stream, self.channel, self.bit, self.count = stream, channel, bit, count
        self.times, self.labels = times, labels  # ns since the start; labels


class KvdRawIO(BaseRawIO):
    """Neo's raw reader of a recording (*.kvd) through nsKVDLibrary."""
    extensions = ["kvd"]
    rawmode = "one-file"
    name = "KvdRawIO"
    description = "Microelectrode-array recordings (*.kvd) read through nsKVDLibrary"

    def __init__(self, filename=""):
        BaseRawIO.__init__(self)
        self.filename = str(filename)
        self.recording = None
        self._reading = threading.local()

    def _source_name(self):
        return self.filename

    def close(self):
        if self.recording is not None:
            self.recording.close()

    # ---- header ---------------------------------------------------------------------------------------
    def _parse_header(self):
        self.close()
        rec = self.recording = kvd.open(self.filename)
        self._signal_streams = [s for s in rec.streams if s.content == "frames" and s.n_channels > 0]
        sweeps = rec.sweeps
        self._sweep_frames = [s.sweeps for s in self._signal_streams] if sweeps.size else None

        # Counting a digital stream counts the spike and trigger streams in the same pass over the file.
        digital = [s for s in rec.streams if s.content == "frames" and s.digital]
        for s in digital:
            s.event_count
        spike_streams = [s for s in rec.streams if s.content == "spikes"]
        self._spike_times = {s.index: self._read_spikes(s) for s in spike_streams}
        events = []
        for s in rec.streams:
            if s.content == "triggers":
                raw = self._read_raw(s, _lib.lib.kvd_read_triggers, _lib.TRIGGER)
                events.append(_EventChannel(s, count=raw.size, times=raw["time_ns"], labels=raw["value"].astype("U5")))
            elif s in digital:
                counts = s.bit_change_counts()
                events.extend(_EventChannel(s, int(c), int(b), int(counts[c, b])) for c, b in zip(*np.nonzero(counts)))

        # Segment boundaries: the sweeps' starts, the first reaching back to the earliest spike or trigger (bit
        # changes lie among the frames).
        times = [t[0] for t in self._spike_times.values()] + [e.times for e in events if e.times is not None]
        times = [t for t in times if t.size]
        first_event = min(int(t.min()) for t in times) if times else 0
        last_event = max(int(t.max()) for t in times) if times else 0
        if sweeps.size:
            bounds = np.round(sweeps["start"] * 1e9).astype(np.int64)
            bounds[0] = min(bounds[0], first_event)
        else:
            bounds = np.array([min(0, first_event)], dtype=np.int64)
        self._bounds = bounds
        self._t_start = bounds / 1e9
        ends = np.empty(bounds.size)
        ends[:-1] = self._t_start[1:]
        ends[-1] = max(rec.duration, last_event / 1e9)
        for k in range(bounds.size):
            for i in range(len(self._signal_streams)):
                ends[k] = max(ends[k], self._get_signal_t_start(0, k, i) + self._get_signal_size(0, k, i) /
                              self._signal_streams[i].sampling_rate)
            if sweeps.size:
                ends[k] = max(ends[k], sweeps["end"][k])
            if ends[k] <= self._t_start[k]:
                ends[k] = self._t_start[k] + 1e-9
        self._t_stop = ends

        self._spike_channels = []
        for s in spike_streams:
            times, channels, units, pre = self._spike_times[s.index]
            order = np.lexsort((np.arange(times.size), units, channels))
            keys = channels[order].astype(np.int64) << 32 | (units[order].astype(np.int64) & 0xFFFFFFFF)
            starts = np.flatnonzero(np.r_[True, keys[1:] != keys[:-1]]) if keys.size else []
            for a, b in zip(starts, list(starts[1:]) + [keys.size]):
                first = order[a]
                self._spike_channels.append(_SpikeChannel(s, int(channels[first]), int(units[first]), order[a:b],
                                                          int(pre[first])))
        self._events = events

        signal_channels = []
        for s in self._signal_streams:
            units = "" if s.digital else s.units
            for c in s.channels:
                signal_channels.append(dict(name=c.label, id=self._channel_id(s, c), sampling_rate=s.sampling_rate,
                                            dtype="uint16", units=units, gain=s.gain, offset=s.offset,
                                            stream_id=s.buffer_id))
        self.header = {
            "nb_block": 1,
            "nb_segment": [bounds.size],
            "signal_streams": _table(baserawio._signal_stream_dtype,
                                     [dict(name=s.name, id=s.buffer_id) for s in self._signal_streams]),
            "signal_channels": _table(baserawio._signal_channel_dtype, signal_channels),
            "spike_channels": _table(baserawio._spike_channel_dtype, [self._spike_header(sc)
                                                                      for sc in self._spike_channels]),
            "event_channels": _table(baserawio._event_channel_dtype, [self._event_header(e) for e in events]),
        }
        if hasattr(baserawio, "_signal_buffer_dtype"):  # Neo 0.14 on: streams may share buffers
            self.header["signal_buffers"] = np.zeros(0, dtype=baserawio._signal_buffer_dtype)
        self._annotate(rec, sweeps)

    @staticmethod
    def _channel_id(stream, channel):
        hwids = [c.hwid for c in stream.channels]
        return str(channel.hwid) if len(set(hwids)) == len(hwids) else str(channel.index)

    def _read_raw(self, stream, lib_function, dtype, *extra):
        n = stream.event_count
        raw = np.empty(n, dtype=dtype)
        got = self.recording._handle.call(lib_function, stream.index, 0, n, _lib.pointer(raw), *extra)
        return raw[:got]

    def _read_spikes(self, stream):
        raw = self._read_raw(stream, _lib.lib.kvd_read_spikes, _lib.SPIKE, None, 0)
        return tuple(raw[name].copy() for name in ("time_ns", "channel", "unit", "pre_samples"))

    def _read_bit_changes(self, stream):
        """The times and new levels of the event channels of a digital stream's bits."""
        channels = {(e.channel, e.bit): e for e in self._events if e.stream is stream and e.bit is not None}
        parts = {key: [] for key in channels}
        n = stream.event_count
        for first in range(0, n, _EVENT_BLOCK):
            raw = np.empty(min(_EVENT_BLOCK, n - first), dtype=_lib.BIT_CHANGE)
            got = self.recording._handle.call(_lib.lib.kvd_read_bit_changes, stream.index, first, raw.size,
                                              _lib.pointer(raw))
            for key, part in parts.items():
                part.append(raw[:got][(raw["channel"][:got] == key[0]) & (raw["bit"][:got] == key[1])])
        for key, event in channels.items():
            changes = np.concatenate(parts[key])
            event.times, event.labels = changes["time_ns"].copy(), changes["level"].astype("U1")

    def _spike_header(self, sc):
        s = sc.stream
        c = s.channels[sc.channel]
        return dict(name=f"{c.label}#{sc.unit}", id=f"{s.buffer_id}:{c.hwid}#{sc.unit}", wf_units=s.units,
                    wf_gain=s.gain, wf_offset=s.offset, wf_left_sweep=sc.pre_samples, wf_sampling_rate=s.sampling_rate)

    @staticmethod
    def _event_header(event):
        if event.bit is None:
            return dict(name=event.stream.name, id=event.stream.buffer_id, type=b"event")
        c = event.stream.channels[event.channel]
        return dict(name=f"{c.label} bit {event.bit}", id=f"{event.stream.buffer_id}:{c.hwid}:{event.bit}",
                    type=b"event")

    def _annotate(self, rec, sweeps):
        self._generate_minimal_annotations()
        block = self.raw_annotations["blocks"][0]
        block.update(rec_datetime=rec.start, comment=rec.comment, program=rec.program, mode=rec.mode)
        for k, segment in enumerate(block["segments"]):
            segment["rec_datetime"] = rec.start
            if sweeps.size:
                segment.update(sweep=k, sweep_start=float(sweeps["start"][k]), sweep_end=float(sweeps["end"][k]))
            for i, s in enumerate(self._signal_streams):
                signals = segment["signals"][i]
                signals.update(buffer_id=s.buffer_id, kind=s.kind)
                arrays = signals["__array_annotations__"]
                arrays["hwid"] = np.array([c.hwid for c in s.channels])
                arrays["electrode"] = np.array([c.electrode for c in s.channels])
            for sc, spikes in zip(self._spike_channels, segment["spikes"]):
                spikes.update(buffer_id=sc.stream.buffer_id, channel=sc.channel,
                              hwid=sc.stream.channels[sc.channel].hwid, unit=sc.unit)
            for event, annotations in zip(self._events, segment["events"]):
                annotations["buffer_id"] = event.stream.buffer_id

    # ---- segments and signals -------------------------------------------------------------------------
    def _segment_t_start(self, block_index, seg_index):
        return float(self._t_start[seg_index])

    def _segment_t_stop(self, block_index, seg_index):
        return float(self._t_stop[seg_index])

    def _frames(self, seg_index, stream_index):
        """The first frame and the frame count of a segment's signal of a stream."""
        stream = self._signal_streams[stream_index]
        if self._sweep_frames is None:
            return 0, stream.n_frames
        sweep = self._sweep_frames[stream_index]
        if seg_index >= sweep.size:
            return stream.n_frames, 0
        return int(sweep["first_frame"][seg_index]), int(sweep["n_frames"][seg_index])

    def _get_signal_size(self, block_index, seg_index, stream_index):
        return self._frames(seg_index, stream_index)[1]

    def _get_signal_t_start(self, block_index, seg_index, stream_index):
        if self._sweep_frames is None:
            return self._signal_streams[stream_index].t_start
        sweep = self._sweep_frames[stream_index]
        return float(sweep["start"][seg_index]) if seg_index < sweep.size else float(self._t_start[seg_index])

    def _get_analogsignal_chunk(self, block_index, seg_index, i_start, i_stop, stream_index, channel_indexes):
        first, count = self._frames(seg_index, stream_index)
        i_start = 0 if i_start is None else i_start
        i_stop = count if i_stop is None else i_stop
        if not 0 <= i_start <= i_stop <= count:
            raise IndexError(f"frames {i_start} to {i_stop} are not within the {count} frames of the segment")
        stream = self._signal_streams[stream_index]
        scaled = getattr(self._reading, "scaled", False)
        return stream.read(first + i_start, first + i_stop, channel_indexes, scaled=scaled)

    def rescale_signal_raw_to_float(self, raw_signal, dtype="float32", stream_index=None, channel_indexes=None,
                                    channel_names=None, channel_ids=None):
        if raw_signal.dtype.kind == "f":  # read as values already (KvdIO.read_segment)
            return raw_signal.astype(dtype, copy=False)
        return _scale(raw_signal, self._signal_streams[self._get_stream_index_from_arg(stream_index)], dtype)

    # ---- spikes and events ----------------------------------------------------------------------------
    def _within(self, times, seg_index, t_start, t_stop):
        """Which of `times` (ns) lie in a segment and in the window from t_start to t_stop (s, None: open)."""
        keep = np.searchsorted(self._bounds, times, side="right") - 1 == seg_index
        if t_start is not None:
            keep &= times >= np.int64(round(t_start * 1e9))
        if t_stop is not None:
            keep &= times <= np.int64(round(t_stop * 1e9))
        return keep

    def _segment_spikes(self, seg_index, spike_channel_index, t_start, t_stop):
        """Indexes (into the stream's spikes) of a spike channel's spikes in a segment and time window."""
        sc = self._spike_channels[spike_channel_index]
        picked = sc.indexes
        return picked[self._within(self._spike_times[sc.stream.index][0][picked], seg_index, t_start, t_stop)]

    def _spike_count(self, block_index, seg_index, spike_channel_index):
        return int(self._segment_spikes(seg_index, spike_channel_index, None, None).size)

    def _get_spike_timestamps(self, block_index, seg_index, spike_channel_index, t_start, t_stop):
        sc = self._spike_channels[spike_channel_index]
        return self._spike_times[sc.stream.index][0][self._segment_spikes(seg_index, spike_channel_index,
                                                                          t_start, t_stop)]

    def _rescale_spike_timestamp(self, spike_timestamps, dtype):
        return (spike_timestamps / 1e9).astype(dtype)

    def _get_spike_raw_waveforms(self, block_index, seg_index, spike_channel_index, t_start, t_stop):
        sc = self._spike_channels[spike_channel_index]
        picked = self._segment_spikes(seg_index, spike_channel_index, t_start, t_stop)
        info = _lib.StreamInfo(size=C.sizeof(_lib.StreamInfo))
        handle = self.recording._handle
        handle.call(_lib.lib.kvd_get_stream_info, sc.stream.index, C.byref(info))
        samples = max(0, info.samples_per_event)
        out = np.empty((picked.size, samples), dtype=np.uint16)
        # Spikes that follow one another in the file are read together.
        runs = np.flatnonzero(np.diff(picked) != 1) + 1
        row_bytes = samples * 2
        for a, b in zip(np.r_[0, runs], np.r_[runs, picked.size]):
            if b > a:
                handle.call(_lib.lib.kvd_read_spikes, sc.stream.index, int(picked[a]), int(b - a), None,
                            out.ctypes.data + int(a) * row_bytes, samples)
        return out[:, None, :]

    def rescale_waveforms_to_float(self, raw_waveforms, dtype="float32", spike_channel_index=0):
        return _scale(raw_waveforms, self._spike_channels[spike_channel_index].stream, dtype)

    # ---- events ---------------------------------------------------------------------------------------
    def _event(self, event_channel_index):
        event = self._events[event_channel_index]
        if event.times is None:
            self._read_bit_changes(event.stream)
        return event

    def _event_count(self, block_index, seg_index, event_channel_index):
        if self._bounds.size == 1:
            return self._events[event_channel_index].count
        event = self._event(event_channel_index)
        return int(np.count_nonzero(self._within(event.times, seg_index, None, None)))

    def _get_event_timestamps(self, block_index, seg_index, event_channel_index, t_start, t_stop):
        event = self._event(event_channel_index)
        keep = self._within(event.times, seg_index, t_start, t_stop)
        return event.times[keep], None, event.labels[keep]

    def _rescale_event_timestamp(self, event_timestamps, dtype, event_channel_index=0):
        return (event_timestamps / 1e9).astype(dtype)

    def _rescale_epoch_duration(self, raw_duration, dtype, event_channel_index=0):
        return (raw_duration / 1e9).astype(dtype)


class KvdIO(KvdRawIO, BaseFromRaw):
    """Neo's reader of a recording: read_block(lazy=...) and read_segment(...) give Neo objects."""
    name = "KvdIO"
    _prefered_signal_group_mode = "group-by-same-units"

    def __init__(self, filename=""):
        KvdRawIO.__init__(self, filename=filename)
        BaseFromRaw.__init__(self, filename)

    def read_segment(self, *args, **kwargs):
        """Neo's read_segment. The signals it loads are read as values, scaled by the library as it reads them
        (the same values), without an array of words in between."""
        self._reading.scaled = True
        try:
            return BaseFromRaw.read_segment(self, *args, **kwargs)
        finally:
            self._reading.scaled = False
