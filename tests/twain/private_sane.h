// A private SANE configuration: dll.conf (the test backend only) and test.conf
// (one device, a solid black page, any extra lines) in one temporary folder per
// process, as SANE reads SANE_CONFIG_DIR once; the source manager is unloaded
// before and after, so that the backend reads test.conf again.
#pragma once

#include <dlfcn.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "twain/kxtwain.h"

namespace korvex::testutil {

class PrivateSane {
 public:
  explicit PrivateSane(const std::string& extra = "") {
    twain::KXTWAIN_UnloadSourceManager();
    // Kept resident, the test backend's buffer dropped by a page stopped
    // mid-read stays nameable for the suppression in tests/lsan.supp.
    static void* const resident =
        ::dlopen(SANE_BACKEND_DIR "/libsane-test.so.1", RTLD_NOW | RTLD_NODELETE);
    (void)resident;
    const std::string& dir = folder().path;
    std::ofstream(dir + "/dll.conf") << "test\n";
    std::ofstream(dir + "/test.conf") << "number_of_devices 1\nresolution 75\n"
                                         "test-picture \"Solid black\"\n"
                                      << extra;
    ::setenv("SANE_CONFIG_DIR", dir.c_str(), 1);
  }
  ~PrivateSane() {
    twain::KXTWAIN_UnloadSourceManager();
    twain::SetProgress(nullptr);
    twain::SetReadTimeout(0);
    twain::SetReportedVersionForTest(0);
  }
  PrivateSane(const PrivateSane&) = delete;
  PrivateSane& operator=(const PrivateSane&) = delete;

 private:
  struct Folder {
    std::string path;
    Folder() {
      std::string tmpl = (std::filesystem::temp_directory_path() / "kx-sane-XXXXXX").string();
      if (::mkdtemp(tmpl.data()) != nullptr) path = tmpl;
    }
    ~Folder() {
      std::error_code ec;
      if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
  };
  static Folder& folder() {
    static Folder f;
    return f;
  }
};

// Whole pixels across a length in mm at a resolution, as the test backend counts them.
inline int32_t pixels(double mm, double dpi) {
  return static_cast<int32_t>(mm / 25.4 * dpi);
}

}  // namespace korvex::testutil
