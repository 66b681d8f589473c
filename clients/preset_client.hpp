// A front-end's client for preset-nvidia.exe and preset-amd.exe, in one header: starts a
// program with CreateProcessW (no console window, arguments quoted for the program's own
// command-line parser, standard output and error read from pipes, only those handles
// inherited, a time limit, an optional cancel event and environment), reads its one
// result line and exit code, and turns them into an outcome and the action the
// integration guide prescribes for it, with a text to show in English or Portuguese;
// reads a program's version from its version resource. Win32 and the C++17 standard
// library only; no exceptions: failures come back as values. It builds with windows.h's
// min and max macros defined (Visual C++ defines them unless NOMINMAX is set).
//
//     Visual C++:  cl /std:c++17 /EHsc /W4 front_end.cpp         (links version.lib itself)
//     MinGW-w64:   x86_64-w64-mingw32-g++ -std=c++17 -static -o front_end front_end.cpp -lversion
//
//     preset_client::Result r = preset_client::RunAndClassify(
//         preset_client::Program::kNvidia, L"C:\\Program Files\\App\\preset-nvidia.exe",
//         {L"restore", backup_path});
//     if (!r.keep_backup_path) { /* forget backup_path: nothing is left to undo */ }
#pragma once

#include <windows.h>
#include <winver.h>

#ifdef _MSC_VER
#pragma comment(lib, "version.lib")
#endif

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace preset_client {

/// The version of this client, the same as the programs' it was made with.
inline constexpr char kVersion[] = "0.1.0";

enum class Program { kNvidia, kAmd };
enum class Command { kStatus, kApply, kRestore, kOther };

enum class Outcome {
    kSupported,              // status: the driver can be used; offer the presets
    kApplied,                // apply done
    kApplyPartial,           // apply exit 21: partly applied, or (changed 0) nothing, when the
                             // backup could not be saved, was busy or an elevated run refused it
    kApplyNotSaved,          // NVIDIA apply exit 20: nothing changed (the same reasons)
    kRestored,               // restore done; the program deleted the backup
    kNothingToRestore,       // no backup at the path
    kRestoreIncomplete,      // restore exit 22 (with 0 and 0 also: unreadable, busy or refused
                             // path): the backup stays for another restore
    kUnsupported,            // exit 10 of status or apply: nothing changed
    kUnsupportedBackupKept,  // exit 10 of restore: restore again once the driver is back
    kCallerBug,              // exit 2 or 3: the front-end passed a wrong command line
    kNotStarted,             // the program could not be started (wrong path, missing file)
    kTimedOut,               // ended by the client past its time limit
    kRestoreTimedOut,        // the same during a restore
    kCancelled,              // ended by the client because its caller cancelled the run
    kRestoreCancelled,       // the same during a restore
    kFailed,                 // crashed, killed, or an answer the programs never give
    kRestoreFailed,          // the same during a restore
};

/// How a run ended: with one result line (whatever it says), not at all, ended by the
/// client past its time limit or because it was cancelled, by itself without a line (a
/// crash, a kill), or unknown but for its exit code (ClassifyExitCode).
enum class Ended { kAnswered, kNotStarted, kTimedOut, kCancelled, kNoLine, kExitCodeOnly };

enum class Action {
    kDone,
    kTellUser,  // the backup is safe; try again later
    kRetryRestoreLater,
    kTellUnsupported,
    kReportBug,
};

struct ResultLine {
    std::string kind;
    std::string vendor;
    std::uint64_t supported = 0;
    std::uint64_t changed = 0;
    std::string message;
};

struct Result {
    Outcome outcome = Outcome::kFailed;
    Action action = Action::kTellUser;
    /// False only when nothing is left to undo: forget the backup path.
    bool keep_backup_path = true;
    Ended ended = Ended::kNoLine;
    /// The program's exit code; nullopt when it did not end by itself.
    std::optional<DWORD> exit_code;
    std::optional<ResultLine> line;
    /// What the program wrote to standard error, as bytes; never part of the line.
    std::string detail;
};

/// Longer than a run can take: a run waits up to 10 seconds for another run on the same
/// backup path, and driver calls take a few seconds at most.
constexpr DWORD kDefaultTimeoutMs = 60000;

inline const char* VendorWord(Program program) {
    return program == Program::kNvidia ? "NVIDIA" : "AMD";
}

inline const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::kSupported:
            return "supported";
        case Outcome::kApplied:
            return "applied";
        case Outcome::kApplyPartial:
            return "apply-partial";
        case Outcome::kApplyNotSaved:
            return "apply-not-saved";
        case Outcome::kRestored:
            return "restored";
        case Outcome::kNothingToRestore:
            return "nothing-to-restore";
        case Outcome::kRestoreIncomplete:
            return "restore-incomplete";
        case Outcome::kUnsupported:
            return "unsupported";
        case Outcome::kUnsupportedBackupKept:
            return "unsupported-backup-kept";
        case Outcome::kCallerBug:
            return "caller-bug";
        case Outcome::kNotStarted:
            return "not-started";
        case Outcome::kTimedOut:
            return "timed-out";
        case Outcome::kRestoreTimedOut:
            return "restore-timed-out";
        case Outcome::kCancelled:
            return "cancelled";
        case Outcome::kRestoreCancelled:
            return "restore-cancelled";
        case Outcome::kFailed:
            return "failed";
        case Outcome::kRestoreFailed:
            return "restore-failed";
    }
    return "failed";
}

inline const char* EndedName(Ended ended) {
    switch (ended) {
        case Ended::kAnswered:
            return "answered";
        case Ended::kNotStarted:
            return "not-started";
        case Ended::kTimedOut:
            return "timed-out";
        case Ended::kCancelled:
            return "cancelled";
        case Ended::kNoLine:
            return "no-line";
        case Ended::kExitCodeOnly:
            return "exit-code-only";
    }
    return "no-line";
}

inline const char* ActionName(Action action) {
    switch (action) {
        case Action::kDone:
            return "done";
        case Action::kTellUser:
            return "tell-user";
        case Action::kRetryRestoreLater:
            return "retry-restore-later";
        case Action::kTellUnsupported:
            return "tell-unsupported";
        case Action::kReportBug:
            return "report-bug";
    }
    return "tell-user";
}

enum class Language { kEnglish, kPortuguese };

/// A text a front-end may show for `outcome`, in English or Portuguese, as UTF-16 for
/// Windows' wide-character calls.
inline const wchar_t* OutcomeText(Outcome outcome, Language language) {
    const bool english = language == Language::kEnglish;
    switch (outcome) {
        case Outcome::kSupported:
            return english ? L"The graphics driver can be used. Choose a preset."
                           : L"O driver de v\u00eddeo pode ser usado. Escolha um preset.";
        case Outcome::kApplied:
            return english ? L"The preset was applied. The original settings are saved for "
                             L"a later restore."
                           : L"O preset foi aplicado. As configura\u00e7\u00f5es originais "
                             L"est\u00e3o guardadas para restaurar depois.";
        case Outcome::kApplyPartial:
            return english ? L"The preset was applied only in part, or not at all. The "
                             L"original settings are saved; try again later."
                           : L"O preset foi aplicado s\u00f3 em parte, ou n\u00e3o foi "
                             L"aplicado. As configura\u00e7\u00f5es originais est\u00e3o "
                             L"guardadas; tente de novo mais tarde.";
        case Outcome::kApplyNotSaved:
            return english ? L"Nothing was changed: the current settings could not be saved"
                             L" first. Try again later."
                           : L"Nada foi alterado: n\u00e3o foi poss\u00edvel guardar antes "
                             L"as configura\u00e7\u00f5es atuais. Tente de novo mais tarde.";
        case Outcome::kRestored:
            return english ? L"The original settings were restored."
                           : L"As configura\u00e7\u00f5es originais foram restauradas.";
        case Outcome::kNothingToRestore:
            return english ? L"There was nothing to restore."
                           : L"N\u00e3o havia nada para restaurar.";
        case Outcome::kRestoreIncomplete:
            return english ? L"Not every setting could be restored. The saved settings are "
                             L"kept; try restoring again later."
                           : L"Nem todas as configura\u00e7\u00f5es puderam ser "
                             L"restauradas. As configura\u00e7\u00f5es guardadas foram "
                             L"mantidas; tente restaurar de novo mais tarde.";
        case Outcome::kUnsupported:
            return english ? L"This graphics card or driver is not supported, or not "
                             L"available now. Nothing was changed."
                           : L"Esta placa de v\u00eddeo ou este driver n\u00e3o \u00e9 "
                             L"compat\u00edvel, ou n\u00e3o est\u00e1 dispon\u00edvel "
                             L"agora. Nada foi alterado.";
        case Outcome::kUnsupportedBackupKept:
            return english ? L"The graphics driver is not available, so nothing could be "
                             L"restored. The saved settings are kept; restore again once "
                             L"the driver is back."
                           : L"O driver de v\u00eddeo n\u00e3o est\u00e1 dispon\u00edvel, "
                             L"ent\u00e3o nada p\u00f4de ser restaurado. As "
                             L"configura\u00e7\u00f5es guardadas foram mantidas; restaure "
                             L"de novo quando o driver voltar.";
        case Outcome::kCallerBug:
            return english ? L"The program was started with a wrong command line. Please "
                             L"report this problem."
                           : L"O programa foi iniciado com uma linha de comando errada. Por"
                             L" favor, informe este problema.";
        case Outcome::kNotStarted:
            return english ? L"The program could not be started. Check the installation, "
                             L"and please report this problem."
                           : L"N\u00e3o foi poss\u00edvel iniciar o programa. Verifique a "
                             L"instala\u00e7\u00e3o e, por favor, informe este problema.";
        case Outcome::kTimedOut:
            return english ? L"The program took too long and was stopped. The original "
                             L"settings are safe; try again later."
                           : L"O programa demorou demais e foi interrompido. As "
                             L"configura\u00e7\u00f5es originais est\u00e3o seguras; tente "
                             L"de novo mais tarde.";
        case Outcome::kRestoreTimedOut:
            return english ? L"Restoring took too long and was stopped. The saved settings "
                             L"are kept; try restoring again later."
                           : L"A restaura\u00e7\u00e3o demorou demais e foi interrompida. "
                             L"As configura\u00e7\u00f5es guardadas foram mantidas; tente "
                             L"restaurar de novo mais tarde.";
        case Outcome::kCancelled:
            return english ? L"Cancelled. Any setting already changed can still be "
                             L"restored."
                           : L"Cancelado. Qualquer configura\u00e7\u00e3o j\u00e1 alterada "
                             L"ainda pode ser restaurada.";
        case Outcome::kRestoreCancelled:
            return english ? L"Restoring was cancelled. The saved settings are kept; "
                             L"restore again later."
                           : L"A restaura\u00e7\u00e3o foi cancelada. As "
                             L"configura\u00e7\u00f5es guardadas foram mantidas; restaure "
                             L"de novo mais tarde.";
        case Outcome::kFailed:
            return english ? L"The program failed unexpectedly. The original settings are "
                             L"safe; try again later."
                           : L"O programa falhou de forma inesperada. As "
                             L"configura\u00e7\u00f5es originais est\u00e3o seguras; tente "
                             L"de novo mais tarde.";
        case Outcome::kRestoreFailed:
            return english ? L"Restoring failed unexpectedly. The saved settings are kept; "
                             L"try restoring again later."
                           : L"A restaura\u00e7\u00e3o falhou de forma inesperada. As "
                             L"configura\u00e7\u00f5es guardadas foram mantidas; tente "
                             L"restaurar de novo mais tarde.";
    }
    return L"";
}

/// The command a first argument names; the programs ignore the case of ASCII letters.
inline Command CommandOf(std::wstring_view word) {
    std::wstring lowered(word);
    for (wchar_t& c : lowered) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    if (lowered == L"status") {
        return Command::kStatus;
    }
    if (lowered == L"apply") {
        return Command::kApply;
    }
    return lowered == L"restore" ? Command::kRestore : Command::kOther;
}

namespace detail {

inline bool ParseCount(std::string_view text, std::uint64_t* out) {
    if (text.empty() || text.size() > 19) {
        return false;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    *out = value;
    return true;
}

/// Takes "name=value" up to the next ';' (or the end) off the front of `rest`.
inline bool TakeField(std::string_view* rest, std::string_view name, std::string_view* value) {
    const std::string_view field = rest->substr(0, rest->find(';'));
    if (field.size() <= name.size() || field.substr(0, name.size()) != name ||
        field[name.size()] != '=') {
        return false;
    }
    *value = field.substr(name.size() + 1);
    rest->remove_prefix((std::min)(rest->size(), field.size() + 1));
    return true;
}

}  // namespace detail

/// The fields of the bytes a run printed; nullopt when they are not exactly one result
/// line ending in CR LF. The first four fields are split at ';'; the message is everything
/// after the first ";message=", since a message may itself hold ';' (and '=').
inline std::optional<ResultLine> ParseResultLine(std::string_view data) {
    constexpr std::string_view kMark = ";message=";
    if (data.size() < 2 || data.substr(data.size() - 2) != "\r\n") {
        return std::nullopt;
    }
    data.remove_suffix(2);
    for (char c : data) {
        if (c == '\r' || c == '\n' || static_cast<unsigned char>(c) >= 0x80) {
            return std::nullopt;
        }
    }
    const std::size_t mark = data.find(kMark);
    if (mark == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view head = data.substr(0, mark);
    if (std::count(head.begin(), head.end(), ';') != 3) {
        return std::nullopt;
    }
    ResultLine line;
    std::string_view kind, vendor, supported, changed;
    if (!detail::TakeField(&head, "result", &kind) ||
        !detail::TakeField(&head, "vendor", &vendor) ||
        !detail::TakeField(&head, "supported", &supported) ||
        !detail::TakeField(&head, "changed", &changed) ||
        !detail::ParseCount(supported, &line.supported) ||
        !detail::ParseCount(changed, &line.changed)) {
        return std::nullopt;
    }
    line.kind = std::string(kind);
    line.vendor = std::string(vendor);
    line.message = std::string(data.substr(mark + kMark.size()));
    return line;
}

namespace detail {

/// The outcome of an answer the programs give, or nullopt for one they never give.
inline std::optional<Outcome> OutcomeOf(Program program, Command command, DWORD code,
                                        std::string_view kind) {
    const bool apply = command == Command::kApply;
    const bool restore = command == Command::kRestore;
    if (code == 0 && kind == "ok") {
        if (command == Command::kStatus) {
            return Outcome::kSupported;
        }
        if (apply || restore) {
            return apply ? Outcome::kApplied : Outcome::kRestored;
        }
    }
    if (code == 0 && kind == "nothing" && restore) {
        return Outcome::kNothingToRestore;
    }
    if (code == 10 && kind == "unsupported" && command != Command::kOther) {
        return restore ? Outcome::kUnsupportedBackupKept : Outcome::kUnsupported;
    }
    if (kind != "error") {
        return std::nullopt;
    }
    if (code == 2 || (code == 3 && apply)) {
        return Outcome::kCallerBug;
    }
    if (code == 21 && apply) {
        return Outcome::kApplyPartial;
    }
    if (code == 20 && apply && program == Program::kNvidia) {
        return Outcome::kApplyNotSaved;
    }
    if (code == 22 && restore) {
        return Outcome::kRestoreIncomplete;
    }
    return std::nullopt;
}

}  // namespace detail

/// What the front-end does after `outcome`. Only a finished restore (or none needed) lets
/// go of the backup path: every other answer leaves a backup that a later restore still
/// needs, or one from an earlier apply.
inline Result Prescribe(Outcome outcome) {
    Result result;
    result.outcome = outcome;
    switch (outcome) {
        case Outcome::kSupported:
        case Outcome::kApplied:
            result.action = Action::kDone;
            break;
        case Outcome::kRestored:
        case Outcome::kNothingToRestore:
            result.action = Action::kDone;
            result.keep_backup_path = false;
            break;
        case Outcome::kApplyPartial:
        case Outcome::kApplyNotSaved:
        case Outcome::kTimedOut:
        case Outcome::kCancelled:
        case Outcome::kFailed:
            result.action = Action::kTellUser;
            break;
        case Outcome::kRestoreIncomplete:
        case Outcome::kRestoreTimedOut:
        case Outcome::kRestoreCancelled:
        case Outcome::kRestoreFailed:
            result.action = Action::kRetryRestoreLater;
            break;
        case Outcome::kUnsupported:
        case Outcome::kUnsupportedBackupKept:
            result.action = Action::kTellUnsupported;
            break;
        case Outcome::kCallerBug:
        case Outcome::kNotStarted:  // the front-end's path or installation is wrong
            result.action = Action::kReportBug;
            break;
    }
    return result;
}

/// Appends `arg` to a command line so that the Windows C runtime's parser (and
/// CommandLineToArgvW) hands it back unchanged: quoted when empty or holding blanks or
/// quotes, a quote escaped, and backslashes doubled where they come before a quote.
inline void AppendQuoted(std::wstring* cmd, std::wstring_view arg) {
    if (!cmd->empty()) {
        cmd->push_back(L' ');
    }
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring_view::npos) {
        cmd->append(arg);
        return;
    }
    cmd->push_back(L'"');
    std::size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        cmd->append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        cmd->push_back(c);
        slashes = 0;
    }
    cmd->append(slashes * 2, L'\\');
    cmd->push_back(L'"');
}

/// The whole command line: the program's path first (in quotes, no escapes: it is parsed
/// by other rules and holds no quote), then every argument quoted.
inline std::wstring CommandLine(std::wstring_view exe, const std::vector<std::wstring>& args) {
    std::wstring cmd = L"\"" + std::wstring(exe) + L"\"";
    for (const std::wstring& arg : args) {
        AppendQuoted(&cmd, arg);
    }
    return cmd;
}

/// The one owner of a kernel handle: closes it exactly once. Win32 hands out null or
/// INVALID_HANDLE_VALUE for "no handle"; both count as empty.
class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE get() const { return h_; }
    bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
    HANDLE release() {
        HANDLE h = h_;
        h_ = nullptr;
        return h;
    }
    void reset(HANDLE h = nullptr) {
        if (valid()) {
            CloseHandle(h_);
        }
        h_ = h;
    }

  private:
    HANDLE h_ = nullptr;
};

/// The one owner of a process-thread attribute list that names the only handles a child
/// inherits: without it, a child started with inheritance on takes every inheritable
/// handle of the process, also those another thread of a front-end just made. Neither
/// copied nor moved: Windows keeps a pointer to the handles it holds.
class InheritOnly {
  public:
    /// `handles` must be distinct and inheritable.
    explicit InheritOnly(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        buffer_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
        if (size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size)) {
            return;
        }
        list_ = list;
        listed_ =
            UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                      handles_.size() * sizeof(HANDLE), nullptr, nullptr) != FALSE;
    }
    ~InheritOnly() {
        if (list_ != nullptr) {
            DeleteProcThreadAttributeList(list_);
        }
    }
    InheritOnly(const InheritOnly&) = delete;
    InheritOnly& operator=(const InheritOnly&) = delete;

    /// The list for STARTUPINFOEXW; null when Windows refused to make it.
    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return listed_ ? list_ : nullptr; }

  private:
    std::vector<HANDLE> handles_;
    std::vector<unsigned char> buffer_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
    bool listed_ = false;
};

/// kFailed: the run started, but reading its output or waiting for it failed; it was ended.
enum class RunStatus { kExited, kNotStarted, kTimedOut, kCancelled, kFailed };

struct Run {
    RunStatus status = RunStatus::kNotStarted;
    DWORD exit_code = 0;
    /// Standard output, when the run ended by itself.
    std::string output;
    /// Standard error: all of it when the run ended by itself, what came before the end
    /// otherwise.
    std::string errors;
};

/// How RunPreset starts and watches a program; the defaults start it as a plain call does.
struct RunOptions {
    DWORD timeout_ms = kDefaultTimeoutMs;
    /// An event of the caller's: once it is signalled the run is ended and counts as
    /// cancelled, unless it had ended by itself first. Null: the run cannot be cancelled.
    HANDLE cancel_event = nullptr;
    /// The whole environment of the run, one "NAME=value" each; nullopt: this process's
    /// own. The programs read none, but the simulated drivers are configured through it.
    std::optional<std::vector<std::wstring>> environment;
    /// Adds "--detail" after the arguments: the programs then explain each failure on
    /// standard error.
    bool detail = false;
};

namespace detail {

/// More than one result line, or any detail, ever needs; what goes beyond is read and
/// dropped, so that the program never blocks on a full pipe.
constexpr std::size_t kMaxOutput = 64 * 1024;

/// Reads what the pipe holds now, without waiting. False on a read error; a pipe whose
/// writer is gone simply has nothing more.
inline bool Drain(HANDLE pipe, std::string* out) {
    char buffer[4096];
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
            return GetLastError() == ERROR_BROKEN_PIPE;
        }
        if (available == 0) {
            return true;
        }
        DWORD got = 0;
        const DWORD want = (std::min)(available, static_cast<DWORD>(sizeof buffer));
        if (!ReadFile(pipe, buffer, want, &got, nullptr)) {
            return GetLastError() == ERROR_BROKEN_PIPE;
        }
        const std::size_t room = kMaxOutput - (std::min)(kMaxOutput, out->size());
        out->append(buffer, (std::min)(static_cast<std::size_t>(got), room));
    }
}

/// The name of an environment entry: up to its first '=' after the first character (names
/// of the hidden per-drive entries, "=C:=C:\\dir", start with one).
inline std::wstring_view EntryName(std::wstring_view entry) {
    return entry.substr(0, entry.find(L'=', 1));
}

/// An environment block of `entries`: each ends in a null and the block in one more (the
/// string's own terminator), sorted by name without regard to case, as Windows keeps it.
inline std::wstring EnvironmentBlock(std::vector<std::wstring> entries) {
    std::sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
        const std::wstring_view x = EntryName(a);
        const std::wstring_view y = EntryName(b);
        return CompareStringOrdinal(x.data(), static_cast<int>(x.size()), y.data(),
                                    static_cast<int>(y.size()), TRUE) == CSTR_LESS_THAN;
    });
    std::wstring block;
    for (const std::wstring& entry : entries) {
        block += entry;
        block.push_back(L'\0');
    }
    if (entries.empty()) {
        block.push_back(L'\0');
    }
    return block;
}

/// A pipe whose write end the child inherits and whose read end stays with us.
struct ChildPipe {
    UniqueHandle reader;
    UniqueHandle writer;

    bool Open(SECURITY_ATTRIBUTES* inherit) {
        HANDLE read_end = nullptr;
        HANDLE write_end = nullptr;
        if (!CreatePipe(&read_end, &write_end, inherit, 0)) {
            return false;
        }
        reader.reset(read_end);
        writer.reset(write_end);
        return SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0) != FALSE;
    }
};

}  // namespace detail

/// Runs `exe` with `args`: no console window, standard input on the null device, standard
/// output and error into pipes that are read while the program runs, and no other handle
/// of this process inherited. The run is waited for until it ends, not until the pipes
/// are closed (a program may have handed its ends on to a process that lives on). A run
/// past `options.timeout_ms`, or one cancelled through `options.cancel_event`, is ended:
/// safe, since no setting changes before its original stands in the backup file.
inline Run RunPreset(const std::wstring& exe, const std::vector<std::wstring>& args,
                     const RunOptions& options) {
    Run run;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    detail::ChildPipe out;
    detail::ChildPipe err;
    UniqueHandle null_device(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                         OPEN_EXISTING, 0, nullptr));
    if (!out.Open(&inherit) || !err.Open(&inherit) || !null_device.valid()) {
        return run;
    }
    const InheritOnly inherited({null_device.get(), out.writer.get(), err.writer.get()});
    if (inherited.get() == nullptr) {
        return run;
    }
    std::vector<std::wstring> all_args(args);
    if (options.detail) {
        all_args.push_back(L"--detail");
    }
    std::wstring cmd = CommandLine(exe, all_args);
    std::wstring environment;
    DWORD flags = CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT;
    if (options.environment) {
        environment = detail::EnvironmentBlock(*options.environment);
        flags |= CREATE_UNICODE_ENVIRONMENT;
    }
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = null_device.get();
    startup.StartupInfo.hStdOutput = out.writer.get();
    startup.StartupInfo.hStdError = err.writer.get();
    startup.lpAttributeList = inherited.get();
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE, flags,
                                        options.environment ? environment.data() : nullptr, nullptr,
                                        &startup.StartupInfo, &info);
    UniqueHandle process(started ? info.hProcess : nullptr);
    UniqueHandle thread(started ? info.hThread : nullptr);
    // Only the program holds the write ends and the null device from here on.
    out.writer.reset();
    err.writer.reset();
    null_device.reset();
    if (!started) {
        return run;
    }
    const HANDLE waits[] = {process.get(), options.cancel_event};
    const DWORD count = options.cancel_event != nullptr ? 2 : 1;
    const ULONGLONG deadline = GetTickCount64() + options.timeout_ms;
    for (;;) {
        if (!detail::Drain(out.reader.get(), &run.output) ||
            !detail::Drain(err.reader.get(), &run.errors)) {
            run.status = RunStatus::kFailed;
            break;
        }
        // When the program ended and the event is set at once, the wait names the program.
        const DWORD waited = WaitForMultipleObjects(count, waits, FALSE, 10);
        if (waited == WAIT_OBJECT_0) {
            run.status = detail::Drain(out.reader.get(), &run.output) &&
                                 detail::Drain(err.reader.get(), &run.errors) &&
                                 GetExitCodeProcess(process.get(), &run.exit_code)
                             ? RunStatus::kExited
                             : RunStatus::kFailed;
            return run;
        }
        if (waited == WAIT_OBJECT_0 + 1) {
            run.status = RunStatus::kCancelled;
            break;
        }
        if (waited != WAIT_TIMEOUT) {
            run.status = RunStatus::kFailed;
            break;
        }
        if (GetTickCount64() >= deadline) {
            run.status = RunStatus::kTimedOut;
            break;
        }
    }
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), 5000);
    run.output.clear();
    return run;
}

/// RunPreset with a time limit alone.
inline Run RunPreset(const std::wstring& exe, const std::vector<std::wstring>& args,
                     DWORD timeout_ms = kDefaultTimeoutMs) {
    RunOptions options;
    options.timeout_ms = timeout_ms;
    return RunPreset(exe, args, options);
}

namespace detail {

inline Result Finish(std::optional<Outcome> outcome, Command command, Ended ended) {
    if (!outcome) {
        // No line, or one the programs never print: a crash. The backup on disk is always
        // complete, so keeping its path and restoring later is safe.
        outcome = command == Command::kRestore ? Outcome::kRestoreFailed : Outcome::kFailed;
    }
    Result result = Prescribe(*outcome);
    result.ended = ended;
    return result;
}

}  // namespace detail

/// The outcome of one run and what to do about it. A run that ended by itself without a
/// line, or with one the programs never print, crashed: the backup on disk is always
/// complete, so keeping its path and restoring later is safe. What the run wrote to
/// standard error comes back as `detail`, never read for the outcome.
inline Result Classify(Program program, Command command, const Run& run) {
    const bool restore = command == Command::kRestore;
    std::optional<ResultLine> line;
    std::optional<Outcome> outcome;
    Ended ended = Ended::kNoLine;
    if (run.status == RunStatus::kNotStarted) {
        ended = Ended::kNotStarted;
        outcome = Outcome::kNotStarted;
    } else if (run.status == RunStatus::kTimedOut) {
        ended = Ended::kTimedOut;
        outcome = restore ? Outcome::kRestoreTimedOut : Outcome::kTimedOut;
    } else if (run.status == RunStatus::kCancelled) {
        ended = Ended::kCancelled;
        outcome = restore ? Outcome::kRestoreCancelled : Outcome::kCancelled;
    } else if (run.status == RunStatus::kExited) {
        line = ParseResultLine(run.output);
        if (line) {
            ended = Ended::kAnswered;
        }
        if (line && line->vendor == VendorWord(program)) {
            outcome = detail::OutcomeOf(program, command, run.exit_code, line->kind);
        }
    }
    Result result = detail::Finish(outcome, command, ended);
    if (run.status == RunStatus::kExited) {
        result.exit_code = run.exit_code;
    }
    result.line = std::move(line);
    result.detail = run.errors;
    return result;
}

/// The outcome of a run of which only the exit code is known, for example one started
/// elevated with ShellExecuteExW and the "runas" verb, whose output cannot be read. Each
/// exit code the programs give belongs to one kind of line, so the outcome is the line's,
/// with one loss: restore's exit 0 reads as kRestored also when there was nothing to
/// restore (the action is the same). `ended` is kExitCodeOnly.
inline Result ClassifyExitCode(Program program, Command command, DWORD exit_code) {
    const char* kind = exit_code == 0 ? "ok" : exit_code == 10 ? "unsupported" : "error";
    Result result = detail::Finish(detail::OutcomeOf(program, command, exit_code, kind), command,
                                   Ended::kExitCodeOnly);
    result.exit_code = exit_code;
    return result;
}

/// RunPreset, then Classify; the command is the first argument.
inline Result RunAndClassify(Program program, const std::wstring& exe,
                             const std::vector<std::wstring>& args, const RunOptions& options) {
    const Command command = args.empty() ? Command::kOther : CommandOf(args.front());
    return Classify(program, command, RunPreset(exe, args, options));
}

/// RunAndClassify with a time limit alone.
inline Result RunAndClassify(Program program, const std::wstring& exe,
                             const std::vector<std::wstring>& args,
                             DWORD timeout_ms = kDefaultTimeoutMs) {
    RunOptions options;
    options.timeout_ms = timeout_ms;
    return RunAndClassify(program, exe, args, options);
}

/// The program's version, "major.minor.patch" from the numbers of its version resource
/// (what Explorer shows under Details); nullopt when the file has none or cannot be read.
inline std::optional<std::string> ProgramVersion(const std::wstring& exe) {
    DWORD unused = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &unused);
    if (size == 0) {
        return std::nullopt;
    }
    std::vector<unsigned char> data(size);
    void* value = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoW(exe.c_str(), 0, size, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", &value, &length) || value == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        return std::nullopt;
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS));
}

}  // namespace preset_client
