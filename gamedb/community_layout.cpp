// The columns of the community workbook's 26 sheets: codes and titles as
// the community's files have them (typos and all; three titles are wrong,
// which is why only the codes count). Two codes come twice: FLD3-2 in the
// prints sheets and FLD38-0 in Monsters.
#include "gamedb/community.h"

namespace gamedb {
namespace {

using Column = CommunityColumn;
using SheetLayout = CommunitySheet;

constexpr Column kMaterials[] = {
    {"FLD0-0", "Name"}, {"FLD1-0", "Type"}, {"FLD2-0", "Code"}, {"FLD3-0", "ID"}, {"FLD4-0", "Price"},
    {"FLD5-0", "Weight"}, {"FLD6-0", "Mana"}, {"FLD7-0", "Slots"}, {"FLD8-0", "Durability"}, {"FLD9-0", "Skill"},
    {"FLD10-0", "Damage"}, {"FLD11-0", "A.Piercing"}, {"FLD11-1", "A.Slashing"}, {"FLD11-2", "A.Bludg."},
    {"FLD11-3", "A.Termal"}, {"FLD11-4", "A.Chemic"}, {"FLD11-5", "A.Electric"}, {"FLD11-6", "A.General"},
    {"FLD12-0", "Unk12-0"}, {"FLD13-0", "Shop 1"}, {"FLD13-1", "Shop 2"}, {"FLD13-2", "Shop 3"},
    {"FLD13-3", "Shop 4"}, {"FLD13-4", "Shop 5"},
};
constexpr Column kWeapons[] = {
    {"FLD0-0", "Name"}, {"FLD1-0", "Type"}, {"FLD2-0", "TypeID"}, {"FLD3-0", "M.Type"}, {"FLD4-0", "Unk4-0"},
    {"FLD5-0", "TTI"}, {"FLD6-0", "TTI2"}, {"FLD7-0", "Price"}, {"FLD8-0", "Weight"}, {"FLD9-0", "Size"},
    {"FLD10-0", "Mana"}, {"FLD11-0", "Slots"}, {"FLD12-0", "Durability"}, {"FLD13-0", "Components"},
    {"FLD14-0", "Shop 1"}, {"FLD14-1", "Shop 2"}, {"FLD14-2", "Shop 3"}, {"FLD14-3", "Shop 4"}, {"FLD14-4", "Shop 5"},
    {"FLD15-0", "Dec."}, {"FLD21-0", "Actions"}, {"FLD22-0", "Unk22-0"}, {"FLD23-0", "Range"}, {"FLD24-0", "D.Min"},
    {"FLD25-0", "D.Max"}, {"FLD26-0", "DP.Piercing"}, {"FLD26-1", "DP.Slashing"}, {"FLD26-2", "DP.Bludg."},
    {"FLD26-3", "DP.Termal"}, {"FLD26-4", "DP.Chemic"}, {"FLD26-5", "DP.Electric"}, {"FLD26-6", "DP.General"},
    {"FLD27-0", "Unk27-0"}, {"FLD28-0", "Unk28-0"}, {"FLD29-0", "Attack"}, {"FLD30-0", "Defence"},
    {"FLD22-1", "Unk22-1"},
};
constexpr Column kArmors[] = {
    {"FLD0-0", "Name"}, {"FLD1-0", "Type"}, {"FLD2-0", "TypeID"}, {"FLD3-0", "M.Type"}, {"FLD4-0", "Unk4-0"},
    {"FLD5-0", "TTI"}, {"FLD6-0", "TTI2"}, {"FLD7-0", "Price"}, {"FLD8-0", "Weight"}, {"FLD9-0", "Size"},
    {"FLD10-0", "Mana"}, {"FLD11-0", "Slots"}, {"FLD12-0", "Durability"}, {"FLD13-0", "Components"},
    {"FLD14-0", "Shop 1"}, {"FLD14-1", "Shop 2"}, {"FLD14-2", "Shop 3"}, {"FLD14-3", "Shop 4"}, {"FLD14-4", "Shop 5"},
    {"FLD15-0", "Dec."}, {"FLD21-0", "M. Absorb."}, {"FLD21-1", "M. Piercing"}, {"FLD21-2", "M. Slashing"},
    {"FLD21-3", "M. Bludg."}, {"FLD21-4", "M. Termal"}, {"FLD21-5", "M. Chemic"}, {"FLD21-6", "M. Electric"},
    {"FLD21-7", "M. General"}, {"FLD21-8", "Unk21-8"}, {"FLD22-0", "A. Absorb."}, {"FLD22-1", "A. Piercing"},
    {"FLD22-2", "A. Slashing"}, {"FLD22-3", "A. Bludg."}, {"FLD22-4", "A. Termal"}, {"FLD22-5", "A. Chemic"},
    {"FLD22-6", "A. Electric"}, {"FLD22-7", "A. General"}, {"FLD22-8", "Unk22-8"}, {"FLD23-0", "Apply Wounds"},
    {"FLD24-0", "Wear Order"}, {"FLD25-0", "Unk25-0"}, {"FLD26-0", "Unk26-0"},
};
constexpr Column kQuickItems[] = {
    {"FLD0-0", "Name"}, {"FLD1-0", "Type"}, {"FLD2-0", "Unk2-0"}, {"FLD3-0", "M.Type"}, {"FLD4-0", "Unk4-0"},
    {"FLD5-0", "TTI"}, {"FLD6-0", "TTI2"}, {"FLD7-0", "Price"}, {"FLD8-0", "Weight"}, {"FLD9-0", "Size"},
    {"FLD10-0", "Mana"}, {"FLD11-0", "Slots"}, {"FLD12-0", "Durability"}, {"FLD13-0", "Components"},
    {"FLD14-0", "Shop 1"}, {"FLD14-1", "Shop 2"}, {"FLD14-2", "Shop 3"}, {"FLD14-3", "Shop 4"}, {"FLD14-4", "Shop 5"},
    {"FLD15-0", "Dec."}, {"FLD21-0", "ItemID"}, {"FLD22-0", "GD Level"}, {"FLD23-0", "Damage"},
    {"FLD24-0", "Unk24-0"}, {"FLD25-0", "Spell"}, {"FLD26-0", "Science modifier"}, {"FLD26-1", "Stealing modifier"},
    {"FLD26-2", "Unk26-2"}, {"FLD27-0", "Unk27-0"},
};
constexpr Column kQuestItems[] = {
    {"FLD0-0", "Name"}, {"FLD1-0", "Type"}, {"FLD2-0", "Unk2-0"}, {"FLD3-0", "M.Type"}, {"FLD4-0", "Unk4-0"},
    {"FLD5-0", "TTI"}, {"FLD6-0", "TTI2"}, {"FLD7-0", "Price"}, {"FLD8-0", "Weight"}, {"FLD9-0", "Size"},
    {"FLD10-0", "Mana"}, {"FLD11-0", "Slots"}, {"FLD12-0", "Durability"}, {"FLD13-0", "Components"},
    {"FLD14-0", "Shop 1"}, {"FLD14-1", "Shop 2"}, {"FLD14-2", "Shop 3"}, {"FLD14-3", "Shop 4"}, {"FLD14-4", "Shop 5"},
    {"FLD15-0", "Dec."}, {"FLD21-0", "ScriptID"}, {"FLD22-0", "Zones"},
};
constexpr Column kLootItems[] = {
    {"FLD0-0", "Name"}, {"FLD1-0", "Type"}, {"FLD2-0", "Unk2-0"}, {"FLD3-0", "M.Type"}, {"FLD4-0", "Unk4-0"},
    {"FLD5-0", "TTI"}, {"FLD6-0", "TTI2"}, {"FLD7-0", "Price"}, {"FLD8-0", "Weight"}, {"FLD9-0", "Size"},
    {"FLD10-0", "Mana"}, {"FLD11-0", "Slots"}, {"FLD12-0", "Durability"}, {"FLD13-0", "Components"},
    {"FLD14-0", "Shop 1"}, {"FLD14-1", "Shop 2"}, {"FLD14-2", "Shop 3"}, {"FLD14-3", "Shop 4"}, {"FLD14-4", "Shop 5"},
    {"FLD15-0", "Dec."}, {"FLD21-0", "TypeID"}, {"FLD22-0", "Unk22-0"}, {"FLD23-0", "Unk23-0"},
};
constexpr Column kLeverPrototypes[] = {
    {"FLD0-0", "Name"}, {"FLD1-0", "Place1-1"}, {"FLD1-1", "Place1-2"}, {"FLD1-2", "Place2-1"},
    {"FLD1-3", "Place2-2"}, {"FLD2-0", "Unk2-0"}, {"FLD3-0", "Scale"}, {"FLD4-0", "Switch Time"},
    {"FLD5-0", "Material"}, {"FLD6-0", "Switch Sound"}, {"FLD7-0", "Lever Text"},
};
constexpr Column kSkills[] = {
    {"FLD0-0", "Name"}, {"FLD1-0", "Code"}, {"FLD2-0", "TTI"}, {"FLD10-0", "Base Attributes"},
};
constexpr Column kPerks[] = {
    {"FLD0-0", "Name"}, {"FLD1-0", "Code"}, {"FLD2-0", "TTI"}, {"FLD10-0", "Perk"}, {"FLD11-0", "Skill"},
    {"FLD12-0", "SkillID"}, {"FLD13-0", "Unk13-0"}, {"FLD14-0", "SL"}, {"FLD15-0", "Str"}, {"FLD16-0", "Dex"},
    {"FLD17-0", "Int"}, {"FLD18-0", "Cost"}, {"FLD19-0", "Modifier"}, {"FLD20-0", "Mult"}, {"FLD21-0", "Add"},
    {"FLD22-0", "Active"}, {"FLD23-0", "Perk Exclusive"},
};
constexpr Column kBloodPrints[] = {
    {"FLD1-0", "Terrain Type"}, {"FLD2-1", "Clear Weather Opacity"}, {"FLD2-2", "Clear Weather Lifetime"},
    {"FLD2-3", "Clear Weather Fadeout"}, {"FLD3-1", "Weather Precipitation Opacity"},
    {"FLD3-2", "Weather Precipitation Lifetime"}, {"FLD3-2", "Weather Precipitation Fadeout"}, {"FLD3-3", "Unk3-3"},
};
constexpr Column kFootPrints[] = {
    {"FLD1-0", "Terrain Type"}, {"FLD2-1", "Clear Weather Opacity"}, {"FLD2-2", "Clear Weather Lifetime"},
    {"FLD2-3", "Clear Weather Fadeout"}, {"FLD3-1", "Weather Precipitation Opacity"},
    {"FLD3-2", "Weather Precipitation Lifetime"}, {"FLD3-2", "Weather Precipitation Fadeout"},
    {"FLD10-1", "Unknown Opacity"}, {"FLD10-2", "Unknown Lifetime"}, {"FLD10-3", "Unknown Fadeout"},
    {"FLD3-3", "Unk3-3"},
};
constexpr Column kFirePrints[] = {
    {"FLD1-0", "Terrain Type"}, {"FLD2-1", "Clear Weather Opacity"}, {"FLD2-2", "Clear Weather Lifetime"},
    {"FLD2-3", "Clear Weather Fadeout"}, {"FLD3-1", "Weather Precipitation Opacity"},
    {"FLD3-2", "Weather Precipitation Lifetime"}, {"FLD3-2", "Weather Precipitation Fadeout"}, {"FLD3-3", "Unk3-3"},
};
constexpr Column kSpellPrototypes[] = {
    {"FLD0-0", "Name"}, {"FLD1-0", "Code"}, {"FLD4-0", "Type"}, {"FLD2-0", "SubType"}, {"FLD19-0", "SubTypeCode"},
    {"FLD3-0", "Price"}, {"FLD21-0", "Complex"}, {"FLD5-0", "Mana"}, {"FLD6-0", "Slots"}, {"FLD7-0", "Speed"},
    {"FLD8-0", "Range"}, {"FLD9-0", "Area"}, {"FLD10-0", "Effect"}, {"FLD11-0", "Target"}, {"FLD12-0", "Targets"},
    {"FLD13-0", "Duration"}, {"FLD14-0", "Actions"}, {"FLD22-0", "Shop 1"}, {"FLD22-1", "Shop 2"},
    {"FLD22-2", "Shop 3"}, {"FLD22-3", "Shop 4"}, {"FLD22-4", "Shop 5"}, {"FLD20-0", "Range Mod"},
    {"FLD20-1", "Targets Mod"}, {"FLD20-2", "Area Mod"}, {"FLD20-3", "Effect Mod"}, {"FLD20-4", "Dur. Mod"},
    {"FLD16-0", "Build-in Mods"}, {"FLD17-0", "Special Mods"}, {"FLD15-0", "Req.Trace"}, {"FLD18-0", "TTI"},
    {"FLD23-0", "L:Red"}, {"FLD24-0", "L:Green"}, {"FLD25-0", "L:Blue"}, {"FLD26-0", "Light Raduis"},
    {"FLD27-0", "Fadeout Time"},
};
constexpr Column kSpellModifiers[] = {
    {"FLD0-0", "Name"}, {"FLD1-0", "Code"}, {"FLD2-0", "Price"}, {"FLD3-0", "Type"}, {"FLD4-0", "Mana"},
    {"FLD5-0", "Value"}, {"FLD6-0", "Complex"}, {"FLD7-0", "Allod"}, {"FLD8-0", "Shop 1"}, {"FLD8-1", "Shop 2"},
    {"FLD8-2", "Shop 3"}, {"FLD8-3", "Shop 4"}, {"FLD8-4", "Shop 5"},
};
constexpr Column kSSpells[] = {
    {"FLD1-0", "Prototype"}, {"FLD2-0", "Required"}, {"FLD3-0", "Optional"}, {"FLD4-0", "Power"},
    {"FLD5-0", "Shop 1"}, {"FLD5-1", "Shop 2"}, {"FLD5-2", "Shop 3"}, {"FLD5-3", "Shop 4"}, {"FLD5-4", "Shop 5"},
};
constexpr Column kSArmors[] = {
    {"FLD1-0", "Prototype"}, {"FLD2-0", "Required"}, {"FLD3-0", "Optional"}, {"FLD4-0", "Power"},
    {"FLD5-0", "Shop 1"}, {"FLD5-1", "Shop 2"}, {"FLD5-2", "Shop 3"}, {"FLD5-3", "Shop 4"}, {"FLD5-4", "Shop 5"},
};
constexpr Column kSWeapons[] = {
    {"FLD1-0", "Prototype"}, {"FLD2-0", "Required"}, {"FLD3-0", "Optional"}, {"FLD4-0", "Power"},
    {"FLD5-0", "Shop 1"}, {"FLD5-1", "Shop 2"}, {"FLD5-2", "Shop 3"}, {"FLD5-3", "Shop 4"}, {"FLD5-4", "Shop 5"},
};
constexpr Column kHitLocations[] = {
    {"FLD0-0", "Name"}, {"FLD1-0", "Physical Piercing"}, {"FLD1-1", "Physical Shashing"},
    {"FLD1-2", "Physical Bludgeoning"}, {"FLD1-3", "Elemental Termal"}, {"FLD1-4", "Elemental Chemic"},
    {"FLD1-5", "Elemental Electric"}, {"FLD1-6", "Other General"}, {"FLD2-0", "Physical Piercing2"},
    {"FLD2-1", "Physical Shashing2"}, {"FLD2-2", "Physical Bludgeoning2"}, {"FLD2-3", "Elemental Termal2"},
    {"FLD2-4", "Elemental Chemic2"}, {"FLD2-5", "Elemental Electric2"}, {"FLD2-6", "Other General2"},
    {"FLD3-0", "Unk3-0"}, {"FLD4-0", "Unk4-0"},
};
constexpr Column kRaceModels[] = {
    {"FLD0-0", "Name"}, {"FLD1-0", "TypeId"}, {"FLD2-0", "Regenerate Health"}, {"FLD3-0", "Regenerate Mana"},
    {"FLD4-0", "Secondary Language"}, {"FLD5-0", "Secondary Locomotion"}, {"FLD6-0", "Secondary Vision arc"},
    {"FLD7-0", "Speed Run"}, {"FLD7-1", "Speed Walk"}, {"FLD7-2", "Speed Sneak"}, {"FLD7-3", "Speed Crawl"},
    {"FLD8-0", "Attack Distance"}, {"FLD9-0", "AI Class Stay"}, {"FLD10-0", "AI Class Lie"},
    {"FLD11-0", "Attack Piercing"}, {"FLD11-1", "Attack Slashing"}, {"FLD11-2", "Attack Bludgeoning"},
    {"FLD11-3", "Attack Termal"}, {"FLD11-4", "Attack Chemic"}, {"FLD11-5", "Attack Electric"},
    {"FLD11-6", "Attack General"}, {"FLD12-0", "HL Head Type"}, {"FLD12-1", "Unk12-1"}, {"FLD12-2", "HL Head Weight"},
    {"FLD12-3", "HL Head Vitality"}, {"FLD13-0", "HL Torso Type"}, {"FLD13-1", "Unk13-1"},
    {"FLD13-2", "HL Torso Weight"}, {"FLD13-3", "HL Torso Vitality"}, {"FLD14-0", "HL Right Arm Type"},
    {"FLD14-1", "Unk14-1"}, {"FLD14-2", "HL Right Arm Weight"}, {"FLD14-3", "HL Right Arm Vitality"},
    {"FLD15-0", "HL Left Arm Type"}, {"FLD15-1", "Unk15-1"}, {"FLD15-2", "HL Left Arm Weight"},
    {"FLD15-3", "HL Left Arm Vitality"}, {"FLD16-0", "HL Rigth Leg Type"}, {"FLD16-1", "Unk16-1"},
    {"FLD16-2", "HL Rigth Leg Weight"}, {"FLD16-3", "HL Rigth Leg Vitality"}, {"FLD17-0", "HL Left Leg Type"},
    {"FLD17-1", "Unk17-1"}, {"FLD17-2", "HL Left Leg Weight"}, {"FLD17-3", "HL Left Leg Vitality"},
    {"FLD30-0", "Graphic data Mask Name"}, {"FLD31-0", "Graphic data Primary textures"},
    {"FLD32-0", "Graphic data Secondary textures"}, {"FLD33-0", "Graphic data Model Shift"},
    {"FLD34-0", "Sounds data SFX Path"}, {"FLD35-0", "Sounds data Steps"}, {"FLD36-0", "Animation Speed Attack"},
    {"FLD36-1", "Animation Speed Cast"}, {"FLD36-2", "Animation Speed Hit"}, {"FLD36-3", "Animation Speed Death"},
    {"FLD36-4", "Animation Speed Cross"}, {"FLD36-5", "Animation Speed Special"},
    {"FLD37-0", "Sounds Probability Idle"}, {"FLD38-0", "Sounds Probability Attack"}, {"FLD39-0", "Defence Piercing"},
    {"FLD39-1", "Defence Slashing"}, {"FLD39-2", "Defence Bludgeoning"}, {"FLD39-3", "Defence Termal"},
    {"FLD39-4", "Defence Chemic"}, {"FLD39-5", "Defence Electric"}, {"FLD39-6", "Defence General"},
    {"FLD40-0", "Graphics data Blood Type"}, {"FLD41-0", "Graphics data Cast Type"},
    {"FLD42-0", "Graphics data Footprint Type"}, {"FLD43-0", "Graphics data Leg Segments"},
    {"FLD44-0", "Graphics data Skin Type"}, {"FLD45-0", "Graphics data First Step Right"},
    {"FLD46-0", "Graphics data Head Height"}, {"FLD47-0", "Unk47-0"}, {"FLD48-0", "Unk48-0"}, {"FLD49-0", "Unk49-0"},
    {"FLD50-0", "Unk50-0"},
};
constexpr Column kMonsters[] = {
    {"FLD0-0", "Name"}, {"FLD1-0", "Base Race"}, {"FLD2-0", "Unk2-0"}, {"FLD3-0", "Graphics Data Skin Index"},
    {"FLD4-0", "Graphics Data Hair"}, {"FLD5-0", "Graphics Data Complection X"},
    {"FLD6-0", "Graphics Data Complection Y"}, {"FLD7-0", "Graphics Data Complection Z"}, {"FLD8-0", "Unk8-0"},
    {"FLD9-0", "Stats Health"}, {"FLD10-0", "Stats Mana"}, {"FLD11-0", "Stats Absorbtion"},
    {"FLD12-0", "Tuning Actions"}, {"FLD13-0", "Tuning Move"}, {"FLD14-0", "Attack Range"},
    {"FLD15-0", "Stats To Hit"}, {"FLD16-0", "Stats Parry"}, {"FLD17-0", "Tuning Weapon Weight"},
    {"FLD18-0", "Attack Weapon Type Id"}, {"FLD19-0", "Stats Danage Nub"}, {"FLD20-0", "Stats Damage Max"},
    {"FLD21-0", "Skills General"}, {"FLD22-0", "Skills Steal"}, {"FLD23-0", "Skills Tame"},
    {"FLD24-0", "Skills Peripheral"}, {"FLD25-0", "Senses Sight"}, {"FLD25-1", "Senses Infra"},
    {"FLD25-2", "Senses SenseLife"}, {"FLD25-3", "Senses Hearing"}, {"FLD25-4", "Senses Smell"},
    {"FLD25-5", "Senses Tracking"}, {"FLD26-0", "Detections Sight"}, {"FLD26-1", "Detections Infra"},
    {"FLD26-2", "Detections SenseLife"}, {"FLD26-3", "Detections Hearing"}, {"FLD26-4", "Detections Smell"},
    {"FLD26-5", "Detections Tracking"}, {"FLD27-0", "Common loot Probability"}, {"FLD27-1", "Common loot Mask"},
    {"FLD27-2", "Common loot Min"}, {"FLD27-3", "Common loot Max"}, {"FLD28-0", "Rare loot Probability"},
    {"FLD28-1", "Rare loot Mask"}, {"FLD28-2", "Rare loot Min"}, {"FLD28-3", "Rare loot Max"}, {"FLD29-0", "Items"},
    {"FLD30-0", "Skills Elemental"}, {"FLD30-1", "Skills Senses"}, {"FLD30-2", "Skills Astral"},
    {"FLD31-0", "Spells"}, {"FLD32-0", "Equipment Wears"}, {"FLD33-0", "Equipment Weapon №1"},
    {"FLD34-0", "Graphics Data Info Window Scale"}, {"FLD35-0", "Graphics Data Altitude"},
    {"FLD36-0", "Tuning To hit Random"}, {"FLD37-0", "Graphics Data Dialog Camera Distance"},
    {"FLD38-0", "Graphics Data Dialog Camera"}, {"FLD38-0", "Graphics Data Dialog Camera Height"},
    {"FLD39-0", "Attack Real Weapon Type Id"}, {"FLD40-0", "Graphics Data Detonation"}, {"FLD41-0", "Base Level"},
    {"FLD42-0", "Equipment Weapon №2"}, {"FLD43-0", "Stats Exp"},
};
constexpr Column kNPC[] = {
    {"FLD0-0", "Name"}, {"FLD1-0", "Unk1-0"}, {"FLD2-0", "Exp"}, {"FLD3-0", "Strength"}, {"FLD4-0", "Dexterity"},
    {"FLD5-0", "Intelligence"}, {"FLD6-0", "Science"}, {"FLD6-1", "Stealing"}, {"FLD6-2", "Tame"},
    {"FLD7-0", "Melee"}, {"FLD7-1", "Archery"}, {"FLD7-2", "Backstab"}, {"FLD7-3", "Elemental"}, {"FLD7-4", "Senses"},
    {"FLD7-5", "Astral"}, {"FLD7-6", "Stealth"}, {"FLD7-7", "Awareness"}, {"FLD8-0", "Perks"}, {"FLD9-0", "Weapons"},
    {"FLD10-0", "Quest Items"}, {"FLD11-0", "Spells"}, {"FLD12-0", "Exp To Distribute"}, {"FLD13-0", "Money"},
    {"FLD14-0", "Using Voice"},
};
constexpr Column kQuests[] = {
    {"FLD0-0", "Name"}, {"FLD1-0", "Experience"}, {"FLD2-0", "Unk2-0"}, {"FLD3-0", "Zone Number"},
    {"FLD4-0", "Comment"}, {"FLD5-0", "Money"}, {"FLD6-0", "Record Number"}, {"FLD7-0", "Unk7-0"},
};
constexpr Column kBriefings[] = {
    {"FLD0-0", "Name"}, {"FLD1-0", "Unk1-0"}, {"FLD2-0", "Money"}, {"FLD3-0", "Give Items"}, {"FLD4-0", "Comment"},
    {"FLD5-0", "Take Items"}, {"FLD6-0", "Give Quests 1"}, {"FLD7-0", "Give Quests 2"}, {"FLD8-0", "Open Zones"},
    {"FLD9-0", "Unk9-0"}, {"FLD10-0", "Bonus Number"},
};
constexpr Column kAnswers[] = {
    {"FLD1-0", "Name"}, {"FLD10-0", "Select"}, {"FLD11-0", "Move"}, {"FLD12-0", "Attack"}, {"FLD13-0", "Cast"},
    {"FLD14-0", "Loot"}, {"FLD15-0", "UseObj"}, {"FLD16-0", "Steal"}, {"FLD17-0", "Follow"}, {"FLD18-0", "UsePot"},
    {"FLD19-0", "ChPos"}, {"FLD20-0", "NoWay"}, {"FLD21-0", "CntChPos"}, {"FLD22-0", "NoPath"},
    {"FLD23-0", "CantCast"}, {"FLD24-0", "CantTele"}, {"FLD25-0", "SkiFail"}, {"FLD26-0", "NoTarget"},
    {"FLD27-0", "ComplSp"}, {"FLD28-0", "DecToAtt"}, {"FLD29-0", "OutStam"}, {"FLD30-0", "ArmCrip"},
    {"FLD31-0", "LegCrip"}, {"FLD32-0", "Bored"}, {"FLD33-0", "Unknown"}, {"FLD34-0", "Overload"},
    {"FLD35-0", "Injured"}, {"FLD36-0", "BigAtt"}, {"FLD37-0", "ArmorCrip"}, {"FLD38-0", "WearCrip"},
    {"FLD39-0", "AttInDef"}, {"FLD40-0", "WaitFoll"}, {"FLD41-0", "Scenario"}, {"FLD42-0", "StealEmp"},
    {"FLD43-0", "ShopYes"}, {"FLD44-0", "ShopNo"},
};
constexpr Column kCryes[] = {
    {"FLD1-0", "Name"}, {"FLD10-0", "Agress"}, {"FLD11-0", "Suspect"}, {"FLD12-0", "Kill"}, {"FLD13-0", "Rest"},
    {"FLD14-0", "InAgress"},
};
constexpr Column kOthers[] = {
    {"FLD1-0", "Name"}, {"FLD10-0", "Talk"}, {"FLD11-0", "Rest"},
};

constexpr SheetLayout kSheets[] = {
    {"Materials", "items", 1, kMaterials},
    {"Weapons", "items", 2, kWeapons},
    {"Armors", "items", 3, kArmors},
    {"QuickItems", "items", 4, kQuickItems},
    {"QuestItems", "items", 5, kQuestItems},
    {"LootItems", "items", 6, kLootItems},
    {"LeverPrototypes", "levers", 1, kLeverPrototypes},
    {"Skills", "perks", 1, kSkills},
    {"Perks", "perks", 2, kPerks},
    {"BloodPrints", "prints", 1, kBloodPrints},
    {"FootPrints", "prints", 2, kFootPrints},
    {"FirePrints", "prints", 3, kFirePrints},
    {"SpellPrototypes", "spells", 1, kSpellPrototypes},
    {"SpellModifiers", "spells", 2, kSpellModifiers},
    {"S_Spells", "spells", 3, kSSpells},
    {"S_Armors", "spells", 4, kSArmors},
    {"S_Weapons", "spells", 5, kSWeapons},
    {"HitLocations", "units", 1, kHitLocations},
    {"RaceModels", "units", 2, kRaceModels},
    {"Monsters", "units", 3, kMonsters},
    {"NPC", "units", 4, kNPC},
    {"Quests", "quests", 1, kQuests},
    {"Briefings", "quests", 2, kBriefings},
    {"Answers", "acks", 1, kAnswers},
    {"Cryes", "acks", 2, kCryes},
    {"Others", "acks", 3, kOthers},
};

}  // namespace

std::span<const CommunitySheet> CommunitySheets() { return kSheets; }

}  // namespace gamedb
