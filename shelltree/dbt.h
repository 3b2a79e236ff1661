#pragma once
// Device-change broadcasts: the message, its event codes and the records it carries.
// Linux has no drive letters, so the volume record names the mount points that came or
// went instead of a unit mask of drives.
#include <cstdint>
#include <string>
#include <vector>

namespace plm {

constexpr uint32_t WM_DEVICECHANGE = 0x0219;

constexpr uintptr_t DBT_DEVICEARRIVAL = 0x8000;
constexpr uintptr_t DBT_DEVICEREMOVECOMPLETE = 0x8004;

constexpr uint32_t DBT_DEVTYP_OEM = 0;
constexpr uint32_t DBT_DEVTYP_VOLUME = 2;
constexpr uint32_t DBT_DEVTYP_PORT = 3;

constexpr uint16_t DBTF_MEDIA = 0x0001;
constexpr uint16_t DBTF_NET = 0x0002;

struct DEV_BROADCAST_HDR {
  uint32_t dbch_size = sizeof(DEV_BROADCAST_HDR);
  uint32_t dbch_devicetype = DBT_DEVTYP_OEM;
  uint32_t dbch_reserved = 0;
};

struct DEV_BROADCAST_VOLUME : DEV_BROADCAST_HDR {
  DEV_BROADCAST_VOLUME() {
    dbch_size = sizeof(DEV_BROADCAST_VOLUME);
    dbch_devicetype = DBT_DEVTYP_VOLUME;
  }
  std::vector<std::string> dbcv_mountpoints; // in place of the unit mask
  uint16_t dbcv_flags = 0;
};

} // namespace plm
