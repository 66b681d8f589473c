// A test tool of the end-to-end tests, never shipped: the programs' stack guard on its own.
// "seed" prints the guard as the start-up left it, in hexadecimal; "fail" calls the
// handler a failed check calls.
#include <cstdint>
#include <cstdio>
#include <cstring>

extern "C" uintptr_t __stack_chk_guard;
extern "C" [[noreturn]] void __stack_chk_fail();

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "seed") == 0) {
        std::printf("%016llx\n", static_cast<unsigned long long>(__stack_chk_guard));
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "fail") == 0) {
        __stack_chk_fail();
    }
    return 2;
}
