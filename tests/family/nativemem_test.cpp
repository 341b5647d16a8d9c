// The native memory library on its own: zero-filled blocks of any size,
// handles distinct from data pointers, counted locks, and refusal of what is
// not a live handle.
#include <gtest/gtest.h>
#include <nativemem/qe_core.h>

#include <cstring>

namespace {

TEST(NativeMemory, BlocksAreZeroFilledAndWritable)
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
        EXPECT_EQ(NativeBlockUnlock(handle), 0);
        EXPECT_EQ(NativeBlockFree(handle), 0);
    }
}

TEST(NativeMemory, LocksAreCountedAndTheDataDoesNotMove)
{
    void *handle = NativeBlockAlloc(16);
    ASSERT_NE(handle, nullptr);
    void *first = NativeBlockLock(handle);
    void *second = NativeBlockLock(handle);
    EXPECT_EQ(first, second);
    EXPECT_EQ(NativeBlockUnlock(handle), 1);
    EXPECT_EQ(NativeBlockUnlock(handle), 0);
    EXPECT_EQ(NativeBlockUnlock(handle), 0);  // never below zero
    // A locked block may still be freed.
    ASSERT_NE(NativeBlockLock(handle), nullptr);
    EXPECT_EQ(NativeBlockFree(handle), 0);
}

TEST(NativeMemory, NullAndForeignHandlesAreRefused)
{
    EXPECT_EQ(NativeBlockLock(nullptr), nullptr);
    EXPECT_EQ(NativeBlockUnlock(nullptr), -1);
    EXPECT_EQ(NativeBlockFree(nullptr), 0);
    EXPECT_EQ(NativeBlockSize(nullptr), 0u);

    // The data pointer is not a handle.
    void *handle = NativeBlockAlloc(264);
    ASSERT_NE(handle, nullptr);
    void *data = NativeBlockLock(handle);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(NativeBlockLock(data), nullptr);
    EXPECT_EQ(NativeBlockUnlock(data), -1);
    EXPECT_EQ(NativeBlockFree(data), -1);
    EXPECT_EQ(NativeBlockSize(data), 0u);

    alignas(16) unsigned char stack_bytes[64] = {};
    EXPECT_EQ(NativeBlockLock(stack_bytes), nullptr);
    EXPECT_EQ(NativeBlockFree(stack_bytes), -1);
    EXPECT_EQ(NativeBlockFree(handle), 0);
}

} // namespace
