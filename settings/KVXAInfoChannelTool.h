// Information block of a channel-tool stream: its settings, read from the stream's settings block.
#pragma once

#include <string>

#include "settings/KVXAInfo.h"
#include "settings/MChannelToolProperty.h"

class CKVXAInfoChannelTool : public CKVXAInfo, public CMChannelToolProperty {
public:
    CKVXAInfoChannelTool() = default;
    ~CKVXAInfoChannelTool() override = default;

    std::string InputBufferName() const { return GetInputBufferName(); }
    std::string RefChannelName() const { return GetRefChannelName(); }
};
