#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "measures/lanes/candidate_group.hpp"
#include "measures/lanes/lane_codes.hpp"
#include "measures/weighted_score.hpp"

namespace pelgar::measures {

// weighted_score(query, candidate) for many candidates, short ones scored a block at a time
// in one vectorised pass, each in the narrowest lanes that hold it and the query. Each
// score reaches sink(tag, score), or a block's at once sink.block(tags, scores, count) where
// the sink has that, possibly only after later candidates were offered, and in no set
// order; flush() delivers those still held back. Candidates come as they are (offer) or,
// when the scorer was given the LaneCodes of a prepared candidate set, written in its codes
// (offer_coded). One thread at a time; neither copied nor moved, since the groups refer to
// the scorer.
class GroupedScorer {
public:
    explicit GroupedScorer(std::u32string_view query, const lanes::LaneCodes* codes = nullptr)
        : scorer_(query), kernels_(lanes::chosen_lane_kernels()) {
        const ShortQuery* short_query = scorer_.short_query();
        if (!short_query) return;
        if (codes)
            for (std::size_t j = 0; j < short_query->length(); ++j)
                coded_rows_[short_query->row_of(query[j])] = codes->query_code(query[j]);
    }
    GroupedScorer(const GroupedScorer&) = delete;
    GroupedScorer& operator=(const GroupedScorer&) = delete;

    template <class Sink>
    void offer(std::size_t tag, std::u32string_view candidate, Sink&& sink) {
        const ShortQuery* short_query = scorer_.short_query();
        if (!short_query || !ShortQuery::fits(candidate.size())) {
            sink(tag, scorer_.score(candidate));
            return;
        }
        Lanes& lanes = lanes_for(rows_, *short_query, candidate.size(), nullptr);
        std::uint8_t* codes = lanes.add(tag, candidate.size());
        for (std::size_t k = 0; k < candidate.size(); ++k) codes[k] = short_query->row_of(candidate[k]);
        if (lanes.group.full()) deliver(lanes, sink);
    }

    // A candidate with its own codes in the scorer's LaneCodes (see lanes::stride_for), or
    // null codes when it has none.
    template <class Sink>
    void offer_coded(std::size_t tag, std::u32string_view candidate, const std::uint8_t* codes, Sink&& sink) {
        const ShortQuery* short_query = scorer_.short_query();
        if (!codes || !short_query) return offer(tag, candidate, sink);
        Lanes& lanes = lanes_for(coded_, *short_query, candidate.size(), coded_rows_);
        lanes.add_padded(tag, codes, candidate.size());
        if (lanes.group.full()) deliver(lanes, sink);
    }

    // Candidates all of one length, which vector_bits() must allow, with their own codes in
    // the scorer's LaneCodes back to back; tags[i] is the tag of the i-th. Whole blocks are
    // scored where they lie when the query takes the candidates' own width, the first
    // `mask_blocks` of them with the masks made for them in advance (masks[k] for the k-th);
    // the rest joins the group.
    template <class Sink>
    void offer_coded(const std::size_t* tags, std::size_t count, std::size_t length, const std::uint8_t* codes,
                     const lanes::BlockMasks* masks, std::size_t mask_blocks, Sink&& sink) {
        Lanes& lanes = lanes_for(coded_, *scorer_.short_query(), length, coded_rows_);
        const std::size_t stride = lanes::stride_for(length);
        std::size_t i = 0;
        if (lanes.group.width_bits() == stride) {
            const std::size_t capacity = lanes.group.capacity();
            double scores[CandidateGroup::kMaxLanes];
            for (std::size_t block = 0; count - i >= capacity; i += capacity, ++block) {
                lanes.group.score_codes(codes + i * stride, length, scores, block < mask_blocks ? masks + block : nullptr);
                deliver_block(sink, tags + i, scores, capacity);
            }
        }
        for (; i < count; ++i) {
            lanes.add_padded(tags[i], codes + i * stride, length);
            if (lanes.group.full()) deliver(lanes, sink);
        }
    }

    template <class Sink>
    void flush(Sink&& sink) {
        for (std::optional<Lanes>* groups : {rows_, coded_})
            for (std::size_t width = 0; width < lanes::kWidthCount; ++width)
                if (groups[width] && groups[width]->group.size() != 0) deliver(*groups[width], sink);
    }

    // The width in bits of the vectors that score a candidate of this length, 0 for one
    // scored on its own.
    std::size_t vector_bits(std::size_t length) const {
        return scorer_.short_query() && ShortQuery::fits(length) ? kernels_.vector_bits : 0;
    }
    // True when a candidate of this length costs less to score than to bound from its
    // characters: it is scored in vectors of 256 bits or more.
    bool cheaper_than_bound(std::size_t length) const { return vector_bits(length) >= kBoundlessVectorBits; }
    static constexpr std::size_t kBoundlessVectorBits = 256;

    // True while the candidate offered with this tag waits for its score.
    bool holds(std::size_t tag) const {
        for (const std::optional<Lanes>* groups : {rows_, coded_})
            for (std::size_t width = 0; width < lanes::kWidthCount; ++width)
                if (groups[width] && groups[width]->holds(tag)) return true;
        return false;
    }

private:
    // The candidates of one width and one kind of codes, with their tags.
    struct Lanes {
        Lanes(const lanes::LaneQuery& query, std::size_t width, lanes::LaneKernel kernel)
            : group(query, width, kernel) {}
        std::uint8_t* add(std::size_t tag, std::size_t length) {
            tags[group.size()] = tag;
            return group.add(length);
        }
        void add_padded(std::size_t tag, const std::uint8_t* codes, std::size_t length) {
            tags[group.size()] = tag;
            group.add_padded(codes, length);
        }
        bool holds(std::size_t tag) const {
            for (std::size_t i = 0; i < group.size(); ++i)
                if (tags[i] == tag) return true;
            return false;
        }
        CandidateGroup group;
        std::size_t tags[CandidateGroup::kMaxLanes];
    };

    // The lanes of the candidate's width, made on first use; codes: the query's characters
    // in the candidates' codes, or null for candidates written as its rows.
    Lanes& lanes_for(std::optional<Lanes>* groups, const ShortQuery& query, std::size_t length,
                     const std::uint8_t* codes) {
        const std::size_t width = lanes::width_for(query.length(), length);
        if (!groups[width])
            groups[width].emplace(codes ? query.lane_query(codes) : query.lane_query(), width, kernels_.by_width[width]);
        return *groups[width];
    }

    // A sink that takes a whole block at once (sink.block(tags, scores, count)) gets it so.
    template <class Sink>
    static void deliver_block(Sink& sink, const std::size_t* tags, const double* scores, std::size_t count) {
        if constexpr (requires { sink.block(tags, scores, count); })
            sink.block(tags, scores, count);
        else
            for (std::size_t i = 0; i < count; ++i) sink(tags[i], scores[i]);
    }

    template <class Sink>
    static void deliver(Lanes& lanes, Sink& sink) {
        const std::size_t count = lanes.group.size();
        double scores[CandidateGroup::kMaxLanes];
        lanes.group.score_into(scores);
        deliver_block(sink, lanes.tags, scores, count);
    }

    WeightedScorer scorer_;
    const lanes::LaneKernels& kernels_;
    std::uint8_t coded_rows_[ShortQuery::kMaxLength + 1] = {};  // by row, the query's characters in the codes
    std::optional<Lanes> rows_[lanes::kWidthCount];
    std::optional<Lanes> coded_[lanes::kWidthCount];
};

}  // namespace pelgar::measures
