#pragma once
// Small owners for the platform's handles, so that no early return leaks one.
#include <windows.h>

#include <io.h>
#include <utility>

template <typename Traits>
class UniqueResource {
  public:
    using Value = typename Traits::Value;
    UniqueResource() = default;
    explicit UniqueResource(Value value) : value_(value) {}
    ~UniqueResource() { reset(); }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    Value get() const { return value_; }
    bool valid() const { return value_ != Traits::invalid(); }
    explicit operator bool() const { return valid(); }
    Value release() { return std::exchange(value_, Traits::invalid()); }
    void reset(Value value = Traits::invalid()) {
        if (valid()) {
            Traits::close(value_);
        }
        value_ = value;
    }

  private:
    Value value_ = Traits::invalid();
};

struct FileHandleTraits {
    using Value = HANDLE;
    static Value invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Value value) { CloseHandle(value); }
};
// Handles from CreateFileW: INVALID_HANDLE_VALUE means none.
using UniqueFileHandle = UniqueResource<FileHandleTraits>;

struct KernelHandleTraits {
    using Value = HANDLE;
    static Value invalid() { return nullptr; }
    static void close(Value value) { CloseHandle(value); }
};
// Process, thread and mutex handles: null means none.
using UniqueKernelHandle = UniqueResource<KernelHandleTraits>;

struct FindHandleTraits {
    using Value = HANDLE;
    static Value invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Value value) { FindClose(value); }
};
using UniqueFindHandle = UniqueResource<FindHandleTraits>;

struct DescriptorTraits {
    using Value = int;
    static Value invalid() { return -1; }
    static void close(Value value) { _close(value); }
};
// Low-level runtime file descriptors.
using UniqueDescriptor = UniqueResource<DescriptorTraits>;

struct LocalMemoryTraits {
    using Value = HLOCAL;
    static Value invalid() { return nullptr; }
    static void close(Value value) { LocalFree(value); }
};
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;

struct ModuleTraits {
    using Value = HMODULE;
    static Value invalid() { return nullptr; }
    static void close(Value value) { FreeLibrary(value); }
};
using UniqueModule = UniqueResource<ModuleTraits>;
