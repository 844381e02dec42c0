/* A host of the Neuroshare library in C: opens a recording, lists its entities and reads the first
 * samples of one analog entity.
 *
 *   example_host FILE.kvd [ENTITY]
 *
 * ENTITY names the analog entity to read; by default the first one. Build it against an installed
 * library with pkg-config:
 *   cc example_host.c $(pkg-config --cflags --libs nsKVDLibrary) -o example_host
 * or with CMake through find_package(nsKVDLibrary) (see CMakeLists.txt beside this file). */
#include <stdio.h>
#include <stdlib.h>

#include <nsKVDLibrary/nsAPItypes.h>

static const char* TypeName(uint32_t type)
{
    switch (type) {
    case ns_ENTITY_EVENT: return "event";
    case ns_ENTITY_ANALOG: return "analog";
    case ns_ENTITY_SEGMENT: return "segment";
    case ns_ENTITY_NEURALEVENT: return "neural";
    default: return "unknown";
    }
}

/* Prints the library's text of the failure of the call just made. */
static void Failed(const char* call, ns_RESULT result)
{
    char text[256];
    ns_GetLastErrorMsg(text, sizeof text);
    fprintf(stderr, "example_host: %s failed (%d): %s\n", call, (int)result, text);
}

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: example_host FILE.kvd [ENTITY]\n");
        return 2;
    }
    long wanted = -1;
    if (argc == 3) {
        char* end = NULL;
        wanted = strtol(argv[2], &end, 10);
        if (*argv[2] == '\0' || *end != '\0' || wanted < 0 || wanted > 0x7FFFFFFFL) {
            fprintf(stderr, "example_host: ENTITY must be a number from 0 on, not '%s'\n", argv[2]);
            return 2;
        }
    }

    ns_LIBRARYINFO library;
    ns_GetLibraryInfo(&library, sizeof library);
    printf("%s %u.%u (Neuroshare API %u.%u)\n", library.szDescription, library.dwLibVersionMaj, library.dwLibVersionMin,
           library.dwAPIVersionMaj, library.dwAPIVersionMin);

    uint32_t file = 0;
    ns_RESULT result = ns_OpenFile(argv[1], &file);
    if (result != ns_OK) {
        Failed("ns_OpenFile", result);
        return 1;
    }
    ns_FILEINFO info;
    result = ns_GetFileInfo(file, &info, sizeof info);
    if (result != ns_OK) {
        Failed("ns_GetFileInfo", result);
        ns_CloseFile(file);
        return 1;
    }
    printf("%s: %u entities, %.3f s\n", argv[1], info.dwEntityCount, info.dTimeSpan);

    for (uint32_t id = 0; id < info.dwEntityCount; ++id) {
        ns_ENTITYINFO entity;
        if (ns_GetEntityInfo(file, id, &entity, sizeof entity) != ns_OK) continue;
        printf("%6u  %-8s %-32s %10u items\n", id, TypeName(entity.dwEntityType), entity.szEntityLabel,
               entity.dwItemCount);
        if (wanted < 0 && entity.dwEntityType == ns_ENTITY_ANALOG) wanted = (long)id;
    }

    int status = 0;
    if (wanted >= 0) {
        const uint32_t id = (uint32_t)wanted;
        ns_ANALOGINFO analog;
        ns_ENTITYINFO entity;
        result = ns_GetEntityInfo(file, id, &entity, sizeof entity);
        if (result == ns_OK) result = ns_GetAnalogInfo(file, id, &analog, sizeof analog);
        if (result != ns_OK) {
            Failed("reading the analog entity", result);
            status = 1;
        } else {
            double samples[10];
            uint32_t count = entity.dwItemCount < 10 ? entity.dwItemCount : 10, contiguous = 0;
            result = ns_GetAnalogData(file, id, 0, count, &contiguous, samples);
            if (result != ns_OK) {
                Failed("ns_GetAnalogData", result);
                status = 1;
            } else {
                printf("analog entity %u at %g Hz, the first %u of %u samples in %s:", id, analog.dSampleRate, count,
                       entity.dwItemCount, analog.szUnits);
                for (uint32_t i = 0; i < count; ++i) printf(" %.9g", samples[i]);
                printf("\n");
            }
        }
    }
    ns_CloseFile(file);
    return status;
}
