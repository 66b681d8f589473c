// The model's own rules, one row each, with the status Windows documents. The rows Wine can show
// run against Wine's own calls too, so the model and Wine are held to the same answers there.
#include <ntstatus.h>

#include <vector>

#include "tests/nt/model/nt_model.h"
#include "tests/nt/rows.h"
#include "tests/nt/table_runner.h"

namespace {

using ntmodel::Actor;

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

/// The world's table, and its row folder held open to open names in.
class Here {
  public:
    explicit Here(World& world) : calls_(world.calls()) {
        whole(L"\\??\\" + world.at(L""), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
              FILE_DIRECTORY_FILE, &base_);
        baseName_ = nameOf(base_);
    }
    ~Here() {
        for (HANDLE handle : opened_) {
            calls_.close(handle);
        }
    }
    const NtCalls& calls() const { return calls_; }

    NTSTATUS open(const Path& name, ACCESS_MASK access, ULONG disposition = FILE_OPEN,
                  ULONG options = 0, HANDLE* out = nullptr, ULONG share = kShareAll) {
        return openIn(base_, name, access, share, disposition, options, out);
    }
    NTSTATUS whole(const Path& name, ACCESS_MASK access, ULONG options, HANDLE* out = nullptr) {
        return openIn(nullptr, name, access, kShareAll, FILE_OPEN, options, out);
    }
    /// An existing name opened in the row's folder, or null when it does not open; the row
    /// looks at what the handle shows, not at how the open went.
    HANDLE held(const Path& name, ACCESS_MASK access, ULONG options = 0) {
        HANDLE handle = nullptr;
        open(name, access, FILE_OPEN, options, &handle);
        return handle;
    }
    /// The handle's name below the row's folder ("\d\f"), or whole when elsewhere.
    Path nameOf(HANDLE handle) {
        std::vector<char> buffer(sizeof(OBJECT_NAME_INFORMATION) + 65536);
        ULONG returned = 0;
        calls_.queryObject(handle, ObjectNameInformation, buffer.data(),
                           static_cast<ULONG>(buffer.size()), &returned);
        const auto* info = reinterpret_cast<OBJECT_NAME_INFORMATION*>(buffer.data());
        const Path name(info->Name.Buffer, info->Name.Length / sizeof(wchar_t));
        return !baseName_.empty() && name.compare(0, baseName_.size(), baseName_) == 0
                   ? name.substr(baseName_.size())
                   : name;
    }
    std::string standard(HANDLE handle) {
        FILE_STANDARD_INFORMATION info{};
        IO_STATUS_BLOCK io{};
        calls_.queryInformationFile(handle, &io, &info, sizeof info, FileStandardInformation);
        return "links " + std::to_string(info.NumberOfLinks) +
               (info.DeletePending ? " pending" : "");
    }
    std::string tag(HANDLE handle) {
        FILE_ATTRIBUTE_TAG_INFORMATION info{};
        IO_STATUS_BLOCK io{};
        const NTSTATUS status = calls_.queryInformationFile(handle, &io, &info, sizeof info,
                                                            FileAttributeTagInformation);
        return hex(status) + " " + hex(static_cast<NTSTATUS>(info.FileAttributes)) + " " +
               hex(static_cast<NTSTATUS>(info.ReparseTag));
    }
    /// The first entry a new listing of the row's folder gives for `pattern`.
    std::string list(const Path& pattern, ACCESS_MASK access = FILE_LIST_DIRECTORY) {
        HANDLE listing = nullptr;
        open(Path(), access, FILE_OPEN, FILE_DIRECTORY_FILE, &listing);
        std::vector<char> buffer(4096);
        Path text = pattern;
        UNICODE_STRING counted{};
        counted.Buffer = text.data();
        counted.Length = counted.MaximumLength = static_cast<USHORT>(text.size() * sizeof(wchar_t));
        IO_STATUS_BLOCK io{};
        const NTSTATUS status = calls_.queryDirectoryFile(
            listing, nullptr, nullptr, nullptr, &io, buffer.data(),
            static_cast<ULONG>(buffer.size()), FileNamesInformation, TRUE, &counted, TRUE);
        const auto* entry = reinterpret_cast<FILE_NAMES_INFORMATION*>(buffer.data());
        return status < 0
                   ? hex(status)
                   : hex(status) + " " +
                         utf8(Path(entry->FileName, entry->FileNameLength / sizeof(wchar_t)));
    }
    NTSTATUS set(HANDLE handle, void* information, ULONG length, FILE_INFORMATION_CLASS infoClass) {
        IO_STATUS_BLOCK io{};
        return calls_.setInformationFile(handle, &io, information, length, infoClass);
    }
    /// Asks that the name open at `handle` go when its last handle closes.
    NTSTATUS markForDeletion(HANDLE handle) {
        FILE_DISPOSITION_INFORMATION disposition{TRUE};
        return set(handle, &disposition, sizeof disposition, FileDispositionInformation);
    }
    NTSTATUS renameTo(HANDLE handle, const Path& to) {
        std::vector<char> buffer(sizeof(FILE_RENAME_INFORMATION) + to.size() * sizeof(wchar_t));
        auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
        info->ReplaceIfExists = TRUE;
        info->RootDirectory = base_;
        info->FileNameLength = static_cast<ULONG>(to.size() * sizeof(wchar_t));
        to.copy(info->FileName, to.size());
        return set(handle, info, static_cast<ULONG>(buffer.size()), FileRenameInformation);
    }
    std::string fullPath(const Path& given) {
        wchar_t buffer[1024];
        const DWORD length = calls_.getFullPathName(given.c_str(), 1024, buffer, nullptr);
        return utf8(Path(buffer, length));
    }

  private:
    NTSTATUS openIn(HANDLE folder, const Path& name, ACCESS_MASK access, ULONG share,
                    ULONG disposition, ULONG options, HANDLE* out) {
        Path text = name;
        UNICODE_STRING counted{};
        counted.Buffer = text.data();
        counted.Length = counted.MaximumLength = static_cast<USHORT>(text.size() * sizeof(wchar_t));
        OBJECT_ATTRIBUTES attributes{};
        attributes.Length = sizeof attributes;
        attributes.RootDirectory = folder;
        attributes.ObjectName = &counted;
        attributes.Attributes = OBJ_CASE_INSENSITIVE;
        IO_STATUS_BLOCK io{};
        HANDLE handle = nullptr;
        const NTSTATUS status = calls_.createFile(
            &handle, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
            disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
        if (status >= 0) {
            opened_.push_back(handle);
        }
        if (out != nullptr) {
            *out = status >= 0 ? handle : nullptr;
        }
        return status;
    }

    NtCalls calls_;
    HANDLE base_ = nullptr;
    Path baseName_;
    std::vector<HANDLE> opened_;
};

struct Rule {
    const char* name;
    Shows shows;
    std::string (*check)(World& world, Here& here);
    const char* expected;
};

std::string status(NTSTATUS value) {
    return hex(value);
}

const Rule kRules[] = {
    {"a name that is not there", Shows::both,
     [](World&, Here& h) { return status(h.open(L"nope", FILE_READ_ATTRIBUTES)); }, "C0000034"},
    {"a folder on the way that is not there", Shows::both,
     [](World&, Here& h) { return status(h.open(L"nope\\x", FILE_READ_ATTRIBUTES)); }, "C000003A"},
    {"a file on the way", Shows::both,
     [](World& w, Here& h) {
         w.file(L"f", "x");
         return status(h.open(L"f\\x", FILE_READ_ATTRIBUTES));
     },
     "C000003A"},
    {"a character no name may hold", Shows::both,
     [](World&, Here& h) { return status(h.open(L"a<b", FILE_READ_ATTRIBUTES)); }, "C0000033"},
    {"FILE_CREATE where a name stands", Shows::both,
     [](World& w, Here& h) {
         w.folder(L"d");
         return status(h.open(L"d", FILE_READ_ATTRIBUTES, FILE_CREATE, FILE_DIRECTORY_FILE));
     },
     "C0000035"},
    {"a file opened as a folder, a folder as a file", Shows::both,
     [](World& w, Here& h) {
         w.file(L"f", "x");
         w.folder(L"d");
         return status(h.open(L"f", FILE_READ_ATTRIBUTES, FILE_OPEN, FILE_DIRECTORY_FILE)) + " " +
                status(h.open(L"d", FILE_READ_ATTRIBUTES, FILE_OPEN, FILE_NON_DIRECTORY_FILE));
     },
     "C0000103 C00000BA"},
    {"another program holds the file without delete sharing", Shows::both,
     [](World& w, Here& h) {
         w.file(L"f", "x");
         w.hold(L"f", GENERIC_READ, FILE_SHARE_READ);
         return status(h.open(L"f", DELETE)) + " " + status(h.open(L"f", FILE_READ_ATTRIBUTES));
     },
     "C0000043 00000000"},
    {"another program holds the folder with delete access", Shows::both,
     [](World& w, Here& h) {
         w.folder(L"d");
         w.hold(L"d", DELETE, kShareAll);
         return status(h.open(L"d", FILE_TRAVERSE, FILE_OPEN, FILE_DIRECTORY_FILE, nullptr,
                              FILE_SHARE_READ | FILE_SHARE_WRITE));
     },
     "C0000043"},
    {"an 8.3 name opens the file, which is named by its long name", Shows::both,
     [](World& w, Here& h) {
         w.folder(L"LongFolderName");
         HANDLE folder = nullptr;
         const NTSTATUS opened = h.open(w.shortName(L"LongFolderName"), FILE_READ_ATTRIBUTES,
                                        FILE_OPEN, FILE_DIRECTORY_FILE, &folder);
         return status(opened) + " " + utf8(h.nameOf(folder));
     },
     "00000000 \\LongFolderName"},
    {"a listing finds by the 8.3 name and gives the long one", Shows::both,
     [](World& w, Here& h) {
         w.folder(L"LongFolderName");
         return h.list(w.shortName(L"LongFolderName"));
     },
     "00000000 LongFolderName"},
    {"a first listing that matches nothing, and one without list access", Shows::both,
     [](World&, Here& h) { return h.list(L"nothing") + " " + h.list(L"x", FILE_READ_ATTRIBUTES); },
     "C000000F C0000022"},
    {"a further name counts", Shows::both,
     [](World& w, Here& h) {
         w.file(L"f", "x");
         w.hardLink(L"f", L"g");
         HANDLE file = h.held(L"f", FILE_READ_ATTRIBUTES);
         return h.standard(file);
     },
     "links 2"},
    {"a rename onto a file another program holds open", Shows::both,
     [](World& w, Here& h) {
         w.file(L"s", "s");
         w.file(L"t", "t");
         w.hold(L"t", GENERIC_READ, kShareAll);
         HANDLE source = h.held(L"s", DELETE);
         return status(h.renameTo(source, L"t"));
     },
     "C0000022"},
    {"a folder flushed through a handle that may not change it", Shows::both,
     [](World&, Here& h) {
         HANDLE folder = h.held(Path(), FILE_READ_ATTRIBUTES, FILE_DIRECTORY_FILE);
         IO_STATUS_BLOCK io{};
         return status(h.calls().flushBuffersFile(folder, &io));
     },
     "C0000022"},
    {"a folder that is not empty cannot be marked for deletion", Shows::both,
     [](World& w, Here& h) {
         w.file(L"d\\f", "x");
         HANDLE folder = h.held(L"d", DELETE, FILE_DIRECTORY_FILE);
         return status(h.markForDeletion(folder));
     },
     "C0000101"},
    {"whole path names", Shows::both,
     [](World& w, Here& h) {
         const std::string base = utf8(w.at(L""));
         std::string answer;
         for (const Path& given :
              {Path(L"a\\..\\b/c.txt"), Path(L".\\x.\\y. "), Path(L"sub\\\\z\\")}) {
             const std::string full = h.fullPath(given);
             answer +=
                 (full.compare(0, base.size(), base) == 0 ? full.substr(base.size()) : full) + ";";
         }
         return answer;
     },
     "\\b\\c.txt;\\x\\y;\\sub\\z\\;"},
    {"a mutex whose holder ended without letting go", Shows::both,
     [](World& w, Here& h) {
         const Path name = L"Local\\nt-rules-abandoned";
         w.anotherRunHolds(name);
         HANDLE mutex = h.calls().createMutex(nullptr, FALSE, name.c_str());
         w.anotherRunCrashes();
         const DWORD first = h.calls().waitForSingleObject(mutex, 0);
         h.calls().releaseMutex(mutex);
         const BOOL again = h.calls().releaseMutex(mutex);
         const DWORD error = GetLastError();
         h.calls().close(mutex);
         return status(static_cast<NTSTATUS>(first)) + " " + std::to_string(again) + " " +
                std::to_string(error);
     },
     "00000080 0 288"},

    // What Wine does otherwise: it opens names marked for deletion and keeps counting them,
    // lets root write to read-only files and rename onto them, checks no rights, and has no
    // reparse points of Windows' kinds, no shares and one token.
    {"a name marked for deletion", Shows::modelOnly,
     [](World& w, Here& h) {
         w.file(L"f", "x");
         HANDLE file = h.held(L"f", DELETE);
         h.markForDeletion(file);
         return h.standard(file) + " " + status(h.open(L"f", FILE_READ_ATTRIBUTES));
     },
     "links 0 pending C0000056"},
    {"a file whose last name was taken away while it is open", Shows::modelOnly,
     [](World& w, Here& h) {
         w.file(L"f", "x");
         HANDLE file = h.held(L"f", FILE_READ_ATTRIBUTES);
         w.model()->unlinkNow(w.at(L"f"));
         return h.standard(file);
     },
     "links 0 pending"},
    {"nothing new in a folder marked for deletion", Shows::modelOnly,
     [](World& w, Here& h) {
         w.folder(L"d");
         HANDLE folder = h.held(L"d", DELETE, FILE_DIRECTORY_FILE);
         h.markForDeletion(folder);
         return status(h.open(L"d\\f", FILE_WRITE_DATA, FILE_CREATE));
     },
     "C0000056"},
    {"a read-only file: no writing, no deleting, no renaming onto it", Shows::modelOnly,
     [](World& w, Here& h) {
         w.file(L"f", "x");
         w.file(L"s", "s");
         w.readOnly(L"f", true);
         HANDLE file = h.held(L"f", DELETE);
         HANDLE source = h.held(L"s", DELETE);
         return status(h.open(L"f", FILE_WRITE_DATA)) + " " + status(h.markForDeletion(file)) +
                " " + status(h.renameTo(source, L"f"));
     },
     "C0000022 C0000121 C0000022"},
    {"a folder the user may traverse but not list", Shows::modelOnly,
     [](World& w, Here& h) {
         w.file(L"t\\f", "x");
         w.model()->setRights(w.at(L"t"), FILE_TRAVERSE | SYNCHRONIZE, FILE_TRAVERSE | SYNCHRONIZE);
         w.model()->setElevated(false);
         // Attributes come with the right to list the folder above.
         return status(h.open(L"t", FILE_LIST_DIRECTORY, FILE_OPEN, FILE_DIRECTORY_FILE)) + " " +
                status(h.open(L"t", FILE_READ_ATTRIBUTES | FILE_TRAVERSE, FILE_OPEN,
                              FILE_DIRECTORY_FILE)) +
                " " + status(h.open(L"t\\f", FILE_READ_ATTRIBUTES));
     },
     "C0000022 00000000 00000000"},
    {"a folder without traverse, for a user who may not bypass it", Shows::modelOnly,
     [](World& w, Here& h) {
         w.file(L"t\\f", "x");
         w.model()->setRights(w.at(L"t"), FILE_LIST_DIRECTORY, FILE_LIST_DIRECTORY);
         w.model()->setBypassTraverse(false);
         return status(h.open(L"t\\f", FILE_READ_ATTRIBUTES));
     },
     "C0000022"},
    {"a junction on the way is followed", Shows::modelOnly,
     [](World& w, Here& h) {
         w.model()->makeFile(L"C:\\target\\f", "x");
         w.model()->makeReparse(w.at(L"j"), ntmodel::kTagMountPoint, L"\\??\\C:\\target", true);
         HANDLE file = h.held(L"j\\f", FILE_READ_ATTRIBUTES);
         return utf8(h.nameOf(file));
     },
     "\\Device\\HarddiskVolume3\\target\\f"},
    {"reparse points at the end: followed, or themselves when asked", Shows::modelOnly,
     [](World& w, Here& h) {
         w.model()->makeFolder(L"C:\\target");
         w.model()->makeReparse(w.at(L"j"), ntmodel::kTagMountPoint, L"\\??\\C:\\target", true);
         w.model()->makeReparse(w.at(L"a"), ntmodel::kTagAppExecLink, Path(), false);
         HANDLE followed = h.held(L"j", FILE_READ_ATTRIBUTES, FILE_DIRECTORY_FILE);
         HANDLE itself = h.held(L"j", FILE_READ_ATTRIBUTES, FILE_OPEN_REPARSE_POINT);
         return utf8(h.nameOf(followed)) + " " + h.tag(itself) + " " +
                status(h.open(L"a", FILE_READ_ATTRIBUTES)) + " " +
                status(h.open(L"a", FILE_READ_ATTRIBUTES, FILE_OPEN, FILE_OPEN_REPARSE_POINT));
     },
     "\\Device\\HarddiskVolume3\\target 00000000 00000410 A0000003 C0000279 00000000"},
    {"a cloud placeholder folder on the way is served by its filter", Shows::modelOnly,
     [](World& w, Here& h) {
         w.model()->makeReparse(w.at(L"c"), ntmodel::kTagCloud, Path(), true);
         w.model()->makeFile(w.at(L"c\\f"), "x");
         return status(h.open(L"c\\f", FILE_READ_ATTRIBUTES));
     },
     "00000000"},
    {"a drive, a server and a share that are not there", Shows::modelOnly,
     [](World& w, Here& h) {
         w.model()->addShare(L"srv", L"s");
         w.model()->addShare(L"off", L"s");
         w.model()->serverOff(L"off");
         return status(h.whole(L"\\??\\Q:\\x", FILE_READ_ATTRIBUTES, 0)) + " " +
                status(h.whole(L"\\??\\UNC\\off\\s\\x", FILE_READ_ATTRIBUTES, 0)) + " " +
                status(h.whole(L"\\??\\UNC\\srv\\t\\x", FILE_READ_ATTRIBUTES, 0)) + " " +
                status(h.whole(L"\\??\\UNC\\srv\\s\\", FILE_READ_ATTRIBUTES, FILE_DIRECTORY_FILE));
     },
     "C000003A C00000BE C00000CC 00000000"},
    {"name::$DATA is the file itself; name:s one of its streams, which no listing shows",
     Shows::modelOnly,
     [](World& w, Here& h) {
         w.file(L"f", "x");
         h.open(L"f::$DATA", DELETE);  // held to the row's end
         std::string answer = status(h.open(L"f", DELETE, FILE_OPEN, 0, nullptr, FILE_SHARE_READ));
         answer += " " + status(h.open(L"f:s", FILE_WRITE_DATA, FILE_CREATE));
         answer += " " + status(h.open(L"f:s:$DATA", FILE_READ_DATA));
         return answer + " " + h.list(L"f:s");
     },
     "C0000043 00000000 00000000 C000000F"},
    {"the token of an elevated and of an ordinary run", Shows::modelOnly,
     [](World& w, Here& h) {
         std::string answer;
         for (const bool elevated : {true, false}) {
             w.model()->setElevated(elevated);
             HANDLE token = nullptr;
             h.calls().openProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
             TOKEN_ELEVATION elevation{};
             ULONG size = 0;
             h.calls().queryInformationToken(token, TokenElevation, &elevation, sizeof elevation,
                                             &size);
             h.calls().close(token);
             answer += std::to_string(elevation.TokenIsElevated);
         }
         return answer;
     },
     "10"},
};

}  // namespace

NT_CASE(ModelRules) {
    for (const Rule& rule : kRules) {
        inEachWorld(rule.shows, rule.name, [&](World& world) {
            Here here(world);
            NT_EXPECT_EQ(rule.check(world, here), std::string(rule.expected));
        });
    }
}
