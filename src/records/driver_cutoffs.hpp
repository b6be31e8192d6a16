#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "records/record_index.hpp"
#include "records/record_score.hpp"

namespace pelgar::records {

// The cutoff each driver field of a record self-join is joined at.
//
// Two records that share the fields S and reach the cutoff c lose at most (1 - c) W_S
// over S, summed as w_f (1 - s_f). Give each driver field d a share b_d of loss: if the
// shares of S's drivers add up to that budget, some driver d of S scores at least
// 1 - b_d / w_d, or the losses would exceed it. The shares are set so that every set of
// fields two rows of the index share is covered: first split by weight over the common
// presence patterns, then any shortfall of a rarer set given to its heaviest driver, then
// each driver, lightest first, cut back to what the sets it serves still need. Fixed
// fields hold one key in every row: they lose nothing, drive nothing, and a set of fixed
// fields alone needs no driver (its pairs all score 1.0).
class DriverCutoffs {
public:
    DriverCutoffs(const RecordIndex& index, double threshold, FieldMask fixed = 0);

    // Whether the field is joined at all.
    bool drives(std::size_t field) const noexcept { return share_[field] > 0.0; }
    // What the field's score must reach for its join to bring a pair.
    double cutoff(std::size_t field) const noexcept { return cutoff_[field]; }

private:
    // The sets of fields two rows share, each once.
    static std::vector<FieldMask> shared_sets(const std::vector<FieldMask>& patterns);
    // The drivers of a shared set: none when it holds fixed fields alone.
    FieldMask drivers_of(FieldMask shared) const {
        return (shared & ~fixed_) == 0 ? 0 : index_.drivers_of(shared & ~fixed_, kDriverFields);
    }
    double budget(FieldMask shared) const { return (1.0 - threshold_) * index_.weight_of(shared); }
    double shares(FieldMask fields) const;
    void split_over(const std::vector<FieldMask>& sets);
    void cover(const std::vector<FieldMask>& sets);
    void cut_back(const std::vector<FieldMask>& sets);

    const RecordIndex& index_;
    double threshold_;  // the record cutoff less a margin, at least 0 less the margin
    FieldMask fixed_;
    std::array<double, kMaxFields> share_{};
    std::array<double, kMaxFields> cutoff_{};
};

}  // namespace pelgar::records
