// Real-time feedback settings. No stream type carries them in its settings block; the class keeps and
// copies its values for the settings family's callers.
#pragma once

#include <array>
#include <cstdint>
#include <map>

#include "settings/KVStreamProperty.h"

class CMRealtimeFeedbackProperty : public CMCloneObject {
public:
    static constexpr int kTableCount = 4;
    static constexpr int kTableSize = 16;
    static constexpr int kMapCount = 16;
    using Table = std::array<int32_t, kTableSize>;
    using Map = std::map<uint16_t, uint16_t>;

    CMRealtimeFeedbackProperty();
    CMRealtimeFeedbackProperty(const CMRealtimeFeedbackProperty&) = default;
    CMRealtimeFeedbackProperty& operator=(const CMRealtimeFeedbackProperty&) = default;
    ~CMRealtimeFeedbackProperty() override = default;
    // A copy of the concrete object: the base version would drop every value.
    CMCloneObject* Clone() const override { return new CMRealtimeFeedbackProperty(*this); }

    // The three leading words (0 to 2), the four words after the second value (0 to 3), the four tables
    // (0 to 3) and the 16 maps (0 to 15). Indexes outside are programming errors.
    std::array<int32_t, 3>& LeadingWords() { return m_alLeadingWords; }
    const std::array<int32_t, 3>& LeadingWords() const { return m_alLeadingWords; }
    double GetFirstValue() const { return m_dFirstValue; }
    void SetFirstValue(double v) { m_dFirstValue = v; }
    int32_t GetWord() const { return m_lWord; }
    void SetWord(int32_t w) { m_lWord = w; }
    double GetSecondValue() const { return m_dSecondValue; }
    void SetSecondValue(double v) { m_dSecondValue = v; }
    std::array<int32_t, 4>& TrailingWords() { return m_alTrailingWords; }
    const std::array<int32_t, 4>& TrailingWords() const { return m_alTrailingWords; }
    Table& GetTable(int i) { return m_aTables.at(static_cast<std::size_t>(i)); }
    const Table& GetTable(int i) const { return m_aTables.at(static_cast<std::size_t>(i)); }
    Map& GetMap(int i) { return m_aMaps.at(static_cast<std::size_t>(i)); }
    const Map& GetMap(int i) const { return m_aMaps.at(static_cast<std::size_t>(i)); }

private:
    std::array<int32_t, 3> m_alLeadingWords{};
    double m_dFirstValue = 10.0;
    int32_t m_lWord = 0;
    double m_dSecondValue = 1000.0;
    std::array<int32_t, 4> m_alTrailingWords{{0, 1, 50, 1}};
    std::array<Table, kTableCount> m_aTables{};
    std::array<Map, kMapCount> m_aMaps;
};
