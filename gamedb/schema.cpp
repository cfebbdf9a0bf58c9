#include "gamedb/schema.h"

#include "gamedb/adb.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <string>

namespace gamedb {
namespace {

// Short constructors keep each table one line per field, as the layouts read.
constexpr FieldSpec Text(std::uint8_t tag, std::string_view name) { return {tag, ValueType::Text, name}; }
constexpr FieldSpec Int(std::uint8_t tag, std::string_view name) { return {tag, ValueType::Int32, name}; }
constexpr FieldSpec UInt(std::uint8_t tag, std::string_view name) { return {tag, ValueType::UInt32, name}; }
constexpr FieldSpec Float(std::uint8_t tag, std::string_view name) { return {tag, ValueType::Float32, name}; }
template <std::size_t N>
constexpr FieldSpec Floats(std::uint8_t tag, std::string_view name, const std::array<std::string_view, N>& parts) {
    return {tag, ValueType::Float32Array, name, N, nullptr, parts.data()};
}
constexpr FieldSpec Floats(std::uint8_t tag, std::string_view name, std::uint16_t n) { return {tag, ValueType::Float32Array, name, n}; }
constexpr FieldSpec Byte(std::uint8_t tag, std::string_view name) { return {tag, ValueType::Byte, name}; }
template <std::size_t N>
constexpr FieldSpec Bytes(std::uint8_t tag, std::string_view name, const std::array<std::string_view, N>& parts) {
    return {tag, ValueType::ByteArray, name, N, nullptr, parts.data()};
}
constexpr FieldSpec Shops(std::uint8_t tag, std::string_view name) { return {tag, ValueType::Bits5, name}; }
constexpr FieldSpec Code(std::uint8_t tag, std::string_view name) { return {tag, ValueType::Code4, name}; }
constexpr FieldSpec Texts(std::uint8_t tag, std::string_view name) { return {tag, ValueType::TextList, name}; }
constexpr FieldSpec Codes(std::uint8_t tag, std::string_view name) { return {tag, ValueType::Code4List, name}; }
constexpr FieldSpec Raw(std::uint8_t tag, std::string_view name, std::uint16_t n) { return {tag, ValueType::Raw, name, n}; }
constexpr FieldSpec Nested(std::uint8_t tag, std::string_view name, const RecordSpec& record) {
    return {tag, ValueType::Nested, name, 0, &record};
}
constexpr FieldSpec List(std::uint8_t tag, std::string_view name, const RecordSpec& record) {
    return {tag, ValueType::RecordList, name, 0, &record};
}

template <std::size_t N, std::size_t M>
constexpr std::array<FieldSpec, N + M> Join(const std::array<FieldSpec, N>& a, const std::array<FieldSpec, M>& b) {
    std::array<FieldSpec, N + M> out{};
    std::copy(a.begin(), a.end(), out.begin());
    std::copy(b.begin(), b.end(), out.begin() + N);
    return out;
}

// Names of array values, which become column names ("absorption.piercing").
// An array without names numbers its values; a value of unknown meaning
// within named ones keeps its number.
using std::string_view_literals::operator""sv;
constexpr std::array kDamageKinds{"piercing"sv, "slashing"sv, "bludgeoning"sv, "thermal"sv, "chemical"sv, "electric"sv, "general"sv};
constexpr std::array kProtection{"overall"sv, "piercing"sv, "slashing"sv, "bludgeoning"sv, "thermal"sv, "chemical"sv, "electric"sv, "general"sv, "8"sv};
constexpr std::array kQuickModifiers{"science"sv, "stealing"sv, "2"sv};
constexpr std::array kPlaces{"x1"sv, "y1"sv, "x2"sv, "y2"sv};
constexpr std::array kModAllowed{"range"sv, "targets"sv, "area"sv, "effect"sv, "duration"sv};
constexpr std::array kSpeeds{"run"sv, "walk"sv, "sneak"sv, "crawl"sv};
constexpr std::array kAnimSpeeds{"attack"sv, "cast"sv, "hit"sv, "death"sv, "cross"sv, "special"sv};
constexpr std::array kSenses{"sight"sv, "infravision"sv, "sense_life"sv, "hearing"sv, "smell"sv, "tracking"sv};
constexpr std::array kMagicSchools{"elemental"sv, "senses"sv, "astral"sv};
constexpr std::array kSkillsMisc{"science"sv, "stealing"sv, "taming"sv};
constexpr std::array kSkillsCombat{"melee"sv, "archery"sv, "backstab"sv, "elemental"sv, "senses"sv, "astral"sv, "stealth"sv, "awareness"sv};

// ---- items (*.idb) ----------------------------------------------------------

constexpr std::array<FieldSpec, 14> kMaterials{{
    Text(0, "name"), Text(1, "kind"), Text(2, "code"), Int(3, "id"), Float(4, "price"), Float(5, "weight"),
    Float(6, "mana"), Int(7, "slots"), Float(8, "durability"), Int(9, "skill"), Float(10, "damage"),
    Floats(11, "absorption", kDamageKinds), Int(12, "unk12"), Shops(13, "shops"),
}};

// Tags 0-15 mean the same in every item block after materials.
constexpr std::array<FieldSpec, 16> kItemCommon{{
    Text(0, "name"), Text(1, "kind"), Int(2, "kind_id"), Text(3, "material"), Int(4, "unk4"),
    Int(5, "icon_index"), Int(6, "icon_index2"), Float(7, "price"), Float(8, "weight"), Float(9, "size"),
    Float(10, "mana"), Int(11, "slots"), Float(12, "durability"), Int(13, "components"), Shops(14, "shops"),
    Byte(15, "can_disassemble"),
}};

constexpr auto kWeapons = Join(kItemCommon, std::array<FieldSpec, 10>{{
    Int(21, "actions"), Floats(22, "unk22", 2), Float(23, "range"), Float(24, "damage_min"),
    Float(25, "damage_max"), Floats(26, "damage_split", kDamageKinds), Raw(27, "unk27", 3), Raw(28, "unk28", 8),
    Float(29, "attack_bonus"), Float(30, "defence_bonus"),
}});

constexpr auto kArmors = Join(kItemCommon, std::array<FieldSpec, 6>{{
    Floats(21, "protection_main", kProtection), Floats(22, "protection_extra", kProtection), Byte(23, "shows_wounds"),
    Int(24, "wear_order"), Raw(25, "unk25", 3), Raw(26, "unk26", 8),
}});

constexpr auto kQuickItems = Join(kItemCommon, std::array<FieldSpec, 7>{{
    Int(21, "quick_id"), Int(22, "level"), Float(23, "damage"), Float(24, "unk24"), Text(25, "spell"),
    Bytes(26, "modifiers", kQuickModifiers), Raw(27, "unk27", 8),
}});

constexpr auto kQuestItems = Join(kItemCommon, std::array<FieldSpec, 2>{{
    Int(21, "script_id"), Texts(22, "zones"),
}});

constexpr auto kLootItems = Join(kItemCommon, std::array<FieldSpec, 3>{{
    Int(21, "type_id"), Raw(22, "unk22", 4), Int(23, "unk23"),
}});

constexpr std::array<BlockSpec, 6> kItemBlocks{{
    {1, "materials", {"materials", kMaterials}, 0},
    {2, "weapons", {"weapons", kWeapons}, 0},
    {3, "armors", {"armors", kArmors}, 0},
    {4, "quick_items", {"quick_items", kQuickItems}, 0},
    {5, "quest_items", {"quest_items", kQuestItems}, 0},
    {6, "loot_items", {"loot_items", kLootItems}, 0},
}};

// ---- levers (*.ldb) ---------------------------------------------------------

constexpr std::array<FieldSpec, 8> kLevers{{
    // Only the first 2*place_count values are real; the rest are leftover bits (NaN, subnormals).
    Text(0, "name"), Floats(1, "places", kPlaces), Int(2, "place_count"), Float(3, "scale"), Int(4, "switch_time"),
    Text(5, "material"), Text(6, "sound"), Text(7, "hint"),
}};

constexpr std::array<BlockSpec, 1> kLeverBlocks{{
    {1, "lever_prototypes", {"lever_prototypes", kLevers}, 0},
}};

// ---- perks (*.pdb) ----------------------------------------------------------

constexpr std::array<FieldSpec, 4> kSkills{{
    Text(0, "name"), Text(1, "code"), Int(2, "icon_index"), Texts(10, "base_attributes"),
}};

constexpr std::array<FieldSpec, 17> kPerks{{
    Text(0, "name"), Text(1, "code"), Int(2, "icon_index"), Text(10, "parent_perk"), Text(11, "skill"),
    Int(12, "skill_id"), Int(13, "unk13"), Int(14, "skill_level"), Float(15, "need_str"), Float(16, "need_dex"),
    Float(17, "need_int"), Int(18, "cost"), Int(19, "modifier"), Int(20, "mult"), Int(21, "add"),
    Byte(22, "active"), Int(23, "exclusive"),
}};

constexpr std::array<BlockSpec, 2> kPerkBlocks{{
    {1, "skills", {"skills", kSkills}, 0},
    {2, "perks", {"perks", kPerks}, 0},
}};

// ---- prints (prints.db) -----------------------------------------------------

constexpr std::array<FieldSpec, 3> kPrintFields{{
    Float(1, "opacity"), Int(2, "lifetime"), Int(3, "fadeout"),
}};
constexpr RecordSpec kPrint{"print", kPrintFields};

constexpr std::array<FieldSpec, 3> kBloodPrints{{
    Text(1, "terrain"), Nested(2, "dry", kPrint), Nested(3, "wet", kPrint),
}};

// Only this block has tag 10, which is why it reads as footprints with a bloody variant.
constexpr std::array<FieldSpec, 4> kFootPrints{{
    Text(1, "terrain"), Nested(2, "dry", kPrint), Nested(3, "wet", kPrint), Nested(10, "bloody", kPrint),
}};

constexpr std::array<BlockSpec, 3> kPrintBlocks{{
    {1, "blood_prints", {"blood_prints", kBloodPrints}, 1},
    {2, "foot_prints", {"foot_prints", kFootPrints}, 1},
    {3, "fire_prints", {"fire_prints", kBloodPrints}, 1},
}};

// ---- spells (*.sdb) ---------------------------------------------------------

constexpr std::array<FieldSpec, 28> kSpellPrototypes{{
    Text(0, "name"), Text(1, "code"), Text(2, "school"), Float(3, "price"), Int(4, "kind"), Float(5, "mana"),
    Int(6, "slots"), Float(7, "speed"), Float(8, "range"), Float(9, "area"), Float(10, "effect"),
    Int(11, "target"), Int(12, "targets"), Int(13, "duration"), Int(14, "actions"), UInt(15, "needs_trace"),
    Codes(16, "builtin_mods"), Codes(17, "special_mods"), Int(18, "icon_index"), Int(19, "school_id"),
    Bytes(20, "mod_allowed", kModAllowed), Int(21, "complexity"), Shops(22, "shops"), Float(23, "light_r"),
    Float(24, "light_g"), Float(25, "light_b"), Float(26, "light_radius"), Float(27, "fade_time"),
}};

constexpr std::array<FieldSpec, 9> kSpellModifiers{{
    Text(0, "name"), Code(1, "code"), Float(2, "price"), Int(3, "kind"), Float(4, "mana"), Float(5, "value"),
    Int(6, "complexity"), Text(7, "allod"), Shops(8, "shops"),
}};

// Spell, armor-spell and weapon-spell templates share one layout.
constexpr std::array<FieldSpec, 5> kSpellTemplates{{
    Text(1, "prototype"), Texts(2, "required_mods"), Texts(3, "optional_mods"), Text(4, "power"),
    Shops(5, "shops"),
}};

constexpr std::array<BlockSpec, 5> kSpellBlocks{{
    {1, "spell_prototypes", {"spell_prototypes", kSpellPrototypes}, 0},
    {2, "spell_modifiers", {"spell_modifiers", kSpellModifiers}, 0},
    {3, "spell_templates", {"spell_templates", kSpellTemplates}, 1},
    {4, "armor_spell_templates", {"armor_spell_templates", kSpellTemplates}, 1},
    {5, "weapon_spell_templates", {"weapon_spell_templates", kSpellTemplates}, 1},
}};

// ---- units (*.udb) ----------------------------------------------------------

constexpr std::array<FieldSpec, 4> kBodypartFields{{
    Text(0, "part"), UInt(1, "unk1"), Float(2, "weight"), Float(3, "vitality"),
}};
constexpr RecordSpec kBodypart{"bodypart", kBodypartFields};

constexpr std::array<FieldSpec, 4> kLootFields{{
    Float(0, "chance"), Float(1, "mask"), Float(2, "min"), Float(3, "max"),
}};
constexpr RecordSpec kLoot{"loot", kLootFields};

constexpr std::array<FieldSpec, 5> kHitLocations{{
    Text(0, "name"), Floats(1, "factors_a", kDamageKinds), Floats(2, "factors_b", kDamageKinds), UInt(3, "unk3"), UInt(4, "unk4"),
}};

constexpr std::array<FieldSpec, 39> kRaces{{
    Text(0, "name"), UInt(1, "type_id"), Float(2, "regen_health"), Float(3, "regen_mana"), UInt(4, "speaks"),
    UInt(5, "locomotion"), Float(6, "vision_arc"),
    Floats(7, "speeds", kSpeeds),
    Float(8, "attack_distance"), UInt(9, "ai_stand"), UInt(10, "ai_lie"), Floats(11, "attack", kDamageKinds),
    Nested(12, "head", kBodypart), Nested(13, "torso", kBodypart), Nested(14, "right_arm", kBodypart),
    Nested(15, "left_arm", kBodypart), Nested(16, "right_leg", kBodypart), Nested(17, "left_leg", kBodypart),
    Text(30, "mask"), Texts(31, "textures1"), Texts(32, "textures2"), Float(33, "model_shift"),
    Text(34, "sound_path"), Texts(35, "step_sounds"),
    Floats(36, "anim_speeds", kAnimSpeeds),
    UInt(37, "idle_sound_chance"), UInt(38, "attack_sound_chance"), Floats(39, "defence", kDamageKinds),
    UInt(40, "blood_kind"), UInt(41, "cast_kind"), Int(42, "footprint_kind"), UInt(43, "leg_segments"),
    Text(44, "skin_kind"), Byte(45, "first_step_right"), Float(46, "head_height"), UInt(47, "unk47"),
    UInt(48, "unk48"), UInt(49, "unk49"), UInt(50, "unk50"),
}};

constexpr std::array<FieldSpec, 44> kMonsters{{
    Text(0, "name"), Text(1, "race"), Int(2, "unk2"), UInt(3, "skin"), Int(4, "hair"), Float(5, "build_x"),
    Float(6, "build_y"), Float(7, "build_z"), Text(8, "unk8"), Float(9, "health"), Float(10, "mana"),
    Float(11, "absorption"), Float(12, "actions"), Float(13, "move"), Float(14, "attack_range"),
    Float(15, "to_hit"), Float(16, "parry"), Float(17, "weapon_weight"), UInt(18, "weapon_type"),
    Float(19, "damage_min"), Float(20, "damage_max"), Float(21, "skill_general"), Float(22, "skill_steal"),
    Float(23, "skill_tame"), Float(24, "skill_peripheral"),
    Floats(25, "senses", kSenses), Floats(26, "detection", kSenses),
    Nested(27, "loot_common", kLoot), Nested(28, "loot_rare", kLoot), Texts(29, "items"),
    Floats(30, "magic_skills", kMagicSchools),
    Texts(31, "spells"), Texts(32, "wears"), Text(33, "weapon1"), Float(34, "portrait_scale"),
    Float(35, "altitude"), Float(36, "to_hit_random"), Float(37, "talk_cam_distance"),
    Float(38, "talk_cam_height"), UInt(39, "real_weapon_type"), Float(40, "detonation"), UInt(41, "level"),
    Text(42, "weapon2"), Float(43, "exp"),
}};

constexpr std::array<FieldSpec, 15> kNpcs{{
    Text(0, "name"), UInt(1, "unk1"), Float(2, "exp"), Float(3, "strength"), Float(4, "dexterity"),
    Float(5, "intelligence"),
    Bytes(6, "skills_misc", kSkillsMisc), Bytes(7, "skills_combat", kSkillsCombat),
    Texts(8, "perks"), Texts(9, "weapons"), Texts(10, "quest_items"), Texts(11, "spells"),
    Float(12, "exp_to_spend"), UInt(13, "money"), Byte(14, "has_voice"),
}};

constexpr std::array<BlockSpec, 4> kUnitBlocks{{
    {1, "hit_locations", {"hit_locations", kHitLocations}, 0},
    {2, "races", {"races", kRaces}, 0},
    {3, "monsters", {"monsters", kMonsters}, 0},
    {4, "npcs", {"npcs", kNpcs}, 0},
}};

// ---- quests (*.qdb) ---------------------------------------------------------

constexpr std::array<FieldSpec, 8> kQuests{{
    Text(0, "name"), Float(1, "exp"), Int(2, "unk2"), Int(3, "zone"), Text(4, "comment"), Int(5, "money"),
    Int(6, "number"), Texts(7, "unk7"),
}};

constexpr std::array<FieldSpec, 11> kBriefings{{
    Text(0, "name"), Float(1, "unk1"), Float(2, "money"), Texts(3, "give_items"), Text(4, "comment"),
    Texts(5, "take_items"), Texts(6, "give_quests"), Texts(7, "give_quests2"), Texts(8, "open_zones"),
    Texts(9, "unk9"), Int(10, "bonus"),
}};

constexpr std::array<BlockSpec, 2> kQuestBlocks{{
    {1, "quests", {"quests", kQuests}, 0},
    {2, "briefings", {"briefings", kBriefings}, 0},
}};

// ---- acks (acks.db) ---------------------------------------------------------

constexpr std::array<FieldSpec, 4> kAckFields{{
    Text(1, "sound"), Int(2, "unk2"), Text(3, "subtitle"), Text(4, "code"),
}};
constexpr RecordSpec kAck{"ack", kAckFields};

// Only the answers' "bored" entries carry the fifth field.
constexpr auto kAck10Fields = Join(kAckFields, std::array<FieldSpec, 1>{{UInt(10, "unk10")}});
constexpr RecordSpec kAck10{"ack10", kAck10Fields};

constexpr std::array<FieldSpec, 36> kAnswers{{
    Text(1, "unit"), List(10, "select", kAck), List(11, "move", kAck), List(12, "attack", kAck),
    List(13, "cast", kAck), List(14, "loot", kAck), List(15, "use_object", kAck), List(16, "steal", kAck),
    List(17, "follow", kAck), List(18, "use_potion", kAck), List(19, "change_pose", kAck),
    List(20, "no_way", kAck), List(21, "cant_change_pose", kAck), List(22, "no_path", kAck),
    List(23, "cant_cast", kAck), List(24, "cant_teleport", kAck), List(25, "skill_failed", kAck),
    List(26, "no_target", kAck), List(27, "spell_done", kAck), List(28, "decide_attack", kAck),
    List(29, "out_of_stamina", kAck), List(30, "arm_crippled", kAck), List(31, "leg_crippled", kAck),
    List(32, "bored", kAck10), List(33, "unknown33", kAck), List(34, "overloaded", kAck),
    List(35, "injured", kAck), List(36, "big_attack", kAck), List(37, "armor_crippled", kAck),
    List(38, "wear_crippled", kAck), List(39, "attack_in_defence", kAck), List(40, "wait_follow", kAck),
    List(41, "scenario", kAck), List(42, "steal_empty", kAck), List(43, "shop_yes", kAck),
    List(44, "shop_no", kAck),
}};

constexpr std::array<FieldSpec, 6> kCries{{
    Text(1, "unit"), List(10, "aggression", kAck), List(11, "suspicion", kAck), List(12, "kill", kAck),
    List(13, "rest", kAck), List(14, "in_aggression", kAck),
}};

constexpr std::array<FieldSpec, 3> kOthers{{
    Text(1, "unit"), List(10, "talk", kAck), List(11, "rest", kAck),
}};

constexpr std::array<BlockSpec, 3> kAckBlocks{{
    {1, "answers", {"answers", kAnswers}, 1},
    {2, "cries", {"cries", kCries}, 1},
    {3, "others", {"others", kOthers}, 1},
}};

// ---- the kinds --------------------------------------------------------------

constexpr std::array<KindSpec, 8> kKinds{{
    {"items", "*.idb", kItemBlocks},
    {"levers", "*.ldb", kLeverBlocks},
    {"perks", "*.pdb", kPerkBlocks},
    {"prints", "prints.db", kPrintBlocks},
    {"spells", "*.sdb", kSpellBlocks},
    {"units", "*.udb", kUnitBlocks},
    {"quests", "*.qdb", kQuestBlocks},
    {"acks", "acks.db", kAckBlocks},
}};

}  // namespace

std::span<const KindSpec> Kinds() { return kKinds; }

const KindSpec* FindKind(std::string_view name) {
    for (const KindSpec& kind : Kinds())
        if (kind.name == name) return &kind;
    return name == AnimKind().name ? &AnimKind() : nullptr;
}

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

}  // namespace

const KindSpec* KindForFileName(std::string_view fileName) {
    if (const auto slash = fileName.find_last_of("/\\"); slash != std::string_view::npos)
        fileName.remove_prefix(slash + 1);
    // Whole names ("prints.db") before extensions ("*.idb").
    for (const KindSpec& kind : Kinds())
        if (!kind.filePattern.starts_with("*") && EqualsNoCase(fileName, kind.filePattern)) return &kind;
    for (const KindSpec& kind : Kinds())
        if (kind.filePattern.starts_with("*") && EndsWithNoCase(fileName, kind.filePattern.substr(1))) return &kind;
    return EndsWithNoCase(fileName, AnimKind().filePattern.substr(1)) ? &AnimKind() : nullptr;
}

const BlockSpec* FindBlock(const KindSpec& kind, std::uint8_t tag) {
    for (const BlockSpec& block : kind.blocks)
        if (block.tag == tag) return &block;
    return nullptr;
}

const FieldSpec* FindField(const RecordSpec& record, std::uint8_t tag) {
    for (const FieldSpec& field : record.fields)
        if (field.tag == tag) return &field;
    return nullptr;
}

int FixedLength(const FieldSpec& field) {
    switch (field.type) {
    case ValueType::Int32:
    case ValueType::UInt32:
    case ValueType::Float32:
    case ValueType::Bits5:
    case ValueType::Code4: return 4;
    case ValueType::Byte: return 1;
    case ValueType::Float32Array: return 4 * field.count;
    case ValueType::ByteArray:
    case ValueType::Raw: return field.count;
    case ValueType::Text:
    case ValueType::TextList:
    case ValueType::Code4List:
    case ValueType::Nested:
    case ValueType::RecordList: return -1;
    }
    return -1;
}

bool IsSplit(const FieldSpec& field) {
    return field.type == ValueType::Float32Array || field.type == ValueType::ByteArray ||
           (field.type == ValueType::Nested && field.record);
}

std::size_t ColumnCount(const FieldSpec& field) {
    if (!IsSplit(field)) return 1;
    return field.type == ValueType::Nested ? field.record->fields.size() : field.count;
}

std::string PartName(const FieldSpec& field, std::size_t part) {
    std::string name(field.name);
    name += '.';
    if (field.type == ValueType::Nested) name += field.record->fields[part].name;
    else if (field.parts) name += field.parts[part];
    else name += std::to_string(part);
    return name;
}

}  // namespace gamedb
