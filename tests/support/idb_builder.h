// Builds items databases byte by byte, framed as the game writes them, for
// tests, the bundled sample and the benchmark.
//
// Real framing is nested tag-length-value. A size is one byte holding 2·L
// (L <= 127) or four little-endian bytes holding 2·L+1. The file is byte 1
// and a four-byte size; each category is its tag and a four-byte size of its
// records; each record is tag 1, its size and its fields; each field is a
// tag, a one-byte size and the value. A record's first field is the item
// name, tag 0.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace idb::testing {

// Little-endian bytes of a value.
std::string Le32(std::uint32_t value);
std::string Le16(std::uint16_t value);
std::string SingleBytes(float value);

// The size of L bytes: one even byte below 128, else four bytes of 2·L+1.
std::string EncodeSize(std::uint32_t length);
// Always the four-byte form.
std::string EncodeSize4(std::uint32_t length);

// UTF-8 Russian text to Windows-1251 bytes (Cyrillic, ASCII and a few signs).
std::string Cp1251(std::string_view utf8);

// The common item block of the five later categories.
struct CommonFields {
    std::string typeName = "Type";
    std::int32_t unlisted = 0;
    std::string materialType = "Material";
    std::int32_t figureNames = 0;
    std::int32_t textureTypeIndex = 0;
    std::int32_t textureTypeIndex2 = 0;
    float price = 0;
    float weight = 0;
    float size = 0;
    float mana = 0;
    std::int32_t slots = 0;
    float durability = 0;
    std::int32_t components = 0;
    std::int32_t shopFlags = 0;
    std::uint8_t deconstructable = 0;
};

class RecordBuilder {
public:
    // Starts the record with its name field (tag 0).
    explicit RecordBuilder(std::string_view name);

    // A field with an explicit value; `declaredLength` < 0 means the value's size.
    RecordBuilder& Field(std::uint8_t tag, std::string_view value, int declaredLength = -1);
    RecordBuilder& Text(std::uint8_t tag, std::string_view text) { return Field(tag, text); }
    RecordBuilder& Long(std::uint8_t tag, std::int32_t value) { return Field(tag, Le32(static_cast<std::uint32_t>(value))); }
    RecordBuilder& Single(std::uint8_t tag, float value) { return Field(tag, SingleBytes(value)); }
    RecordBuilder& Byte(std::uint8_t tag, std::uint8_t value) { return Field(tag, std::string(1, static_cast<char>(value))); }
    RecordBuilder& Singles(std::uint8_t tag, std::initializer_list<float> values);
    RecordBuilder& Singles(std::uint8_t tag, const std::vector<float>& values);
    // The 15 common fields with tags 1 to 15.
    RecordBuilder& Common(const CommonFields& fields);

    // The record's content: the name field and every field after it.
    const std::string& Content() const noexcept { return content_; }
    // Tag 1, the size, the content.
    std::string Bytes() const;
    // What the reader's counters add for this record: HeaderLength + RecordSize.
    std::int32_t CounterSpan() const;

private:
    std::string content_;
};

class IdbBuilder {
public:
    enum class SizeMode {
        // Category sizes are the byte size of their records, as in real files.
        Real,
        // Category sizes are 2·Σ(HeaderLength + RecordSize) + 1, so the
        // reader reads every record however many there are.
        ReaderCounters,
    };

    // Adds the next category (tags 1 to 6 in file order).
    IdbBuilder& Category(std::vector<RecordBuilder> records);
    // Bytes after the sixth category, as real files sometimes have.
    IdbBuilder& Trailing(std::string_view bytes);

    std::string Build(SizeMode mode = SizeMode::Real) const;
    void Write(const std::filesystem::path& path, SizeMode mode = SizeMode::Real) const;

private:
    std::vector<std::vector<RecordBuilder>> categories_;
    std::string trailing_;
};

// Writes bytes to a file, replacing it; throws std::runtime_error on failure.
void WriteFile(const std::filesystem::path& path, std::string_view bytes);
// The whole file; throws std::runtime_error when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

}  // namespace idb::testing
