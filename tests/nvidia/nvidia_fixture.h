// Runs the NVIDIA operations against the fake driver and an in-memory file system; the
// printed line is logged among the driver calls so tests see when it came.
#pragma once

#include <gtest/gtest.h>

#include "frame/backend.h"
#include "nvidia/nvidia_backend.h"
#include "store/backup_store.h"
#include "tests/nvidia/fake_nvapi.h"
#include "tests/support/fake_file_system.h"
#include "tests/support/recording_sink.h"

class NvidiaTest : public ::testing::Test {
  protected:
    NvidiaTest() {
        files.crlf = true;
        driver.committed = FakeNvapi::fullProfile();
    }
    /// The fake driver is stricter than the real one, which might crash on a misuse.
    ~NvidiaTest() override { EXPECT_EQ(driver.misuses, std::vector<std::string>{}); }

    int status() {
        LineAndBackup io{out, backups};
        return nvidiaStatus(driver.table(), io);
    }
    /// Each command is a run of its own: the store is bound to the path afresh (the walk
    /// is the entry's business and stays out of the log).
    int apply(PresetLevel level, BackupStore* store = nullptr) {
        LineAndBackup io{out, bound(store)};
        return nvidiaApply(driver.table(), io, level);
    }
    int restore(BackupStore* store = nullptr) {
        LineAndBackup io{out, bound(store)};
        return nvidiaRestore(driver.table(), io);
    }
    BackupStore& bound(BackupStore* store) {
        BackupStore& chosen = store != nullptr ? *store : backups;
        chosen.bind(kPath);
        files.log.clear();
        return chosen;
    }

    /// The one line printed since the last call, asserting there was exactly one.
    std::string line() {
        EXPECT_EQ(sink.lines.size(), 1u);
        std::string last = sink.lines.empty() ? "" : sink.lines.back();
        sink.lines.clear();
        return last;
    }
    /// Files like the fixture's holding `backup`, on which every `op` fails.
    FakeFileSystem filesFailingOn(const char* op, const std::string& backup) const {
        FakeFileSystem fresh;
        fresh.crlf = true;
        fresh.files[kPath].bytes = backup;
        fresh.failOn(op);
        return fresh;
    }
    std::string backupBytes() const {
        auto it = files.files.find(kPath);
        return it == files.files.end() ? "<absent>" : it->second.bytes;
    }
    /// Calls logged that start with `prefix`.
    std::vector<std::string> callsStarting(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& c : driver.calls) {
            if (c.rfind(prefix, 0) == 0) {
                out.push_back(c);
            }
        }
        return out;
    }

    const Path kPath = L"C:\\b\\backup.txt";
    FakeNvapi driver;
    FakeFileSystem files;
    RecordingSink sink{driver.calls, "LINE"};
    ResultPrinter out{"NVIDIA", sink};
    BackupStore backups{files, "nvidia"};
};
