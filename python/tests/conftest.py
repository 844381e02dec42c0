"""Recordings for the tests, written once per session into a temporary folder: the kvdsynth sample (every
optional stream) and the builder's recordings of every kind. KVD_SYNTH and KVD_WRITE_RECORDINGS name the
programs (CTest sets them, with KVD_LIBRARY); from a checkout they default to the build tree."""
import os
import subprocess
from pathlib import Path

import pytest

BUILD = Path(__file__).resolve().parents[2] / "build"
BUILDER_FILES = ["continuous.kvd", "triggered.kvd", "streams.kvd", "sweeps.kvd"]


def program(variable, default):
    return os.environ.get(variable) or str(BUILD / default)


@pytest.fixture(scope="session")
def folder(tmp_path_factory):
    folder = tmp_path_factory.mktemp("recordings")
    subprocess.run([program("KVD_WRITE_RECORDINGS", "tests/support/kvd_write_recordings"), str(folder)], check=True)
    subprocess.run([program("KVD_SYNTH", "tools/kvdsynth"), "--seconds", "2", "--filter", "--detector", "--layout",
                    "--average", "--spike-parameters", str(folder / "sample.kvd")], check=True)
    return folder


@pytest.fixture(scope="session")
def sample(folder):
    return str(folder / "sample.kvd")


@pytest.fixture(scope="session", params=["sample.kvd"] + BUILDER_FILES)
def any_recording(request, folder):
    return str(folder / request.param)
