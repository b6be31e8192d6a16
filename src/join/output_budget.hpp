#pragma once

#include <atomic>
#include <cstddef>
#include <exception>

namespace pelgar::join {

// Thrown when a result grows past what the process can hold; carries what was found so far.
class OutputTooLarge : public std::exception {
public:
    explicit OutputTooLarge(std::size_t found) noexcept : found_(found) {}
    const char* what() const noexcept override { return "the result would not fit in memory"; }
    std::size_t found() const noexcept { return found_; }

private:
    std::size_t found_;
};

// A count of result entries shared by the workers of one run, with the most that fit.
class OutputBudget {
public:
    explicit OutputBudget(std::size_t limit) noexcept : limit_(limit) {}

    // Counts `entries` more; throws OutputTooLarge once the count passes the limit.
    void add(std::size_t entries) {
        const std::size_t now = count_.fetch_add(entries, std::memory_order_relaxed) + entries;
        if (now > limit_) throw OutputTooLarge(now);
    }
    std::size_t count() const noexcept { return count_.load(std::memory_order_relaxed); }

private:
    std::size_t limit_;
    std::atomic<std::size_t> count_{0};
};

}  // namespace pelgar::join
