#include "services/pixel_stream.h"

#include <algorithm>
#include <bit>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

uint16_t ExpansionBuffer[kExpansionWords] = {};

namespace {

constexpr uint16_t kMarkerMask = 0xFF80;
constexpr uint16_t kRunLengthMask = 0x7F;
constexpr int32_t kRunLengthBias = 2;
constexpr int32_t kRunLengthMax = 128;  // low bits 0x7F (129) end the stream
constexpr int kPixelsPerMask = 16;
constexpr uint16_t kMaskAll = 0xFFFF;
constexpr uint16_t kMaskFirstPixel = 0x8000;
constexpr int32_t kBytesPerWord = 2;
static_assert(kMaskedPixels == kMaskCount * kPixelsPerMask);

// Where stage 1 takes its words from: the words the source holds ready are
// read in place, without a call per word; whenever those are used up, the
// source refills (or yields its zeros, or reads past nothing) exactly as its
// word reader would. The words taken are consumed before every refill and at
// the end, so the words, the link reads and the final state are the same as
// word-by-word calls would leave.
class WordCursor {
 public:
  explicit WordCursor(BulkWordSource& source) : source_(source) { Peek(); }

  uint16_t Take() {
    if (next_ == end_) return TakeFromSource();
    const uint16_t w = LoadWord(next_);
    next_ += kBytesPerWord;
    return w;
  }
  // Words that Take() can yield without touching the source.
  size_t Ready() const { return static_cast<size_t>(end_ - next_) / kBytesPerWord; }
  const uint8_t* Next() const { return next_; }
  void Skip(size_t words) { next_ += words * kBytesPerWord; }
  // Whether a refill found the source broken.
  bool Broken() const { return broken_; }

  // Hands the words taken back to the source.
  void Sync() {
    source_.Consume(static_cast<size_t>(next_ - start_) / kBytesPerWord);
    start_ = next_;
  }

 private:
  static uint16_t LoadWord(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

  uint16_t TakeFromSource() {
    Sync();
    const uint16_t w = source_.Refill();
    broken_ = source_.Broken();
    Peek();
    return w;
  }

  void Peek() {
    const ReadyWords ready = source_.Ready();
    start_ = next_ = ready.bytes;
    end_ = ready.bytes == nullptr ? nullptr : ready.bytes + ready.count * kBytesPerWord;
  }

  BulkWordSource& source_;
  const uint8_t* start_ = nullptr;
  const uint8_t* next_ = nullptr;
  const uint8_t* end_ = nullptr;
  bool broken_ = false;
};

// Literal tokens are by far the most common: a block of words is checked
// against the markers of as many tokens in a row, and the words before the
// first one that carries its marker are all literals, copied at once. Blocks
// are 8 words with SSE2 (every x86-64 CPU), 16 where the CPU has AVX2.
// Where runs or doubled literals crowd the stream, blocks are tried less often.
constexpr int kTokensAfterFailedBlock = 8;

#if defined(__x86_64__)
constexpr int16_t MarkerOffset(int j) {
  return static_cast<int16_t>(j * kMarkerStep);
}

// Copies the leading literal tokens of the words ready in `source`, at most
// `limit` of them; returns how many.
size_t CopyLiteralsSse2(WordCursor& source, size_t limit, size_t written, uint16_t marker) {
  constexpr size_t kBlock = 8;
  const size_t room = std::min({limit, source.Ready(), kExpansionWords - written});
  const __m128i prefix = _mm_set1_epi16(static_cast<int16_t>(kMarkerMask));
  const __m128i advance = _mm_set1_epi16(MarkerOffset(kBlock));
  __m128i markers = _mm_add_epi16(
      _mm_set1_epi16(static_cast<int16_t>(marker)),
      _mm_setr_epi16(MarkerOffset(0), MarkerOffset(1), MarkerOffset(2), MarkerOffset(3),
                     MarkerOffset(4), MarkerOffset(5), MarkerOffset(6), MarkerOffset(7)));
  size_t copied = 0;
  while (copied + kBlock <= room) {
    const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source.Next()));
    const auto hits = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(words, prefix), markers)));
    if (hits != 0) {
      // Two mask bits per word: the literals are the words before the first hit.
      const size_t literals = static_cast<size_t>(std::countr_zero(hits)) / 2;
      std::memcpy(ExpansionBuffer + written + copied, source.Next(), literals * kBytesPerWord);
      source.Skip(literals);
      return copied + literals;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(ExpansionBuffer + written + copied), words);
    source.Skip(kBlock);
    copied += kBlock;
    markers = _mm_add_epi16(markers, advance);
  }
  return copied;
}

__attribute__((target("avx2"))) size_t CopyLiteralsAvx2(WordCursor& source, size_t limit,
                                                        size_t written, uint16_t marker) {
  constexpr size_t kBlock = 16;
  const size_t room = std::min({limit, source.Ready(), kExpansionWords - written});
  const __m256i prefix = _mm256_set1_epi16(static_cast<int16_t>(kMarkerMask));
  const __m256i advance = _mm256_set1_epi16(MarkerOffset(kBlock));
  __m256i markers = _mm256_add_epi16(
      _mm256_set1_epi16(static_cast<int16_t>(marker)),
      _mm256_setr_epi16(MarkerOffset(0), MarkerOffset(1), MarkerOffset(2), MarkerOffset(3),
                        MarkerOffset(4), MarkerOffset(5), MarkerOffset(6), MarkerOffset(7),
                        MarkerOffset(8), MarkerOffset(9), MarkerOffset(10), MarkerOffset(11),
                        MarkerOffset(12), MarkerOffset(13), MarkerOffset(14), MarkerOffset(15)));
  size_t copied = 0;
  while (copied + kBlock <= room) {
    const __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source.Next()));
    const auto hits = static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi16(_mm256_and_si256(words, prefix), markers)));
    if (hits != 0) {
      const size_t literals = static_cast<size_t>(std::countr_zero(hits)) / 2;
      std::memcpy(ExpansionBuffer + written + copied, source.Next(), literals * kBytesPerWord);
      source.Skip(literals);
      return copied + literals;
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(ExpansionBuffer + written + copied), words);
    source.Skip(kBlock);
    copied += kBlock;
    markers = _mm256_add_epi16(markers, advance);
  }
  return copied;
}

size_t CopyLiterals(WordCursor& source, size_t limit, size_t written, uint16_t marker) {
  static const bool hasAvx2 = __builtin_cpu_supports("avx2");
  return hasAvx2 ? CopyLiteralsAvx2(source, limit, written, marker)
                 : CopyLiteralsSse2(source, limit, written, marker);
}
#else
size_t CopyLiterals(WordCursor&, size_t, size_t, uint16_t) {
  return 0;
}
#endif

// Stage 1 on `source`; with kStopAtBreak it ends before writing a token that
// a broken refill cut into, and says so. Each kind is a function of its own,
// laid out as the one loop it is (inlined together, the sparse frames were
// measurably slower).
template <bool kStopAtBreak>
__attribute__((noinline)) bool ExpandFrom(BulkWordSource& from, int32_t count) {
  WordCursor source(from);
  int32_t remaining = count;
  size_t written = 0;
  uint16_t marker = kMarkerFirst;
  int tokensBeforeBlock = 0;  // tokens one at a time before the next block is tried
  bool whole = true;
  while (remaining > 0 && written < kExpansionWords) {
    if (tokensBeforeBlock == 0) {
      const size_t literals = CopyLiterals(source, static_cast<size_t>(remaining), written, marker);
      if (literals > 0) {
        written += literals;
        remaining -= static_cast<int32_t>(literals);
        marker = static_cast<uint16_t>(marker + literals * kMarkerStep);
        continue;
      }
      tokensBeforeBlock = kTokensAfterFailedBlock;
    }
    --tokensBeforeBlock;
    const uint16_t w = source.Take();
    if ((w & kMarkerMask) == marker) {
      const uint16_t v = source.Take();
      if (kStopAtBreak && source.Broken()) {
        whole = false;
        break;
      }
      if (remaining > 1 && v == w) {
        ExpansionBuffer[written++] = w;
      } else {
        const int32_t n = (w & kRunLengthMask) + kRunLengthBias;
        if (n > kRunLengthMax) break;
        const size_t fill = std::min<size_t>(static_cast<size_t>(n), kExpansionWords - written);
        std::fill_n(ExpansionBuffer + written, fill, v);
        written += fill;
      }
      remaining -= 2;
    } else {
      if (kStopAtBreak && source.Broken()) {
        whole = false;
        break;
      }
      ExpansionBuffer[written++] = w;
      remaining -= 1;
    }
    marker = static_cast<uint16_t>(marker + kMarkerStep);
  }
  source.Sync();
  return whole;
}

constexpr int kZeroMaskBlock = 32;

// The first mask at or after g that is not zero, or kMaskCount. A sparse frame
// is mostly zero masks: they are passed over many at a time.
int NextChangedMask(int g) {
  while (g + kZeroMaskBlock <= kMaskCount) {
    uint64_t lanes[kZeroMaskBlock / 4];
    std::memcpy(lanes, ExpansionBuffer + g, sizeof lanes);
    uint64_t any = 0;
    for (uint64_t lane : lanes) any |= lane;
    if (any != 0) break;
    g += kZeroMaskBlock;
  }
  while (g < kMaskCount && ExpansionBuffer[g] == 0) ++g;
  return g;
}

}  // namespace

bool ExpandTokens(BulkWordSource& source, int32_t count, OnSourceBreak onBreak) {
  return onBreak == OnSourceBreak::Stop ? ExpandFrom<true>(source, count)
                                        : ExpandFrom<false>(source, count);
}

// At most 76800 values: never past word 81599.
void ApplyChangeMasks(uint16_t* __restrict frame) {
  const uint16_t* value = ExpansionBuffer + kMaskCount;
  int g = 0;
  while (g < kMaskCount) {
    const uint16_t mask = ExpansionBuffer[g];
    uint16_t* stretch = frame + g * kPixelsPerMask;
    if (mask == 0) {
      g = NextChangedMask(g);
      continue;
    }
    ++g;
    if (mask == kMaskAll) {
      std::copy_n(value, kPixelsPerMask, stretch);
      value += kPixelsPerMask;
      continue;
    }
    // Only the set bits, highest (the stretch's first pixel) first.
    for (uint16_t left = mask; left != 0;) {
      const int bit = std::countl_zero(left);
      stretch[bit] = *value++;
      left = static_cast<uint16_t>(left & ~(kMaskFirstPixel >> bit));
    }
  }
}
