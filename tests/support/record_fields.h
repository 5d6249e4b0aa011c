// The fields of a plain record as a tuple, found without naming them, so
// that a test compares or prints whole records and a field added to the
// record is compared with the others without a test being told of it.
#pragma once

#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

namespace zorov {
namespace testing_support {

// Stands in for any field in a brace initialiser.
struct AnyField {
  template <class T> operator T() const;
};

template <class T, class Indices, class = void> struct TakesFields : std::false_type {};
template <class T, size_t... I>
struct TakesFields<T, std::index_sequence<I...>, std::void_t<decltype(T{(void(I), AnyField{})...})>>
    : std::true_type {};

// The number of fields: the most initialisers the record takes.
template <class T, size_t N = 0> constexpr size_t field_count() {
  if constexpr (TakesFields<T, std::make_index_sequence<N + 1>>::value)
    return field_count<T, N + 1>();
  else
    return N;
}

#define ZOROV_FIELDS_24                                                                            \
  f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, f17, f18, f19, f20, f21,  \
      f22, f23, f24
#define ZOROV_FIELDS_25 ZOROV_FIELDS_24, f25
#define ZOROV_FIELDS_26 ZOROV_FIELDS_25, f26
#define ZOROV_FIELDS_27 ZOROV_FIELDS_26, f27
#define ZOROV_FIELDS_28 ZOROV_FIELDS_27, f28
#define ZOROV_FIELDS_29 ZOROV_FIELDS_28, f29
#define ZOROV_FIELDS_30 ZOROV_FIELDS_29, f30
#define ZOROV_FIELDS_31 ZOROV_FIELDS_30, f31
#define ZOROV_FIELDS_32 ZOROV_FIELDS_31, f32
#define ZOROV_FIELDS_33 ZOROV_FIELDS_32, f33
#define ZOROV_FIELDS_34 ZOROV_FIELDS_33, f34
#define ZOROV_FIELDS_35 ZOROV_FIELDS_34, f35
#define ZOROV_FIELDS_36 ZOROV_FIELDS_35, f36
#define ZOROV_FIELDS_37 ZOROV_FIELDS_36, f37
#define ZOROV_FIELDS_38 ZOROV_FIELDS_37, f38
#define ZOROV_FIELDS_39 ZOROV_FIELDS_38, f39
#define ZOROV_FIELDS_40 ZOROV_FIELDS_39, f40
#define ZOROV_FIELDS_41 ZOROV_FIELDS_40, f41
#define ZOROV_FIELDS_42 ZOROV_FIELDS_41, f42
#define ZOROV_FIELDS_43 ZOROV_FIELDS_42, f43
#define ZOROV_FIELDS_44 ZOROV_FIELDS_43, f44
#define ZOROV_FIELDS_45 ZOROV_FIELDS_44, f45
#define ZOROV_FIELDS_46 ZOROV_FIELDS_45, f46
#define ZOROV_FIELDS_47 ZOROV_FIELDS_46, f47
#define ZOROV_FIELDS_48 ZOROV_FIELDS_47, f48
#define ZOROV_TIE_FIELDS(n)                                                                        \
  if constexpr (count == n) {                                                                      \
    const auto &[ZOROV_FIELDS_##n] = record;                                                       \
    return std::make_tuple(ZOROV_FIELDS_##n);                                                      \
  } else

// The record's fields, copied into a tuple (records of 28 to 48 fields).
template <class T> auto fields_of(const T &record) {
  constexpr size_t count = field_count<T>();
  static_assert(count >= 28 && count <= 48, "a record of this size needs more lines here");
  ZOROV_TIE_FIELDS(28)
  ZOROV_TIE_FIELDS(29)
  ZOROV_TIE_FIELDS(30)
  ZOROV_TIE_FIELDS(31)
  ZOROV_TIE_FIELDS(32)
  ZOROV_TIE_FIELDS(33)
  ZOROV_TIE_FIELDS(34)
  ZOROV_TIE_FIELDS(35)
  ZOROV_TIE_FIELDS(36)
  ZOROV_TIE_FIELDS(37)
  ZOROV_TIE_FIELDS(38)
  ZOROV_TIE_FIELDS(39)
  ZOROV_TIE_FIELDS(40)
  ZOROV_TIE_FIELDS(41)
  ZOROV_TIE_FIELDS(42)
  ZOROV_TIE_FIELDS(43)
  ZOROV_TIE_FIELDS(44)
  ZOROV_TIE_FIELDS(45)
  ZOROV_TIE_FIELDS(46)
  ZOROV_TIE_FIELDS(47)
  ZOROV_TIE_FIELDS(48)
  return std::tuple<>();
}

} // namespace testing_support
} // namespace zorov
