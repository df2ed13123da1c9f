// How a GoogleTest host takes over a movable block that a plug-in handed
// it: the block must come unlocked; its bytes are copied out and it is freed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform.h"

inline std::vector<uint8_t> TakeHandle(HGLOBAL handle) {
    EXPECT_EQ(GlobalFlags(handle) & GMEM_LOCKCOUNT, 0u) << "handle handed over locked";
    std::vector<uint8_t> bytes(GlobalSize(handle));
    // An empty movable block cannot be locked.
    if (!bytes.empty()) {
        const void* data = GlobalLock(handle);
        EXPECT_NE(data, nullptr);
        if (data) std::memcpy(bytes.data(), data, bytes.size());
        GlobalUnlock(handle);
    }
    EXPECT_EQ(GlobalFree(handle), nullptr);
    return bytes;
}
