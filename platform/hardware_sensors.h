#pragma once
// Where the operating system publishes its hardware sensors. Linux: the
// kernel's hwmon class in sysfs. Windows has no such place (the real monitor
// reads the hardware itself), so the stand-in monitor only simulates there.
namespace platform {

#ifdef _WIN32
inline constexpr bool kHasKernelSensors = false;
#else
inline constexpr bool kHasKernelSensors = true;
#endif
inline constexpr const char* kKernelSensorRoot = "/sys/class/hwmon";

}  // namespace platform
