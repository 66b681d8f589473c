// The power-loss explorer. It runs a scenario's command against the fake driver and the
// fake file system with a disk record per model beside them, and at every moment of the
// run (before and after each file operation, and before each driver call that changes what
// the driver keeps) takes every state a power cut could leave: the disk under the model,
// the driver as its store holds it. For each state it checks that every setting that
// differs from its original has that original in the backup that the next restore reads;
// then it runs that restore, which must give the backup up only with every original back,
// and, when asked, cuts the power again at every moment of that restore and checks the
// same. Models explored together share every state they agree on: it is checked, and its
// restore run, once.
#pragma once

#include <string>
#include <vector>

#include "tests/file_faults/file_fault_case.h"
#include "tests/file_faults/run_cuts.h"

struct CutModel {
    std::string id;    // as the command line names it
    std::string name;  // as the output shows it
    CutView view;
    /// Each flush of a folder in turn fails, then every one, in the command under test; the
    /// restores after the cuts meet a sound disk.
    bool folderFlushFails = false;
};

/// NTFS; the same but a file's flush forces out no names; the folder flush after the
/// rename failing; FAT; the driver's store writing lazily.
const std::vector<CutModel>& cutModels();

struct CutTally {
    size_t states = 0;  // distinct states cuts left, the second cuts' included
    size_t lost = 0;    // originals lost, over all those states
    size_t broken = 0;  // states that lost an original, or whose restore gave the backup up
                        // too early
    std::vector<std::string> examples;  // the first few broken, each with where it was cut
    std::vector<std::string> listed;    // every state's cut, when asked for

    void add(const CutTally& other);
};

struct CutOptions {
    bool secondCut = false;  // cut again at every moment of the restore after each cut
    bool list = false;       // list every state's cut
};

/// One tally per model, in the order given. The models must agree on `folderFlushFails`.
std::vector<CutTally> exploreCuts(const CampaignVendor& vendor, const Scenario& scenario,
                                  const std::vector<const CutModel*>& models, CutOptions options);
