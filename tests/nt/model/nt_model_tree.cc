// The namespace of the model: volumes and shares, folders and files with their names, and how
// a machine stands before a run. What stands there at the start is on disk: durable.
#include <ntstatus.h>

#include <algorithm>

#include "tests/nt/model/nt_model.h"
#include "tests/nt/model/nt_model_names.h"

namespace ntmodel {

namespace {

Model* gModel = nullptr;

const Path kSystemPrefix = L"\\??\\";

}  // namespace

Model* currentModel() {
    return gModel;
}

void setCurrentModel(Model* model) {
    gModel = model;
}

Model::Model() {
    addVolume(L"C:", L"\\Device\\HarddiskVolume3", L"{4c1b02c1-d990-11dc-99ae-806e6f6e6963}");
    makeFolder(L"C:\\work");
}

Model::~Model() {
    if (gModel == this) {
        gModel = nullptr;
    }
}

Node* Model::newNode(bool folder, Volume* volume) {
    nodes_.push_back(std::make_unique<Node>());
    Node* node = nodes_.back().get();
    node->folder = folder;
    node->volume = volume;
    return node;
}

Path Model::makeShortName(Node* folder, const Path& name) {
    if (fits83(name)) {
        return Path();
    }
    for (int n = 1;; ++n) {
        const Path candidate = shortNameFor(name, n);
        if (find(folder, candidate, true) == nullptr) {
            return candidate;
        }
    }
}

Link* Model::addLink(Node* folder, Node* node, const Path& name) {
    links_.push_back(std::make_unique<Link>());
    Link* link = links_.back().get();
    link->name = name;
    link->shortName = makeShortName(folder, name);
    link->parent = folder;
    link->node = node;
    folder->entries.push_back(link);
    node->links.push_back(link);
    return link;
}

void Model::removeLink(Link* link) {
    link->removed = true;
    auto& entries = link->parent->entries;
    entries.erase(std::remove(entries.begin(), entries.end(), link), entries.end());
    auto& links = link->node->links;
    links.erase(std::remove(links.begin(), links.end(), link), links.end());
}

Link* Model::find(Node* folder, const Path& name, bool ignoreCase) const {
    // A name is found by its long form or by its 8.3 form ([MS-FSA] 2.1.5.1: the link whose
    // Name or ShortName matches).
    for (Link* link : folder->entries) {
        if (sameName(link->name, name, ignoreCase) ||
            (!link->shortName.empty() && sameName(link->shortName, name))) {
            return link;
        }
    }
    return nullptr;
}

void Model::addVolume(const Path& letter, const Path& device, const Path& guid) {
    volumes_.push_back(std::make_unique<Volume>());
    Volume* volume = volumes_.back().get();
    volume->device = device;
    volume->root = newNode(true, volume);
    devices_[upper(letter)] = volume;
    devices_[upper(L"Volume" + guid)] = volume;
}

void Model::addShare(const Path& server, const Path& share) {
    volumes_.push_back(std::make_unique<Volume>());
    Volume* volume = volumes_.back().get();
    volume->device = L"\\Device\\Mup\\" + server + L"\\" + share;
    volume->root = newNode(true, volume);
    devices_[upper(L"UNC\\" + server + L"\\" + share)] = volume;
    servers_[upper(server)] = true;
}

void Model::serverOff(const Path& server) {
    servers_[upper(server)] = false;
}

Node* Model::startOf(const Path& path, std::vector<Path>& names) {
    Path device;
    Path rest;
    if (path.compare(0, 2, L"\\\\") == 0) {
        const size_t server = path.find(L'\\', 2);
        const size_t share = path.find(L'\\', server + 1);
        device = L"UNC\\" + path.substr(2, share == Path::npos ? Path::npos : share - 2);
        rest = share == Path::npos ? Path() : path.substr(share + 1);
    } else {
        device = path.substr(0, 2);
        rest = path.size() > 3 ? path.substr(3) : Path();
    }
    const auto volume = devices_.find(upper(device));
    if (volume == devices_.end()) {
        return nullptr;
    }
    names = rest.empty() ? std::vector<Path>() : splitNames(rest);
    return volume->second->root;
}

Link* Model::lookup(const Path& path) {
    std::vector<Path> names;
    Node* folder = startOf(path, names);
    Link* link = nullptr;
    for (const Path& name : names) {
        if (folder == nullptr || !folder->folder) {
            return nullptr;
        }
        link = find(folder, name, true);
        folder = link != nullptr ? link->node : nullptr;
    }
    return link;
}

Node* Model::nodeAt(const Path& path) {
    std::vector<Path> names;
    Node* root = startOf(path, names);
    if (names.empty()) {
        return root;
    }
    Link* link = lookup(path);
    return link != nullptr ? link->node : nullptr;
}

void Model::makeFolder(const Path& path) {
    std::vector<Path> names;
    Node* folder = startOf(path, names);
    for (const Path& name : names) {
        Link* link = find(folder, name, true);
        if (link == nullptr) {
            link = addLink(folder, newNode(true, folder->volume), name);
            folder->durableEntries[upper(name)] = link->node;
        }
        folder = link->node;
    }
}

void Model::makeFile(const Path& path, const std::string& bytes, ULONG attributes) {
    const size_t cut = path.rfind(L'\\');
    makeFolder(path.substr(0, cut));
    Node* folder = nodeAt(path.substr(0, cut));
    Node* node = newNode(false, folder->volume);
    node->data = bytes;
    node->durable = bytes;
    node->attributes = attributes;
    addLink(folder, node, path.substr(cut + 1));
    folder->durableEntries[upper(path.substr(cut + 1))] = node;
}

void Model::makeReparse(const Path& path, ULONG tag, const Path& target, bool folder) {
    if (folder) {
        makeFolder(path);
    } else {
        makeFile(path, std::string());
    }
    Node* node = nodeAt(path);
    node->reparse = true;
    node->tag = tag;
    node->target = target;
}

void Model::setRights(const Path& path, ACCESS_MASK user, ACCESS_MASK admin) {
    Node* node = nodeAt(path);
    node->rights[0] = user;
    node->rights[1] = admin;
}

void Model::unlinkNow(const Path& path) {
    if (Link* link = lookup(path)) {
        removeLink(link);
    }
}

std::optional<std::string> Model::bytes(const Path& path) {
    Node* node = nodeAt(path);
    if (node == nullptr || node->folder) {
        return std::nullopt;
    }
    return node->data;
}

std::optional<std::string> Model::durableBytes(const Path& folder, const Path& name) {
    Node* parent = nodeAt(folder);
    if (parent == nullptr) {
        return std::nullopt;
    }
    const auto entry = parent->durableEntries.find(upper(name));
    if (entry == parent->durableEntries.end() || entry->second->folder) {
        return std::nullopt;
    }
    return entry->second->durable;
}

bool Model::exists(const Path& path) {
    return nodeAt(path) != nullptr;
}

bool Model::isFolder(const Path& path) {
    Node* node = nodeAt(path);
    return node != nullptr && node->folder;
}

unsigned Model::names(const Path& path) {
    Node* node = nodeAt(path);
    return node == nullptr ? 0 : static_cast<unsigned>(node->links.size());
}

ULONG Model::attributes(const Path& path) {
    Node* node = nodeAt(path);
    return node == nullptr ? 0 : node->attributes;
}

Path Model::shortName(const Path& path) {
    Link* link = lookup(path);
    return link == nullptr || link->shortName.empty() ? Path() : link->shortName;
}

NTSTATUS Model::parseSystemPath(const Path& path, Node*& start, std::vector<Path>& names) {
    // "\??\" holds the DOS device names: drive letters, "UNC" (the network redirector, whose
    // next two names are a server and its share) and volume GUIDs ("Naming Files, Paths, and
    // Namespaces": Win32 device namespaces; "File path formats on Windows systems").
    if (path.compare(0, kSystemPrefix.size(), kSystemPrefix) != 0) {
        return STATUS_OBJECT_PATH_SYNTAX_BAD;
    }
    std::vector<Path> parts = splitNames(path.substr(kSystemPrefix.size()));
    size_t deviceParts = 1;
    if (sameName(parts[0], L"UNC")) {
        if (parts.size() < 3 || parts[1].empty() || parts[2].empty()) {
            return STATUS_OBJECT_NAME_INVALID;
        }
        // A server that does not answer, or has no such share (NTSTATUS values: "the network
        // path was not found", "the network name cannot be found").
        const auto server = servers_.find(upper(parts[1]));
        if (server == servers_.end() || !server->second) {
            return STATUS_BAD_NETWORK_PATH;
        }
        deviceParts = 3;
    }
    Path device;
    for (size_t i = 0; i < deviceParts; ++i) {
        device += (i == 0 ? L"" : L"\\") + parts[i];
    }
    const auto volume = devices_.find(upper(device));
    if (volume == devices_.end()) {
        return deviceParts == 3   ? STATUS_BAD_NETWORK_NAME
               : parts.size() > 1 ? STATUS_OBJECT_PATH_NOT_FOUND
                                  : STATUS_OBJECT_NAME_NOT_FOUND;
    }
    if (parts.size() == deviceParts) {
        // The volume itself rather than its root folder: not something this model opens.
        return STATUS_NOT_IMPLEMENTED;
    }
    start = volume->second->root;
    names.assign(parts.begin() + static_cast<long>(deviceParts), parts.end());
    if (!names.empty() && names.back().empty()) {
        names.pop_back();  // "\??\C:\" is the root folder itself
    }
    return STATUS_SUCCESS;
}

}  // namespace ntmodel
