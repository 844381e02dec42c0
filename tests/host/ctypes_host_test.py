"""A Python host of the shared object, as analysis scripts use it: ctypes with ordinary (unpacked)
structure declarations, every exported function called by name on the sample recording.

Usage: ctypes_host_test.py LIBRARY KVDSYNTH
"""
import ctypes as C
import os
import subprocess
import sys
import tempfile
import unittest

LIB_PATH, SYNTH = sys.argv[1], sys.argv[2]
del sys.argv[1:3]

u32, i32, dbl = C.c_uint32, C.c_int32, C.c_double


class FILEDESC(C.Structure):
    _fields_ = [("szDescription", C.c_char * 32), ("szExtension", C.c_char * 8),
                ("szMacCodes", C.c_char * 8), ("szMagicCode", C.c_char * 16)]


class LIBRARYINFO(C.Structure):
    _fields_ = [("dwLibVersionMaj", u32), ("dwLibVersionMin", u32), ("dwAPIVersionMaj", u32),
                ("dwAPIVersionMin", u32), ("szDescription", C.c_char * 64), ("szCreator", C.c_char * 64),
                ("dwTime_Year", u32), ("dwTime_Month", u32), ("dwTime_Day", u32), ("dwFlags", u32),
                ("dwMaxFiles", u32), ("dwFileDescCount", u32), ("FileDesc", FILEDESC * 16)]


class FILEINFO(C.Structure):
    _fields_ = [("szFileType", C.c_char * 32), ("dwEntityCount", u32), ("dTimeStampResolution", dbl),
                ("dTimeSpan", dbl), ("szAppName", C.c_char * 64), ("dwTime_Year", u32), ("dwTime_Month", u32),
                ("dwTime_DayofWeek", u32), ("dwTime_Day", u32), ("dwTime_Hour", u32), ("dwTime_Min", u32),
                ("dwTime_Sec", u32), ("dwTime_MilliSec", u32), ("szFileComment", C.c_char * 256)]


class ENTITYINFO(C.Structure):
    _fields_ = [("szEntityLabel", C.c_char * 32), ("dwEntityType", u32), ("dwItemCount", u32)]


class EVENTINFO(C.Structure):
    _fields_ = [("dwEventType", u32), ("dwMinDataLength", u32), ("dwMaxDataLength", u32),
                ("szCSVDesc", C.c_char * 128)]


class ANALOGINFO(C.Structure):
    _fields_ = [("dSampleRate", dbl), ("dMinVal", dbl), ("dMaxVal", dbl), ("szUnits", C.c_char * 16),
                ("dResolution", dbl), ("dLocationX", dbl), ("dLocationY", dbl), ("dLocationZ", dbl),
                ("dLocationUser", dbl), ("dHighFreqCorner", dbl), ("dwHighFreqOrder", u32),
                ("szHighFilterType", C.c_char * 16), ("dLowFreqCorner", dbl), ("dwLowFreqOrder", u32),
                ("szLowFilterType", C.c_char * 16), ("szProbeInfo", C.c_char * 128)]


class SEGMENTINFO(C.Structure):
    _fields_ = [("dwSourceCount", u32), ("dwMinSampleCount", u32), ("dwMaxSampleCount", u32),
                ("dSampleRate", dbl), ("szUnits", C.c_char * 32)]


class SEGSOURCEINFO(C.Structure):
    _fields_ = [("dMinVal", dbl), ("dMaxVal", dbl), ("dResolution", dbl), ("dSubSampleShift", dbl),
                ("dLocationX", dbl), ("dLocationY", dbl), ("dLocationZ", dbl), ("dLocationUser", dbl),
                ("dHighFreqCorner", dbl), ("dwHighFreqOrder", u32), ("szHighFilterType", C.c_char * 16),
                ("dLowFreqCorner", dbl), ("dwLowFreqOrder", u32), ("szLowFilterType", C.c_char * 16),
                ("szProbeInfo", C.c_char * 128)]


class NEURALINFO(C.Structure):
    _fields_ = [("dwSourceEntityID", u32), ("dwSourceUnitID", u32), ("szProbeInfo", C.c_char * 128)]


ns = C.cdll.LoadLibrary(LIB_PATH)
SECONDS = 3
VOLTS_PER_AD = 1.25e-7


def check(result, what):
    if result != 0:
        raise AssertionError("%s returned %d" % (what, result))


def raw_samples(channel, first, count):
    out = subprocess.run([SYNTH, "--samples", str(channel), str(first), str(count)], check=True,
                         capture_output=True, text=True).stdout.split()
    return [int(v) for v in out]


class SampleRecordingHost(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.path = os.path.join(cls.dir.name, "sample.kvd")
        subprocess.run([SYNTH, "--seconds", str(SECONDS), cls.path], check=True)
        cls.h = u32(0)
        check(ns.ns_OpenFile(cls.path.encode(), C.byref(cls.h)), "ns_OpenFile")

    @classmethod
    def tearDownClass(cls):
        check(ns.ns_CloseFile(cls.h), "ns_CloseFile")
        cls.dir.cleanup()

    def entities(self):
        info = FILEINFO()
        check(ns.ns_GetFileInfo(self.h, C.byref(info), C.sizeof(info)), "ns_GetFileInfo")
        out = []
        for i in range(info.dwEntityCount):
            e = ENTITYINFO()
            check(ns.ns_GetEntityInfo(self.h, i, C.byref(e), C.sizeof(e)), "ns_GetEntityInfo")
            out.append(e)
        return out

    def test_library_info(self):
        info = LIBRARYINFO()
        check(ns.ns_GetLibraryInfo(C.byref(info), C.sizeof(info)), "ns_GetLibraryInfo")
        self.assertEqual((info.dwAPIVersionMaj, info.dwAPIVersionMin), (1, 3))
        self.assertEqual(info.szCreator, b"Korvex")
        self.assertEqual(info.FileDesc[0].szExtension, b"*.kvd")
        self.assertEqual(info.dwMaxFiles, 256)

    def test_file_info(self):
        info = FILEINFO()
        check(ns.ns_GetFileInfo(self.h, C.byref(info), C.sizeof(info)), "ns_GetFileInfo")
        self.assertTrue(info.szFileType.startswith(b"MEA cont El,Di"))
        self.assertAlmostEqual(info.dTimeStampResolution, 1 / 25000.0)
        self.assertAlmostEqual(info.dTimeSpan, SECONDS)
        self.assertEqual((info.dwTime_Year, info.dwTime_Month, info.dwTime_Day), (2026, 3, 14))
        self.assertTrue(info.szAppName.startswith(b"Vantrel "))

    def test_every_entity_through_every_function(self):
        kinds = {1: 0, 2: 0, 3: 0}
        for i, e in enumerate(self.entities()):
            kinds[e.dwEntityType] += 1
            if e.dwEntityType == 2:
                self.read_analog(i, e)
            elif e.dwEntityType == 1:
                self.read_events(i, e)
            elif e.dwEntityType == 3:
                self.read_segments(i, e)
            if e.dwItemCount:
                t = dbl()
                check(ns.ns_GetTimeByIndex(self.h, i, e.dwItemCount - 1, C.byref(t)), "ns_GetTimeByIndex")
                index = u32()
                check(ns.ns_GetIndexByTime(self.h, i, t, 0, C.byref(index)), "ns_GetIndexByTime")
                self.assertEqual(index.value, e.dwItemCount - 1)
        self.assertEqual(kinds[2], 61)  # 60 electrodes and the digital channel
        self.assertGreaterEqual(kinds[1], 16)
        neural = NEURALINFO()
        self.assertEqual(ns.ns_GetNeuralInfo(self.h, 0, C.byref(neural), C.sizeof(neural)), -5)

    def read_analog(self, i, e):
        info = ANALOGINFO()
        check(ns.ns_GetAnalogInfo(self.h, i, C.byref(info), C.sizeof(info)), "ns_GetAnalogInfo")
        self.assertEqual(info.dSampleRate, 25000.0)
        self.assertEqual(e.dwItemCount, SECONDS * 25000)
        data = (dbl * e.dwItemCount)()
        start = 0
        while start < e.dwItemCount:  # as hosts do: from start + *pdwContCount on until all is read
            cont = u32()
            check(ns.ns_GetAnalogData(self.h, i, start, e.dwItemCount - start, C.byref(cont),
                                      C.byref(data, start * 8)), "ns_GetAnalogData")
            self.assertGreater(cont.value, 0)
            start += cont.value
        if i == 0 or i == 59:
            raw = raw_samples(i, 12345, 20)
            got = [round(v / VOLTS_PER_AD) + 32768 for v in data[12345:12365]]
            self.assertEqual(got, raw)
        if info.szUnits == b"raw":
            self.assertEqual([int(v) for v in data[24998:25002]], raw_samples(60, 24998, 4))

    def read_events(self, i, e):
        info = EVENTINFO()
        check(ns.ns_GetEventInfo(self.h, i, C.byref(info), C.sizeof(info)), "ns_GetEventInfo")
        buffer = (C.c_uint8 * 8)()
        times = []
        for k in range(e.dwItemCount):
            t, size = dbl(), u32()
            check(ns.ns_GetEventData(self.h, i, k, C.byref(t), buffer, 8, C.byref(size)), "ns_GetEventData")
            self.assertEqual(size.value, info.dwMinDataLength)
            times.append(round(t.value, 6))
        if e.szEntityLabel.startswith(b"digi0001") and e.szEntityLabel.endswith(b" 00"):
            # Bit 0 marks one stimulus a second, 10 ms long; it is already set at the first sample.
            expected = []
            for s in range(SECONDS):
                if s:
                    expected.append(float(s))
                expected.append(s + 0.01)
            self.assertEqual(times, expected)
        self.assertEqual(times, sorted(times))

    def read_segments(self, i, e):
        info = SEGMENTINFO()
        check(ns.ns_GetSegmentInfo(self.h, i, C.byref(info), C.sizeof(info)), "ns_GetSegmentInfo")
        source = SEGSOURCEINFO()
        check(ns.ns_GetSegmentSourceInfo(self.h, i, 0, C.byref(source), C.sizeof(source)),
              "ns_GetSegmentSourceInfo")
        if e.dwItemCount == 0:
            return
        data = (dbl * max(info.dwMaxSampleCount, 1))()
        for k in range(e.dwItemCount):
            t, count, unit = dbl(), u32(), u32()
            check(ns.ns_GetSegmentData(self.h, i, k, C.byref(t), data, C.sizeof(data), C.byref(count),
                                       C.byref(unit)), "ns_GetSegmentData")
            self.assertTrue(info.dwMinSampleCount <= count.value <= info.dwMaxSampleCount)

    def test_errors_are_codes_with_texts(self):
        def last_error():
            text = C.create_string_buffer(256)
            check(ns.ns_GetLastErrorMsg(text, C.sizeof(text)), "ns_GetLastErrorMsg")
            return text.value.decode()
        e = ENTITYINFO()
        self.assertEqual(ns.ns_GetEntityInfo(0, 0, C.byref(e), C.sizeof(e)), -4)
        self.assertEqual(last_error(), "file handle 0 is not valid")
        self.assertEqual(ns.ns_GetEntityInfo(self.h, 100000, C.byref(e), C.sizeof(e)), -5)
        self.assertTrue(last_error().startswith("entity 100000 does not exist"))
        h = u32(9)
        self.assertEqual(ns.ns_OpenFile(b"/nonexistent/file.kvd", C.byref(h)), -3)
        self.assertEqual(h.value, 0)
        self.assertEqual(last_error(), "cannot open /nonexistent/file.kvd: No such file or directory")

    def test_exported_data(self):
        self.assertEqual(list((dbl * 2).in_dll(ns, "Bandstop_Frequencies")), [50.0, 60.0])
        self.assertEqual(list((dbl * 6).in_dll(ns, "Bandstop_Q_Factors")), [1.0, 2.0, 3.0, 4.0, 5.0, 10.0])


if __name__ == "__main__":
    unittest.main(verbosity=1)
