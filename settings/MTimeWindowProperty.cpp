#include "settings/MTimeWindowProperty.h"

#include "io/MSettingsReader.h"

bool CMTimeWindowProperty::ReadTimeWindowFormatInfo(CMSettingsReader& in, uint16_t version)
{
    if (version > 1) {
        uint32_t choice = 0;
        if (in.U32(choice)) m_iChoice = static_cast<int32_t>(choice);
        in.F32(m_fTime1);
        in.F32(m_fTime2);
        in.U16(m_wStartTriggerID);
        in.U16(m_wStopTriggerID);
    }
    if (version > 3) {
        m_strFirstTriggerName.clear();
        m_strSecondTriggerName.clear();
        in.String32Exact(m_strFirstTriggerName);
        in.String32Exact(m_strSecondTriggerName);
    }
    return in.Ok();
}
