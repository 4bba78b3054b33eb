#ifndef PLATFORM_NULL_DEVICE_H
#define PLATFORM_NULL_DEVICE_H

namespace platform {

// The file that takes whatever is written to it and keeps nothing.
#if defined(_WIN32)
inline constexpr const char NULL_DEVICE[] = "NUL";
#else
inline constexpr const char NULL_DEVICE[] = "/dev/null";
#endif

} // namespace platform

#endif // PLATFORM_NULL_DEVICE_H
