"""Recordings of microelectrode arrays (*.kvd) as numpy arrays, on the nsKVDLibrary shared object.

    import kvd
    with kvd.open("recording.kvd") as rec:
        s = rec.stream("elec0001")
        words = s.read(0, 25000)                 # frames x channels, uint16
        volts = s.read_time(1.0, 2.0, scaled=True)

kvd.neo holds a Neo reader (KvdRawIO, KvdIO); Stream.to_dask gives a dask array.
"""
from kvd import _lib
from kvd._lib import KvdError
from kvd.recording import Channel, Recording, Stream, open

__version__ = "1.0.0"
library_path = _lib.path
library_version = _lib.lib.kvd_version().decode()

__all__ = ["open", "Recording", "Stream", "Channel", "KvdError", "library_path", "library_version"]
