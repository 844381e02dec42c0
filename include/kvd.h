/* The array interface of nsKVDLibrary: whole streams of a recording as frames x channels arrays of the
 * stored 16-bit words (or scaled to floats), and events as arrays of records.
 *
 * A frame is one sample of every channel of a stream. Continuous streams (electrode, analog, filter,
 * channel-tool and digital data) are read by frame index; in a triggered recording a stream's frames are
 * those of every sweep, one sweep after another (kvd_read_sweeps tells where each sweep begins). Event
 * streams (spikes, triggers) and the bit changes of digital streams are read by event index, in file order.
 *
 * Results: every function that can fail returns a negative KVD_E* code and records a text for
 * kvd_last_error; successful calls return KVD_OK or a count (>= 0) and leave the text as it was.
 *
 * Structures that describe something carry a leading `size` member that the caller sets to
 * sizeof(the structure); the library fills as many of the members this header declares as that size
 * holds, so that later versions can append members. Records read into arrays (kvd_spike, ...) have
 * fixed layouts. Every structure is laid out alike on 32- and 64-bit platforms.
 *
 * Threads: calls on one handle may run concurrently from several threads; frames are read with positioned
 * reads, and no lock is held while samples are copied, so threads reading one handle share the work.
 * kvd_open may be called from any thread. kvd_close must be the last call on its handle, as fclose is. */
#ifndef NSKVD_KVD_H
#define NSKVD_KVD_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KVD_API_VERSION 1

/* Results. */
#define KVD_OK 0
#define KVD_EARGUMENT (-1) /* a null pointer, a negative or overflowing count, a structure size too small */
#define KVD_EFILE (-2)     /* the file cannot be opened or read */
#define KVD_EFORMAT (-3)   /* the file is not a recording, or its header is damaged */
#define KVD_ESTREAM (-4)   /* no such stream, or a stream that holds no data of the kind asked for */
#define KVD_ECHANNEL (-5)  /* no such channel */
#define KVD_ERANGE (-6)    /* frames, events or sweeps beyond those the stream has */
#define KVD_EDATA (-7)     /* the recording holds less than it announces, or its data are damaged */
#define KVD_ENOMEMORY (-8) /* not enough memory */
#define KVD_EINTERNAL (-9) /* a failure inside the library */

/* Recording modes. */
#define KVD_CONTINUOUS 0
#define KVD_TRIGGERED 1

/* What a stream holds, as this interface reads it (kvd_stream_info.content). */
#define KVD_CONTENT_OTHER 0    /* records this interface does not read (averaged sweeps, analyzer values) */
#define KVD_CONTENT_FRAMES 1   /* sample frames: kvd_read_frames; digital streams also kvd_read_bit_changes */
#define KVD_CONTENT_SPIKES 2   /* spike cut-outs: kvd_read_spikes */
#define KVD_CONTENT_TRIGGERS 3 /* trigger events: kvd_read_triggers */

typedef struct kvd_file kvd_file;

typedef struct kvd_file_info {
    uint32_t size;       /* set by the caller: sizeof(kvd_file_info) */
    int32_t mode;        /* KVD_CONTINUOUS or KVD_TRIGGERED */
    int64_t start_ns;    /* start of the recording, UTC, nanoseconds since 1970-01-01 */
    int64_t duration_ns; /* from the start to the stop of the recording */
    int32_t stream_count;
    int32_t sweep_count;             /* triggered recordings: the sweeps; continuous: 0 */
    int32_t millisamples_per_second; /* the recording's sample rate in the file header */
    int32_t header_version;          /* of the file header */
    int32_t source_type;             /* 0 linear, 1 60-electrode array, 2 two arrays, 3 layout stored in the file */
    int32_t layout_count;            /* entries of the electrode layout (kvd_read_layout); 0 without one */
    int32_t layout_stored;           /* 1: the file stores its layout; 0: the standard layout of its source type */
    int32_t reserved;
    char comment[528]; /* the recording's comment, NUL-terminated, ISO 8859-1 */
    char program[64];  /* the writing program and its version */
} kvd_file_info;

typedef struct kvd_stream_info {
    uint32_t size;      /* set by the caller: sizeof(kvd_stream_info) */
    int32_t index;      /* position in the file, from 0 */
    char buffer_id[16]; /* e.g. "elec0001" */
    char kind[16];      /* the data type: "analog", "digital", "filter", "chat", "trigger", "spikes", ... */
    char name[264];     /* e.g. "Electrode Raw Data" */
    char units[16];     /* unit of scaled values: "V" (or the stream's own unit sign); "raw" for digital */
    int32_t channel_count;
    int32_t millisamples_per_second; /* sample rate x 1000, exact */
    int32_t content;                 /* KVD_CONTENT_* */
    uint16_t ad_zero;                /* the word that means 0 */
    uint16_t ad_bits;                /* resolution of the converter */
    double units_per_ad;             /* value = (word - ad_zero) x units_per_ad; digital: value = word */
    int64_t frame_count;             /* frames of the whole recording (triggered: of all sweeps); 0 for events */
    int64_t first_frame_ns;          /* time of frame 0 since the start of the recording */
    int64_t event_count;             /* spikes, triggers or bit changes; -1 until counted (kvd_count_events) */
    int32_t samples_per_event;       /* spikes: the longest cut-out; -1 until counted; 0 for other streams */
    int32_t digital;                 /* 1 for digital streams: the words are bit patterns, handed over unscaled */
} kvd_stream_info;

typedef struct kvd_channel_info {
    uint32_t size;   /* set by the caller: sizeof(kvd_channel_info) */
    int32_t index;   /* position in the stream, from 0: the column in the arrays of kvd_read_frames */
    char label[264]; /* the channel's name */
    int32_t id;
    int32_t hwid; /* hardware channel number */
    int32_t group;
    int32_t gain;  /* gain of the channel's amplifier */
    double low_hz; /* filter band */
    double high_hz;
    char electrode[264];  /* electrode name in the layout; "" when the layout has no entry for the channel */
    int32_t has_position; /* 1 when the layout places the channel's electrode */
    int32_t x_um;         /* electrode position on the array in micrometres */
    int32_t y_um;
    int32_t reserved;
} kvd_channel_info;

/* One entry of the electrode layout, by hardware channel number. */
typedef struct kvd_electrode {
    int32_t hwid;
    int32_t kind;      /* 0 electrode, 1 analog input, 2 digital input, -1 unknown */
    int32_t array;     /* the electrode array it belongs to, -1 none */
    int32_t connected; /* 1 when the channel was recorded */
    int32_t x_um;
    int32_t y_um;
    int32_t z_um;
    int32_t reserved;
    char name[264];
} kvd_electrode;

typedef struct kvd_sweep {
    int64_t start_ns; /* since the start of the recording */
    int64_t end_ns;
    int64_t first_frame; /* the sweep's first frame among the stream's frames */
    int64_t frame_count;
} kvd_sweep;

typedef struct kvd_spike {
    int64_t time_ns;     /* since the start of the recording */
    int32_t channel;     /* index of the spike's channel in the stream */
    int32_t hwid;        /* hardware channel number of that channel */
    int32_t unit;        /* unit of spike sorting (0 unsorted) */
    int32_t samples;     /* words of its cut-out */
    int32_t pre_samples; /* words of the cut-out before the detection (the time is that of the first word) */
    int32_t reserved;
} kvd_spike;

typedef struct kvd_trigger {
    int64_t time_ns; /* since the start of the recording */
    uint16_t value;  /* the trigger's value: the level it crossed, or the count of a manual trigger */
    uint16_t slope;  /* the detector's slope (its magnitude) */
    uint16_t trial;  /* trial and stimulus numbers, when the detector numbers trials; else 0 */
    uint16_t stimulus;
} kvd_trigger;

typedef struct kvd_bit_change {
    int64_t time_ns; /* since the start of the recording */
    int64_t frame;   /* the frame where the bit has its new level */
    int32_t channel; /* index of the digital channel in the stream */
    int32_t bit;     /* 0 to 15 */
    int32_t level;   /* the new level, 0 or 1 */
    int32_t reserved;
} kvd_bit_change;

#if defined(__GNUC__)
#define KVD_API __attribute__((visibility("default")))
#else
#define KVD_API
#endif

/* The library's version ("1.0.0") and the text of a result code. */
KVD_API const char* kvd_version(void);
KVD_API const char* kvd_strerror(int result);
/* The text of the calling thread's last failure (shared with ns_GetLastErrorMsg); "" while none failed.
 * Valid until the thread's next failing call. */
KVD_API const char* kvd_last_error(void);

/* Opens a recording (a regular file; FIFOs, devices and folders are refused): KVD_OK and a new handle in
 * *file, or a negative result with *file set to NULL. */
KVD_API int kvd_open(const char* path, kvd_file** file);
/* Closes the recording and frees the handle; NULL is ignored. */
KVD_API void kvd_close(kvd_file* file);

KVD_API int kvd_get_file_info(kvd_file* file, kvd_file_info* info);
KVD_API int kvd_get_stream_info(kvd_file* file, int32_t stream, kvd_stream_info* info);
KVD_API int kvd_get_channel_info(kvd_file* file, int32_t stream, int32_t channel, kvd_channel_info* info);
/* The index of the first stream whose buffer ID, or else whose name, is `key`. */
KVD_API int32_t kvd_find_stream(kvd_file* file, const char* key);

/* Entries [first, first + count) of the electrode layout into `out`; the number written (fewer at the end). */
KVD_API int32_t kvd_read_layout(kvd_file* file, int32_t first, int32_t count, kvd_electrode* out);
/* Sweeps [first, first + count) of a triggered recording, with the frames of `stream` (-1: no stream, the
 * frame members are 0); the number written (fewer at the end, 0 in continuous recordings). */
KVD_API int32_t kvd_read_sweeps(kvd_file* file, int32_t stream, int32_t first, int32_t count, kvd_sweep* out);

/* Frames [first, first + count) of a stream with sample frames, the channels listed in `channels`
 * (`channel_count` indexes, in any order, repeats allowed) or, when `channels` is NULL, every channel in
 * stream order (`channel_count` 0 or the stream's channel count): a row-major count x channels array of the
 * stored words. Returns `count`, or a negative result: a range beyond the stream's frames is an error. */
KVD_API int64_t kvd_read_frames(kvd_file* file, int32_t stream, int64_t first, int64_t count, const int32_t* channels,
                                int32_t channel_count, uint16_t* out);
/* The same as values in the stream's unit: (word - ad_zero) x units_per_ad computed in double precision and
 * rounded to float; digital streams give the words themselves. */
KVD_API int64_t kvd_read_frames_scaled(kvd_file* file, int32_t stream, int64_t first, int64_t count,
                                       const int32_t* channels, int32_t channel_count, float* out);

/* The frames of the stream's first data chunk: reads of whole chunks cost the fewest reads of the file; 0
 * when the stream has no chunks. Finding it may read the chunk heads up to that chunk. */
KVD_API int64_t kvd_frames_per_chunk(kvd_file* file, int32_t stream);

/* The number of events of a spike, trigger or digital stream (the bit changes). The first call counts: one
 * pass over the event records of every spike and trigger stream, or over a digital stream's words. */
KVD_API int64_t kvd_count_events(kvd_file* file, int32_t stream);
/* Spikes [first, first + count) of a spike stream, in file order, into `spikes` (may be NULL) and their
 * cut-outs into `waveforms` (may be NULL): a count x waveform_samples array of words, each cut-out cut to
 * waveform_samples words or filled up with ad_zero. Returns the number read (fewer at the end). Spikes of a
 * channel number that names no channel of the stream are not counted. */
KVD_API int64_t kvd_read_spikes(kvd_file* file, int32_t stream, int64_t first, int64_t count, kvd_spike* spikes,
                                uint16_t* waveforms, int32_t waveform_samples);
/* Trigger events [first, first + count) of a trigger stream; the number read (fewer at the end). */
KVD_API int64_t kvd_read_triggers(kvd_file* file, int32_t stream, int64_t first, int64_t count, kvd_trigger* out);
/* How often each bit of each channel of a digital stream changes: `counts` receives channel_count x 16
 * numbers, channel after channel, bit 0 first (counting the changes first when they are not counted yet). */
KVD_API int kvd_count_bit_changes(kvd_file* file, int32_t stream, int64_t* counts);
/* Bit changes [first, first + count) of a digital stream, ordered by frame, then channel, then bit: a
 * change is a bit that differs from the frame before in the same sweep (a sweep's first frame, and frame 0
 * of a continuous stream, are compared with nothing). The number read (fewer at the end). */
KVD_API int64_t kvd_read_bit_changes(kvd_file* file, int32_t stream, int64_t first, int64_t count, kvd_bit_change* out);

/* The recording described as one JSON document (the file header, every stream with its channels and
 * instrument settings, the stimulator and the electrode layout), UTF-8, NUL-terminated and cut to `size`
 * bytes; returns the length of the whole document without its terminator, as snprintf does. `buffer` may
 * be NULL when `size` is 0. */
KVD_API int64_t kvd_describe_json(kvd_file* file, char* buffer, size_t size);

#ifdef __cplusplus
}
#endif

#endif
