#include "settings/MEvokedProperty.h"

#include "io/MSettingsReader.h"

namespace {

// Reads through `in` while checking, after every field and before the bytes of every string, that the
// position has not passed the budget counted from where reading started.
class BudgetedReader {
public:
    BudgetedReader(CMSettingsReader& in, uint32_t budget) : m_In(in), m_Start(in.Position()), m_Budget(budget) {}

    bool Within(uint64_t extra = 0) const
    {
        return m_In.Ok() && (m_Budget == CMEvokedProperty::kNoBudget || m_In.Position() - m_Start + extra <= m_Budget);
    }
    bool U16(uint16_t& v) { return m_In.U16(v) && Within(); }
    bool U32(uint32_t& v) { return m_In.U32(v) && Within(); }
    bool F32(float& v) { return m_In.F32(v) && Within(); }
    // A counted string with a 32-bit count, NUL-stopped.
    bool String(std::string& s)
    {
        CMSettingsReader peek = m_In;
        uint32_t length = 0;
        if (!peek.U32(length)) return false;
        if (!Within(uint64_t{4} + length)) return false;
        return m_In.String32NulStopped(s) && Within();
    }

private:
    CMSettingsReader& m_In;
    std::size_t m_Start;
    uint32_t m_Budget;
};

}  // namespace

bool CMEvokedProperty::ReadEvokedFormatInfo(CMSettingsReader& in, uint32_t budget, uint16_t /*version*/,
                                            CMEvokedProperty& target)
{
    BudgetedReader r(in, budget);
    CMEvokedProperty p;
    uint32_t maxCount = 0;
    std::string triggerName;
    uint16_t triggerId = 0;
    float time1 = 0, time2 = 0;
    if (!r.U32(p.m_dwEvokedWord) || !r.U32(maxCount) || !r.String(triggerName) || !r.String(p.m_strTriggerBufferID) ||
        !r.U16(triggerId) || !r.F32(time1) || !r.F32(time2))
        return false;
    p.m_wMaxTimeWindowCount = static_cast<uint16_t>(maxCount);
    p.m_TimeWindow.SetFirstTriggerName(triggerName);
    p.m_TimeWindow.SetSecondTriggerName(triggerName);
    p.m_TimeWindow.SetStartTriggerID(triggerId);
    p.m_TimeWindow.SetStopTriggerID(triggerId);
    p.m_TimeWindow.SetTime1(time1);
    p.m_TimeWindow.SetTime2(time2);
    target = p;
    return true;
}
