// Conversions between tag values (VARIANTs) and Modbus point words, value
// comparison and display text. Pure functions: they touch only what they are
// given; the exchange engine decides when they run.
//
// Point types 1 and 2 (bits) read as VT_BOOL. Register points (3, 4) convert
// by the tag's data type:
//   0 Integer        1 word   VT_I2 (the word's 16 bits)
//   1 Unsigned       1 word   read VT_I2, written from VT_I4's low 16 bits
//   2..4 Scaled      1 word   VT_R4 = (HL - LL) * word / FS + LL, FS 4095,
//                             9999 or 65535; written clamped to 0..FS
//   5 Long, 7 Float  2 words  register A (the tag's address) low half, B high
//   6 WS Long,       2 words  word swapped: A high half, B low half
//   8 WS Float
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

#include "platform/variant.h"

class CExchangeTag;

// A non-owning reference to a callable, so that the per-tick conversions pass
// their point reader without allocating. The callable must outlive the call.
template <class Signature>
class FunctionRef;

template <class R, class... Args>
class FunctionRef<R(Args...)> {
 public:
  template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, FunctionRef>>>
  FunctionRef(F&& f)  // NOLINT: implicit on purpose, like a function pointer
      : m_object(const_cast<void*>(static_cast<const void*>(&f))),
        m_call([](void* object, Args... args) -> R {
          return (*static_cast<std::remove_reference_t<F>*>(object))(std::forward<Args>(args)...);
        }) {}
  R operator()(Args... args) const { return m_call(m_object, std::forward<Args>(args)...); }

 private:
  void* m_object;
  R (*m_call)(void*, Args...);
};

// Gives the word of one point (1-based address) and whether it is valid.
using PointReader = FunctionRef<bool(uint16_t address, uint16_t& word)>;
// Stores `count` words from `address` on; false when refused.
using PointWriter = FunctionRef<bool(uint16_t address, const uint16_t* words, uint16_t count)>;

struct TagReadResult {
  // False when the tag's point type or data type has no conversion: no value
  // was made and the tag is to be left alone.
  bool bConverted = false;
  // The validity of every word read.
  bool bValid = false;
  // A number or VT_BOOL (never owns memory); VT_EMPTY when not converted.
  VARIANT value{};
};

// Builds a Modbus tag's value from its words.
TagReadResult ReadTagValue(const CExchangeTag& tag, PointReader reader);
// Converts `value` to the tag's words and hands them to the writer one word
// at a time. False when the conversion fails (nothing is written) or a word
// is refused (the second word of a pair is not tried after the first fails).
bool WriteTagValue(const CExchangeTag& tag, const VARIANT& value, PointWriter writer);

// Whether `candidate` counts as no change of `current`, compared in the
// current value's type.
bool IsSameValue(const VARIANT& current, const VARIANT& candidate);

// The display text of one value as it would fit a buffer of `bufferSize`
// characters with its terminator (so at most bufferSize - 1 bytes). Arrays
// that do not fit end in ".etc".
std::string FormatValue(const VARIANT& value, size_t bufferSize = 200);
// The tag's value as text, first converted to `vt` unless that is VT_EMPTY;
// "Invalid VariantType" when the conversion fails.
std::string GetValueString(const CExchangeTag& tag, VARTYPE vt);
