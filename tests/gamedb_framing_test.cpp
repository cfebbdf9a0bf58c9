// Hand-made databases with everything the game never writes but a reader
// must keep: each comes back byte for byte. And damaged ones: each fails
// with the place named, before anything is allocated from a bad size.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "gamedb/byte_io.h"
#include "gamedb/error.h"
#include "gamedb/folder.h"
#include "gamedb/framing.h"
#include "gamedb/pack.h"
#include "gamedb/unpack.h"
#include "tests/support/gamedb_gen.h"
#include "tests/support/temp_dir.h"

namespace gamedb::testing {
namespace {

using idb::testing::TempDir;

constexpr std::array<FieldSpec, 2> kSpotFields{{{1, ValueType::Float32, "x"}, {2, ValueType::Int32, "n"}}};
constexpr RecordSpec kSpot{"spot", kSpotFields};
constexpr std::array<FieldSpec, 4> kThingFields{{{0, ValueType::Text, "name"},
                                                 {1, ValueType::Int32, "id"},
                                                 {2, ValueType::Float32, "price"},
                                                 {5, ValueType::TextList, "zones"}}};
constexpr std::array<FieldSpec, 2> kPlaceFields{{{1, ValueType::Text, "name"}, {3, ValueType::Nested, "spot", 0, &kSpot}}};
constexpr std::array<BlockSpec, 2> kTestBlocks{{{1, "things", {"thing", kThingFields}, 0},
                                                {2, "places", {"place", kPlaceFields}, 1}}};
constexpr KindSpec kTestKind{"test", "*.tdb", kTestBlocks};

Bytes Node(std::uint8_t tag, const Bytes& payload, bool longForm = false) {
    Bytes out;
    AppendNode(out, tag, payload, longForm);
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

const Bytes kTrailer(kStandardTrailer.begin(), kStandardTrailer.end());

Bytes File(const Bytes& blocks, bool longForm = true, const Bytes& after = kTrailer) {
    return Cat({Node(1, blocks, longForm), after});
}

Bytes Thing(const char* name, std::int32_t id, float price, const Bytes& zones = {}) {
    return Node(1, Cat({Node(0, TextPayload(name)), Node(1, Int32Payload(id)), Node(2, FloatPayload(price)),
                        Node(5, zones)}));
}

Bytes Place(const char* name, float x, std::int32_t n) {
    return Node(1, Cat({Node(1, TextPayload(name)), Node(3, Cat({Node(1, FloatPayload(x)), Node(2, Int32Payload(n))}))}));
}

Bytes Zones(std::initializer_list<const char*> names) {
    Bytes out;
    for (const char* name : names) AppendNode(out, 1, TextPayload(name));
    return out;
}

struct HandMade {
    const char* what;
    Bytes bytes;
};

std::vector<HandMade> HandMadeFiles() {
    const Bytes regular = Node(1, Cat({Thing("axe", 7, 1.5f, Zones({"a", "b c"})), Thing("Топор", -1, -0.0f)}));
    const Bytes places = Node(2, Place("road", 0.5f, 3));
    return {
        {"regular, short file node", File(Cat({regular, places}), false)},
        {"regular, long file node", File(Cat({regular, places}))},
        {"unknown field tag", File(Node(1, Node(1, Cat({Node(0, TextPayload("a")), Node(1, Int32Payload(1)),
                                                        Node(9, Bytes{1, 2, 3}), Node(2, FloatPayload(2)),
                                                        Node(5, {})}))))},
        {"misfit lengths", File(Node(1, Node(1, Cat({Node(0, Bytes{'a'}), Node(1, Bytes{}), Node(2, Bytes{1, 2, 3, 4, 5}),
                                                      Node(5, Bytes{1, 1})}))))},
        {"4-byte sizes for short values at every level",
         File(Node(1, Node(1, Cat({Node(0, TextPayload("a"), true), Node(1, Int32Payload(1)), Node(2, FloatPayload(2)),
                                   Node(5, Node(1, TextPayload("z"), true), true)}), true), true), true)},
        {"4-byte size inside a nested record",
         File(Node(2, Node(1, Cat({Node(1, TextPayload("p")),
                                   Node(3, Cat({Node(1, FloatPayload(1), true), Node(2, Int32Payload(2))}))}))))},
        {"empty blocks", File(Cat({Node(1, {}), Node(2, {})}))},
        {"no blocks", File({})},
        {"empty and one-empty-item lists", File(Node(1, Cat({Thing("a", 1, 1, {}), Thing("b", 2, 2, Zones({""})),
                                                             Thing("c", 3, 3, Zones({"", ""}))})))},
        {"fields out of tag order", File(Node(1, Node(1, Cat({Node(2, FloatPayload(2)), Node(0, TextPayload("a")),
                                                               Node(5, {}), Node(1, Int32Payload(1))}))))},
        {"missing fields", File(Node(1, Cat({Node(1, Node(0, TextPayload("only name"))), Node(1, {})})))},
        {"field twice", File(Node(1, Node(1, Cat({Node(0, TextPayload("a")), Node(0, TextPayload("b")),
                                                  Node(1, Int32Payload(1)), Node(2, FloatPayload(2)), Node(5, {})}))))},
        {"record tagged 3", File(Node(1, Node(3, Cat({Node(0, TextPayload("a")), Node(1, Int32Payload(1)),
                                                      Node(2, FloatPayload(2)), Node(5, {})}))))},
        {"bytes after the trailer", File(regular, true, Cat({kTrailer, Bytes{0xDE, 0xAD}}))},
        {"no trailer", File(regular, true, {})},
        {"a long tail goes to a side file", File(regular, true, Bytes(10000, 0x5A))},
        {"unknown block", File(Cat({regular, Node(9, Cat({Node(1, Node(4, Bytes{1})), Node(1, {})}))}))},
        {"block twice, out of order", File(Cat({places, regular, places}))},
        {"every float class", File(Node(1, Cat({Node(1, Cat({Node(0, TextPayload("f")), Node(1, Int32Payload(0)),
                                                             Node(2, FloatBitsPayload(0xFFFFFFFF)), Node(5, {})})),
                                                Node(1, Cat({Node(0, TextPayload("g")), Node(1, Int32Payload(0)),
                                                             Node(2, FloatBitsPayload(0x7F800001)), Node(5, {})})),
                                                Node(1, Cat({Node(0, TextPayload("h")), Node(1, Int32Payload(0)),
                                                             Node(2, FloatBitsPayload(0x00000001)), Node(5, {})})),
                                                Node(1, Cat({Node(0, TextPayload("i")), Node(1, Int32Payload(0)),
                                                             Node(2, FloatBitsPayload(0xFF800000)), Node(5, {})}))})))},
        {"every text byte", [] {
             Bytes text;
             for (int b = 1; b < 256; ++b) text.push_back(static_cast<std::uint8_t>(b));
             text.push_back(0);
             return File(Node(1, Node(1, Cat({Node(0, text), Node(1, Int32Payload(1)), Node(2, FloatPayload(2)),
                                               Node(5, Node(1, text))}))));
         }()},
        {"texts with separators", File(Node(1, Thing("#x|y;z\\{a,b}[c] ", 1, 1, Zones({"#", "a|b", "\\", "x;y"}))))},
        {"values at the 127/128 boundary", File(Node(1, Cat({Thing(std::string(126, 'a').c_str(), 1, 1),
                                                             Thing(std::string(127, 'b').c_str(), 1, 1)})))},
        {"record with no fields in a known block", File(Node(1, Node(1, {})))},
    };
}

TEST(FramingRoundTrip, HandMadeFilesComeBackByteForByte) {
    for (const HandMade& file : HandMadeFiles()) {
        MemoryFolder folder;
        MemorySource source(file.bytes, "hand-made");
        MemorySink sink;
        try {
            Unpack(source, kTestKind, folder);
            Pack(folder, sink, std::span(&kTestKind, 1));
        } catch (const Error& e) {
            ADD_FAILURE() << file.what << ": " << e.what();
            continue;
        }
        EXPECT_EQ(sink.Bytes(), file.bytes) << file.what;
    }
}

TEST(FramingRoundTrip, TablesShowIrregularRecordsInExtra) {
    const Bytes bytes = File(Cat({Node(1, Cat({Node(1, Cat({Node(2, FloatPayload(2)), Node(0, TextPayload("a"), true),
                                                            Node(9, Bytes{0xAB})})),
                                               Node(3, {}, true)})),
                                  Node(9, {})}),
                             false);
    MemoryFolder folder;
    MemorySource source(bytes, "db");
    Unpack(source, kTestKind, folder);
    EXPECT_EQ(folder.Files()["things.tsv"],
              "\xEF\xBB\xBFname\tid\tprice\tzones\t~extra\r\n"
              "a\t\t2\t\t\\e2 0!2 9=AB\r\n"
              "\t\t\t\tR3!0 -\r\n");
    EXPECT_EQ(folder.Files()["block9.tsv"], "\xEF\xBB\xBF~extra\r\n");
    EXPECT_EQ(folder.Files()["manifest.txt"],
              "\xEF\xBB\xBF" "format\t2\r\nkind\ttest\r\nfile\t1\tauto\r\nblock\t1\tthings.tsv\tauto\r\n"
              "block\t9\tblock9.tsv\tauto\r\ntrailer\t00 00 02 0C 02 08 01 00 00 00\r\n");
}

// A 4-byte size for a short node stays while the node's length does; a node
// whose length an edit changed follows the writer's rule.
TEST(FramingRoundTrip, KeptLongFormsFollowTheRuleOnceTheirLengthChanges) {
    const auto fileWith = [](const char* name) {
        const Bytes record = Node(1, Cat({Node(0, TextPayload(name), true), Node(1, Int32Payload(1)),
                                          Node(2, FloatPayload(2)), Node(5, {})}),
                                  true);
        return File(Node(1, record, true), true);
    };
    const Bytes original = fileWith("a");
    MemoryFolder folder;
    MemorySource source(original, "db");
    Unpack(source, kTestKind, folder);
    std::string& table = folder.Files()["things.tsv"];
    ASSERT_NE(table.find("a\t1\t2\t\tR!21 0!2 1 2 5\r\n"), std::string::npos) << table;
    ASSERT_NE(folder.Files()["manifest.txt"].find("file\t1\t4-byte:31\r\nblock\t1\tthings.tsv\t4-byte:26\r\n"),
              std::string::npos);

    const auto pack = [&folder] {
        MemorySink sink;
        Pack(folder, sink, std::span(&kTestKind, 1));
        return sink.Bytes();
    };
    // Same length ("b" for "a"): every 4-byte size stays.
    const std::string edited = table;
    table.replace(table.find("a\t1"), 1, "b");
    EXPECT_EQ(pack(), fileWith("b"));
    // Longer name: the field, record, block and file sizes all changed.
    table = edited;
    table.replace(table.find("a\t1"), 1, "bc");
    const Bytes canonical = File(Node(1, Thing("bc", 1, 2)), false);
    EXPECT_EQ(pack(), canonical);
}

TEST(FramingRoundTrip, RegionOfAFileReadsLikeTheBytesAlone) {
    const Bytes db = File(Node(1, Thing("axe", 7, 1.5f)));
    TempDir dir;
    const Bytes wrapped = Cat({Bytes(100, 0xEE), db, Bytes(50, 0xEE)});
    WriteBytes(dir / "archive", wrapped);
    FileRegionSource region(dir / "archive", 100, db.size(), "archive:member");
    MemoryFolder fromRegion;
    Unpack(region, kTestKind, fromRegion);
    MemoryFolder fromMemory;
    MemorySource memory(db, "db");
    Unpack(memory, kTestKind, fromMemory);
    EXPECT_EQ(fromRegion.Files(), fromMemory.Files());
    EXPECT_THROW(FileRegionSource(dir / "archive", 100, wrapped.size()), Error);
}

struct Damage {
    const char* what;
    Bytes bytes;
    long long offset;          // where the error must point
    const char* problem;       // part of the message
};

TEST(FramingDamage, IsReportedWithItsPlace) {
    const Bytes thing = Thing("axe", 7, 1.5f);
    const Bytes good = File(Node(1, thing));
    Bytes cutField = Node(1, Node(1, Cat({Node(0, TextPayload("a")), Bytes{0x01, 0x08, 0x00}})));
    const std::vector<Damage> cases = {
        {"empty file", {}, 0, "the file node is cut off"},
        {"file node longer than the file", Cat({Bytes{0x01, 0xFF, 0xFF, 0xFF, 0xFF}, Bytes(10, 0)}), 0,
         "overruns its parent by 2147483637 bytes"},
        {"cut inside a record", Bytes(good.begin(), good.end() - 14), 0, "overruns its parent"},
        {"record longer than its block", File(Cat({Bytes{0x01, 0x04, 0x01, 0x10}, Bytes{0, 0}})), 7,
         "a record (tag 1, 8 bytes) overruns its parent by 8 bytes"},
        {"field framing broken", File(cutField), 13, "bad field framing"},
        {"4-byte size cut off at the file node's end", File(Bytes{0x01, 0x03, 0x01, 0x01}), 5, "4-byte size of a block is cut off"},
    };
    for (const Damage& c : cases) {
        MemorySource source(c.bytes, "bad.tdb");
        MemoryFolder folder;
        try {
            Unpack(source, kTestKind, folder);
            ADD_FAILURE() << c.what << ": no error";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(c.problem), std::string::npos) << c.what << ": " << e.what();
            EXPECT_EQ(e.Where().file, "bad.tdb") << c.what;
            if (c.offset > 0) {
                EXPECT_EQ(e.Where().offset, c.offset) << c.what << ": " << e.what();
            }
        }
        // Nothing is committed after a failure.
        EXPECT_TRUE(folder.Files().empty() || !folder.Files().count("manifest.txt")) << c.what;
    }
}

TEST(FramingDamage, ErrorNamesBlockAndRecord) {
    const Bytes bytes = File(Node(2, Cat({Place("a", 1, 1), Node(1, Bytes{0x01, 0x09})})));
    MemorySource source(bytes, "\"x.tdb\"");
    MemoryFolder folder;
    try {
        Unpack(source, kTestKind, folder);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.Where().block, "places (tag 2)");
        EXPECT_EQ(e.Where().record, 2);
        EXPECT_EQ(std::string(e.what()).substr(0, 45), "\"x.tdb\", block places (tag 2), record 2, at o");
    }
}

// A block large enough to be written by two threads: the rows keep the
// records' order, and of two damaged records the first is reported,
// wherever the batches split.
std::string LargeName(int i) { return "r" + std::to_string(i) + std::string(static_cast<std::size_t>(i % 150), 'x'); }

Bytes LargeBlock(int records, const std::vector<int>& damaged) {
    Bytes things;
    for (int i = 0; i < records; ++i) {
        const std::string name = LargeName(i);
        Bytes record;
        if (std::find(damaged.begin(), damaged.end(), i) != damaged.end())
            record = Node(1, Cat({Node(0, TextPayload(name.c_str())), Bytes{0x01, 0x08, 0x00}}));
        else if (i % 97 == 5)  // irregular: fields out of order
            record = Node(1, Cat({Node(1, Int32Payload(i)), Node(0, TextPayload(name.c_str()))}));
        else
            record = Thing(name.c_str(), i, static_cast<float>(i) / 8, Zones({"a", "b"}));
        things.insert(things.end(), record.begin(), record.end());
    }
    return File(Node(1, things, true));
}

TEST(FramingLargeBlock, RowsKeepTheRecordsOrder) {
    constexpr int kRecords = 9000;  // about 1 MB of records
    const Bytes bytes = LargeBlock(kRecords, {});
    ASSERT_GT(bytes.size(), 900000u);  // many batches for each thread
    MemorySource source(bytes, "large.tdb");
    MemoryFolder folder;
    Unpack(source, kTestKind, folder);
    const std::string& table = folder.Files().at("things.tsv");
    std::size_t at = table.find("\r\n") + 2;  // past the header
    for (int i = 0; i < kRecords && at < table.size(); ++i) {
        ASSERT_EQ(table.compare(at, LargeName(i).size() + 1, LargeName(i) + "\t"), 0) << "row of record " << i + 1;
        at = table.find("\r\n", at) + 2;
    }
    EXPECT_EQ(at, table.size());
    MemorySink sink;
    Pack(folder, sink, std::span(&kTestKind, 1));
    EXPECT_EQ(sink.Bytes(), bytes);
}

TEST(FramingLargeBlock, TheFirstDamagedRecordIsReported) {
    constexpr int kRecords = 9000;
    for (const std::vector<int>& damaged :
         std::vector<std::vector<int>>{{8999}, {4000, 4001}, {2500, 7000}, {7000, 2500}, {100, 8000}}) {
        const Bytes bytes = LargeBlock(kRecords, damaged);
        MemorySource source(bytes, "large.tdb");
        MemoryFolder folder;
        try {
            Unpack(source, kTestKind, folder);
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_EQ(e.Where().record, *std::min_element(damaged.begin(), damaged.end()) + 1) << e.what();
            EXPECT_NE(std::string(e.what()).find("bad field framing"), std::string::npos) << e.what();
        }
        EXPECT_FALSE(folder.Files().count("manifest.txt"));
    }
}

}  // namespace
}  // namespace gamedb::testing
