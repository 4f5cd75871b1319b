#pragma once

namespace perrox {

// The longest match of a pattern, as the options set it, in KiB.
inline constexpr int kDefaultMaxMatchKiB = 1024;
inline constexpr int kMaxMatchKiBLimit = 1 << 20; // 1 GiB

} // namespace perrox
