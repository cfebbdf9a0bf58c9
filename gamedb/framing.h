// The node framing shared by every database kind: tag, size (1 byte holding
// 2L, or 4 bytes LE holding 2L+1), payload. The file is one node (tag 1) of
// blocks, a block is a node of records (tag 1), a record a node of fields;
// after the file node comes a trailer (normally 10 constant bytes).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "gamedb/byte_io.h"
#include "gamedb/error.h"

namespace gamedb {

inline constexpr std::uint32_t kMaxShortLength = 127;
// 2L+1 must fit 32 bits.
inline constexpr std::uint64_t kMaxNodeLength = 0x7FFFFFFF;
inline constexpr std::array<std::uint8_t, 10> kStandardTrailer = {0x00, 0x00, 0x02, 0x0C, 0x02,
                                                                 0x08, 0x01, 0x00, 0x00, 0x00};

struct NodeHeader {
    std::uint8_t tag = 0;
    bool longForm = false;        // the 4-byte size
    std::uint32_t length = 0;     // payload length L

    std::size_t HeaderSize() const { return longForm ? 5 : 2; }
    // Whether the writer's rule (1 byte iff L <= 127) gives this form.
    bool Canonical() const { return longForm == (length > kMaxShortLength); }
};

// One node inside a buffer: its header, where it starts and its payload.
struct NodeView {
    NodeHeader header;
    std::size_t start = 0;                    // offset of the tag within the buffer
    std::span<const std::uint8_t> payload;
};

// Walks the nodes that fill a buffer back to back (the fields of a record,
// the items of a list). Never reads outside the buffer.
class NodeCursor {
public:
    explicit NodeCursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    // The next node; false at the end. A header or payload that overruns the
    // buffer is not a node: Next returns false and Failure() says why.
    // Inline for the usual short node: unpack reads one per cell.
    bool Next(NodeView& node) {
        if (pos_ >= bytes_.size() || !failure_.empty()) return false;
        const std::size_t left = bytes_.size() - pos_;
        const std::uint8_t* p = bytes_.data() + pos_;
        if (left < 2 || (p[1] & 1) != 0 || std::size_t{p[1]} >> 1 > left - 2) return NextSlow(node);
        node.header.tag = p[0];
        node.header.longForm = false;
        node.header.length = p[1] >> 1;
        node.start = pos_;
        node.payload = bytes_.subspan(pos_ + 2, node.header.length);
        pos_ += 2 + node.header.length;
        return true;
    }
    bool AtEnd() const { return pos_ == bytes_.size(); }
    std::size_t Position() const { return pos_; }
    // Empty unless Next failed.
    const std::string& Failure() const { return failure_; }

private:
    bool NextSlow(NodeView& node);

    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
    std::string failure_;
};

// Whether the bytes are exactly a sequence of whole nodes.
bool IsNodeSequence(std::span<const std::uint8_t> bytes);

// Appends a node header; the long form when L > 127 or `forceLong`.
void AppendHeader(std::vector<std::uint8_t>& out, std::uint8_t tag, std::size_t length, bool forceLong = false);
void AppendNode(std::vector<std::uint8_t>& out, std::uint8_t tag, std::span<const std::uint8_t> payload,
                bool forceLong = false);

// Writing a node whose length is known only after its payload: BeginNode
// puts the tag and a 1-byte size; FinishNode sets the size, widening it to 4
// bytes when the payload is long (or `forceLong`). Returns false when the
// payload is too long for any size.
// Inline: pack writes a node per cell.
inline std::size_t BeginNode(std::vector<std::uint8_t>& out, std::uint8_t tag) {
    const std::size_t start = out.size();
    out.resize(start + 2);
    out[start] = tag;
    return start;
}
bool FinishLongNode(std::vector<std::uint8_t>& out, std::size_t start, std::size_t length);
inline bool FinishNode(std::vector<std::uint8_t>& out, std::size_t start, bool forceLong = false) {
    const std::size_t length = out.size() - start - 2;
    if (length > kMaxShortLength || forceLong) return FinishLongNode(out, start, length);
    out[start + 1] = static_cast<std::uint8_t>(length << 1);
    return true;
}

// A block as the streaming reader meets it.
struct BlockInfo {
    NodeHeader header;
    std::uint64_t offset = 0;          // of the block's tag within the source
    std::size_t index = 0;             // 0-based position in the file
};

// A record read into the reader's reused buffer.
struct RecordInfo {
    NodeHeader header;
    std::uint64_t offset = 0;          // of the record's tag within the source
    std::uint64_t payloadOffset = 0;   // of its first payload byte
    long long number = 0;              // within its block, from 1
    std::span<const std::uint8_t> payload;  // valid until the next call
};

// Reads a database one record at a time: memory stays at the size of the
// largest record, however large the file. Every size is checked against
// what its parent node has left before anything is read or allocated.
class FrameReader {
public:
    // Reads the file node's header.
    explicit FrameReader(ByteSource& source);

    const NodeHeader& FileNode() const { return file_; }
    // Next block; false after the last one. Skips what is left of the
    // current block first.
    bool NextBlock(BlockInfo& block);
    // Next record of the current block; false at the block's end.
    bool NextRecord(RecordInfo& record);
    // The same, with the payload appended to `payloads` (record.payload
    // points there until `payloads` grows), so that many records are held
    // together.
    bool NextRecord(RecordInfo& record, std::vector<std::uint8_t>& payloads);
    // After the last block: the bytes that follow the file node.
    std::uint64_t TrailerLength() const;
    ByteSource& Source() { return source_; }
    // Names the current block in messages (set by the caller that knows the schema).
    void SetBlockName(std::string name) { blockName_ = std::move(name); }
    // An error at `offset` inside the current block / record.
    [[noreturn]] void Fail(std::uint64_t offset, const std::string& problem, const std::string& field = {}) const;
    // The file and the current block, for messages about its records made elsewhere.
    Place BlockPlace() const;

private:
    NodeHeader ReadHeader(std::uint64_t limit, const char* what);
    // The next record's header, or false at the block's end.
    bool NextRecordHeader(RecordInfo& record);

    ByteSource& source_;
    NodeHeader file_;
    std::uint64_t fileEnd_ = 0;
    std::uint64_t blockEnd_ = 0;
    bool inBlock_ = false;
    std::size_t blockCount_ = 0;
    long long recordNumber_ = 0;
    std::string blockName_;
    std::vector<std::uint8_t> buffer_;
};

}  // namespace gamedb
