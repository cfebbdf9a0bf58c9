#include "tests/support/idb_builder.h"

#include <bit>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace idb::testing {

std::string Le32(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

std::string Le16(std::uint16_t value) {
    return std::string{static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

std::string SingleBytes(float value) { return Le32(std::bit_cast<std::uint32_t>(value)); }

std::string EncodeSize(std::uint32_t length) {
    if (length <= 127) return std::string(1, static_cast<char>(2 * length));
    return EncodeSize4(length);
}

std::string EncodeSize4(std::uint32_t length) { return Le32(2 * length + 1); }

std::string Cp1251(std::string_view utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        if ((c & 0xE0) != 0xC0 || i + 1 >= utf8.size()) throw std::invalid_argument("Cp1251: unsupported text");
        const unsigned code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
        i += 2;
        if (code >= 0x410 && code <= 0x44F) out += static_cast<char>(0xC0 + (code - 0x410));
        else if (code == 0x401) out += '\xA8';  // Ё
        else if (code == 0x451) out += '\xB8';  // ё
        else if (code == 0xAB) out += '\xAB';   // «
        else if (code == 0xBB) out += '\xBB';   // »
        else throw std::invalid_argument("Cp1251: character outside the code page");
    }
    return out;
}

RecordBuilder::RecordBuilder(std::string_view name) { Field(0, name); }

RecordBuilder& RecordBuilder::Field(std::uint8_t tag, std::string_view value, int declaredLength) {
    const auto length = static_cast<std::uint32_t>(declaredLength < 0 ? static_cast<int>(value.size()) : declaredLength);
    if (length > 127) throw std::invalid_argument("a field holds at most 127 bytes");
    content_ += static_cast<char>(tag);
    content_ += EncodeSize(length);
    content_ += value;
    return *this;
}

RecordBuilder& RecordBuilder::Singles(std::uint8_t tag, std::initializer_list<float> values) {
    return Singles(tag, std::vector<float>(values));
}

RecordBuilder& RecordBuilder::Singles(std::uint8_t tag, const std::vector<float>& values) {
    std::string bytes;
    for (float value : values) bytes += SingleBytes(value);
    return Field(tag, bytes);
}

RecordBuilder& RecordBuilder::Common(const CommonFields& f) {
    Text(1, f.typeName);
    Long(2, f.unlisted);
    Text(3, f.materialType);
    Long(4, f.figureNames);
    Long(5, f.textureTypeIndex);
    Long(6, f.textureTypeIndex2);
    Single(7, f.price);
    Single(8, f.weight);
    Single(9, f.size);
    Single(10, f.mana);
    Long(11, f.slots);
    Single(12, f.durability);
    Long(13, f.components);
    Long(14, f.shopFlags);
    return Byte(15, f.deconstructable);
}

std::string RecordBuilder::Bytes() const {
    return "\x01" + EncodeSize(static_cast<std::uint32_t>(content_.size())) + content_;
}

std::int32_t RecordBuilder::CounterSpan() const {
    // The reader takes two bytes after the tag as the size word: the one-byte
    // size and the name's tag 0, or the low half of the four-byte size.
    const auto length = static_cast<std::int32_t>(content_.size());
    const std::int32_t headerLength = length <= 127 ? 3 : 6;
    return headerLength + length;
}

IdbBuilder& IdbBuilder::Category(std::vector<RecordBuilder> records) {
    categories_.push_back(std::move(records));
    return *this;
}

IdbBuilder& IdbBuilder::Trailing(std::string_view bytes) {
    trailing_ = bytes;
    return *this;
}

std::string IdbBuilder::Build(SizeMode mode) const {
    std::string body;
    for (std::size_t i = 0; i < categories_.size(); ++i) {
        std::string records;
        std::int64_t span = 0;
        for (const RecordBuilder& record : categories_[i]) {
            records += record.Bytes();
            span += record.CounterSpan();
        }
        body += static_cast<char>(i + 1);
        body += mode == SizeMode::Real ? EncodeSize4(static_cast<std::uint32_t>(records.size()))
                                       : Le32(static_cast<std::uint32_t>(2 * span + 1));
        body += records;
    }
    return "\x01" + EncodeSize4(static_cast<std::uint32_t>(body.size())) + body + trailing_;
}

void IdbBuilder::Write(const std::filesystem::path& path, SizeMode mode) const { WriteFile(path, Build(mode)); }

void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read " + path.string());
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace idb::testing
