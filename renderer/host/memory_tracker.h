// Blocks handed out through mi_mem_int_allocate, for the leak report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace vosh::render {

class MemoryTracker {
public:
    void* allocate(const char* file, int32_t line, int32_t size);
    bool release(void* block);
    // One line per block still held; returns how many.
    size_t report_leaks();

private:
    std::mutex mutex_;
    std::map<void*, std::string> blocks_;
};

}  // namespace vosh::render
