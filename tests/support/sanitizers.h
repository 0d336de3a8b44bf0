#pragma once
// Whether this build runs under a sanitizer, for the few real-time tests whose
// bounds or measurements the sanitizers' slowdown would spoil. GCC names the
// sanitizers with macros, clang through __has_feature.

namespace kinetra::test {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

}  // namespace kinetra::test
