// Image identifiers: the thread's table of open images.
//
// Identifiers are positive 32-bit integers handed out from one process-wide
// counter, so an identifier is never handed out twice (until 2^31 others have
// been) and an identifier of another thread is never valid here. The table
// itself is per thread: threads share no image and need no lock.
#pragma once

#include <cstdint>
#include <memory>

#include "raster/image.h"

namespace korvex::raster {

// Registers an image and returns its new identifier (> 0).
int32_t register_image(std::unique_ptr<Image> image);
// The image of an identifier of this thread, or null.
Image* find_image(int32_t id);
// Disposes an image: Ok, or InvalidParameter for 0, a closed or an unknown
// identifier; ObjectBusy while it is locked.
Status dispose_image(int32_t id);
// Number of open images of this thread.
size_t open_image_count();
// Disposes every image of this thread (end of the raster session).
void dispose_all_images();
// Sets the shared counter behind new identifiers (tests of the wrap-around).
void set_identifier_counter_for_testing(uint64_t next);

}  // namespace korvex::raster
