#include "tests/support/adb_gen.h"

#include <algorithm>
#include <array>
#include <bit>
#include <string_view>

#include "tests/support/gamedb_gen.h"

namespace gamedb::testing {
namespace {

class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed * 2 + 1) {}
    std::uint64_t Next() { return SplitMix(state_); }
    std::uint32_t Below(std::uint64_t n) { return n == 0 ? 0 : static_cast<std::uint32_t>(Next() % n); }
    std::uint32_t Between(std::uint32_t low, std::uint32_t high) { return low + Below(std::uint64_t{high} - low + 1); }
    bool Chance(double p) { return p > 0 && static_cast<double>(Next() >> 11) * 0x1.0p-53 < p; }

private:
    std::uint64_t state_;
};

constexpr std::array<std::string_view, 10> kWords = {"attack", "idle", "walk", "run", "death", "hit",
                                                     "cast", "special", "cross", "briefing"};
constexpr std::array<std::string_view, 6> kModels = {"Female", "Male", "Goblin", "Ogre", "curseArms00", "Zombie00"};
constexpr std::array<std::uint32_t, 5> kStates = {0, 1, 2, 4, 6};
constexpr std::array<std::uint32_t, 6> kOddFloats = {0x7FC00000u, 0xFFFFFFFFu, 0x7F800000u, 0x80000000u, 0x00000001u, 0x3DCCCCCDu};

std::uint32_t ShortFloat(Rng& rng, std::uint32_t eighthsMax) {
    return std::bit_cast<std::uint32_t>(static_cast<float>(rng.Below(eighthsMax + 1)) / 8.0f);
}

// A clip as the game writes it: stage matching the name's first letter,
// event frames within the clip, forms bits 0-3 following the event fields.
AdbBytes Clip(Rng& rng, int size, std::size_t position, bool shapes, double odd) {
    using namespace adb88;
    AdbBytes r(static_cast<std::size_t>(size), 0);
    const auto at = [size](int offset88) { return AdbOffset(size, offset88); };
    const std::uint32_t stage = rng.Below(3);
    std::string name(1, "usc"[stage]);
    name += kWords[rng.Below(kWords.size())];
    if (rng.Chance(odd)) name += static_cast<char>(rng.Between(0xC0, 0xFF));   // a Cyrillic letter
    name += std::to_string(position);
    name.resize(std::min<std::size_t>(name.size(), 15));
    if (rng.Chance(odd)) name.resize(16, 'x');  // no room for the terminator
    std::copy(name.begin(), name.end(), r.begin());
    if (name.size() < 15 && rng.Chance(odd))
        for (std::size_t i = name.size() + 1 + rng.Below(15 - name.size()); i < 16; ++i) r[i] = static_cast<std::uint8_t>(rng.Next());
    PutWord(r, kIndex, rng.Chance(odd) ? rng.Below(1000) : static_cast<std::uint32_t>(position));
    if (size == 36) {
        for (int w = 0; w < 4; ++w) PutWord(r, 20 + 4 * w, rng.Chance(0.3) ? rng.Below(1000) : 0);
        return r;
    }

    const std::uint32_t roll = rng.Below(10);
    const std::uint32_t weapons = roll < 6 ? 0 : roll < 9 ? 0x7F : rng.Between(1, 0x7E);
    const std::uint32_t state = kStates[rng.Below(kStates.size())];
    const std::uint32_t action = rng.Between(1, 9);
    std::uint32_t code = weapons | state << 15 | action << 18 | rng.Below(77) << 22 | stage << 30;
    if (rng.Chance(odd)) code |= rng.Between(1, 0xFF) << 7;
    PutWord(r, kCode, code);

    const std::uint32_t last = rng.Between(1, 913);
    const auto frame = [&](std::uint32_t cap) { return rng.Between(1, std::min(cap, last)); };
    if (rng.Chance(0.1)) {
        PutWord(r, at(kHide), frame(last));
        PutWord(r, at(kHide) + 4, frame(last));
    }
    const std::uint32_t steps = rng.Chance(0.4) ? rng.Between(1, 4) : 0;
    for (std::uint32_t i = 0; i < steps; ++i) PutWord(r, at(kStep) + 4 * static_cast<int>(i), frame(120));
    if (rng.Chance(0.5)) PutWord(r, at(kHit), frame(317));
    if (rng.Chance(0.4)) PutWord(r, at(kSfxFrame), frame(62));
    const std::uint32_t ids = rng.Chance(0.5) ? rng.Between(1, 4) : 0;
    for (std::uint32_t i = 0; i < ids; ++i) PutWord(r, at(kSfxIds) + 4 * static_cast<int>(i), rng.Between(1, 8));
    PutWord(r, at(kLastFrame), last);
    PutWord(r, at(kMove), rng.Chance(odd) ? kOddFloats[rng.Below(kOddFloats.size())]
                          : rng.Chance(0.3) ? ShortFloat(rng, 108) : 0);
    if (size == 88) PutWord(r, kProbability, rng.Chance(0.9) ? 100 : rng.Below(101));

    std::uint32_t forms = 0;
    if (GetWord(r, at(kHide)) || GetWord(r, at(kHide) + 4)) forms |= 1;
    if (GetWord(r, at(kStep))) forms |= 2;
    if (GetWord(r, at(kHit))) forms |= 4;
    for (int w = 0; w < 5; ++w)
        if (GetWord(r, at(kSfxFrame) + 4 * w)) forms |= 8;
    if (rng.Chance(odd)) forms ^= 1u << rng.Below(4);
    if (shapes) forms |= rng.Chance(0.9) ? 0x30u : 0x10u;
    if (rng.Chance(odd)) forms |= rng.Between(1, 0x1FF) << 6;
    if (action == 7 && rng.Chance(0.9)) forms |= rng.Chance(0.6) ? code & 0xFFFF8000u : (state << 15 | 7u << 18 | rng.Between(24, 28) << 22);
    else if (rng.Chance(odd)) forms |= rng.Between(1, 0x1FFFF) << 15;
    PutWord(r, kForms, forms);
    return r;
}

}  // namespace

int AdbOffset(int recordSize, int offset88) { return recordSize == 84 && offset88 > adb88::kProbability ? offset88 - 4 : offset88; }

std::uint32_t GetWord(const AdbBytes& record, int offset) {
    const auto* p = record.data() + offset;
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

void PutWord(AdbBytes& record, int offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) record[static_cast<std::size_t>(offset + i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

AdbGen GenerateAdb(const AdbGenOptions& options) {
    Rng rng(options.seed);
    const double odd = options.irregularRate;
    AdbGen adb;
    const std::uint32_t pick = rng.Below(10);
    adb.recordSize = options.recordSize ? options.recordSize : pick < 7 ? 88 : pick < 9 ? 84 : 36;
    adb.modelName = std::string(kModels[rng.Below(kModels.size())]);
    if (rng.Chance(odd)) adb.modelName += "\xCC\xEE\xE4\xE5\xEB\xFC";   // "Модель"
    if (rng.Chance(odd * 4) && adb.modelName.size() <= 13) adb.modelTail = {0, 0, 0, 0, 0, 0x80, 0x10, 0x08, 0x00, 0x0F};
    if (adb.recordSize != 36) {
        std::uint32_t h[3] = {ShortFloat(rng, 9), 0, 0};
        h[1] = std::bit_cast<std::uint32_t>(std::bit_cast<float>(h[0]) + std::bit_cast<float>(ShortFloat(rng, 8)));
        h[2] = std::bit_cast<std::uint32_t>(std::bit_cast<float>(h[1]) + std::bit_cast<float>(ShortFloat(rng, 8)));
        std::copy(h, h + 3, adb.heights);
    }
    const bool shapes = rng.Chance(0.2);
    const auto count = rng.Between(static_cast<std::uint32_t>(options.minClips), static_cast<std::uint32_t>(options.maxClips));
    for (std::uint32_t i = 0; i < count; ++i) adb.clips.push_back(Clip(rng, adb.recordSize, i, shapes, odd));
    return adb;
}

AdbBytes SerializeAdb(const AdbGen& adb) {
    AdbBytes out(44, 0);
    out[0] = 'A';
    out[1] = 'D';
    out[2] = 'B';
    PutWord(out, 4, static_cast<std::uint32_t>(adb.clips.size()));
    std::copy(adb.modelName.begin(), adb.modelName.end(), out.begin() + 8);
    std::copy(adb.modelTail.begin(), adb.modelTail.end(), out.begin() + 8 + static_cast<std::ptrdiff_t>(adb.modelName.size()) + 1);
    for (int i = 0; i < 3; ++i) PutWord(out, 32 + 4 * i, adb.heights[i]);
    for (const AdbBytes& clip : adb.clips) out.insert(out.end(), clip.begin(), clip.end());
    return out;
}

}  // namespace gamedb::testing
