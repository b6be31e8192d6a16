#include "records/driver_cutoffs.hpp"

#include <algorithm>
#include <unordered_set>

namespace pelgar::records {

DriverCutoffs::DriverCutoffs(const RecordIndex& index, double threshold, FieldMask fixed)
    : index_(index), threshold_(std::max(threshold, 0.0) - kCutoffMargin), fixed_(fixed) {
    cutoff_.fill(1.0);
    // Scores are at most 1.0: over a threshold above it (or NaN) nothing qualifies.
    if (!(threshold <= 1.0)) return;
    split_over(shared_sets(index.common_patterns()));
    std::vector<FieldMask> patterns = index.common_patterns();
    for (const Partition& part : index.rare_patterns()) patterns.push_back(part.mask);
    const std::vector<FieldMask> sets = shared_sets(patterns);
    cover(sets);
    cut_back(sets);
    for (std::size_t f = 0; f < index.field_count(); ++f) {
        const double ratio = share_[f] / index.rule(f).weight;
        if (drives(f)) cutoff_[f] = 1.0 - ratio - kCutoffMargin * (1.0 + ratio);
    }
}

std::vector<FieldMask> DriverCutoffs::shared_sets(const std::vector<FieldMask>& patterns) {
    std::unordered_set<FieldMask> seen;
    std::vector<FieldMask> sets;
    for (const FieldMask p : patterns)
        for (const FieldMask q : patterns)
            if ((p & q) != 0 && seen.insert(p & q).second) sets.push_back(p & q);
    std::sort(sets.begin(), sets.end());
    return sets;
}

double DriverCutoffs::shares(FieldMask fields) const {
    double sum = 0.0;
    for (std::size_t f = 0; f < index_.field_count(); ++f)
        if (has_field(fields, f)) sum += share_[f];
    return sum;
}

void DriverCutoffs::split_over(const std::vector<FieldMask>& sets) {
    for (const FieldMask shared : sets) {
        const FieldMask drivers = drivers_of(shared);
        if (drivers == 0) continue;
        const double drivers_weight = index_.weight_of(drivers);
        for (std::size_t d = 0; d < index_.field_count(); ++d)
            if (has_field(drivers, d)) share_[d] = std::max(share_[d], budget(shared) * index_.rule(d).weight / drivers_weight);
    }
}

void DriverCutoffs::cover(const std::vector<FieldMask>& sets) {
    for (const FieldMask shared : sets) {
        const FieldMask drivers = drivers_of(shared);
        const double shortfall = budget(shared) - shares(drivers);
        if (drivers == 0 || shortfall <= 0.0) continue;
        const auto heaviest = std::find_if(index_.heaviest_first().begin(), index_.heaviest_first().end(),
                                           [&](std::size_t f) { return has_field(drivers, f); });
        share_[*heaviest] += shortfall;
    }
}

void DriverCutoffs::cut_back(const std::vector<FieldMask>& sets) {
    const std::vector<std::size_t>& order = index_.heaviest_first();
    for (auto d = order.rbegin(); d != order.rend(); ++d) {
        if (!drives(*d)) continue;
        double needed = 0.0;
        for (const FieldMask shared : sets) {
            const FieldMask drivers = drivers_of(shared);
            if (has_field(drivers, *d))
                needed = std::max(needed, budget(shared) - shares(drivers & ~(FieldMask{1} << *d)));
        }
        share_[*d] = needed;
    }
}

}  // namespace pelgar::records
