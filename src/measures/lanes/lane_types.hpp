#pragma once

#include <cstddef>
#include <cstdint>

// What the vectorised merged pass reads and writes: plain data only, since the files that
// include this are built for different instruction sets and must share no inline code.
namespace pelgar::measures::lanes {

// The longest query and candidate of the merged pass, one bit each in a lane of 64.
inline constexpr std::size_t kMaxLength = 64;

// Lane widths in bits, narrowest first. A pair takes the narrowest lanes that hold the
// longer of its two texts, so that a vector holds as many candidates as can be.
inline constexpr std::size_t kWidthCount = 4;
inline constexpr std::size_t kWidthBits[kWidthCount] = {8, 16, 32, 64};

// A block is the unit of one call of a kernel: lanes of one width side by side, 512 bits
// of them whatever the instruction set (64 candidates of 8 bits down to 8 of 64 bits).
// Its candidates take one byte per character: 512 bytes in all.
inline constexpr std::size_t kBlockBits = 512;
inline constexpr std::size_t kBlockCodes = kBlockBits;

// The quotients of the combined score for texts of up to kMaxLength characters, each
// computed once by the very expression that the one-pair score would evaluate, so that a
// lookup gives the same bits as the division. Both the one-pair and the vectorised pass
// read them.
struct ScoreQuotients {
    static constexpr std::size_t kLengths = kMaxLength + 1;
    static constexpr std::size_t kSums = 2 * kMaxLength - 3;
    static constexpr std::size_t kCommon = kMaxLength - 1;
    double edit[kLengths][kLengths];           // [L][d]: (1.0 - d / L) * 0.35, 1 <= L
    double dice[kSums][kCommon];               // [n_a + n_b][common]: the trigrams' Dice coefficient
    double transposition[kLengths][kLengths];  // [M][X]: (X * -0.5 + M) / M, 1 <= M
    double ratio[kLengths][kLengths];          // [length][M]: M / length, 1 <= length
};

// The characters of a block's candidates and of the query are small codes, equal exactly
// when the characters are equal. 0 pads a candidate to its lane's width and stands for no
// character; a query character that no candidate of the block can hold has a code that
// none of them has.
struct LaneQuery {
    std::size_t length;            // 1 to kMaxLength
    const std::uint8_t* rows;      // rows[j]: 1 + the place of query character j among the distinct ones
    std::size_t distinct;          // distinct characters in the query
    const std::uint8_t* codes;     // codes[r]: the code of the distinct character of row r, never 0
    // By candidate length m (0 to kMaxLength), for this query's length:
    const std::uint64_t* window;   // positions 0 to the match window: the window of query position 0
    const std::uint64_t* growing;  // bit j set while the window's lower end stays at 0 after position j
    const std::uint64_t* within;   // the m positions of the candidate
    bool distinct_trigrams;        // no trigram occurs twice in the query
    const ScoreQuotients* quotients;
};

// A block's mask rows made in advance, for a block that many queries score where it lies:
// for each code, its row of kBlockCodes / 8 bytes (bit b set where code b of the block is
// that code) at rows + slots[code] * (kBlockCodes / 8). Slot 0 is all zeros, for the codes
// that no candidate of the block holds.
struct BlockMasks {
    const std::uint8_t* slots;  // 256 entries
    const std::uint8_t* rows;
};

struct LaneBlock {
    // Lane c's characters at codes[c * width] on, then zeros up to the lane's width; lanes
    // without a candidate are all zeros.
    const std::uint8_t* codes;
    // Per lane: 1 to the width, any of these where there is no candidate; or when every lane
    // has the same length, that length in common_length (else 0), and lengths may be null.
    const std::uint8_t* lengths;
    std::size_t common_length;
    const BlockMasks* masks;  // or null, and the rows come from the codes
};

// Scores one block: scores[c] is the combined score of the query and lane c's candidate.
using LaneKernel = void (*)(const LaneQuery&, const LaneBlock&, double* scores);

// One instruction set's build of the kernel, for each lane width; null where a module
// lacks that build.
struct LaneKernels {
    const char* name;
    std::size_t vector_bits;  // of the instruction set's vectors
    LaneKernel by_width[kWidthCount];
};

}  // namespace pelgar::measures::lanes
