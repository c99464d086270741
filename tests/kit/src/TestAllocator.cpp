#include <tessel/kit/TestAllocator.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace quillon {

TestAllocator::~TestAllocator() {
    for (auto &[address, block] : live_)
        std::free(const_cast<void *>(address));
}

bool TestAllocator::admit() {
    ++counts_.allocations;
    if (failAt_ != 0 && counts_.allocations == failAt_) {
        ++counts_.failures;
        return false;
    }
    return true;
}

void *TestAllocator::allocate(uint32_t cb) {
    std::lock_guard lock(mutex_);
    if (!admit())
        return nullptr;
    if (cb > kMaxBlockSize) {
        ++counts_.failures;
        return nullptr;
    }
    void *pBlock = std::malloc(std::max<uint32_t>(cb, 1));
    if (pBlock == nullptr) {
        ++counts_.failures;
        return nullptr;
    }
    if (!track(pBlock, cb)) {
        std::free(pBlock);
        return nullptr;
    }
    return pBlock;
}

void TestAllocator::release(void *pBlock) {
    if (pBlock == nullptr)
        return;
    std::lock_guard lock(mutex_);
    ++counts_.frees;
    auto it = live_.find(pBlock);
    if (it == live_.end()) {
        // A double free or a foreign block: counted, never passed on to free().
        ++counts_.unknownFrees;
        return;
    }
    live_.erase(it);
    std::free(pBlock);
}

void *TestAllocator::reallocate(void *pBlock, uint32_t cb, bool zeroFill) {
    if (pBlock == nullptr) {
        void *pNew = allocate(cb);
        if (pNew != nullptr && zeroFill)
            std::memset(pNew, 0, cb);
        return pNew;
    }
    std::lock_guard lock(mutex_);
    auto it = live_.find(pBlock);
    if (it == live_.end()) {
        ++counts_.allocations;
        ++counts_.unknownFrees;
        ++counts_.failures;
        return nullptr;
    }
    if (!admit())
        return nullptr;
    if (cb > kMaxBlockSize) {
        ++counts_.failures;
        return nullptr;
    }
    // Always move the block, so that callers holding the old address are caught by the sanitizers.
    void *pNew = std::malloc(std::max<uint32_t>(cb, 1));
    if (pNew == nullptr) {
        ++counts_.failures;
        return nullptr;
    }
    uint32_t cbOld = it->second.size;
    std::memcpy(pNew, pBlock, std::min(cbOld, cb));
    if (zeroFill && cb > cbOld)
        std::memset(static_cast<char *>(pNew) + cbOld, 0, cb - cbOld);
    if (!track(pNew, cb)) {
        std::free(pNew);
        return nullptr;
    }
    live_.erase(pBlock);
    std::free(pBlock);
    return pNew;
}

bool TestAllocator::track(void *pBlock, uint32_t cb) {
    try {
        live_.emplace(pBlock, Block{pBlock, cb, ++serial_});
        return true;
    } catch (const std::bad_alloc &) {
        ++counts_.failures;
        return false;
    }
}

void TestAllocator::failAllocation(uint64_t n) {
    std::lock_guard lock(mutex_);
    failAt_ = n;
}

void TestAllocator::resetCounts() {
    std::lock_guard lock(mutex_);
    counts_ = Counts{};
}

TestAllocator::Counts TestAllocator::counts() const {
    std::lock_guard lock(mutex_);
    return counts_;
}

size_t TestAllocator::liveCount() const {
    std::lock_guard lock(mutex_);
    return live_.size();
}

uint64_t TestAllocator::liveBytes() const {
    std::lock_guard lock(mutex_);
    uint64_t cb = 0;
    for (const auto &[address, block] : live_)
        cb += block.size;
    return cb;
}

std::vector<TestAllocator::Block> TestAllocator::liveBlocks() const {
    std::lock_guard lock(mutex_);
    std::vector<Block> blocks;
    blocks.reserve(live_.size());
    for (const auto &[address, block] : live_)
        blocks.push_back(block);
    std::sort(blocks.begin(), blocks.end(),
              [](const Block &a, const Block &b) { return a.serial < b.serial; });
    return blocks;
}

} // namespace quillon
