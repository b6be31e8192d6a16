#include "records/record_join.hpp"

#include <algorithm>
#include <array>
#include <bit>

#include "matching/score_bound.hpp"
#include "measures/weighted_score.hpp"
#include "records/record_score.hpp"

namespace pelgar::records {

// The pairs of rows one probe of a driver's join brings, each scored on the other fields.
class DriverPairs final : public join::PairSink {
public:
    DriverPairs(const RecordSelfJoin& join, std::size_t driver, const join::KeyGroups& keys, RecordPairSink& sink)
        : join_(join), index_(join.index_), driver_(driver), keys_(keys), sink_(sink) {}

    void found(std::uint32_t key, std::uint32_t partner, double score) override {
        const auto partners = keys_.rows(partner);
        for (const std::uint32_t i : keys_.rows(key))
            for (auto j = std::upper_bound(partners.begin(), partners.end(), i); j != partners.end(); ++j)
                consider(i, *j, score);
    }

    // Rows of one key score 1.0 with each other.
    void equal_keys(std::uint32_t key) {
        const auto rows = keys_.rows(key);
        for (std::size_t a = 0; a < rows.size(); ++a)
            for (std::size_t b = a + 1; b < rows.size(); ++b) consider(rows[a], rows[b], 1.0);
    }

    void report(FieldTally& tally, std::size_t settled) const {
        tally.add(driver_, settled);
        for (std::size_t f = 0; f < index_.field_count(); ++f) tally.add(f, scored_[f]);
        tally.add_rows(rows_scored_);
    }

private:
    double field_score(std::size_t field, std::uint32_t i, std::uint32_t j) {
        const std::uint32_t a = index_.key(field, i), b = index_.key(field, j);
        if (a == b) return 1.0;
        ++scored_[field];
        const join::KeyGroups& keys = index_.field(field).keys();
        return measures::weighted_score(keys.key(a), keys.key(b));
    }

    // Scores rows i < j heaviest field first, each unscored field bounded by its ceiling,
    // until the bound falls below the threshold or an earlier driver claims the pair.
    void consider(std::uint32_t i, std::uint32_t j, double driver_score) {
        if (sink_.skip(i, j)) return;
        const FieldMask shared = index_.mask(i) & index_.mask(j);
        std::array<double, kMaxFields> scores{}, ceilings{};
        double total = 0.0;
        for (const std::size_t f : index_.heaviest_first())
            if (has_field(shared, f)) total += index_.rule(f).weight;
        const double cut = (join_.threshold_ - kCutoffMargin) * total;
        double reached = index_.rule(driver_).weight * driver_score, rest = total - index_.rule(driver_).weight;
        // The ceilings first, heaviest first: most pairs fail on one or two of them.
        for (const std::size_t f : index_.heaviest_first()) {
            if (!has_field(shared, f) || f == driver_) continue;
            ceilings[f] = join_.ceiling(f, i, j);
            rest -= index_.rule(f).weight * (1.0 - ceilings[f]);
            if (reached + rest < cut) return;
        }
        scores[driver_] = driver_score;
        ++rows_scored_;
        for (const std::size_t f : index_.heaviest_first()) {
            if (!has_field(shared, f) || f == driver_) continue;
            if (reached + rest < cut) return;
            scores[f] = field_score(f, i, j);
            if (claimed(f, scores[f])) return;
            reached += index_.rule(f).weight * scores[f];
            rest -= index_.rule(f).weight * ceilings[f];
        }
        RecordScore score;
        for (std::size_t f = 0; f < index_.field_count(); ++f)
            if (has_field(shared, f)) score.add(index_.rule(f).weight, scores[f]);
        if (score.score() >= join_.threshold_) sink_.found(i, j, score.score());
    }

    // Whether the join of a driver before this one brings the pair.
    bool claimed(std::size_t field, double score) const {
        return join_.rank_[field] < join_.rank_[driver_] && join_.cutoffs_.drives(field) &&
               score >= join_.cutoffs_.cutoff(field);
    }

    const RecordSelfJoin& join_;
    const RecordIndex& index_;
    std::size_t driver_;
    const join::KeyGroups& keys_;
    RecordPairSink& sink_;
    std::array<std::size_t, kMaxFields> scored_{};
    std::size_t rows_scored_ = 0;
};

RecordSelfJoin::RecordSelfJoin(const RecordIndex& index, double threshold)
    : index_(index), threshold_(threshold), cutoffs_(index, threshold), rank_(index.field_count()), lengths_(index.field_count()) {
    const std::vector<std::size_t>& order = index.heaviest_first();
    for (std::size_t r = 0; r < order.size(); ++r) rank_[order[r]] = r;
    for (std::size_t f = 0; f < index.field_count(); ++f) {
        const join::KeyGroups& keys = index.field(f).keys();
        lengths_[f].resize(keys.count());
        for (std::size_t g = 0; g < keys.length_count(); ++g)
            std::fill(lengths_[f].begin() + keys.first_key_of_length(g), lengths_[f].begin() + keys.first_key_of_length(g + 1),
                      keys.length_at(g));
    }
    for (const std::size_t f : order) {
        if (!cutoffs_.drives(f)) continue;
        drivers_.push_back(f);
        joins_.emplace_back();
    }
}

void RecordSelfJoin::build(std::size_t join) {
    const std::size_t f = drivers_[join];
    joins_[join] = std::make_unique<join::SelfJoin>(index_.field(f).keys(), cutoffs_.cutoff(f));
}

// At least the field's score for rows i and j, from their keys' lengths and how many
// trigram elements their signatures leave them to share.
double RecordSelfJoin::ceiling(std::size_t field, std::uint32_t i, std::uint32_t j) const {
    using matching::ScoreBound;
    const std::uint32_t a = index_.key(field, i), b = index_.key(field, j);
    if (a == b) return 1.0;
    const std::size_t n = lengths_[field][a], m = lengths_[field][b];
    std::size_t shared = ScoreBound::kUnknownShared;
    if (n >= 3 && m >= 3) {
        const join::TrigramPostings& postings = index_.field(field).postings();
        const std::uint64_t sa = postings.signature(a), sb = postings.signature(b);
        shared = std::min(n - 2 - static_cast<std::size_t>(std::popcount(sa & ~sb)),
                          m - 2 - static_cast<std::size_t>(std::popcount(sb & ~sa)));
    }
    return ScoreBound::length_bound(n, m, shared);
}

void RecordSelfJoin::probe(std::size_t probe, RecordPairSink& sink, FieldTally* tally) const {
    const std::size_t pass = probe / index_.size();
    const auto row = static_cast<std::uint32_t>(probe % index_.size());
    const join::SelfJoin& join = *joins_[pass];
    const std::uint32_t key = index_.key(drivers_[pass], row);
    if (key == join::KeyGroups::kNoKey || join.keys().first_row(key) != row) return;
    DriverPairs pairs(*this, drivers_[pass], join.keys(), sink);
    pairs.equal_keys(key);
    const std::size_t settled = join.probe(key, pairs);
    if (tally) pairs.report(*tally, settled);
}

void RecordPairs::found(std::uint32_t i, std::uint32_t j, double score) {
    budget_.add(1);
    const std::lock_guard guard(lock_);
    pairs_.push_back({i, j, score});
}

std::vector<join::Pair> RecordPairs::sorted() && {
    std::sort(pairs_.begin(), pairs_.end(),
              [](const join::Pair& x, const join::Pair& y) { return x.first != y.first ? x.first < y.first : x.second < y.second; });
    return std::move(pairs_);
}

std::vector<std::size_t> RecordClusters::labels() const {
    std::vector<std::size_t> labels(rows_);
    for (std::uint32_t row = 0; row < rows_; ++row) labels[row] = sets_.root(row);
    return labels;
}

}  // namespace pelgar::records
