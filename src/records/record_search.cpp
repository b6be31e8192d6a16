#include "records/record_search.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <unordered_map>

#include "join/best_rows.hpp"
#include "join/candidate_search.hpp"
#include "join/search_scratch.hpp"
#include "measures/weighted_score.hpp"
#include "records/record_score.hpp"
#include "text/utf8.hpp"

namespace pelgar::records {

std::vector<std::size_t> FieldTally::scored() const {
    std::vector<std::size_t> counts(fields_);
    for (std::size_t f = 0; f < fields_; ++f) counts[f] = scored_[f].load(std::memory_order_relaxed);
    return counts;
}

RecordQuery query_of_row(const RecordIndex& index, std::size_t row) {
    RecordQuery query;
    query.keys.resize(index.field_count());
    for (std::size_t f = 0; f < index.field_count(); ++f) {
        const std::uint32_t key = index.key(f, row);
        if (key == join::KeyGroups::kNoKey) continue;
        query.keys[f] = text::decode_utf8(index.field(f).keys().key(key));
        query.mask |= FieldMask{1} << f;
    }
    return query;
}

namespace {

// Far above the rounding of any sum of weights and scores here, far below any gap that
// matters: derived cutoffs are lowered by it, so that they only ever let more through.
constexpr double kMargin = 1e-9;
// Searches by more fields split the loss budget finer but each costs a search.
constexpr std::size_t kDrivers = 3;

bool has(FieldMask mask, std::size_t field) { return (mask >> field) & 1; }

// What one thread reuses from one search to the next.
struct RecordScratch {
    join::SeenKeys rows;
    std::array<std::unordered_map<std::uint32_t, double>, kMaxFields> memo;  // by field: key -> score
    std::u32string text;

    static RecordScratch& of_this_thread() {
        thread_local RecordScratch scratch;
        return scratch;
    }
};

class Search;

// The single-field search of a driver field, over the whole index or over the rows of a
// rare pattern (`rows` then maps its rows to the index's), at the cutoff the record cutoff
// implies for the rows it covers.
class DriverPolicy {
public:
    DriverPolicy(Search& search, const join::KeyGroups& keys, const std::vector<std::uint32_t>* rows,
                 std::size_t field, double factor)
        : search_(search), keys_(keys), rows_(rows), field_(field), factor_(factor) {}

    std::uint32_t first_key() const { return 0; }
    double cutoff() const;
    void prefetch(std::uint32_t key) const { keys_.prefetch_rows(key); }
    bool admits(std::uint32_t key) const;
    bool score_query_first(std::uint32_t, std::u32string_view) const { return true; }
    void take(std::uint32_t key, double score);

private:
    std::uint32_t row(std::uint32_t local) const { return rows_ ? (*rows_)[local] : local; }

    Search& search_;
    const join::KeyGroups& keys_;
    const std::vector<std::uint32_t>* rows_;
    std::size_t field_;
    double factor_;
};

// One query's search: the plan of driver fields, their searches over the whole index and
// over the rows of each rare pattern, and the scoring of each row met.
//
// If a row scores at least c over the fields S present in both records, their losses
// w_f (1 - s_f) add up to at most (1 - c) W_S. The drivers D of S are its heaviest
// selective fields; share the budget among them by weight: some driver d must have
// s_d >= 1 - (1 - c) W_S / W_D. A driver's search of the whole index runs at the loosest
// of these cutoffs over the common presence patterns, and each row it brings is held to
// its own; a rare pattern's rows are searched again on their own at theirs.
class Search {
public:
    Search(const RecordIndex& index, const RecordQuery& query, RowSink& sink, RecordScratch& scratch)
        : index_(index), query_(query), sink_(sink), scratch_(scratch) {}

    void run(FieldTally* tally) {
        if (std::isnan(sink_.cutoff()) || query_.mask == 0) return;
        for (std::size_t f = 0; f < index_.field_count(); ++f) scratch_.memo[f].clear();
        scratch_.rows.prepare(index_.size());
        try {
            plan();
            for (const std::size_t d : index_.heaviest_first())
                if (factor_[d] != 0.0) search_driver(index_.field(d), nullptr, d, factor_[d]);
            for (const Partition& part : index_.rare_patterns()) search_partition(part);
        } catch (...) {
            scratch_.rows.clear();
            throw;
        }
        scratch_.rows.clear();
        if (!tally) return;
        for (std::size_t f = 0; f < index_.field_count(); ++f) tally->add(f, scored_[f]);
        tally->add_rows(rows_scored_);
    }

    // What a driver's score must reach for a row whose shared weight is `factor` times its
    // drivers' weight.
    double cutoff_for(double factor) const {
        return 1.0 - factor * (1.0 - sink_.cutoff()) - kMargin * (1.0 + factor);
    }
    std::uint32_t first_row() const { return sink_.first_row(); }

    // A row a driver reaches is scored when the driver is one of the row's and its score
    // reaches what the row's presence pattern asks of it; otherwise another driver of the
    // row (or the search of its rare pattern) brings it if anything does.
    void driver_found(std::size_t d, std::uint32_t row, double score) {
        if (row < sink_.first_row() || scratch_.rows.contains(row)) return;
        const FieldMask shared = query_.mask & index_.mask(row);
        const FieldMask drivers = drivers_of(shared);
        if (!has(drivers, d) || score < cutoff_for(weight_sum(shared) / weight_sum(drivers))) return;
        scratch_.rows.insert(row);
        scratch_.memo[d].emplace(index_.key(d, row), score);
        if (sink_.wants(row)) score_row(row, d, score);
    }

private:
    double weight_sum(FieldMask mask) const {
        double sum = 0.0;
        for (std::size_t f = 0; f < index_.field_count(); ++f)
            if (has(mask, f)) sum += index_.rule(f).weight;
        return sum;
    }

    FieldMask drivers_of(FieldMask shared) const { return index_.drivers_of(shared, kDrivers); }

    // Each driver's loosest factor over the common presence patterns; 0 for a field that
    // drives none.
    void plan() {
        factor_.fill(0.0);
        for (const FieldMask mask : index_.common_patterns()) {
            const FieldMask shared = query_.mask & mask;
            if (shared == 0) continue;
            const FieldMask drivers = drivers_of(shared);
            const double factor = weight_sum(shared) / weight_sum(drivers);
            for (std::size_t d = 0; d < index_.field_count(); ++d)
                if (has(drivers, d)) factor_[d] = std::max(factor_[d], factor);
        }
    }

    void search_driver(const join::CandidateIndex& field, const std::vector<std::uint32_t>* rows, std::size_t d,
                       double factor) {
        DriverPolicy policy(*this, field.keys(), rows, d, factor);
        scored_[d] += join::CandidateSearch<DriverPolicy>(field.keys(), field.postings(), query_.keys[d],
                                                          join::SearchScratch::of_this_thread(), policy)
                          .run();
    }

    void search_partition(const Partition& part) {
        const FieldMask shared = query_.mask & part.mask;
        if (shared == 0 || part.rows.back() < sink_.first_row()) return;
        const FieldMask drivers = drivers_of(shared);
        const double factor = weight_sum(shared) / weight_sum(drivers);
        for (const std::size_t d : index_.heaviest_first())
            if (has(drivers, d)) search_driver(*part.fields[d], &part.rows, d, factor);
    }

    double field_score(std::size_t f, std::uint32_t key) {
        auto [place, fresh] = scratch_.memo[f].try_emplace(key, 0.0);
        if (fresh) {
            text::decode_utf8(index_.field(f).keys().key(key), scratch_.text);
            place->second = measures::weighted_score(query_.keys[f], scratch_.text);
            ++scored_[f];
        }
        return place->second;
    }

    // Scores the row's fields heaviest first (the known driver's is given), each unscored
    // one bounded by 1.0, stopping
    // once the bound falls below the cutoff; the score itself is summed in field order.
    void score_row(std::uint32_t row, std::size_t known, double known_score) {
        const FieldMask shared = query_.mask & index_.mask(row);
        if (shared == 0) return;
        std::array<double, kMaxFields> scores{};
        double total = 0.0;
        for (const std::size_t f : index_.heaviest_first())
            if (has(shared, f)) total += index_.rule(f).weight;
        scores[known] = known_score;
        double reached = index_.rule(known).weight * known_score, rest = total - index_.rule(known).weight;
        ++rows_scored_;
        for (const std::size_t f : index_.heaviest_first()) {
            if (!has(shared, f) || f == known) continue;
            if (reached + rest < (sink_.cutoff() - kMargin) * total) return;
            const double weight = index_.rule(f).weight;
            scores[f] = field_score(f, index_.key(f, row));
            reached += weight * scores[f];
            rest -= weight;
        }
        RecordScore score;
        for (std::size_t f = 0; f < index_.field_count(); ++f)
            if (has(shared, f)) score.add(index_.rule(f).weight, scores[f]);
        if (score.score() >= sink_.cutoff()) sink_.take(row, score.score());
    }

    const RecordIndex& index_;
    const RecordQuery& query_;
    RowSink& sink_;
    RecordScratch& scratch_;
    std::array<double, kMaxFields> factor_{};
    std::array<std::size_t, kMaxFields> scored_{};
    std::size_t rows_scored_ = 0;
};

double DriverPolicy::cutoff() const { return search_.cutoff_for(factor_); }

bool DriverPolicy::admits(std::uint32_t key) const { return row(keys_.last_row(key)) >= search_.first_row(); }

// The search scores some keys below its cutoff; their rows are left to other searches.
void DriverPolicy::take(std::uint32_t key, double score) {
    if (score < cutoff()) return;
    for (const std::uint32_t local : keys_.rows(key)) search_.driver_found(field_, row(local), score);
}

// A query's best list over rows.
class BestSink final : public RowSink {
public:
    BestSink(std::size_t k, double threshold) : best_(k, threshold) {}
    double cutoff() const override { return best_.cutoff(); }
    void take(std::uint32_t row, double score) override { best_.offer({row, score}); }
    std::vector<matching::Match> sorted() && { return std::move(best_).sorted(); }

private:
    join::BestRows best_;
};

}  // namespace

void search_record(const RecordIndex& index, const RecordQuery& query, RowSink& sink, FieldTally* tally) {
    Search(index, query, sink, RecordScratch::of_this_thread()).run(tally);
}

std::vector<matching::Match> record_top_k(const RecordIndex& index, const RecordQuery& query, std::size_t k,
                                          double threshold, FieldTally* tally) {
    if (k == 0 || std::isnan(threshold)) return {};
    BestSink best(k, threshold);
    search_record(index, query, best, tally);
    return std::move(best).sorted();
}

}  // namespace pelgar::records
