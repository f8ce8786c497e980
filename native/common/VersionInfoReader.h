// The version resource of one file, read whole through the platform's
// version calls (version.dll on Windows, our PE reader on Linux).
// Not thread-safe; one reader per call.
#pragma once

#include <cstdint>
#include <vector>

#include "Win32Api.h"

namespace quorvane {

class VersionInfoReader {
 public:
  // path null: the executable of the current process. Ok() is false when that
  // name cannot be had, the file has no version resource or reading it fails.
  explicit VersionInfoReader(LPCWSTR path);

  bool Ok() const { return !block_.empty(); }

  // Major and minor from the most significant file-version word, patch and
  // build from the least significant one. A null out-parameter is not
  // written; false, writing nothing, when the root block cannot be read.
  bool GetFileVersion(uint32_t* punMajor, uint32_t* punMinor, uint32_t* punPatch, uint32_t* punBuild) const;

 private:
  std::vector<BYTE> block_;
};

}  // namespace quorvane
