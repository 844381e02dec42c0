"""Streams as dask arrays: a per-channel statistic on the threaded scheduler and on a local cluster of
processes, against numpy."""
import pickle

import numpy as np
import pytest

da = pytest.importorskip("dask.array")

import kvd  # noqa: E402


@pytest.mark.parametrize("name,key,chunk_frames", [("sample.kvd", "elec0001", None), ("sample.kvd", "filt0001", 3001),
                                                   ("triggered.kvd", "elec0001", 128)])
def test_threaded(folder, name, key, chunk_frames):
    with kvd.open(folder / name) as rec:
        s = rec.stream(key)
        words, values = s.read(), s.read(scaled=True)
        array, scaled = s.to_dask(chunk_frames), s.to_dask(chunk_frames, scaled=True)
    assert array.shape == words.shape and array.dtype == np.uint16
    np.testing.assert_allclose(array.std(axis=0).compute(scheduler="threads"), words.std(axis=0), rtol=1e-9)
    np.testing.assert_array_equal(array[17:1000:7, [1, 0]].compute(), words[17:1000:7][:, [1, 0]])
    np.testing.assert_array_equal(pickle.loads(pickle.dumps(array)).compute(scheduler="sync"), words)
    np.testing.assert_array_equal(scaled.compute(), values)  # the recording is closed: the tasks open it


def test_distributed(folder):
    """The means of every channel of a folder's recordings, computed by worker processes."""
    distributed = pytest.importorskip("distributed")
    paths = [folder / name for name in ("sample.kvd", "continuous.kvd", "streams.kvd")]
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None)
    with cluster, distributed.Client(cluster) as client:
        arrays, expected = [], []
        for path in paths:
            with kvd.open(path) as rec:
                arrays.append(rec.stream("elec0001").to_dask(chunk_frames=700).mean(axis=0))
                expected.append(rec.stream("elec0001").read().mean(axis=0))
        for mine, theirs in zip(client.compute(arrays, sync=True), expected):
            np.testing.assert_allclose(mine, theirs, rtol=1e-12)
