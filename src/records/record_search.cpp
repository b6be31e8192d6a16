#include "records/record_search.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>

#include "join/best_rows.hpp"
#include "join/candidate_search.hpp"
#include "join/own_key.hpp"
#include "join/search_scratch.hpp"
#include "measures/weighted_score.hpp"
#include "records/key_scores.hpp"
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

// What one thread reuses from one search to the next.
struct RecordScratch {
    join::SeenKeys rows;
    std::array<KeyScores, kMaxFields> memo;  // by field
    std::u32string text;
    join::ElementScratch elements;

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

    // Every score comes from the groups.
    static constexpr bool kScoresAlone = false;
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

// Per field, what its driver search must reach as a multiple of the record's loss budget:
// a field that drives nothing has 0.
using Factors = std::array<double, kMaxFields>;

// One query's search: the plan of driver fields, their searches over the whole index and
// over the rows of each rare pattern, and the scoring of each row met.
//
// If a row scores at least c over the fields S present in both records, their losses
// w_f (1 - s_f) add up to at most (1 - c) W_S. Give each driver d of S (its heaviest
// selective fields) a factor f_d with sum(w_d f_d) >= W_S: then some driver must have
// s_d >= 1 - f_d (1 - c), or the losses of the drivers alone would exceed the budget. A
// driver's search of the whole index runs at its loosest factor over the common presence
// patterns and brings every row at or above that cutoff; a rare pattern whose shared
// weight these factors do not cover is searched again on its own rows at its own.
class Search {
public:
    Search(const RecordIndex& index, const RecordQuery& query, RowSink& sink, RecordScratch& scratch)
        : index_(index), query_(query), sink_(sink), scratch_(scratch) {}

    void run(FieldTally* tally) {
        if (std::isnan(sink_.cutoff()) || query_.mask == 0) return;
        for (std::size_t f = 0; f < index_.field_count(); ++f) scratch_.memo[f].clear();
        seeded_.fill(join::KeyGroups::kNoKey);
        scratch_.rows.prepare(index_.size());
        try {
            plan();
            seed();
            plan_alone_if_worth();
            for (const std::size_t d : index_.heaviest_first())
                if (factor_[d] != 0.0) {
                    search_driver(index_.field(d), nullptr, d, factor_[d]);
                    searched_ |= FieldMask{1} << d;
                }
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

    // What a driver's score must reach when its factor is `factor`.
    double cutoff_for(double factor) const {
        return 1.0 - factor * (1.0 - sink_.cutoff()) - kCutoffMargin * (1.0 + factor);
    }
    std::uint32_t first_row() const { return sink_.first_row(); }
    // The key of field d whose rows the seed brought, all of them (kNoKey if none).
    std::uint32_t seeded(std::size_t d) const { return seeded_[d]; }
    void prefetch_row(std::uint32_t row) const { index_.prefetch_row(row); }

    // A row a driver's search brings at or above the driver's cutoff: scored once.
    void driver_found(std::size_t d, std::uint32_t row, double score) {
        if (row < sink_.first_row() || !scratch_.rows.insert(row)) return;
        scratch_.memo[d].add(index_.key(d, row), score);
        if (sink_.wants(row)) score_row(row, d, score);
    }

private:
    FieldMask drivers_of(FieldMask shared) const { return index_.drivers_of(shared, kDriverFields); }

    // The factors of the drivers of the fields two records share, by weight: each
    // W_S / W_D. (A smaller share for the heaviest, whose search runs first, costs more in
    // the later searches than it saves.)
    Factors split(FieldMask shared) const {
        Factors factors{};
        const FieldMask drivers = drivers_of(shared);
        const double factor = index_.weight_of(shared) / index_.weight_of(drivers);
        for (std::size_t f = 0; f < index_.field_count(); ++f)
            if (has_field(drivers, f)) factors[f] = factor;
        return factors;
    }

    // Each driver's loosest factor over the common presence patterns; 0 for a field that
    // drives none.
    void plan() {
        factor_.fill(0.0);
        split_common_patterns(kMaxFields);
        cover_rare_patterns();
    }

    // Each driver's factor at least its loosest over the common patterns that lack field
    // `covered` (kMaxFields: over all of them).
    void split_common_patterns(std::size_t covered) {
        for (const FieldMask mask : index_.common_patterns()) {
            const FieldMask shared = query_.mask & mask;
            if (shared == 0 || (covered != kMaxFields && has_field(shared, covered))) continue;
            const Factors factors = split(shared);
            for (std::size_t d = 0; d < index_.field_count(); ++d) factor_[d] = std::max(factor_[d], factors[d]);
        }
    }

    // The heaviest driver, given the whole loss budget of every common pattern it is in,
    // drives those alone when its cutoff stays at 0.93 or more (once a seed has raised it):
    // the searches of lighter fields walk long lists for their small shares (a register of a
    // million: 12 % less time than three drivers, and 9 % more at 0.85). The patterns without
    // it keep their split.
    void plan_alone_if_worth() {
        constexpr double kLowest = 0.93;
        const std::size_t h = heaviest_driver();
        if (h == kMaxFields) return;
        const double alone = alone_factor(h);
        if (cutoff_for(alone) < kLowest) return;
        factor_.fill(0.0);
        factor_[h] = alone;
        split_common_patterns(h);
        cover_rare_patterns();
    }

    // The heaviest field with a search, kMaxFields if none.
    std::size_t heaviest_driver() const {
        for (const std::size_t d : index_.heaviest_first())
            if (factor_[d] != 0.0) return d;
        return kMaxFields;
    }

    // The factor that covers on its own every common pattern holding field h.
    double alone_factor(std::size_t h) const {
        double factor = 0.0;
        for (const FieldMask mask : index_.common_patterns()) {
            const FieldMask shared = query_.mask & mask;
            if (has_field(shared, h)) factor = std::max(factor, index_.weight_of(shared) / index_.rule(h).weight);
        }
        return factor;
    }

    // A rare pattern that the heaviest driver covers with a factor at most a tenth looser is
    // covered so: the searches of its own rows cost more than that (7 % of a complete query's
    // search over a register of a million, where a twentieth of each field is missing).
    void cover_rare_patterns() {
        constexpr double kMostLooser = 1.1;
        const std::size_t heaviest = heaviest_driver();
        if (heaviest == kMaxFields) return;
        double wanted = factor_[heaviest];
        for (const Partition& part : index_.rare_patterns()) {
            const FieldMask shared = query_.mask & part.mask;
            if (shared == 0 || !has_field(shared, heaviest) || covered(shared)) continue;
            double others = 0.0;
            for (std::size_t f = 0; f < index_.field_count(); ++f)
                if (has_field(shared, f) && f != heaviest) others += index_.rule(f).weight * factor_[f];
            // a hair over, so that covered() finds it covered whatever the rounding
            const double needed = (index_.weight_of(shared) - others) / index_.rule(heaviest).weight * (1.0 + 1e-12);
            if (needed <= factor_[heaviest] * kMostLooser) wanted = std::max(wanted, needed);
        }
        factor_[heaviest] = wanted;
    }

    // The rows that hold the query's own key of a driver field, scored before any search: a
    // key of few rows mostly picks out the record sought, and its score raises the cutoff
    // that every search then runs at.
    void seed() {
        constexpr std::size_t kMostRows = 8;
        const double before = sink_.cutoff();
        for (const std::size_t d : index_.heaviest_first()) {
            if (sink_.cutoff() > before) return;  // a seeded row has raised it
            const join::KeyGroups& keys = index_.field(d).keys();
            // a field whose keys hold many rows each (a date) is not worth the look
            if (factor_[d] == 0.0 || keys.row_count() > kMostRows / 2 * keys.count()) continue;
            const std::uint32_t key = join::own_key(keys, index_.field(d).postings(), query_.keys[d], scratch_.elements);
            if (key == join::KeyGroups::kNoKey || keys.rows(key).size() > kMostRows) continue;
            const double score = field_score(d, key);
            if (score < cutoff_for(factor_[d])) continue;
            for (const std::uint32_t row : keys.rows(key)) driver_found(d, row, score);
            seeded_[d] = key;
        }
    }

    // Whether the searches of the whole index already bring every row of these shared
    // fields that can reach the cutoff: their factors cover the shared weight.
    bool covered(FieldMask shared) const {
        double covering = 0.0;
        for (std::size_t f = 0; f < index_.field_count(); ++f)
            if (has_field(shared, f)) covering += index_.rule(f).weight * factor_[f];
        return covering >= index_.weight_of(shared);
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
        if (shared == 0 || part.rows.back() < sink_.first_row() || covered(shared)) return;
        const Factors factors = split(shared);
        for (const std::size_t d : index_.heaviest_first())
            if (factors[d] != 0.0) search_driver(*part.fields[d], &part.rows, d, factors[d]);
    }

    double field_score(std::size_t f, std::uint32_t key) {
        if (const double* known = scratch_.memo[f].find(key)) return *known;
        text::decode_utf8(index_.field(f).keys().key(key), scratch_.text);
        const double score = measures::weighted_score(query_.keys[f], scratch_.text);
        scratch_.memo[f].add(key, score);
        ++scored_[f];
        return score;
    }

    // Above any score of a field of a row that no finished search of the whole index
    // brought: such a search passes over no row at or above its driver's cutoff, which
    // only rises.
    double ceiling(std::size_t f) const { return has_field(searched_, f) ? std::min(1.0, cutoff_for(factor_[f])) : 1.0; }

    // Scores a row's fields (the known driver's is given) while the weighted bound, each
    // unscored field at its ceiling, can still reach the cutoff: first the fields of few
    // distinct keys, whose scores the memo mostly holds, then the others heaviest first.
    // The score itself is summed in field order.
    void score_row(std::uint32_t row, std::size_t known, double known_score) {
        const FieldMask shared = query_.mask & index_.mask(row);
        std::array<double, kMaxFields> scores{};
        scores[known] = known_score;
        const double total = index_.weight_of(shared);
        double reached = index_.rule(known).weight * known_score, rest = 0.0;
        for (const std::size_t f : index_.heaviest_first())
            if (has_field(shared, f) && f != known) rest += index_.rule(f).weight * ceiling(f);
        ++rows_scored_;
        for (const bool selective : {false, true}) {
            for (const std::size_t f : index_.heaviest_first()) {
                if (!has_field(shared, f) || f == known || index_.selective(f) != selective) continue;
                if (reached + rest < (sink_.cutoff() - kCutoffMargin) * total) return;
                const double weight = index_.rule(f).weight;
                scores[f] = field_score(f, index_.key(f, row));
                reached += weight * scores[f];
                rest -= weight * ceiling(f);
            }
        }
        RecordScore score;
        for (std::size_t f = 0; f < index_.field_count(); ++f)
            if (has_field(shared, f)) score.add(index_.rule(f).weight, scores[f]);
        if (score.score() >= sink_.cutoff()) sink_.take(row, score.score());
    }

    const RecordIndex& index_;
    const RecordQuery& query_;
    RowSink& sink_;
    RecordScratch& scratch_;
    std::array<double, kMaxFields> factor_{};
    FieldMask searched_ = 0;  // drivers whose search of the whole index has finished
    std::array<std::uint32_t, kMaxFields> seeded_{};  // by field, as seeded()
    std::array<std::size_t, kMaxFields> scored_{};
    std::size_t rows_scored_ = 0;
};

double DriverPolicy::cutoff() const { return search_.cutoff_for(factor_); }

// A key the seed brought is not met again in the search of the whole index.
bool DriverPolicy::admits(std::uint32_t key) const {
    return row(keys_.last_row(key)) >= search_.first_row() && (rows_ || key != search_.seeded(field_));
}

// The search scores some keys below its cutoff; their rows are left to other searches.
void DriverPolicy::take(std::uint32_t key, double score) {
    constexpr std::size_t kAhead = 4;
    if (score < cutoff()) return;
    const std::span<const std::uint32_t> rows = keys_.rows(key);
    for (std::size_t r = 0; r < std::min(kAhead, rows.size()); ++r) search_.prefetch_row(row(rows[r]));
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (r + kAhead < rows.size()) search_.prefetch_row(row(rows[r + kAhead]));
        search_.driver_found(field_, row(rows[r]), score);
    }
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
