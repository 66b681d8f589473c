// A model of NT for the Windows file layer's tests: an in-memory namespace of volumes, shares,
// folders and files (long and 8.3 names, streams, hard links, reparse points with their real
// tags), handles with their access and sharing, delete-pending names, two tokens and named
// mutexes. It answers every call of the layer's system-call table (windows/nt_calls.h) with what
// Windows documents for that case; each rule names its source where it is written. Where the
// documents say nothing, it answers STATUS_NOT_IMPLEMENTED, so that no test passes on a guess.
//
// Three actors act on it: the program under test, another program that Windows holds to its
// rules (the attacker, a scanner, a second run: it has the ordinary user's rights), and a process
// outside Wine, which ignores sharing (what Wine lets such a process do, and Windows does not).
// Tests build a namespace, install the model's table, and act between two of the layer's calls.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/path.h"
#include "windows/nt_calls.h"

namespace ntmodel {

enum class Actor { program, other, outsider };

/// Reparse tags ([MS-FSCC] 2.1.2.1 Reparse Tags).
constexpr ULONG kTagMountPoint = 0xA0000003;
constexpr ULONG kTagSymlink = 0xA000000C;
constexpr ULONG kTagDedup = 0x80000013;
constexpr ULONG kTagCloud = 0x9000001A;
constexpr ULONG kTagAppExecLink = 0x8000001B;

struct Node;

/// One name of a file in a folder ([MS-FSA] 2.1.1.3 "Link").
struct Link {
    Path name;
    /// The 8.3 name, empty when the long name is one already.
    Path shortName;
    Node* parent = nullptr;
    Node* node = nullptr;
    /// Marked for deletion: it goes when the file's last open closes.
    bool deleted = false;
    /// No longer in its folder.
    bool removed = false;
};

struct Volume {
    /// The device the volume's names start with: "\Device\HarddiskVolume3", "\Device\Mup\srv\s".
    Path device;
    Node* root = nullptr;
    /// A share whose server answers.
    bool reachable = true;
};

/// A file or folder ([MS-FSA] 2.1.1.3 "File").
struct Node {
    bool folder = false;
    ULONG attributes = 0;
    ULONG tag = 0;
    bool reparse = false;
    /// Where a name surrogate leads, in the system's form ("\??\C:\x").
    Path target;
    std::string data;
    /// What a power cut would leave of the data: the data as last flushed.
    std::string durable;
    /// Named streams, keyed by their name in upper case.
    std::map<Path, std::string> streams;
    std::vector<Link*> entries;
    /// The folder's entries as last flushed (upper-case name to file).
    std::map<Path, Node*> durableEntries;
    std::vector<Link*> links;
    Volume* volume = nullptr;
    /// The rights each token has on it: [0] the ordinary user's, [1] the elevated one's.
    ACCESS_MASK rights[2] = {FILE_ALL_ACCESS, FILE_ALL_ACCESS};
};

struct Mutex {
    Path name;
    std::optional<Actor> owner;
    int count = 0;
    bool abandoned = false;
    /// The program's handles to it.
    int handles = 0;
    /// Other actors that hold it open.
    std::vector<Actor> openedBy;
};

/// An open handle.
struct Open {
    enum class Type { file, token, mutex } type = Type::file;
    Actor actor = Actor::program;
    Node* node = nullptr;
    /// The name it was opened through; null for a volume's root.
    Link* link = nullptr;
    /// The named stream, in upper case; empty for the file's data.
    Path stream;
    ACCESS_MASK access = 0;
    ULONG share = 0;
    uint64_t position = 0;
    bool patternSet = false;
    Path pattern;
    size_t cursor = 0;
    Mutex* mutex = nullptr;
};

class Model {
  public:
    /// A machine with one volume, C: ("\Device\HarddiskVolume3", also reachable by its GUID),
    /// its working folder C:\work, and a program that runs elevated.
    Model();
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;
    ~Model();

    // -- How the machine stands before the run --------------------------------------------
    void addVolume(const Path& letter, const Path& device, const Path& guid);
    void addShare(const Path& server, const Path& share);
    void serverOff(const Path& server);
    /// Makes the folder at `path` ("C:\a\b", "\\srv\s\a") and every one missing above it.
    void makeFolder(const Path& path);
    void makeFile(const Path& path, const std::string& bytes, ULONG attributes = 0);
    /// A reparse point at `path`: a folder or a file carrying `tag`, leading to `target` when
    /// the tag is a name surrogate.
    void makeReparse(const Path& path, ULONG tag, const Path& target, bool folder);
    /// What the ordinary user's token (`user`) and the elevated one (`admin`) may do there.
    void setRights(const Path& path, ACCESS_MASK user, ACCESS_MASK admin);
    void setElevated(bool elevated) { elevated_ = elevated; }
    void failTokenQuery(bool fail) { failToken_ = fail; }
    /// The right to pass through folders without their traverse right, which Windows grants
    /// every user by default.
    void setBypassTraverse(bool bypass) { bypassTraverse_ = bypass; }
    void setWorkingFolder(const Path& path) { cwd_ = path; }

    // -- What another program (or a process outside Wine) does ----------------------------
    /// Opens `path` as `actor` would with NtCreateFile; STATUS_SUCCESS or why not.
    NTSTATUS open(Actor actor, const Path& path, ACCESS_MASK access, ULONG share, ULONG disposition,
                  ULONG options, HANDLE* handle);
    /// Renames the file open at `handle` to the whole path `to`.
    NTSTATUS rename(HANDLE handle, const Path& to, bool replace);
    /// Gives the file open at `handle` the further name `to`.
    NTSTATUS hardLink(HANDLE handle, const Path& to);
    NTSTATUS markForDeletion(HANDLE handle);
    void close(HANDLE handle);
    /// Takes the name away at once, open or not: what a process outside Wine can do to a
    /// file this program holds without delete sharing.
    void unlinkNow(const Path& path);
    /// Opens the mutex `name` for `actor`, which keeps it in being.
    void openMutex(Actor actor, const Path& name);
    /// Takes the mutex `name` for `actor`, waiting for nothing; the wait's answer.
    DWORD takeMutex(Actor actor, const Path& name);
    void releaseMutex(Actor actor, const Path& name);
    /// `actor` ends without letting go: its mutexes are abandoned, its handles closed.
    void crash(Actor actor);

    // -- What stands there now, and what a power cut would leave --------------------------
    std::optional<std::string> bytes(const Path& path);
    /// The data of the file that `folder`'s entries, as last flushed, list under `name`.
    std::optional<std::string> durableBytes(const Path& folder, const Path& name);
    bool exists(const Path& path);
    bool isFolder(const Path& path);
    unsigned names(const Path& path);
    ULONG attributes(const Path& path);
    Path shortName(const Path& path);
    /// Handles `actor` holds open, of every kind.
    size_t openHandles(Actor actor) const;
    /// Every mutex name the program created or opened, in order.
    const std::vector<Path>& mutexNames() const { return mutexNames_; }
    /// Who holds the mutex `name` now.
    std::optional<Actor> mutexOwner(const Path& name) const;
    /// Milliseconds the program waited in Sleep and in mutex waits that timed out.
    DWORD waited() const { return clock_; }

    /// The table of calls this model answers; valid while the model lives.
    NtCalls calls();

    // The calls themselves, as the table hands them on.
    NTSTATUS ntCreateFile(Actor actor, PHANDLE handle, ACCESS_MASK access,
                          POBJECT_ATTRIBUTES attributes, ULONG fileAttributes, ULONG share,
                          ULONG disposition, ULONG options);
    NTSTATUS ntQueryInformationFile(HANDLE file, void* information, ULONG length,
                                    FILE_INFORMATION_CLASS infoClass, ULONG_PTR* written);
    NTSTATUS ntQueryDirectoryFile(HANDLE file, void* buffer, ULONG length,
                                  FILE_INFORMATION_CLASS infoClass, BOOLEAN singleEntry,
                                  PUNICODE_STRING pattern, BOOLEAN restart);
    NTSTATUS ntSetInformationFile(HANDLE file, void* information, ULONG length,
                                  FILE_INFORMATION_CLASS infoClass);
    NTSTATUS ntReadFile(HANDLE file, void* buffer, ULONG length, PLARGE_INTEGER offset,
                        ULONG_PTR* done);
    NTSTATUS ntWriteFile(HANDLE file, const void* buffer, ULONG length, PLARGE_INTEGER offset,
                         ULONG_PTR* done);
    NTSTATUS ntFlushBuffersFile(HANDLE file);
    NTSTATUS ntClose(HANDLE handle);
    NTSTATUS ntQueryObject(HANDLE handle, OBJECT_INFORMATION_CLASS infoClass, void* information,
                           ULONG length, PULONG returned);
    DWORD getFullPathName(LPCWSTR name, DWORD length, LPWSTR buffer);
    DWORD getFinalPathNameByHandle(HANDLE file, LPWSTR buffer, DWORD length, DWORD flags);
    NTSTATUS ntOpenProcessToken(PHANDLE token);
    NTSTATUS ntQueryInformationToken(HANDLE token, TOKEN_INFORMATION_CLASS infoClass,
                                     void* information, ULONG length, PULONG returned);
    HANDLE createMutex(LPCWSTR name);
    DWORD waitForSingleObject(HANDLE handle, DWORD milliseconds);
    BOOL releaseMutexHandle(HANDLE mutex);
    void sleep(DWORD milliseconds) { clock_ += milliseconds; }

  private:
    /// Where a walk through the namespace ended.
    struct Walked {
        NTSTATUS status = 0;
        Node* folder = nullptr;
        Link* folderLink = nullptr;
        /// The entry found for the last name; null when there is none.
        Link* found = nullptr;
        Path leaf;
        /// The stream named after the leaf, in upper case; empty for the data.
        Path stream;
        /// The name was empty: the starting folder itself is meant.
        bool self = false;
    };

    Node* newNode(bool folder, Volume* volume);
    Link* addLink(Node* folder, Node* node, const Path& name);
    void removeLink(Link* link);
    Path makeShortName(Node* folder, const Path& name);
    Link* find(Node* folder, const Path& name, bool ignoreCase) const;
    /// The folder and names that a path in the system's form ("\??\C:\a") starts from.
    NTSTATUS parseSystemPath(const Path& path, Node*& start, std::vector<Path>& names);
    /// The same for a path in the setup's form ("C:\a", "\\srv\s\a").
    Node* startOf(const Path& path, std::vector<Path>& names);
    Walked walk(Actor actor, Node* start, Link* startLink, std::vector<Path> names, bool ignoreCase,
                ULONG options, int reparses);
    /// Goes on at the name a surrogate reparse point holds, with the names `rest` below it.
    Walked follow(Actor actor, Node* surrogate, const std::vector<Path>& rest, bool ignoreCase,
                  ULONG options, int reparses);
    NTSTATUS openFound(Actor actor, Walked& walked, ACCESS_MASK access, ULONG share,
                       ULONG disposition, ULONG options, ULONG fileAttributes, HANDLE* handle,
                       int reparses);
    NTSTATUS createNew(Actor actor, Walked& walked, ACCESS_MASK access, ULONG share,
                       ULONG disposition, ULONG options, ULONG fileAttributes, HANDLE* handle);
    NTSTATUS checkAccess(Actor actor, Node* node, Link* link, ACCESS_MASK access) const;
    NTSTATUS checkSharing(Actor actor, Node* node, const Path& stream, ACCESS_MASK access,
                          ULONG share) const;
    HANDLE newHandle(Open open);
    Mutex* mutexNamed(const Path& name);
    /// A named object goes once nothing holds it open any more.
    void dropIfUnopened(Mutex* mutex);
    Open* openOf(HANDLE handle);
    /// What a read or a write of `file` acts on: its open (null when refused: not a file's
    /// handle, a folder's, or one without any of the rights in `needs`, and `status` says
    /// which), the data of its stream, and where in it the call starts.
    struct DataAt {
        Open* open = nullptr;
        NTSTATUS status = 0;
        std::string* data = nullptr;
        uint64_t at = 0;
    };
    DataAt dataAt(HANDLE file, ACCESS_MASK needs, PLARGE_INTEGER offset);
    ACCESS_MASK rightsOf(Actor actor, const Node* node) const;
    Path nameOf(const Open& open) const;
    /// Looks `path` up without following anything at its end.
    Link* lookup(const Path& path);
    Node* nodeAt(const Path& path);
    NTSTATUS renameLink(Open& open, Node* folder, const Path& name, bool replace);

    std::vector<std::unique_ptr<Node>> nodes_;
    std::vector<std::unique_ptr<Link>> links_;
    std::vector<std::unique_ptr<Volume>> volumes_;
    /// DOS device names ("C:", "Volume{...}", "UNC\srv\s"), upper case, to their volume.
    std::map<Path, Volume*> devices_;
    std::map<Path, bool> servers_;
    std::map<uintptr_t, Open> handles_;
    uintptr_t nextHandle_ = 0x10000;
    std::vector<std::unique_ptr<Mutex>> mutexes_;
    std::vector<Path> mutexNames_;
    bool elevated_ = true;
    bool failToken_ = false;
    bool bypassTraverse_ = true;
    Path cwd_ = L"C:\\work";
    DWORD clock_ = 0;
};

/// The model the table's functions act on; one at a time.
Model* currentModel();
void setCurrentModel(Model* model);

}  // namespace ntmodel
