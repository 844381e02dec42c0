#include "settings/MRealtimeFeedbackProperty.h"

CMRealtimeFeedbackProperty::CMRealtimeFeedbackProperty()
{
    // The fourth table counts up: 0, 1, ..., 15.
    Table& last = m_aTables[kTableCount - 1];
    for (int i = 0; i < kTableSize; ++i) last[static_cast<std::size_t>(i)] = i;
}
