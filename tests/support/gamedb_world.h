// A random but consistent set of the eight databases: every reference
// resolves and every rule of the set check holds, so that a test can break
// one thing and expect exactly its findings. The world is kept as named
// cells so that a test can edit and count values; the fields it leaves out
// are random (from gamedb_gen).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "gamedb/check_set.h"
#include "tests/support/gamedb_gen.h"

namespace gamedb::testing {

// One field: texts (one for a Text or Code4, the items of a list), a number,
// or the payload as it is.
struct WorldCell {
    std::vector<std::string> texts;
    std::optional<std::int64_t> number;
    std::optional<Bytes> raw;
};
using WorldRow = std::map<std::string, WorldCell>;

struct World {
    // "items.materials" -> records in order.
    std::map<std::string, std::vector<WorldRow>> blocks;
    std::set<std::string> animations;

    std::vector<WorldRow>& Block(const std::string& kindBlock) { return blocks.at(kindBlock); }
    // The record whose key field is `key`; fails the test when none.
    WorldRow& Row(const std::string& kindBlock, const std::string& key);
    // Every text value of `kind.block.field`, each list item apart.
    std::vector<std::string> Values(const std::string& path) const;
};

World MakeWorld(std::uint64_t seed);

GenDatabase ToDatabase(const World& world, const KindSpec& kind, std::uint64_t seed = 1);
// The world as the set check reads it (through serialised bytes).
DatabaseSet ToSet(const World& world);
// Writes the eight databases under their game names into `dir`.
void WriteWorld(const World& world, const std::filesystem::path& dir);

// Cell builders.
WorldCell Text(std::string text);
WorldCell List(std::vector<std::string> items);
WorldCell Number(std::int64_t n);

}  // namespace gamedb::testing
