// The rest of what the layer asks of the system: whole path names made from given ones and
// asked of handles, the process token, and named mutexes with their owners.
#include <ntstatus.h>

#include <algorithm>
#include <cstring>

#include "tests/nt/model/nt_model.h"
#include "tests/nt/model/nt_model_names.h"

namespace ntmodel {

namespace {

/// Copies `text` as a Win32 string function answers: its length without the terminating null
/// when it fits in `length` characters, the length it needs with the null when it does not.
DWORD copyOut(const Path& text, LPWSTR buffer, DWORD length) {
    if (length <= text.size()) {
        return static_cast<DWORD>(text.size() + 1);
    }
    std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    return static_cast<DWORD>(text.size());
}

/// Resolves "." and ".." among the names below a root, drops empty ones (runs of separators),
/// and trims what "File path formats on Windows systems" (Normalize a path) trims: a single
/// period at the end of a name, and trailing periods and spaces of the last name.
Path normalizedBelow(const Path& root, const Path& rest) {
    std::vector<Path> kept;
    const std::vector<Path> names = splitNames(rest);
    for (size_t i = 0; i < names.size(); ++i) {
        Path name = names[i];
        if (name.empty() || name == L".") {
            continue;
        }
        if (name == L"..") {
            if (!kept.empty()) {
                kept.pop_back();
            }
            continue;
        }
        if (i + 1 == names.size()) {
            while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) {
                name.pop_back();
            }
        } else if (name.size() > 1 && name.back() == L'.' && name[name.size() - 2] != L'.') {
            name.pop_back();
        }
        if (!name.empty()) {
            kept.push_back(name);
        }
    }
    Path full = root;
    for (size_t i = 0; i < kept.size(); ++i) {
        full += (i == 0 ? L"" : L"\\") + kept[i];
    }
    if (!rest.empty() && rest.back() == L'\\' && !kept.empty()) {
        full += L'\\';
    }
    return full;
}

}  // namespace

DWORD Model::getFullPathName(LPCWSTR name, DWORD length, LPWSTR buffer) {
    // GetFullPathNameW and "File path formats on Windows systems": "\\?\" paths stay as they
    // are; "\\.\" keeps its device; "\\server\share" is a root; "X:\" a drive root; "X:rest"
    // is relative to the drive (its root when it is not the working folder's); "\rest" to the
    // working folder's root; anything else to the working folder. "/" is "\".
    Path path(name);
    if (path.compare(0, 4, L"\\\\?\\") == 0) {
        return copyOut(path, buffer, length);
    }
    for (wchar_t& c : path) {
        c = c == L'/' ? L'\\' : c;
    }
    Path full;
    if (path.compare(0, 4, L"\\\\.\\") == 0) {
        const size_t device = path.find(L'\\', 4);
        full = device == Path::npos
                   ? path
                   : normalizedBelow(path.substr(0, device + 1), path.substr(device + 1));
    } else if (path.compare(0, 2, L"\\\\") == 0) {
        const size_t server = path.find(L'\\', 2);
        const size_t share = server == Path::npos ? Path::npos : path.find(L'\\', server + 1);
        full = share == Path::npos
                   ? path
                   : normalizedBelow(path.substr(0, share + 1), path.substr(share + 1));
    } else if (path.size() >= 2 && path[1] == L':') {
        const Path drive = path.substr(0, 2);
        const bool rooted = path.size() > 2 && path[2] == L'\\';
        const Path rest = path.substr(rooted ? 3 : 2);
        full = rooted || !sameName(drive, cwd_.substr(0, 2))
                   ? normalizedBelow(drive + L"\\", rest)
                   : normalizedBelow(drive + L"\\", cwd_.substr(3) + L"\\" + rest);
    } else if (!path.empty() && path[0] == L'\\') {
        full = normalizedBelow(cwd_.substr(0, 3), path.substr(1));
    } else {
        full = normalizedBelow(cwd_.substr(0, 3), cwd_.substr(3) + L"\\" + path);
    }
    return copyOut(full, buffer, length);
}

DWORD Model::getFinalPathNameByHandle(HANDLE file, LPWSTR buffer, DWORD length, DWORD flags) {
    // GetFinalPathNameByHandleW with FILE_NAME_NORMALIZED | VOLUME_NAME_NT: the device and the
    // long names as the folders list them, which is how this model names every handle.
    Open* open = openOf(file);
    if (open == nullptr || open->type != Open::Type::file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (flags != (FILE_NAME_NORMALIZED | VOLUME_NAME_NT)) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return 0;
    }
    return copyOut(nameOf(*open), buffer, length);
}

NTSTATUS Model::ntOpenProcessToken(PHANDLE token) {
    if (failToken_) {
        return STATUS_ACCESS_DENIED;
    }
    Open open;
    open.type = Open::Type::token;
    *token = newHandle(std::move(open));
    return STATUS_SUCCESS;
}

NTSTATUS Model::ntQueryInformationToken(HANDLE token, TOKEN_INFORMATION_CLASS infoClass,
                                        void* information, ULONG length, PULONG returned) {
    // TOKEN_ELEVATION: "TokenIsElevated: nonzero if the token has elevated privileges".
    Open* open = openOf(token);
    if (open == nullptr || open->type != Open::Type::token) {
        return STATUS_INVALID_HANDLE;
    }
    if (infoClass != TokenElevation) {
        return STATUS_NOT_IMPLEMENTED;
    }
    if (returned != nullptr) {
        *returned = sizeof(TOKEN_ELEVATION);
    }
    if (length < sizeof(TOKEN_ELEVATION)) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    static_cast<TOKEN_ELEVATION*>(information)->TokenIsElevated = elevated_ ? 1 : 0;
    return STATUS_SUCCESS;
}

Mutex* Model::mutexNamed(const Path& name) {
    // CreateMutexW: a name already in use opens that mutex; "the name is case sensitive".
    for (const auto& existing : mutexes_) {
        if (existing->name == name) {
            return existing.get();
        }
    }
    mutexes_.push_back(std::make_unique<Mutex>());
    mutexes_.back()->name = name;
    return mutexes_.back().get();
}

void Model::dropIfUnopened(Mutex* mutex) {
    // "The system closes the object when its last handle is closed" (CloseHandle); its name is
    // free again, whoever last owned it.
    if (mutex->handles == 0 && mutex->openedBy.empty()) {
        mutexes_.erase(std::remove_if(mutexes_.begin(), mutexes_.end(),
                                      [&](const auto& held) { return held.get() == mutex; }),
                       mutexes_.end());
    }
}

HANDLE Model::createMutex(LPCWSTR name) {
    const Path wanted(name);
    mutexNames_.push_back(wanted);
    Mutex* mutex = mutexNamed(wanted);
    ++mutex->handles;
    Open open;
    open.type = Open::Type::mutex;
    open.mutex = mutex;
    return newHandle(std::move(open));
}

namespace {

/// One wait for `mutex` by `actor` that does not block: WaitForSingleObject's answers.
DWORD take(Mutex& mutex, Actor actor) {
    if (!mutex.owner) {
        // "WAIT_ABANDONED: ... a mutex object that was not released by the thread that owned
        // the mutex object before the owning thread terminated. Ownership of the mutex object
        // is granted to the calling thread".
        mutex.owner = actor;
        mutex.count = 1;
        const bool abandoned = mutex.abandoned;
        mutex.abandoned = false;
        return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
    }
    if (*mutex.owner == actor) {
        ++mutex.count;  // its owner may wait for it again (Mutex Objects)
        return WAIT_OBJECT_0;
    }
    return WAIT_TIMEOUT;
}

}  // namespace

DWORD Model::waitForSingleObject(HANDLE handle, DWORD milliseconds) {
    Open* open = openOf(handle);
    if (open == nullptr || open->type != Open::Type::mutex) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    const DWORD result = take(*open->mutex, Actor::program);
    if (result == WAIT_TIMEOUT) {
        clock_ += milliseconds;  // held by another all along
    }
    return result;
}

BOOL Model::releaseMutexHandle(HANDLE handle) {
    // ReleaseMutex: "fails if the calling thread does not own the mutex object".
    Open* open = openOf(handle);
    if (open == nullptr || open->type != Open::Type::mutex) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Mutex& mutex = *open->mutex;
    if (mutex.owner != Actor::program) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    if (--mutex.count == 0) {
        mutex.owner.reset();
    }
    return TRUE;
}

void Model::openMutex(Actor actor, const Path& name) {
    Mutex* mutex = mutexNamed(name);
    if (std::find(mutex->openedBy.begin(), mutex->openedBy.end(), actor) == mutex->openedBy.end()) {
        mutex->openedBy.push_back(actor);
    }
}

DWORD Model::takeMutex(Actor actor, const Path& name) {
    openMutex(actor, name);
    return take(*mutexNamed(name), actor);
}

void Model::releaseMutex(Actor actor, const Path& name) {
    for (const auto& mutex : mutexes_) {
        if (mutex->name == name && mutex->owner == actor && --mutex->count == 0) {
            mutex->owner.reset();
        }
    }
}

void Model::crash(Actor actor) {
    // "If a thread terminates without releasing its ownership of a mutex object, the mutex
    // object is considered to be abandoned" (Mutex Objects); its handles are closed.
    std::vector<Mutex*> opened;
    for (const auto& mutex : mutexes_) {
        if (mutex->owner == actor) {
            mutex->owner.reset();
            mutex->count = 0;
            mutex->abandoned = true;
        }
        auto& by = mutex->openedBy;
        by.erase(std::remove(by.begin(), by.end(), actor), by.end());
        opened.push_back(mutex.get());
    }
    for (Mutex* mutex : opened) {
        dropIfUnopened(mutex);
    }
    std::vector<HANDLE> held;
    for (const auto& [value, open] : handles_) {
        if (open.actor == actor) {
            held.push_back(reinterpret_cast<HANDLE>(value));
        }
    }
    for (HANDLE handle : held) {
        ntClose(handle);
    }
}

std::optional<Actor> Model::mutexOwner(const Path& name) const {
    for (const auto& mutex : mutexes_) {
        if (mutex->name == name) {
            return mutex->owner;
        }
    }
    return std::nullopt;
}

}  // namespace ntmodel
