#pragma once
// A byte buffer fenced by inaccessible pages, so that a read or write of even
// one byte outside it faults at once instead of passing silently. The buffer
// is placed flush against the page after it (over-runs fault) or, on request,
// flush against the page before it (under-runs fault, for bottom-up walks).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <sys/mman.h>
#endif

namespace snaplark::test {

#ifdef _WIN32
inline LONG WINAPI ReportFatalException(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  void* target = record->NumberParameters >= 2 ? reinterpret_cast<void*>(record->ExceptionInformation[1]) : nullptr;
  std::fprintf(stderr, "fatal exception 0x%08lx at %p (access to %p)\n",
               static_cast<unsigned long>(record->ExceptionCode), record->ExceptionAddress, target);
  std::fflush(stderr);
  return EXCEPTION_EXECUTE_HANDLER;  // ends the process with the exception code
}
#endif

// A touch of a fence (or any other crash) must end the test program at once,
// with a message. Left unhandled under Wine, the crash starts Wine's debugger
// and the run hangs until the test times out. On Linux the default SIGSEGV
// action already ends the program.
inline void EndRunOnFatalException() {
#ifdef _WIN32
  static const LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(ReportFatalException);
  (void)previous;
#endif
}

class GuardedBuffer {
 public:
  enum class Flush { AgainstEnd, AgainstStart };

  explicit GuardedBuffer(std::size_t size, Flush flush = Flush::AgainstEnd) : size_(size) {
    EndRunOnFatalException();
    const std::size_t page = PageSize();
    const std::size_t dataPages = (size + page - 1) / page;
    mappedBytes_ = (dataPages + 2) * page;  // one guard page on either side
#ifdef _WIN32
    base_ = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, mappedBytes_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (!base_) return;
    DWORD old = 0;
    if (!VirtualProtect(base_, page, PAGE_NOACCESS, &old) ||
        !VirtualProtect(base_ + page + dataPages * page, page, PAGE_NOACCESS, &old)) {
      Free();
      return;
    }
#else
    void* mapped = mmap(nullptr, mappedBytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return;
    base_ = static_cast<std::uint8_t*>(mapped);
    if (mprotect(base_, page, PROT_NONE) != 0 || mprotect(base_ + page + dataPages * page, page, PROT_NONE) != 0) {
      Free();
      return;
    }
#endif
    std::uint8_t* firstDataByte = base_ + page;
    data_ = flush == Flush::AgainstStart ? firstDataByte : firstDataByte + dataPages * page - size;
  }

  ~GuardedBuffer() { Free(); }
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;

  // Null when the pages could not be set up.
  std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::uint8_t* begin() const { return data_; }
  std::uint8_t* end() const { return data_ + size_; }

  void Fill(std::uint8_t value) {
    if (data_) std::memset(data_, value, size_);
  }

 private:
  static std::size_t PageSize() {
#ifdef _WIN32
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
#else
    return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
#endif
  }

  void Free() {
    if (!base_) return;
#ifdef _WIN32
    VirtualFree(base_, 0, MEM_RELEASE);
#else
    munmap(base_, mappedBytes_);
#endif
    base_ = nullptr;
    data_ = nullptr;
  }

  std::size_t size_ = 0;
  std::size_t mappedBytes_ = 0;
  std::uint8_t* base_ = nullptr;
  std::uint8_t* data_ = nullptr;
};

}  // namespace snaplark::test
