#include "settings/MChannelToolProperty.h"

#include "io/MSettingsReader.h"

bool CMChannelToolProperty::FromFormatInfo(CMSettingsReader& in)
{
    CMChannelToolProperty p;
    in.I16(p.m_sToolWord);
    in.String32Exact(p.m_strInputBufferName);
    in.String32Exact(p.m_strRefChannelName);
    if (!in.Ok()) return false;
    *this = p;
    return true;
}
