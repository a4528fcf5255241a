#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

// A typed block of bytes that reads itself as integer, unsigned, float, narrow or wide text.
// Type codes: 0 empty, 1 int32, 2 uint32, 3 float, 4 narrow string, 5 UTF-16 string, 6 two floats,
// 7 three floats, 8..10 four floats, 11 date, 12 time of day, 13 date and time (11..13: int64 seconds
// since 1970-01-01 UTC). Readings return their text by value, so nothing dangles.
class CKrVariant
{
public:
    enum Type : int32_t
    {
        kEmpty = 0,
        kInt = 1,
        kUnsigned = 2,
        kFloat = 3,
        kString = 4,
        kWideString = 5,
        kFloat2 = 6,
        kFloat3 = 7,
        kFloat4 = 8,
        kFloat4b = 9,
        kFloat4c = 10,
        kDate = 11,
        kTimeOfDay = 12,
        kDateTime = 13,
    };
    // Display units of float values.
    enum Unit : int32_t
    {
        kUnitPlain = 0,
        kUnitMetres = 1,
        kUnitPercent = 2,
        kUnitDegrees = 3,
        kUnitMetresPerSecond = 4,
        kUnitDegreesPerSecond = 5,
        kUnitByte = 6,
    };

    CKrVariant() = default;
    CKrVariant(const CKrVariant& other);
    CKrVariant& operator=(const CKrVariant& other);
    CKrVariant(CKrVariant&& other) noexcept;
    CKrVariant& operator=(CKrVariant&& other) noexcept;
    ~CKrVariant() = default;

    // Drops the value; it becomes zero bytes (at least 8, enough for the type) of the given type.
    void SetType(int32_t type);
    // Drops the value and copies `size` bytes tagged with `type`.
    void SetRaw(const void* bytes, uint32_t size, int32_t type);
    // Borrows `bytes` without copying; the size follows from the type. The caller keeps the bytes
    // alive and unchanged while the view is in use; copying a view yields an owned value.
    void SetView(const void* bytes, int32_t type);

    // An empty value takes the argument's own type; a typed one converts the argument into its type.
    void SetInt(int32_t n);
    void SetUnsigned(uint32_t n);
    void SetFloat(float f);
    void SetString(const std::string& s);
    void SetString(const char* s);
    void SetWideString(const std::u16string& s);
    void SetWideString(const char16_t* s);

    // Empty: becomes a copy of `other`. Otherwise keeps its type and unit and takes `other` read as
    // that type, unless the two are already equal.
    void Assign(const CKrVariant& other);
    // `other` read as this value's type equals this value; an empty value equals nothing.
    bool Equals(const CKrVariant& other) const;

    int32_t AsInt() const;
    uint32_t AsUnsigned() const;
    float AsFloat() const;
    // Seconds since 1970 UTC for the time types; integers and text read as a number of seconds.
    int64_t AsTime() const;
    std::string AsText() const;
    std::string AsDisplayText() const;
    std::u16string AsWideText() const;

    // Characters of a type 4 or 5 value, else 0.
    uint32_t TextLength() const;
    void MakeUpper();

    int32_t GetType() const { return m_type; }
    bool IsEmpty() const { return m_type == kEmpty; }
    uint32_t GetSize() const { return m_size; }
    const uint8_t* GetData() const { return m_data; }
    int32_t GetUnit() const { return m_unit; }
    void SetUnit(int32_t unit) { m_unit = unit; }
    // Code page of narrow/wide conversions (0xFFFFFFFF: process default). Setters keep it, and text
    // handed to SetString/SetWideString is read in it.
    uint32_t GetCodePage() const { return m_codePage; }
    void SetCodePage(uint32_t codePage) { m_codePage = codePage; }

    // Natural size in bytes of a fixed-size type; 0 for empty and the string types.
    static uint32_t FixedSize(int32_t type);

private:
    enum class TimeForm
    {
        Iso,
        Locale
    };

    void TakeOwned(std::vector<uint8_t> bytes, int32_t type);
    void Replace(const void* bytes, uint32_t size);
    void MakeOwned();
    template <typename T>
    T ReadPod() const;
    std::string NarrowBytes() const;
    std::u16string WideChars() const;
    std::array<float, 4> ReadFloats() const;
    std::string FormatText(TimeForm form) const;

    const uint8_t* m_data = nullptr;
    uint32_t m_size = 0;
    int32_t m_type = kEmpty;
    int32_t m_unit = kUnitPlain;
    uint32_t m_codePage = 0xFFFFFFFFu;
    std::vector<uint8_t> m_owned; // backs m_data unless the value is a view
};
