// Opening and making files and folders: the walk from a folder or a device through the names,
// reparse points on the way and at the end, the dispositions, and the access and sharing
// checks. The order of the checks is that of [MS-FSA] 2.1.5.1 Server Requests an Open of a File.
#include <ntstatus.h>

#include "tests/nt/model/nt_model.h"
#include "tests/nt/model/nt_model_names.h"

namespace ntmodel {

namespace {

/// Generic rights stand for sets of specific ones (ZwCreateFile, DesiredAccess: "GENERIC_READ
/// ... STANDARD_RIGHTS_READ, FILE_READ_DATA, FILE_READ_ATTRIBUTES, FILE_READ_EA, SYNCHRONIZE").
ACCESS_MASK mapGeneric(ACCESS_MASK access) {
    ACCESS_MASK mapped = access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if ((access & GENERIC_READ) != 0) {
        mapped |= FILE_GENERIC_READ;
    }
    if ((access & GENERIC_WRITE) != 0) {
        mapped |= FILE_GENERIC_WRITE;
    }
    if ((access & GENERIC_EXECUTE) != 0) {
        mapped |= FILE_GENERIC_EXECUTE;
    }
    if ((access & GENERIC_ALL) != 0) {
        mapped |= FILE_ALL_ACCESS;
    }
    return mapped | SYNCHRONIZE;
}

/// A reparse point whose file-system filter opens the file itself ("Reparse Points": "If no
/// file system filter is found, the file open operation fails"): the cloud files filter and
/// data deduplication serve their files transparently; nothing serves an app execution alias.
bool servedByFilter(ULONG tag) {
    return tag == kTagDedup || (tag & 0xFFFF0FFF) == kTagCloud;
}

/// "name", "name:stream", "name:stream:$DATA", "name::$DATA" ([MS-FSCC] 2.1.5.3 Stream Names):
/// the leaf and the stream in upper case (empty for the data). False for any other type.
bool splitStream(const Path& name, Path& leaf, Path& stream) {
    const size_t colon = name.find(L':');
    leaf = name.substr(0, colon);
    stream.clear();
    if (colon == Path::npos) {
        return true;
    }
    const Path rest = name.substr(colon + 1);
    const size_t type = rest.find(L':');
    if (type != Path::npos && !sameName(rest.substr(type + 1), L"$DATA")) {
        return false;
    }
    stream = upper(rest.substr(0, type));
    return type != Path::npos || !stream.empty();
}

}  // namespace

ACCESS_MASK Model::rightsOf(Actor actor, const Node* node) const {
    switch (actor) {
        case Actor::program:
            return node->rights[elevated_ ? 1 : 0];
        case Actor::other:
            return node->rights[0];
        case Actor::outsider:
            break;
    }
    return FILE_ALL_ACCESS;
}

HANDLE Model::newHandle(Open open) {
    const uintptr_t value = nextHandle_;
    nextHandle_ += 4;
    handles_[value] = std::move(open);
    return reinterpret_cast<HANDLE>(value);
}

Open* Model::openOf(HANDLE handle) {
    const auto found = handles_.find(reinterpret_cast<uintptr_t>(handle));
    return found == handles_.end() ? nullptr : &found->second;
}

size_t Model::openHandles(Actor actor) const {
    size_t count = 0;
    for (const auto& [value, open] : handles_) {
        count += open.actor == actor ? 1 : 0;
    }
    return count;
}

Model::Walked Model::walk(Actor actor, Node* start, Link* startLink, std::vector<Path> names,
                          bool ignoreCase, ULONG options, int reparses) {
    Walked walked;
    walked.folder = start;
    walked.folderLink = startLink;
    if (names.empty()) {
        walked.self = true;
        return walked;
    }
    for (size_t i = 0; i < names.size(); ++i) {
        Node* folder = walked.folder;
        const bool last = i + 1 == names.size();
        // A folder on the way must grant traverse, unless the caller may bypass that check,
        // which every user may by default ("Checking for Traverse Privilege on IRP_MJ_CREATE").
        if (actor == Actor::program && !bypassTraverse_ &&
            (rightsOf(actor, folder) & FILE_TRAVERSE) == 0) {
            walked.status = STATUS_ACCESS_DENIED;
            return walked;
        }
        Path leaf = names[i];
        Path stream;
        if (last && !splitStream(names[i], leaf, stream)) {
            walked.status = STATUS_OBJECT_NAME_INVALID;
            return walked;
        }
        if (!validName(leaf)) {
            walked.status = STATUS_OBJECT_NAME_INVALID;
            return walked;
        }
        Link* link = find(folder, leaf, ignoreCase);
        if (last) {
            walked.found = link;
            walked.leaf = leaf;
            walked.stream = stream;
            return walked;
        }
        // A name on the way that is missing, or no folder ([MS-FSA] 2.1.5.1: "the operation
        // MUST be failed with STATUS_OBJECT_PATH_NOT_FOUND").
        if (link == nullptr) {
            walked.status = STATUS_OBJECT_PATH_NOT_FOUND;
            return walked;
        }
        Node* node = link->node;
        // A name surrogate on the way is always followed: FILE_OPEN_REPARSE_POINT concerns the
        // last name only (ZwCreateFile, CreateOptions).
        if (node->reparse && IsReparseTagNameSurrogate(node->tag)) {
            std::vector<Path> rest(names.begin() + static_cast<long>(i) + 1, names.end());
            return follow(actor, node, rest, ignoreCase, options, reparses);
        }
        if (!node->folder) {
            walked.status = STATUS_OBJECT_PATH_NOT_FOUND;
            return walked;
        }
        walked.folder = node;
        walked.folderLink = link;
    }
    return walked;
}

Model::Walked Model::follow(Actor actor, Node* surrogate, const std::vector<Path>& rest,
                            bool ignoreCase, ULONG options, int reparses) {
    // The open starts again at the name the reparse point holds, with the names that were
    // left ([MS-FSA] 2.1.5.1.2: STATUS_REPARSE with the reparse data; the I/O manager reissues
    // the open). Loops of links are not modelled.
    Walked walked;
    Node* start = nullptr;
    std::vector<Path> names;
    walked.status =
        reparses > 8 ? STATUS_NOT_IMPLEMENTED : parseSystemPath(surrogate->target, start, names);
    if (walked.status < 0) {
        return walked;
    }
    names.insert(names.end(), rest.begin(), rest.end());
    return walk(actor, start, nullptr, names, ignoreCase, options, reparses + 1);
}

NTSTATUS Model::checkAccess(Actor actor, Node* node, Link* link, ACCESS_MASK access) const {
    ACCESS_MASK granted = rightsOf(actor, node) | SYNCHRONIZE;
    if (link != nullptr) {
        // Deleting is granted by DELETE on the file or by FILE_DELETE_CHILD on its folder, and
        // reading attributes by FILE_READ_ATTRIBUTES or by FILE_LIST_DIRECTORY on the folder
        // ("Access to a file's attributes is controlled by two things", The Old New Thing).
        const ACCESS_MASK parent = rightsOf(actor, link->parent);
        granted |= (parent & FILE_DELETE_CHILD) != 0 ? DELETE : 0;
        granted |= (parent & FILE_LIST_DIRECTORY) != 0 ? FILE_READ_ATTRIBUTES : 0;
    }
    if ((access & ~granted) != 0) {
        return STATUS_ACCESS_DENIED;
    }
    // A read-only file cannot be opened for writing ([MS-FSA] 2.1.5.1.2.1 Algorithm to Check
    // Access to an Existing File).
    if (!node->folder && (node->attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        (access & (FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0) {
        return STATUS_ACCESS_DENIED;
    }
    return STATUS_SUCCESS;
}

NTSTATUS Model::checkSharing(Actor actor, Node* node, const Path& stream, ACCESS_MASK access,
                             ULONG share) const {
    // IoCheckShareAccess: only reading (or executing, which is traversing for a folder),
    // writing and deleting take part, on both sides; an open that asks none of them neither
    // counts nor is counted. A process outside Wine is not held to it.
    constexpr ACCESS_MASK kReads = FILE_READ_DATA | FILE_EXECUTE;
    constexpr ACCESS_MASK kWrites = FILE_WRITE_DATA | FILE_APPEND_DATA;
    const auto conflicts = [](ACCESS_MASK access, ULONG share) {
        return ((access & kReads) != 0 && (share & FILE_SHARE_READ) == 0) ||
               ((access & kWrites) != 0 && (share & FILE_SHARE_WRITE) == 0) ||
               ((access & DELETE) != 0 && (share & FILE_SHARE_DELETE) == 0);
    };
    if (actor == Actor::outsider || (access & (kReads | kWrites | DELETE)) == 0) {
        return STATUS_SUCCESS;
    }
    for (const auto& [value, open] : handles_) {
        if (open.type != Open::Type::file || open.node != node || open.stream != stream ||
            open.actor == Actor::outsider || (open.access & (kReads | kWrites | DELETE)) == 0) {
            continue;
        }
        if (conflicts(access, open.share) || conflicts(open.access, share)) {
            return STATUS_SHARING_VIOLATION;
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS Model::ntCreateFile(Actor actor, PHANDLE handle, ACCESS_MASK access,
                             POBJECT_ATTRIBUTES attributes, ULONG fileAttributes, ULONG share,
                             ULONG disposition, ULONG options) {
    *handle = nullptr;
    if (attributes == nullptr || attributes->ObjectName == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const Path name(attributes->ObjectName->Buffer,
                    attributes->ObjectName->Length / sizeof(wchar_t));
    const bool ignoreCase = (attributes->Attributes & OBJ_CASE_INSENSITIVE) != 0;
    Node* start = nullptr;
    Link* startLink = nullptr;
    std::vector<Path> names;
    if (attributes->RootDirectory != nullptr) {
        // A name relative to a folder held open (NtCreateFile, ObjectAttributes: "If this
        // value is non-NULL, the ObjectName member specifies a file name relative to this
        // directory"). The empty name is the folder itself.
        Open* root = openOf(attributes->RootDirectory);
        if (root == nullptr || root->type != Open::Type::file) {
            return STATUS_INVALID_HANDLE;
        }
        if (!root->node->folder || (!name.empty() && name[0] == L'\\')) {
            return STATUS_NOT_IMPLEMENTED;
        }
        start = root->node;
        startLink = root->link;
        if (!name.empty()) {
            names = splitNames(name);
        }
    } else {
        // Otherwise a fully qualified name in the object namespace ("\??\C:\x").
        const NTSTATUS parsed = parseSystemPath(name, start, names);
        if (parsed < 0) {
            return parsed;
        }
    }
    Walked walked = walk(actor, start, startLink, names, ignoreCase, options, 0);
    if (walked.status < 0) {
        return walked.status;
    }
    if (walked.self || walked.found != nullptr) {
        return openFound(actor, walked, mapGeneric(access), share, disposition, options,
                         fileAttributes, handle, 0);
    }
    return createNew(actor, walked, mapGeneric(access), share, disposition, options, fileAttributes,
                     handle);
}

NTSTATUS Model::openFound(Actor actor, Walked& walked, ACCESS_MASK access, ULONG share,
                          ULONG disposition, ULONG options, ULONG fileAttributes, HANDLE* handle,
                          int reparses) {
    Link* link = walked.self ? walked.folderLink : walked.found;
    Node* node = walked.self ? walked.folder : walked.found->node;
    // [MS-FSA] 2.1.5.1: a name marked for deletion cannot be opened; FILE_CREATE fails on any
    // name that exists (ZwCreateFile, CreateDisposition).
    if (link != nullptr && link->deleted) {
        return STATUS_DELETE_PENDING;
    }
    const bool streamThere = walked.stream.empty() || node->streams.count(walked.stream) != 0;
    if (disposition == FILE_CREATE && streamThere) {
        return STATUS_OBJECT_NAME_COLLISION;
    }
    // [MS-FSA] 2.1.5.1.2 Open of an Existing File: a reparse point is processed unless
    // FILE_OPEN_REPARSE_POINT asks for the file itself.
    if (!walked.self && node->reparse && (options & FILE_OPEN_REPARSE_POINT) == 0) {
        if (IsReparseTagNameSurrogate(node->tag)) {
            Walked target = follow(actor, node, {}, true, options, reparses);
            if (target.status < 0) {
                return target.status;
            }
            return target.self || target.found != nullptr
                       ? openFound(actor, target, access, share, disposition, options,
                                   fileAttributes, handle, reparses + 1)
                       : createNew(actor, target, access, share, disposition, options,
                                   fileAttributes, handle);
        }
        if (node->tag == 0) {
            return STATUS_NOT_IMPLEMENTED;  // a reserved tag: Windows never sets one
        }
        if (!servedByFilter(node->tag)) {
            return STATUS_IO_REPARSE_TAG_NOT_HANDLED;
        }
    }
    // ZwCreateFile, CreateOptions: FILE_DIRECTORY_FILE on a file, FILE_NON_DIRECTORY_FILE on
    // a folder.
    if ((options & FILE_DIRECTORY_FILE) != 0 && !node->folder) {
        return STATUS_NOT_A_DIRECTORY;
    }
    if ((options & FILE_NON_DIRECTORY_FILE) != 0 && node->folder) {
        return STATUS_FILE_IS_A_DIRECTORY;
    }
    const bool overwrite = disposition == FILE_OVERWRITE || disposition == FILE_OVERWRITE_IF ||
                           disposition == FILE_SUPERSEDE;
    if (node->folder && (overwrite || !walked.stream.empty())) {
        return STATUS_NOT_IMPLEMENTED;
    }
    if (!streamThere) {
        if (disposition == FILE_OPEN || disposition == FILE_OVERWRITE) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
        node->streams[walked.stream];
    }
    const NTSTATUS allowed =
        checkAccess(actor, node, link, access | (overwrite ? FILE_WRITE_DATA : 0));
    if (allowed < 0) {
        return allowed;
    }
    const NTSTATUS shared = checkSharing(actor, node, walked.stream, access, share);
    if (shared < 0) {
        return shared;
    }
    if (overwrite) {
        (walked.stream.empty() ? node->data : node->streams[walked.stream]).clear();
    }
    Open open;
    open.actor = actor;
    open.node = node;
    open.link = link;
    open.stream = walked.stream;
    open.access = access;
    open.share = share;
    *handle = newHandle(std::move(open));
    return STATUS_SUCCESS;
}

NTSTATUS Model::createNew(Actor actor, Walked& walked, ACCESS_MASK access, ULONG share,
                          ULONG disposition, ULONG options, ULONG fileAttributes, HANDLE* handle) {
    // ZwCreateFile, CreateDisposition: FILE_OPEN and FILE_OVERWRITE need the file to exist.
    if (disposition == FILE_OPEN || disposition == FILE_OVERWRITE) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    if (!walked.stream.empty()) {
        return STATUS_NOT_IMPLEMENTED;
    }
    Node* folder = walked.folder;
    // Nothing new comes into a folder marked for deletion (the WDK's FAT sample, create:
    // "the parent directory is marked for delete": STATUS_DELETE_PENDING).
    if (walked.folderLink != nullptr && walked.folderLink->deleted) {
        return STATUS_DELETE_PENDING;
    }
    // Making a file or folder needs the right to add one to the folder ("Checking for Other
    // Special Cases on IRP_MJ_CREATE": constructive operations need access to the parent).
    const bool makeFolder = (options & FILE_DIRECTORY_FILE) != 0;
    if ((rightsOf(actor, folder) & (makeFolder ? FILE_ADD_SUBDIRECTORY : FILE_ADD_FILE)) == 0) {
        return STATUS_ACCESS_DENIED;
    }
    Node* node = newNode(makeFolder, folder->volume);
    node->attributes = fileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                         FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    // The new file's name as given; the maker gets the access it asked for ([MS-FSA] 2.1.5.1.1
    // Creation of a New File).
    Open open;
    open.actor = actor;
    open.node = node;
    open.link = addLink(folder, node, walked.leaf);
    open.access = access;
    open.share = share;
    *handle = newHandle(std::move(open));
    return STATUS_SUCCESS;
}

NTSTATUS Model::open(Actor actor, const Path& path, ACCESS_MASK access, ULONG share,
                     ULONG disposition, ULONG options, HANDLE* handle) {
    Path system =
        path.compare(0, 2, L"\\\\") == 0 ? L"\\??\\UNC\\" + path.substr(2) : L"\\??\\" + path;
    UNICODE_STRING counted{};
    counted.Buffer = system.data();
    counted.Length = static_cast<USHORT>(system.size() * sizeof(wchar_t));
    counted.MaximumLength = counted.Length;
    OBJECT_ATTRIBUTES attributes{};
    attributes.Length = sizeof attributes;
    attributes.ObjectName = &counted;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    return ntCreateFile(actor, handle, access, &attributes, 0, share, disposition, options);
}

}  // namespace ntmodel
