#include "services/variant.h"

#include "platform/localtime.h"
#include "services/text_convert.h"
#include "services/value_text.h"

#include <algorithm>
#include <cstring>
#include <limits>

using namespace kr::value;

namespace {

constexpr float kDegreesPerRadian = 57.29578f;
constexpr float kRadiansPerDegree = 0.017453292f;
constexpr char kDegreeSign = static_cast<char>(176);

size_t ComponentCount(int32_t type)
{
    return CKrVariant::FixedSize(type) / sizeof(float);
}

bool IsFloatGroup(int32_t type)
{
    return type >= CKrVariant::kFloat2 && type <= CKrVariant::kFloat4c;
}

bool IsTime(int32_t type)
{
    return type >= CKrVariant::kDate && type <= CKrVariant::kDateTime;
}

} // namespace

uint32_t CKrVariant::FixedSize(int32_t type)
{
    switch (type)
    {
    case kInt:
    case kUnsigned:
    case kFloat: return 4;
    case kFloat2: return 8;
    case kFloat3: return 12;
    case kFloat4:
    case kFloat4b:
    case kFloat4c: return 16;
    case kDate:
    case kTimeOfDay:
    case kDateTime: return 8;
    default: return 0;
    }
}

CKrVariant::CKrVariant(const CKrVariant& other)
    : m_type(other.m_type), m_unit(other.m_unit), m_codePage(other.m_codePage)
{
    Replace(other.m_data, other.m_size);
}

CKrVariant& CKrVariant::operator=(const CKrVariant& other)
{
    if (this != &other)
    {
        m_type = other.m_type;
        m_unit = other.m_unit;
        m_codePage = other.m_codePage;
        Replace(other.m_data, other.m_size);
    }
    return *this;
}

CKrVariant::CKrVariant(CKrVariant&& other) noexcept
{
    *this = std::move(other);
}

CKrVariant& CKrVariant::operator=(CKrVariant&& other) noexcept
{
    if (this != &other)
    {
        bool isView = other.m_data && other.m_data != other.m_owned.data();
        m_owned = std::move(other.m_owned);
        m_data = isView ? other.m_data : (m_owned.empty() ? nullptr : m_owned.data());
        m_size = other.m_size;
        m_type = other.m_type;
        m_unit = other.m_unit;
        m_codePage = other.m_codePage;
        other.m_owned.clear();
        other.m_data = nullptr;
        other.m_size = 0;
        other.m_type = kEmpty;
    }
    return *this;
}

void CKrVariant::TakeOwned(std::vector<uint8_t> bytes, int32_t type)
{
    m_owned = std::move(bytes);
    m_data = m_owned.empty() ? nullptr : m_owned.data();
    m_size = static_cast<uint32_t>(m_owned.size());
    m_type = type;
}

void CKrVariant::Replace(const void* bytes, uint32_t size)
{
    std::vector<uint8_t> copy(size, 0);
    if (bytes && size)
        std::memcpy(copy.data(), bytes, size);
    TakeOwned(std::move(copy), m_type);
}

void CKrVariant::MakeOwned()
{
    if (m_data && m_data != m_owned.data())
        Replace(m_data, m_size);
}

void CKrVariant::SetType(int32_t type)
{
    // Eight bytes as the engine always gave, but never fewer than the type needs.
    uint32_t size = type == kEmpty ? 0 : std::max<uint32_t>(8, FixedSize(type));
    TakeOwned(std::vector<uint8_t>(size, 0), type);
    m_unit = kUnitPlain;
}

void CKrVariant::SetRaw(const void* bytes, uint32_t size, int32_t type)
{
    m_type = type;
    Replace(bytes, size);
    m_unit = kUnitPlain;
}

void CKrVariant::SetView(const void* bytes, int32_t type)
{
    uint32_t size = FixedSize(type);
    if (!bytes)
        size = 0;
    else if (type == kString)
        size = static_cast<uint32_t>(std::strlen(static_cast<const char*>(bytes)) + 1);
    else if (type == kWideString)
        size = static_cast<uint32_t>(2 * (std::char_traits<char16_t>::length(static_cast<const char16_t*>(bytes)) + 1));
    m_owned.clear();
    m_data = size ? static_cast<const uint8_t*>(bytes) : nullptr;
    m_size = size;
    m_type = type;
    m_unit = kUnitPlain;
}

void CKrVariant::SetInt(int32_t n)
{
    if (IsEmpty())
        return SetRaw(&n, sizeof(n), kInt);
    CKrVariant view;
    view.SetView(&n, kInt);
    Assign(view);
}

void CKrVariant::SetUnsigned(uint32_t n)
{
    if (IsEmpty())
        return SetRaw(&n, sizeof(n), kUnsigned);
    CKrVariant view;
    view.SetView(&n, kUnsigned);
    Assign(view);
}

void CKrVariant::SetFloat(float f)
{
    if (IsEmpty())
        return SetRaw(&f, sizeof(f), kFloat);
    CKrVariant view;
    view.SetView(&f, kFloat);
    Assign(view);
}

void CKrVariant::SetString(const std::string& s)
{
    SetString(s.c_str());
}

void CKrVariant::SetString(const char* s)
{
    if (!s)
        s = "";
    if (IsEmpty())
        return SetRaw(s, static_cast<uint32_t>(std::strlen(s) + 1), kString);
    CKrVariant view;
    view.m_codePage = m_codePage;
    view.SetView(s, kString);
    Assign(view);
}

void CKrVariant::SetWideString(const std::u16string& s)
{
    SetWideString(s.c_str());
}

void CKrVariant::SetWideString(const char16_t* s)
{
    if (!s)
        s = u"";
    if (IsEmpty())
        return SetRaw(s, static_cast<uint32_t>(2 * (std::char_traits<char16_t>::length(s) + 1)), kWideString);
    CKrVariant view;
    view.m_codePage = m_codePage;
    view.SetView(s, kWideString);
    Assign(view);
}

void CKrVariant::Assign(const CKrVariant& other)
{
    if (this == &other)
        return;
    if (IsEmpty())
    {
        m_type = other.m_type;
        m_unit = other.m_unit;
        Replace(other.m_data, other.m_size);
        return;
    }
    if (Equals(other))
        return;
    switch (m_type)
    {
    case kInt:
    {
        int32_t v = other.AsInt();
        return Replace(&v, sizeof(v));
    }
    case kUnsigned:
    {
        uint32_t v = other.AsUnsigned();
        return Replace(&v, sizeof(v));
    }
    case kFloat:
    {
        float v = other.AsFloat();
        return Replace(&v, sizeof(v));
    }
    case kString:
    {
        std::string v = other.AsDisplayText();
        return Replace(v.c_str(), static_cast<uint32_t>(v.size() + 1));
    }
    case kWideString:
    {
        std::u16string v = other.AsWideText();
        return Replace(v.c_str(), static_cast<uint32_t>(2 * (v.size() + 1)));
    }
    default:
        break;
    }
    if (IsFloatGroup(m_type))
    {
        std::array<float, 4> v = other.ReadFloats();
        return Replace(v.data(), FixedSize(m_type));
    }
    if (IsTime(m_type))
    {
        int64_t v = other.AsTime();
        return Replace(&v, sizeof(v));
    }
}

bool CKrVariant::Equals(const CKrVariant& other) const
{
    if (IsEmpty() || other.IsEmpty())
        return false;
    switch (m_type)
    {
    case kInt: return AsInt() == other.AsInt();
    case kUnsigned: return AsUnsigned() == other.AsUnsigned();
    case kFloat: return AsFloat() == other.AsFloat();
    case kString: return NarrowBytes() == other.AsDisplayText();
    case kWideString: return WideChars() == other.AsWideText();
    default: break;
    }
    if (IsFloatGroup(m_type))
    {
        std::array<float, 4> mine = ReadFloats(), theirs = other.ReadFloats();
        for (size_t i = 0; i < ComponentCount(m_type); ++i)
            if (!(mine[i] == theirs[i]))
                return false;
        return true;
    }
    if (IsTime(m_type))
        return AsTime() == other.AsTime();
    return false;
}

template <typename T>
T CKrVariant::ReadPod() const
{
    T value{};
    if (m_data)
        std::memcpy(&value, m_data, std::min<size_t>(m_size, sizeof(T)));
    return value;
}

std::string CKrVariant::NarrowBytes() const
{
    if (!m_data)
        return {};
    const char* chars = reinterpret_cast<const char*>(m_data);
    const void* nul = std::memchr(chars, 0, m_size);
    return std::string(chars, nul ? static_cast<const char*>(nul) - chars : m_size);
}

std::u16string CKrVariant::WideChars() const
{
    std::u16string out;
    for (uint32_t i = 0; m_data && i + 1 < m_size; i += 2)
    {
        char16_t c;
        std::memcpy(&c, m_data + i, sizeof(c));
        if (c == 0)
            break;
        out.push_back(c);
    }
    return out;
}

std::array<float, 4> CKrVariant::ReadFloats() const
{
    std::array<float, 4> out{};
    if (IsFloatGroup(m_type))
    {
        if (m_data)
            std::memcpy(out.data(), m_data, std::min<size_t>(m_size, ComponentCount(m_type) * sizeof(float)));
    }
    else
    {
        out[0] = AsFloat();
    }
    return out;
}

int32_t CKrVariant::AsInt() const
{
    switch (m_type)
    {
    case kInt:
    case kUnsigned: return static_cast<int32_t>(ReadPod<uint32_t>());
    case kFloat: return TruncateToInt32(ReadPod<float>());
    case kString: return SaturateToInt32(ParseInteger(NarrowBytes(), false));
    case kWideString: return SaturateToInt32(ParseInteger(WideChars(), true));
    default: break;
    }
    if (IsTime(m_type))
        return static_cast<int32_t>(static_cast<uint32_t>(ReadPod<int64_t>()));
    return 0;
}

uint32_t CKrVariant::AsUnsigned() const
{
    switch (m_type)
    {
    case kInt:
    case kUnsigned: return ReadPod<uint32_t>();
    case kFloat: return TruncateToUnsigned32(ReadPod<float>());
    case kString: return ToUnsigned32(ParseInteger(NarrowBytes(), false));
    case kWideString: return ToUnsigned32(ParseInteger(WideChars(), true));
    default: break;
    }
    if (IsTime(m_type))
        return static_cast<uint32_t>(ReadPod<int64_t>());
    return 0;
}

float CKrVariant::AsFloat() const
{
    double value;
    switch (m_type)
    {
    case kInt: return static_cast<float>(ReadPod<int32_t>());
    case kUnsigned: return static_cast<float>(ReadPod<uint32_t>());
    case kFloat: return ReadPod<float>();
    case kString: value = ParseDecimal(NarrowBytes()); break;
    case kWideString: value = ParseDecimal(AsciiPrefix(WideChars())); break;
    default: return 0.0f;
    }
    float f = static_cast<float>(value);
    switch (m_unit)
    {
    case kUnitPercent: return f * 0.01f;
    case kUnitDegrees:
    case kUnitDegreesPerSecond: return f * kRadiansPerDegree;
    case kUnitByte:
    {
        float fraction = f / 255.0f;
        return fraction < 0.0f ? 0.0f : (fraction > 1.0f ? 1.0f : fraction);
    }
    default: return f;
    }
}

int64_t CKrVariant::AsTime() const
{
    switch (m_type)
    {
    case kInt: return ReadPod<int32_t>();
    case kUnsigned: return ReadPod<uint32_t>();
    case kFloat: return TruncateToInt64(ReadPod<float>());
    case kString: return ParseInteger(NarrowBytes(), false);
    case kWideString: return ParseInteger(WideChars(), false);
    default: break;
    }
    return IsTime(m_type) ? ReadPod<int64_t>() : 0;
}

// The display forms are the locale's own, whatever they do with the year.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-y2k"
std::string CKrVariant::FormatText(TimeForm form) const
{
    switch (m_type)
    {
    case kString: return NarrowBytes();
    case kInt:
    case kUnsigned: return Printf("%d", static_cast<int>(ReadPod<int32_t>()));
    case kWideString: return ToNarrow(WideChars(), m_codePage);
    case kFloat:
    {
        double v = ReadPod<float>();
        switch (m_unit)
        {
        case kUnitMetres: return Printf("%.2f m", v);
        case kUnitPercent: return Printf("%.2f %%", v * 100.0);
        case kUnitDegrees: return Printf("%.2f %c", v * kDegreesPerRadian, kDegreeSign);
        case kUnitMetresPerSecond: return Printf("%.2f m/s", v);
        case kUnitDegreesPerSecond: return Printf("%.2f %c/s", v * kDegreesPerRadian, kDegreeSign);
        case kUnitByte: return Printf("%.0f", v * 255.0);
        default: return Printf("%.2f", v);
        }
    }
    default: break;
    }
    if (!IsTime(m_type))
        return {};
    std::tm local{};
    if (!kr::os::LocalTimeOf(ReadPod<int64_t>(), local))
        return {};
    char buffer[128];
    size_t length = 0;
    bool iso = form == TimeForm::Iso;
    if (m_type == kDate)
        length = std::strftime(buffer, sizeof(buffer), iso ? "%Y-%m-%d" : "%x", &local);
    else if (m_type == kTimeOfDay)
        length = std::strftime(buffer, sizeof(buffer), iso ? "%H:%M:%S" : "%X", &local);
    else
        length = std::strftime(buffer, sizeof(buffer), iso ? "%Y-%m-%d %H:%M:%S" : "%c", &local);
    return std::string(buffer, length);
}
#pragma GCC diagnostic pop

std::string CKrVariant::AsText() const
{
    return FormatText(TimeForm::Iso);
}

std::string CKrVariant::AsDisplayText() const
{
    return FormatText(TimeForm::Locale);
}

std::u16string CKrVariant::AsWideText() const
{
    switch (m_type)
    {
    case kString: return ToWide(NarrowBytes(), m_codePage);
    case kWideString: return WideChars();
    default: break;
    }
    if (!IsTime(m_type))
        return WidenLatin1(AsDisplayText()); // ASCII, and 176 for the degree sign
    std::tm local{};
    if (!kr::os::LocalTimeOf(ReadPod<int64_t>(), local))
        return {};
    if (m_type == kDate)
        return kr::os::LocaleShortDate(local);
    if (m_type == kTimeOfDay)
        return kr::os::LocaleShortTime(local);
    return kr::os::LocaleShortDate(local) + u" " + kr::os::LocaleShortTime(local);
}

uint32_t CKrVariant::TextLength() const
{
    if (m_type == kString)
        return static_cast<uint32_t>(NarrowBytes().size());
    if (m_type == kWideString)
        return static_cast<uint32_t>(WideChars().size());
    return 0;
}

void CKrVariant::MakeUpper()
{
    if (m_type != kString && m_type != kWideString)
        return;
    MakeOwned();
    if (m_type == kString)
    {
        // ASCII only: other bytes belong to the code page, or are parts of UTF-8 sequences.
        for (uint8_t& c : m_owned)
        {
            if (c == 0)
                break;
            if (c >= 'a' && c <= 'z')
                c = static_cast<uint8_t>(c - 0x20);
        }
        return;
    }
    for (size_t i = 0; i + 1 < m_owned.size(); i += 2)
    {
        char16_t c;
        std::memcpy(&c, &m_owned[i], sizeof(c));
        if (c == 0)
            break;
        c = UpperWide(c);
        std::memcpy(&m_owned[i], &c, sizeof(c));
    }
}
