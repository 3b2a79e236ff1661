#pragma once
// A volume provider that presents whatever volumes a test describes.
#include "platform/Volumes.h"

#include <map>
#include <string>
#include <vector>

struct FakeVolume {
  plm::VolumeInfo Info;
  int Type = plm::DRIVE_FIXED;
  bool QueryFails = false; // the volume query refuses (no medium, unreadable)
};

class FakeVolumes : public plm::VolumeProvider {
public:
  FakeVolumes() : fPrevious(plm::SetVolumeProvider(this)) {}
  ~FakeVolumes() override { plm::SetVolumeProvider(fPrevious); }
  FakeVolumes(const FakeVolumes &) = delete;
  FakeVolumes &operator=(const FakeVolumes &) = delete;

  FakeVolume &Add(const std::string &mountPoint, int type, uint32_t serial = 0x1234ABCD,
                  const std::string &label = "", const std::string &fs = "ext4") {
    FakeVolume &v = fVolumes[mountPoint];
    v.Info.MountPoint = mountPoint;
    v.Info.Label = label;
    v.Info.Serial = serial;
    v.Info.FileSystemName = fs;
    v.Info.MaxComponentLength = 255;
    v.Info.FileSystemFlags = plm::FILE_CASE_PRESERVED_NAMES;
    v.Type = type;
    return v;
  }
  FakeVolume &operator[](const std::string &mountPoint) { return fVolumes.at(mountPoint); }

  std::string MountPointOf(const std::string &path) override {
    std::string best;
    for (const auto &[mp, v] : fVolumes) {
      const bool covers = mp == "/" ? !path.empty() && path[0] == '/'
                                    : path.compare(0, mp.size(), mp) == 0 &&
                                          (path.size() == mp.size() || path[mp.size()] == '/');
      if (covers && mp.size() > best.size()) best = mp;
    }
    return best;
  }
  bool VolumeInformation(const std::string &root, plm::VolumeInfo &out) override {
    ++InfoQueries;
    auto it = fVolumes.find(root);
    if (it == fVolumes.end() || it->second.QueryFails) return false;
    out = it->second.Info;
    return true;
  }
  // "/" first, then the others in the order of their names.
  std::vector<std::string> MountedVolumes() override {
    std::vector<std::string> out{"/"};
    for (const auto &[mp, v] : fVolumes)
      if (mp != "/") out.push_back(mp);
    return out;
  }
  int DriveType(const std::string &root) override {
    ++TypeQueries;
    auto it = fVolumes.find(root);
    return it == fVolumes.end() ? plm::DRIVE_NO_ROOT_DIR : it->second.Type;
  }

  int InfoQueries = 0;
  int TypeQueries = 0;

private:
  std::map<std::string, FakeVolume> fVolumes;
  plm::VolumeProvider *fPrevious;
};
