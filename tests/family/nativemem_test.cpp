// The native memory stand-in: zero-filled blocks, handles distinct from data,
// counted locks, refusal of anything that is not a live handle.
#include <gtest/gtest.h>
#include <nativemem/qe_core.h>

#include <cstring>

namespace {

TEST(NativeMemory, ZeroFilledBlocksAndCountedLocks)
{
    for (uint32_t size : {0u, 1u, 264u, 100000u}) {
        SCOPED_TRACE(size);
        void *handle = NativeBlockAlloc(size);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(NativeBlockSize(handle), size);
        auto *data = static_cast<unsigned char *>(NativeBlockLock(handle));
        ASSERT_NE(data, nullptr);
        EXPECT_NE(static_cast<void *>(data), handle);
        for (uint32_t i = 0; i < size; ++i)
            ASSERT_EQ(data[i], 0) << i;
        std::memset(data, 0x5A, size);
        EXPECT_EQ(NativeBlockLock(handle), data);
        EXPECT_EQ(NativeBlockUnlock(handle), 1);
        EXPECT_EQ(NativeBlockUnlock(handle), 0);
        EXPECT_EQ(NativeBlockUnlock(handle), 0); // never below zero
        ASSERT_EQ(NativeBlockLock(handle), data);
        EXPECT_EQ(NativeBlockFree(handle), 0);   // a locked block may be freed
    }
}

TEST(NativeMemory, NullAndForeignHandlesAreRefused)
{
    EXPECT_EQ(NativeBlockLock(nullptr), nullptr);
    EXPECT_EQ(NativeBlockUnlock(nullptr), -1);
    EXPECT_EQ(NativeBlockFree(nullptr), 0);
    EXPECT_EQ(NativeBlockSize(nullptr), 0u);
    void *handle = NativeBlockAlloc(264);
    void *data = NativeBlockLock(handle);
    alignas(16) unsigned char stack_bytes[64] = {};
    for (void *foreign : {data, static_cast<void *>(stack_bytes)}) {
        EXPECT_EQ(NativeBlockLock(foreign), nullptr);
        EXPECT_EQ(NativeBlockUnlock(foreign), -1);
        EXPECT_EQ(NativeBlockFree(foreign), -1);
        EXPECT_EQ(NativeBlockSize(foreign), 0u);
    }
    EXPECT_EQ(NativeBlockFree(handle), 0);
}

} // namespace
