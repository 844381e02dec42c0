// Settings of a channel-tool ("chat") stream: the stream it was computed from and its reference channel.
#pragma once

#include <cstdint>
#include <string>

#include "settings/KVStreamProperty.h"

class CMSettingsReader;

class CMChannelToolProperty : public CMCloneObject {
public:
    CMChannelToolProperty() = default;
    CMChannelToolProperty(const CMChannelToolProperty&) = default;
    CMChannelToolProperty& operator=(const CMChannelToolProperty&) = default;
    ~CMChannelToolProperty() override = default;
    CMCloneObject* Clone() const override { return new CMChannelToolProperty(*this); }

    // Decodes the settings block of a channel-tool stream (after its tag) and takes its values. The names
    // are kept exactly as counted, NUL bytes included. False, with this object unchanged, when the block
    // ends before its last field.
    bool FromFormatInfo(CMSettingsReader& in);

    const std::string& GetInputBufferName() const { return m_strInputBufferName; }
    void SetInputBufferName(const std::string& name) { m_strInputBufferName = name; }
    const std::string& GetRefChannelName() const { return m_strRefChannelName; }
    void SetRefChannelName(const std::string& name) { m_strRefChannelName = name; }
    int16_t GetToolWord() const { return m_sToolWord; }
    void SetToolWord(int16_t word) { m_sToolWord = word; }

private:
    std::string m_strInputBufferName;
    std::string m_strRefChannelName;
    int16_t m_sToolWord = 0;
};
