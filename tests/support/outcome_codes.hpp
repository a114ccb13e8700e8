#pragma once

// The outcome codes DetectToiletInfo publishes on its "error_code" and "status_code" ports.
namespace kestrava_arm::bt::testing {

inline constexpr int kErrorNone = 102200000;
inline constexpr int kErrorNoDetection = 102300001;
inline constexpr int kErrorBadResponse = 102200002;
inline constexpr int kStatusUnavailable = 102501005;
inline constexpr int kStatusSucceeded = 102501006;
inline constexpr int kStatusDetectionFailed = 102300001;
inline constexpr int kStatusTimeout = 102501008;

}  // namespace kestrava_arm::bt::testing
