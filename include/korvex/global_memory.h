// Movable memory blocks named by 32-bit handles (0 = none), as hosts use to
// hand packed DIBs to the engine and receive them from it. Blocks are
// process-wide and their handles may pass between threads; a block is locked
// to reach its bytes, and the bytes stay valid until the matching unlock even
// when another thread frees the block meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvex::host {

// Allocates a zeroed block; 0 when bytes is 0 or memory is short.
int32_t GlobalAlloc(size_t bytes);
// Pointer to the block's bytes (lock count + 1), or null for an unknown handle.
uint8_t* GlobalLock(int32_t handle);
// Lock count - 1; false for an unknown or unlocked handle. The last unlock of
// a block freed while locked releases its bytes.
bool GlobalUnlock(int32_t handle);
// Size in bytes, 0 for an unknown handle.
size_t GlobalSize(int32_t handle);
// Releases the block (at once, or at its last unlock when it is locked); the
// handle is unknown from here on. False for an unknown handle.
bool GlobalFree(int32_t handle);
// Number of live blocks (for leak checks).
size_t GlobalBlockCount();

}  // namespace korvex::host
