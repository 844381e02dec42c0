// Electrode layout of a recording: one record per hardware channel with its names, kind, array (MEA),
// amplifier, gain, frequency band, electrode position and extent, and where it is drawn. A layout is read
// from a "LAYOUT  " chunk, built as one of the standard array layouts, or described by hardware, amplifier
// and array description files kept in a directory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "io/ByteOrder.h"

enum MeaSourceType : int32_t { MEA_LINEAR = 0, MEA_60 = 1, MEA_DUAL = 2, MEA_FROM_FILE = 3 };

// Kind of a hardware channel.
enum MeaSubType : int32_t { MEA_SUBTYPE_UNKNOWN = -1, MEA_ELECTRODE = 0, MEA_ANALOG = 1, MEA_DIGITAL = 2 };

class CKVLayout {
public:
    // Layouts hold at most this many hardware channels.
    static constexpr int32_t kMaxChannels = 262;

    // The layout of one hardware channel, kept as its 1368-byte file image.
    class CChannelLayout {
    public:
        // clang-format off
        enum : std::size_t {
            kHWID = 0, kSubType = 4, kGain = 8, kLowF = 12, kHighF = 16, kName = 20, kDecoratedName = 277,
            kMeaNumber = 536, kMeaName = 540, kElectrodeType = 800, kPosX = 804, kPosY = 808, kPosZ = 812,
            kExtendX = 816, kExtendY = 820, kExtendZ = 824, kDisplayX = 828, kDisplayY = 832,
            kDisplayExtendX = 836, kDisplayExtendY = 840, kThirdName = 844, kAmplifierName = 1101,
            kMapHWID = 1360, kMapValue = 1364
        };
        // clang-format on
        static constexpr std::size_t kTextWidth = 257;
        static constexpr std::size_t kSize = 1368;

        CChannelLayout();

        // Bytes of a record of `version` in a chunk: 844 (1), 1360 (2), 1368 (3 and any other value).
        static std::size_t getSize(int version);
        // Reads a record of `version` over the start of this one; the rest keeps its defaults. Version 1
        // takes the electrode name as third name; versions 1 and 2 map the channel onto itself. False on a
        // short read.
        bool ReadLayout(FILE* file, int version);
        // Decodes a record of `version` from getSize(version) bytes.
        void ReadLayout(const uint8_t* bytes, int version);
        // Writes the whole 1368-byte image.
        bool WriteLayout(FILE* file) const;
        const uint8_t* Image() const { return m_Rec.Data(); }

        void SetHardwareChannel(int16_t hwid, int32_t subType, const char* amplifierName, int32_t gain, int32_t lowF,
                                int32_t highF);
        void SetChannelName(const char* name, const char* decoratedName, const char* thirdName);
        void SetLayoutChannel(const char* name, const char* decoratedName, const char* thirdName, int32_t meaNumber,
                              const char* meaName, int32_t electrodeType, int32_t x, int32_t y, int32_t z,
                              int32_t extendX, int32_t extendY, int32_t extendZ, int32_t displayX, int32_t displayY,
                              int32_t displayExtendX, int32_t displayExtendY);
        void SetMapHWID(int32_t mapHWID, int32_t mapValue);
        void SetElectrodeType(int32_t type) { m_Rec.SetI32(kElectrodeType, type); }

        int32_t GetHWID() const { return m_Rec.I32(kHWID); }
        int32_t GetMeaSubType() const { return m_Rec.I32(kSubType); }
        int32_t GetGain() const { return m_Rec.I32(kGain); }
        bool IsConnected() const { return GetGain() >= 0; }
        int32_t GetLowF() const { return m_Rec.I32(kLowF); }
        int32_t GetHighF() const { return m_Rec.I32(kHighF); }
        const char* GetElectrodeName() const { return m_Rec.Text(kName); }
        const char* GetDecoratedElectrodeName() const { return m_Rec.Text(kDecoratedName); }
        const char* GetThirdName() const { return m_Rec.Text(kThirdName); }
        const char* GetAmplifierName() const { return m_Rec.Text(kAmplifierName); }
        int32_t GetMeaNumber() const { return m_Rec.I32(kMeaNumber); }
        bool IsAvail() const { return GetMeaNumber() >= 0; }
        const char* GetMeaName() const { return m_Rec.Text(kMeaName); }
        int32_t GetElectrodeType() const { return m_Rec.I32(kElectrodeType); }
        int32_t GetPosX() const { return m_Rec.I32(kPosX); }
        int32_t GetPosY() const { return m_Rec.I32(kPosY); }
        int32_t GetPosZ() const { return m_Rec.I32(kPosZ); }
        int32_t GetExtendX() const { return m_Rec.I32(kExtendX); }
        int32_t GetExtendY() const { return m_Rec.I32(kExtendY); }
        int32_t GetExtendZ() const { return m_Rec.I32(kExtendZ); }
        int32_t GetDisplayX() const { return m_Rec.I32(kDisplayX); }
        int32_t GetDisplayY() const { return m_Rec.I32(kDisplayY); }
        int32_t GetDisplayExtendX() const { return m_Rec.I32(kDisplayExtendX); }
        int32_t GetDisplayExtendY() const { return m_Rec.I32(kDisplayExtendY); }
        int32_t GetMapHWID() const { return m_Rec.I32(kMapHWID); }
        int32_t GetMapValue() const { return m_Rec.I32(kMapValue); }

        // "name:name=name:hwid=..:subtype=..:show=..:dx=..:dy=..:dxextend=..:dyextend=..", where show is 1
        // when the channel belongs to MEA `mea`.
        std::string BuildNameString(int32_t mea) const;

    private:
        void TerminateTexts();
        kvd::ByteRecord<kSize> m_Rec;
    };

    // A hardware system, amplifier or array read from a description file.
    class CType {
    public:
        virtual ~CType() = default;
        // Reads a description file; the number of channel lines read, or -1 when the file cannot be opened,
        // is of another kind, has no version of at least 1 or no name.
        virtual int ReadLayout(const char* path) = 0;

        std::string m_Name;
        std::vector<int32_t> m_offsets;
        std::vector<CChannelLayout> m_Layouts;

    protected:
        // Reads a description file whose first line is `firstLine`: the header lines up to "Layout:",
        // the caption line after it, and one record per channel line that parses.
        int ReadFile(const char* path, const char* firstLine);
        // Handles a header line that is not "Version: " or "Name: "; false rejects the file. Amplifier and
        // array files list their available offsets ("AvailOffsets: ").
        virtual bool HeaderLine(const std::string& line);
        // Adds the record of one channel line; false when the line does not parse.
        virtual bool ChannelLine(const char* line, int version) = 0;
        // Empties the type before a read.
        virtual void Reset();
    };

    class CHardware : public CType {
    public:
        int ReadLayout(const char* path) override;
        std::map<int32_t, int32_t> GetLayoutConfig() const { return m_LayoutConfig; }
        int32_t GetStdMeaLayouts() const { return m_StdMeaLayouts; }

        std::map<int32_t, int32_t> m_LayoutConfig;
        int32_t m_StdMeaLayouts = 3;

    protected:
        bool HeaderLine(const std::string& line) override;
        bool ChannelLine(const char* line, int version) override;
        void Reset() override;
    };

    class CAmplifier : public CType {
    public:
        int ReadLayout(const char* path) override;

    protected:
        bool ChannelLine(const char* line, int version) override;
    };

    class CMea : public CType {
    public:
        int ReadLayout(const char* path) override;

    protected:
        bool ChannelLine(const char* line, int version) override;
    };

    // The types of one kind found in a directory of description files. A type index is a position in the
    // table; queries with an index outside the table answer empty, 0 or -1.
    class CAvailTypes {
    public:
        CAvailTypes() = default;
        CAvailTypes(const CAvailTypes&) = delete;
        CAvailTypes& operator=(const CAvailTypes&) = delete;
        virtual ~CAvailTypes() = default;

        // Reads every ".txt" file of `directory` and appends the types that read; false when the directory
        // cannot be listed.
        virtual bool LoadAvail(const std::string& directory);

        std::size_t size() const { return m_Types.size(); }
        const CType* at(int typeindex) const;
        void Add(std::unique_ptr<CType> type) { m_Types.push_back(std::move(type)); }

        std::string GetAvailType(int typeindex) const;
        int GetAvailTypeIndex(const std::string& name) const;
        void GetAvailTypes(std::vector<std::string>& list) const;
        std::string GetAvailOffsetAsString(int typeindex, int offsetindex) const;
        int32_t GetAvailOffsetAsInt(int typeindex, int offsetindex) const;
        int GetAvailOffsetIndex(int typeindex, int32_t offset) const;
        void GetAvailOffsets(int typeindex, std::vector<std::string>& list) const;
        int GetNumberOfAvailOffsets(int typeindex) const;
        // The map and standard MEA layout count of a hardware type; empty and -1 for other types.
        std::map<int32_t, int32_t> GetHwLayoutConfig(int typeindex) const;
        int32_t GetStdMeaLayout(int typeindex) const;

    protected:
        virtual std::unique_ptr<CType> NewType() const = 0;

    private:
        std::vector<std::unique_ptr<CType>> m_Types;
    };

    class CAvailHard : public CAvailTypes {
    protected:
        std::unique_ptr<CType> NewType() const override { return std::make_unique<CHardware>(); }
    };
    class CAvailAmpl : public CAvailTypes {
    protected:
        std::unique_ptr<CType> NewType() const override { return std::make_unique<CAmplifier>(); }
    };
    class CAvailMeas : public CAvailTypes {
    protected:
        std::unique_ptr<CType> NewType() const override { return std::make_unique<CMea>(); }
    };

    struct CLayoutSelection {
        int32_t m_TypeIndex;
        int32_t m_OffsetIndex;
    };

    // An ordered list of selections from one availability table. Positions outside the list are ignored
    // by the setters and answer empty, 0 or -1.
    class CConfiguration {
    public:
        explicit CConfiguration(const CAvailTypes* avail) : m_pAvail(avail) {}

        const CAvailTypes* GetAvail() const { return m_pAvail; }
        int GetNumberOfLayouts() const { return static_cast<int>(m_Selections.size()); }
        std::size_t size() const { return m_Selections.size(); }
        void AddNewType(int32_t typeindex, int32_t offsetindex) { m_Selections.push_back({typeindex, offsetindex}); }
        void ChangeType(int i, int32_t typeindex);
        void ChangeTypeOffset(int i, int32_t offsetindex);
        void RemoveType(int i);
        void RemoveAll() { m_Selections.clear(); }
        // Swaps selection i with selection i + delta; 1 when both exist, else 0 and nothing changes.
        int MoveType(int i, int delta);
        int32_t GetSelectedTypeIndex(int i) const;
        std::string GetSelectedType(int i) const;
        int32_t GetSelectedOffsetIndex(int i) const;
        std::string GetSelectedOffsetAsString(int i) const;
        int32_t GetSelectedOffsetAsInt(int i) const;
        // "name @ offset" of every selection with an offset index of 0 or more.
        void GetSelectedTypes(std::vector<std::string>& list) const;

    private:
        bool Valid(int i) const { return i >= 0 && i < static_cast<int>(m_Selections.size()); }
        const CAvailTypes* m_pAvail;
        std::vector<CLayoutSelection> m_Selections;
    };

    CKVLayout();
    CKVLayout(const CKVLayout&) = delete;
    CKVLayout& operator=(const CKVLayout&) = delete;
    virtual ~CKVLayout();

    // Reads a "LAYOUT  " chunk at the current position. False for another id, an unknown record version,
    // a record count other than the channel count or outside 0 ... 261, or a chunk that ends early; the
    // layout is then unchanged.
    bool ReadLayout(FILE* file);
    // Writes the chunk in its newest form (record version 3) at the current position.
    bool WriteLayout(FILE* file) const;
    // Takes over the source type, channel counts and records of `other` (not its description tables).
    void CopyLayout(const CKVLayout& other);
    // Builds the standard layout of a source type (0 linear, 1 60-electrode array, 2 double array) from
    // the channel counts. Other source types, `flag` true, or a total of 262 or more channels leave
    // default records only (none for a total of 262 or more).
    void InitLayoutIfNeeded(MeaSourceType type, uint32_t total, uint32_t electrodes, uint32_t analog, uint32_t digital,
                            bool flag);

    // Setters by hardware channel number; numbers outside the layout are ignored.
    void SetHardwareChannel(int16_t hwid, int32_t subType, const char* amplifierName, int32_t gain, int32_t lowF,
                            int32_t highF);
    void SetChannelName(int16_t hwid, const char* name, const char* decoratedName, const char* thirdName);
    void SetLayoutChannel(int16_t hwid, const char* name, const char* decoratedName, const char* thirdName,
                          int32_t meaNumber, const char* meaName, int32_t electrodeType, int32_t x, int32_t y,
                          int32_t z, int32_t extendX, int32_t extendY, int32_t extendZ, int32_t displayX,
                          int32_t displayY, int32_t displayExtendX, int32_t displayExtendY);
    // Copies a whole record to position index + the record's own hardware channel number.
    void SetLayoutChannel(int index, const CChannelLayout& layout);
    void SetMapHWID(int16_t hwid, int32_t mapHWID, int32_t mapValue);

    int32_t GetSourceType() const { return m_SourceType; }
    int32_t GetCount() const { return m_iTotal; }
    int32_t GetElectrodeChannels() const { return m_iElectrodes; }
    int32_t GetAnalogChannels() const { return m_iAnalog; }
    int32_t GetDigitalChannels() const { return m_iDigi; }

    // Queries by hardware channel number; numbers outside the layout answer with a default record's values
    // (empty texts, -1 numbers, not connected, not available).
    std::string GetElectrodeName(int i) const { return Rec(i).GetElectrodeName(); }
    std::string GetDecoratedElectrodeName(int i) const { return Rec(i).GetDecoratedElectrodeName(); }
    std::string GetMeaName(int i) const { return Rec(i).GetMeaName(); }
    std::string GetAmplifierName(int i) const { return Rec(i).GetAmplifierName(); }
    void GetElectrodeNames(std::vector<std::string>& list) const;
    void GetDecoratedElectrodeNames(std::vector<std::string>& list) const;
    std::string GetElectrodeNameEx(int i, int32_t mea) const { return Rec(i).BuildNameString(mea); }
    void GetElectrodeNamesEx(std::vector<std::string>& list, int32_t mea) const;
    void GetElectrodePoint(int i, int32_t& x, int32_t& y, int32_t& z) const;
    void GetElectrodeExtends(int i, int32_t& x, int32_t& y, int32_t& z) const;
    void GetElectrodeDisplayPoint(int i, int32_t& x, int32_t& y) const;
    void GetElectrodeDisplayExtend(int i, int32_t& x, int32_t& y) const;
    void GetElectrodeFrequency(int i, int32_t& low, int32_t& high) const;
    int32_t GetMeaNumber(int i) const { return Rec(i).GetMeaNumber(); }
    int32_t GetMeaSubType(int i) const { return Rec(i).GetMeaSubType(); }
    // "E", "A", "D" or "U".
    const char* GetMeaSubTypeAsString(int i) const;
    bool IsConnected(int i) const { return Rec(i).IsConnected(); }
    bool IsAvail(int i) const { return Rec(i).IsAvail(); }
    int32_t GetGain(int i) const { return Rec(i).GetGain(); }
    int32_t GetElectrodeType(int i) const { return Rec(i).GetElectrodeType(); }
    CChannelLayout GetChannelLayout(int i) const { return Rec(i); }
    // The hardware channel number of the first record named `name`; 0xFFFF and false when none.
    bool GetHWIDFromName(const char* name, uint16_t& hwid) const;

    // MEA and amplifier queries.
    int GetElectrodeChannelCount(int32_t mea) const;
    int GetNumberOfMEAs() const;
    int GetNumberOfConfigMEAs() const { return GetNumberOfMEAs(); }
    std::vector<int32_t> GetMEAIndices() const;
    int GetNumberOfMEAIndices() const { return static_cast<int>(GetMEAIndices().size()); }
    std::vector<CChannelLayout> GetChannelLayoutsForMea(int32_t mea) const;
    static int GetNumberOfAmps(const std::vector<CChannelLayout>& layouts);
    int GetNumberOfAmpsForMEA(int32_t mea) const { return GetNumberOfAmps(GetChannelLayoutsForMea(mea)); }
    int GetTotalNumberOfAmps() const;
    int GetNumberOfConfigAmps() const { return GetTotalNumberOfAmps(); }
    std::string GetNameOfConfigMEA(int32_t mea) const;
    std::string GetAmplifierNameForMEA(int32_t mea) const;
    std::string GetNameOfConfigAmp(int32_t mea) const { return GetAmplifierNameForMEA(mea); }
    // Largest electrode x and y (from 0) of the records of MEA `mea` and kind `kind` (-1: any).
    void GetMaxChannelPos(int32_t mea, int32_t kind, int32_t& x, int32_t& y) const;
    // Largest display x + extent and y + extent (from 0), likewise.
    void GetMaxDisplayExtend(int32_t mea, int32_t kind, int32_t& x, int32_t& y) const;
    // Record i's electrode position in percent of the largest one among the electrodes of `mea`; 0 when
    // that largest position is 0.
    int32_t GetRelativeChannelPosX(int32_t mea, int i) const;
    int32_t GetRelativeChannelPosY(int32_t mea, int i) const;

    // Description files: availability tables and the selected configurations.
    CAvailHard& GetAvailHard() { return m_AvailHard; }
    CAvailAmpl& GetAvailAmpl() { return m_AvailAmpl; }
    CAvailMeas& GetAvailMeas() { return m_AvailMeas; }
    CConfiguration& GetHwConfig() { return m_hw_configuration; }
    CConfiguration& GetAmplConfig() { return m_ampl_configuration; }
    CConfiguration& GetMeaConfig() { return m_mea_configuration; }
    // Channel records of the first amplifier type named `name`; 0 when there is none.
    int GetNumberOfElectrodeChannels(const std::string& name) const;

private:
    const CChannelLayout& Rec(int i) const;
    CChannelLayout* RecPtr(int i);
    void InitLinear();
    void InitMea60();
    void InitDualMea();
    // Takes the channel mapping of the selected hardware type over into the records.
    void ApplyHardwareConfiguration();

    int32_t m_SourceType = MEA_LINEAR;
    int32_t m_iTotal = 0;
    int32_t m_iElectrodes = 0;
    int32_t m_iAnalog = 0;
    int32_t m_iDigi = 0;
    std::vector<CChannelLayout> m_ChannelList;

    CAvailHard m_AvailHard;
    CAvailAmpl m_AvailAmpl;
    CAvailMeas m_AvailMeas;
    CConfiguration m_hw_configuration;
    CConfiguration m_ampl_configuration;
    CConfiguration m_mea_configuration;
};
