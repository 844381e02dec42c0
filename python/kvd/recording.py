"""Recordings, their streams and channels, read into numpy arrays through the array interface."""
import ctypes as C
import datetime
import json
import operator
import os
import threading
from contextlib import contextmanager
from dataclasses import dataclass
from typing import Optional

import numpy as np

from kvd import _lib
from kvd._lib import KvdError, check, lib, pointer, text

_CONTENT = {_lib.CONTENT_OTHER: "other", _lib.CONTENT_FRAMES: "frames", _lib.CONTENT_SPIKES: "spikes",
            _lib.CONTENT_TRIGGERS: "triggers"}
_EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)

SPIKES = np.dtype([("time", "f8"), ("channel", "i4"), ("hwid", "i4"), ("unit", "i4"), ("pre_samples", "i4")])
TRIGGERS = np.dtype([("time", "f8"), ("value", "u2"), ("trial", "u2"), ("stimulus", "u2")])
DIGITAL_EVENTS = np.dtype([("time", "f8"), ("bit", "i4"), ("level", "i4"), ("channel", "i4"), ("frame", "i8")])
SWEEPS = np.dtype([("start", "f8"), ("end", "f8"), ("first_frame", "i8"), ("n_frames", "i8")])
LAYOUT = np.dtype([("hwid", "i4"), ("name", "U64"), ("x", "i4"), ("y", "i4"), ("z", "i4"), ("kind", "i4"),
                   ("array", "i4"), ("connected", "?")])


def open(path):
    """Opens a recording: a kvd.Recording, also usable as a context manager."""
    return Recording(path)


class _Handle:
    """The library's handle of an open file, shared by the calls of any thread. Closing waits for no one:
    the handle is freed when the last call under way returns, and calls made later raise KvdError."""

    def __init__(self, path):
        self.path = path
        self._lock = threading.Lock()
        self._users = 0
        self._closing = False
        handle = C.c_void_p()
        check(lib.kvd_open(os.fsencode(path), C.byref(handle)), path)
        self._pointer = handle

    @contextmanager
    def use(self):
        with self._lock:
            if self._closing:
                raise KvdError(f"{self.path}: the recording is closed", filename=self.path)
            self._users += 1
        try:
            yield self._pointer
        finally:
            with self._lock:
                self._users -= 1
                last = self._closing and self._users == 0
            if last:
                lib.kvd_close(self._pointer)

    def close(self):
        with self._lock:
            if self._closing:
                return
            self._closing = True
            last = self._users == 0
        if last:
            lib.kvd_close(self._pointer)

    @property
    def closed(self):
        return self._closing

    def call(self, function, *args):
        """Calls function(handle, *args) and returns its checked result."""
        with self.use() as handle:
            return check(function(handle, *args), self.path)


@dataclass(frozen=True)
class Channel:
    """A channel of a stream: its column in the stream's arrays (`index`), its label and hardware number,
    and where the layout places its electrode (x and y in micrometres, None where the layout does not)."""
    index: int
    label: str
    id: int
    hwid: int
    group: int
    gain: int
    electrode: str
    x: Optional[int]
    y: Optional[int]
    low_hz: float
    high_hz: float


class Stream:
    """A stream of a recording. Streams of sample frames (content "frames") read as frames x channels arrays;
    spike, trigger and digital streams also through the recording's event readers."""

    def __init__(self, recording, info):
        self.recording = recording
        self.index = info.index
        self.buffer_id = text(info.buffer_id)
        self.kind = text(info.kind)
        self.name = text(info.name)
        self.units = text(info.units)
        self.content = _CONTENT.get(info.content, "other")
        self.digital = bool(info.digital)
        self.n_channels = info.channel_count
        self.sampling_rate = info.millisamples_per_second / 1000.0
        self.n_frames = info.frame_count
        self.t_start = info.first_frame_ns / 1e9
        self.ad_zero, self.ad_bits = info.ad_zero, info.ad_bits
        self.gain = 1.0 if self.digital else info.units_per_ad
        self.offset = 0.0 if self.digital else -info.ad_zero * info.units_per_ad
        self._channels = None
        self._sweeps = None

    def __repr__(self):
        return (f"<kvd.Stream {self.index} {self.buffer_id} ({self.kind}): {self.n_channels} channels, "
                f"{self.n_frames} frames at {self.sampling_rate:g} Hz>")

    # ---- array-like: shape, dtype and slicing of the stored words -------------------------------------
    @property
    def shape(self):
        return (self.n_frames, self.n_channels)

    dtype = np.dtype(np.uint16)
    ndim = 2

    def __len__(self):
        return self.n_frames

    def __getitem__(self, key):
        """Frames by an index or a slice, channels as read() takes them (an index alone drops its axis)."""
        return self.select(key)

    def select(self, key, scaled=False):
        """Stream[key], of words or (scaled) of values."""
        rows, columns = key if isinstance(key, tuple) else (key, slice(None))
        single = isinstance(columns, (int, np.integer, str))
        if isinstance(rows, (int, np.integer)):
            data = self.read(rows, rows + 1 or None, columns, scaled)[0]
        elif isinstance(rows, slice):
            start, stop, step = rows.indices(self.n_frames)
            low, high = (start, max(start, stop)) if step > 0 else (stop + 1, max(stop, start) + 1)
            data = self.read(low, high, columns, scaled)
            data = data[::step] if step > 0 else data[::-1][::-step]
        else:
            raise TypeError("frames are chosen by an integer or a slice")
        return data[..., 0] if single else data

    # ---- description ----------------------------------------------------------------------------------
    @property
    def channels(self):
        """The channels, in column order: a list of kvd.Channel."""
        if self._channels is None:
            channels = []
            for c in range(self.n_channels):
                info = _lib.ChannelInfo(size=C.sizeof(_lib.ChannelInfo))
                self.recording._handle.call(lib.kvd_get_channel_info, self.index, c, C.byref(info))
                placed = bool(info.has_position)
                channels.append(Channel(c, text(info.label), info.id, info.hwid, info.group, info.gain,
                                        text(info.electrode), info.x_um if placed else None,
                                        info.y_um if placed else None, info.low_hz, info.high_hz))
            self._channels = channels
        return self._channels

    @property
    def settings(self):
        """The stream's information block (a dict keyed as kvdinfo --json keys it), or None."""
        return self.recording.description["streams"][self.index]["info"]

    @property
    def event_count(self):
        """Spikes, triggers or bit changes of the stream (counted on first use)."""
        return self.recording._handle.call(lib.kvd_count_events, self.index)

    @property
    def samples_per_event(self):
        """Spike streams: the words of the longest cut-out (counting the spikes on first use); 0 otherwise."""
        if self.content != "spikes":
            return 0
        self.event_count  # counts them
        info = _lib.StreamInfo(size=C.sizeof(_lib.StreamInfo))
        self.recording._handle.call(lib.kvd_get_stream_info, self.index, C.byref(info))
        return max(0, info.samples_per_event)

    @property
    def frames_per_chunk(self):
        """Frames of the stream's first data chunk (0 without chunks): reads of whole chunks read the least."""
        return self.recording._handle.call(lib.kvd_frames_per_chunk, self.index)

    def bit_change_counts(self):
        """How often each bit of each channel of a digital stream changes: channels x 16 (bit 0 first)."""
        counts = np.zeros((self.n_channels, 16), dtype=np.int64)
        self.recording._handle.call(lib.kvd_count_bit_changes, self.index, counts.ctypes.data)
        return counts

    @property
    def sweeps(self):
        """The sweeps of a triggered recording with this stream's frames: start and end (s), first_frame and
        n_frames; empty in continuous recordings."""
        if self._sweeps is None:
            self._sweeps = self.recording._read_sweeps(self.index)
        return self._sweeps

    # ---- frames ---------------------------------------------------------------------------------------
    def column_indexes(self, channels):
        """Channel indexes for `channels` (None, an index, a label, a slice or a list of indexes and labels)
        as an int32 array, or None for every channel in order."""
        k = self.n_channels
        if channels is None:
            return None
        if isinstance(channels, slice) or (isinstance(channels, np.ndarray) and channels.dtype == bool):
            picked = np.ascontiguousarray(np.arange(k, dtype=np.int32)[channels])
        else:
            items = [channels] if isinstance(channels, (str, int, np.integer)) else list(channels)
            picked = np.empty(len(items), dtype=np.int32)
            labels = None
            for j, item in enumerate(items):
                if isinstance(item, str):
                    labels = labels or {c.label: c.index for c in reversed(self.channels)}
                    if item not in labels:
                        raise KvdError(f"{self.buffer_id} has no channel labelled {item!r}", _lib.ECHANNEL)
                    picked[j] = labels[item]
                else:
                    index = operator.index(item)
                    if not -k <= index < 1 << 31:  # the library refuses the others past the channels
                        raise KvdError(f"channel {index} does not exist: {self.buffer_id} has {k} channels",
                                       _lib.ECHANNEL)
                    picked[j] = index + k if index < 0 else index
        if picked.size == k and np.array_equal(picked, np.arange(k)):
            return None
        if picked.size == 0:
            raise KvdError(f"no channels of {self.buffer_id} chosen", _lib.ECHANNEL)
        return picked

    def read(self, start=0, stop=None, channels=None, scaled=False):
        """Frames [start, stop) (negative values count from the end) of the channels chosen: a C-ordered
        frames x channels array of the stored words (uint16), or with `scaled` float32 values in
        `units` (word * gain + offset; the words themselves for digital streams)."""
        n = self.n_frames
        start = n if start is None else operator.index(start)
        stop = n if stop is None else operator.index(stop)
        start, stop = start + n if start < 0 else start, stop + n if stop < 0 else stop
        columns = self.column_indexes(channels)
        width = self.n_channels if columns is None else columns.size
        out = np.empty((max(0, stop - start), width), dtype=np.float32 if scaled else np.uint16)
        function = lib.kvd_read_frames_scaled if scaled else lib.kvd_read_frames
        self.recording._handle.call(function, self.index, start, stop - start, pointer(columns),
                                    0 if columns is None else columns.size, out.ctypes.data)
        return out

    def times(self, start=0, stop=None):
        """The time (s since the start of the recording) of each of frames [start, stop): at the stream's rate,
        sweep by sweep in triggered recordings."""
        stop = self.n_frames if stop is None else stop
        frames = np.arange(start, max(start, stop))
        sweeps = self.sweeps
        if sweeps.size == 0:
            return self.t_start + frames / self.sampling_rate
        k = np.clip(np.searchsorted(sweeps["first_frame"], frames, side="right") - 1, 0, None)
        return sweeps["start"][k] + (frames - sweeps["first_frame"][k]) / self.sampling_rate

    def frame_at(self, t):
        """The first frame at or after `t` seconds since the start of the recording (n_frames when none)."""
        sweeps = self.sweeps
        if sweeps.size == 0:
            return int(min(max(np.ceil((t - self.t_start) * self.sampling_rate - 1e-6), 0), self.n_frames))
        k = np.searchsorted(sweeps["end"], t, side="right")
        if k == sweeps.size:
            return self.n_frames
        offset = np.ceil((t - sweeps["start"][k]) * self.sampling_rate - 1e-6)
        return int(sweeps["first_frame"][k] + min(max(offset, 0), sweeps["n_frames"][k]))

    def read_time(self, t0, t1, channels=None, scaled=False):
        """The frames from t0 up to t1 (seconds since the start of the recording), as read()."""
        start = self.frame_at(t0)
        return self.read(start, max(start, self.frame_at(t1)), channels, scaled)

    def to_dask(self, chunk_frames=None, scaled=False):
        """A dask array of the words (float32 values with `scaled`), chunked along the frames. Its tasks open
        the file themselves, so that it computes on any scheduler, processes and clusters included."""
        from kvd._dask import stream_array
        return stream_array(self, chunk_frames, scaled)


class Recording:
    """An open recording. Its calls may come from any thread; close() frees it once the calls under way
    have returned, and later calls raise KvdError."""

    def __init__(self, path):
        self.path = str(path)
        self._handle = _Handle(self.path)
        try:
            info = _lib.FileInfo(size=C.sizeof(_lib.FileInfo))
            self._handle.call(lib.kvd_get_file_info, C.byref(info))
            self.mode = "triggered" if info.mode == _lib.TRIGGERED else "continuous"
            self.start_ns = info.start_ns
            self.start = _EPOCH + datetime.timedelta(microseconds=info.start_ns // 1000)
            self.duration = info.duration_ns / 1e9
            self.comment = text(info.comment)
            self.program = text(info.program)
            self.n_sweeps = info.sweep_count
            self._layout_count = info.layout_count
            self.streams = []
            for i in range(info.stream_count):
                stream = _lib.StreamInfo(size=C.sizeof(_lib.StreamInfo))
                self._handle.call(lib.kvd_get_stream_info, i, C.byref(stream))
                self.streams.append(Stream(self, stream))
        except BaseException:
            self._handle.close()
            raise
        self._description = None

    def __repr__(self):
        state = "closed " if self.closed else ""
        return f"<kvd.Recording {state}{self.path!r}: {self.mode}, {self.duration:g} s, {len(self.streams)} streams>"

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        handle = getattr(self, "_handle", None)
        if handle is not None:
            try:
                handle.close()
            except Exception:  # the interpreter is shutting down
                pass

    def close(self):
        self._handle.close()

    @property
    def closed(self):
        return self._handle.closed

    def stream(self, key):
        """A stream by index, by buffer ID or by name (the first that has it)."""
        if isinstance(key, Stream):
            return key
        if isinstance(key, (int, np.integer)):
            if not -len(self.streams) <= key < len(self.streams):
                raise KvdError(f"stream {key} does not exist: the recording has {len(self.streams)} streams",
                               _lib.ESTREAM)
            return self.streams[key]
        return self.streams[self._handle.call(lib.kvd_find_stream, str(key).encode("latin-1"))]

    # ---- events ---------------------------------------------------------------------------------------
    def _read_events(self, key, function, dtype, start=0, stop=None, *extra):
        stream = self.stream(key)
        n = self._handle.call(lib.kvd_count_events, stream.index)
        stop = n if stop is None else min(stop, n)
        raw = np.empty(max(0, stop - start), dtype=dtype)
        got = self._handle.call(function, stream.index, start, raw.size, pointer(raw), *extra)
        return stream, raw[:got]

    def spikes(self, key, start=0, stop=None):
        """Spikes [start, stop) of a spike stream in file order: time (s, of the cut-out's first word), channel
        (index in the stream), hwid, unit, and pre_samples (words of the cut-out before the detection)."""
        _, raw = self._read_events(key, lib.kvd_read_spikes, _lib.SPIKE, start, stop, None, 0)
        out = np.empty(raw.size, dtype=SPIKES)
        out["time"] = raw["time_ns"] / 1e9
        for name in ("channel", "hwid", "unit", "pre_samples"):
            out[name] = raw[name]
        return out

    def spike_waveforms(self, key, start=0, stop=None, samples=None):
        """The cut-outs of spikes [start, stop): a spikes x samples array of words, each cut-out cut to
        `samples` words (default: the longest) or filled up with the stream's zero word."""
        stream = self.stream(key)
        n = self._handle.call(lib.kvd_count_events, stream.index)
        stop = n if stop is None else min(stop, n)
        if samples is None:
            info = _lib.StreamInfo(size=C.sizeof(_lib.StreamInfo))
            self._handle.call(lib.kvd_get_stream_info, stream.index, C.byref(info))
            samples = max(0, info.samples_per_event)
        out = np.empty((max(0, stop - start), samples), dtype=np.uint16)
        got = self._handle.call(lib.kvd_read_spikes, stream.index, start, out.shape[0], None, pointer(out), samples)
        return out[:got]

    def triggers(self, key, start=0, stop=None):
        """Trigger events [start, stop): time (s), value, trial and stimulus."""
        _, raw = self._read_events(key, lib.kvd_read_triggers, _lib.TRIGGER, start, stop)
        out = np.empty(raw.size, dtype=TRIGGERS)
        out["time"] = raw["time_ns"] / 1e9
        for name in ("value", "trial", "stimulus"):
            out[name] = raw[name]
        return out

    def digital_events(self, key, start=0, stop=None):
        """The bit changes [start, stop) of a digital stream, by frame, channel and bit: time (s), bit, the
        new level, channel and frame."""
        _, raw = self._read_events(key, lib.kvd_read_bit_changes, _lib.BIT_CHANGE, start, stop)
        out = np.empty(raw.size, dtype=DIGITAL_EVENTS)
        out["time"] = raw["time_ns"] / 1e9
        for name in ("bit", "level", "channel", "frame"):
            out[name] = raw[name]
        return out

    # ---- sweeps, layout, settings ---------------------------------------------------------------------
    def _read_sweeps(self, stream):
        raw = np.empty(max(0, self.n_sweeps), dtype=_lib.SWEEP)
        got = self._handle.call(lib.kvd_read_sweeps, stream, 0, raw.size, pointer(raw))
        out = np.empty(got, dtype=SWEEPS)
        out["start"], out["end"] = raw["start_ns"][:got] / 1e9, raw["end_ns"][:got] / 1e9
        out["first_frame"], out["n_frames"] = raw["first_frame"][:got], raw["frame_count"][:got]
        return out

    @property
    def sweeps(self):
        """Triggered recordings: start and end (s) of every sweep, with first_frame and n_frames of the first
        stream of frames (Stream.sweeps gives them for any stream); empty in continuous recordings."""
        frames = [s for s in self.streams if s.content == "frames"]
        return frames[0].sweeps if frames else self._read_sweeps(-1)

    @property
    def layout(self):
        """The electrodes of the layout by hardware number: hwid, name, x, y, z (micrometres), kind (0
        electrode, 1 analog, 2 digital input), array and connected; empty without a layout."""
        raw = np.empty(max(0, self._layout_count), dtype=_lib.ELECTRODE)
        got = self._handle.call(lib.kvd_read_layout, 0, raw.size, pointer(raw))
        raw = raw[:got]
        out = np.empty(got, dtype=LAYOUT)
        for name in ("hwid", "x", "y", "z", "kind", "array", "connected"):
            out[name] = raw[name]
        out["name"] = [text(name) for name in raw["name"]]
        return out

    @property
    def description(self):
        """The recording as kvdinfo --json describes it (without event records): a dict."""
        if self._description is None:
            size = self._handle.call(lib.kvd_describe_json, None, 0)
            buffer = C.create_string_buffer(size + 1)
            self._handle.call(lib.kvd_describe_json, buffer, size + 1)
            self._description = json.loads(buffer.raw[:size].decode("utf-8"))
        return self._description

    @property
    def settings(self):
        """The information blocks of the streams that have one, by buffer ID, keyed as kvdinfo --json keys
        them; the stimulator's settings under "stimulator" when the file holds them."""
        doc = self.description
        blocks = {s["buffer_id"]: s["info"] for s in doc["streams"] if s.get("info") is not None}
        if doc.get("stimulator") is not None:
            blocks["stimulator"] = doc["stimulator"]
        return blocks
