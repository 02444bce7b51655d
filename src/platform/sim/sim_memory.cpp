// Global memory blocks: moveable blocks have a handle distinct from their address and a lock
// count; every block is a heap allocation of its own so that the sanitizers catch an overrun,
// and blocks not asked to be zeroed are filled with garbage so that reliance on zeroes shows.
#include "sim_internal.h"

#include <cstring>

using namespace sim::detail;

namespace {

constexpr unsigned char kGarbage = 0xCD;

// The block behind a handle, or null (with a problem recorded) for a handle that is not a
// live block.
Block *LiveBlock(HGLOBAL mem, const char *api) {
    auto found = St().blocks.find(reinterpret_cast<uintptr_t>(mem));
    if (found == St().blocks.end()) {
        AddProblem(std::string(api) + " of an unknown block handle " + HandleText(mem));
        return nullptr;
    }
    if (found->second.freed) {
        AddProblem(std::string(api) + " of a freed block " + HandleText(mem));
        return nullptr;
    }
    return &found->second;
}

} // namespace

namespace sim {

int LiveGlobalBlocks() {
    Guard lock(Mutex());
    int live = 0;
    for (const auto &entry : St().blocks)
        live += entry.second.freed ? 0 : 1;
    return live;
}

int LockedGlobalBlocks() {
    Guard lock(Mutex());
    int locked = 0;
    for (const auto &entry : St().blocks)
        locked += (!entry.second.freed && entry.second.locks > 0) ? 1 : 0;
    return locked;
}

} // namespace sim

extern "C" {

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
    Guard lock(Mutex());
    if (ShouldFail(sim::Api::GlobalAlloc)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    Block block;
    block.data = new char[bytes];
    block.size = bytes;
    block.moveable = (flags & GMEM_MOVEABLE) != 0;
    std::memset(block.data, (flags & GMEM_ZEROINIT) ? 0 : kGarbage, bytes);
    uintptr_t handle = block.moveable ? NewHandleValue() : reinterpret_cast<uintptr_t>(block.data);
    St().blocks[handle] = block;
    SetLastError(ERROR_SUCCESS);
    // NOLINTNEXTLINE(performance-no-int-to-ptr): a moveable block's handle is a number, as on Win32
    return reinterpret_cast<HGLOBAL>(handle);
}

LPVOID WINAPI GlobalLock(HGLOBAL mem) {
    Guard lock(Mutex());
    if (ShouldFail(sim::Api::GlobalLock)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    Block *block = LiveBlock(mem, "GlobalLock");
    if (!block) {
        SetLastError(ERROR_INVALID_HANDLE);
        return NULL;
    }
    if (block->moveable) // a fixed block's lock count stays 0, as on Windows
        block->locks++;
    return block->data;
}

BOOL WINAPI GlobalUnlock(HGLOBAL mem) {
    Guard lock(Mutex());
    Block *block = LiveBlock(mem, "GlobalUnlock");
    if (!block) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!block->moveable)
        return TRUE;
    if (block->locks == 0) {
        AddProblem("GlobalUnlock of a block that is not locked " + HandleText(mem));
        SetLastError(kErrorNotLocked);
        return FALSE;
    }
    // Windows answers FALSE with no error once the last lock is gone.
    if (--block->locks == 0) {
        SetLastError(ERROR_SUCCESS);
        return FALSE;
    }
    return TRUE;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL mem) {
    Guard lock(Mutex());
    if (mem == NULL)
        return NULL;
    Block *block = LiveBlock(mem, "GlobalFree");
    if (!block) {
        SetLastError(ERROR_INVALID_HANDLE);
        return mem;
    }
    // Windows frees a locked block, but the program always unlocks first.
    if (block->locks > 0)
        AddProblem("GlobalFree of a block that is still locked " + HandleText(mem));
    delete[] block->data;
    block->data = nullptr;
    block->freed = true;
    block->locks = 0;
    return NULL;
}

} // extern "C"
