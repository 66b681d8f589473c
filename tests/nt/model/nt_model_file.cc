// What is done through a handle: its information asked and set (names, renames, links,
// deletion, attributes), a folder's entries listed, data read, written and flushed, the
// handle's name asked, and the handle closed.
#include <ntstatus.h>

#include <algorithm>
#include <cstring>

#include "tests/nt/model/nt_model.h"
#include "tests/nt/model/nt_model_names.h"

namespace ntmodel {

namespace {

ULONG attributesOf(const Node& node) {
    ULONG attributes = node.attributes | (node.folder ? FILE_ATTRIBUTE_DIRECTORY : 0) |
                       (node.reparse ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

template <typename Information>
NTSTATUS answer(const Information& information, void* buffer, ULONG length, ULONG_PTR* written) {
    if (length < sizeof information) {
        return STATUS_INFO_LENGTH_MISMATCH;
    }
    std::memcpy(buffer, &information, sizeof information);
    *written = sizeof information;
    return STATUS_SUCCESS;
}

/// The new name a FILE_RENAME_INFORMATION or FILE_LINK_INFORMATION carries (same layout).
Path newNameIn(const void* information) {
    const auto* info = static_cast<const FILE_RENAME_INFORMATION*>(information);
    return Path(info->FileName, info->FileNameLength / sizeof(wchar_t));
}

}  // namespace

Path Model::nameOf(const Open& open) const {
    // The name a handle answers with is built from the names of its link and of every folder
    // above it, as they stand now ([MS-FSA] 2.1.5.12.x FileNameInformation:
    // BuildRelativeName(Open.Link, ...)), after its volume's device (NtQueryObject).
    Path relative;
    for (const Link* link = open.link; link != nullptr;) {
        relative = L"\\" + link->name + relative;
        const Node* parent = link->parent;
        link = parent->links.empty() ? nullptr : parent->links.front();
    }
    if (!open.stream.empty()) {
        relative += L":" + open.stream;
    }
    return open.node->volume->device + (relative.empty() ? Path(L"\\") : relative);
}

NTSTATUS Model::ntQueryInformationFile(HANDLE file, void* information, ULONG length,
                                       FILE_INFORMATION_CLASS infoClass, ULONG_PTR* written) {
    Open* open = openOf(file);
    if (open == nullptr || open->type != Open::Type::file) {
        return STATUS_INVALID_HANDLE;
    }
    const Node& node = *open->node;
    switch (static_cast<int>(infoClass)) {
        case FileStandardInformation: {
            // [MS-FSA] 2.1.5.12.27 FileStandardInformation: the links not marked for deletion;
            // none left means delete pending.
            FILE_STANDARD_INFORMATION info{};
            info.Directory = node.folder ? TRUE : FALSE;
            ULONG names = 0;
            for (const Link* link : node.links) {
                names += link->deleted ? 0 : 1;
            }
            const bool root = open->link == nullptr;
            info.NumberOfLinks = root ? 1 : names;
            info.DeletePending = !root && (open->link->deleted || names == 0) ? TRUE : FALSE;
            const std::string& data =
                open->stream.empty() ? node.data : node.streams.at(open->stream);
            info.EndOfFile.QuadPart = static_cast<LONGLONG>(data.size());
            info.AllocationSize.QuadPart =
                static_cast<LONGLONG>((data.size() + 4095) / 4096 * 4096);
            return answer(info, information, length, written);
        }
        case FileAttributeTagInformation: {
            // [MS-FSCC] 2.4.6 FileAttributeTagInformation: STATUS_ACCESS_DENIED when "the handle
            // was not opened to read file data or file attributes".
            if ((open->access & (FILE_READ_DATA | FILE_READ_ATTRIBUTES)) == 0) {
                return STATUS_ACCESS_DENIED;
            }
            FILE_ATTRIBUTE_TAG_INFORMATION info{};
            info.FileAttributes = attributesOf(node);
            info.ReparseTag = node.reparse ? node.tag : 0;
            return answer(info, information, length, written);
        }
        case FileBasicInformation: {
            // [MS-FSA] 2.1.5.12.6 FileBasicInformation: needs FILE_READ_ATTRIBUTES.
            if ((open->access & FILE_READ_ATTRIBUTES) == 0) {
                return STATUS_ACCESS_DENIED;
            }
            FILE_BASIC_INFORMATION info{};
            info.FileAttributes = attributesOf(node);
            return answer(info, information, length, written);
        }
        default:
            return STATUS_NOT_IMPLEMENTED;
    }
}

NTSTATUS Model::ntQueryDirectoryFile(HANDLE file, void* buffer, ULONG length,
                                     FILE_INFORMATION_CLASS infoClass, BOOLEAN singleEntry,
                                     PUNICODE_STRING pattern, BOOLEAN restart) {
    // [MS-FSA] 2.1.5.6 Server Requests Querying a Directory.
    Open* open = openOf(file);
    if (open == nullptr || open->type != Open::Type::file) {
        return STATUS_INVALID_HANDLE;
    }
    if (!open->node->folder) {
        return STATUS_INVALID_PARAMETER;
    }
    if ((open->access & FILE_LIST_DIRECTORY) == 0) {
        return STATUS_ACCESS_DENIED;
    }
    if (static_cast<int>(infoClass) != FileNamesInformation || !singleEntry) {
        return STATUS_NOT_IMPLEMENTED;
    }
    // The pattern of the first query holds for the handle; an empty one is "*"; a first
    // query that matches nothing answers STATUS_NO_SUCH_FILE, a later one
    // STATUS_NO_MORE_FILES ([MS-FSA] 2.1.5.6.3 Directory Information Queries).
    const bool first = !open->patternSet || restart;
    if (!open->patternSet) {
        open->pattern = pattern == nullptr || pattern->Length == 0
                            ? Path(L"*")
                            : Path(pattern->Buffer, pattern->Length / sizeof(wchar_t));
        open->patternSet = true;
    }
    if (restart) {
        open->cursor = 0;
    }
    std::vector<Path> names;
    if (!open->node->links.empty()) {
        names = {L".", L".."};  // every folder but a root lists itself and its parent
    }
    std::vector<Path> shortNames(names.size());
    for (const Link* link : open->node->entries) {
        names.push_back(link->name);
        shortNames.push_back(link->shortName);
    }
    for (; open->cursor < names.size(); ++open->cursor) {
        const size_t at = open->cursor;
        if (!matches(names[at], open->pattern) &&
            (shortNames[at].empty() || !matches(shortNames[at], open->pattern))) {
            continue;
        }
        ++open->cursor;
        const ULONG bytes = static_cast<ULONG>(names[at].size() * sizeof(wchar_t));
        if (length < offsetof(FILE_NAMES_INFORMATION, FileName) + bytes) {
            return STATUS_BUFFER_OVERFLOW;
        }
        auto* entry = static_cast<FILE_NAMES_INFORMATION*>(buffer);
        entry->NextEntryOffset = 0;
        entry->FileIndex = 0;
        entry->FileNameLength = bytes;
        std::memcpy(entry->FileName, names[at].data(), bytes);
        return STATUS_SUCCESS;
    }
    return first ? STATUS_NO_SUCH_FILE : STATUS_NO_MORE_FILES;
}

NTSTATUS Model::renameLink(Open& open, Node* folder, const Path& name, bool replace) {
    // [MS-FSA] 2.1.5.15.11 FileRenameInformation.
    Link* source = open.link;
    if (!validName(name)) {
        return STATUS_OBJECT_NAME_INVALID;
    }
    if (source == nullptr || source->removed || source->deleted) {
        return STATUS_NOT_IMPLEMENTED;  // undocumented: the model does not guess
    }
    if (folder->volume != open.node->volume) {
        return STATUS_NOT_SAME_DEVICE;
    }
    Link* target = find(folder, name, true);
    if (target != nullptr && target != source) {
        if (!replace) {
            return STATUS_OBJECT_NAME_COLLISION;
        }
        // A folder, a read-only file and a file that is open cannot be replaced.
        if (target->node->folder || (target->node->attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            return STATUS_ACCESS_DENIED;
        }
        for (const auto& [value, other] : handles_) {
            if (other.node == target->node && other.actor != Actor::outsider) {
                return STATUS_ACCESS_DENIED;
            }
        }
        // Replacing deletes the target, which takes the right to delete it ("Rename and Hard
        // Link Processing").
        if (open.actor == Actor::program && (rightsOf(open.actor, target->node) & DELETE) == 0 &&
            (rightsOf(open.actor, folder) & FILE_DELETE_CHILD) == 0) {
            return STATUS_ACCESS_DENIED;
        }
        removeLink(target);
    }
    auto& entries = source->parent->entries;
    entries.erase(std::remove(entries.begin(), entries.end(), source), entries.end());
    source->parent = folder;
    source->name = name;
    source->shortName = makeShortName(folder, name);
    folder->entries.push_back(source);
    return STATUS_SUCCESS;
}

NTSTATUS Model::ntSetInformationFile(HANDLE file, void* information, ULONG length,
                                     FILE_INFORMATION_CLASS infoClass) {
    Open* open = openOf(file);
    if (open == nullptr || open->type != Open::Type::file) {
        return STATUS_INVALID_HANDLE;
    }
    Node& node = *open->node;
    switch (static_cast<int>(infoClass)) {
        case FileBasicInformation: {
            // NtSetInformationFile: "the caller must have opened the file with the
            // FILE_WRITE_ATTRIBUTES flag"; attributes 0 leave them as they are ([MS-FSA]
            // 2.1.5.15.1 FileBasicInformation).
            if (length < sizeof(FILE_BASIC_INFORMATION)) {
                return STATUS_INFO_LENGTH_MISMATCH;
            }
            if ((open->access & FILE_WRITE_ATTRIBUTES) == 0) {
                return STATUS_ACCESS_DENIED;
            }
            const ULONG attributes =
                static_cast<FILE_BASIC_INFORMATION*>(information)->FileAttributes;
            if (attributes != 0) {
                node.attributes = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
            }
            return STATUS_SUCCESS;
        }
        case FileDispositionInformation: {
            // [MS-FSA] 2.1.5.15.3 FileDispositionInformation.
            if (length < sizeof(FILE_DISPOSITION_INFORMATION)) {
                return STATUS_INFO_LENGTH_MISMATCH;
            }
            if ((open->access & DELETE) == 0) {
                return STATUS_ACCESS_DENIED;
            }
            if (open->link == nullptr || !open->stream.empty()) {
                return STATUS_NOT_IMPLEMENTED;
            }
            // Its one member, whose name windows.h turns into a macro.
            const bool deleting = *static_cast<const BOOLEAN*>(information) != FALSE;
            if (deleting && (node.attributes & FILE_ATTRIBUTE_READONLY) != 0) {
                return STATUS_CANNOT_DELETE;
            }
            if (deleting && node.folder && !node.entries.empty()) {
                return STATUS_DIRECTORY_NOT_EMPTY;
            }
            open->link->deleted = deleting;
            return STATUS_SUCCESS;
        }
        case FileRenameInformation:
        case FileLinkInformation: {
            const bool renaming = static_cast<int>(infoClass) == FileRenameInformation;
            if (length < sizeof(FILE_RENAME_INFORMATION)) {
                return STATUS_INFO_LENGTH_MISMATCH;
            }
            // Renaming needs DELETE on the file ([MS-FSA] 2.1.5.15.11).
            if (renaming && (open->access & DELETE) == 0) {
                return STATUS_ACCESS_DENIED;
            }
            const auto* info = static_cast<FILE_RENAME_INFORMATION*>(information);
            const Path name = newNameIn(information);
            Node* folder = nullptr;
            Path leaf = name;
            if (info->RootDirectory != nullptr) {
                // FILE_RENAME_INFORMATION, RootDirectory: the new name is relative to it.
                Open* root = openOf(info->RootDirectory);
                if (root == nullptr || !root->node->folder || name.find(L'\\') != Path::npos) {
                    return STATUS_NOT_IMPLEMENTED;
                }
                folder = root->node;
            } else if (name.find(L'\\') == Path::npos && open->link != nullptr) {
                folder = open->link->parent;  // a bare name: the same folder
            } else {
                return STATUS_NOT_IMPLEMENTED;
            }
            const bool replace = info->ReplaceIfExists != FALSE;
            if (renaming) {
                return renameLink(*open, folder, leaf, replace);
            }
            // [MS-FSA] 2.1.5.15.6 FileLinkInformation: a further name for a file.
            if (node.folder) {
                return STATUS_FILE_IS_A_DIRECTORY;
            }
            if (find(folder, leaf, true) != nullptr) {
                return replace ? STATUS_NOT_IMPLEMENTED : STATUS_OBJECT_NAME_COLLISION;
            }
            addLink(folder, &node, leaf);
            return STATUS_SUCCESS;
        }
        default:
            return STATUS_NOT_IMPLEMENTED;
    }
}

Model::DataAt Model::dataAt(HANDLE file, ACCESS_MASK needs, PLARGE_INTEGER offset) {
    DataAt to;
    Open* open = openOf(file);
    if (open == nullptr || open->type != Open::Type::file) {
        to.status = STATUS_INVALID_HANDLE;
    } else if (open->node->folder) {
        to.status = STATUS_INVALID_DEVICE_REQUEST;
    } else if ((open->access & needs) == 0) {
        to.status = STATUS_ACCESS_DENIED;
    } else {
        to.open = open;
        to.data = open->stream.empty() ? &open->node->data : &open->node->streams[open->stream];
        // A synchronous handle reads and writes on from where it stands.
        to.at = offset != nullptr ? static_cast<uint64_t>(offset->QuadPart) : open->position;
    }
    return to;
}

NTSTATUS Model::ntReadFile(HANDLE file, void* buffer, ULONG length, PLARGE_INTEGER offset,
                           ULONG_PTR* done) {
    // [MS-FSA] 2.1.5.2 Server Requests a Read: needs FILE_READ_DATA; nothing left is
    // STATUS_END_OF_FILE.
    *done = 0;
    const DataAt from = dataAt(file, FILE_READ_DATA, offset);
    if (from.open == nullptr) {
        return from.status;
    }
    const std::string& data = *from.data;
    if (from.at >= data.size()) {
        return STATUS_END_OF_FILE;
    }
    const size_t count = std::min<size_t>(length, data.size() - from.at);
    std::memcpy(buffer, data.data() + from.at, count);
    from.open->position = from.at + count;
    *done = count;
    return STATUS_SUCCESS;
}

NTSTATUS Model::ntWriteFile(HANDLE file, const void* buffer, ULONG length, PLARGE_INTEGER offset,
                            ULONG_PTR* done) {
    // [MS-FSA] 2.1.5.3 Server Requests a Write: needs FILE_WRITE_DATA or FILE_APPEND_DATA.
    *done = 0;
    const DataAt to = dataAt(file, FILE_WRITE_DATA | FILE_APPEND_DATA, offset);
    if (to.open == nullptr) {
        return to.status;
    }
    std::string& data = *to.data;
    if (data.size() < to.at + length) {
        data.resize(to.at + length);
    }
    std::memcpy(data.data() + to.at, buffer, length);
    to.open->position = to.at + length;
    *done = length;
    return STATUS_SUCCESS;
}

NTSTATUS Model::ntFlushBuffersFile(HANDLE file) {
    // A flush needs the right to write: FILE_WRITE_DATA or FILE_APPEND_DATA on a file,
    // FILE_ADD_FILE or FILE_ADD_SUBDIRECTORY on a folder (FlushFileBuffers: "must have the
    // GENERIC_WRITE access right"; [MS-SMB2] 3.3.5.11 Receiving an SMB2 FLUSH Request). It puts
    // the file's cached data on disk, and a folder's entries ([MS-FSA] 2.1.5.7 Server Requests
    // Flushing Cached Data: "the directory structure is persisted to stable storage").
    Open* open = openOf(file);
    if (open == nullptr || open->type != Open::Type::file) {
        return STATUS_INVALID_HANDLE;
    }
    if ((open->access & (FILE_WRITE_DATA | FILE_APPEND_DATA)) == 0) {
        return STATUS_ACCESS_DENIED;
    }
    Node& node = *open->node;
    if (!node.folder) {
        node.durable = node.data;
        return STATUS_SUCCESS;
    }
    node.durableEntries.clear();
    for (const Link* link : node.entries) {
        node.durableEntries[upper(link->name)] = link->node;
    }
    return STATUS_SUCCESS;
}

NTSTATUS Model::ntClose(HANDLE handle) {
    const auto found = handles_.find(reinterpret_cast<uintptr_t>(handle));
    if (found == handles_.end()) {
        return STATUS_INVALID_HANDLE;
    }
    const Open open = found->second;
    handles_.erase(found);
    if (open.type == Open::Type::mutex) {
        --open.mutex->handles;  // closing does not let go of it (CreateMutexW, Remarks)
        dropIfUnopened(open.mutex);
        return STATUS_SUCCESS;
    }
    if (open.type != Open::Type::file) {
        return STATUS_SUCCESS;
    }
    // Names marked for deletion go once the file's last open closes ([MS-FSA] 2.1.5.4 Server
    // Requests Closing an Open).
    for (const auto& [value, other] : handles_) {
        if (other.node == open.node) {
            return STATUS_SUCCESS;
        }
    }
    const std::vector<Link*> links = open.node->links;
    for (Link* link : links) {
        if (link->deleted) {
            removeLink(link);
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS Model::ntQueryObject(HANDLE handle, OBJECT_INFORMATION_CLASS infoClass, void* information,
                              ULONG length, PULONG returned) {
    // NtQueryObject, ObjectNameInformation: an OBJECT_NAME_INFORMATION whose string follows it.
    Open* open = openOf(handle);
    if (open == nullptr) {
        return STATUS_INVALID_HANDLE;
    }
    if (static_cast<int>(infoClass) != 1 || open->type != Open::Type::file) {
        return STATUS_NOT_IMPLEMENTED;
    }
    const Path name = nameOf(*open);
    const ULONG bytes = static_cast<ULONG>(name.size() * sizeof(wchar_t));
    const ULONG needed = sizeof(OBJECT_NAME_INFORMATION) + bytes + sizeof(wchar_t);
    if (returned != nullptr) {
        *returned = needed;
    }
    if (length < needed) {
        return STATUS_INFO_LENGTH_MISMATCH;
    }
    auto* info = static_cast<OBJECT_NAME_INFORMATION*>(information);
    auto* text = reinterpret_cast<wchar_t*>(info + 1);
    std::memcpy(text, name.c_str(), bytes + sizeof(wchar_t));
    info->Name.Buffer = text;
    info->Name.Length = static_cast<USHORT>(bytes);
    info->Name.MaximumLength = static_cast<USHORT>(bytes + sizeof(wchar_t));
    return STATUS_SUCCESS;
}

NTSTATUS Model::rename(HANDLE handle, const Path& to, bool replace) {
    Open* open = openOf(handle);
    const size_t cut = to.rfind(L'\\');
    Node* folder = nodeAt(to.substr(0, cut));
    if (open == nullptr || folder == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if ((open->access & DELETE) == 0) {
        return STATUS_ACCESS_DENIED;
    }
    return renameLink(*open, folder, to.substr(cut + 1), replace);
}

NTSTATUS Model::hardLink(HANDLE handle, const Path& to) {
    Open* open = openOf(handle);
    const size_t cut = to.rfind(L'\\');
    Node* folder = nodeAt(to.substr(0, cut));
    if (open == nullptr || folder == nullptr || open->node->folder) {
        return STATUS_INVALID_PARAMETER;
    }
    if (find(folder, to.substr(cut + 1), true) != nullptr) {
        return STATUS_OBJECT_NAME_COLLISION;
    }
    addLink(folder, open->node, to.substr(cut + 1));
    return STATUS_SUCCESS;
}

NTSTATUS Model::markForDeletion(HANDLE handle) {
    FILE_DISPOSITION_INFORMATION disposition{TRUE};
    return ntSetInformationFile(handle, &disposition, sizeof disposition,
                                FileDispositionInformation);
}

void Model::close(HANDLE handle) {
    ntClose(handle);
}

}  // namespace ntmodel
