#include "renderer/host/memory_tracker.h"

#include <cstdio>
#include <cstdlib>

namespace vosh::render {

void* MemoryTracker::allocate(const char* file, int32_t line, int32_t size) {
    if (size < 0) return nullptr;
    void* block = std::calloc(1, size > 0 ? static_cast<size_t>(size) : 1);
    if (!block) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    blocks_[block] = std::string(file ? file : "?") + ":" + std::to_string(line) + " (" +
                     std::to_string(size) + " bytes)";
    return block;
}

bool MemoryTracker::release(void* block) {
    if (!block) return true;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = blocks_.find(block);
    if (it == blocks_.end()) return false;
    blocks_.erase(it);
    std::free(block);
    return true;
}

size_t MemoryTracker::report_leaks() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [block, where] : blocks_) {
        std::fprintf(stderr, "vosh-render: module memory never released: block allocated at %s\n",
                     where.c_str());
        std::free(block);
    }
    const size_t n = blocks_.size();
    blocks_.clear();
    return n;
}

}  // namespace vosh::render
