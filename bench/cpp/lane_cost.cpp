// The grouped kernel's cost per pair, for each build this processor runs and each lane
// width: one query against full blocks of near-duplicates of it (one or two characters
// substituted), all of the width's longest length and of a typical one, timed in turns, in
// processor time of the thread.
// Usage: lane_cost [milliseconds per measurement [build [length]]]; prints one JSON object
// per line; a build or a length narrows the run to it.
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "measures/lanes/candidate_group.hpp"
#include "measures/weighted_score.hpp"

namespace {

using namespace pelgar;

// This thread's processor time, so that other work on the machine counts less.
struct Clock {
    using duration = std::chrono::nanoseconds;
    using time_point = std::chrono::time_point<Clock, duration>;
    static time_point now() {
        timespec t;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return time_point(duration(std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec));
    }
};

std::u32string name_of_length(std::size_t length, std::mt19937_64& rng) {
    static const std::u32string letters = U"abcdefghijklmnopqrstuvwxyz    ";
    std::u32string text(length, U'a');
    for (char32_t& c : text) c = letters[rng() % letters.size()];
    text.front() = U'k';
    text.back() = U'z';
    return text;
}

std::u32string substituted(std::u32string text, std::mt19937_64& rng) {
    for (std::size_t e = 1 + rng() % 2; e > 0; --e) text[rng() % text.size()] = U"qwertyuiop"[rng() % 10];
    return text;
}

// Nanoseconds per pair of one build's kernel of one width, over about `budget`: blocks of
// candidates stored in codes at their own stride, scored where they lie, as a batch does.
double ns_per_pair(const measures::ShortQuery& query, const measures::lanes::LaneKernels& kernels, std::size_t width,
                   std::size_t length, const std::vector<std::uint8_t>& codes, Clock::duration budget) {
    const measures::CandidateGroup group(query.lane_query(), width, kernels.by_width[width]);
    const std::size_t block_bytes = group.capacity() * measures::lanes::stride_for(length);
    const std::size_t blocks = codes.size() / block_bytes;
    double scores[measures::CandidateGroup::kMaxLanes];
    double sink = 0.0;
    long pairs = 0;
    std::size_t next = 0;
    const Clock::time_point start = Clock::now();
    Clock::time_point now = start;
    while (now - start < budget) {
        for (int round = 0; round < 64; ++round) {
            group.score_codes(codes.data() + next * block_bytes, length, scores);
            next = next + 1 == blocks ? 0 : next + 1;
            sink += scores[0];
            pairs += static_cast<long>(group.capacity());
        }
        now = Clock::now();
    }
    if (sink < 0) std::printf("impossible\n");
    return std::chrono::duration<double, std::nano>(now - start).count() / static_cast<double>(pairs);
}

}  // namespace

int main(int argc, char** argv) {
    const auto budget = std::chrono::milliseconds(argc > 1 ? std::atol(argv[1]) : 200);
    std::vector<measures::lanes::LaneKernels> builds = measures::lanes::runnable_lane_kernels();
    if (argc > 2)
        std::erase_if(builds, [&](const measures::lanes::LaneKernels& k) { return std::string(k.name) != argv[2]; });
    const std::size_t only_length = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 0;
    std::mt19937_64 rng(20);
    const std::size_t lengths[] = {8, 10, 16, 17, 32, 38, 64};
    for (const std::size_t length : lengths) {
        if (only_length != 0 && length != only_length) continue;
        const std::u32string name = name_of_length(length, rng);
        const std::u32string query = substituted(name, rng);
        const measures::ShortQuery prepared(query, measures::ShortQuery::Use::kManyCandidates);
        // 512 candidates written as the query's rows, each padded to its stride.
        const std::size_t stride = measures::lanes::stride_for(length);
        std::vector<std::uint8_t> codes(512 * stride, 0);
        for (std::size_t i = 0; i < 512; ++i) {
            const std::u32string candidate = substituted(name, rng);
            for (std::size_t k = 0; k < candidate.size(); ++k) codes[i * stride + k] = prepared.row_of(candidate[k]);
        }
        const std::size_t width = measures::lanes::width_for(length, length);
        // Three turns over the builds; the fastest of each counts.
        std::vector<double> best(builds.size(), 1e300);
        for (int turn = 0; turn < 3; ++turn)
            for (std::size_t b = 0; b < builds.size(); ++b)
                best[b] = std::min(best[b], ns_per_pair(prepared, builds[b], width, length, codes, budget));
        for (std::size_t b = 0; b < builds.size(); ++b)
            std::printf("{\"build\": \"%s\", \"width\": %zu, \"length\": %zu, \"ns_per_pair\": %.3f}\n", builds[b].name,
                        measures::lanes::kWidthBits[width], length, best[b]);
    }
    return 0;
}
