// What the set check's tables and its engine share: the grammars of the
// compound values, name folding, and how a finding is placed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gamedb/check_set.h"

namespace gamedb::set {

// Names compare without case (the game's quest hand-ins only match so).
std::string Fold(std::string_view cp1251);
std::string Utf8(std::string_view cp1251);

// `name[.arg][ ][[bracket]]`; `problem` is set when the value has not that form.
struct ItemSpecParts {
    std::string name;
    std::optional<std::string> arg;
    std::optional<std::string> bracket;
    std::string problem;
};
ItemSpecParts ParseItemSpec(std::string_view value);

// `code[ ]{mod;mod}`.
struct SpellParts {
    std::string code;
    std::vector<std::string> mods;
    bool commas = false;   // a ',' between modifiers
    std::string problem;
};
SpellParts ParseSpellSpec(std::string_view value);

// `q.zone.quest[.n]`.
struct GrantParts {
    std::string zone, quest;
    std::string problem;
};
GrantParts ParseGrant(std::string_view value);

// `gz3g`, `bz14h`.
struct Zone {
    bool quest = false;   // gz (a quest zone) rather than bz
    int number = 0;
    char letter = 0;
};
std::optional<Zone> ParseZone(std::string_view text);
// The allod letter of a quest zone: g for 1-10 and 20, k for 11-14, h for 15-19; 0 otherwise.
char AllodLetter(long long zone);

// "units.monsters.wears" -> units, monsters, wears ("head.part" for a nested field).
struct FieldPath {
    std::string_view kind, block, field;
};
FieldPath SplitPath(std::string_view path);
std::vector<std::string_view> SplitList(std::string_view text, char separator = '|');

// A finding at a record (nullptr: at the block), with the value as stored.
SetFinding At(const SetDatabase& database, std::string_view block, const SetRecord* record, std::string_view field,
              std::string_view cp1251Value, std::string text);

// `" (did you mean "wool"?)"`, or a few of the names when none is close.
std::string Suggest(std::string_view value, const std::vector<std::string>& candidates, std::string_view what);

// The records of `path`'s block, or nullptr when its database is not in the set.
const std::vector<SetRecord>* Records(const DatabaseSet& set, std::string_view kind, std::string_view block);

}  // namespace gamedb::set
