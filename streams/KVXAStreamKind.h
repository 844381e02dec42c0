// The kind of a stream, decoded once from the data-type text of its header, and the kind of data the
// entity map assigns by the stream's buffer ID.
#pragma once

#include <cstring>
#include <initializer_list>

// The data types a stream header names; Unknown for any other text.
enum class KVXAStreamKind {
    Unknown,
    Analog,
    Digital,
    Chat,
    Filter,
    Params,
    Trigger,
    Spikes,
    Average,
    SpkParam,
    BstParam
};

// The kind named by a data-type text (compared whole, case-sensitive); Unknown for null or other texts.
inline KVXAStreamKind StreamKindOf(const char* dataType)
{
    struct Name {
        const char* text;
        KVXAStreamKind kind;
    };
    static constexpr Name kNames[] = {
        {"analog", KVXAStreamKind::Analog},     {"digital", KVXAStreamKind::Digital},
        {"chat", KVXAStreamKind::Chat},         {"filter", KVXAStreamKind::Filter},
        {"params", KVXAStreamKind::Params},     {"trigger", KVXAStreamKind::Trigger},
        {"spikes", KVXAStreamKind::Spikes},     {"average", KVXAStreamKind::Average},
        {"spkparam", KVXAStreamKind::SpkParam}, {"bstparam", KVXAStreamKind::BstParam},
    };
    if (!dataType) return KVXAStreamKind::Unknown;
    for (const Name& n : kNames)
        if (std::strcmp(dataType, n.text) == 0) return n.kind;
    return KVXAStreamKind::Unknown;
}

// Kinds whose chunks carry continuous 16-bit samples interleaved by channel.
inline bool HasRawSamples(KVXAStreamKind kind)
{
    return kind == KVXAStreamKind::Analog || kind == KVXAStreamKind::Chat || kind == KVXAStreamKind::Filter ||
           kind == KVXAStreamKind::Digital;
}

// What the entity map makes of a stream, decided by substrings of its buffer ID, first match wins: "trig"
// a trigger stream, "spks" a spike stream, "digi" a digital stream, "anlg", "chtl", "elec" or "filt" an
// analog stream; None for every other buffer ID.
enum class KVXABufferKind { None, Trigger, Spikes, Digital, Analog };

inline KVXABufferKind BufferKindOf(const char* bufferID)
{
    if (!bufferID) return KVXABufferKind::None;
    if (std::strstr(bufferID, "trig")) return KVXABufferKind::Trigger;
    if (std::strstr(bufferID, "spks")) return KVXABufferKind::Spikes;
    if (std::strstr(bufferID, "digi")) return KVXABufferKind::Digital;
    for (const char* part : {"anlg", "chtl", "elec", "filt"})
        if (std::strstr(bufferID, part)) return KVXABufferKind::Analog;
    return KVXABufferKind::None;
}
