// The references between the game's databases and the rules inside them, as
// measured on the game's own data. A newly learnt reference is one line of
// kReferences; a rule of a common shape one line of kRules.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <map>

#include "gamedb/check_set.h"
#include "gamedb/set_engine.h"

namespace gamedb {
namespace {

using Part = ReferenceRule::Part;
using Mark = ReferenceRule::Mark;
using Shape = SetRule::Shape;
using namespace set;

constexpr std::string_view kAnyItem =
    "items.weapons.name|items.armors.name|items.quick_items.name|items.quest_items.name|items.loot_items.name";

// id, from, part, to, also, empty means none, mark, what a value must be.
constexpr ReferenceRule kReferences[] = {
    {"R01", "items.weapons.material", Part::Whole, "items.materials.kind", "", false, Mark::Verified, "a material kind"},
    {"R01", "items.armors.material", Part::Whole, "items.materials.kind", "", false, Mark::Verified, "a material kind"},
    {"R01", "items.quick_items.material", Part::Whole, "items.materials.kind", "None", false, Mark::Verified, "a material kind or None"},
    {"R01", "items.quest_items.material", Part::Whole, "", "", true, Mark::Verified, "empty (quest items have no material)"},
    {"R01", "items.loot_items.material", Part::Whole, "", "", true, Mark::Verified, "empty (loot items have no material)"},
    {"R02", "levers.lever_prototypes.material", Part::Whole, "items.materials.kind", "", false, Mark::Verified, "a material kind"},
    {"R03", "units.races.skin_kind", Part::Whole, "items.materials.kind", "", false, Mark::Verified, "a material kind"},
    {"R04", "units.races.head.part", Part::Whole, "units.hit_locations.name", "", false, Mark::Verified, "a hit location"},
    {"R04", "units.races.torso.part", Part::Whole, "units.hit_locations.name", "", false, Mark::Verified, "a hit location"},
    {"R04", "units.races.right_arm.part", Part::Whole, "units.hit_locations.name", "", false, Mark::Verified, "a hit location"},
    {"R04", "units.races.left_arm.part", Part::Whole, "units.hit_locations.name", "", false, Mark::Verified, "a hit location"},
    {"R04", "units.races.right_leg.part", Part::Whole, "units.hit_locations.name", "", false, Mark::Verified, "a hit location"},
    {"R04", "units.races.left_leg.part", Part::Whole, "units.hit_locations.name", "", false, Mark::Verified, "a hit location"},
    {"R05", "units.races.mask", Part::Animation, "", "", false, Mark::Observed, "an animation database"},
    {"R06", "units.monsters.race", Part::Whole, "units.races.name", "", false, Mark::Verified, "a race name"},
    {"R07", "units.monsters.wears", Part::ItemSpec, "items.armors.name", "", false, Mark::Observed, "an armor"},
    {"R08", "units.monsters.weapon1", Part::ItemSpec, "items.weapons.name", "", true, Mark::Observed, "a weapon"},
    {"R08", "units.monsters.weapon2", Part::ItemSpec, "items.weapons.name", "", true, Mark::Observed, "a weapon"},
    {"R08", "units.npcs.weapons", Part::ItemSpec, "items.weapons.name", "", false, Mark::Observed, "a weapon"},
    {"R09", "units.monsters.items", Part::ItemSpec, kAnyItem, "", false, Mark::Verified, "an item"},
    {"R10", "units.monsters.spells", Part::SpellPrototype, "spells.spell_prototypes.code", "", false, Mark::Verified, "a spell prototype code"},
    {"R10", "units.monsters.spells", Part::SpellModifiers, "spells.spell_modifiers.code", "", false, Mark::Verified, "a spell modifier code"},
    {"R10", "units.npcs.spells", Part::SpellPrototype, "spells.spell_prototypes.code", "", false, Mark::Verified, "a spell prototype code"},
    {"R10", "units.npcs.spells", Part::SpellModifiers, "spells.spell_modifiers.code", "", false, Mark::Verified, "a spell modifier code"},
    {"R10", "items.quick_items.spell", Part::SpellPrototype, "spells.spell_prototypes.code", "", true, Mark::Verified, "a spell prototype code"},
    {"R10", "items.quick_items.spell", Part::SpellModifiers, "spells.spell_modifiers.code", "", true, Mark::Verified, "a spell modifier code"},
    {"R12", "units.npcs.name", Part::Whole, "units.monsters.name", "", false, Mark::Verified, "a monster name"},
    {"R13", "units.npcs.perks", Part::Whole, "perks.perks.code", "", false, Mark::Observed, "a perk code"},
    {"R14", "units.npcs.quest_items", Part::Whole, "items.quick_items.name", "", false, Mark::Verified, "a quick item"},
    {"R15", "quests.briefings.give_items", Part::ItemSpec, kAnyItem, "", false, Mark::Verified, "an item"},
    {"R16", "quests.briefings.take_items", Part::Whole, "items.quest_items.name", "", false, Mark::Verified, "a quest item"},
    {"R17", "quests.briefings.give_quests", Part::QuestOfGrant, "quests.quests.name", "", false, Mark::Verified, "a quest name"},
    {"R17", "quests.briefings.give_quests2", Part::QuestOfGrant, "quests.quests.name", "", false, Mark::Verified, "a quest name"},
    {"R20", "acks.answers.unit", Part::Whole, "units.monsters.name|units.races.name", "", false, Mark::Observed, "a monster or race name", "scenario"},
    {"R20", "acks.cries.unit", Part::Whole, "units.monsters.name|units.races.name", "", false, Mark::Observed, "a monster or race name"},
    {"R20", "acks.others.unit", Part::Whole, "units.monsters.name|units.races.name", "", false, Mark::Observed, "a monster or race name"},
    {"R21", "spells.spell_templates.prototype", Part::Whole, "spells.spell_prototypes.code", "", true, Mark::Verified, "a spell prototype code"},
    {"R21", "spells.armor_spell_templates.prototype", Part::Whole, "spells.spell_prototypes.code", "", true, Mark::Verified, "a spell prototype code"},
    {"R21", "spells.weapon_spell_templates.prototype", Part::Whole, "spells.spell_prototypes.code", "", true, Mark::Verified, "a spell prototype code"},
    {"R22", "spells.spell_templates.required_mods", Part::Whole, "spells.spell_modifiers.code", "r|t|a|e|d|m", false, Mark::Verified, "a modifier code or family letter"},
    {"R22", "spells.spell_templates.optional_mods", Part::Whole, "spells.spell_modifiers.code", "r|t|a|e|d|m", false, Mark::Verified, "a modifier code or family letter"},
    {"R22", "spells.spell_templates.power", Part::Whole, "", "r|t|a|e|d|m", true, Mark::Verified, "a family letter"},
    {"R22", "spells.armor_spell_templates.required_mods", Part::Whole, "spells.spell_modifiers.code", "r|t|a|e|d|m", false, Mark::Verified, "a modifier code or family letter"},
    {"R22", "spells.armor_spell_templates.optional_mods", Part::Whole, "spells.spell_modifiers.code", "r|t|a|e|d|m", false, Mark::Verified, "a modifier code or family letter"},
    {"R22", "spells.armor_spell_templates.power", Part::Whole, "", "r|t|a|e|d|m", true, Mark::Verified, "a family letter"},
    {"R22", "spells.weapon_spell_templates.required_mods", Part::Whole, "spells.spell_modifiers.code", "r|t|a|e|d|m", false, Mark::Verified, "a modifier code or family letter"},
    {"R22", "spells.weapon_spell_templates.optional_mods", Part::Whole, "spells.spell_modifiers.code", "r|t|a|e|d|m", false, Mark::Verified, "a modifier code or family letter"},
    {"R22", "spells.weapon_spell_templates.power", Part::Whole, "", "r|t|a|e|d|m", true, Mark::Verified, "a family letter"},
    {"R23", "spells.spell_prototypes.special_mods", Part::Whole, "spells.spell_modifiers.code", "", false, Mark::Verified, "a spell modifier code"},
    {"R23", "spells.spell_prototypes.builtin_mods", Part::Whole, "spells.spell_modifiers.code", "", false, Mark::Verified, "a spell modifier code"},
    {"R24", "perks.perks.parent_perk", Part::Whole, "perks.perks.code", "none", false, Mark::Verified, "a perk code or none"},
    {"R25", "perks.perks.skill", Part::Whole, "perks.skills.code", "none", false, Mark::Verified, "a skill code or none"},
    {"R27", "perks.skills.base_attributes", Part::Whole, "", "str|dex|int", false, Mark::Verified, "an attribute"},
    {"R28", "spells.spell_modifiers.allod", Part::Whole, "", "Gipath|Kania|Hadagan", false, Mark::Verified, "an allod"},
    {"C23", "units.npcs.name", Part::Whole, "acks.answers.unit", "", false, Mark::Verified, "a unit with answers in acks"},
    {"C23", "units.npcs.name", Part::Whole, "acks.cries.unit", "", false, Mark::Verified, "a unit with cries in acks"},
};

// ---- the rules that are not of a common shape ------------------------------------

using Report = std::function<void(SetFinding)>;

const SetDatabase& Db(const DatabaseSet& set, std::string_view kind) { return *set.Find(kind); }

// Records of a block, empty when it is missing.
const std::vector<SetRecord>& Rows(const DatabaseSet& set, std::string_view kind, std::string_view block) {
    static const std::vector<SetRecord> kNone;
    const std::vector<SetRecord>* records = Records(set, kind, block);
    return records ? *records : kNone;
}

// C06: the places a lever uses are real numbers (the rest may be leftovers).
void LeverPlaces(const DatabaseSet& set, const Report& report) {
    for (const SetRecord& lever : Rows(set, "levers", "lever_prototypes")) {
        const std::optional<std::int64_t> count = lever.Number("place_count");
        const SetValue* places = lever.Find("places");
        if (!count) continue;
        if (*count < 0 || *count > 2) {
            report(At(Db(set, "levers"), "lever_prototypes", &lever, "place_count", std::to_string(*count), "expected 0, 1 or 2"));
            continue;
        }
        for (std::size_t i = 0; places && i < static_cast<std::size_t>(2 * *count) && i < places->floats.size(); ++i) {
            const std::uint32_t bits = places->floats[i];
            const std::uint32_t exponent = bits >> 23 & 0xFF;
            if ((bits & 0x7FFFFFFF) != 0 && (exponent == 0 || exponent == 0xFF)) {
                report(At(Db(set, "levers"), "lever_prototypes", &lever, "places", "",
                          "value " + std::to_string(i + 1) + " of the " + std::to_string(2 * *count) +
                              " in use is not a normal number (NaN, infinite or subnormal: leftover bits?)"));
            }
        }
    }
}

bool EndsWithDigit(std::string_view code) { return !code.empty() && code.back() >= '0' && code.back() <= '9'; }

// C08: a perk chain grows from its parent: parent earlier, same skill and
// exclusive, the code the parent's with the next digit; a chain starts at 1.
void PerkChains(const DatabaseSet& set, const Report& report) {
    const std::vector<SetRecord>& perks = Rows(set, "perks", "perks");
    for (std::size_t i = 0; i < perks.size(); ++i) {
        const SetRecord& perk = perks[i];
        const std::string_view code = perk.Text("code");
        const std::string_view parent = perk.Text("parent_perk");
        const auto bad = [&](std::string_view field, std::string_view value, const std::string& why) {
            report(At(Db(set, "perks"), "perks", &perk, field, value, why));
        };
        if (Fold(parent) == "none") {
            if (!code.ends_with('1')) bad("code", code, "starts a chain (no parent perk) but does not end in 1");
            continue;
        }
        const auto it = std::find_if(perks.begin(), perks.end(), [&](const SetRecord& p) { return Fold(p.Text("code")) == Fold(parent); });
        if (it == perks.end()) continue;  // R24 reports it
        if (static_cast<std::size_t>(it - perks.begin()) >= i) bad("parent_perk", parent, "the parent perk comes later in the file");
        if (Fold(it->Text("skill")) != Fold(perk.Text("skill")))
            bad("skill", perk.Text("skill"), "differs from the parent perk's skill \"" + Utf8(it->Text("skill")) + "\"");
        if (it->Number("exclusive") != perk.Number("exclusive"))
            bad("exclusive", std::to_string(perk.Number("exclusive").value_or(0)), "differs from the parent perk's");
        const std::string_view parentCode = it->Text("code");
        const bool next = EndsWithDigit(parentCode) && parentCode.back() != '9' && code.size() == parentCode.size() &&
                          Fold(code.substr(0, code.size() - 1)) == Fold(parentCode.substr(0, parentCode.size() - 1)) &&
                          code.back() == parentCode.back() + 1;
        if (!next) bad("code", code, "expected the parent's code \"" + Utf8(parentCode) + "\" with the next digit");
    }
}

// The family a modifier code belongs to by its first letter (C10).
std::optional<int> FamilyOfCode(std::string_view code) {
    if (code.empty()) return std::nullopt;
    switch (Fold(code.substr(0, 1))[0]) {
    case 'r': return 0;
    case 't': return 1;
    case 'a': return 2;
    case 'e': return 3;
    case 'd': return 4;
    case 'm': return 5;
    case 'f':
    case 'c': return 6;
    case 'i': return 7;
    default: return std::nullopt;
    }
}

void ModifierKinds(const DatabaseSet& set, const Report& report) {
    for (const SetRecord& modifier : Rows(set, "spells", "spell_modifiers")) {
        const std::string_view code = modifier.Text("code");
        const std::optional<int> family = FamilyOfCode(code);
        const std::optional<std::int64_t> kind = modifier.Number("kind");
        if (!kind) continue;
        if (!family) {
            report(At(Db(set, "spells"), "spell_modifiers", &modifier, "code", code,
                      "does not start with a family letter (r t a e d m f c i)"));
        } else if (*kind != *family) {
            report(At(Db(set, "spells"), "spell_modifiers", &modifier, "kind", std::to_string(*kind),
                      "expected " + std::to_string(*family) + " for a code starting with '" + std::string(code.substr(0, 1)) + "'"));
        }
    }
}

// C11: `<r t a e d m im ir><digit>`: the digit tells the allod.
void ModifierAllods(const DatabaseSet& set, const Report& report) {
    static constexpr std::array<std::string_view, 3> kAllods = {"Gipath", "Kania", "Hadagan"};
    for (const SetRecord& modifier : Rows(set, "spells", "spell_modifiers")) {
        const std::string code = Fold(modifier.Text("code"));
        const bool family = code.size() == 2 && std::string_view("rtaedm").find(code[0]) != std::string_view::npos;
        const bool skill = code.size() == 3 && (code.starts_with("im") || code.starts_with("ir"));
        if ((!family && !skill) || !EndsWithDigit(code)) continue;
        const auto digit = static_cast<std::size_t>(code.back() - '0');
        const std::string_view allod = modifier.Text("allod");
        if (digit > 2) {
            report(At(Db(set, "spells"), "spell_modifiers", &modifier, "code", modifier.Text("code"),
                      "ends in " + std::to_string(digit) + "; the digit tells the allod: 0 Gipath, 1 Kania, 2 Hadagan"));
        } else if (Fold(allod) != Fold(kAllods[digit])) {
            report(At(Db(set, "spells"), "spell_modifiers", &modifier, "allod", allod,
                      "expected " + std::string(kAllods[digit]) + " for the code \"" + Utf8(modifier.Text("code")) + "\""));
        }
    }
}

bool EmptyTemplate(const SetRecord& record) {
    const SetValue* required = record.Find("required_mods");
    const SetValue* optional = record.Find("optional_mods");
    return record.Text("prototype").empty() && (!required || required->texts.empty()) &&
           (!optional || optional->texts.empty()) && record.Number("shops").value_or(0) == 0;
}

// C12: every template block ends with exactly one empty record.
void TemplateEnds(const DatabaseSet& set, const Report& report) {
    for (std::string_view block : {"spell_templates", "armor_spell_templates", "weapon_spell_templates"}) {
        const std::vector<SetRecord>* records = Records(set, "spells", block);
        if (records == nullptr) continue;
        for (std::size_t i = 0; i + 1 < records->size(); ++i)
            if (EmptyTemplate((*records)[i]))
                report(At(Db(set, "spells"), block, &(*records)[i], "", "", "an empty template before the end of the block"));
        if (records->empty() || !EmptyTemplate(records->back()))
            report(At(Db(set, "spells"), block, nullptr, "", "",
                      "does not end with an empty record (no prototype, no modifiers, shops 0)"));
    }
}

// C13: head is a skull, torso a torso, both arms and both legs alike.
void RaceBodies(const DatabaseSet& set, const Report& report) {
    for (const SetRecord& race : Rows(set, "units", "races")) {
        const auto part = [&](std::string_view slot) { return race.Text(std::string(slot) + ".part"); };
        const auto expect = [&](std::string_view slot, std::string_view want) {
            if (race.Find(std::string(slot) + ".part") && Fold(part(slot)) != want)
                report(At(Db(set, "units"), "races", &race, std::string(slot) + ".part", part(slot),
                          "expected \"" + std::string(want) + "\""));
        };
        expect("head", "skull");
        expect("torso", "torso");
        for (const auto& [right, left] : {std::pair("right_arm", "left_arm"), std::pair("right_leg", "left_leg")})
            if (race.Find(std::string(left) + ".part") && Fold(part(right)) != Fold(part(left)))
                report(At(Db(set, "units"), "races", &race, std::string(left) + ".part", part(left),
                          "differs from " + std::string(right) + " \"" + Utf8(part(right)) + "\""));
    }
}

// C14: the three prints blocks list the same terrains in the same order.
void PrintTerrains(const DatabaseSet& set, const Report& report) {
    const std::vector<SetRecord>& blood = Rows(set, "prints", "blood_prints");
    for (std::string_view block : {"foot_prints", "fire_prints"}) {
        const std::vector<SetRecord>& other = Rows(set, "prints", block);
        for (std::size_t i = 0; i < std::max(blood.size(), other.size()); ++i) {
            const std::string_view want = i < blood.size() ? blood[i].Text("terrain") : std::string_view("(none)");
            if (i >= other.size()) {
                report(At(Db(set, "prints"), block, nullptr, "", "",
                          "has " + std::to_string(other.size()) + " terrains, blood_prints " + std::to_string(blood.size())));
                break;
            }
            if (i >= blood.size() || Fold(other[i].Text("terrain")) != Fold(want)) {
                report(At(Db(set, "prints"), block, &other[i], "terrain", other[i].Text("terrain"),
                          "expected \"" + Utf8(want) + "\", the terrain at this place in blood_prints"));
                break;
            }
        }
    }
}

// C16: a monster wears at most one armor of each kind.
void OneArmorPerKind(const DatabaseSet& set, const Report& report) {
    std::map<std::string, std::string> kindOf;
    for (const SetRecord& armor : Rows(set, "items", "armors")) kindOf.emplace(Fold(armor.key), armor.Text("kind"));
    for (const SetRecord& monster : Rows(set, "units", "monsters")) {
        const SetValue* wears = monster.Find("wears");
        if (wears == nullptr) continue;
        std::map<std::string, std::string> worn;
        for (const std::string& wear : wears->texts) {
            const ItemSpecParts parts = ParseItemSpec(wear);
            const auto it = kindOf.find(Fold(parts.name));
            if (!parts.problem.empty() || it == kindOf.end()) continue;
            const auto [at, fresh] = worn.emplace(Fold(it->second), wear);
            if (!fresh)
                report(At(Db(set, "units"), "monsters", &monster, "wears", wear,
                          "a second " + Utf8(it->second) + " (also wears \"" + Utf8(at->second) + "\")"));
        }
    }
}

// The family index (range 0 .. duration 4) a template item stands for, if any.
std::optional<int> TemplateFamily(std::string_view item, const std::map<std::string, std::int64_t>& modifierKinds) {
    static constexpr std::string_view kFamilies = "rtade";
    if (item.size() == 1) {
        const auto at = kFamilies.find(Fold(item)[0]);
        return at == std::string_view::npos ? std::nullopt : std::optional<int>(static_cast<int>(at));
    }
    const auto it = modifierKinds.find(Fold(item));
    if (it == modifierKinds.end() || it->second < 0 || it->second > 4) return std::nullopt;
    return static_cast<int>(it->second);
}

// C21: what a template asks of families range..duration, its prototype allows.
void TemplatesAllowed(const DatabaseSet& set, const Report& report) {
    static constexpr const char* kNames[] = {"range", "targets", "area", "effect", "duration"};
    std::map<std::string, std::int64_t> modifierKinds;
    for (const SetRecord& modifier : Rows(set, "spells", "spell_modifiers"))
        if (auto kind = modifier.Number("kind")) modifierKinds.emplace(Fold(modifier.Text("code")), *kind);
    std::map<std::string, const SetRecord*> prototypes;
    for (const SetRecord& prototype : Rows(set, "spells", "spell_prototypes"))
        prototypes.emplace(Fold(prototype.Text("code")), &prototype);
    for (std::string_view block : {"spell_templates", "armor_spell_templates", "weapon_spell_templates"}) {
        for (const SetRecord& record : Rows(set, "spells", block)) {
            const auto it = prototypes.find(Fold(record.Text("prototype")));
            if (it == prototypes.end()) continue;
            const SetValue* allowed = it->second->Find("mod_allowed");
            if (allowed == nullptr || allowed->numbers.size() != 5) continue;
            for (std::string_view field : {"required_mods", "optional_mods"}) {
                const SetValue* items = record.Find(field);
                for (const std::string& item : items ? items->texts : std::vector<std::string>{}) {
                    const std::optional<int> family = TemplateFamily(item, modifierKinds);
                    if (family && allowed->numbers[static_cast<std::size_t>(*family)] == 0)
                        report(At(Db(set, "spells"), block, &record, field, item,
                                  "of the " + std::string(kNames[*family]) + " family, which \"" +
                                      Utf8(it->second->Text("code")) + "\" does not allow (mod_allowed)"));
                }
            }
        }
    }
}

// C24: a quest's name ends in its zone's allod letter.
void QuestLetters(const DatabaseSet& set, const Report& report) {
    for (const SetRecord& quest : Rows(set, "quests", "quests")) {
        const std::string name = Fold(quest.Text("name"));
        const std::optional<std::int64_t> zone = quest.Number("zone");
        if (name.empty() || name == "dummy" || !zone) continue;
        const char letter = AllodLetter(*zone);
        if (letter != 0 && name.back() != letter)
            report(At(Db(set, "quests"), "quests", &quest, "name", quest.Text("name"),
                      "does not end in '" + std::string(1, letter) + "', the allod letter of its zone " + std::to_string(*zone)));
    }
}

std::map<std::string, const SetRecord*> QuestsByName(const DatabaseSet& set) {
    std::map<std::string, const SetRecord*> quests;
    for (const SetRecord& quest : Rows(set, "quests", "quests")) quests.emplace(Fold(quest.Text("name")), &quest);
    return quests;
}

// R18 (a guess): the zone a quest is given in is the quest's zone.
void GrantZones(const DatabaseSet& set, const Report& report) {
    const auto quests = QuestsByName(set);
    for (const SetRecord& briefing : Rows(set, "quests", "briefings")) {
        for (std::string_view field : {"give_quests", "give_quests2"}) {
            const SetValue* grants = briefing.Find(field);
            for (const std::string& grant : grants ? grants->texts : std::vector<std::string>{}) {
                const GrantParts parts = ParseGrant(grant);
                const std::optional<Zone> zone = ParseZone(parts.zone);
                const auto it = quests.find(Fold(parts.quest));
                if (!parts.problem.empty() || !zone || it == quests.end()) continue;
                const std::optional<std::int64_t> questZone = it->second->Number("zone");
                if (questZone && *questZone != zone->number)
                    report(At(Db(set, "quests"), "briefings", &briefing, field, grant,
                              "given in zone " + std::to_string(zone->number) + ", but quest \"" + Utf8(parts.quest) +
                                  "\" has zone " + std::to_string(*questZone)));
            }
        }
    }
}

// R19: zone names are gz/bz + number + allod letter; a gz zone is a quest zone.
void ZoneNames(const DatabaseSet& set, const Report& report) {
    std::set<std::int64_t> questZones;
    for (const SetRecord& quest : Rows(set, "quests", "quests"))
        if (auto zone = quest.Number("zone")) questZones.insert(*zone);
    const auto check = [&](const SetDatabase& db, std::string_view block, const SetRecord& record, std::string_view field,
                           const std::string& value, std::string_view zoneText) {
        const std::optional<Zone> zone = ParseZone(zoneText);
        if (!zone) {
            report(At(db, block, &record, field, value, "\"" + Utf8(zoneText) + "\" is not a zone name (gz or bz, a number, g k or h)"));
        } else if (zone->quest && !questZones.contains(zone->number)) {
            report(At(db, block, &record, field, value, "no quest has zone " + std::to_string(zone->number)));
        } else if (zone->quest && AllodLetter(zone->number) != 0 && AllodLetter(zone->number) != zone->letter) {
            report(At(db, block, &record, field, value,
                      "zone " + std::to_string(zone->number) + " ends in '" + std::string(1, AllodLetter(zone->number)) + "'"));
        }
    };
    for (std::string_view field : {"open_zones", "unk9"}) {
        for (const SetRecord& briefing : Rows(set, "quests", "briefings")) {
            const SetValue* values = briefing.Find(field);
            for (const std::string& value : values ? values->texts : std::vector<std::string>{}) {
                if (!Fold(value).starts_with("z.")) {
                    report(At(Db(set, "quests"), "briefings", &briefing, field, value, "does not start with \"z.\""));
                    continue;
                }
                for (std::string_view zone : SplitList(std::string_view(value).substr(2), '_'))
                    check(Db(set, "quests"), "briefings", briefing, field, value, zone);
            }
        }
    }
    for (const SetRecord& item : Rows(set, "items", "quest_items")) {
        const SetValue* values = item.Find("zones");
        for (const std::string& value : values ? values->texts : std::vector<std::string>{}) {
            std::string_view zones = value;
            if (Fold(zones).starts_with("z.")) zones.remove_prefix(2);
            for (std::string_view zone : SplitList(zones, '_')) check(Db(set, "items"), "quest_items", item, "zones", value, zone);
        }
    }
}

// R25: skill_id is the 0-based place of the perk's skill (0x7FFFFFFF for none).
void PerkSkillIds(const DatabaseSet& set, const Report& report) {
    const std::vector<SetRecord>& skills = Rows(set, "perks", "skills");
    for (const SetRecord& perk : Rows(set, "perks", "perks")) {
        const std::optional<std::int64_t> id = perk.Number("skill_id");
        if (!id) continue;
        const std::string skill = Fold(perk.Text("skill"));
        std::int64_t want = -1;
        if (skill == "none") want = 0x7FFFFFFF;
        for (std::size_t i = 0; i < skills.size() && want < 0; ++i)
            if (Fold(skills[i].Text("code")) == skill) want = static_cast<std::int64_t>(i);
        if (want >= 0 && *id != want)
            report(At(Db(set, "perks"), "perks", &perk, "skill_id", std::to_string(*id),
                      "expected " + std::to_string(want) + ", the place of skill \"" + Utf8(perk.Text("skill")) + "\""));
    }
}

// R26: each spell school has perks <school>1..3 under the skill of its kind.
void SchoolPerks(const DatabaseSet& set, const Report& report) {
    static constexpr std::array<std::string_view, 3> kSkills = {"elemental", "sense", "astral"};
    std::map<std::string, const SetRecord*> perks;
    for (const SetRecord& perk : Rows(set, "perks", "perks")) perks.emplace(Fold(perk.Text("code")), &perk);
    std::set<std::string> done;
    for (const SetRecord& prototype : Rows(set, "spells", "spell_prototypes")) {
        const std::string school = Fold(prototype.Text("school"));
        const std::optional<std::int64_t> kind = prototype.Number("kind");
        if (school.empty() || !kind || *kind < 0 || *kind > 2 || !done.insert(school).second) continue;
        for (char level = '1'; level <= '3'; ++level) {
            const auto it = perks.find(school + level);
            if (it == perks.end()) {
                report(At(Db(set, "spells"), "spell_prototypes", &prototype, "school", prototype.Text("school"),
                          "no perk coded \"" + Utf8(school + level) + "\""));
            } else if (Fold(it->second->Text("skill")) != kSkills[static_cast<std::size_t>(*kind)]) {
                report(At(Db(set, "spells"), "spell_prototypes", &prototype, "school", prototype.Text("school"),
                          "perk \"" + Utf8(school + level) + "\" is under skill \"" + Utf8(it->second->Text("skill")) +
                              "\", expected \"" + std::string(kSkills[static_cast<std::size_t>(*kind)]) + "\" for spells of kind " + std::to_string(*kind)));
            }
        }
    }
}

constexpr SetRule kRules[] = {
    {"C01", Shape::Unique, "items.materials.name", "", Mark::Verified, "names are unique without case"},
    {"C01", Shape::Unique, "items.materials.code", "", Mark::Observed, "codes are unique without case"},
    {"C01", Shape::Unique, "items.weapons.name", "", Mark::Verified, "names are unique without case"},
    {"C01", Shape::Unique, "items.armors.name", "", Mark::Verified, "names are unique without case"},
    {"C01", Shape::Unique, "items.quick_items.name", "", Mark::Verified, "names are unique without case"},
    {"C01", Shape::Unique, "items.quest_items.name", "", Mark::Verified, "names are unique without case"},
    {"C01", Shape::Unique, "items.loot_items.name", "", Mark::Verified, "names are unique without case"},
    {"C01", Shape::Unique, "levers.lever_prototypes.name", "", Mark::Verified, "names are unique without case"},
    {"C01", Shape::Unique, "perks.skills.name", "", Mark::Verified, "names are unique without case"},
    {"C01", Shape::Unique, "perks.skills.code", "", Mark::Verified, "codes are unique without case"},
    {"C01", Shape::Unique, "perks.perks.name", "", Mark::Verified, "names are unique without case"},
    {"C01", Shape::Unique, "perks.perks.code", "", Mark::Verified, "codes are unique without case"},
    {"C01", Shape::Unique, "spells.spell_prototypes.name", "", Mark::Verified, "names are unique without case"},
    {"C01", Shape::Unique, "spells.spell_prototypes.code", "", Mark::Verified, "codes are unique without case"},
    {"C01", Shape::Unique, "spells.spell_modifiers.name", "", Mark::Verified, "names are unique without case"},
    {"C01", Shape::Unique, "spells.spell_modifiers.code", "", Mark::Verified, "codes are unique without case"},
    {"C01", Shape::Unique, "units.hit_locations.name", "", Mark::Verified, "names are unique without case"},
    {"C01", Shape::Unique, "units.races.name", "", Mark::Verified, "names are unique without case"},
    {"C01", Shape::Unique, "units.monsters.name", "", Mark::Verified, "names are unique without case"},
    {"C01", Shape::Unique, "units.npcs.name", "", Mark::Verified, "names are unique without case"},
    {"C01", Shape::Unique, "quests.quests.name", "dummy", Mark::Verified, "names other than dummy are unique without case"},
    {"C01", Shape::Unique, "quests.briefings.name", "", Mark::Verified, "names are unique without case"},
    {"C01", Shape::Unique, "acks.answers.unit", "", Mark::Verified, "one record per unit"},
    {"C01", Shape::Unique, "acks.cries.unit", "", Mark::Verified, "one record per unit"},
    {"C01", Shape::Unique, "acks.others.unit", "", Mark::Verified, "one record per unit"},
    {"C01", Shape::Unique, "prints.blood_prints.terrain", "", Mark::Verified, "one record per terrain"},
    {"C01", Shape::Unique, "prints.foot_prints.terrain", "", Mark::Verified, "one record per terrain"},
    {"C01", Shape::Unique, "prints.fire_prints.terrain", "", Mark::Verified, "one record per terrain"},
    {"C02", Shape::UniqueAcross, kAnyItem, "", Mark::Verified, "item names are unique across the five item blocks"},
    {"C03", Shape::Position, "items.materials.id", "0", Mark::Verified, "a material's id is its place from 0"},
    {"C04", Shape::OneToOne, "items.weapons.kind|kind_id", "", Mark::Verified, "kind and kind_id go together"},
    {"C04", Shape::OneToOne, "items.armors.kind|kind_id", "", Mark::Verified, "kind and kind_id go together"},
    {"C06", Shape::Custom, "levers", "", Mark::Observed, "the places in use are real numbers", LeverPlaces},
    {"C07", Shape::Position, "quests.quests.number", "1", Mark::Verified, "a quest's number is its place from 1"},
    {"C08", Shape::Custom, "perks", "", Mark::Verified, "perk chains", PerkChains},
    {"C09", Shape::OneToOne, "spells.spell_prototypes.school|school_id", "", Mark::Verified, "school and school_id go together"},
    {"C09", Shape::Function, "spells.spell_prototypes.school|kind", "", Mark::Verified, "the school tells the kind"},
    {"C10", Shape::Custom, "spells", "", Mark::Verified, "a modifier code's first letter tells its kind", ModifierKinds},
    {"C11", Shape::Custom, "spells", "", Mark::Verified, "a modifier code's digit tells its allod", ModifierAllods},
    {"C12", Shape::Custom, "spells", "", Mark::Verified, "template blocks end with one empty record", TemplateEnds},
    {"C13", Shape::Custom, "units", "", Mark::Verified, "race body parts", RaceBodies},
    {"C14", Shape::Custom, "prints", "", Mark::Verified, "the prints blocks list the same terrains", PrintTerrains},
    {"C15", Shape::Function, "items.loot_items.kind|type_id", "", Mark::Verified, "the kind tells the type_id"},
    {"C16", Shape::Custom, "units|items", "", Mark::Observed, "one armor of each kind", OneArmorPerKind},
    {"C19", Shape::Function, "items.quick_items.kind|quick_id", "", Mark::Verified, "the kind tells the quick_id"},
    {"C20", Shape::Unique, "items.quest_items.script_id", "0", Mark::Verified, "non-zero script ids are unique"},
    {"C21", Shape::Custom, "spells", "", Mark::Verified, "templates ask only for families their prototype allows", TemplatesAllowed},
    {"C24", Shape::Custom, "quests", "", Mark::Verified, "a quest's last letter is its zone's allod", QuestLetters},
    {"R18", Shape::Custom, "quests", "", Mark::Guessed, "a quest is given in its own zone", GrantZones},
    {"R19", Shape::Custom, "quests|items", "", Mark::Verified, "zone names", ZoneNames},
    {"R25", Shape::Custom, "perks", "", Mark::Verified, "a perk's skill_id is its skill's place", PerkSkillIds},
    {"R26", Shape::Custom, "spells|perks", "", Mark::Verified, "each spell school has its three perks", SchoolPerks},
};

// What the game's shipped databases (1.06, 1.07) break themselves.
constexpr KnownShippedFinding kKnownShipped[] = {
    {"R05", "races", "Fungus", "unmomu1"},
    {"R05", "races", "Fungus 2", "unmomu2"},
    {"R13", "npcs", "Human Mercenary Hadagan Rogue", "backstab2"},
    {"R20", "others", "Human Mercenary Archer", "Human Mercenary Archer"},
    {"R20", "others", "Human Mercenary Hadagan Archer", "Human Mercenary Hadagan Archer"},
    {"R20", "others", "Human Mercenary Kania Warrior", "Human Mercenary Kania Warrior"},
    {"R07", "monsters", "Human Gipath NPC New Sheriff F1", "gipat highest pants. thick"},
    {"R08", "monsters", "Human Gipath NPC Demon F7", "spiked club. adamantium"},
    {"C16", "monsters", "Human Kania Gang F10", "kania brigand helm.thin"},
    {"C01", "materials", "", "br"},
    {"C06", "lever_prototypes", "stbr9", ""},
    {"C22", "quick_items", "", "enlarge {e2;e2;d2;d1}"},
    {"C22", "quick_items", "", "shrink {e2;e2;d2;d1}"},
};

}  // namespace

std::span<const ReferenceRule> References() { return kReferences; }
std::span<const SetRule> Rules() { return kRules; }
std::span<const KnownShippedFinding> KnownShippedFindings() { return kKnownShipped; }

}  // namespace gamedb
