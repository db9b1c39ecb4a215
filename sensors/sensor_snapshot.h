#pragma once
// The monitor's shared-memory record: 402 bytes, little-endian, packed (the
// arrays start at offset 18). The counts are not trusted: readers use at most
// kMaxSensorEntries entries of each array.
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kSnapshotSize = 402;
inline constexpr int kMaxSensorEntries = 32;
inline constexpr const wchar_t* kSnapshotName = L"KVSharedMemory_ORB";

#pragma pack(push, 1)
struct SensorSnapshot {
  std::uint16_t version;   // layout version; only 1 is accepted
  std::uint16_t flags;     // shown in the diagnostic dump only
  std::int32_t memSize;    // block size in bytes; only 402 is accepted
  std::uint32_t handle;    // a handle value of the monitor, dump only
  std::uint16_t numTemps;  // valid entries in temps
  std::uint16_t numFans;
  std::uint16_t numVolts;
  std::int32_t temps[kMaxSensorEntries];  // hundredths of a degree Celsius
  std::int32_t fans[kMaxSensorEntries];   // revolutions per minute
  std::int32_t volts[kMaxSensorEntries];  // hundredths of a volt
};
#pragma pack(pop)

static_assert(sizeof(SensorSnapshot) == kSnapshotSize);
static_assert(offsetof(SensorSnapshot, memSize) == 4);
static_assert(offsetof(SensorSnapshot, handle) == 8);
static_assert(offsetof(SensorSnapshot, numTemps) == 12);
static_assert(offsetof(SensorSnapshot, numFans) == 14);
static_assert(offsetof(SensorSnapshot, numVolts) == 16);
static_assert(offsetof(SensorSnapshot, temps) == 18);
static_assert(offsetof(SensorSnapshot, fans) == 146);
static_assert(offsetof(SensorSnapshot, volts) == 274);

// Version 1 and a size of 402.
inline bool IsValidSnapshot(const SensorSnapshot& s) {
  return s.version == 1 && s.memSize == static_cast<std::int32_t>(kSnapshotSize);
}

// How many entries of a kind are read: min(count, 32).
inline int EntriesToRead(std::uint16_t count) {
  return count > kMaxSensorEntries ? kMaxSensorEntries : count;
}
