/*
 * Starts preset-nvidia or preset-amd and reads its result line and exit code (Windows), or
 * parses the bytes of one run saved in a file (anywhere):
 *
 *     read_result.exe <program.exe> <command> [arguments...]     (Windows)
 *     read_result --file <stdout-bytes>                          (any system)
 *
 * Both print the five fields, one per line, and on Windows the exit code. Build with any C99
 * compiler: "cc -std=c99 read_result.c" or "x86_64-w64-mingw32-gcc -municode read_result.c".
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct result_line {
    char kind[16];
    char vendor[16];
    long supported;
    long changed;
    char message[256];
};

/* Copies `text` (without its end) into `dst`; false when it does not fit. */
static int copy_field(char* dst, size_t cap, const char* text, size_t len) {
    if (len >= cap) {
        return 0;
    }
    memcpy(dst, text, len);
    dst[len] = '\0';
    return 1;
}

/* Reads "name=" and the text up to the next ';' at *cursor (before `end`). */
static int take_field(const char** cursor, const char* end, const char* name, char* dst,
                      size_t cap) {
    size_t name_len = strlen(name);
    const char* value;
    const char* stop;
    if ((size_t)(end - *cursor) < name_len || memcmp(*cursor, name, name_len) != 0) {
        return 0;
    }
    value = *cursor + name_len;
    stop = memchr(value, ';', (size_t)(end - value));
    if (stop == NULL) {
        stop = end;
    }
    if (!copy_field(dst, cap, value, (size_t)(stop - value))) {
        return 0;
    }
    *cursor = stop == end ? end : stop + 1;
    return 1;
}

static int parse_count(const char* text, long* out) {
    char* end;
    if (text[0] < '0' || text[0] > '9') {
        return 0;
    }
    *out = strtol(text, &end, 10);
    return *end == '\0';
}

/*
 * Parses the bytes one run printed. The first four fields are split at ';'; the message is
 * everything after ";message=", because a message may itself hold ';' (and '='). Returns 1
 * on success, 0 when the bytes are not exactly one result line ending in CR LF.
 */
int parse_result_line(const char* data, size_t size, struct result_line* out) {
    static const char marker[] = ";message=";
    const size_t marker_len = sizeof marker - 1;
    const char* end;
    const char* message = NULL;
    const char* cursor = data;
    char count[16];
    size_t i;
    if (size < 2 || data[size - 2] != '\r' || data[size - 1] != '\n') {
        return 0;
    }
    end = data + size - 2;
    for (i = 0; i < size - 2; ++i) {
        if (data[i] == '\n' || data[i] == '\r' || data[i] == '\0') {
            return 0; /* more than one line */
        }
    }
    for (i = 0; i + marker_len <= size - 2; ++i) {
        if (memcmp(data + i, marker, marker_len) == 0) {
            message = data + i;
            break;
        }
    }
    if (message == NULL) {
        return 0;
    }
    /* The four fields end at the message marker; each is "name=value". */
    if (!take_field(&cursor, message, "result=", out->kind, sizeof out->kind) ||
        !take_field(&cursor, message, "vendor=", out->vendor, sizeof out->vendor) ||
        !take_field(&cursor, message, "supported=", count, sizeof count) ||
        !parse_count(count, &out->supported) ||
        !take_field(&cursor, message, "changed=", count, sizeof count) ||
        !parse_count(count, &out->changed) || cursor != message) {
        return 0;
    }
    return copy_field(out->message, sizeof out->message, message + marker_len,
                      (size_t)(end - (message + marker_len)));
}

static void print_line(const struct result_line* line) {
    printf("result: %s\nvendor: %s\nsupported: %ld\nchanged: %ld\nmessage: %s\n", line->kind,
           line->vendor, line->supported, line->changed, line->message);
}

#ifdef _WIN32
#include <windows.h>
#include <wchar.h>

/* Longer than a run can take: it waits up to 10 seconds for another run on its backup path. */
#define RUN_TIMEOUT_MS 60000

/* Appends `arg` to `cmd` quoted so that the program's argument parser gives it back as is. */
static void append_quoted(wchar_t* cmd, size_t cap, const wchar_t* arg) {
    size_t n = wcslen(cmd);
    const wchar_t* p;
#define PUT(c)               \
    do {                     \
        if (n + 1 < cap) {   \
            cmd[n++] = (c);  \
        }                    \
    } while (0)
    if (n > 0) {
        PUT(L' ');
    }
    PUT(L'"');
    for (p = arg;; ++p) {
        size_t slashes = 0;
        while (*p == L'\\') {
            ++p;
            ++slashes;
        }
        if (*p == L'\0') {
            /* Backslashes before the closing quote are doubled. */
            for (slashes *= 2; slashes > 0; --slashes) PUT(L'\\');
            break;
        }
        if (*p == L'"') {
            for (slashes = slashes * 2 + 1; slashes > 0; --slashes) PUT(L'\\');
        } else {
            for (; slashes > 0; --slashes) PUT(L'\\');
        }
        PUT(*p);
    }
    PUT(L'"');
    cmd[n] = L'\0';
#undef PUT
}

/*
 * Runs `program` with `argc` arguments, no console window, standard output into a temporary
 * file that is read as bytes once the run ended. Returns 1 with the bytes and exit code,
 * 0 when the program could not be started or did not end in time (it is then ended; a run
 * stopped at any point leaves the backup usable).
 */
int run_preset(const wchar_t* program, int argc, wchar_t** argv, char* out, size_t cap,
               size_t* got, DWORD* exit_code) {
    static wchar_t cmd[32768];
    wchar_t dir[MAX_PATH + 1], name[MAX_PATH + 1];
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    HANDLE file, nul;
    DWORD read = 0;
    int ok = 0, i;
    cmd[0] = L'\0';
    append_quoted(cmd, sizeof cmd / sizeof cmd[0], program);
    for (i = 0; i < argc; ++i) {
        append_quoted(cmd, sizeof cmd / sizeof cmd[0], argv[i]);
    }
    if (GetTempPathW(MAX_PATH + 1, dir) == 0 || GetTempFileNameW(dir, L"prs", 0, name) == 0) {
        return 0;
    }
    file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileW(name);
        return 0;
    }
    nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      &inherit, OPEN_EXISTING, 0, NULL);
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul;
    si.hStdOutput = file;
    si.hStdError = nul;
    if (CreateProcessW(program, cmd, NULL, NULL, TRUE, CREATE_NO_WINDOW, NULL, NULL, &si,
                       &pi)) {
        if (WaitForSingleObject(pi.hProcess, RUN_TIMEOUT_MS) == WAIT_OBJECT_0 &&
            GetExitCodeProcess(pi.hProcess, exit_code) &&
            SetFilePointer(file, 0, NULL, FILE_BEGIN) == 0 &&
            ReadFile(file, out, (DWORD)cap, &read, NULL)) {
            *got = read;
            ok = 1;
        } else {
            TerminateProcess(pi.hProcess, 1);
        }
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    if (nul != INVALID_HANDLE_VALUE) {
        CloseHandle(nul);
    }
    CloseHandle(file); /* deletes the temporary file */
    return ok;
}

static int run_and_print(int argc, wchar_t** argv) {
    char out[4096];
    size_t got = 0;
    DWORD code = 0;
    struct result_line line;
    if (!run_preset(argv[1], argc - 2, argv + 2, out, sizeof out, &got, &code)) {
        printf("the program could not be started or did not end in time\n");
        return 1;
    }
    if (!parse_result_line(out, got, &line)) {
        /* No line: the run crashed. Treat it like exit code 1 and keep the backup. */
        printf("no result line; exit: %lu\n", (unsigned long)code);
        return 1;
    }
    print_line(&line);
    printf("exit: %lu\n", (unsigned long)code);
    return 0;
}
#endif

static int parse_file(const char* path) {
    char data[4096];
    size_t size;
    struct result_line line;
    FILE* f = fopen(path, "rb");
    if (f == NULL) {
        printf("cannot open %s\n", path);
        return 1;
    }
    size = fread(data, 1, sizeof data, f);
    fclose(f);
    if (!parse_result_line(data, size, &line)) {
        printf("no result line\n");
        return 1;
    }
    print_line(&line);
    return 0;
}

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && wcscmp(argv[1], L"--file") == 0) {
        char path[MAX_PATH * 3];
        if (WideCharToMultiByte(CP_ACP, 0, argv[2], -1, path, sizeof path, NULL, NULL) == 0) {
            return 2;
        }
        return parse_file(path);
    }
    if (argc < 3) {
        fprintf(stderr, "usage: read_result <program.exe> <command> [arguments...]\n");
        return 2;
    }
    return run_and_print(argc, argv);
}
#else
int main(int argc, char** argv) {
    if (argc != 3 || strcmp(argv[1], "--file") != 0) {
        fprintf(stderr, "usage: read_result --file <stdout-bytes>\n");
        return 2;
    }
    return parse_file(argv[2]);
}
#endif
