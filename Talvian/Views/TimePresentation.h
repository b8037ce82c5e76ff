#pragma once
// The time texts of the views: whole-second durations and tenth-of-a-second boundaries. Pure.

#include <string>

namespace talvian::TimePresentation {

// "MM:SS" below an hour, else "H:MM:SS"; truncated to whole seconds. Negative, infinite, not a
// number or at least 922337203685477632 seconds (about a tenth of 2^63): "00:00".
std::string duration(double seconds);
// "MM:SS.t" while under 36000 tenths, else "H:MM:SS.t"; tenths rounded half away from zero.
// Negative, infinite, not a number or at least 922337203685477632 seconds: "00:00.0".
std::string boundary(double seconds);

}  // namespace talvian::TimePresentation
