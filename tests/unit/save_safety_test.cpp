// Save All never puts what the folder holds at risk: an export cut short at
// any file operation is finished or undone, a rollback and the deletion of
// older files touch only what the export made or moved, one export into a
// folder runs at a time, and the user's own files are never replaced unasked.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "export/export_lock.h"
#include "export/folder_files.h"
#include "export/older_pictures.h"
#include "export/path_separator.h"
#include "export/save_all.h"
#include "export/save_journal.h"
#include "tests/unit/save_test_support.h"
#include "tests/unit/test_support.h"

namespace {

const char kSep = kPathSeparator;

using Folder = std::map<std::string, std::vector<uint8_t>>;

// A folder as an earlier export left it: 0.jpg, 1.JPG (another spelling, so
// it always steps aside), 3.jpg beyond the new set, and a file of the user's.
std::string OlderSetFolder() {
    std::string dir = FreshDir();
    WriteBytes(dir + kSep + "0.jpg", OlderPicture(50));
    WriteBytes(dir + kSep + "1.JPG", OlderPicture(51));
    WriteBytes(dir + kSep + "3.jpg", OlderPicture(53));
    WriteBytes(dir + kSep + "notes.txt", "mine");
    return dir;
}

bool HasWorkFolder(const Folder& f) {
    for (const auto& entry : f)
        if (entry.first.compare(0, 9, "~pixmora-") == 0) return true;
    return false;
}

TEST(SaveAllSafety, AnExportCutShortAtAnyFileOperationIsFinishedOrUndoneAfterwards) {
    std::vector<std::vector<uint8_t>> jpegs;
    for (uint32_t seed : {60u, 61u, 62u})
        jpegs.push_back(Encoded(*Picture(seed)));
    struct Way {
        bool links;
        bool killed; // every operation after the failing one fails too
    };
    for (const Way way : {Way{false, true}, Way{false, false}, Way{true, true}, Way{true, false}}) {
        SCOPED_TRACE(std::string(way.links ? "hard links" : "no links") +
                     (way.killed ? ", killed" : ", one failure"));
        auto run = [&](const std::string& dir) {
            HardLinks links;
            SaveAllWay w;
            if (way.links) w.files = &links;
            return CommitSaveAllSet(dir, jpegs.data(), 3, kSep, nullptr, nullptr, w);
        };
        std::string dir = OlderSetFolder();
        const Folder before = Snapshot(dir);
        FailFileOperation(0);
        ASSERT_TRUE(run(dir).ok());
        const long operations = FailFileOperation(0);
        const Folder after = Snapshot(dir);
        ASSERT_EQ(after.size(), 5u); // 0.jpg 1.jpg 2.jpg 3.jpg notes.txt
        ASSERT_EQ(after.at("1.jpg"), jpegs[1]);
        ASSERT_GT(operations, 15);
        for (long n = 1; n <= operations; ++n) {
            SCOPED_TRACE("operation " + std::to_string(n) + " of " + std::to_string(operations));
            dir = OlderSetFolder();
            FailFileOperation(n, way.killed);
            const SaveAllResult r = run(dir);
            FailFileOperation(0);
            const Folder left = Snapshot(dir);
            // An export that saw its failure puts the folder back itself.
            if (!way.killed && !r.ok()) {
                EXPECT_TRUE(r.folderRestored);
                EXPECT_EQ(left, before);
            }
            const bool journal =
                HasWorkFolder(left) && PathExists(dir + kSep + "~pixmora-0" + kSep + "journal");
            const SaveAllRepair repair = RepairInterruptedSaveAll(dir, kSep);
            // "Saved" means the new set stays; a failure means the older one is back.
            EXPECT_EQ(Snapshot(dir), r.ok() ? after : before);
            EXPECT_TRUE(repair.stuck.empty());
            EXPECT_EQ(repair.completed, journal && r.ok() ? 1 : 0);
            EXPECT_EQ(repair.undone, journal && !r.ok() ? 1 : 0);
            if (journal) {
                EXPECT_EQ(SaveAllRepairMessage(dir, repair),
                          "An interrupted Save All into " + dir + " was " +
                              (r.ok() ? "completed." : "undone."));
            }
        }
    }
}

// The new files are on the disk before any older file leaves its name.
TEST(SaveAllSafety, NothingIsRenamedBeforeTheNewFilesAreDurable) {
    struct Recorder : SaveAllFiles {
        bool flushes = true;
        int moves = 0, movesBeforeFlush = -1;
        bool Flush() override {
            movesBeforeFlush = moves;
            return flushes && SaveAllFiles::Flush();
        }
        bool Move(const std::string& from, const std::string& to, bool replace) override {
            ++moves;
            return SaveAllFiles::Move(from, to, replace);
        }
    };
    std::vector<std::vector<uint8_t>> jpegs = {Encoded(*Picture(74)), Encoded(*Picture(75))};
    for (const bool flushes : {true, false}) {
        std::string dir = OlderSetFolder();
        const Folder before = Snapshot(dir);
        Recorder files;
        files.flushes = flushes;
        SaveAllWay way;
        way.files = &files;
        const SaveAllResult r = CommitSaveAllSet(dir, jpegs.data(), 2, kSep, nullptr, nullptr, way);
        EXPECT_EQ(files.movesBeforeFlush, 0);
        if (flushes) {
            EXPECT_TRUE(r.ok());
            continue;
        }
        EXPECT_EQ(r.failure, SaveAllFailure::kNotDurable);
        EXPECT_EQ(SaveAllMessage(r), "Could not save into " + dir +
                                         ": the files could not be written to the disk. The "
                                         "folder was left as it was.");
        EXPECT_EQ(Snapshot(dir), before);
    }
}

TEST(SaveAllSafety, AnAlbumSavedAgainUnchangedTouchesNothing) {
    std::vector<std::vector<uint8_t>> jpegs = {Encoded(*Picture(76)), Encoded(*Picture(77))};
    std::string dir = FreshDir();
    ASSERT_TRUE(CommitSaveAllSet(dir, jpegs.data(), 2).ok());
    const Folder saved = Snapshot(dir);
    FailFileOperation(0);
    const SaveAllResult again = CommitSaveAllSet(dir, jpegs.data(), 2);
    EXPECT_TRUE(again.ok());
    EXPECT_EQ(again.written, 2);
    EXPECT_EQ(FailFileOperation(0), 0) << "no work folder, journal or flush";
    EXPECT_EQ(Snapshot(dir), saved);
}

TEST(SaveAllSafety, TheNextExportRepairsTheFolderBeforeItListsIt) {
    std::vector<std::vector<uint8_t>> jpegs = {Encoded(*Picture(70)), Encoded(*Picture(71))};
    std::string dir;
    Folder before;
    // Killed once the first older file stepped aside: 0.jpg is missing.
    for (long n = 1; n < 40; ++n) {
        dir = OlderSetFolder();
        before = Snapshot(dir);
        FailFileOperation(n, true);
        EXPECT_FALSE(CommitSaveAllSet(dir, jpegs.data(), 2).ok());
        FailFileOperation(0);
        if (!Exists(dir + kSep + "0.jpg")) break;
    }
    ASSERT_FALSE(Exists(dir + kSep + "0.jpg"));
    const SaveAllResult r = CommitSaveAllSet(dir, jpegs.data(), 1);
    ASSERT_TRUE(r.ok()) << SaveAllMessage(r);
    EXPECT_EQ(SaveAllRepairMessage(dir, r.repair),
              "An interrupted Save All into " + dir + " was undone.");
    Folder expected = before;
    expected["0.jpg"] = jpegs[0];
    EXPECT_EQ(Snapshot(dir), expected) << "the older 1.JPG is back, no ~pixmora-* is left";
}

// A journal is only trusted when this program wrote it, and only as far as
// its lines are whole.
TEST(SaveAllSafety, AJournalCutShortOrNotOursIsReadSafely) {
    const std::vector<uint8_t> jpeg = Encoded(*Picture(72));
    const std::string temp(jpeg.begin(), jpeg.end());
    struct Case {
        std::string journal;
        bool removed; // the work folder is an export's and goes
    };
    const Case cases[] = {
        {"pixmora save-all journal 1\nslot 0 5 00000000000000ff\npla", true},
        {"pixmora save-all journal 1\n", true},
        {"my own notes\n", false},
        {"pixmora save-all journal 1\nslot 0 5 00000000000000ff\nolder ../0.jpg 3 0 0 0\nplan\n",
         false},
        {"pixmora save-all journal 1\nslot 0 5 00000000000000ff\nolder 1.jpg 3 0 0 0\nplan\n",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.journal);
        std::string dir = FreshDir();
        WriteBytes(dir + kSep + "0.jpg", OlderPicture(73));
        const std::string work = dir + kSep + "~pixmora-4";
        MakeDir(work);
        MakeDir(work + kSep + "0");
        WriteBytes(work + kSep + "0" + kSep + "0", temp);
        WriteBytes(work + kSep + "journal", c.journal);
        const SaveAllRepair repair = RepairInterruptedSaveAll(dir, kSep);
        EXPECT_EQ(repair.undone, c.removed ? 1 : 0);
        EXPECT_EQ(PathExists(work), !c.removed);
        // A work folder that stays is named to the user: it may hold older pictures.
        EXPECT_EQ(repair.stuck,
                  c.removed ? std::vector<std::string>{} : std::vector<std::string>{work});
        EXPECT_EQ(ReadFile(dir + kSep + "0.jpg"), Encoded(*Picture(73)));
    }
}

// One export's rollback after another saved into the same slots (one that
// took no lock): the other's pictures stay, and the older files that cannot
// go back keep their place in the work folder.
TEST(SaveAllSafety, ARollbackRemovesOnlyItsOwnNewFilesAndNeverReplacesOnPutBack) {
    struct Intruder : SaveAllFiles {
        std::function<void()> before; // run before the third picture takes its name
        bool Move(const std::string& from, const std::string& to, bool replace) override {
            if (from.size() > 2 &&
                from.compare(from.size() - 2, 2, std::string(1, kSep) + "2") == 0) {
                before();
                return false;
            }
            return SaveAllFiles::Move(from, to, replace);
        }
    };
    std::string dir = FreshDir();
    WriteBytes(dir + kSep + "0.jpg", OlderPicture(80));
    WriteBytes(dir + kSep + "1.jpg", OlderPicture(81));
    std::vector<std::vector<uint8_t>> mine = {Encoded(*Picture(82)), Encoded(*Picture(83)),
                                              Encoded(*Picture(84))};
    const std::string theirs0 = OlderPicture(90), theirs1 = OlderPicture(91);
    Intruder files;
    files.before = [&] {
        // Another program replaces the two pictures this export has put in.
        RemoveFile(dir + kSep + "0.jpg");
        WriteBytes(dir + kSep + "0.jpg", theirs0);
        RemoveFile(dir + kSep + "1.jpg");
        WriteBytes(dir + kSep + "1.jpg", theirs1);
    };
    SaveAllWay way;
    way.files = &files;
    const SaveAllResult r = CommitSaveAllSet(dir, mine.data(), 3, kSep, nullptr, nullptr, way);
    EXPECT_EQ(r.failure, SaveAllFailure::kCannotReplace);
    EXPECT_FALSE(r.folderRestored) << "its older files could not go back";
    EXPECT_EQ(ReadFile(dir + kSep + "0.jpg"), std::vector<uint8_t>(theirs0.begin(), theirs0.end()));
    EXPECT_EQ(ReadFile(dir + kSep + "1.jpg"), std::vector<uint8_t>(theirs1.begin(), theirs1.end()));
    EXPECT_FALSE(Exists(dir + kSep + "2.jpg"));
    // Nothing was lost: the older pictures wait in the work folder, and each
    // repair keeps them while their names are taken.
    const std::string group = dir + kSep + "~pixmora-0" + kSep + "0" + kSep;
    EXPECT_EQ(ReadFile(group + "0.jpg"), Encoded(*Picture(80)));
    EXPECT_EQ(ReadFile(group + "1.jpg"), Encoded(*Picture(81)));
    EXPECT_EQ(RepairInterruptedSaveAll(dir, kSep).stuck.size(), 1u);
    RemoveFile(dir + kSep + "1.jpg");
    const SaveAllRepair repair = RepairInterruptedSaveAll(dir, kSep);
    EXPECT_EQ(repair.stuck.size(), 1u) << "0.jpg is still taken";
    EXPECT_EQ(ReadFile(dir + kSep + "1.jpg"), Encoded(*Picture(81)));
}

// A second export into the folder waits for the first; the first fails at
// its third rename with the second waiting, puts the folder back, and the
// second then saves its set whole.
TEST(SaveAllSafety, ASecondExportIntoTheFolderWaitsForTheFirst) {
    std::string dir = FreshDir();
    WriteBytes(dir + kSep + "0.jpg", OlderPicture(100));
    std::vector<std::vector<uint8_t>> first = {Encoded(*Picture(101)), Encoded(*Picture(102)),
                                               Encoded(*Picture(103))};
    std::vector<std::vector<uint8_t>> second = {Encoded(*Picture(104)), Encoded(*Picture(105))};
    struct Waits : SaveAllFiles {
        std::function<void()> before;
        bool Move(const std::string& from, const std::string& to, bool replace) override {
            if (from.compare(from.size() - 2, 2, std::string(1, kSep) + "2") == 0) {
                before();
                return false;
            }
            return SaveAllFiles::Move(from, to, replace);
        }
    };
    std::atomic<int> waited{0};
    std::atomic<bool> done{false};
    SaveAllResult secondResult;
    std::thread other;
    Waits files;
    files.before = [&] {
        other = std::thread([&] {
            SaveAllWay way;
            way.waiting = [](void* count) { ++*static_cast<std::atomic<int>*>(count); };
            way.waitingContext = &waited;
            secondResult = CommitSaveAllSet(dir, second.data(), 2, kSep, nullptr, nullptr, way);
            done = true;
        });
        for (int i = 0; i < 40 && !done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    SaveAllWay way;
    way.files = &files;
    const SaveAllResult r = CommitSaveAllSet(dir, first.data(), 3, kSep, nullptr, nullptr, way);
    EXPECT_FALSE(done) << "the second export ran while the first held the folder";
    other.join();
    EXPECT_EQ(r.failure, SaveAllFailure::kCannotReplace);
    EXPECT_TRUE(r.folderRestored);
    EXPECT_EQ(waited, 1);
    ASSERT_TRUE(secondResult.ok()) << SaveAllMessage(secondResult);
    Folder expected = {{"0.jpg", second[0]}, {"1.jpg", second[1]}};
    EXPECT_EQ(Snapshot(dir), expected);
}

TEST(SaveAllSafety, AnExportGivesUpWhenTheFolderStaysBusyAndALockEndsWithItsOwner) {
    std::string dir = FreshDir();
    std::vector<std::vector<uint8_t>> jpegs = {Encoded(*Picture(110))};
    const std::string lockPath = dir + kSep + kExportLockName;
    {
        ExportLock held;
        ASSERT_EQ(held.TryTake(dir), ExportLockOutcome::kTaken);
        int told = 0;
        SaveAllWay way;
        way.lockWaitMs = 200;
        way.waiting = [](void* count) { ++*static_cast<int*>(count); };
        way.waitingContext = &told;
        const SaveAllResult r = CommitSaveAllSet(dir, jpegs.data(), 1, kSep, nullptr, nullptr, way);
        EXPECT_EQ(r.failure, SaveAllFailure::kFolderBusy);
        EXPECT_EQ(told, 1);
        EXPECT_EQ(SaveAllMessage(r), "Could not save into " + dir +
                                         ": another export into that folder has not finished "
                                         "after a minute. Nothing was written; try again when it "
                                         "is done.");
        EXPECT_EQ(WaitingForExportText(dir), "Waiting for another export into " + dir);
        EXPECT_EQ(Snapshot(dir).size(), 1u) << "only the lock";
    }
    EXPECT_FALSE(Exists(lockPath)) << "a released lock leaves nothing";
    // A lock file whose owner crashed holds no lock.
    WriteBytes(lockPath, "");
    EXPECT_TRUE(CommitSaveAllSet(dir, jpegs.data(), 1).ok());
    EXPECT_EQ(Snapshot(dir).size(), 1u) << "0.jpg";
    ExportLock none;
    EXPECT_EQ(none.TryTake(dir + kSep + "missing"), ExportLockOutcome::kNoLock);
}

// Pictures of a JPEG stream patched to another frame size or process.
std::string WithFrame(std::vector<uint8_t> jpeg, uint8_t sof, int width, int height) {
    for (size_t i = 2; i + 8 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            jpeg[i + 1] = sof;
            jpeg[i + 5] = static_cast<uint8_t>(height >> 8);
            jpeg[i + 6] = static_cast<uint8_t>(height);
            jpeg[i + 7] = static_cast<uint8_t>(width >> 8);
            jpeg[i + 8] = static_cast<uint8_t>(width);
            break;
        }
    return std::string(jpeg.begin(), jpeg.end());
}

TEST(SaveAllSafety, TheUsersOwnNumberedFilesAreReplacedOnlyWhenAllowed) {
    const std::vector<uint8_t> jpeg = Encoded(*Picture(120));
    const std::string picture(jpeg.begin(), jpeg.end());
    std::string big = picture;
    big.insert(2, std::string("\xFF\xE1\xFF\xF0", 4) + std::string(65520 - 2, 'x'));
    struct Kind {
        std::string bytes;
        bool picture;
    };
    const Kind kinds[] = {
        {picture, true},
        {WithFrame(jpeg, 0xC2, 128, 128), true},    // progressive
        {WithFrame(jpeg, 0xC0, 4000, 3000), false}, // a camera's photo
        {WithFrame(jpeg, 0xC0, 128, 64), false},
        {picture.substr(0, 100), false}, // cut before its frame header
        {big, false},                    // larger than Save All ever writes
        {"my notes", false},
    };
    std::string dir = FreshDir();
    for (const Kind& k : kinds) {
        WriteBytes(dir + kSep + "k.jpg", k.bytes);
        EXPECT_EQ(IsFramePictureFile(dir + kSep + "k.jpg"), k.picture) << k.bytes.size();
    }
    RemoveFile(dir + kSep + "k.jpg");

    WriteBytes(dir + kSep + "0.jpg", picture);
    WriteBytes(dir + kSep + "2.jpg", "my notes");
    WriteBytes(dir + kSep + "1.jpg", WithFrame(jpeg, 0xC0, 4000, 3000));
    const Folder before = Snapshot(dir);
    std::vector<std::vector<uint8_t>> jpegs = {Encoded(*Picture(121)), Encoded(*Picture(122)),
                                               Encoded(*Picture(123))};
    SaveAllWay way;
    SaveAllResult r = CommitSaveAllSet(dir, jpegs.data(), 3, kSep, nullptr, nullptr, way);
    EXPECT_EQ(r.failure, SaveAllFailure::kOwnFiles);
    EXPECT_EQ(r.ownFiles, (std::vector<std::string>{"1.jpg", "2.jpg"}));
    EXPECT_EQ(Snapshot(dir), before);
    EXPECT_EQ(OwnFilesQuestion(dir, r.ownFiles),
              dir + " holds 2 files that are not 128 x 128 pictures: 1.jpg and 2.jpg. Save All "
                    "would replace them with the album's pictures. Replace them?");
    way.replaceable = {"1.jpg"};
    r = CommitSaveAllSet(dir, jpegs.data(), 3, kSep, nullptr, nullptr, way);
    EXPECT_EQ(r.ownFiles, (std::vector<std::string>{"2.jpg"}));
    EXPECT_EQ(Snapshot(dir), before);
    way.replaceable = {"1.jpg", "2.jpg"};
    r = CommitSaveAllSet(dir, jpegs.data(), 3, kSep, nullptr, nullptr, way);
    ASSERT_TRUE(r.ok()) << SaveAllMessage(r);
    EXPECT_EQ(ReadFile(dir + kSep + "2.jpg"), jpegs[2]);
    EXPECT_EQ(FileNameList({"0.jpg", "1.jpg", "2.jpg", "3.jpg", "4.jpg", "5.jpg", "6.jpg", "7.jpg",
                            "8.jpg", "9.jpg"}),
              "0.jpg, 1.jpg, 2.jpg, 3.jpg, 4.jpg, 5.jpg, 6.jpg, 7.jpg and 2 more");
}

TEST(SaveAllSafety, EverySpellingOfANumberIsOneSlot) {
    std::vector<std::vector<uint8_t>> jpegs = {Encoded(*Picture(132)), Encoded(*Picture(133))};
    const Folder expected = {{"0.jpg", jpegs[0]}, {"1.jpg", jpegs[1]}};
    // "1.jpg" an older picture, or a file that already holds the new
    // picture's bytes: an undo must not take that one for its own.
    for (const std::string& second :
         {OlderPicture(131), std::string(jpegs[1].begin(), jpegs[1].end())}) {
        auto olderSet = [&] {
            std::string dir = FreshDir();
            WriteBytes(dir + kSep + "1.JPG", OlderPicture(130));
            WriteBytes(dir + kSep + "1.jpg", second); // the same file where case does not count
            return dir;
        };
        const Folder before = Snapshot(olderSet());
        bool bothAside = false; // a kill found both spellings in the work folder
        for (long n = 1;; ++n) {
            const std::string dir = olderSet();
            FailFileOperation(n, true);
            const SaveAllResult r = CommitSaveAllSet(dir, jpegs.data(), 2);
            if (FailFileOperation(0) < n) break; // the export ended before operation n
            bothAside =
                bothAside || (!Exists(dir + kSep + "1.JPG") && !Exists(dir + kSep + "1.jpg"));
            RepairInterruptedSaveAll(dir, kSep);
            EXPECT_EQ(Snapshot(dir), r.ok() ? expected : before) << "operation " << n;
        }
        EXPECT_TRUE(bothAside);
    }
}

// A folder whose own path is `length` characters long.
std::string FolderOfLength(size_t length) {
    std::string dir = FreshDir();
    while (dir.size() < length) {
        const size_t left = length - dir.size() - 1; // after the separator
        const size_t step = left <= 100 ? left : (left - 100 >= 2 ? 100 : 97);
        dir += kSep + std::string(step, 'd');
        MakeDir(dir);
    }
    return dir;
}

TEST(SaveAllSafety, WorkNamesThatWouldNotFitAreRefusedBeforeAnythingIsWritten) {
#ifdef _WIN32
    const size_t longest = 259, folderLongest = 247; // MAX_PATH; a folder: 248 with its zero
#else
    const size_t longest = 4095, folderLongest = 4095;
#endif
    std::vector<std::vector<uint8_t>> jpegs = {Encoded(*Picture(140))};
    // "<dir>/0.jpg" fits; "<dir>/~pixmora-0/0/0.jpg" would not.
    const std::string dir = FolderOfLength(std::min(longest - 10, folderLongest));
    const SaveAllResult r = CommitSaveAllSet(dir, jpegs.data(), 1);
    ASSERT_EQ(r.failure, SaveAllFailure::kPathTooLong);
    EXPECT_GT(r.pathTooLongBy, 0);
    EXPECT_EQ(SaveAllMessage(r), "Could not save into " + dir + ": its path is " +
                                     std::to_string(r.pathTooLongBy) +
                                     (r.pathTooLongBy == 1 ? " character" : " characters") +
                                     " too long for Save All's work files. Nothing was written.");
    EXPECT_TRUE(Snapshot(dir).empty());
    // A folder that much shorter saves.
    const std::string shorter = FolderOfLength(dir.size() - r.pathTooLongBy);
    const SaveAllResult saved = CommitSaveAllSet(shorter, jpegs.data(), 1);
    EXPECT_TRUE(saved.ok()) << SaveAllMessage(saved);
}

} // namespace
