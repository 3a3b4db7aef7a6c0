#include "export/save_journal.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "export/older_pictures.h"

std::string SavePlan::Group(int index) const {
    return work + separator + std::to_string(index / kWorkGroup);
}

std::string SavePlan::Temp(int index) const {
    return Group(index) + separator + std::to_string(index);
}

std::string SavePlan::Backup(int index, const OlderFile& older) const {
    return Group(index) + separator + older.name;
}

std::string SavePlan::Final(int index) const {
    return folder + separator + std::to_string(index) + ".jpg";
}

std::string SavePlan::Older(const OlderFile& older) const {
    return folder + separator + older.name;
}

std::string SavePlan::Journal() const {
    return work + separator + kJournalName;
}

namespace {

const char kHeader[] = "pixmora save-all journal 1";

std::string Number(uint64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "%" PRIu64, v);
    return text;
}

std::string Hex(uint64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "%016" PRIx64, v);
    return text;
}

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < line.size()) {
        const size_t end = line.find(' ', at);
        words.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return words;
}

// A whole decimal (or, with base 16, hex) number and nothing else.
bool ParseNumber(const std::string& word, int base, uint64_t& value) {
    if (word.empty() || word.size() > 20) return false;
    char* end = nullptr;
    value = std::strtoull(word.c_str(), &end, base);
    return end && *end == 0 && (word[0] != '-' && word[0] != '+');
}

// False for a file larger than any journal (a million pictures stay below
// 64 MB): read in part, it could lack the lines that matter.
bool ReadText(const std::string& path, std::string& text) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char buffer[4096];
    size_t n;
    text.clear();
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && text.size() <= (64u << 20))
        text.append(buffer, n);
    std::fclose(f);
    return text.size() <= (64u << 20);
}

// Removes the work folder's subfolders that are empty (named by a number, as
// Save All makes them); the rest stays.
void RemoveEmptyGroups(const SavePlan& plan) {
    std::vector<std::string> names;
    ListFolder(plan.work, names);
    for (const std::string& name : names) {
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string path = plan.work + plan.separator + name;
        if (IsFolder(path)) RemoveEmptyFolder(path);
    }
}

// Before the plan was written the work folder holds only new files, named
// by their number in numbered subfolders: they go.
bool RemoveUnplannedFiles(const SavePlan& plan) {
    bool all = true;
    std::vector<std::string> groups, files;
    ListFolder(plan.work, groups);
    for (const std::string& group : groups) {
        if (group.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string dir = plan.work + plan.separator + group;
        ListFolder(dir, files);
        for (const std::string& name : files) {
            const std::string path = dir + plan.separator + name;
            if (name.find_first_not_of("0123456789") == std::string::npos && IsRegularFile(path))
                all = RemoveFile(path) && all;
        }
    }
    return all;
}

bool HoldsNew(const PlannedSlot& slot, const std::string& path) {
    return HoldsContent(path, slot.size, slot.hash);
}

bool HoldsOlder(const std::string& path, const OlderFile& older) {
    FileStamp stamp;
    return StampFile(path, stamp) && stamp == older.stamp;
}

} // namespace

std::string JournalHeader() {
    return std::string(kHeader) + "\n";
}

std::string JournalPlanText(const SavePlan& plan) {
    std::string text;
    for (const PlannedSlot& slot : plan.slots) {
        text += "slot " + std::to_string(slot.index) + " " + Number(slot.size) + " " +
                Hex(slot.hash) + "\n";
        for (const OlderFile& o : slot.older)
            text += "older " + o.name + " " + Number(o.stamp.size) + " " +
                    std::to_string(o.stamp.modified) + " " + Number(o.stamp.device) + " " +
                    Number(o.stamp.inode) + "\n";
    }
    return text + "plan\n";
}

std::string JournalCommittedText() {
    return "committed\n";
}

bool ReadJournal(SavePlan& plan) {
    plan.slots.clear();
    plan.planned = plan.committed = false;
    std::string text;
    if (!ReadText(plan.Journal(), text)) return false;
    if (text.compare(0, JournalHeader().size(), JournalHeader()) != 0) return false;
    std::vector<PlannedSlot> slots;
    size_t at = JournalHeader().size();
    // Only whole lines count; the last one may have been cut short.
    for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::vector<std::string> w = Words(text.substr(at, end - at));
        uint64_t a = 0, b = 0, c = 0, d = 0;
        if (w.size() == 1 && w[0] == "plan") {
            plan.slots = slots;
            plan.planned = true;
        } else if (w.size() == 1 && w[0] == "committed" && plan.planned) {
            plan.committed = true;
        } else if (w.size() == 4 && w[0] == "slot" && ParseNumber(w[1], 10, a) && a < (1u << 30) &&
                   ParseNumber(w[2], 10, b) && ParseNumber(w[3], 16, c)) {
            PlannedSlot slot;
            slot.index = static_cast<int>(a);
            slot.size = b;
            slot.hash = c;
            slots.push_back(slot);
        } else if (w.size() == 6 && w[0] == "older" && !slots.empty()) {
            // Only a name of the slot's own number is ever touched.
            int number = -1;
            OlderFile o;
            o.name = w[1];
            const bool modified = w[3].size() < 21 && !w[3].empty();
            long long when = modified ? std::strtoll(w[3].c_str(), nullptr, 10) : 0;
            if (!IsNumberedPictureName(o.name, &number) || number != slots.back().index ||
                !ParseNumber(w[2], 10, a) || !ParseNumber(w[4], 10, b) ||
                !ParseNumber(w[5], 10, d) || !modified)
                return false;
            o.stamp.size = a;
            o.stamp.modified = when;
            o.stamp.device = b;
            o.stamp.inode = d;
            slots.back().older.push_back(o);
        } else {
            return false; // not a journal this program wrote
        }
    }
    return true;
}

bool UndoSavePlan(const SavePlan& plan) {
    bool ours = true; // false once a file of ours could not go or come back
    if (!plan.planned && plan.slots.empty()) ours = RemoveUnplannedFiles(plan);
    for (const PlannedSlot& slot : plan.slots) {
        const std::string temp = plan.Temp(slot.index), final = plan.Final(slot.index);
        if (HoldsNew(slot, temp)) ours = RemoveFile(temp) && ours;
        // Only the new file itself leaves the name; whatever else holds it
        // stays, also an older file that never stepped aside and happens to
        // hold the same bytes (a "3.JPG" the system finds for "3.jpg"). One
        // that waits in the work folder comes back below; the stamps alone
        // cannot tell the two apart where they carry no file number (Windows).
        bool olderThere = false;
        for (const OlderFile& o : slot.older)
            olderThere =
                olderThere || (HoldsOlder(final, o) && !HoldsOlder(plan.Backup(slot.index, o), o));
        if (!olderThere && HoldsNew(slot, final)) ours = RemoveFile(final) && ours;
        for (const OlderFile& o : slot.older) {
            const std::string backup = plan.Backup(slot.index, o);
            if (!HoldsOlder(backup, o)) continue; // never moved (or not ours)
            if (HoldsOlder(plan.Older(o), o))
                ours = RemoveFile(backup) && ours; // a second name: the first kept the file
            else
                ours = RenameFile(backup, plan.Older(o), false) && ours; // never onto another file
        }
    }
    RemoveEmptyGroups(plan);
    // The older files are back: the journal may go once that is on the disk.
    if (ours && FlushFolder(plan.folder)) RemoveFile(plan.Journal());
    return RemoveEmptyFolder(plan.work);
}

bool FinishSavePlan(const SavePlan& plan, bool checkNew) {
    bool ours = true;
    for (const PlannedSlot& slot : plan.slots) {
        // A set taken apart since (by hand) keeps its older files.
        if (checkNew && !HoldsNew(slot, plan.Final(slot.index))) {
            for (const OlderFile& o : slot.older)
                if (HoldsOlder(plan.Backup(slot.index, o), o)) ours = false;
            continue;
        }
        for (const OlderFile& o : slot.older) {
            const std::string backup = plan.Backup(slot.index, o);
            if (HoldsOlder(backup, o)) ours = RemoveFile(backup) && ours;
        }
    }
    RemoveEmptyGroups(plan);
    if (ours) RemoveFile(plan.Journal());
    return RemoveEmptyFolder(plan.work);
}

SaveAllRepair RepairInterruptedSaveAll(const std::string& folder, char separator) {
    SaveAllRepair repair;
    std::vector<std::string> names;
    if (!ListFolder(folder, names)) return repair;
    const std::string prefix = "~pixmora-";
    for (const std::string& name : names) {
        const std::string number = name.substr(std::min(name.size(), prefix.size()));
        if (LowerAscii(name.substr(0, prefix.size())) != prefix || number.empty() ||
            number.find_first_not_of("0123456789") != std::string::npos)
            continue;
        SavePlan plan;
        plan.folder = folder;
        plan.separator = separator;
        plan.work = folder + separator + name;
        if (!IsFolder(plan.work)) continue;
        if (!ReadJournal(plan)) {
            // An export cut short as it made its work folder, or one that
            // emptied it but did not remove it: its empty folders go (any
            // folder that holds something stays as it is).
            RemoveEmptyGroups(plan);
            std::vector<std::string> inside;
            if (ListFolder(plan.work, inside) && inside.empty())
                RemoveEmptyFolder(plan.work);
            else
                repair.stuck.push_back(plan.work); // may hold older pictures: the user is told
            continue;
        }
        const bool done = plan.committed ? FinishSavePlan(plan, true) : UndoSavePlan(plan);
        if (!done && PathExists(plan.Journal()))
            repair.stuck.push_back(plan.work);
        else if (plan.committed)
            ++repair.completed;
        else
            ++repair.undone;
    }
    return repair;
}

std::string SaveAllRepairMessage(const std::string& folder, const SaveAllRepair& repair) {
    std::string text;
    auto line = [&](const std::string& s) { text += (text.empty() ? "" : "\n") + s; };
    if (repair.completed > 0) line("An interrupted Save All into " + folder + " was completed.");
    if (repair.undone > 0) line("An interrupted Save All into " + folder + " was undone.");
    for (const std::string& work : repair.stuck)
        line("An interrupted Save All into " + folder +
             " could not be put right; its files are in " + work + ".");
    return text;
}
