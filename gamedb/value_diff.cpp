#include "gamedb/value_diff.h"

#include <algorithm>

#include "gamedb/cells.h"
#include "gamedb/framing.h"

namespace gamedb {
namespace {

// The payloads of the nodes that make a list or a nested record; false when
// the bytes do not frame cleanly (or, for a list, an item is not tagged 1).
bool Nodes(std::span<const std::uint8_t> bytes, bool list, std::vector<NodeView>& nodes) {
    NodeCursor cursor(bytes);
    NodeView node;
    while (cursor.Next(node)) {
        if (list && node.header.tag != 1) return false;
        nodes.push_back(node);
    }
    return cursor.Failure().empty();
}

class Walker {
public:
    Walker(std::vector<FieldChange>& out, const LeafFilter* filter) : out_(out), filter_(filter) {}

    void Value(const std::string& name, const FieldSpec* spec, std::span<const std::uint8_t> a,
               std::span<const std::uint8_t> b) {
        if (std::ranges::equal(a, b)) return;
        if (spec != nullptr && (List(name, *spec, a, b) || Nested(name, *spec, a, b) || Array(name, *spec, a, b))) return;
        Leaf(name, spec, a, b);
    }

private:
    bool List(const std::string& name, const FieldSpec& spec, std::span<const std::uint8_t> a,
              std::span<const std::uint8_t> b) {
        FieldSpec item{1, ValueType::Text, {}};
        if (spec.type == ValueType::Code4List) item.type = ValueType::Code4;
        else if (spec.type == ValueType::RecordList) item = {1, ValueType::Nested, {}, 0, spec.record};
        else if (spec.type != ValueType::TextList) return false;
        std::vector<NodeView> olds, news;
        if (!Nodes(a, true, olds) || !Nodes(b, true, news)) return false;
        for (std::size_t i = 0; i < std::max(olds.size(), news.size()); ++i) {
            const std::string itemName = name + "[" + std::to_string(i + 1) + "]";
            if (i < olds.size() && i < news.size()) Value(itemName, &item, olds[i].payload, news[i].payload);
            else OneSided(itemName, &item, i < olds.size() ? olds[i].payload : news[i].payload, i < olds.size());
        }
        return true;
    }

    bool Nested(const std::string& name, const FieldSpec& spec, std::span<const std::uint8_t> a,
                std::span<const std::uint8_t> b) {
        if (spec.type != ValueType::Nested || spec.record == nullptr) return false;
        std::vector<NodeView> olds, news;
        if (!Nodes(a, false, olds) || !Nodes(b, false, news)) return false;
        // The k-th node of a tag on one side with the k-th on the other.
        std::vector<std::uint8_t> tags;
        for (const FieldSpec& f : spec.record->fields) tags.push_back(f.tag);
        for (const auto* side : {&olds, &news})
            for (const NodeView& n : *side)
                if (std::find(tags.begin(), tags.end(), n.header.tag) == tags.end()) tags.push_back(n.header.tag);
        for (const std::uint8_t tag : tags) {
            std::vector<std::span<const std::uint8_t>> x, y;
            for (const NodeView& n : olds)
                if (n.header.tag == tag) x.push_back(n.payload);
            for (const NodeView& n : news)
                if (n.header.tag == tag) y.push_back(n.payload);
            const FieldSpec* field = FindField(*spec.record, tag);
            for (std::size_t k = 0; k < std::max(x.size(), y.size()); ++k) {
                std::string part = name + "." + (field != nullptr ? std::string(field->name) : "tag " + std::to_string(tag));
                if (k > 0) part += " (occurrence " + std::to_string(k + 1) + ")";
                if (k < x.size() && k < y.size()) Value(part, field, x[k], y[k]);
                else OneSided(part, field, k < x.size() ? x[k] : y[k], k < x.size());
            }
        }
        return true;
    }

    bool Array(const std::string& name, const FieldSpec& spec, std::span<const std::uint8_t> a,
               std::span<const std::uint8_t> b) {
        const std::size_t width = spec.type == ValueType::Float32Array ? 4 : spec.type == ValueType::ByteArray ? 1 : 0;
        if (width == 0 || a.size() != b.size() || a.size() != spec.count * width) return false;
        const FieldSpec element{spec.tag, width == 4 ? ValueType::Float32 : ValueType::Byte, spec.name};
        for (std::size_t i = 0; i < spec.count; ++i)
            Value(name + "[" + std::to_string(i + 1) + "]", &element, a.subspan(i * width, width), b.subspan(i * width, width));
        return true;
    }

    void Leaf(const std::string& name, const FieldSpec* spec, std::span<const std::uint8_t> a,
              std::span<const std::uint8_t> b) {
        if (filter_ != nullptr && !(*filter_)(ValueLeaf{name, spec, a, b})) return;
        FieldChange change;
        change.field = name;
        change.inOld = change.inNew = true;
        change.oldCell = ValueCell(spec, a);
        change.newCell = ValueCell(spec, b);
        out_.push_back(std::move(change));
    }

    void OneSided(const std::string& name, const FieldSpec* spec, std::span<const std::uint8_t> bytes, bool inOld) {
        FieldChange change;
        change.field = name;
        change.inOld = inOld;
        change.inNew = !inOld;
        (inOld ? change.oldCell : change.newCell) = ValueCell(spec, bytes);
        out_.push_back(std::move(change));
    }

    std::vector<FieldChange>& out_;
    const LeafFilter* filter_;
};

}  // namespace

std::string ValueCell(const FieldSpec* spec, std::span<const std::uint8_t> payload) {
    std::string cell;
    if (spec != nullptr) {
        AppendCell(cell, *spec, payload);
    } else {
        cell += kHexMarker;
        AppendHex(cell, payload);
    }
    return cell;
}

void CompareValues(std::vector<FieldChange>& out, const std::string& name, const FieldSpec* spec,
                   std::span<const std::uint8_t> oldBytes, std::span<const std::uint8_t> newBytes,
                   const LeafFilter* filter) {
    Walker(out, filter).Value(name, spec, oldBytes, newBytes);
}

}  // namespace gamedb
