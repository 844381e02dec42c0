// Common base of the information blocks that CKVXAStream::GetInfo hands out: the typed view of a stream's
// format-private settings bytes. The caller owns a block and deletes it through this base; the concrete
// class follows from the stream's data type ("trigger": CKVXAInfoTrigger, ...).
#pragma once

class CKVXAInfo {
public:
    CKVXAInfo() = default;
    CKVXAInfo(const CKVXAInfo&) = default;
    CKVXAInfo& operator=(const CKVXAInfo&) = default;
    virtual ~CKVXAInfo() = default;
};
