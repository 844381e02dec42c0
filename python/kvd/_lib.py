"""The shared object and its array interface (kvd.h) through ctypes: where the library is found, the
structures, the prototypes, and the one way failures become exceptions.

ctypes releases the interpreter lock for the length of every call, so reads from several threads run in
parallel in the library.
"""
import ctypes as C
import os
from pathlib import Path

import numpy as np

SONAME = "nsKVDLibrary.so.1"

# Results (kvd.h).
OK = 0
EFILE = -2
ESTREAM = -4
ECHANNEL = -5
ERANGE = -6

CONTINUOUS, TRIGGERED = 0, 1
CONTENT_OTHER, CONTENT_FRAMES, CONTENT_SPIKES, CONTENT_TRIGGERS = 0, 1, 2, 3


class KvdError(OSError):
    """A failure of the library (its text, and its result code in `code`), or a use of a closed recording."""

    def __init__(self, message, code=None, filename=None):
        super().__init__(message)
        self.code = code
        self.filename = filename

    def __str__(self):
        return self.args[0]


def _candidates():
    """The libraries to try, in order: KVD_LIBRARY alone when it is set; else the build tree of the checkout
    this package lies in, the library installed with the package, and the soname."""
    named = os.environ.get("KVD_LIBRARY")
    if named:
        return [named]
    found = []
    root = Path(__file__).resolve().parent.parent.parent
    if (root / "include" / "kvd.h").is_file() and (root / "build" / SONAME).exists():
        found.append(str(root / "build" / SONAME))
    try:
        from kvd._installed import LIBRARY  # written by `cmake --install`
        found.append(LIBRARY)
    except ImportError:
        pass
    found.append(SONAME)
    return found


class FileInfo(C.Structure):
    _fields_ = [("size", C.c_uint32), ("mode", C.c_int32), ("start_ns", C.c_int64), ("duration_ns", C.c_int64),
                ("stream_count", C.c_int32), ("sweep_count", C.c_int32), ("millisamples_per_second", C.c_int32),
                ("header_version", C.c_int32), ("source_type", C.c_int32), ("layout_count", C.c_int32),
                ("layout_stored", C.c_int32), ("reserved", C.c_int32), ("comment", C.c_char * 528),
                ("program", C.c_char * 64)]


class StreamInfo(C.Structure):
    _fields_ = [("size", C.c_uint32), ("index", C.c_int32), ("buffer_id", C.c_char * 16), ("kind", C.c_char * 16),
                ("name", C.c_char * 264), ("units", C.c_char * 16), ("channel_count", C.c_int32),
                ("millisamples_per_second", C.c_int32), ("content", C.c_int32), ("ad_zero", C.c_uint16),
                ("ad_bits", C.c_uint16), ("units_per_ad", C.c_double), ("frame_count", C.c_int64),
                ("first_frame_ns", C.c_int64), ("event_count", C.c_int64), ("samples_per_event", C.c_int32),
                ("digital", C.c_int32)]


class ChannelInfo(C.Structure):
    _fields_ = [("size", C.c_uint32), ("index", C.c_int32), ("label", C.c_char * 264), ("id", C.c_int32),
                ("hwid", C.c_int32), ("group", C.c_int32), ("gain", C.c_int32), ("low_hz", C.c_double),
                ("high_hz", C.c_double), ("electrode", C.c_char * 264), ("has_position", C.c_int32),
                ("x_um", C.c_int32), ("y_um", C.c_int32), ("reserved", C.c_int32)]


# The records read into arrays, as numpy dtypes with the C layouts.
ELECTRODE = np.dtype([("hwid", "<i4"), ("kind", "<i4"), ("array", "<i4"), ("connected", "<i4"), ("x", "<i4"),
                      ("y", "<i4"), ("z", "<i4"), ("reserved", "<i4"), ("name", "S264")])
SWEEP = np.dtype([("start_ns", "<i8"), ("end_ns", "<i8"), ("first_frame", "<i8"), ("frame_count", "<i8")])
SPIKE = np.dtype([("time_ns", "<i8"), ("channel", "<i4"), ("hwid", "<i4"), ("unit", "<i4"), ("samples", "<i4"),
                  ("pre_samples", "<i4"), ("reserved", "<i4")])
TRIGGER = np.dtype([("time_ns", "<i8"), ("value", "<u2"), ("slope", "<u2"), ("trial", "<u2"), ("stimulus", "<u2")])
BIT_CHANGE = np.dtype([("time_ns", "<i8"), ("frame", "<i8"), ("channel", "<i4"), ("bit", "<i4"), ("level", "<i4"),
                       ("reserved", "<i4")])

_handle = C.c_void_p
_i32, _i64 = C.c_int32, C.c_int64
_PROTOTYPES = {
    "kvd_version": (C.c_char_p, []),
    "kvd_last_error": (C.c_char_p, []),
    "kvd_open": (C.c_int, [C.c_char_p, C.POINTER(_handle)]),
    "kvd_close": (None, [_handle]),
    "kvd_get_file_info": (C.c_int, [_handle, C.POINTER(FileInfo)]),
    "kvd_get_stream_info": (C.c_int, [_handle, _i32, C.POINTER(StreamInfo)]),
    "kvd_get_channel_info": (C.c_int, [_handle, _i32, _i32, C.POINTER(ChannelInfo)]),
    "kvd_read_layout": (_i32, [_handle, _i32, _i32, C.c_void_p]),
    "kvd_read_sweeps": (_i32, [_handle, _i32, _i32, _i32, C.c_void_p]),
    "kvd_read_frames": (_i64, [_handle, _i32, _i64, _i64, C.c_void_p, _i32, C.c_void_p]),
    "kvd_read_frames_scaled": (_i64, [_handle, _i32, _i64, _i64, C.c_void_p, _i32, C.c_void_p]),
    "kvd_frames_per_chunk": (_i64, [_handle, _i32]),
    "kvd_count_events": (_i64, [_handle, _i32]),
    "kvd_count_bit_changes": (C.c_int, [_handle, _i32, C.c_void_p]),
    "kvd_read_spikes": (_i64, [_handle, _i32, _i64, _i64, C.c_void_p, C.c_void_p, _i32]),
    "kvd_read_triggers": (_i64, [_handle, _i32, _i64, _i64, C.c_void_p]),
    "kvd_read_bit_changes": (_i64, [_handle, _i32, _i64, _i64, C.c_void_p]),
    "kvd_describe_json": (_i64, [_handle, C.c_char_p, C.c_size_t]),
}


def _load():
    failures = []
    for candidate in _candidates():
        try:
            lib = C.CDLL(candidate)
        except OSError as e:
            failures.append(str(e))
            continue
        for name, (restype, argtypes) in _PROTOTYPES.items():
            function = getattr(lib, name)
            function.restype, function.argtypes = restype, argtypes
        return lib, candidate
    raise ImportError("kvd cannot load the nsKVDLibrary shared object (set KVD_LIBRARY to its path): " +
                      "; ".join(failures))


lib, path = _load()


def text(raw):
    """A text field of the library (ISO 8859-1) as a str."""
    return raw.decode("latin-1")


def check(result, filename=None):
    """Returns a non-negative result; raises KvdError with the calling thread's last failure otherwise."""
    if result < 0:
        raise KvdError(lib.kvd_last_error().decode("utf-8", "replace"), result, filename)
    return result


def pointer(array):
    """The address of a numpy array's data for a void* parameter (None for no array)."""
    return None if array is None else array.ctypes.data
