#pragma once

#include <cstddef>
#include <cstdint>

#include "measures/lanes/lane_types.hpp"

// The merged pass of the three measures for a query against kGroupLanes candidates at
// once, written over an instruction set's 64-bit lanes (Ops). The same steps as the pass
// for one candidate, with every branch of it turned into a mask. Only templates live
// here: each instruction set's file instantiates them with its own Ops.
namespace pelgar::measures::lanes {

template <class Ops>
void merged_pass_lanes(const LaneQuery& query, const LaneInput& input, LaneCounts& out, std::size_t first_lane) {
    using V = typename Ops::V;
    const std::size_t n = query.length;
    const V ones = Ops::splat(~std::uint64_t{0});
    const V one = Ops::splat(1);
    auto eq_at = [&](std::size_t j) { return Ops::load(&input.eq[query.rows[j]][first_lane]); };
    auto lowest = [&](V x) { return Ops::bit_and(x, Ops::sub(Ops::zero(), x)); };

    V vp = ones;
    V vn = Ops::zero();
    V flagged = Ops::zero();
    V window_below = Ops::load(input.window_below + first_lane);
    V window_from = ones;
    V window_start = Ops::load(input.window_start + first_lane);
    V unmatched = Ops::zero();
    V before_1 = Ops::zero();
    V before_2 = Ops::zero();
    V taken = Ops::zero();
    V untrigrammed = Ops::zero();
    V firsts[kMaxLength];
    for (std::size_t j = 0; j < n; ++j) {
        const V eq = eq_at(j);

        // Edit distance, the candidate as pattern.
        const V xv = Ops::bit_or(eq, vn);
        const V xh = Ops::bit_or(Ops::bit_xor(Ops::add(Ops::bit_and(eq, vp), vp), vp), eq);
        const V hp = Ops::bit_or(vn, Ops::and_not(Ops::bit_or(xh, vp), ones));
        const V hn = Ops::bit_and(vp, xh);
        const V hp_shifted = Ops::bit_or(Ops::template shift_left<1>(hp), one);
        const V hn_shifted = Ops::template shift_left<1>(hn);
        vp = Ops::bit_or(hn_shifted, Ops::and_not(Ops::bit_or(xv, hp_shifted), ones));
        vn = Ops::bit_and(hp_shifted, xv);

        // Jaro-Winkler: the first free equal position inside the window.
        const V first = lowest(Ops::and_not(flagged, Ops::bit_and(Ops::bit_and(eq, window_below), window_from)));
        window_below = Ops::bit_or(Ops::template shift_left<1>(window_below), one);
        // The window's lower end moves up once j reaches the window: from &= from - 1.
        window_from = Ops::bit_and(window_from, Ops::sub(window_from, Ops::bit_and(window_start, one)));
        window_start = Ops::template shift_right<1>(window_start);
        flagged = Ops::bit_or(flagged, first);
        firsts[j] = first;
        unmatched = Ops::sub(unmatched, Ops::is_zero(first));

        // Trigrams of the query against those of the candidate.
        const V trigram_mask = Ops::bit_and(Ops::bit_and(before_2, Ops::template shift_right<1>(before_1)),
                                            Ops::template shift_right<2>(eq));
        if (query.distinct_trigrams) {
            untrigrammed = Ops::sub(untrigrammed, Ops::is_zero(trigram_mask));
        } else {
            const V pick = lowest(Ops::and_not(taken, trigram_mask));
            taken = Ops::bit_or(taken, pick);
            untrigrammed = Ops::sub(untrigrammed, Ops::is_zero(pick));
        }
        before_2 = before_1;
        before_1 = eq;
    }

    // The i-th matched query character against the i-th flagged candidate position.
    V remaining = flagged;
    V mismatched = Ops::zero();
    for (std::size_t j = 0; j < n; ++j) {
        const V no_match = Ops::is_zero(firsts[j]);
        const V position = Ops::and_not(no_match, lowest(remaining));
        remaining = Ops::bit_xor(remaining, position);
        mismatched = Ops::sub(mismatched, Ops::and_not(no_match, Ops::is_zero(Ops::bit_and(eq_at(j), position))));
    }

    V diagonal = Ops::zero();
    for (std::size_t p = 0; p < n && p < 4; ++p)
        diagonal = Ops::bit_or(diagonal, Ops::bit_and(eq_at(p), Ops::splat(std::uint64_t{1} << p)));

    Ops::store(out.vp + first_lane, vp);
    Ops::store(out.vn + first_lane, vn);
    Ops::store(out.unmatched + first_lane, unmatched);
    Ops::store(out.mismatched + first_lane, mismatched);
    Ops::store(out.diagonal + first_lane, diagonal);
    Ops::store(out.untrigrammed + first_lane, untrigrammed);
}

// The whole group, one vector of Ops::kWidth lanes after the other.
template <class Ops>
void merged_pass_group(const LaneQuery& query, const LaneInput& input, LaneCounts& out) {
    for (std::size_t lane = 0; lane < kGroupLanes; lane += Ops::kWidth) merged_pass_lanes<Ops>(query, input, out, lane);
}

}  // namespace pelgar::measures::lanes
