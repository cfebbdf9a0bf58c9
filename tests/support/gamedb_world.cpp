#include "tests/support/gamedb_world.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "gamedb/byte_io.h"

namespace gamedb::testing {

WorldCell Text(std::string text) { return WorldCell{{std::move(text)}, std::nullopt, std::nullopt}; }
WorldCell List(std::vector<std::string> items) { return WorldCell{std::move(items), std::nullopt, std::nullopt}; }
WorldCell Number(std::int64_t n) { return WorldCell{{}, n, std::nullopt}; }

namespace {

WorldCell RawCell(Bytes bytes) { return WorldCell{{}, std::nullopt, std::move(bytes)}; }

WorldCell Bodypart(const std::string& part) {
    Bytes payload;
    AppendNode(payload, 0, TextPayload(part));
    AppendNode(payload, 1, Int32Payload(0));
    AppendNode(payload, 2, FloatPayload(1.0f));
    AppendNode(payload, 3, FloatPayload(2.0f));
    return RawCell(std::move(payload));
}

WorldCell Floats(std::initializer_list<std::uint32_t> bits) {
    Bytes payload;
    for (std::uint32_t b : bits) {
        const Bytes one = FloatBitsPayload(b);
        payload.insert(payload.end(), one.begin(), one.end());
    }
    return RawCell(std::move(payload));
}

class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed * 2 + 1) {}
    std::uint64_t Next() { return SplitMix(state_); }
    std::size_t Below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(Next() % n); }
    bool Chance(int percent) { return static_cast<int>(Below(100)) < percent; }
    template <typename T>
    const T& Pick(const std::vector<T>& items) { return items[Below(items.size())]; }

private:
    std::uint64_t state_;
};

struct Material {
    std::string name, kind;
};
const std::vector<Material> kMaterials = {{"wool", "Cloth"},   {"silk", "Cloth"},         {"steel", "Metal"},
                                          {"bronze", "Metal"}, {"thick", "Hide"},         {"dragon black", "Hide"},
                                          {"bone", "Bone"},    {"dragon green bones", "Bone"}};
const std::vector<std::string> kWeaponKinds = {"sword", "axe", "dagger", "spear", "hammer", "bow", "crossbow"};
const std::vector<std::string> kArmorKinds = {"helm", "plate", "leggings", "shirt", "pants", "boots", "gloves"};

struct Modifier {
    std::string code;
    int kind;
    std::string allod;
};
const std::vector<Modifier> kModifiers = {{"r0", 0, "Gipath"}, {"t1", 1, "Kania"},  {"t2", 1, "Hadagan"},
                                          {"a1", 2, "Kania"},  {"e1", 3, "Kania"},  {"e2", 3, "Hadagan"},
                                          {"d1", 4, "Kania"},  {"m1", 5, "Kania"},  {"fe", 6, "Gipath"},
                                          {"ff", 6, "Gipath"}, {"ic", 7, "Gipath"}, {"im1", 7, "Kania"}};

struct Prototype {
    std::string code, school;
    int kind, schoolId;
};
const std::vector<Prototype> kPrototypes = {
    {"fire_ball", "fire", 0, 0}, {"fire_wall", "fire", 0, 0}, {"lightning", "lightning", 0, 1}, {"healing", "healing", 2, 6}};

std::string Materialed(Random& random, const std::string& item, const std::string& kind) {
    std::vector<std::string> names;
    for (const Material& m : kMaterials)
        if (m.kind == kind) names.push_back(m.name);
    return item + "." + random.Pick(names);
}

std::string Spell(Random& random) {
    std::string spell = kPrototypes[random.Below(kPrototypes.size())].code;
    const std::size_t mods = random.Below(4);
    if (mods == 0) return spell;
    spell += random.Chance(50) ? " {" : "{";
    for (std::size_t i = 0; i < mods; ++i) spell += (i ? ";" : "") + kModifiers[random.Below(kModifiers.size())].code;
    return spell + "}";
}

}  // namespace

WorldRow& World::Row(const std::string& kindBlock, const std::string& key) {
    for (WorldRow& row : Block(kindBlock)) {
        for (const char* field : {"name", "unit", "terrain", "prototype"})
            if (row.contains(field) && !row[field].texts.empty() && row[field].texts[0] == key) return row;
    }
    throw std::runtime_error("no record " + key + " in " + kindBlock);
}

std::vector<std::string> World::Values(const std::string& path) const {
    const std::size_t cut = path.rfind('.');
    std::vector<std::string> values;
    for (const WorldRow& row : blocks.at(path.substr(0, cut))) {
        const auto it = row.find(path.substr(cut + 1));
        if (it != row.end()) values.insert(values.end(), it->second.texts.begin(), it->second.texts.end());
    }
    return values;
}

World MakeWorld(std::uint64_t seed) {
    Random random(seed);
    World w;
    // ---- items
    auto& materials = w.blocks["items.materials"];
    for (std::size_t i = 0; i < kMaterials.size(); ++i)
        materials.push_back({{"name", Text(kMaterials[i].name)}, {"kind", Text(kMaterials[i].kind)},
                             {"code", Text("m" + std::to_string(i))}, {"id", Number(static_cast<std::int64_t>(i))}});
    std::vector<std::pair<std::string, std::string>> weapons;   // name, material kind
    auto& weaponRows = w.blocks["items.weapons"];
    for (std::size_t i = 0, n = 3 + random.Below(3); i < n; ++i) {
        const std::size_t kind = random.Below(kWeaponKinds.size());
        const std::string material = random.Chance(50) ? "Metal" : "Bone";
        weapons.emplace_back("weapon " + std::to_string(i), material);
        weaponRows.push_back({{"name", Text(weapons.back().first)}, {"kind", Text(kWeaponKinds[kind])},
                              {"kind_id", Number(static_cast<std::int64_t>(kind))}, {"material", Text(material)}});
    }
    struct Armor {
        std::string name, kind, material;
    };
    std::vector<Armor> armors;
    auto& armorRows = w.blocks["items.armors"];
    for (std::size_t i = 0, n = 4 + random.Below(5); i < n; ++i) {
        const std::size_t kind = random.Below(kArmorKinds.size());
        static const std::vector<std::string> kKinds = {"Cloth", "Metal", "Hide"};
        armors.push_back({"armor " + std::to_string(i), kArmorKinds[kind], random.Pick(kKinds)});
        armorRows.push_back({{"name", Text(armors.back().name)}, {"kind", Text(kArmorKinds[kind])},
                             {"kind_id", Number(static_cast<std::int64_t>(kind))}, {"material", Text(armors.back().material)}});
    }
    auto& quick = w.blocks["items.quick_items"];
    for (int i = 1; i <= 3; ++i)
        quick.push_back({{"name", Text("tiny potion " + std::to_string(i))}, {"kind", Text("potion")}, {"quick_id", Number(1)},
                         {"material", Text("None")}, {"spell", Text(Spell(random))}});
    quick.push_back({{"name", Text("wand 5")}, {"kind", Text("wand")}, {"quick_id", Number(5)}, {"material", Text("Bone")},
                     {"spell", Text("")}});
    auto& questItems = w.blocks["items.quest_items"];
    for (int i = 0; i < 3; ++i)
        questItems.push_back({{"name", Text("questgear" + std::to_string(i))}, {"material", Text("")},
                              {"script_id", Number(i == 0 ? 0 : 10 + i)}, {"zones", List(i == 1 ? std::vector<std::string>{"gz3g"} : std::vector<std::string>{})}});
    auto& loot = w.blocks["items.loot_items"];
    for (const auto& [name, kind, type] : {std::tuple("material", "material", 1), std::tuple("rune", "instruction", 2),
                                          std::tuple("prototype", "instruction", 2), std::tuple("wolf skin", "treasure", 0),
                                          std::tuple("bear skin", "treasure", 0)})
        loot.push_back({{"name", Text(name)}, {"kind", Text(kind)}, {"material", Text("")}, {"type_id", Number(type)}});

    // ---- levers
    w.blocks["levers.lever_prototypes"] = {
        {{"name", Text("lever1")}, {"material", Text("Metal")}, {"place_count", Number(1)},
         {"places", Floats({0x3F800000u, 0x40000000u, 0xFFFFFFFFu, 0x0012FF78u})}},
        {{"name", Text("lever2")}, {"material", Text("Bone")}, {"place_count", Number(0)},
         {"places", Floats({0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu})}}};

    // ---- perks
    const std::vector<std::string> skills = {"elemental", "sense", "astral"};
    auto& skillRows = w.blocks["perks.skills"];
    for (const std::string& skill : skills)
        skillRows.push_back({{"name", Text(skill + " magic")}, {"code", Text(skill)}, {"base_attributes", List({"int"})}});
    auto& perks = w.blocks["perks.perks"];
    const auto chain = [&](const std::string& stem, const std::string& skill, int exclusive) {
        std::int64_t skillId = 0x7FFFFFFF;
        for (std::size_t i = 0; i < skills.size(); ++i)
            if (skills[i] == skill) skillId = static_cast<std::int64_t>(i);
        for (int level = 1; level <= 3; ++level)
            perks.push_back({{"name", Text("Perk " + stem + std::to_string(level))}, {"code", Text(stem + std::to_string(level))},
                             {"parent_perk", Text(level == 1 ? "none" : stem + std::to_string(level - 1))},
                             {"skill", Text(skill)}, {"skill_id", Number(skillId)}, {"exclusive", Number(exclusive)}});
    };
    chain("fire", "elemental", 0);
    chain("lightning", "elemental", 1);
    chain("healing", "astral", 0);
    chain("bs", "none", 0);

    // ---- spells
    auto& prototypes = w.blocks["spells.spell_prototypes"];
    for (const Prototype& p : kPrototypes)
        prototypes.push_back({{"name", Text("Spell " + p.code)}, {"code", Text(p.code)}, {"school", Text(p.school)},
                              {"kind", Number(p.kind)}, {"school_id", Number(p.schoolId)},
                              {"special_mods", List(p.code == "fire_ball" ? std::vector<std::string>{"fe"} : std::vector<std::string>{})},
                              {"builtin_mods", List({})}, {"mod_allowed", RawCell({1, 1, 1, 1, 1})}});
    auto& modifiers = w.blocks["spells.spell_modifiers"];
    for (const Modifier& m : kModifiers)
        modifiers.push_back({{"name", Text("Modifier " + m.code)}, {"code", Text(m.code)}, {"kind", Number(m.kind)},
                             {"allod", Text(m.allod)}});
    for (const char* block : {"spells.spell_templates", "spells.armor_spell_templates", "spells.weapon_spell_templates"}) {
        auto& templates = w.blocks[block];
        for (std::size_t i = 0, n = 1 + random.Below(3); i < n; ++i)
            templates.push_back({{"prototype", Text(kPrototypes[random.Below(kPrototypes.size())].code)},
                                 {"required_mods", List({random.Chance(50) ? "e" : "e1"})},
                                 {"optional_mods", List({"t", "fe"})}, {"power", Text(random.Chance(50) ? "d" : "")},
                                 {"shops", Number(31)}});
        templates.push_back({{"prototype", Text("")}, {"required_mods", List({})}, {"optional_mods", List({})},
                             {"power", Text("")}, {"shops", Number(0)}});
    }

    // ---- units
    auto& hits = w.blocks["units.hit_locations"];
    for (const char* name : {"skull", "torso", "arm", "leg", "none"}) hits.push_back({{"name", Text(name)}});
    std::vector<std::string> races;
    auto& raceRows = w.blocks["units.races"];
    for (std::size_t i = 0, n = 2 + random.Below(3); i < n; ++i) {
        races.push_back("Race " + std::to_string(i));
        const std::string mask = "unmask" + std::to_string(i);
        w.animations.insert(mask);
        const std::string limb = random.Chance(50) ? "arm" : "none";
        raceRows.push_back({{"name", Text(races.back())}, {"mask", Text(mask)},
                            {"skin_kind", Text(random.Chance(50) ? "Leather" : "Hide")},
                            {"head", Bodypart("skull")}, {"torso", Bodypart("torso")}, {"right_arm", Bodypart(limb)},
                            {"left_arm", Bodypart(limb)}, {"right_leg", Bodypart("leg")}, {"left_leg", Bodypart("leg")}});
    }
    // Leather has to be a material kind for the skins.
    materials.push_back({{"name", Text("leather")}, {"kind", Text("Leather")}, {"code", Text("le")},
                         {"id", Number(static_cast<std::int64_t>(materials.size()))}});
    materials.push_back({{"name", Text("hard leather")}, {"kind", Text("Leather")}, {"code", Text("hl")},
                         {"id", Number(static_cast<std::int64_t>(materials.size()))}});

    const auto itemSpec = [&]() -> std::string {
        switch (random.Below(6)) {
        case 0: return "wolf skin";
        case 1: {
            // One draw per statement: the order of a single expression's
            // operands differs between compilers, and so would the world.
            const std::string& material = kMaterials[random.Below(kMaterials.size())].name;
            const char* open = random.Chance(50) ? " [" : "[";
            const std::size_t count = 1 + random.Below(5);
            return "material." + material + open + std::to_string(count) + "]";
        }
        case 2: return "rune." + kModifiers[random.Below(kModifiers.size())].code;
        case 3: return "prototype." + kPrototypes[random.Below(kPrototypes.size())].code;
        case 4: {
            const auto& [name, kind] = weapons[random.Below(weapons.size())];
            return Materialed(random, name, kind);
        }
        default: {
            const Armor& armor = armors[random.Below(armors.size())];
            return Materialed(random, armor.name, armor.material);
        }
        }
    };
    std::vector<std::string> monsters;
    auto& monsterRows = w.blocks["units.monsters"];
    for (std::size_t i = 0, n = 5 + random.Below(6); i < n; ++i) {
        monsters.push_back("Monster " + std::to_string(i));
        std::vector<std::string> wears;
        std::set<std::string> kinds;
        for (std::size_t k = 0, m = random.Below(4); k < m; ++k) {
            const Armor& armor = armors[random.Below(armors.size())];
            if (!kinds.insert(armor.kind).second) continue;
            std::string wear = Materialed(random, armor.name, armor.material);
            if (random.Chance(25)) wear += "[healing{e1}]";
            wears.push_back(wear);
        }
        std::vector<std::string> items, spells;
        for (std::size_t k = 0, m = random.Below(4); k < m; ++k) items.push_back(itemSpec());
        for (std::size_t k = 0, m = random.Below(3); k < m; ++k) spells.push_back(Spell(random));
        const auto& [weapon, weaponKind] = weapons[random.Below(weapons.size())];
        monsterRows.push_back({{"name", Text(monsters.back())}, {"race", Text(random.Pick(races))}, {"wears", List(wears)},
                               {"items", List(items)}, {"spells", List(spells)},
                               {"weapon1", Text(random.Chance(50) ? Materialed(random, weapon, weaponKind) : "")},
                               {"weapon2", Text("")}});
    }
    std::vector<std::string> npcs;
    auto& npcRows = w.blocks["units.npcs"];
    for (std::size_t i = 0, n = 1 + random.Below(2); i < n; ++i) {
        npcs.push_back(monsters[i]);
        const auto& [weapon, weaponKind] = weapons[random.Below(weapons.size())];
        npcRows.push_back({{"name", Text(npcs.back())}, {"perks", List({"bs2", "fire1"})},
                           {"weapons", List({Materialed(random, weapon, weaponKind)})},
                           {"quest_items", List({"tiny potion 1", "tiny potion 3"})}, {"spells", List({Spell(random)})}});
    }

    // ---- quests
    auto& quests = w.blocks["quests.quests"];
    const std::vector<std::pair<std::string, int>> questZones = {{"q1ag", 3}, {"q2ck", 12}, {"q3h", 17}, {"dummy", 0}, {"dummy", 0}};
    for (std::size_t i = 0; i < questZones.size(); ++i)
        quests.push_back({{"name", Text(questZones[i].first)}, {"zone", Number(questZones[i].second)},
                          {"number", Number(static_cast<std::int64_t>(i + 1))}});
    auto& briefings = w.blocks["quests.briefings"];
    for (std::size_t i = 0, n = 2 + random.Below(3); i < n; ++i) {
        std::vector<std::string> give, take, grants;
        for (std::size_t k = 0, m = random.Below(3); k < m; ++k) give.push_back(itemSpec());
        if (random.Chance(30)) give.push_back("wand 5.dragon green bones[fire_ball{e2;fe}]");
        if (random.Chance(50)) take.push_back("questgear" + std::to_string(random.Below(3)));
        const auto& [quest, zone] = questZones[random.Below(3)];
        grants.push_back("q.gz" + std::to_string(zone) + quest.back() + "." + quest + (random.Chance(50) ? ".1" : ""));
        briefings.push_back({{"name", Text("b" + std::to_string(i))}, {"give_items", List(give)}, {"take_items", List(take)},
                             {"give_quests", List(grants)}, {"give_quests2", List({})},
                             {"open_zones", List(random.Chance(50) ? std::vector<std::string>{"z.gz3g_bz9k"} : std::vector<std::string>{})},
                             {"unk9", List({})}});
    }

    // ---- acks
    auto& answers = w.blocks["acks.answers"];
    auto& cries = w.blocks["acks.cries"];
    for (const std::string& npc : npcs) {
        answers.push_back({{"unit", Text(npc)}});
        cries.push_back({{"unit", Text(npc)}});
    }
    cries.push_back({{"unit", Text(races.front())}});
    w.blocks["acks.others"] = {{{"unit", Text(monsters.back())}}};

    // ---- prints
    for (const char* block : {"prints.blood_prints", "prints.foot_prints", "prints.fire_prints"})
        for (const char* terrain : {"grass", "stone", ""}) w.blocks[block].push_back({{"terrain", Text(terrain)}});
    return w;
}

namespace {

Bytes Encode(const FieldSpec& field, const WorldCell& cell) {
    if (cell.raw) return *cell.raw;
    Bytes out;
    const auto code = [](const std::string& text) {
        Bytes bytes(text.begin(), text.end());
        bytes.resize(std::max<std::size_t>(4, bytes.size() + 1), 0);
        return bytes;
    };
    switch (field.type) {
    case ValueType::Text: return TextPayload(cell.texts.empty() ? std::string() : cell.texts[0]);
    case ValueType::Code4: return code(cell.texts.empty() ? std::string() : cell.texts[0]);
    case ValueType::TextList:
        for (const std::string& item : cell.texts) AppendNode(out, 1, TextPayload(item));
        return out;
    case ValueType::Code4List:
        for (const std::string& item : cell.texts) AppendNode(out, 1, code(item));
        return out;
    case ValueType::Byte: return {static_cast<std::uint8_t>(cell.number.value_or(0))};
    default: return Int32Payload(static_cast<std::int32_t>(cell.number.value_or(0)));
    }
}

}  // namespace

GenDatabase ToDatabase(const World& world, const KindSpec& kind, std::uint64_t seed) {
    GenDatabase database;
    database.kind = &kind;
    GenOptions options;
    options.exoticTextRate = 0;
    options.maxListItems = 0;
    for (const BlockSpec& block : kind.blocks) {
        GenBlock genBlock;
        genBlock.tag = block.tag;
        const auto it = world.blocks.find(std::string(kind.name) + "." + std::string(block.name));
        if (it != world.blocks.end()) {
            for (const WorldRow& row : it->second) {
                GenRecord record = RandomRecord(block.record, seed++, options);
                for (GenField& field : record.fields) {
                    const FieldSpec* spec = FindField(block.record, field.tag);
                    if (spec == nullptr) continue;
                    if (const auto cell = row.find(std::string(spec->name)); cell != row.end())
                        field.payload = Encode(*spec, cell->second);
                }
                genBlock.records.push_back(std::move(record));
            }
        }
        database.blocks.push_back(std::move(genBlock));
    }
    return database;
}

DatabaseSet ToSet(const World& world) {
    DatabaseSet set;
    for (const KindSpec& kind : Kinds()) {
        const Bytes bytes = Serialize(ToDatabase(world, kind));
        MemorySource source(bytes, std::string(kind.name));
        set.byKind.emplace(std::string(kind.name), LoadSetDatabase(source, kind, std::string(kind.name)));
    }
    set.animations = world.animations;
    return set;
}

void WriteWorld(const World& world, const std::filesystem::path& dir) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 8> kNames = {{
        {"items", "Items.idb"}, {"levers", "levers.ldb"}, {"perks", "perks.pdb"}, {"prints", "prints.db"},
        {"spells", "spells.sdb"}, {"units", "units.udb"}, {"quests", "quests.qdb"}, {"acks", "acks.db"}}};
    for (const auto& [kind, name] : kNames) WriteDatabase(dir / name, ToDatabase(world, *FindKind(kind)));
}

}  // namespace gamedb::testing
