#include "gamedb/framing.h"

#include "gamedb/error.h"

namespace gamedb {

// Next for a node with a 4-byte size, and for a header or payload cut off.
bool NodeCursor::NextSlow(NodeView& node) {
    const std::size_t left = bytes_.size() - pos_;
    if (left < 2) {
        failure_ = "node header cut off (1 byte left)";
        return false;
    }
    const std::uint8_t* p = bytes_.data() + pos_;
    NodeHeader header;
    header.tag = p[0];
    if ((p[1] & 1) == 0) {
        header.length = p[1] >> 1;
    } else {
        if (left < 5) {
            failure_ = "4-byte node size cut off (" + std::to_string(left - 1) + " bytes left)";
            return false;
        }
        const std::uint32_t word = std::uint32_t{p[1]} | std::uint32_t{p[2]} << 8 | std::uint32_t{p[3]} << 16 |
                                   std::uint32_t{p[4]} << 24;
        header.longForm = true;
        header.length = word >> 1;
    }
    const std::size_t headerSize = header.HeaderSize();
    if (header.length > left - headerSize) {
        failure_ = "node (tag " + std::to_string(header.tag) + ", " + std::to_string(header.length) +
                   " bytes) overruns its parent by " + std::to_string(header.length - (left - headerSize)) +
                   " bytes";
        return false;
    }
    node.header = header;
    node.start = pos_;
    node.payload = bytes_.subspan(pos_ + headerSize, header.length);
    pos_ += headerSize + header.length;
    return true;
}

bool IsNodeSequence(std::span<const std::uint8_t> bytes) {
    NodeCursor cursor(bytes);
    NodeView node;
    while (cursor.Next(node)) {
    }
    return cursor.Failure().empty();
}

void AppendHeader(std::vector<std::uint8_t>& out, std::uint8_t tag, std::size_t length, bool forceLong) {
    out.push_back(tag);
    if (length <= kMaxShortLength && !forceLong) {
        out.push_back(static_cast<std::uint8_t>(length << 1));
        return;
    }
    const std::uint32_t word = static_cast<std::uint32_t>(length << 1 | 1);
    out.push_back(static_cast<std::uint8_t>(word));
    out.push_back(static_cast<std::uint8_t>(word >> 8));
    out.push_back(static_cast<std::uint8_t>(word >> 16));
    out.push_back(static_cast<std::uint8_t>(word >> 24));
}

void AppendNode(std::vector<std::uint8_t>& out, std::uint8_t tag, std::span<const std::uint8_t> payload,
                bool forceLong) {
    AppendHeader(out, tag, payload.size(), forceLong);
    out.insert(out.end(), payload.begin(), payload.end());
}

bool FinishLongNode(std::vector<std::uint8_t>& out, std::size_t start, std::size_t length) {
    if (length > kMaxNodeLength) return false;
    const std::uint32_t word = static_cast<std::uint32_t>(length << 1 | 1);
    const std::uint8_t size[4] = {static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
                                  static_cast<std::uint8_t>(word >> 16), static_cast<std::uint8_t>(word >> 24)};
    out[start + 1] = size[0];
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(start + 2), size + 1, size + 4);
    return true;
}

FrameReader::FrameReader(ByteSource& source) : source_(source) {
    file_ = ReadHeader(source_.Size(), "the file node");
    fileEnd_ = source_.Position() + file_.length;
}

NodeHeader FrameReader::ReadHeader(std::uint64_t limit, const char* what) {
    const std::uint64_t start = source_.Position();
    const std::uint64_t left = limit - start;
    if (left < 2) Fail(start, std::string("the header of ") + what + " is cut off at the end of its parent");
    std::uint8_t bytes[5];
    source_.Read(std::span(bytes, 2), what);
    NodeHeader header;
    header.tag = bytes[0];
    if ((bytes[1] & 1) == 0) {
        header.length = bytes[1] >> 1;
    } else {
        if (left < 5) Fail(start, std::string("the 4-byte size of ") + what + " is cut off at the end of its parent");
        source_.Read(std::span(bytes + 2, 3), what);
        header.longForm = true;
        header.length = (std::uint32_t{bytes[1]} | std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]} << 16 |
                         std::uint32_t{bytes[4]} << 24) >> 1;
    }
    const std::uint64_t room = left - header.HeaderSize();
    if (header.length > room)
        Fail(start, std::string(what) + " (tag " + std::to_string(header.tag) + ", " +
                        std::to_string(header.length) + " bytes) overruns its parent by " +
                        std::to_string(header.length - room) + " bytes");
    return header;
}

bool FrameReader::NextBlock(BlockInfo& block) {
    if (inBlock_) {
        const std::uint64_t pos = source_.Position();
        if (pos < blockEnd_) source_.Skip(blockEnd_ - pos, "the rest of a block");
        inBlock_ = false;
        blockName_.clear();
        recordNumber_ = 0;
    }
    if (source_.Position() >= fileEnd_) return false;
    block.offset = source_.Position();
    block.header = ReadHeader(fileEnd_, "a block");
    block.index = blockCount_++;
    blockEnd_ = source_.Position() + block.header.length;
    inBlock_ = true;
    return true;
}

bool FrameReader::NextRecordHeader(RecordInfo& record) {
    if (!inBlock_ || source_.Position() >= blockEnd_) return false;
    ++recordNumber_;
    record.number = recordNumber_;
    record.offset = source_.Position();
    record.header = ReadHeader(blockEnd_, "a record");
    record.payloadOffset = source_.Position();
    return true;
}

bool FrameReader::NextRecord(RecordInfo& record) {
    if (!NextRecordHeader(record)) return false;
    source_.ReadInto(buffer_, record.header.length, "a record");
    record.payload = buffer_;
    return true;
}

bool FrameReader::NextRecord(RecordInfo& record, std::vector<std::uint8_t>& payloads) {
    if (!NextRecordHeader(record)) return false;
    record.payload = source_.ReadAppend(payloads, record.header.length, "a record");
    return true;
}

std::uint64_t FrameReader::TrailerLength() const { return source_.Size() - fileEnd_; }

Place FrameReader::BlockPlace() const {
    Place place;
    place.file = source_.Label();
    if (inBlock_) place.block = blockName_;
    return place;
}

void FrameReader::Fail(std::uint64_t offset, const std::string& problem, const std::string& field) const {
    Place place = BlockPlace();
    if (inBlock_ && recordNumber_ > 0) place.record = recordNumber_;
    place.field = field;
    place.offset = static_cast<long long>(offset);
    throw Error(place, problem);
}

}  // namespace gamedb
