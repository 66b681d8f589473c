#include "frame/entry.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <vector>

#include "tests/support/fake_backup_lock.h"
#include "tests/support/fake_file_system.h"
#include "tests/support/recording_sink.h"

namespace {

struct Call {
    std::string op;
    PresetLevel level = 0;
    /// The lock key of the path the store was bound to: what reached the backend.
    Path key;
};

std::vector<Call> calls;
enum class Throw { none, runtime, allocation, afterPrinting } throwMode = Throw::none;

void maybeThrow(LineAndBackup& io) {
    switch (throwMode) {
        case Throw::none:
            return;
        case Throw::runtime:
            throw std::runtime_error("exists");
        case Throw::allocation:
            throw std::bad_alloc();
        case Throw::afterPrinting:
            io.out.printResultLine("ok", 1, 1, "printed");
            throw std::runtime_error("late");
    }
}

int fakeStatus(LineAndBackup& io) {
    calls.push_back({"status", 0, L""});
    maybeThrow(io);
    return 40;
}
int fakeApply(LineAndBackup& io, PresetLevel level) {
    calls.push_back({"apply", level, io.backups.lockKey().text()});
    maybeThrow(io);
    return 41;
}
int fakeRestore(LineAndBackup& io) {
    calls.push_back({"restore", 0, io.backups.lockKey().text()});
    maybeThrow(io);
    return 42;
}

struct Outcome {
    int code;
    std::vector<std::string> lines;
};

Outcome run(std::vector<const wchar_t*> args) {
    FakeFileSystem files;
    RecordingSink sink;
    ResultPrinter out("NVIDIA", sink);
    BackupStore backups(files, "nvidia");
    LineAndBackup io{out, backups};
    Backend backend{&fakeStatus, &fakeApply, &fakeRestore};
    FakeBackupLock lock;
    int code = runEntry(static_cast<int>(args.size()), args.data(), backend, io, lock);
    for (const std::string& entry : files.log) {
        const std::string op = entry.substr(0, entry.find(' '));
        EXPECT_TRUE(op == "root" || op == "folder") << "the entry only walks: " << entry;
    }
    return {code, sink.lines};
}

class EntryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        calls.clear();
        throwMode = Throw::none;
    }
};

const char kMissing[] = "result=error;vendor=NVIDIA;supported=0;changed=0;message=Comando ausente";
const char kBadArgs[] =
    "result=error;vendor=NVIDIA;supported=0;changed=0;message=Argumentos invalidos";
const char kBadPreset[] =
    "result=error;vendor=NVIDIA;supported=0;changed=0;message=Perfil invalido";

}  // namespace

TEST_F(EntryTest, CommandLineErrorsAnswerWithoutTheBackend) {
    struct Case {
        std::vector<const wchar_t*> args;
        int code;
        const char* line;
    } cases[] = {
        {{L"p"}, 2, kMissing},
        {{L"p", L""}, 2, kBadArgs},
        {{L"p", L"stat"}, 2, kBadArgs},
        {{L"p", L"status "}, 2, kBadArgs},
        {{L"p", L"statuss"}, 2, kBadArgs},
        {{L"p", L"apply"}, 2, kBadArgs},
        {{L"p", L"apply", L"gamer"}, 2, kBadArgs},
        {{L"p", L"apply", L"nonsense"}, 2, kBadArgs},
        {{L"p", L"restore"}, 2, kBadArgs},
        {{L"p", L"remove", L"x", L"y"}, 2, kBadArgs},
        // An empty path names no file; the system would take the working folder for it.
        {{L"p", L"restore", L"", L"ignored"}, 2, kBadArgs},
        {{L"p", L"apply", L"gamer", L""}, 2, kBadArgs},
        {{L"p", L"apply", L"turbo", L"b.txt"}, 3, kBadPreset},
        {{L"p", L"apply", L"gamer ", L"b.txt"}, 3, kBadPreset},
        {{L"p", L"apply", L"", L"b.txt"}, 3, kBadPreset},
        // Only ASCII letters fold: a Turkish dotted capital I is not "i".
        {{L"p", L"apply", L"extremo\u0130", L"b.txt"}, 3, kBadPreset},
        {{L"p", L"st\u0100tus"}, 2, kBadArgs},
    };
    for (const Case& c : cases) {
        calls.clear();
        Outcome r = run(c.args);
        EXPECT_EQ(r.code, c.code) << c.line;
        ASSERT_EQ(r.lines.size(), 1u);
        EXPECT_EQ(r.lines[0], c.line);
        EXPECT_TRUE(calls.empty());
    }
}

TEST_F(EntryTest, DispatchesWithLevelAndTheStoreBoundToThePath) {
    // The fake file system folds ASCII letters only; relative paths start at C:\work.
    struct Case {
        std::vector<const wchar_t*> args;
        int code;
        const char* op;
        PresetLevel level;
        const wchar_t* key;
    } cases[] = {
        {{L"p", L"status"}, 40, "status", 0, L""},
        {{L"p", L"STATUS", L"extra", L"more"}, 40, "status", 0, L""},
        {{L"p", L"Status"}, 40, "status", 0, L""},
        {{L"p", L"apply", L"gamer", L"C:\\b.txt"}, 41, "apply", 1, L"C:\\B.TXT"},
        {{L"p", L"apply", L"competitivo", L"b"}, 41, "apply", 2, L"C:\\WORK\\B"},
        {{L"p", L"APPLY", L"EXTREMO", L" x. "}, 41, "apply", 3, L"C:\\WORK\\ X"},
        {{L"p", L"apply", L"Gamer", L"b.txt", L"ignored"}, 41, "apply", 1, L"C:\\WORK\\B.TXT"},
        {{L"p", L"RESTORE", L"D:\\Backups\\\u00e7\u00e3o.txt"},
         42,
         "restore",
         0,
         L"D:\\BACKUPS\\\u00e7\u00e3O.TXT"},
    };
    for (const Case& c : cases) {
        calls.clear();
        Outcome r = run(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_TRUE(r.lines.empty()) << "the backend prints its own line";
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].op, c.op);
        EXPECT_EQ(calls[0].level, c.level);
        EXPECT_EQ(calls[0].key, c.key);
    }
}

TEST_F(EntryTest, EscapingExceptionBecomesOneUnexpectedFailureLine) {
    for (Throw mode : {Throw::runtime, Throw::allocation}) {
        throwMode = mode;
        Outcome r = run({L"p", L"restore", L"b.txt"});
        EXPECT_EQ(r.code, 1);
        ASSERT_EQ(r.lines.size(), 1u);
        EXPECT_EQ(r.lines[0],
                  "result=error;vendor=NVIDIA;supported=0;changed=0;message=Falha inesperada");
    }
}

TEST_F(EntryTest, ExceptionAfterTheLineDoesNotPrintASecondOne) {
    throwMode = Throw::afterPrinting;
    Outcome r = run({L"p", L"status"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.lines.size(), 1u);
}
