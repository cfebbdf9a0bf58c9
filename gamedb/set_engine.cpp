// The engine of the set check: resolves the references of references.cpp's
// table and runs its rules of the common shapes.
#include "gamedb/set_engine.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <set>

#include "archive/cp1251.h"

namespace gamedb {
namespace set {

std::string Fold(std::string_view cp1251) {
    std::string folded(cp1251);
    for (char& c : folded) c = static_cast<char>(resarc::Cp1251Lower(static_cast<unsigned char>(c)));
    return folded;
}

std::string Utf8(std::string_view cp1251) {
    std::string text = resarc::Cp1251ToUtf8(cp1251);
    // A control byte must not reach the terminal as such.
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return text;
}

namespace {

std::string_view TrimRight(std::string_view text) {
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

std::string_view Trim(std::string_view text) {
    text = TrimRight(text);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    return text;
}

bool AllDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

ItemSpecParts ParseItemSpec(std::string_view value) {
    ItemSpecParts parts;
    std::string_view head = value;
    if (const auto open = value.find('['); open != std::string_view::npos) {
        if (value.back() != ']' || value.find_first_of("[]", open + 1) != value.size() - 1 || open + 2 > value.size() - 1) {
            parts.problem = "has no item string's form (name[.material][[count or spell]])";
            return parts;
        }
        parts.bracket = std::string(value.substr(open + 1, value.size() - open - 2));
        head = TrimRight(value.substr(0, open));
    } else if (value.find(']') != std::string_view::npos) {
        parts.problem = "has a ']' without its '['";
        return parts;
    }
    if (const auto dot = head.find('.'); dot != std::string_view::npos) {
        parts.arg = std::string(TrimRight(head.substr(dot + 1)));
        head = head.substr(0, dot);
    }
    parts.name = std::string(TrimRight(head));
    if (parts.name.empty()) parts.problem = "has no item name";
    return parts;
}

SpellParts ParseSpellSpec(std::string_view value) {
    SpellParts parts;
    std::string_view code = value;
    if (const auto open = value.find('{'); open != std::string_view::npos) {
        if (value.back() != '}' || value.find_first_of("{}", open + 1) != value.size() - 1) {
            parts.problem = "has no spell's form (code{mod;mod})";
            return parts;
        }
        code = value.substr(0, open);
        const std::string_view inner = value.substr(open + 1, value.size() - open - 2);
        std::size_t start = 0;
        while (true) {
            const std::size_t end = inner.find_first_of(";,", start);
            const std::string_view mod = Trim(inner.substr(start, end == std::string_view::npos ? inner.npos : end - start));
            if (mod.empty()) {
                parts.problem = "has an empty modifier";
                return parts;
            }
            parts.mods.emplace_back(mod);
            if (end == std::string_view::npos) break;
            parts.commas = parts.commas || inner[end] == ',';
            start = end + 1;
        }
    } else if (value.find('}') != std::string_view::npos) {
        parts.problem = "has a '}' without its '{'";
        return parts;
    }
    parts.code = std::string(Trim(code));
    if (parts.code.empty()) parts.problem = "has no spell code";
    return parts;
}

GrantParts ParseGrant(std::string_view value) {
    GrantParts parts;
    const std::vector<std::string_view> pieces = SplitList(value, '.');
    if ((pieces.size() != 3 && pieces.size() != 4) || Fold(pieces[0]) != "q" || pieces[1].empty() || pieces[2].empty() ||
        (pieces.size() == 4 && !AllDigits(pieces[3]))) {
        parts.problem = "is not of the form q.ZONE.QUEST or q.ZONE.QUEST.N";
        return parts;
    }
    parts.zone = std::string(pieces[1]);
    parts.quest = std::string(pieces[2]);
    return parts;
}

std::optional<Zone> ParseZone(std::string_view text) {
    const std::string folded = Fold(text);
    if (folded.size() < 4 || (folded.substr(0, 2) != "gz" && folded.substr(0, 2) != "bz")) return std::nullopt;
    const std::string_view digits = std::string_view(folded).substr(2, folded.size() - 3);
    const char letter = folded.back();
    if (!AllDigits(digits) || digits.size() > 6 || (letter != 'g' && letter != 'k' && letter != 'h')) return std::nullopt;
    Zone zone;
    zone.quest = folded[0] == 'g';
    zone.number = std::stoi(std::string(digits));
    zone.letter = letter;
    return zone;
}

char AllodLetter(long long zone) {
    if ((zone >= 1 && zone <= 10) || zone == 20) return 'g';
    if (zone >= 11 && zone <= 14) return 'k';
    if (zone >= 15 && zone <= 19) return 'h';
    return 0;
}

FieldPath SplitPath(std::string_view path) {
    FieldPath parts;
    const std::size_t first = path.find('.');
    const std::size_t second = path.find('.', first + 1);
    parts.kind = path.substr(0, first);
    parts.block = path.substr(first + 1, second - first - 1);
    parts.field = path.substr(second + 1);
    return parts;
}

std::vector<std::string_view> SplitList(std::string_view text, char separator) {
    std::vector<std::string_view> items;
    if (text.empty()) return items;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        items.push_back(text.substr(start, end == std::string_view::npos ? text.npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return items;
}

SetFinding At(const SetDatabase& database, std::string_view block, const SetRecord* record, std::string_view field,
              std::string_view cp1251Value, std::string text) {
    SetFinding finding;
    finding.database = database.label;
    finding.block = std::string(block);
    if (record != nullptr) {
        finding.record = record->number;
        finding.key = Utf8(record->key);
    }
    finding.field = std::string(field);
    finding.value = Utf8(cp1251Value);
    finding.text = std::move(text);
    return finding;
}

namespace {

std::size_t Distance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::string Suggest(std::string_view value, const std::vector<std::string>& candidates, std::string_view what) {
    const std::string folded = Fold(value);
    const std::size_t limit = std::max<std::size_t>(1, std::min<std::size_t>(3, folded.size() / 3));
    const std::string* best = nullptr;
    std::size_t bestDistance = limit + 1;
    for (const std::string& candidate : candidates) {
        // Long names cannot be close to short ones; skip the quadratic work.
        const std::string candidateFolded = Fold(candidate);
        if (candidateFolded.size() > folded.size() + limit || folded.size() > candidateFolded.size() + limit) continue;
        const std::size_t d = Distance(folded, candidateFolded);
        if (d < bestDistance) {
            bestDistance = d;
            best = &candidate;
        }
    }
    if (best != nullptr) return " (did you mean \"" + Utf8(*best) + "\"?)";
    if (candidates.empty()) return " (there are none)";
    std::string list = " (" + std::string(what) + ": ";
    constexpr std::size_t kShown = 5;
    for (std::size_t i = 0; i < candidates.size() && i < kShown; ++i) list += (i ? ", " : "") + Utf8(candidates[i]);
    if (candidates.size() > kShown) list += ", ... " + std::to_string(candidates.size()) + " in all";
    return list + ")";
}

const std::vector<SetRecord>* Records(const DatabaseSet& set, std::string_view kind, std::string_view block) {
    const SetDatabase* database = set.Find(kind);
    return database == nullptr ? nullptr : database->Block(block);
}

}  // namespace set

namespace {

using namespace set;

bool Matches(std::string_view pattern, std::string_view text) { return pattern.empty() || Fold(pattern) == Fold(text); }

bool KnownShipped(const SetFinding& finding) {
    for (const KnownShippedFinding& known : KnownShippedFindings()) {
        if (known.rule == finding.rule && Matches(known.block, finding.block) && Matches(known.key, finding.key) &&
            Matches(known.value, finding.value))
            return true;
    }
    return false;
}

// Where a name resolves to.
struct Target {
    const SetRecord* record = nullptr;
    std::string_view block;
};

// The names of one or more kind.block.field, folded, and as stored for suggestions.
struct NameIndex {
    std::map<std::string, Target> byName;
    std::vector<std::string> names;
    // For a target that is not a name (a code), the record's name too, to
    // tell "that is the name, the code is ..." apart.
    std::map<std::string, Target> byOtherName;
    std::string targetField;
    std::string label;   // "materials", "monsters or races": whose names these are

    const Target* Find(std::string_view name) const {
        const auto it = byName.find(Fold(name));
        return it == byName.end() ? nullptr : &it->second;
    }
};

bool OnlySpeech(const SetDatabase& database, std::string_view block, const SetRecord& record, std::string_view speech) {
    if (speech.empty()) return false;
    bool spoken = false;
    for (const BlockSpec& spec : database.kind->blocks) {
        if (spec.name != block) continue;
        for (const FieldSpec& field : spec.record.fields) {
            if (field.type != ValueType::RecordList) continue;
            const std::optional<std::int64_t> count = record.Number(field.name);
            if (!count || *count == 0) continue;
            if (field.name != speech) return false;
            spoken = true;
        }
    }
    return spoken;
}

class Engine {
public:
    Engine(const DatabaseSet& set, SetCheckSummary& summary, const std::function<void(const SetFinding&)>& report)
        : set_(set), summary_(summary), report_(report) {}

    void Run(const ReferenceRule& rule);
    void Run(const SetRule& rule);

private:
    void Emit(SetFinding finding, std::string_view rule, ReferenceRule::Mark mark, std::vector<std::string> kinds) {
        finding.rule = std::string(rule);
        finding.kinds = std::move(kinds);
        if (mark == ReferenceRule::Mark::Guessed) finding.severity = SetFinding::Severity::Note;
        else finding.severity = KnownShipped(finding) ? SetFinding::Severity::Warning : SetFinding::Severity::Error;
        switch (finding.severity) {
        case SetFinding::Severity::Error: ++summary_.errors; break;
        case SetFinding::Severity::Warning: ++summary_.warnings; break;
        case SetFinding::Severity::Note: ++summary_.notes; break;
        }
        report_(finding);
    }

    // nullptr when a target's database is not in the set.
    const NameIndex* Index(std::string_view to);

    // The rule's own id and kinds for findings a reference makes on the side (C17, C18, C22).
    void Side(SetFinding finding, std::string_view rule, ReferenceRule::Mark mark, const std::vector<std::string>& kinds) {
        Emit(std::move(finding), rule, mark, kinds);
    }

    struct Context {
        const ReferenceRule* rule;
        const SetDatabase* database;
        std::string_view block;
        const SetRecord* record;
        std::string_view field;
        std::vector<std::string> kinds;
    };
    void Fail(const Context& c, std::string_view value, std::string text) {
        Emit(At(*c.database, c.block, c.record, c.field, value, std::move(text)), c.rule->id, c.rule->mark, c.kinds);
    }
    // Whether `name` resolves in `index`; reports C18 when only its case differs.
    const Target* Resolve(const Context& c, const NameIndex& index, std::string_view value, std::string_view name,
                          bool items);
    std::string Unresolved(const NameIndex& index, std::string_view name, std::string_view what);
    void CheckItemSpec(const Context& c, std::string_view value, const NameIndex& allowed);
    void CheckEnchantment(const Context& c, std::string_view value, const std::string& spell);
    void CheckSpellModifiers(const Context& c, std::string_view value, const SpellParts& spell, bool fromSpellField);

    const DatabaseSet& set_;
    SetCheckSummary& summary_;
    const std::function<void(const SetFinding&)>& report_;
    std::map<std::string, std::unique_ptr<NameIndex>, std::less<>> indexes_;
};

const NameIndex* Engine::Index(std::string_view to) {
    if (const auto it = indexes_.find(to); it != indexes_.end()) return it->second.get();
    auto index = std::make_unique<NameIndex>();
    bool complete = true;
    for (std::string_view target : SplitList(to)) {
        const FieldPath path = SplitPath(target);
        const std::vector<SetRecord>* records = Records(set_, path.kind, path.block);
        if (records == nullptr) {
            complete = false;
            break;
        }
        index->targetField = std::string(path.field);
        // "materials", "material kinds", "monsters or races".
        std::string label(path.block);
        if (path.field != "name") {
            if (label.ends_with('s')) label.pop_back();
            label += " " + std::string(path.field) + "s";
        }
        index->label += (index->label.empty() ? "" : " or ") + label;
        for (const SetRecord& record : *records) {
            const SetValue* value = record.Find(path.field);
            if (value == nullptr) continue;
            for (const std::string& name : value->texts) {
                if (name.empty()) continue;
                if (index->byName.emplace(Fold(name), Target{&record, path.block}).second) index->names.push_back(name);
            }
            if (path.field != "name") index->byOtherName.emplace(Fold(record.Text("name")), Target{&record, path.block});
        }
    }
    if (!complete) index.reset();
    return indexes_.emplace(std::string(to), std::move(index)).first->second.get();
}

std::string Engine::Unresolved(const NameIndex& index, std::string_view name, std::string_view what) {
    std::string text = "\"" + Utf8(name) + "\" is not " + std::string(what);
    if (const auto it = index.byOtherName.find(Fold(name)); it != index.byOtherName.end() && !name.empty()) {
        const std::string_view code = it->second.record->Text(index.targetField);
        return text + " (it is the name of the " + std::string(it->second.block) + " record" +
               (code.empty() ? std::string() : " coded \"" + Utf8(code) + "\"") + ")";
    }
    const std::string_view trimmed = Trim(name);
    if (trimmed.size() != name.size() && index.Find(trimmed)) return text + " (it would be without the blanks)";
    return text + Suggest(name, index.names, index.label);
}

const Target* Engine::Resolve(const Context& c, const NameIndex& index, std::string_view value, std::string_view name,
                              bool items) {
    const Target* target = index.Find(name);
    if (target != nullptr && items && target->record->Text("name") != name) {
        Side(At(*c.database, c.block, c.record, c.field, value,
                "\"" + Utf8(name) + "\" is spelt \"" + Utf8(target->record->Text("name")) + "\" in " +
                    std::string(target->block) + " (names match without case)"),
             "C18", ReferenceRule::Mark::Guessed, c.kinds);
    }
    return target;
}

void Engine::Run(const ReferenceRule& rule) {
    const FieldPath from = SplitPath(rule.from);
    const SetDatabase* database = set_.Find(from.kind);
    const std::vector<SetRecord>* records = database == nullptr ? nullptr : database->Block(from.block);
    if (records == nullptr) return;
    Context c{&rule, database, from.block, nullptr, from.field, {std::string(from.kind)}};
    const NameIndex* index = nullptr;
    if (rule.part == ReferenceRule::Part::Animation) {
        if (!set_.animations) return;
        c.kinds.push_back("adb");
    } else if (!rule.to.empty()) {
        index = Index(rule.to);
        if (index == nullptr) return;
        for (std::string_view target : SplitList(rule.to)) c.kinds.emplace_back(SplitPath(target).kind);
    }
    static const NameIndex kNone;
    if (index == nullptr) index = &kNone;
    std::set<std::string> also;
    std::vector<std::string> allowed;
    for (std::string_view name : SplitList(rule.also)) {
        also.insert(Fold(name));
        allowed.emplace_back(name);
    }
    const bool items = !rule.to.empty() && SplitPath(rule.to).kind == "items" && SplitPath(rule.to).field == "name";

    for (const SetRecord& record : *records) {
        const SetValue* field = record.Find(from.field);
        if (field == nullptr) continue;
        c.record = &record;
        for (const std::string& value : field->texts) {
            if (value.empty() && rule.emptyIsNone) continue;
            ++summary_.references;
            switch (rule.part) {
            case ReferenceRule::Part::Whole:
                if (also.contains(Fold(value)) || Resolve(c, *index, value, value, items)) break;
                if (OnlySpeech(*database, from.block, record, rule.unlessOnlySpeech)) break;
                if (rule.to.empty() && rule.also.empty()) Fail(c, value, "expected " + std::string(rule.what));
                else if (rule.to.empty()) Fail(c, value, "is not " + std::string(rule.what) + Suggest(value, allowed, "allowed"));
                else Fail(c, value, Unresolved(*index, value, rule.what));
                break;
            case ReferenceRule::Part::Animation:
                if (!set_.animations->contains(Fold(value)))
                    Fail(c, value, "no animation database \"" + Utf8(value) + ".adb\" in the set");
                break;
            case ReferenceRule::Part::ItemSpec: CheckItemSpec(c, value, *index); break;
            case ReferenceRule::Part::SpellPrototype:
            case ReferenceRule::Part::SpellModifiers: {
                const SpellParts spell = ParseSpellSpec(value);
                if (!spell.problem.empty()) {
                    if (rule.part == ReferenceRule::Part::SpellPrototype) Fail(c, value, spell.problem);
                } else if (rule.part == ReferenceRule::Part::SpellPrototype) {
                    if (!index->Find(spell.code)) Fail(c, value, Unresolved(*index, spell.code, rule.what));
                } else {
                    CheckSpellModifiers(c, value, spell, true);
                }
                break;
            }
            case ReferenceRule::Part::QuestOfGrant: {
                const GrantParts grant = ParseGrant(value);
                if (!grant.problem.empty()) Fail(c, value, grant.problem);
                else if (!index->Find(grant.quest)) Fail(c, value, Unresolved(*index, grant.quest, rule.what));
                break;
            }
            }
        }
    }
}

void Engine::CheckSpellModifiers(const Context& c, std::string_view value, const SpellParts& spell, bool fromSpellField) {
    const NameIndex* modifiers = Index("spells.spell_modifiers.code");
    if (modifiers == nullptr) return;
    if (spell.commas && fromSpellField)
        Side(At(*c.database, c.block, c.record, c.field, value, "modifiers are separated by ',' rather than ';'"), "C17",
             ReferenceRule::Mark::Guessed, c.kinds);
    const NameIndex* prototypes = Index("spells.spell_prototypes.code");
    const Target* prototype = prototypes ? prototypes->Find(spell.code) : nullptr;
    static constexpr const char* kFamilies[] = {"range", "targets", "area", "effect", "duration"};
    for (const std::string& mod : spell.mods) {
        const Target* modifier = modifiers->Find(mod);
        if (modifier == nullptr) {
            Fail(c, value, (fromSpellField ? "" : "enchantment: ") + Unresolved(*modifiers, mod, "a spell modifier code"));
            continue;
        }
        if (!fromSpellField || prototype == nullptr) continue;
        const std::optional<std::int64_t> kind = modifier->record->Number("kind");
        const SetValue* allowed = prototype->record->Find("mod_allowed");
        if (kind && *kind >= 0 && *kind < 5 && allowed && allowed->numbers.size() == 5 && allowed->numbers[static_cast<std::size_t>(*kind)] == 0)
            Side(At(*c.database, c.block, c.record, c.field, value,
                    "modifier \"" + Utf8(mod) + "\" is of the " + kFamilies[*kind] + " family, which \"" +
                        Utf8(spell.code) + "\" does not allow (mod_allowed)"),
                 "C22", ReferenceRule::Mark::Observed, {"units", "items", "spells"});
    }
}

void Engine::CheckEnchantment(const Context& c, std::string_view value, const std::string& text) {
    const SpellParts spell = ParseSpellSpec(text);
    if (!spell.problem.empty()) return Fail(c, value, "enchantment \"" + Utf8(text) + "\" " + spell.problem);
    const NameIndex* prototypes = Index("spells.spell_prototypes.code");
    if (prototypes == nullptr) return;
    if (!prototypes->Find(spell.code))
        Fail(c, value, "enchantment: " + Unresolved(*prototypes, spell.code, "a spell prototype code"));
    CheckSpellModifiers(c, value, spell, false);
}

void Engine::CheckItemSpec(const Context& c, std::string_view value, const NameIndex& allowed) {
    const ItemSpecParts parts = ParseItemSpec(value);
    if (!parts.problem.empty()) return Fail(c, value, parts.problem);
    const NameIndex* all = Index("items.weapons.name|items.armors.name|items.quick_items.name|items.quest_items.name|items.loot_items.name");
    const Target* item = all ? Resolve(c, *all, value, parts.name, true) : nullptr;
    if (item == nullptr) return Fail(c, value, Unresolved(allowed, parts.name, c.rule->what));
    if (!allowed.Find(parts.name))
        return Fail(c, value, "\"" + Utf8(parts.name) + "\" is in " + std::string(item->block) + ", not " + std::string(c.rule->what));

    const std::string name = Fold(parts.name);
    const bool loot = item->block == "loot_items";
    const std::string_view material = item->record->Text("material");
    const NameIndex* materials = Index("items.materials.name");
    const NameIndex* kinds = Index("items.materials.kind");
    if (parts.arg) {
        const std::string& arg = *parts.arg;
        if (loot && (name == "rune" || name == "prototype")) {
            const bool rune = name == "rune";
            const NameIndex* codes = Index(rune ? "spells.spell_modifiers.code" : "spells.spell_prototypes.code");
            if (codes != nullptr && !codes->Find(arg))
                Fail(c, value, Unresolved(*codes, arg, rune ? "a spell modifier code" : "a spell prototype code"));
        } else if (materials == nullptr || kinds == nullptr) {
            // No materials block to check against.
        } else if ((loot && name == "material") || kinds->Find(material)) {
            const Target* found = materials->Find(arg);
            if (found == nullptr) {
                Fail(c, value, "material " + Unresolved(*materials, arg, "a material name"));
            } else if (!(loot && name == "material") && Fold(found->record->Text("kind")) != Fold(material)) {
                Fail(c, value, "material \"" + Utf8(arg) + "\" is " + Utf8(found->record->Text("kind")) + ", but \"" +
                                   Utf8(parts.name) + "\" needs " + Utf8(material));
            }
        } else {
            Fail(c, value, "\"" + Utf8(parts.name) + "\" takes no material, rune or prototype after the dot");
        }
    } else if (loot && (name == "material" || name == "rune" || name == "prototype")) {
        Fail(c, value, "\"" + Utf8(parts.name) + "\" needs a name after the dot");
    }
    if (parts.bracket && !AllDigits(*parts.bracket)) CheckEnchantment(c, value, *parts.bracket);
}

// ---- rules of the common shapes ------------------------------------------------

std::string ValueKey(const SetRecord& record, std::string_view field) {
    const SetValue* value = record.Find(field);
    if (value == nullptr) return {};
    if (!value->texts.empty()) return Fold(value->texts.front());
    if (!value->numbers.empty()) return std::to_string(value->numbers.front());
    return {};
}

std::string Shown(const SetRecord& record, std::string_view field) {
    const SetValue* value = record.Find(field);
    if (value != nullptr && !value->texts.empty()) return value->texts.front();
    if (value != nullptr && !value->numbers.empty()) return std::to_string(value->numbers.front());
    return {};
}

std::string Named(const SetRecord& record) {
    return record.key.empty() ? "record " + std::to_string(record.number) : "\"" + Utf8(record.key) + "\"";
}

void Engine::Run(const SetRule& rule) {
    std::vector<std::string> kinds;
    for (std::string_view item : SplitList(rule.fields)) {
        const std::string kind(SplitPath(item).kind);
        if (std::find(kinds.begin(), kinds.end(), kind) == kinds.end()) kinds.push_back(kind);
    }
    const auto emit = [&](SetFinding finding) { Emit(std::move(finding), rule.id, rule.mark, kinds); };
    if (rule.shape == SetRule::Shape::Custom) {
        for (const std::string& kind : kinds)
            if (set_.Find(kind) == nullptr) return;
        rule.check(set_, emit);
        return;
    }
    const std::vector<std::string_view> fields = SplitList(rule.fields);
    const FieldPath path = SplitPath(fields.front());
    const SetDatabase* database = set_.Find(path.kind);
    if (database == nullptr) return;

    if (rule.shape == SetRule::Shape::Unique || rule.shape == SetRule::Shape::UniqueAcross) {
        std::map<std::string, std::pair<std::string_view, const SetRecord*>> seen;
        for (std::string_view item : fields) {
            const FieldPath p = SplitPath(item);
            const std::vector<SetRecord>* records = database->Block(p.block);
            if (records == nullptr) continue;
            if (rule.shape == SetRule::Shape::Unique) seen.clear();
            for (const SetRecord& record : *records) {
                const std::string key = ValueKey(record, p.field);
                if (key.empty() || (!rule.param.empty() && key == Fold(rule.param))) continue;
                const auto [it, fresh] = seen.emplace(key, std::pair(p.block, &record));
                if (fresh || (rule.shape == SetRule::Shape::UniqueAcross && it->second.first == p.block)) continue;
                emit(At(*database, p.block, &record, p.field, Shown(record, p.field),
                        "also the " + std::string(p.field) + " of " + std::string(it->second.first) + " " +
                            Named(*it->second.second) + " (" + std::string(rule.what) + ")"));
            }
        }
        return;
    }
    const std::vector<SetRecord>* records = database->Block(path.block);
    if (records == nullptr) return;
    if (rule.shape == SetRule::Shape::Position) {
        const long long base = std::stoll(std::string(rule.param));
        for (std::size_t i = 0; i < records->size(); ++i) {
            const SetRecord& record = (*records)[i];
            const std::optional<std::int64_t> number = record.Number(path.field);
            if (number && *number != static_cast<long long>(i) + base)
                emit(At(*database, path.block, &record, path.field, std::to_string(*number),
                        "expected " + std::to_string(static_cast<long long>(i) + base) + ", the record's position (" +
                            std::string(rule.what) + ")"));
        }
        return;
    }
    // Function / OneToOne: the value most records give wins; the others are reported.
    const auto check = [&](std::string_view a, std::string_view b) {
        std::map<std::string, std::map<std::string, long long>> counts;
        for (const SetRecord& record : *records) {
            const std::string ka = ValueKey(record, a);
            if (!ka.empty() && record.Find(b)) ++counts[ka][ValueKey(record, b)];
        }
        for (const SetRecord& record : *records) {
            const std::string ka = ValueKey(record, a);
            if (ka.empty() || !record.Find(b)) continue;
            const auto& options = counts[ka];
            const auto best = std::max_element(options.begin(), options.end(),
                                               [](const auto& x, const auto& y) { return x.second < y.second; });
            const std::string kb = ValueKey(record, b);
            if (kb == best->first) continue;
            emit(At(*database, path.block, &record, b, Shown(record, b),
                    "expected \"" + Utf8(best->first) + "\", as " + std::to_string(best->second) + " other record" +
                        (best->second == 1 ? "" : "s") + " with " + std::string(a) + " \"" + Utf8(Shown(record, a)) +
                        "\" have (" + std::string(rule.what) + ")"));
        }
    };
    const std::string_view second = fields.size() > 1 ? fields[1] : std::string_view();
    check(path.field, second);
    if (rule.shape == SetRule::Shape::OneToOne) check(second, path.field);
}

}  // namespace

SetCheckSummary CheckSet(const DatabaseSet& set, const std::function<void(const SetFinding&)>& report) {
    SetCheckSummary summary;
    Engine engine(set, summary, report);
    for (const ReferenceRule& rule : References()) engine.Run(rule);
    for (const SetRule& rule : Rules()) engine.Run(rule);
    return summary;
}

}  // namespace gamedb
