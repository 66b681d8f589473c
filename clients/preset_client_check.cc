// The end-to-end tests' driver of the C++ client (tests/e2e/test_clients.py and
// test_integration_guide.py start it under Wine):
//
//   preset-client-check [--env NAME=value]... [--detail] [--cancel-on <log>] <timeout-ms>
//                       <preset-nvidia|preset-amd> <program.exe> [arguments...]
//       starts itself with the arguments first and fails unless they come back unchanged
//       (the client's quoting) and without an inheritable handle it holds, then runs the
//       program through the client, in this process's environment with the --env entries
//       added, and prints "<outcome> <action> <keep|forget> <how the run ended> <exit
//       code|-> <standard error as hex|-> <ms from cancel to answer|->". With --cancel-on
//       it cancels the run once the file <log> holds the word "sleep" (any case).
//   preset-client-check --classify <file>
//       for every line "<program> <command|-> <exit code|not-started|timed-out|cancelled>
//       <output as hex>" of the file prints the same five words and the parsed fields,
//       tab-separated.
//   preset-client-check --classify-code <file>
//       for every line "<program> <command|-> <exit code>" prints the five words of the
//       client's classification from the exit code alone.
//   preset-client-check --texts
//       prints "<outcome>\t<English text>\t<Portuguese text>" for every outcome, UTF-8.
//   preset-client-check --version <program.exe> | --client-version
//       prints the program's version, or the client's.
//   preset-client-check --quote <file>
//       for every line of the file, arguments as hex UTF-16 code units separated by blanks
//       ("-" for an empty one), prints their command line in the same form once they came
//       back unchanged through the C runtime's parser (itself started with them), or
//       "arguments-changed".
//   preset-client-check --echo <handle> [arguments...]
//       prints "inherited" when the handle value (hex) names a signalled object here and
//       "sealed" otherwise, then every argument as hex UTF-16 code units, one per line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "preset_client.hpp"

namespace {

namespace pc = preset_client;

std::string HexOf(std::wstring_view text) {
    std::string hex;
    char unit[8];
    for (wchar_t c : text) {
        std::snprintf(unit, sizeof unit, "%04x", static_cast<unsigned>(c));
        hex += unit;
    }
    return hex;
}

std::wstring WideOfHex(const std::string& hex) {
    std::wstring text;
    for (std::size_t i = 0; i + 3 < hex.size(); i += 4) {
        text.push_back(static_cast<wchar_t>(std::strtoul(hex.substr(i, 4).c_str(), nullptr, 16)));
    }
    return text;
}

std::string BytesOfHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    }
    return bytes;
}

std::string EchoOf(const std::vector<std::wstring>& args) {
    std::string text;
    for (const std::wstring& arg : args) {
        text += HexOf(arg) + "\n";
    }
    return text;
}

std::string HexOfBytes(std::string_view bytes) {
    std::string hex;
    char unit[4];
    for (char c : bytes) {
        std::snprintf(unit, sizeof unit, "%02x", static_cast<unsigned char>(c));
        hex += unit;
    }
    return hex.empty() ? "-" : hex;
}

std::string Utf8Of(std::wstring_view text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    return bytes;
}

// Raw bytes: the C library's text mode would turn "\n" into "\r\n".
bool WriteOut(const std::string& text) {
    DWORD written = 0;
    return WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
                     &written, nullptr) != FALSE;
}

bool ProgramOf(std::string_view word, pc::Program* out) {
    if (word != "preset-nvidia" && word != "preset-amd") {
        return false;
    }
    *out = word == "preset-nvidia" ? pc::Program::kNvidia : pc::Program::kAmd;
    return true;
}

void PrintResult(const pc::Result& result) {
    std::printf("%s %s %s %s ", pc::OutcomeName(result.outcome), pc::ActionName(result.action),
                result.keep_backup_path ? "keep" : "forget", pc::EndedName(result.ended));
    if (result.exit_code) {
        std::printf("%lu", static_cast<unsigned long>(*result.exit_code));
    } else {
        std::printf("-");
    }
}

// The arguments come back unchanged from a child started through the client, and the
// child does not hold the inheritable, signalled event that this process holds meanwhile.
bool ArgumentsComeBack(const std::vector<std::wstring>& args) {
    wchar_t self[32768];
    const DWORD length = GetModuleFileNameW(nullptr, self, 32768);
    if (length == 0 || length >= 32768) {
        return false;
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const pc::UniqueHandle held(CreateEventW(&inherit, TRUE, TRUE, nullptr));
    if (!held.valid()) {
        return false;
    }
    char value[32];
    std::snprintf(value, sizeof value, "%llx",
                  static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(held.get())));
    std::vector<std::wstring> echo_args{L"--echo", std::wstring(value, value + std::strlen(value))};
    echo_args.insert(echo_args.end(), args.begin(), args.end());
    const pc::Run echo = pc::RunPreset(self, echo_args);
    return echo.status == pc::RunStatus::kExited && echo.exit_code == 0 &&
           echo.output == "sealed\n" + EchoOf(args);
}

int Echo(int argc, wchar_t** argv) {
    const auto value = static_cast<ULONG_PTR>(std::wcstoull(argv[2], nullptr, 16));
    const HANDLE handle = reinterpret_cast<HANDLE>(value);
    DWORD flags = 0;
    const bool inherited =
        GetHandleInformation(handle, &flags) && WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
    return WriteOut((inherited ? "inherited\n" : "sealed\n") +
                    EchoOf(std::vector<std::wstring>(argv + 3, argv + argc)))
               ? 0
               : 1;
}

// Cancels a run once a simulated driver's call log shows that it sleeps in a driver call.
struct CancelWatch {
    std::wstring log;
    pc::UniqueHandle event{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    ULONGLONG cancelled_at = 0;

    static DWORD WINAPI Watch(void* self) {
        auto* watch = static_cast<CancelWatch*>(self);
        for (;;) {
            std::ifstream file(watch->log.c_str(), std::ios::binary);
            std::string text((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
            for (char& c : text) {
                c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            }
            if (text.find("sleep") != std::string::npos) {
                watch->cancelled_at = GetTickCount64();
                SetEvent(watch->event.get());
                return 0;
            }
            Sleep(10);
        }
    }
};

// This process's environment, with `added` ("NAME=value") in place of entries of their name.
std::vector<std::wstring> EnvironmentWith(const std::vector<std::wstring>& added) {
    std::vector<std::wstring> entries;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; block != nullptr && *entry != L'\0';
         entry += std::wcslen(entry) + 1) {
        const std::wstring_view name = pc::detail::EntryName(entry);
        bool replaced = false;
        for (const std::wstring& mine : added) {
            const std::wstring_view other = pc::detail::EntryName(mine);
            replaced |=
                CompareStringOrdinal(name.data(), static_cast<int>(name.size()), other.data(),
                                     static_cast<int>(other.size()), TRUE) == CSTR_EQUAL;
        }
        if (!replaced) {
            entries.emplace_back(entry);
        }
    }
    if (block != nullptr) {
        FreeEnvironmentStringsW(block);
    }
    entries.insert(entries.end(), added.begin(), added.end());
    return entries;
}

int RunCase(int argc, wchar_t** argv) {
    int at = 1;
    pc::RunOptions options;
    std::vector<std::wstring> added;
    CancelWatch watch;
    for (; at + 1 < argc && argv[at][0] == L'-' && argv[at][1] == L'-'; ++at) {
        const std::wstring_view option(argv[at]);
        if (option == L"--detail") {
            options.detail = true;
        } else if (option == L"--env") {
            added.emplace_back(argv[++at]);
        } else if (option == L"--cancel-on") {
            watch.log = argv[++at];
            options.cancel_event = watch.event.get();
        } else {
            return 2;
        }
    }
    pc::Program program;
    if (argc - at < 3) {
        return 2;
    }
    const std::wstring word(argv[at + 1]);
    if (!ProgramOf(std::string(word.begin(), word.end()), &program)) {
        return 2;
    }
    options.timeout_ms = static_cast<DWORD>(std::wcstoul(argv[at], nullptr, 10));
    options.environment = EnvironmentWith(added);
    const std::vector<std::wstring> args(argv + at + 3, argv + argc);
    if (!ArgumentsComeBack(args)) {
        std::printf("arguments-changed\n");
        return 1;
    }
    pc::UniqueHandle watcher;
    if (!watch.log.empty()) {
        watcher.reset(CreateThread(nullptr, 0, CancelWatch::Watch, &watch, 0, nullptr));
    }
    const pc::Result result = pc::RunAndClassify(program, argv[at + 2], args, options);
    const ULONGLONG answered = GetTickCount64();
    PrintResult(result);
    std::printf(" %s ", HexOfBytes(result.detail).c_str());
    if (watch.cancelled_at != 0) {
        std::printf("%llu\n", answered - watch.cancelled_at);
    } else {
        std::printf("-\n");
    }
    return 0;
}

int ClassifyCodes(const wchar_t* path) {
    std::ifstream file(path, std::ios::binary);
    std::string text;
    while (std::getline(file, text)) {
        std::istringstream fields(text);
        std::string program_word, command;
        unsigned long code = 0;
        pc::Program program;
        if (!(fields >> program_word >> command >> code) || !ProgramOf(program_word, &program)) {
            return 2;
        }
        const std::wstring wide_command(command.begin(), command.end());
        PrintResult(pc::ClassifyExitCode(
            program, command == "-" ? pc::Command::kOther : pc::CommandOf(wide_command),
            static_cast<DWORD>(code)));
        std::printf("\n");
    }
    return file.eof() ? 0 : 1;
}

int Texts() {
    std::string text;
    for (int i = static_cast<int>(pc::Outcome::kSupported);
         i <= static_cast<int>(pc::Outcome::kRestoreFailed); ++i) {
        const auto outcome = static_cast<pc::Outcome>(i);
        text += std::string(pc::OutcomeName(outcome)) + "\t" +
                Utf8Of(pc::OutcomeText(outcome, pc::Language::kEnglish)) + "\t" +
                Utf8Of(pc::OutcomeText(outcome, pc::Language::kPortuguese)) + "\n";
    }
    return WriteOut(text) ? 0 : 1;
}

int ClassifyFile(const wchar_t* path) {
    std::ifstream file(path, std::ios::binary);
    std::string text;
    while (std::getline(file, text)) {
        std::istringstream fields(text);
        std::string program_word, command, code, hex;
        pc::Program program;
        if (!(fields >> program_word >> command >> code) || !ProgramOf(program_word, &program)) {
            return 2;
        }
        fields >> hex;
        pc::Run run;
        run.status = code == "not-started" ? pc::RunStatus::kNotStarted
                     : code == "timed-out" ? pc::RunStatus::kTimedOut
                     : code == "cancelled" ? pc::RunStatus::kCancelled
                                           : pc::RunStatus::kExited;
        run.exit_code = static_cast<DWORD>(std::strtoul(code.c_str(), nullptr, 10));
        run.output = BytesOfHex(hex);
        const std::wstring wide_command(command.begin(), command.end());
        const pc::Command parsed =
            command == "-" ? pc::Command::kOther : pc::CommandOf(wide_command);
        const pc::Result result = pc::Classify(program, parsed, run);
        PrintResult(result);
        if (result.line) {
            std::printf("\t%s\t%s\t%llu\t%llu\t%s", result.line->kind.c_str(),
                        result.line->vendor.c_str(),
                        static_cast<unsigned long long>(result.line->supported),
                        static_cast<unsigned long long>(result.line->changed),
                        result.line->message.c_str());
        }
        std::printf("\n");
    }
    return file.eof() ? 0 : 1;
}

int QuoteFile(const wchar_t* path) {
    std::ifstream file(path, std::ios::binary);
    std::string text;
    while (std::getline(file, text)) {
        std::istringstream fields(text);
        std::vector<std::wstring> args;
        for (std::string hex; fields >> hex;) {
            args.push_back(hex == "-" ? std::wstring() : WideOfHex(hex));
        }
        std::wstring line;
        for (const std::wstring& arg : args) {
            pc::AppendQuoted(&line, arg);
        }
        std::printf("%s\n", ArgumentsComeBack(args) ? HexOf(line).c_str() : "arguments-changed");
    }
    return file.eof() ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && std::wstring_view(argv[1]) == L"--echo") {
        return Echo(argc, argv);
    }
    if (argc == 3 && std::wstring_view(argv[1]) == L"--classify") {
        return ClassifyFile(argv[2]);
    }
    if (argc == 3 && std::wstring_view(argv[1]) == L"--classify-code") {
        return ClassifyCodes(argv[2]);
    }
    if (argc == 2 && std::wstring_view(argv[1]) == L"--texts") {
        return Texts();
    }
    if (argc == 2 && std::wstring_view(argv[1]) == L"--client-version") {
        std::printf("%s\n", pc::kVersion);
        return 0;
    }
    if (argc == 3 && std::wstring_view(argv[1]) == L"--quote") {
        return QuoteFile(argv[2]);
    }
    if (argc == 3 && std::wstring_view(argv[1]) == L"--version") {
        const std::optional<std::string> version = pc::ProgramVersion(argv[2]);
        std::printf("%s\n", version ? version->c_str() : "none");
        return version ? 0 : 1;
    }
    if (argc < 4) {
        std::fprintf(stderr, "usage: see the head of preset_client_check.cc\n");
        return 2;
    }
    return RunCase(argc, argv);
}
