// Memory handles: the block layout a caller relies on (header, back-link
// byte, rounded zero-filled allocation), reallocation, the pointer layer and
// the byte-block routines.
#include <kxfpx/memory.h>

#include <gtest/gtest.h>

#include "support.h"

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

GlobalBlock *header(HGLOBAL handle) { return static_cast<GlobalBlock *>(handle); }
uint8_t *bytes(void *p) { return static_cast<uint8_t *>(p); }

uint64_t rounded_allocation(uint32_t size) { return (static_cast<uint64_t>(size) + 46) / 8 * 8; }

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

bool all_zero(const void *p, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (static_cast<const uint8_t *>(p)[i] != 0)
            return false;
    return true;
}

TEST(GlobalAlloc, HeaderLayoutAndBackLink)
{
    HGLOBAL h = GlobalAlloc(0x1234, 10);
    ASSERT_NE(h, nullptr);
    GlobalBlock *b = header(h);
    EXPECT_EQ(b->size, 10u);
    EXPECT_EQ(b->flags, 0x1234u);
    EXPECT_EQ(b->reserved, 0u);
    EXPECT_EQ(b->data, bytes(h) + 32);
    EXPECT_EQ(b->dataOffset, 32);
    // Not locked yet: the back-link byte is still zero, so GlobalHandle of
    // the data pointer does not find the header.
    EXPECT_EQ(bytes(h)[31], 0);
    EXPECT_EQ(GlobalHandle(b->data), b->data);

    void *p = GlobalLock(h);
    EXPECT_EQ(p, b->data);
    EXPECT_EQ(bytes(h)[31], 32);
    EXPECT_EQ(GlobalHandle(p), h);
    EXPECT_EQ(qorPtrGlobalHandle(p), h);
    EXPECT_TRUE(all_zero(p, 10));
    // Locks are not counted.
    EXPECT_EQ(GlobalLock(h), p);
    EXPECT_EQ(GlobalUnlock(h), 0);
    EXPECT_EQ(GlobalUnlock(h), 0);
    EXPECT_EQ(GlobalUnlock(h), 0);
    EXPECT_EQ(GlobalSize(h), 10u);
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalAlloc, AllocationIsRoundedAndZeroFilled)
{
    for (uint32_t size : {0u, 1u, 2u, 7u, 8u, 9u, 17u, 100u, 4095u}) {
        SCOPED_TRACE(size);
        HGLOBAL h = GlobalAlloc(0, size);
        ASSERT_NE(h, nullptr);
        const size_t usable = malloc_usable_size(h);
        // Under AddressSanitizer the usable size is exactly the size asked of
        // calloc; the plain heap may give a little more.
        if (kSanitized)
            EXPECT_EQ(usable, rounded_allocation(size));
        else
            EXPECT_GE(usable, rounded_allocation(size));
        // Every byte behind the header is zero, flags or not.
        EXPECT_TRUE(all_zero(bytes(h) + 32, rounded_allocation(size) - 32));
        EXPECT_EQ(GlobalSize(h), size);
        GlobalFree(h);
    }
}

TEST(GlobalAlloc, SizeZeroHasADataArea)
{
    HGLOBAL h = GlobalAlloc(0x42, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h), 0u);
    uint8_t *p = bytes(GlobalLock(h));
    ASSERT_NE(p, nullptr);
    // 40 bytes: eight bytes of data area behind the header.
    for (int i = 0; i < 8; i++)
        p[i] = 0xA5;
    EXPECT_EQ(GlobalHandle(p), h);
    GlobalFree(h);
}

TEST(GlobalAlloc, NullHandles)
{
    EXPECT_EQ(GlobalLock(nullptr), nullptr);
    EXPECT_EQ(GlobalHandle(nullptr), nullptr);
    EXPECT_EQ(GlobalFree(nullptr), nullptr);
    EXPECT_EQ(qorPtrGlobalHandle(nullptr), nullptr);
}

TEST(GlobalAlloc, FailurePrintsTheRoundedSize)
{
    if (kSanitized)
        GTEST_SKIP() << "an address-space limit cannot be set under AddressSanitizer";
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Limit the address space so that calloc of about 4 GiB fails.
        struct rlimit limit = {256u << 20, 256u << 20};
        setrlimit(RLIMIT_AS, &limit);
        dup2(out[1], STDOUT_FILENO);
        HGLOBAL h = GlobalAlloc(0, 0xFFFFFFF0u);
        fflush(stdout);
        _exit(h == nullptr ? 0 : 1);
    }
    close(out[1]);
    const std::string text = kxtest::read_all_and_close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "GlobalAlloc did not fail";
    EXPECT_EQ(text, "GlobalAlloc function failed due to insufficient memory: needs " +
                        std::to_string(rounded_allocation(0xFFFFFFF0u)) + " bytes memory!!\n");
}

TEST(GlobalAlloc, Compact)
{
    EXPECT_EQ(GlobalCompact(0), 65536u);
    EXPECT_EQ(GlobalCompact(1), 1u);
    EXPECT_EQ(GlobalCompact(0xFFFFFFFFu), 0xFFFFFFFFu);
}

TEST(GlobalReAlloc, GrowKeepsBytesAndZerosTheRest)
{
    HGLOBAL h = GlobalAlloc(0x42, 5);
    uint8_t *p = bytes(GlobalLock(h));
    std::memcpy(p, "\x01\x02\x03\x04\x05", 5);
    // Bytes of the old allocation's rounding slack must not travel.
    std::memset(p + 5, 0xEE, rounded_allocation(5) - 32 - 5);

    HGLOBAL g = GlobalReAlloc(h, 300, 0x1000);
    ASSERT_NE(g, nullptr);
    EXPECT_NE(g, h);
    EXPECT_EQ(GlobalSize(g), 300u);
    EXPECT_EQ(header(g)->flags, 0x1000u);
    uint8_t *q = bytes(GlobalLock(g));
    EXPECT_EQ(std::memcmp(q, "\x01\x02\x03\x04\x05", 5), 0);
    EXPECT_TRUE(all_zero(q + 5, 295));
    EXPECT_EQ(GlobalHandle(q), g);
    GlobalFree(g);
}

TEST(GlobalReAlloc, ShrinkKeepsTheFirstBytes)
{
    HGLOBAL h = GlobalAlloc(0, 64);
    uint8_t *p = bytes(GlobalLock(h));
    for (int i = 0; i < 64; i++)
        p[i] = static_cast<uint8_t>(i + 1);
    HGLOBAL g = GlobalReAlloc(h, 3, 0);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(GlobalSize(g), 3u);
    uint8_t *q = bytes(GlobalLock(g));
    EXPECT_EQ(q[0], 1);
    EXPECT_EQ(q[2], 3);
    EXPECT_EQ(q[3], 0);
    // The new block is not locked until GlobalLock: a reallocation of a
    // locked block hands back an unlocked one.
    GlobalFree(g);

    HGLOBAL z = GlobalReAlloc(GlobalAlloc(0, 8), 0, 0);
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(GlobalSize(z), 0u);
    GlobalFree(z);
}

TEST(PointerLayer, AllocFreeAndSizeZero)
{
    EXPECT_EQ(qorPtrGlobalAlloc(0), nullptr);
    void *p = qorPtrGlobalAlloc(12);
    ASSERT_NE(p, nullptr);
    HGLOBAL h = GlobalHandle(p);
    EXPECT_EQ(bytes(h) + 32, p);
    EXPECT_EQ(header(h)->flags, 0x42u);
    EXPECT_EQ(GlobalSize(h), 12u);
    EXPECT_TRUE(all_zero(p, 12));
    EXPECT_EQ(qorPtrGlobalFree(p), nullptr);
    EXPECT_EQ(qorPtrGlobalFree(nullptr), nullptr);
}

TEST(PointerLayer, ReAlloc)
{
    // A null pointer allocates, whatever the flags.
    void *p = qorPtrGlobalReAlloc(nullptr, 16, 0x7);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(header(GlobalHandle(p))->flags, 0x42u);
    EXPECT_EQ(GlobalSize(GlobalHandle(p)), 16u);
    EXPECT_EQ(qorPtrGlobalReAlloc(nullptr, 0, 0), nullptr);

    std::memcpy(p, "0123456789abcdef", 16);
    void *q = qorPtrGlobalReAlloc(p, 40, 0x1000);
    ASSERT_NE(q, nullptr);
    HGLOBAL h = GlobalHandle(q);
    EXPECT_EQ(header(h)->flags, 0x1042u);
    EXPECT_EQ(GlobalSize(h), 40u);
    EXPECT_EQ(std::memcmp(q, "0123456789abcdef", 16), 0);
    EXPECT_TRUE(all_zero(bytes(q) + 16, 24));

    // Size 0 frees the block (the sanitizer build would report a leak).
    EXPECT_EQ(qorPtrGlobalReAlloc(q, 0, 0), nullptr);
}

TEST(PointerLayer, PointerToHandleNeverFreesTheCallersMemory)
{
    uint8_t own[16] = {};
    HGLOBAL h = GlobalPointerToHandle(own, 16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(header(h)->size, 16u);
    EXPECT_EQ(header(h)->reserved, 0u);
    EXPECT_EQ(header(h)->data, own);
    EXPECT_EQ(header(h)->dataOffset, 32);
    EXPECT_EQ(GlobalLock(h), own);
    EXPECT_EQ(GlobalFree(h), nullptr);
    own[0] = 1;   // still ours
}

TEST(BlockRoutines, CopyRunsForwardByteByByte)
{
    uint8_t buf[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    qorHugeMemcpy(buf + 1, buf, 5);
    EXPECT_EQ(std::memcmp(buf, "aaaaaagh", 8), 0);
    qorHugeMemcpy(buf, "zz", 0);
    EXPECT_EQ(buf[0], 'a');
}

TEST(BlockRoutines, SetAndCompare)
{
    uint8_t a[6], b[6];
    std::memset(a, 0x11, sizeof a);
    qorHugeMemset(a, 0x5A, 5);
    EXPECT_EQ(std::memcmp(a, "\x5A\x5A\x5A\x5A\x5A\x11", 6), 0);

    std::memcpy(b, a, 6);
    EXPECT_EQ(qorHugeMemcmp(a, b, 6), 0);
    EXPECT_EQ(qorHugeMemcmp(a, b, 0), 0);
    b[5] = 0x90;   // differs only in the last byte, above 127
    EXPECT_EQ(qorHugeMemcmp(a, b, 6), 1);
    EXPECT_EQ(qorHugeMemcmp(b, a, 6), 0xFF);
    EXPECT_EQ(qorHugeMemcmp(a, b, 5), 0);
}

TEST(BlockRoutines, MemallocAndIfFree)
{
    uint8_t *p = static_cast<uint8_t *>(memalloc(0));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], 0);
    void *slot = p;
    EXPECT_EQ(if_free(&slot), 0);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(if_free(&slot), 0);
    EXPECT_EQ(if_free(nullptr), 0);

    uint8_t *q = static_cast<uint8_t *>(memalloc(33));
    EXPECT_TRUE(all_zero(q, 33));
    slot = q;
    if_free(&slot);
}

} // namespace
