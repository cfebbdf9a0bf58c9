#include "tests/support/sample_items.h"

#include <array>
#include <string>
#include <vector>

namespace idb::testing {

namespace {

template <std::size_t N>
std::string Pick(const std::array<const char*, N>& words, int index) {
    return Cp1251(words[static_cast<std::size_t>(index) % N]);
}

// A small deterministic spread of values per index.
float Spread(int index, int modulus, float step) { return static_cast<float>(index % modulus) * step; }

const std::array<const char*, 12> kMaterialNames = {"Железо", "Бронза", "Сталь", "Мифрил", "Кожа", "Дерево",
                                                     "Кость", "Адамант", "Медь", "Серебро", "Шёлк", "Чешуя дракона"};
const std::array<const char*, 12> kMaterialCodes = {"iron", "bronze", "steel", "mithril", "leather", "wood",
                                                     "bone", "adamant", "copper", "silver", "silk", "dragonscale"};
const std::array<const char*, 8> kAdjectives = {"Железный", "Бронзовый", "Стальной", "Мифриловый",
                                                 "Кованый", "Старый",   "Тяжёлый",  "Лёгкий"};
const std::array<const char*, 7> kWeapons = {"меч", "топор", "кинжал", "молот", "посох", "лук", "арбалет"};
const std::array<const char*, 7> kWeaponTypes = {"Sword", "Axe", "Dagger", "Hammer", "Staff", "Bow", "Crossbow"};
const std::array<const char*, 5> kArmors = {"шлем", "щит", "нагрудник", "доспех", "наплечник"};
const std::array<const char*, 5> kArmorTypes = {"Helm", "Shield", "Cuirass", "Armor", "Pauldron"};
const std::array<const char*, 6> kQuickItems = {"Зелье лечения", "Зелье маны", "Свиток огня",
                                                "Эликсир силы", "Свиток молнии", "Настой трав"};
const std::array<const char*, 6> kQuestItems = {"Ключ от башни", "Письмо старосты", "Амулет жреца",
                                                "Карта болот", "Печать мага", "Кристалл памяти"};
const std::array<const char*, 6> kZones = {"Болота", "Старый лес", "Горный перевал", "Деревня", "Пещеры",
                                           "Замок"};
const std::array<const char*, 8> kLootItems = {"Шкура волка", "Клык тролля", "Рог демона", "Перо грифона",
                                               "Коготь медведя", "Чешуя ящера", "Глаз паука", "Кость гоблина"};
const std::array<const char*, 4> kSpells = {"", "fireball", "heal", "lightning"};

CommonFields SampleCommon(int index, const std::string& typeName, const std::string& material) {
    CommonFields f;
    f.typeName = typeName;
    f.unlisted = 100 + index;
    f.materialType = material;
    f.figureNames = 2000 + index;
    f.textureTypeIndex = index % 9;
    f.textureTypeIndex2 = (index * 7) % 5 - 1;
    f.price = 15.5f + Spread(index, 40, 12.25f);
    f.weight = 0.25f + Spread(index, 13, 0.75f);
    f.size = 1 + Spread(index, 4, 0.5f);
    f.mana = Spread(index, 5, 2.5f);
    f.slots = index % 4;
    f.durability = 40 + Spread(index, 11, 12.5f);
    f.components = index % 3;
    f.shopFlags = (index * 11) % 32;
    f.deconstructable = static_cast<std::uint8_t>(index % 2);
    return f;
}

std::string MaterialOf(int index) { return kMaterialCodes[static_cast<std::size_t>(index) % kMaterialCodes.size()]; }

}  // namespace

RecordBuilder SampleMaterial(int index) {
    RecordBuilder r(Pick(kMaterialNames, index) + (index >= 12 ? " " + std::to_string(index / 12 + 1) : ""));
    r.Text(1, "Material")
        .Text(2, MaterialOf(index))
        .Long(3, index % 6)
        .Single(4, 5 + Spread(index, 17, 3.5f))
        .Single(5, 0.5f + Spread(index, 7, 0.25f))
        .Single(6, Spread(index, 3, 1.5f))
        .Long(7, index % 3)
        .Single(8, 50 + Spread(index, 9, 10))
        .Long(9, index % 5)
        .Single(10, 1 + Spread(index, 6, 0.1f))
        .Singles(11, {Spread(index, 5, 0.05f), 0.1f, 0.2f, Spread(index, 4, 0.125f), 0, 0.05f, 0.01f})
        .Long(12, 0)
        .Long(13, (index * 5) % 32);
    return r;
}

RecordBuilder SampleWeapon(int index) {
    RecordBuilder r(Pick(kAdjectives, index) + " " + Pick(kWeapons, index / 2));
    r.Common(SampleCommon(index, kWeaponTypes[static_cast<std::size_t>(index / 2) % kWeaponTypes.size()],
                          MaterialOf(index)))
        .Long(21, 1 + index % 3)
        .Text(22, "")
        .Single(23, 1 + Spread(index, 6, 0.5f))
        .Single(24, 0.5f + Spread(index, 8, 0.25f))
        .Single(25, 1 + Spread(index, 5, 0.5f))
        .Singles(26, {0.25f, 0.5f, 0.25f, 0, 0, Spread(index, 2, 0.1f), 0})
        .Text(27, kSpells[static_cast<std::size_t>(index) % kSpells.size()])
        .Text(28, "")
        .Single(29, static_cast<float>(index % 4))
        .Single(30, Spread(index, 3, 1.5f));
    return r;
}

RecordBuilder SampleArmor(int index) {
    RecordBuilder r(Pick(kAdjectives, index) + " " + Pick(kArmors, index / 3));
    const float base = 1 + Spread(index, 9, 0.5f);
    std::string stats(8, '\0');
    stats[static_cast<std::size_t>(index) % 8] = static_cast<char>(index % 2 ? 3 : -2);
    r.Common(SampleCommon(index, kArmorTypes[static_cast<std::size_t>(index / 3) % kArmorTypes.size()],
                          MaterialOf(index)))
        .Field(21, SingleBytes(base) + SingleBytes(0.25f) + SingleBytes(0.1f) + SingleBytes(0.3f) +
                       SingleBytes(0) + SingleBytes(0) + SingleBytes(0.05f) + SingleBytes(0) + Le32(0))
        .Field(22, SingleBytes(base / 2) + SingleBytes(0.1f) + SingleBytes(0) + SingleBytes(0) + SingleBytes(0.2f) +
                       SingleBytes(0.2f) + SingleBytes(0) + SingleBytes(0) + Le32(0))
        .Byte(23, static_cast<std::uint8_t>(index % 3))
        .Long(24, index % 7)
        .Text(25, kSpells[static_cast<std::size_t>(index + 1) % kSpells.size()])
        .Field(26, stats);
    return r;
}

RecordBuilder SampleQuickItem(int index) {
    RecordBuilder r(Pick(kQuickItems, index) + (index >= 6 ? " " + std::to_string(index / 6 + 1) : ""));
    // Every fifth item has no damage type of its own and shows the last one.
    const std::int32_t damageType = index % 5 == 4 ? -1 : index % 7;
    r.Common(SampleCommon(index, index % 2 ? "Scroll" : "Potion", "glass"))
        .Long(21, 0)
        .Long(22, index % 4)
        .Single(23, Spread(index, 6, 2.5f))
        .Long(24, damageType)
        .Text(25, kSpells[static_cast<std::size_t>(index) % kSpells.size()])
        .Text(26, "fx_drink")
        .Text(27, "");
    return r;
}

RecordBuilder SampleQuestItem(int index) {
    RecordBuilder r(Pick(kQuestItems, index) + (index >= 6 ? " " + std::to_string(index / 6 + 1) : ""));
    std::string zones;
    if (index % 4 != 3) {
        zones = std::string("\x02\x00", 2) + Pick(kZones, index);
        if (index % 2) zones += "\x01" + Pick(kZones, index + 2);
    }
    r.Common(SampleCommon(index, "Quest", "none")).Long(21, 500 + index).Field(22, zones);
    return r;
}

RecordBuilder SampleLootItem(int index) {
    RecordBuilder r(Pick(kLootItems, index) + (index >= 8 ? " " + std::to_string(index / 8 + 1) : ""));
    r.Common(SampleCommon(index, "Loot", "organic")).Long(21, 0).Long(22, index).Single(23, 1);
    return r;
}

IdbBuilder SampleDatabase(int perCategory) {
    IdbBuilder db;
    for (RecordBuilder (*make)(int) :
         {SampleMaterial, SampleWeapon, SampleArmor, SampleQuickItem, SampleQuestItem, SampleLootItem}) {
        std::vector<RecordBuilder> records;
        for (int i = 0; i < perCategory; ++i) records.push_back(make(i));
        db.Category(std::move(records));
    }
    return db;
}

std::string LargeDatabase(std::size_t targetBytes) {
    // Sizes of one record of each kind set the count that gives each
    // category a sixth of the file.
    IdbBuilder db;
    for (RecordBuilder (*make)(int) :
         {SampleMaterial, SampleWeapon, SampleArmor, SampleQuickItem, SampleQuestItem, SampleLootItem}) {
        const std::size_t recordBytes = make(0).Bytes().size();
        const auto count = static_cast<int>(targetBytes / 6 / recordBytes + 1);
        std::vector<RecordBuilder> records;
        records.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) records.push_back(make(i));
        db.Category(std::move(records));
    }
    return db.Build(IdbBuilder::SizeMode::ReaderCounters);
}

}  // namespace idb::testing
