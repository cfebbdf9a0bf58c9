// The central promise: unpack then pack gives back the database byte for
// byte, for generated databases of every kind, regular and irregular.
#include <gtest/gtest.h>

#include <string>

#include "gamedb/byte_io.h"
#include "gamedb/error.h"
#include "gamedb/folder.h"
#include "gamedb/pack.h"
#include "gamedb/unpack.h"
#include "tests/support/gamedb_gen.h"

namespace gamedb::testing {
namespace {

Bytes RoundTrip(std::span<const std::uint8_t> bytes, const KindSpec& kind, MemoryFolder& folder) {
    MemorySource source(bytes, "db");
    Unpack(source, kind, folder);
    MemorySink sink;
    Pack(folder, sink);
    return sink.Bytes();
}

struct PropertyCase {
    const char* name;
    double irregularRate;   // 0: as the game writes
    int seeds;
    double lookalikeRate = 0;
};

class RoundTripProperty : public ::testing::TestWithParam<PropertyCase> {};

TEST_P(RoundTripProperty, EveryKindComesBackByteForByte) {
    const PropertyCase& c = GetParam();
    for (const KindSpec& kind : Kinds()) {
        for (int seed = 1; seed <= c.seeds; ++seed) {
            GenOptions options = c.irregularRate > 0 ? GenOptions::Irregular(static_cast<std::uint64_t>(seed), c.irregularRate)
                                                     : GenOptions{};
            options.seed = static_cast<std::uint64_t>(seed);
            options.lookalikeRate = c.lookalikeRate;
            const Bytes original = Serialize(Generate(kind, options));
            MemoryFolder folder;
            Bytes packed;
            try {
                packed = RoundTrip(original, kind, folder);
            } catch (const Error& e) {
                FAIL() << kind.name << " seed " << seed << ": " << e.what();
            }
            ASSERT_EQ(packed, original) << kind.name << " seed " << seed;
            // A second unpack gives the same tables: the text form is stable.
            MemoryFolder again;
            MemorySource source(packed, "db");
            Unpack(source, kind, again);
            ASSERT_EQ(again.Files(), folder.Files()) << kind.name << " seed " << seed;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Generated, RoundTripProperty,
                         ::testing::Values(PropertyCase{"AsTheGameWrites", 0, 25}, PropertyCase{"Irregular", 0.05, 25},
                                           PropertyCase{"VeryIrregular", 0.3, 15},
                                           PropertyCase{"SpreadsheetLookalikes", 0.05, 15, 0.5}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace gamedb::testing
