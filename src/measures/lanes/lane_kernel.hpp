#pragma once

#include <cstddef>
#include <cstdint>

#include "measures/lanes/lane_types.hpp"
#include "measures/score_weights.hpp"

// The merged pass of the three measures for a query against a block of candidates, one
// candidate a lane, written over an instruction set's operations on lanes of one width
// (Ops). The same steps as the pass for one candidate, with every branch of it turned
// into a mask, then the score from the counts in the same double operations in the same
// order. Only templates and constants live here: each instruction set's file
// instantiates them with types of its own, so no code is shared between those files.
//
// Ops gives, for lanes of Ops::kBits bits, Ops::kLanes to a vector V:
//   load (of lane words), load_row (of a mask row's bytes), store, splat, zero, ones, bit_and, bit_or, bit_xor, and_not (~a & b), add, sub,
//   shift_left_1, shift_right_1 (only the lowest kBits - k bits of a value shifted k times
//   need to stay exact), is_zero (all ones where a lane is 0), count_zero (+1 where x is 0),
//   popcount; kTernary with ternary<truth table>(a, b, c) where one instruction does any
//   function of three; equal_masks (a block's mask row of one code); and where masked
//   instructions do them in fewer steps, lowest_where and count_zero_and (below);
// and for Ops::kDoubles doubles to a vector D, with as many 32-bit integers to a vector I:
//   ints (lane values as integers), isplat, iadd, imax, index (row * stride + column),
//   to_doubles, gather (a table's values at the indices), dsplat, dadd, dsub, dmul, ddiv,
//   dless, dequal, dselect, dstore.
namespace pelgar::measures::lanes {

template <std::size_t kBits> struct LaneWordOf;
template <> struct LaneWordOf<8> { using type = std::uint8_t; };
template <> struct LaneWordOf<16> { using type = std::uint16_t; };
template <> struct LaneWordOf<32> { using type = std::uint32_t; };
template <> struct LaneWordOf<64> { using type = std::uint64_t; };
template <std::size_t kBits> using LaneWord = typename LaneWordOf<kBits>::type;

// Bytes of one row of a block's masks: one bit per character code.
inline constexpr std::size_t kRowBytes = kBlockCodes / 8;

// The prefix boost by the mask of equal leading characters (bit p: position p is equal,
// p < 4): the boost of the run of ones from bit 0.
consteval int leading_ones(unsigned x) { return (x & 1) == 0 ? 0 : 1 + leading_ones(x >> 1); }
inline constexpr double kBoostByDiagonal[16] = {
    weights::kPrefixBoost[leading_ones(0)],  weights::kPrefixBoost[leading_ones(1)],
    weights::kPrefixBoost[leading_ones(2)],  weights::kPrefixBoost[leading_ones(3)],
    weights::kPrefixBoost[leading_ones(4)],  weights::kPrefixBoost[leading_ones(5)],
    weights::kPrefixBoost[leading_ones(6)],  weights::kPrefixBoost[leading_ones(7)],
    weights::kPrefixBoost[leading_ones(8)],  weights::kPrefixBoost[leading_ones(9)],
    weights::kPrefixBoost[leading_ones(10)], weights::kPrefixBoost[leading_ones(11)],
    weights::kPrefixBoost[leading_ones(12)], weights::kPrefixBoost[leading_ones(13)],
    weights::kPrefixBoost[leading_ones(14)], weights::kPrefixBoost[leading_ones(15)],
};
static_assert(kBoostByDiagonal[7] == weights::kPrefixBoost[3] && kBoostByDiagonal[15] == weights::kPrefixBoost[4]);

// Bitwise functions of three masks; one instruction where the instruction set has one.
template <class Ops, class V = typename Ops::V>
V xor_or(V a, V b, V c) {  // (a ^ b) | c
    if constexpr (Ops::kTernary) return Ops::template ternary<0xBE>(a, b, c);
    else return Ops::bit_or(Ops::bit_xor(a, b), c);
}
template <class Ops, class V = typename Ops::V>
V or_nor(V a, V b, V c) {  // a | ~(b | c)
    if constexpr (Ops::kTernary) return Ops::template ternary<0xF1>(a, b, c);
    else return Ops::bit_or(a, Ops::and_not(Ops::bit_or(b, c), Ops::ones()));
}
template <class Ops, class V = typename Ops::V>
V and_and_not(V a, V b, V c) {  // a & b & ~c
    if constexpr (Ops::kTernary) return Ops::template ternary<0x40>(a, b, c);
    else return Ops::and_not(c, Ops::bit_and(a, b));
}
template <class Ops, class V = typename Ops::V>
V and3(V a, V b, V c) {
    if constexpr (Ops::kTernary) return Ops::template ternary<0x80>(a, b, c);
    else return Ops::bit_and(Ops::bit_and(a, b), c);
}
// The lowest set bit of each lane.
template <class Ops, class V = typename Ops::V>
V lowest(V x) {
    return Ops::bit_and(x, Ops::sub(Ops::zero(), x));
}
// The lowest set bit of x in the lanes where `where` is not zero, 0 in the others.
template <class Ops, class V = typename Ops::V>
V lowest_where(V x, V where) {
    if constexpr (requires { Ops::lowest_where(x, where); }) return Ops::lowest_where(x, where);
    else return Ops::and_not(Ops::is_zero(where), lowest<Ops>(x));
}
// counter + 1 in the lanes where a & b is zero.
template <class Ops, class V = typename Ops::V>
V count_zero_and(V counter, V a, V b) {
    if constexpr (requires { Ops::count_zero_and(counter, a, b); }) return Ops::count_zero_and(counter, a, b);
    else return Ops::count_zero(counter, Ops::bit_and(a, b));
}
// (a << 1) | (b & c)
template <class Ops, class V = typename Ops::V>
V shifted_or_and(V a, V b, V c) {
    if constexpr (Ops::kTernary) return Ops::template ternary<0xF8>(Ops::shift_left_1(a), b, c);
    else return Ops::bit_or(Ops::shift_left_1(a), Ops::bit_and(b, c));
}

// Per lane, what the score is made from.
template <std::size_t kBits>
struct BlockCounts {
    static constexpr std::size_t kLanes = kBlockBits / kBits;
    alignas(64) LaneWord<kBits> distance[kLanes];    // edit distance
    alignas(64) LaneWord<kBits> matches[kLanes];     // Jaro matches
    alignas(64) LaneWord<kBits> mismatched[kLanes];  // matched characters out of order
    alignas(64) LaneWord<kBits> diagonal[kLanes];    // bit p: the characters at p are equal, p < 4
    alignas(64) LaneWord<kBits> common[kLanes];      // trigrams paired off
};

// Per lane, where the match window of query position 0 lies and how it moves.
template <std::size_t kBits>
struct BlockWindows {
    static constexpr std::size_t kLanes = kBlockBits / kBits;
    alignas(64) LaneWord<kBits> window[kLanes];
    alignas(64) LaneWord<kBits> growing[kLanes];
    alignas(64) LaneWord<kBits> within[kLanes];
};

// The pass over the Ops::kLanes lanes from `first` on; eq[r] is the block's mask row of the
// query's row r.
template <class Ops, bool kDistinctTrigrams>
void count_lanes(const LaneQuery& query, const std::uint8_t* const* eq, const BlockWindows<Ops::kBits>& windows,
                 std::size_t first, BlockCounts<Ops::kBits>& out) {
    using V = typename Ops::V;
    const std::size_t n = query.length;
    const std::size_t byte = first * Ops::kBits / 8;
    auto eq_at = [&](std::size_t j) { return Ops::load_row(eq[query.rows[j]] + byte); };
    const V one = Ops::splat(1);

    V vp = Ops::ones();
    V vn = Ops::zero();
    V flagged = Ops::zero();
    V window = Ops::load(windows.window + first);
    V growing = Ops::load(windows.growing + first);
    V after_1 = Ops::zero();  // the previous masks, shifted up by one and two positions
    V after_2 = Ops::zero();
    V taken = Ops::zero();
    V untrigrammed = Ops::zero();
    V firsts[kMaxLength];
    for (std::size_t j = 0; j < n; ++j) {
        const V eq_j = eq_at(j);

        // Edit distance, the candidate as pattern.
        const V xv = Ops::bit_or(eq_j, vn);
        const V xh = xor_or<Ops>(Ops::add(Ops::bit_and(eq_j, vp), vp), vp, eq_j);
        const V hp = or_nor<Ops>(vn, xh, vp);
        const V hn = Ops::bit_and(vp, xh);
        const V hp_shifted = Ops::bit_or(Ops::shift_left_1(hp), one);
        const V hn_shifted = Ops::shift_left_1(hn);
        vp = or_nor<Ops>(hn_shifted, xv, hp_shifted);
        vn = Ops::bit_and(hp_shifted, xv);

        // Jaro-Winkler: the first free equal position inside the window, which then moves
        // up by one, its lower end staying at 0 while `growing` says so.
        const V first_fit = lowest<Ops>(and_and_not<Ops>(eq_j, window, flagged));
        flagged = Ops::bit_or(flagged, first_fit);
        firsts[j] = first_fit;
        window = shifted_or_and<Ops>(window, growing, one);
        growing = Ops::shift_right_1(growing);

        // Trigrams of the query against those of the candidate, two positions up: bit k + 2
        // set where the candidate's trigram at k is the query's trigram ending at j.
        if constexpr (kDistinctTrigrams) {
            untrigrammed = count_zero_and<Ops>(untrigrammed, Ops::bit_and(after_2, after_1), eq_j);
        } else {
            const V trigram = and3<Ops>(after_2, after_1, eq_j);
            taken = Ops::bit_or(taken, lowest<Ops>(Ops::and_not(taken, trigram)));
        }
        after_2 = Ops::shift_left_1(after_1);
        after_1 = Ops::shift_left_1(eq_j);
    }

    // The i-th matched query character against the i-th flagged candidate position: those
    // that differ, and the unmatched query positions, leave (eq & position) empty.
    V remaining = flagged;
    V empty = Ops::zero();
    for (std::size_t j = 0; j < n; ++j) {
        const V position = lowest_where<Ops>(remaining, firsts[j]);
        remaining = Ops::bit_xor(remaining, position);
        empty = count_zero_and<Ops>(empty, eq_at(j), position);
    }

    V diagonal = Ops::zero();
    for (std::size_t p = 0; p < n && p < weights::kMaxPrefix; ++p)
        diagonal = Ops::bit_or(diagonal, Ops::bit_and(eq_at(p), Ops::splat(std::uint64_t{1} << p)));

    const V within = Ops::load(windows.within + first);
    const V length = Ops::splat(n);
    const V matches = Ops::popcount(flagged);
    // The last column's vertical steps add up to the distance.
    Ops::store(out.distance + first, Ops::add(length, Ops::sub(Ops::popcount(Ops::bit_and(vp, within)),
                                                               Ops::popcount(Ops::bit_and(vn, within)))));
    Ops::store(out.matches + first, matches);
    Ops::store(out.mismatched + first, Ops::sub(Ops::add(empty, matches), length));
    Ops::store(out.diagonal + first, diagonal);
    if constexpr (kDistinctTrigrams)
        Ops::store(out.common + first, Ops::sub(length, untrigrammed));
    else
        Ops::store(out.common + first, Ops::popcount(taken));
}

// Entries of a table at lane values up to 15, or up to kMaxSmall where an instruction set
// permutes them out of registers; else gathered.
template <class Ops>
typename Ops::D small_entries(const double* table, typename Ops::I at) {
    if constexpr (requires { Ops::permuted(table, at); }) return Ops::permuted(table, at);
    else return Ops::gather(table, at);
}
template <class Ops, std::size_t kMaxIndex>
typename Ops::D row_entries(const double* row, typename Ops::I at) {
    if constexpr (kMaxIndex <= 16 && requires { Ops::permuted_17(row, at); }) return Ops::permuted_17(row, at);
    else return Ops::gather(row, at);
}

// The combined score of each lane from its counts: the quotients looked up in the tables
// that the one-pair pass reads, and the rest in its double operations in its order. In a
// block of one length, each quotient but u comes from one row of its table.
template <class Ops>
void scores_of_counts(const LaneQuery& query, const LaneBlock& block, const BlockCounts<Ops::kBits>& counts,
                      double* scores) {
    using I = typename Ops::I;
    using D = typename Ops::D;
    using Q = ScoreQuotients;
    constexpr std::size_t kMaxCount = Ops::kBits;  // no count exceeds the lane's width
    const Q& q = *query.quotients;
    const std::size_t n = query.length;
    const std::size_t common = block.common_length;
    const I n_ints = Ops::isplat(static_cast<int>(n));
    const D zero = Ops::dsplat(0.0);
    const D one = Ops::dsplat(1.0);
    const D three = Ops::dsplat(3.0);
    // Short candidates look up a Dice row in range, and their value is not taken.
    const std::size_t dice_row = n + common >= 4 ? n + common - 4 : 0;
    for (std::size_t c = 0; c < BlockCounts<Ops::kBits>::kLanes; c += Ops::kDoubles) {
        const I m = common != 0 ? Ops::isplat(static_cast<int>(common)) : Ops::ints(block.lengths + c);
        const I matches = Ops::ints(counts.matches + c);
        const I distance = Ops::ints(counts.distance + c);
        const I trigrams = Ops::ints(counts.common + c);

        D edit, r2, dice;
        if (common != 0) {
            edit = row_entries<Ops, kMaxCount>(q.edit[n > common ? n : common], distance);
            r2 = row_entries<Ops, kMaxCount>(q.ratio[common], matches);
            dice = row_entries<Ops, kMaxCount>(q.dice[dice_row], trigrams);
        } else {
            edit = Ops::gather(&q.edit[0][0], Ops::index(Ops::imax(n_ints, m), Q::kLengths, distance));
            r2 = Ops::gather(&q.ratio[0][0], Ops::index(m, Q::kLengths, matches));
            const I sum = Ops::imax(Ops::iadd(m, Ops::isplat(static_cast<int>(n) - 4)), Ops::isplat(0));
            dice = Ops::gather(&q.dice[0][0], Ops::index(sum, Q::kCommon, trigrams));
        }

        // Jaro-Winkler from u = (M - X/2) / M, r1 = M / n and r2 = M / m; 0 without matches.
        const D u = Ops::gather(&q.transposition[0][0], Ops::index(matches, Q::kLengths, Ops::ints(counts.mismatched + c)));
        const D r1 = row_entries<Ops, kMaxCount>(q.ratio[n], matches);
        const D s = Ops::dadd(r2, r1);
        const D jaro = Ops::ddiv(Ops::dadd(u, s), three);
        const D boost = small_entries<Ops>(kBoostByDiagonal, Ops::ints(counts.diagonal + c));
        const D boosted = Ops::dadd(Ops::dmul(Ops::dsub(one, jaro), boost), jaro);
        const D jaro_winkler = Ops::dselect(Ops::dequal(Ops::to_doubles(matches), zero), zero, boosted);

        // Trigrams: the Dice coefficient where both texts have some, else 1 or 0.
        const auto short_candidate = Ops::dless(Ops::to_doubles(m), three);
        const D trigram = n >= 3 ? Ops::dselect(short_candidate, zero, dice) : Ops::dselect(short_candidate, one, zero);

        // The trigram term goes on last.
        D sum = Ops::dmul(jaro_winkler, Ops::dsplat(weights::kJaroWinkler));
        sum = Ops::dadd(sum, edit);
        Ops::dstore(scores + c, Ops::dadd(Ops::dmul(trigram, Ops::dsplat(weights::kTrigram)), sum));
    }
}

// One block: its mask rows, each lane's window, the pass vector by vector, the scores.
template <class Ops>
void merged_pass_block(const LaneQuery& query, const LaneBlock& block, double* scores) {
    constexpr std::size_t kLanes = kBlockBits / Ops::kBits;
    using Word = LaneWord<Ops::kBits>;

    // The mask row of each of the query's rows: made in advance, or from the codes here.
    alignas(64) std::uint8_t made[kMaxLength + 1][kRowBytes];
    const std::uint8_t* eq[kMaxLength + 1];
    if (const BlockMasks* masks = block.masks) {
        for (std::size_t r = 1; r <= query.distinct; ++r) eq[r] = masks->rows + kRowBytes * masks->slots[query.codes[r]];
    } else {
        for (std::size_t r = 1; r <= query.distinct; ++r) {
            Ops::equal_masks(block.codes, query.codes[r], made[r]);
            eq[r] = made[r];
        }
    }

    // Each lane's window from its length, the same for all when the block's lengths are.
    BlockWindows<Ops::kBits> windows;
    auto set_lane = [&](std::size_t c, std::size_t m) {
        windows.window[c] = static_cast<Word>(query.window[m]);
        windows.growing[c] = static_cast<Word>(query.growing[m]);
        windows.within[c] = static_cast<Word>(query.within[m]);
    };
    if (block.common_length != 0) {
        for (std::size_t c = 0; c < kLanes; ++c) set_lane(c, block.common_length);
    } else {
        for (std::size_t c = 0; c < kLanes; ++c) set_lane(c, block.lengths[c]);
    }

    BlockCounts<Ops::kBits> counts;
    for (std::size_t first = 0; first < kLanes; first += Ops::kLanes) {
        if (query.distinct_trigrams)
            count_lanes<Ops, true>(query, eq, windows, first, counts);
        else
            count_lanes<Ops, false>(query, eq, windows, first, counts);
    }
    scores_of_counts<Ops>(query, block, counts, scores);
}

}  // namespace pelgar::measures::lanes
