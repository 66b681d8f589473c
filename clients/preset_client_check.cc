// The end-to-end tests' driver of the C++ client (tests/e2e/test_clients.py and
// test_integration_guide.py start it under Wine):
//
//   preset-client-check <timeout-ms> <preset-nvidia|preset-amd> <program.exe> [arguments...]
//       starts itself with the arguments first and fails unless they come back unchanged
//       (the client's quoting), then runs the program through the client and prints
//       "<outcome> <action> <keep|forget> <how the run ended> <exit code|->".
//   preset-client-check --classify <file>
//       for every line "<program> <command|-> <exit code|not-started|timed-out> <output as
//       hex>" of the file prints the same five words and the parsed fields, tab-separated.
//   preset-client-check --version <program.exe>
//       prints the program's version.
//   preset-client-check --quote <file>
//       for every line of the file, arguments as hex UTF-16 code units separated by blanks
//       ("-" for an empty one), prints their command line in the same form once they came
//       back unchanged through the C runtime's parser (itself started with them), or
//       "arguments-changed".
//   preset-client-check --echo [arguments...]
//       prints every argument as hex UTF-16 code units, one per line.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "clients/preset_client.hpp"

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

bool ArgumentsComeBack(const std::vector<std::wstring>& args) {
    wchar_t self[32768];
    const DWORD length = GetModuleFileNameW(nullptr, self, 32768);
    if (length == 0 || length >= 32768) {
        return false;
    }
    std::vector<std::wstring> echo_args{L"--echo"};
    echo_args.insert(echo_args.end(), args.begin(), args.end());
    const pc::Run echo = pc::RunPreset(self, echo_args);
    return echo.status == pc::RunStatus::kExited && echo.exit_code == 0 &&
           echo.output == EchoOf(args);
}

int RunCase(int argc, wchar_t** argv) {
    pc::Program program;
    const std::wstring word(argv[2]);
    if (!ProgramOf(std::string(word.begin(), word.end()), &program)) {
        return 2;
    }
    const DWORD timeout = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10));
    const std::vector<std::wstring> args(argv + 4, argv + argc);
    if (!ArgumentsComeBack(args)) {
        std::printf("arguments-changed\n");
        return 1;
    }
    PrintResult(pc::RunAndClassify(program, argv[3], args, timeout));
    std::printf("\n");
    return 0;
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
    if (argc >= 2 && std::wstring_view(argv[1]) == L"--echo") {
        const std::string text = EchoOf(std::vector<std::wstring>(argv + 2, argv + argc));
        DWORD written = 0;
        // Raw bytes: the C library's text mode would turn "\n" into "\r\n".
        return WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(),
                         static_cast<DWORD>(text.size()), &written, nullptr)
                   ? 0
                   : 1;
    }
    if (argc == 3 && std::wstring_view(argv[1]) == L"--classify") {
        return ClassifyFile(argv[2]);
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
        std::fprintf(stderr, "usage: preset-client-check <timeout-ms> <program> <exe> [args]\n");
        return 2;
    }
    return RunCase(argc, argv);
}
