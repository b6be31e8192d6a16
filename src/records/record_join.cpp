#include "records/record_join.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <map>
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

// The field's score of two of its keys.
double key_score(const RecordIndex& index, std::size_t field, std::uint32_t a, std::uint32_t b) {
    if (a == b) return 1.0;
    const join::KeyGroups& keys = index.field(field).keys();
    return measures::weighted_score(keys.key(a), keys.key(b));
}

// Rows of one key of a driver beyond which a nested join costs less than scoring every pair.
constexpr std::size_t kNestedRows = 128;

}  // namespace

// The pairs of rows one probe of a driver's join brings, each scored on the other fields.
class DriverPairs final : public join::PairSink {
public:
    DriverPairs(const RecordSelfJoin& join, std::size_t driver, const join::KeyGroups& keys, RecordPairSink& sink)
        : join_(join), index_(join.index_), driver_(driver), keys_(keys), sink_(sink),
          views_(RowViews::of_this_thread()) {}

    void found(std::uint32_t key, std::uint32_t partner, double score) override {
        RowViews &left = gather(keys_.rows(key), views_[0]), &right = gather(keys_.rows(partner), views_[1]);
        if (!reachable(left, right, score)) return;
        // Once the partner's rows are one cluster, a row joined to one of them needs none of
        // their pairs: two big groups of alike keys cost their rows, not their product.
        // Checking costs what one row's pairs cost, so it is redone for each row until true;
        // the partner's rows after a row only shrink as the rows go on.
        const bool skips = sink_.skips_joined();
        bool tail_joined = false;
        for (std::size_t a = 0; a < left.rows.size(); ++a) {
            const auto after = static_cast<std::size_t>(
                std::upper_bound(right.rows.begin(), right.rows.end(), left.rows[a]) - right.rows.begin());
            if (after == right.rows.size()) break;
            const std::span<const std::uint32_t> tail = std::span<const std::uint32_t>(right.rows).subspan(after);
            if (skips && !tail_joined) tail_joined = sink_.joined(tail);
            if (tail_joined && sink_.skip(left.rows[a], tail[0])) continue;
            for (auto b = after; b < right.rows.size(); ++b) consider(left, a, right, b, score);
        }
    }

    // Rows of one key score 1.0 with each other.
    void equal_keys(std::uint32_t key) {
        if (keys_.rows(key).size() >= kNestedRows) return join_.join_alike(driver_, keys_.rows(key), sink_);
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

    // Whether any two rows of the keys could reach the threshold, their other fields all
    // scoring 1.0: the record score only grows with each field's, bit for bit.
    bool reachable(const RowViews& left, const RowViews& right, double driver_score) const {
        constexpr std::size_t kMostPatterns = 16, kFewestPairs = 64;
        if (left.rows.size() * right.rows.size() < kFewestPairs) return true;  // the pairs' own checks cost less
        std::vector<FieldMask> left_masks = distinct(left.masks), right_masks = distinct(right.masks);
        if (left_masks.size() > kMostPatterns || right_masks.size() > kMostPatterns) return true;
        for (const FieldMask l : left_masks)
            for (const FieldMask r : right_masks) {
                RecordScore best;
                for (std::size_t f = 0; f < index_.field_count(); ++f)
                    if (has_field(l & r, f)) best.add(index_.rule(f).weight, f == driver_ ? driver_score : 1.0);
                if (best.score() >= join_.threshold_) return true;
            }
        return false;
    }

    static std::vector<FieldMask> distinct(std::vector<FieldMask> masks) {
        std::sort(masks.begin(), masks.end());
        masks.erase(std::unique(masks.begin(), masks.end()), masks.end());
        return masks;
    }

    double field_score(std::size_t field, const FieldView& a, const FieldView& b) {
        if (a.key != b.key) ++scored_[field];
        return key_score(index_, field, a.key, b.key);
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
    bool claimed(std::size_t field, double score) const { return join_.brings_before(field, driver_, score); }

    const RecordSelfJoin& join_;
    const RecordIndex& index_;
    std::size_t driver_;
    const join::KeyGroups& keys_;
    RecordPairSink& sink_;
    std::array<std::size_t, kMaxFields> scored_{};
    std::size_t rows_scored_ = 0;
    std::array<RowViews, 2>& views_;
};

// The pairs a nested join finds among the rows of one key of a driver, passed on in the
// outer join's rows, less those an outer driver before that one brings.
class NestedPairs final : public RecordPairSink {
public:
    NestedPairs(const RecordSelfJoin& outer, std::size_t driver, std::span<const std::uint32_t> rows, RecordPairSink& sink)
        : outer_(outer), driver_(driver), rows_(rows), sink_(sink) {}

    bool skip(std::uint32_t i, std::uint32_t j) override { return sink_.skip(rows_[i], rows_[j]); }
    bool skips_joined() const override { return sink_.skips_joined(); }
    bool joined(std::span<const std::uint32_t> rows) override { return sink_.joined(outer_rows(rows)); }
    void found(std::uint32_t i, std::uint32_t j, double score) override {
        if (!outer_.claimed_before(driver_, rows_[i], rows_[j])) sink_.found(rows_[i], rows_[j], score);
    }
    // Pairs that share the fixed fields alone: an outer driver claims all of them or none.
    void alike(std::span<const std::uint32_t> a, std::span<const std::uint32_t> b) override {
        if (a.empty() || b.empty() || (a.data() == b.data() && a.size() < 2)) return;
        const std::uint32_t first = a[0], second = a.data() == b.data() ? a[1] : b[0];
        if (outer_.claimed_before(driver_, rows_[first], rows_[second])) return;
        std::vector<std::uint32_t> outer_a = outer_rows(a);
        if (a.data() == b.data()) return sink_.alike(outer_a, outer_a);
        sink_.alike(outer_a, outer_rows(b));
    }

private:
    std::vector<std::uint32_t> outer_rows(std::span<const std::uint32_t> rows) const {
        std::vector<std::uint32_t> outer(rows.size());
        for (std::size_t r = 0; r < rows.size(); ++r) outer[r] = rows_[rows[r]];
        return outer;
    }

    const RecordSelfJoin& outer_;
    std::size_t driver_;
    std::span<const std::uint32_t> rows_;
    RecordPairSink& sink_;
};

void RecordPairSink::alike(std::span<const std::uint32_t> a, std::span<const std::uint32_t> b) {
    const bool same = a.data() == b.data();
    for (std::size_t x = 0; x < a.size(); ++x)
        for (std::size_t y = same ? x + 1 : 0; y < b.size(); ++y) {
            const std::uint32_t i = std::min(a[x], b[y]), j = std::max(a[x], b[y]);
            if (!skip(i, j)) found(i, j, 1.0);
        }
}

RecordSelfJoin::RecordSelfJoin(const RecordIndex& index, double threshold, FieldMask fixed)
    : index_(index), threshold_(threshold), fixed_(fixed), cutoffs_(index, threshold, fixed), rank_(index.field_count()), lengths_(index.field_count()) {
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

void RecordSelfJoin::join_alike(std::size_t driver, std::span<const std::uint32_t> rows, RecordPairSink& sink) const {
    // Rows that also share one key of a driver before this one are all that driver's pairs.
    for (const std::size_t f : index_.heaviest_first()) {
        if (rank_[f] >= rank_[driver]) break;
        const std::uint32_t key = index_.key(f, rows[0]);
        if (cutoffs_.drives(f) && key != join::KeyGroups::kNoKey &&
            std::all_of(rows.begin(), rows.end(), [&](std::uint32_t row) { return index_.key(f, row) == key; }))
            return;
    }
    std::vector<FieldRule> rules;
    std::vector<join::PreparedTexts> columns(index_.field_count());
    for (std::size_t f = 0; f < index_.field_count(); ++f) {
        rules.push_back(index_.rule(f));
        const join::KeyGroups& keys = index_.field(f).keys();
        columns[f].reserve(rows.size());
        for (const std::uint32_t row : rows) {
            const std::uint32_t key = index_.key(f, row);
            if (key == join::KeyGroups::kNoKey) columns[f].add_missing(); else columns[f].add_key(keys.key(key));
        }
    }
    const RecordIndex nested_index(std::move(rules), columns);
    RecordSelfJoin nested(nested_index, threshold_, fixed_ | FieldMask{1} << driver);
    for (std::size_t j = 0; j < nested.joins(); ++j) nested.build(j);
    NestedPairs pairs(*this, driver, rows, sink);
    for (std::size_t p = 0; p < nested.probes(); ++p) nested.probe(p, pairs, nullptr);
    nested.alike_pairs(pairs);
}

void RecordSelfJoin::alike_pairs(RecordPairSink& sink) const {
    if (fixed_ == 0 || !(1.0 >= threshold_)) return;
    // Rows by the fields they hold beyond the fixed ones; rows of disjoint such sets share
    // the fixed fields alone.
    std::map<FieldMask, std::vector<std::uint32_t>> by_free;
    for (std::uint32_t row = 0; row < index_.size(); ++row) by_free[index_.mask(row) & ~fixed_].push_back(row);
    for (auto a = by_free.begin(); a != by_free.end(); ++a)
        for (auto b = a; b != by_free.end(); ++b)
            if ((a->first & b->first) == 0) sink.alike(a->second, b->second);
}

bool RecordSelfJoin::claimed_before(std::size_t driver, std::uint32_t i, std::uint32_t j) const {
    const FieldMask shared = index_.mask(i) & index_.mask(j);
    for (const std::size_t f : index_.heaviest_first()) {
        if (rank_[f] >= rank_[driver]) break;
        if (has_field(shared, f) && cutoffs_.drives(f) &&
            brings_before(f, driver, key_score(index_, f, index_.key(f, i), index_.key(f, j))))
            return true;
    }
    return false;
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

void RecordClusters::alike(std::span<const std::uint32_t> a, std::span<const std::uint32_t> b) {
    if (a.empty() || b.empty()) return;
    for (const std::uint32_t row : a) sets_.unite(a[0], row);
    for (const std::uint32_t row : b) sets_.unite(a[0], row);
}

bool RecordClusters::joined(std::span<const std::uint32_t> rows) {
    return std::all_of(rows.begin(), rows.end(), [&](std::uint32_t row) { return sets_.root(row) == sets_.root(rows[0]); });
}

std::vector<std::size_t> RecordClusters::labels() const {
    std::vector<std::size_t> labels(rows_);
    for (std::uint32_t row = 0; row < rows_; ++row) labels[row] = sets_.root(row);
    return labels;
}

}  // namespace pelgar::records
