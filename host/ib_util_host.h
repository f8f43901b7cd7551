// The host-side view of our ib_util.dll stand-in.
#pragma once

#include <cstdint>

extern "C" {
__declspec(dllimport) void* __cdecl ib_util_malloc(long size);
__declspec(dllimport) int32_t __cdecl ib_util_free(void* block);
__declspec(dllimport) int32_t __cdecl ib_util_block_size(const void* block);
__declspec(dllimport) int32_t __cdecl ib_util_live_blocks();
__declspec(dllimport) int32_t __cdecl ib_util_total_allocations();
__declspec(dllimport) int32_t __cdecl ib_util_bad_frees();
}
