// LD_PRELOAD shim for scripts/measure-live: counts heap allocations of a running process, and
// writes the count to standard error whenever the process receives SIGUSR2. It forwards to glibc's
// own allocator entry points, so it needs no dlsym (which would itself allocate).
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstddef>

// glibc's allocator entry points: reserved names, which is the point of calling them.
// NOLINTBEGIN(bugprone-reserved-identifier)
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);
}
// NOLINTEND(bugprone-reserved-identifier)

namespace {

std::atomic<long> allocations{0};

// Async-signal-safe: formats with no library call and writes with write(2).
void Report(int) {
    char text[48] = "allocations=";
    size_t at = 12;
    char digits[24];
    size_t n = 0;
    long value = allocations.load(std::memory_order_relaxed);
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0 && n < sizeof digits);
    while (n > 0) text[at++] = digits[--n];
    text[at++] = '\n';
    (void)!write(STDERR_FILENO, text, at);
}

struct Install {
    Install() {
        struct sigaction action {};
        action.sa_handler = Report;
        action.sa_flags = SA_RESTART;
        sigaction(SIGUSR2, &action, nullptr);
    }
} install;

}  // namespace

extern "C" {

void* malloc(size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}

void* realloc(void* block, size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(block, size);
}

void* memalign(size_t alignment, size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    *out = __libc_memalign(alignment, size);
    return *out != nullptr ? 0 : 12;  // ENOMEM
}

void* aligned_alloc(size_t alignment, size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}

void free(void* block) {
    __libc_free(block);
}
}
