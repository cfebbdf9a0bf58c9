// The set check over generated worlds of the eight databases: a consistent
// world reports nothing; each reference kind and rule, broken once, reports
// exactly that; renaming a definition reports exactly its users.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "gamedb/check_set.h"
#include "gamedb/set_engine.h"
#include "tests/support/gamedb_world.h"

namespace gamedb {
namespace {

using testing::List;
using testing::Number;
using testing::Text;
using testing::World;
using testing::WorldCell;
using testing::WorldRow;

struct Outcome {
    std::vector<SetFinding> findings;
    SetCheckSummary summary;

    std::map<std::string, int> ByRule() const {
        std::map<std::string, int> rules;
        for (const SetFinding& f : findings) ++rules[f.rule];
        return rules;
    }
    std::string Dump() const {
        std::string text;
        for (const SetFinding& f : findings) text += FormatSetFinding(f) + "\n";
        return text;
    }
};

Outcome CheckWorld(const World& world) {
    Outcome outcome;
    outcome.summary = CheckSet(testing::ToSet(world), [&](const SetFinding& f) { outcome.findings.push_back(f); });
    return outcome;
}

TEST(GamedbSetCheck, ConsistentWorldsReportNothing) {
    for (std::uint64_t seed = 1; seed <= 25; ++seed) {
        const Outcome outcome = CheckWorld(testing::MakeWorld(seed));
        EXPECT_TRUE(outcome.findings.empty()) << "seed " << seed << "\n" << outcome.Dump();
        EXPECT_GT(outcome.summary.references, 60) << seed;
    }
}

WorldCell Part(const std::string& name) {
    testing::Bytes payload;
    testing::AppendNode(payload, 0, testing::TextPayload(name));
    return WorldCell{{}, std::nullopt, payload};
}

// A prototype that allows no modifier family, for C21 and C22.
void AddQuietPrototype(World& w) {
    w.Block("spells.spell_prototypes")
        .push_back({{"name", Text("Quiet")}, {"code", Text("quiet")}, {"school", Text("fire")}, {"kind", Number(0)},
                    {"school_id", Number(0)}, {"special_mods", List({})}, {"builtin_mods", List({})},
                    {"mod_allowed", WorldCell{{}, std::nullopt, testing::Bytes{0, 0, 0, 0, 0}}}});
}

struct BreakCase {
    const char* name;
    std::function<void(World&)> change;
    std::map<std::string, int> expected;   // rule -> findings
    SetFinding::Severity severity = SetFinding::Severity::Error;
};

// One broken value per reference kind and rule; the consistent world above
// is the case where each resolves.
const std::vector<BreakCase>& BreakCases() {
    static const std::vector<BreakCase> cases = {
        {"R01 quick item material", [](World& w) { w.Row("items.quick_items", "tiny potion 1")["material"] = Text("Nothing"); }, {{"R01", 1}}},
        {"R01 quest item material", [](World& w) { w.Row("items.quest_items", "questgear0")["material"] = Text("wool"); }, {{"R01", 1}}},
        {"R02 lever material", [](World& w) { w.Row("levers.lever_prototypes", "lever1")["material"] = Text("Wood"); }, {{"R02", 1}}},
        {"R03 skin kind", [](World& w) { w.Row("units.races", "Race 0")["skin_kind"] = Text("Scales"); }, {{"R03", 1}}},
        {"R04 body part", [](World& w) {
             w.Row("units.races", "Race 1")["right_arm"] = Part("arms");
             w.Row("units.races", "Race 1")["left_arm"] = Part("arms");
         }, {{"R04", 2}}},
        {"R05 mask", [](World& w) { w.Row("units.races", "Race 0")["mask"] = Text("unmomu1"); }, {{"R05", 1}}},
        {"R06 race", [](World& w) { w.Row("units.monsters", "Monster 0")["race"] = Text("Nobody"); }, {{"R06", 1}}},
        {"R07 wear material", [](World& w) { w.Row("units.monsters", "Monster 0")["wears"] = List({"armor 0.nosuch"}); }, {{"R07", 1}}},
        {"R07 wear is no armor", [](World& w) { w.Row("units.monsters", "Monster 0")["wears"] = List({"wolf skin"}); }, {{"R07", 1}}},
        {"R08 weapon is an armor", [](World& w) { w.Row("units.monsters", "Monster 0")["weapon1"] = Text("armor 0.wool"); }, {{"R08", 1}}},
        {"R08 npc weapon", [](World& w) { w.Block("units.npcs")[0]["weapons"] = List({"no such sword.steel"}); }, {{"R08", 1}}},
        {"R09 loot material", [](World& w) { w.Row("units.monsters", "Monster 1")["items"] = List({"material.dragon black hide [4]"}); }, {{"R09", 1}}},
        {"R09 rune", [](World& w) { w.Row("units.monsters", "Monster 1")["items"] = List({"rune.zz", "rune"}); }, {{"R09", 2}}},
        {"R10 prototype", [](World& w) { w.Row("units.monsters", "Monster 0")["spells"] = List({"fireball {e1}"}); }, {{"R10", 1}}},
        {"R10 modifier", [](World& w) { w.Block("units.npcs")[0]["spells"] = List({"fire_ball {e1;zz;t1}"}); }, {{"R10", 1}}},
        {"R10 malformed", [](World& w) { w.Row("items.quick_items", "tiny potion 2")["spell"] = Text("healing {e1"); }, {{"R10", 1}}},
        {"R12 npc without monster", [](World& w) {
             w.Block("units.npcs")[0]["name"] = Text("Nobody Here");
         }, {{"R12", 1}, {"C23", 2}}},
        {"R13 perk by name", [](World& w) { w.Block("units.npcs")[0]["perks"] = List({"Perk bs2"}); }, {{"R13", 1}}},
        {"R14 potion", [](World& w) { w.Block("units.npcs")[0]["quest_items"] = List({"tiny potion 9"}); }, {{"R14", 1}}},
        {"R15 material of another kind", [](World& w) { w.Row("quests.briefings", "b0")["give_items"] = List({"wand 5.wool"}); }, {{"R15", 1}}},
        {"R15 enchantment", [](World& w) { w.Row("quests.briefings", "b0")["give_items"] = List({"wand 5.bone[weak{e1}]"}); }, {{"R15", 1}}},
        {"R15 takes no material", [](World& w) { w.Row("quests.briefings", "b0")["give_items"] = List({"questgear1.wool"}); }, {{"R15", 1}}},
        {"R16 take item", [](World& w) { w.Row("quests.briefings", "b1")["take_items"] = List({"questgear9"}); }, {{"R16", 1}}},
        {"R17 quest", [](World& w) { w.Row("quests.briefings", "b0")["give_quests"] = List({"q.gz3g.q9ag", "q.gz3g"}); }, {{"R17", 2}}},
        {"R18 zone of the quest", [](World& w) { w.Row("quests.briefings", "b0")["give_quests"] = List({"q.gz4g.q1ag"}); }, {{"R18", 1}},
         SetFinding::Severity::Note},
        {"R19 zones", [](World& w) {
             w.Row("quests.briefings", "b0")["open_zones"] = List({"z.gz3x", "z.gz9g_bz9k", "gz3g"});
             w.Row("items.quest_items", "questgear2")["zones"] = List({"gz12g"});
         }, {{"R19", 4}}},
        {"R20 speech of no unit", [](World& w) { w.Block("acks.others")[0]["unit"] = Text("Ghost"); }, {{"R20", 1}}},
        {"R21 template prototype", [](World& w) { w.Block("spells.spell_templates")[0]["prototype"] = Text("nosuch"); }, {{"R21", 1}}},
        {"R22 template item", [](World& w) {
             w.Block("spells.weapon_spell_templates")[0]["required_mods"] = List({"x", "zz"});
             w.Block("spells.weapon_spell_templates")[0]["power"] = Text("q");
         }, {{"R22", 3}}},
        {"R23 special modifier", [](World& w) { w.Row("spells.spell_prototypes", "Spell fire_ball")["special_mods"] = List({"zz"}); }, {{"R23", 1}}},
        {"R24 parent perk", [](World& w) { w.Row("perks.perks", "Perk fire2")["parent_perk"] = Text("nosuch"); }, {{"R24", 1}}},
        {"R25 skill", [](World& w) { w.Row("perks.perks", "Perk bs1")["skill"] = Text("nosuch"); }, {{"R25", 1}, {"C08", 1}}},
        {"R25 skill id", [](World& w) { w.Row("perks.perks", "Perk fire1")["skill_id"] = Number(2); }, {{"R25", 1}}},
        {"R26 school perks", [](World& w) { w.Row("spells.spell_prototypes", "Spell healing")["kind"] = Number(1); }, {{"R26", 3}}},
        {"R27 attribute", [](World& w) { w.Block("perks.skills")[0]["base_attributes"] = List({"wis"}); }, {{"R27", 1}}},
        {"R28 allod", [](World& w) { w.Row("spells.spell_modifiers", "Modifier e1")["allod"] = Text("Atlantis"); }, {{"R28", 1}, {"C11", 1}}},
        {"C01 code twice", [](World& w) { w.Row("items.materials", "silk")["code"] = Text("M0"); }, {{"C01", 1}}},
        {"C02 name in two blocks", [](World& w) {
             w.Block("items.loot_items").push_back({{"name", Text("weapon 0")}, {"kind", Text("treasure")}, {"material", Text("")}, {"type_id", Number(0)}});
         }, {{"C02", 1}}},
        {"C03 material id", [](World& w) { w.Row("items.materials", "steel")["id"] = Number(7); }, {{"C03", 1}}},
        {"C04 kind id", [](World& w) {
             WorldRow copy = w.Block("items.weapons")[0];
             copy["name"] = Text("weapon x");
             copy["kind_id"] = Number(77);
             w.Block("items.weapons").push_back(copy);
         }, {{"C04", 1}}},
        {"C06 lever places", [](World& w) {
             w.Row("levers.lever_prototypes", "lever1")["places"] = WorldCell{{}, std::nullopt, testing::FloatBitsPayload(0x7FC00000u)};
             w.Row("levers.lever_prototypes", "lever1")["places"].raw->resize(16, 0x40);
             w.Row("levers.lever_prototypes", "lever2")["place_count"] = Number(3);
         }, {{"C06", 2}}},
        {"C07 quest number", [](World& w) { w.Block("quests.quests")[1]["number"] = Number(9); }, {{"C07", 1}}},
        {"C08 perk chain", [](World& w) { w.Row("perks.perks", "Perk fire3")["parent_perk"] = Text("fire1"); }, {{"C08", 1}}},
        {"C09 school id", [](World& w) { w.Row("spells.spell_prototypes", "Spell fire_wall")["school_id"] = Number(5); }, {{"C09", 1}}},
        {"C10 modifier kind", [](World& w) { w.Row("spells.spell_modifiers", "Modifier fe")["kind"] = Number(3); }, {{"C10", 1}}},
        {"C11 modifier allod", [](World& w) { w.Row("spells.spell_modifiers", "Modifier t2")["allod"] = Text("Kania"); }, {{"C11", 1}}},
        {"C12 template ends", [](World& w) {
             w.Block("spells.spell_templates").pop_back();
             auto& armor = w.Block("spells.armor_spell_templates");
             armor.insert(armor.begin(), armor.back());
         }, {{"C12", 2}}},
        {"C13 legs alike", [](World& w) { w.Row("units.races", "Race 0")["left_leg"] = Part("arm"); }, {{"C13", 1}}},
        {"C14 terrains", [](World& w) { w.Block("prints.fire_prints")[1]["terrain"] = Text("sand"); }, {{"C14", 1}}},
        {"C15 loot type", [](World& w) { w.Row("items.loot_items", "wolf skin")["type_id"] = Number(5); }, {{"C15", 1}}},
        {"C16 two helms", [](World& w) {
             WorldRow copy = w.Block("items.armors")[0];
             copy["name"] = Text("armor x");
             copy["material"] = Text("Cloth");
             w.Block("items.armors").push_back(copy);
             const std::string material = w.Block("items.armors")[0]["material"].texts[0];
             w.Row("units.monsters", "Monster 0")["wears"] = List(
                 {w.Block("items.armors")[0]["name"].texts[0] + (material == "Cloth" ? ".silk" : material == "Metal" ? ".steel" : ".thick"),
                  "armor x.wool"});
         }, {{"C16", 1}}},
        {"C17 comma", [](World& w) { w.Row("units.monsters", "Monster 0")["spells"] = List({"fire_ball {e1,t1}"}); }, {{"C17", 1}},
         SetFinding::Severity::Note},
        {"C18 case", [](World& w) { w.Row("quests.briefings", "b1")["take_items"] = List({"QuestGear1"}); }, {{"C18", 1}},
         SetFinding::Severity::Note},
        {"C19 quick id", [](World& w) { w.Row("items.quick_items", "tiny potion 2")["quick_id"] = Number(4); }, {{"C19", 1}}},
        {"C20 script id", [](World& w) { w.Row("items.quest_items", "questgear2")["script_id"] = Number(11); }, {{"C20", 1}}},
        {"C21 template family", [](World& w) {
             AddQuietPrototype(w);
             auto& templates = w.Block("spells.spell_templates");
             templates.insert(templates.begin(), {{"prototype", Text("quiet")}, {"required_mods", List({"e"})},
                                                  {"optional_mods", List({"t2", "fe"})}, {"power", Text("")}, {"shops", Number(31)}});
         }, {{"C21", 2}}},
        {"C22 spell family", [](World& w) {
             AddQuietPrototype(w);
             w.Row("units.monsters", "Monster 0")["spells"] = List({"quiet{e1;fe}"});
         }, {{"C22", 1}}},
        {"C23 npc without answers", [](World& w) { w.Block("acks.answers").erase(w.Block("acks.answers").begin()); }, {{"C23", 1}}},
        {"C24 quest letter", [](World& w) {
             w.Block("quests.quests").push_back({{"name", Text("q4ak")}, {"zone", Number(3)}, {"number", Number(6)}});
         }, {{"C24", 1}}},
    };
    return cases;
}

TEST(GamedbSetCheck, EachReferenceAndRuleBrokenOnceReportsExactlyThat) {
    for (const std::uint64_t seed : {std::uint64_t{3}, std::uint64_t{11}}) {
        for (const BreakCase& c : BreakCases()) {
            World world = testing::MakeWorld(seed);
            c.change(world);
            const Outcome outcome = CheckWorld(world);
            EXPECT_EQ(outcome.ByRule(), c.expected) << c.name << ", seed " << seed << "\n" << outcome.Dump();
            for (const SetFinding& f : outcome.findings) {
                EXPECT_EQ(f.severity, c.severity) << c.name << ": " << FormatSetFinding(f);
                EXPECT_FALSE(f.database.empty() || f.block.empty() || f.text.empty()) << FormatSetFinding(f);
            }
        }
    }
}

TEST(GamedbSetCheck, EveryRuleIdHasABreakCase) {
    std::set<std::string> covered;
    for (const BreakCase& c : BreakCases())
        for (const auto& [rule, count] : c.expected) covered.insert(rule);
    for (const ReferenceRule& r : References()) EXPECT_TRUE(covered.contains(std::string(r.id))) << r.id;
    for (const SetRule& r : Rules()) EXPECT_TRUE(covered.contains(std::string(r.id))) << r.id;
}

// The item strings among `fields` whose part `part` folds to `name`.
int CountSpecs(const World& world, const std::string& name, bool argument) {
    int count = 0;
    for (const char* path : {"units.monsters.wears", "units.monsters.weapon1", "units.monsters.weapon2", "units.npcs.weapons",
                             "units.monsters.items", "quests.briefings.give_items"}) {
        for (const std::string& value : world.Values(path)) {
            const set::ItemSpecParts parts = set::ParseItemSpec(value);
            if (argument ? parts.arg && set::Fold(*parts.arg) == set::Fold(name) : set::Fold(parts.name) == set::Fold(name)) ++count;
        }
    }
    return count;
}

void ExpectOnly(const Outcome& outcome, const std::set<std::string>& rules, int count, const std::string& what) {
    EXPECT_EQ(static_cast<int>(outcome.findings.size()), count) << what << "\n" << outcome.Dump();
    for (const SetFinding& f : outcome.findings) {
        EXPECT_TRUE(rules.contains(f.rule)) << what << ": " << FormatSetFinding(f);
        EXPECT_EQ(f.severity, SetFinding::Severity::Error) << FormatSetFinding(f);
    }
}

TEST(GamedbSetCheck, RenamingAMaterialReportsEveryItemNamingIt) {
    for (std::uint64_t seed = 1; seed <= 8; ++seed) {
        const World original = testing::MakeWorld(seed);
        for (const std::string& material : original.Values("items.materials.name")) {
            World world = original;
            world.Row("items.materials", material)["name"] = Text(material + "x");
            const Outcome outcome = CheckWorld(world);
            ExpectOnly(outcome, {"R07", "R08", "R09", "R15"}, CountSpecs(original, material, true), material);
            for (const SetFinding& f : outcome.findings) EXPECT_NE(f.value.find("." + material), std::string::npos) << f.value;
        }
    }
}

TEST(GamedbSetCheck, RenamingAnArmorReportsEveryUse) {
    for (std::uint64_t seed = 1; seed <= 8; ++seed) {
        const World original = testing::MakeWorld(seed);
        for (const std::string& armor : original.Values("items.armors.name")) {
            World world = original;
            world.Row("items.armors", armor)["name"] = Text(armor + " new");
            ExpectOnly(CheckWorld(world), {"R07", "R09", "R15"}, CountSpecs(original, armor, false), armor);
        }
    }
}

// Uses of a modifier code: in spells and enchantments, runes, templates, special modifiers.
int CountModifierUses(const World& world, const std::string& code) {
    int count = 0;
    const auto spell = [&](const std::string& text) {
        const set::SpellParts parts = set::ParseSpellSpec(text);
        for (const std::string& mod : parts.mods) count += set::Fold(mod) == code;
    };
    for (const char* path : {"units.monsters.spells", "units.npcs.spells", "items.quick_items.spell"})
        for (const std::string& value : world.Values(path)) spell(value);
    for (const char* path : {"units.monsters.wears", "units.monsters.weapon1", "units.npcs.weapons", "units.monsters.items",
                             "quests.briefings.give_items"}) {
        for (const std::string& value : world.Values(path)) {
            const set::ItemSpecParts parts = set::ParseItemSpec(value);
            if (parts.bracket) spell(*parts.bracket);
            count += set::Fold(parts.name) == "rune" && parts.arg && set::Fold(*parts.arg) == code;
        }
    }
    for (const char* block : {"spell_templates", "armor_spell_templates", "weapon_spell_templates"})
        for (const char* field : {"required_mods", "optional_mods"})
            for (const std::string& value : world.Values(std::string("spells.") + block + "." + field)) count += set::Fold(value) == code;
    for (const std::string& value : world.Values("spells.spell_prototypes.special_mods")) count += set::Fold(value) == code;
    return count;
}

TEST(GamedbSetCheck, RecodingAModifierReportsEverySpellUsingIt) {
    for (std::uint64_t seed = 1; seed <= 8; ++seed) {
        const World original = testing::MakeWorld(seed);
        for (const std::string& code : original.Values("spells.spell_modifiers.code")) {
            World world = original;
            // Same first letter, no allod digit, still 2 or 3 letters: only the uses break.
            for (WorldRow& row : world.Block("spells.spell_modifiers"))
                if (row["code"].texts[0] == code) row["code"] = Text(code.substr(0, code.size() - 1) + "x");
            ExpectOnly(CheckWorld(world), {"R07", "R08", "R09", "R10", "R15", "R22", "R23"}, CountModifierUses(original, code), code);
        }
    }
}

TEST(GamedbSetCheck, RenamingARaceReportsItsMonstersAndSpeech) {
    for (std::uint64_t seed = 1; seed <= 8; ++seed) {
        const World original = testing::MakeWorld(seed);
        for (const std::string& race : original.Values("units.races.name")) {
            World world = original;
            world.Row("units.races", race)["name"] = Text(race + "a");
            const auto uses = [&](const char* path) {
                const std::vector<std::string> values = original.Values(path);
                return static_cast<int>(std::count(values.begin(), values.end(), race));
            };
            ExpectOnly(CheckWorld(world), {"R06", "R20"}, uses("units.monsters.race") + uses("acks.cries.unit"), race);
        }
    }
}

TEST(GamedbSetCheck, WhatTheShippedGameBreaksIsAWarning) {
    World world = testing::MakeWorld(5);
    const std::string npc = world.Block("units.npcs")[0]["name"].texts[0];
    const std::string rogue = "Human Mercenary Hadagan Rogue";
    for (auto& [path, rows] : world.blocks)
        for (WorldRow& row : rows)
            for (const char* field : {"name", "unit"})
                if (row.contains(field) && !row[field].texts.empty() && row[field].texts[0] == npc) row[field] = Text(rogue);
    world.Row("units.npcs", rogue)["perks"] = List({"backstab2"});
    world.Row("perks.perks", "Perk bs2")["name"] = Text("Backstab2");
    world.Row("units.races", "Race 0")["mask"] = Text("unmomu1");   // a mask, but not the shipped race's
    const Outcome outcome = CheckWorld(world);
    ASSERT_EQ(outcome.findings.size(), 2u) << outcome.Dump();
    EXPECT_EQ(outcome.summary.warnings, 1);
    EXPECT_EQ(outcome.summary.errors, 1);
    const SetFinding& perk = outcome.findings[0].rule == "R13" ? outcome.findings[0] : outcome.findings[1];
    EXPECT_EQ(perk.severity, SetFinding::Severity::Warning);
    EXPECT_NE(perk.text.find("coded \"bs2\""), std::string::npos) << perk.text;
}

TEST(GamedbSetCheck, MissingDatabasesSkipTheirReferences) {
    World broken = testing::MakeWorld(2);
    broken.Row("units.monsters", "Monster 0")["wears"] = List({"no such armor.wool"});
    broken.Row("units.races", "Race 0")["mask"] = Text("nothing");
    DatabaseSet brokenSet = testing::ToSet(broken);
    brokenSet.byKind.erase("items");
    brokenSet.animations.reset();
    int findings = 0;
    const SetCheckSummary summary = CheckSet(brokenSet, [&](const SetFinding&) { ++findings; });
    EXPECT_EQ(findings, 0);
    EXPECT_GT(summary.references, 0);
}

TEST(GamedbSetCheck, MessagesSayWhyAndSuggest) {
    World world = testing::MakeWorld(4);
    world.Row("items.materials", "wool")["name"] = Text("wol");
    world.Row("units.monsters", "Monster 0")["wears"] = List({"armor 0. steel", "armor 1.wool"});
    world.Row("items.armors", "armor 0")["material"] = Text("Metal");
    world.Row("items.armors", "armor 1")["material"] = Text("Cloth");
    world.Row("units.monsters", "Monster 1")["items"] = List({"material.dragon black hide [4]"});
    std::string text;
    for (const SetFinding& f : CheckWorld(world).findings) text += FormatSetFinding(f) + "\n";
    EXPECT_NE(text.find("error: units monsters \"Monster 0\", wears \"armor 1.wool\": material \"wool\" is not a material name "
                        "(did you mean \"wol\"?) [R07]"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\"armor 0. steel\": material \" steel\" is not a material name (it would be without the blanks)"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\"dragon black hide\" is not a material name (materials: "), std::string::npos) << text;
}

TEST(GamedbSetCheck, GrammarsOfCompoundValues) {
    const set::ItemSpecParts a = set::ParseItemSpec("material.dragon green bones [2]");
    EXPECT_EQ(a.name, "material");
    EXPECT_EQ(a.arg, "dragon green bones");
    EXPECT_EQ(a.bracket, "2");
    const set::ItemSpecParts b = set::ParseItemSpec("uniqueingos helm.steel[healing{ic;e1}]");
    EXPECT_EQ(b.bracket, "healing{ic;e1}");
    EXPECT_EQ(set::ParseItemSpec("CaveGear00").name, "CaveGear00");
    for (const char* bad : {"a[2", "a]", "a[]", "a[1]b", "[1]", ".wool", "a[[1]]"})
        EXPECT_FALSE(set::ParseItemSpec(bad).problem.empty()) << bad;

    const set::SpellParts s = set::ParseSpellSpec("lightning {e2;e2;t1,fe}");
    EXPECT_EQ(s.code, "lightning");
    EXPECT_EQ(s.mods, (std::vector<std::string>{"e2", "e2", "t1", "fe"}));
    EXPECT_TRUE(s.commas);
    for (const char* bad : {"{e1}", "x{e1", "x{e1;}", "x}", "x{e1}{e2}", ""})
        EXPECT_FALSE(set::ParseSpellSpec(bad).problem.empty()) << bad;

    EXPECT_EQ(set::ParseGrant("q.gz3g.q1ag.1").quest, "q1ag");
    for (const char* bad : {"q.gz3g", "x.gz3g.q1", "q.gz3g.q1.x", "q..q1", "q.gz3g.q1.1.2"})
        EXPECT_FALSE(set::ParseGrant(bad).problem.empty()) << bad;
    EXPECT_EQ(set::ParseZone("bz14h")->number, 14);
    for (const char* bad : {"gz", "gzg", "xz3g", "gz3q", "gz99999999g"}) EXPECT_FALSE(set::ParseZone(bad)) << bad;
}

}  // namespace
}  // namespace gamedb

namespace gamedb {
namespace {

// Whatever the databases hold (random texts where names belong, misfit
// lengths, missing fields), the set check reports and never fails.
TEST(GamedbSetCheck, ArbitraryDatabasesNeverFail) {
    for (std::uint64_t seed = 1; seed <= 12; ++seed) {
        DatabaseSet set;
        for (const KindSpec& kind : Kinds()) {
            testing::GenOptions options = testing::GenOptions::Irregular(seed, 0.1);
            options.maxRecords = 8;
            const testing::Bytes bytes = testing::Serialize(testing::Generate(kind, options));
            MemorySource source(bytes, std::string(kind.name));
            set.byKind.emplace(std::string(kind.name), LoadSetDatabase(source, kind, std::string(kind.name)));
        }
        set.animations = std::set<std::string>{"unhuma"};
        long long seen = 0;
        SetCheckSummary summary;
        EXPECT_NO_THROW(summary = CheckSet(set, [&](const SetFinding& f) {
                            ++seen;
                            EXPECT_FALSE(FormatSetFinding(f).empty());
                        }));
        EXPECT_EQ(seen, summary.errors + summary.warnings + summary.notes);
        EXPECT_GT(summary.errors, 0) << seed;
    }
}

}  // namespace
}  // namespace gamedb
