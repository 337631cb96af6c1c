// Finds where a JSON object or array ends without parsing it, so that a large document can be
// handed to the parser one element at a time. Only brackets and strings matter here: the parser
// validates every element it is given, so a malformed element is still rejected there.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace norq_profile::io::detail {

// Bytes the scanner may read past the end of the data it is given.
inline constexpr std::size_t value_extent_slack = 64;

// Resumable: feed it the same value with more bytes available until it reports the length.
class ValueExtent {
 public:
  // `value` starts with '{' or '['; bytes [scanned(), available) are examined. Returns the length
  // of the value up to and including its closing bracket, or 0 when more bytes are needed.
  // value_extent_slack bytes past `available` must be readable; their contents are ignored.
  std::size_t advance(const char* value, std::size_t available) {
    while (scanned_ < available) {
      const std::size_t n = available - scanned_ < 64 ? available - scanned_ : 64;
      const char* block = value + scanned_;
      Masks masks = classify(block);
      const std::uint64_t valid = n == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
      // Escapes are rare in profiles; a block holding one takes the byte-wise path.
      if (escaped_ || (masks.backslash & valid) != 0) {
        if (const std::size_t end = scan_bytes(block, n)) return scanned_ + end;
        scanned_ += n;
        continue;
      }
      const std::uint64_t quotes = masks.quote & valid;
      const std::uint64_t inside = prefix_xor(quotes) ^ (in_string_ ? ~std::uint64_t{0} : 0);
      std::uint64_t brackets = (masks.open | masks.close) & valid & ~inside;
      while (brackets != 0) {
        const int at = __builtin_ctzll(brackets);
        brackets &= brackets - 1;
        if ((masks.open >> at) & 1) {
          ++depth_;
        } else if (--depth_ == 0) {
          return scanned_ + static_cast<std::size_t>(at) + 1;
        }
      }
      in_string_ = ((inside >> (n - 1)) & 1) != 0;
      scanned_ += n;
    }
    return 0;
  }

  std::size_t scanned() const { return scanned_; }

 private:
  struct Masks {
    std::uint64_t quote = 0, backslash = 0, open = 0, close = 0;
  };

  static Masks classify(const char* block) {
    Masks masks;
#if defined(__SSE2__)
    for (int part = 0; part < 4; ++part) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * part));
      // '[' and '{' differ only in bit 5, as do ']' and '}'.
      const __m128i folded = _mm_or_si128(bytes, _mm_set1_epi8(0x20));
      const auto bits = [&](__m128i equal) {
        return static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(equal)))
               << (16 * part);
      };
      masks.quote |= bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')));
      masks.backslash |= bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\')));
      masks.open |= bits(_mm_cmpeq_epi8(folded, _mm_set1_epi8('{')));
      masks.close |= bits(_mm_cmpeq_epi8(folded, _mm_set1_epi8('}')));
    }
#else
    for (int i = 0; i < 64; ++i) {
      const char c = block[i];
      const std::uint64_t bit = std::uint64_t{1} << i;
      if (c == '"') masks.quote |= bit;
      if (c == '\\') masks.backslash |= bit;
      if (c == '{' || c == '[') masks.open |= bit;
      if (c == '}' || c == ']') masks.close |= bit;
    }
#endif
    return masks;
  }

  // Bit i set when an odd number of bits at or below i are set: inside a string, counting its
  // opening quote but not its closing one.
  static std::uint64_t prefix_xor(std::uint64_t bits) {
    bits ^= bits << 1;
    bits ^= bits << 2;
    bits ^= bits << 4;
    bits ^= bits << 8;
    bits ^= bits << 16;
    bits ^= bits << 32;
    return bits;
  }

  // Returns the offset just past the closing bracket within the block, or 0.
  std::size_t scan_bytes(const char* block, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      const char c = block[i];
      if (in_string_) {
        if (escaped_) {
          escaped_ = false;
        } else if (c == '\\') {
          escaped_ = true;
        } else if (c == '"') {
          in_string_ = false;
        }
      } else if (c == '"') {
        in_string_ = true;
      } else if (c == '{' || c == '[') {
        ++depth_;
      } else if ((c == '}' || c == ']') && --depth_ == 0) {
        return i + 1;
      }
    }
    return 0;
  }

  std::size_t scanned_ = 0;
  std::size_t depth_ = 0;
  bool in_string_ = false;
  bool escaped_ = false;  // the last byte seen was a backslash that escapes the next one
};

}  // namespace norq_profile::io::detail
