// Memory handles: block layout, reallocation, the pointer layer and the byte-block routines.
#include <kxfpx/memory.h>

#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

GlobalBlock *header(HGLOBAL handle) { return static_cast<GlobalBlock *>(handle); }
uint8_t *bytes(void *p) { return static_cast<uint8_t *>(p); }
uint64_t rounded_allocation(uint32_t size) { return (uint64_t{size} + 46) / 8 * 8; }
#ifdef KXFPX_EXACT_BLOCKS // sanitizer builds: the data ends exactly at its size
uint64_t block_bytes(uint32_t size) { return 32 + uint64_t{size}; }
#else
uint64_t block_bytes(uint32_t size) { return rounded_allocation(size); }
#endif
bool all_zero(const void *p, size_t n)
{
    const auto *b = static_cast<const uint8_t *>(p);
    return std::all_of(b, b + n, [](uint8_t c) { return c == 0; });
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// The data 32 bytes in, the back-link byte before it written by a lock; locks are not counted.
TEST(GlobalAlloc, HeaderLayoutAndBackLink)
{
    HGLOBAL h = GlobalAlloc(0, 10);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(header(h)->data, bytes(h) + 32);
    void *p = GlobalLock(h);
    EXPECT_EQ(bytes(h)[31], 32);
    EXPECT_TRUE(GlobalHandle(p) == h && qorPtrGlobalHandle(p) == h && GlobalLock(h) == p);
    EXPECT_EQ(GlobalUnlock(h), 0);
    EXPECT_EQ(GlobalFree(h), nullptr);

    EXPECT_TRUE(!GlobalLock(nullptr) && !GlobalHandle(nullptr) && !GlobalFree(nullptr) && !qorPtrGlobalHandle(nullptr));
    EXPECT_EQ(GlobalCompact(0), 65536u); // 0 asks for the default
}

TEST(GlobalAlloc, AllocationIsRoundedAndZeroFilled)
{
    for (uint32_t size : {0u, 1u, 2u, 4095u}) { // 1 and 2 straddle a rounding step
        SCOPED_TRACE(size);
        HGLOBAL h = GlobalAlloc(0, size);
        ASSERT_NE(h, nullptr);
        if (kSanitized)
            EXPECT_EQ(malloc_usable_size(h), block_bytes(size));
        else
            EXPECT_GE(malloc_usable_size(h), block_bytes(size));
        EXPECT_TRUE(all_zero(bytes(h) + 32, block_bytes(size) - 32));
        EXPECT_EQ(GlobalSize(h), size);
        std::memset(GlobalLock(h), 0xA5, block_bytes(size) - 32); // all of the block is usable
        GlobalFree(h);
    }
}

TEST(GlobalAlloc, FailurePrintsTheRoundedSize)
{
    if (kSanitized)
        GTEST_SKIP() << "an address-space limit cannot be set under a sanitizer";
    const auto fail_in_a_small_address_space = [] {
        struct rlimit limit = {256u << 20, 256u << 20};
        setrlimit(RLIMIT_AS, &limit);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        HGLOBAL h = GlobalAlloc(0, 0xFFFFFFF0u);
        fflush(stdout);
        _exit(h == nullptr ? 0 : 1);
    };
    EXPECT_EXIT(fail_in_a_small_address_space(), ::testing::ExitedWithCode(0),
                "^GlobalAlloc function failed due to insufficient memory: needs " +
                    std::to_string(rounded_allocation(0xFFFFFFF0u)) + " bytes memory!!\n$");
}

TEST(GlobalReAlloc, KeepsTheFirstBytesAndZerosTheRest)
{
    HGLOBAL h = GlobalAlloc(0x42, 5);
    uint8_t *p = bytes(GlobalLock(h));
    std::memcpy(p, "\x01\x02\x03\x04\x05", 5);
    std::memset(p + 5, 0xEE, block_bytes(5) - 32 - 5); // slack must not travel
    HGLOBAL g = GlobalReAlloc(h, 300, 0x1000);
    ASSERT_TRUE(g && g != h);
    EXPECT_EQ(GlobalSize(g), 300u);
    EXPECT_EQ(header(g)->flags, 0x1000u);
    uint8_t *q = bytes(GlobalLock(g));
    EXPECT_EQ(std::memcmp(q, "\x01\x02\x03\x04\x05", 5), 0);
    EXPECT_TRUE(all_zero(q + 5, 295));

    HGLOBAL s = GlobalReAlloc(g, 3, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(GlobalSize(s), 3u);
    q = bytes(GlobalLock(s));
    EXPECT_EQ(std::memcmp(q, "\x01\x02\x03", 3), 0);
    EXPECT_TRUE(block_bytes(3) == 35 || q[3] == 0); // the old byte does not travel into the slack
    GlobalFree(s);
}

TEST(PointerLayer, AllocReAllocFreeAndForeignMemory)
{
    EXPECT_TRUE(!qorPtrGlobalAlloc(0) && !qorPtrGlobalReAlloc(nullptr, 0, 0) && !qorPtrGlobalFree(nullptr));
    void *p = qorPtrGlobalAlloc(12);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(header(GlobalHandle(p))->flags, 0x42u);
    EXPECT_EQ(GlobalSize(GlobalHandle(p)), 12u);
    EXPECT_EQ(qorPtrGlobalFree(p), nullptr);

    p = qorPtrGlobalReAlloc(nullptr, 16, 0x7); // a null pointer allocates
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(header(GlobalHandle(p))->flags, 0x42u);
    void *q = qorPtrGlobalReAlloc(p, 40, 0x1000);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(header(GlobalHandle(q))->flags, 0x1042u);
    EXPECT_EQ(GlobalSize(GlobalHandle(q)), 40u);
    EXPECT_EQ(qorPtrGlobalReAlloc(q, 0, 0), nullptr); // frees (else a leak report)

    uint8_t own[16] = {}; // a handle for the caller's memory never frees it
    HGLOBAL h = GlobalPointerToHandle(own, 16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h), 16u);
    EXPECT_EQ(GlobalLock(h), own);
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(BlockRoutines, CopySetCompareAndAllocate)
{
    uint8_t buf[9] = "abcdefgh";
    qorHugeMemcpy(buf + 1, buf, 5); // forward, byte by byte
    EXPECT_STREQ(reinterpret_cast<char *>(buf), "aaaaaagh");
    qorHugeMemcpy(buf, "zz", 0);
    EXPECT_EQ(buf[0], 'a');

    uint8_t a[6] = {0x11, 0x11, 0x11, 0x11, 0x11, 0x11}, b[6];
    qorHugeMemset(a, 0x5A, 5);
    EXPECT_EQ(std::memcmp(a, "\x5A\x5A\x5A\x5A\x5A\x11", 6), 0);
    std::memcpy(b, a, 6);
    EXPECT_EQ(qorHugeMemcmp(a, b, 6), 0);
    EXPECT_EQ(qorHugeMemcmp(a, b, 0), 0);
    b[5] = 0x90; // differs in the last byte only, above 127
    EXPECT_EQ(qorHugeMemcmp(a, b, 6), 1);
    EXPECT_EQ(qorHugeMemcmp(b, a, 6), 0xFF);
    EXPECT_EQ(qorHugeMemcmp(a, b, 5), 0);

    for (size_t size : {0, 33}) {
        void *slot = memalloc(size);
        ASSERT_NE(slot, nullptr);
        EXPECT_TRUE(all_zero(slot, size ? size : 1));
        EXPECT_EQ(if_free(&slot), 0);
        EXPECT_EQ(slot, nullptr);
    }
    void *slot = nullptr;
    EXPECT_EQ(if_free(&slot), 0);
    EXPECT_EQ(if_free(nullptr), 0);
}

} // namespace
