// The stack protector's guard and failure handlers, our own. GCC's libssp has them too,
// but its guard set-up takes random bytes from the RSA crypto provider at every start,
// which under Wine loads nine more libraries and costs a third of a status run. The guard
// here is mixed the way the Windows C runtime makes its security cookie: from the time,
// the performance counter, the process and thread ids and an address that ASLR moves;
// where the processor has a random number generator, 64 bits of it go in too: a few
// instructions, no library loaded.
// Built without the stack protector itself: it runs before the guard is set.
#include <cpuid.h>
#include <windows.h>

#include <cstdint>

extern "C" {

/// Read at the entry and the exit of every protected function; a changed value means the
/// stack was overwritten. Replaced by `seedStackGuard` before any of our code runs.
uintptr_t __stack_chk_guard = 0x00000B0A7E6B7A2DULL;

/// A smashed stack or an overrun buffer ends the process at once: nothing on a corrupted
/// stack may run, not even an exception handler. As in the Windows C runtime, the
/// fast-fail interrupt does that in the kernel, with the stack-cookie code in ecx, where
/// the system has it; an older system would take the interrupt for a fault and run the
/// handlers, so there the process terminates itself instead.
[[noreturn]] void __stack_chk_fail() {
    if (IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE)) {
        __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) : "memory");
    }
    TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    __builtin_unreachable();
}

[[noreturn]] void __stack_chk_fail_local() {
    __stack_chk_fail();
}

/// Called by the checked copies (__memcpy_chk and the like) that _FORTIFY_SOURCE uses.
[[noreturn]] void __chk_fail() {
    __stack_chk_fail();
}
}

namespace {

/// 64 bits from the processor's random number generator; 0 where it has none, or when it
/// gave nothing in ten tries (it can run dry for a moment under load).
__attribute__((target("rdrnd"))) uint64_t processorRandom() {
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (ecx & bit_RDRND) == 0) {
        return 0;
    }
    for (int attempt = 0; attempt < 10; ++attempt) {
        unsigned long long value = 0;
        if (__builtin_ia32_rdrand64_step(&value) != 0) {
            return value;
        }
    }
    return 0;
}

/// Runs before every other constructor of the program (priority 101 is the first one
/// left to programs), so no protected frame is live while the guard changes.
__attribute__((constructor(101))) void seedStackGuard() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    uint64_t guard = (static_cast<uint64_t>(now.dwHighDateTime) << 32) ^ now.dwLowDateTime;
    guard ^=
        static_cast<uint64_t>(counter.QuadPart) << 32 ^ static_cast<uint64_t>(counter.QuadPart);
    guard ^= static_cast<uint64_t>(GetCurrentProcessId()) << 16;
    guard ^= GetCurrentThreadId();
    guard ^= GetTickCount64() << 40;
    guard ^= reinterpret_cast<uintptr_t>(&now);
    // Mixed in, not used alone: a generator that answers a constant (as some have after a
    // firmware fault) takes nothing away from the rest.
    guard ^= processorRandom();
    // A zero byte at the bottom stops a string overrun from copying the guard back in.
    __stack_chk_guard = static_cast<uintptr_t>(guard & ~uint64_t{0xFF});
}

}  // namespace
