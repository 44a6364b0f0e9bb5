// Entry points of the component object when the memory runs out: no exception reaches the host.
// This test program's allocation functions can be told to refuse every request of the calling
// thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "component/napi.h"

namespace {
thread_local bool g_refuseAllocations = false;
}  // namespace

// These replace the runtime's allocation functions as a pair: what they hand out, they free.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
    if (g_refuseAllocations) throw std::bad_alloc();
    if (void* block = std::malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

namespace {

TEST(Component, InitAnswersFalseWhenItsLogLineCannotBeBuilt) {
    vesklink::nAPI api;
    int connection = 0;
    bool result = true;
    g_refuseAllocations = true;
    EXPECT_NO_THROW(result = api.Init(&connection));
    g_refuseAllocations = false;
    EXPECT_FALSE(result);
    EXPECT_EQ(static_cast<void*>(api.Connection), static_cast<void*>(&connection)) << "the connection is kept";
}

}  // namespace
