#pragma once

namespace pelgar::records {

// Far above the rounding of any sum of weights and scores, far below any gap that
// matters: cutoffs derived from a record cutoff are lowered by it, so that they only
// ever let more through.
constexpr double kCutoffMargin = 1e-9;

// The score of two records: sum(w * s) / sum(w) over the fields present in both, each
// field added in field order, all in doubles. Every layer scores records through this, so
// that they all give the same bits.
class RecordScore {
public:
    void add(double weight, double field_score) {
        total_ += weight * field_score;
        weight_sum_ += weight;
        any_ = true;
    }
    // False when the records share no present field: they have no score and never match.
    bool any() const { return any_; }
    double score() const { return total_ / weight_sum_; }

private:
    double total_ = 0.0;
    double weight_sum_ = 0.0;
    bool any_ = false;
};

}  // namespace pelgar::records
