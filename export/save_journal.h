// Save All's plan and its journal: what an export is about to do, written
// into its work folder before anything in the picture folder is renamed, so
// that an export cut short (a kill, a crash, a pulled card) is finished or
// undone by the next export into that folder, or by the program's next start
// (RepairInterruptedSaveAll). The same undo puts the folder back after a
// failure the export sees itself.
//
// The journal "~pixmora-K/journal" is a text file, one record a line:
//
//   pixmora save-all journal 1     made with the work folder, before anything else
//   slot 3 5120 8c1f0e2d45a9b7c3   picture 3.jpg: the new file's size and content hash
//   older 3.JPG 4987 1700000000123456789 2049 131077
//                                  a file it replaces: the name as the folder spelled
//                                  it, size, time of change, device, file number
//   plan                           the slots are complete: renames may begin
//   committed                      every new file has its name, all of it durable
//
// Without "plan" nothing in the picture folder was touched: only the work
// folder's files go. With "plan" but not "committed" the export is undone;
// with "committed" it is finished (its older files deleted). A line cut short
// by a crash counts as missing. Every file is recognised by what it holds or
// its stamp, not by its name: a file the export did not make or move is never
// deleted or replaced.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "export/folder_files.h"

// Pictures per work subfolder: each folder's search stays short under Wine.
constexpr int kWorkGroup = 32;
constexpr const char* kJournalName = "journal";

struct OlderFile {
    std::string name; // as the folder's listing spells it: "3.jpg", "3.JPG"
    FileStamp stamp;
};

struct PlannedSlot {
    int index = 0; // the picture is saved as <index>.jpg
    uint64_t size = 0;
    uint64_t hash = 0;
    std::vector<OlderFile> older; // the files of that number it replaces
};

struct SavePlan {
    std::string folder; // the picture folder
    std::string work;   // its work folder, folder + separator + "~pixmora-K"
    char separator = '/';
    std::vector<PlannedSlot> slots; // the pictures written, in order
    bool planned = false;           // the journal holds the whole plan
    bool committed = false;         // ... and says the set is in

    std::string Group(int index) const;
    std::string Temp(int index) const;
    std::string Backup(int index, const OlderFile& older) const;
    std::string Final(int index) const;
    std::string Older(const OlderFile& older) const;
    std::string Journal() const;
};

// The journal's text: the first line alone, the slots with "plan", "committed".
std::string JournalHeader();
std::string JournalPlanText(const SavePlan& plan);
std::string JournalCommittedText();
// Reads the journal of `plan.work` into `plan`; false when there is none or
// its first line is not ours (the folder is then not an export's).
bool ReadJournal(SavePlan& plan);

// Puts the folder back as it was before the plan: new files that hold their
// bytes are removed, older files return under their own names (never onto
// another file), and the work folder goes with the journal. True when
// nothing is left to do; otherwise the journal stays (when there is still an
// older file to put back) for the next repair.
bool UndoSavePlan(const SavePlan& plan);
// After the set is in: deletes the older files the plan moved or linked
// (those still holding their stamps), then the journal and the work folder.
// `checkNew`: first make sure each new file holds its bytes (a repair), and
// keep the older files of a slot whose new file does not. True when all went.
bool FinishSavePlan(const SavePlan& plan, bool checkNew);

struct SaveAllRepair {
    int completed = 0;              // interrupted exports finished
    int undone = 0;                 // interrupted exports undone
    std::vector<std::string> stuck; // work folders that could not be put right
    bool any() const { return completed + undone > 0 || !stuck.empty(); }
};

// Finishes or undoes every interrupted export into `folder` (each work folder
// holding a journal), and removes work folders left empty. The caller holds
// the folder's export lock.
SaveAllRepair RepairInterruptedSaveAll(const std::string& folder, char separator);
// "An interrupted Save All into FOLDER was completed." / "... was undone." /
// "... could not be put right; its files are in WORK." (one line each); ""
// when nothing was found.
std::string SaveAllRepairMessage(const std::string& folder, const SaveAllRepair& repair);
