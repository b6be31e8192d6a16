#include "records/record_join.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <span>

#include "matching/score_bound.hpp"
#include "measures/weighted_score.hpp"
#include "records/record_score.hpp"

namespace pelgar::records {

namespace {

// What the checks of a pair read of its rows, gathered once per row of the keys met:
// those rows lie all over the index, and each meets every row of the other key.
struct FieldView {
    std::uint32_t key;  // KeyGroups::kNoKey where the field is missing
    std::uint32_t length;
    std::uint64_t signature;
};

struct RowViews {
    std::vector<std::uint32_t> rows;
    std::vector<FieldMask> masks;
    std::vector<FieldView> fields;  // by row, then field

    // Two per thread: the rows of a probe key and of its partner.
    static std::array<RowViews, 2>& of_this_thread() {
        thread_local std::array<RowViews, 2> views;
        return views;
    }
};

// At least the field's score of two rows, from their keys' lengths and how many trigram
// elements their signatures leave them to share.
double field_ceiling(const FieldView& a, const FieldView& b) {
    using matching::ScoreBound;
    if (a.key == b.key) return 1.0;
    const std::size_t n = a.length, m = b.length;
    std::size_t shared = ScoreBound::kUnknownShared;
    if (n >= 3 && m >= 3)
        shared = std::min(n - 2 - static_cast<std::size_t>(std::popcount(a.signature & ~b.signature)),
                          m - 2 - static_cast<std::size_t>(std::popcount(b.signature & ~a.signature)));
    return ScoreBound::length_bound(n, m, shared);
}

}  // namespace

// The pairs of rows one probe of a driver's join brings, each scored on the other fields.
class DriverPairs final : public join::PairSink {
public:
    DriverPairs(const RecordSelfJoin& join, std::size_t driver, const join::KeyGroups& keys, RecordPairSink& sink)
        : join_(join), index_(join.index_), driver_(driver), keys_(keys), sink_(sink),
          views_(RowViews::of_this_thread()) {}

    void found(std::uint32_t key, std::uint32_t partner, double score) override {
        RowViews &left = gather(keys_.rows(key), views_[0]), &right = gather(keys_.rows(partner), views_[1]);
        for (std::size_t a = 0; a < left.rows.size(); ++a) {
            const auto after = std::upper_bound(right.rows.begin(), right.rows.end(), left.rows[a]);
            for (auto b = static_cast<std::size_t>(after - right.rows.begin()); b < right.rows.size(); ++b)
                consider(left, a, right, b, score);
        }
    }

    // Rows of one key score 1.0 with each other.
    void equal_keys(std::uint32_t key) {
        const RowViews& rows = gather(keys_.rows(key), views_[0]);
        for (std::size_t a = 0; a < rows.rows.size(); ++a)
            for (std::size_t b = a + 1; b < rows.rows.size(); ++b) consider(rows, a, rows, b, 1.0);
    }

    void report(FieldTally& tally, std::size_t settled) const {
        tally.add(driver_, settled);
        for (std::size_t f = 0; f < index_.field_count(); ++f) tally.add(f, scored_[f]);
        tally.add_rows(rows_scored_);
    }

private:
    RowViews& gather(std::span<const std::uint32_t> rows, RowViews& views) const {
        const std::size_t count = index_.field_count();
        views.rows.assign(rows.begin(), rows.end());
        views.masks.resize(rows.size());
        views.fields.resize(rows.size() * count);
        for (std::size_t r = 0; r < rows.size(); ++r) {
            views.masks[r] = index_.mask(rows[r]);
            for (std::size_t f = 0; f < count; ++f) {
                const std::uint32_t key = index_.key(f, rows[r]);
                views.fields[r * count + f] =
                    key == join::KeyGroups::kNoKey
                        ? FieldView{key, 0, 0}
                        : FieldView{key, join_.lengths_[f][key], index_.field(f).postings().signature(key)};
            }
        }
        return views;
    }

    double field_score(std::size_t field, const FieldView& a, const FieldView& b) {
        if (a.key == b.key) return 1.0;
        ++scored_[field];
        const join::KeyGroups& keys = index_.field(field).keys();
        return measures::weighted_score(keys.key(a.key), keys.key(b.key));
    }

    // Scores rows i < j (the a-th on the left, the b-th on the right) heaviest field first,
    // each unscored field bounded by its ceiling, until the bound falls below the threshold
    // or an earlier driver claims the pair.
    void consider(const RowViews& left, std::size_t a, const RowViews& right, std::size_t b, double driver_score) {
        const std::uint32_t i = left.rows[a], j = right.rows[b];
        if (sink_.skip(i, j)) return;
        const FieldMask shared = left.masks[a] & right.masks[b];
        const FieldView* row_i = left.fields.data() + a * index_.field_count();
        const FieldView* row_j = right.fields.data() + b * index_.field_count();
        std::array<double, kMaxFields> scores{}, ceilings{};
        const double total = index_.weight_of(shared);
        const double cut = (join_.threshold_ - kCutoffMargin) * total;
        double reached = index_.rule(driver_).weight * driver_score, rest = total - index_.rule(driver_).weight;
        // The ceilings first, heaviest first: most pairs fail on one or two of them.
        for (const std::size_t f : index_.heaviest_first()) {
            if (!has_field(shared, f) || f == driver_) continue;
            ceilings[f] = field_ceiling(row_i[f], row_j[f]);
            rest -= index_.rule(f).weight * (1.0 - ceilings[f]);
            if (reached + rest < cut) return;
        }
        scores[driver_] = driver_score;
        ++rows_scored_;
        for (const std::size_t f : index_.heaviest_first()) {
            if (!has_field(shared, f) || f == driver_) continue;
            if (reached + rest < cut) return;
            scores[f] = field_score(f, row_i[f], row_j[f]);
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
    std::array<RowViews, 2>& views_;
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
