// Information block of a filter stream: the filter's settings, read from the stream's settings block.
#pragma once

#include "settings/KVXAInfo.h"
#include "settings/MFilterProperty.h"

class CKVXAInfoFilter : public CKVXAInfo, public CMFilterProperty {
public:
    CKVXAInfoFilter() = default;
    ~CKVXAInfoFilter() override = default;
    using CMFilterProperty::GetFilterName;
};
