// The thread's table of images whose pixels live in a caller's packed-DIB
// memory block, so closing such an image can release the block too.
#pragma once

#include <cstdint>

namespace korvex {

struct DibImageEntry {
  int32_t handle = 0;     // global-memory handle of the block
  int32_t image = 0;      // image identifier
  int32_t free_flag = 0;  // 1: free the block when the image is closed
};

// Appends an entry to the thread's table of DIB-backed images.
void DibImageTableAdd(int32_t handle, int32_t image, int32_t free_flag);

}  // namespace korvex
