/* A host of the array interface in C: opens a recording, lists its streams and reads one window of every
 * channel of the first stream with sample frames, as volts, printing each channel's range in the window.
 *
 *   array_host FILE.kvd [START_S [SECONDS]]
 *
 * Build it against an installed library with pkg-config:
 *   cc array_host.c $(pkg-config --cflags --libs nsKVDLibrary) -o array_host
 * or with CMake through find_package(nsKVDLibrary) (see CMakeLists.txt beside this file). */
#include <stdio.h>
#include <stdlib.h>

#include <nsKVDLibrary/kvd.h>

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 4) {
        fprintf(stderr, "usage: array_host FILE.kvd [START_S [SECONDS]]\n");
        return 2;
    }
    const double start = argc > 2 ? atof(argv[2]) : 0.0;
    const double seconds = argc > 3 ? atof(argv[3]) : 1.0;

    kvd_file* file = NULL;
    if (kvd_open(argv[1], &file) != KVD_OK) {
        fprintf(stderr, "array_host: %s\n", kvd_last_error());
        return 1;
    }
    kvd_file_info info = {0};
    info.size = sizeof info;
    kvd_get_file_info(file, &info);
    printf("%s: %d streams, %.3f s, written by %s\n", argv[1], info.stream_count, info.duration_ns / 1e9, info.program);

    int frames_stream = -1;
    kvd_stream_info chosen = {0};
    for (int32_t s = 0; s < info.stream_count; ++s) {
        kvd_stream_info stream = {0};
        stream.size = sizeof stream;
        kvd_get_stream_info(file, s, &stream);
        printf("stream %d %-8s %-8s %3d channels at %.3f Hz, %lld frames\n", s, stream.buffer_id, stream.kind,
               stream.channel_count, stream.millisamples_per_second / 1000.0, (long long)stream.frame_count);
        if (frames_stream < 0 && stream.content == KVD_CONTENT_FRAMES) {
            frames_stream = s;
            chosen = stream;
        }
    }
    if (frames_stream < 0) {
        kvd_close(file);
        return 0;
    }

    /* The window in frames, kept within the stream. */
    const double rate = chosen.millisamples_per_second / 1000.0;
    long long first = (long long)(start * rate), count = (long long)(seconds * rate);
    if (first > chosen.frame_count) first = chosen.frame_count;
    if (count > chosen.frame_count - first) count = chosen.frame_count - first;
    const int k = chosen.channel_count;
    float* values = malloc((size_t)(count > 0 ? count : 1) * (size_t)k * sizeof *values);
    if (!values || kvd_read_frames_scaled(file, frames_stream, first, count, NULL, 0, values) < 0) {
        fprintf(stderr, "array_host: %s\n", values ? kvd_last_error() : "not enough memory");
        free(values);
        kvd_close(file);
        return 1;
    }
    printf("frames %lld to %lld of %s, in %s:\n", first, first + count - 1, chosen.buffer_id, chosen.units);
    for (int c = 0; c < k; ++c) {
        kvd_channel_info channel = {0};
        channel.size = sizeof channel;
        kvd_get_channel_info(file, frames_stream, c, &channel);
        float low = 0, high = 0;
        for (long long f = 0; f < count; ++f) {
            const float v = values[f * k + c];
            if (f == 0 || v < low) low = v;
            if (f == 0 || v > high) high = v;
        }
        printf("  %-8s electrode %-4s %12.6g to %12.6g\n", channel.label, channel.electrode, low, high);
    }
    free(values);
    kvd_close(file);
    return 0;
}
