// The native memory stand-in: zero-filled blocks apart from their handles, counted locks,
// refusal of anything that is not a live handle.
#include <gtest/gtest.h>
#include <nativemem/qe_core.h>

#include <algorithm>
#include <cstring>

namespace {

TEST(NativeMemory, ZeroFilledBlocksAndCountedLocks)
{
    for (uint32_t size : {0u, 264u}) {
        SCOPED_TRACE(size);
        void *handle = NativeBlockAlloc(size);
        ASSERT_NE(handle, nullptr);
        auto *data = static_cast<unsigned char *>(NativeBlockLock(handle));
        ASSERT_TRUE(data && data != handle);
        EXPECT_TRUE(std::all_of(data, data + size, [](unsigned char c) { return c == 0; }));
        std::memset(data, 0x5A, size);
        EXPECT_EQ(NativeBlockLock(handle), data);
        // Two locks, two unlocks, never below zero; a locked block may be freed.
        for (int32_t count : {1, 0, 0})
            EXPECT_EQ(NativeBlockUnlock(handle), count);
        ASSERT_EQ(NativeBlockLock(handle), data);
        EXPECT_EQ(NativeBlockFree(handle), 0);
    }
}

TEST(NativeMemory, NullAndForeignHandlesAreRefused)
{
    EXPECT_TRUE(NativeBlockLock(nullptr) == nullptr && NativeBlockSize(nullptr) == 0);
    EXPECT_EQ(NativeBlockUnlock(nullptr), -1);
    EXPECT_EQ(NativeBlockFree(nullptr), 0);
    void *handle = NativeBlockAlloc(264);
    alignas(16) unsigned char stack_bytes[64] = {};
    for (void *foreign : {NativeBlockLock(handle), static_cast<void *>(stack_bytes)}) {
        EXPECT_TRUE(NativeBlockLock(foreign) == nullptr && NativeBlockSize(foreign) == 0);
        EXPECT_EQ(NativeBlockUnlock(foreign), -1);
        EXPECT_EQ(NativeBlockFree(foreign), -1);
    }
    EXPECT_EQ(NativeBlockFree(handle), 0);
}

} // namespace
