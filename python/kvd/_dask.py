"""Streams as dask arrays whose tasks open the file themselves.

A task holds the file's path, the stream's index and the file's size and modification time, nothing open:
it pickles to any process. Each process opens a file once and shares the opened recording among its
threads and tasks (the library reads one handle from many threads at once).
"""
import os
import threading
from collections import OrderedDict

import numpy as np

from kvd._lib import KvdError

# Bytes of a dask chunk by default: whole chunks of the recording up to this size. Pieces of this size are
# served again from the allocator's free memory (rather than fresh pages) once the first is freed.
CHUNK_BYTES = 8 << 20
# Recordings a process keeps open for the tasks.
KEEP_OPEN = 8

_lock = threading.Lock()
_open = OrderedDict()


def _forget_after_fork():
    # A forked child does not use the parent's handles (their locks may be held by the parent's threads).
    global _lock, _open
    _lock, _open = threading.Lock(), OrderedDict()


os.register_at_fork(after_in_child=_forget_after_fork)


def _identity(path):
    status = os.stat(path)
    return status.st_size, status.st_mtime_ns


def shared_recording(path, identity):
    """The process's open recording of `path`, opened on first use; raises KvdError when the file is no
    longer the one the task was made for."""
    from kvd.recording import Recording
    key = (path, identity)
    with _lock:
        recording = _open.get(key)
        if recording is not None:
            _open.move_to_end(key)
            return recording
    if _identity(path) != identity:
        raise KvdError(f"{path} has changed since the dask array was made", filename=path)
    recording = Recording(path)
    with _lock:
        recording = _open.setdefault(key, recording)
        _open.move_to_end(key)
        while len(_open) > KEEP_OPEN:
            _open.popitem(last=False)[1].close()
    return recording


class FrameSource:
    """The frames of one stream as dask reads them: shape, dtype and slicing, by path."""

    def __init__(self, stream, scaled):
        self.path = stream.recording.path
        self.identity = _identity(self.path)
        self.index = stream.index
        self.scaled = scaled
        self.shape = stream.shape
        self.dtype = np.dtype(np.float32 if scaled else np.uint16)
        self.ndim = 2

    def __getitem__(self, key):
        return shared_recording(self.path, self.identity).streams[self.index].select(key, self.scaled)


def default_chunk_frames(stream):
    """Frames of a chunk of the recording times the chunks that fit in CHUNK_BYTES."""
    per_chunk = max(1, stream.frames_per_chunk)
    frame_bytes = 2 * max(1, stream.n_channels)
    return per_chunk * max(1, CHUNK_BYTES // (per_chunk * frame_bytes))


def stream_array(stream, chunk_frames=None, scaled=False):
    import dask.array as da
    from dask.base import tokenize
    if stream.content != "frames":
        raise KvdError(f"{stream.buffer_id} holds no sample frames")
    source = FrameSource(stream, scaled)
    chunk_frames = int(chunk_frames or default_chunk_frames(stream))
    name = "kvd-" + tokenize(source.path, source.identity, source.index, scaled, chunk_frames)
    return da.from_array(source, chunks=(chunk_frames, -1), name=name, lock=False, asarray=False, fancy=False,
                         meta=np.empty((0, stream.n_channels), source.dtype))
