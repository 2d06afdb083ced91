#pragma once
// Test support: a volume where final paths cannot be resolved (some RAM disks
// and virtual drives), with or without the path below the volume root, for as
// long as the object lives.
#include <string>

#include "common/checked_files.h"

class UnresolvedVolume : public HandlePlaces {
  public:
    explicit UnresolvedVolume(bool volumePaths) : volumePaths_(volumePaths) {
        UseHandlePlaces(this);
    }
    ~UnresolvedVolume() override { UseHandlePlaces(nullptr); }
    std::wstring FinalPath(HANDLE) override { return std::wstring(); }
    std::wstring VolumePath(HANDLE handle) override {
        return volumePaths_ ? PlatformHandlePlaces().VolumePath(handle) : std::wstring();
    }

  private:
    bool volumePaths_;
};
