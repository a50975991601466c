// The recovery of a folder from the journal a save left: whatever the journal holds, recovery
// never throws, never touches a file a save of ours could not have meant, and leaves no
// journal behind. A step it carries out is one a save writes: a database file's own temporary
// renamed onto it, or a database file removed.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "fuzz_support.h"

namespace {

using vorn_fuzz::fs::directory_iterator;

// The folder as a save interrupted after its journal could have left it.
const std::map<std::string, std::string> BEFORE = {
    {"pgm_flash_A.xml", "old A"},          {"pgm_flash_B.xml", "old B"},
    {".pgm_flash_A.xml.Ab12Cd", "new A"},  {"notes.txt", "the user's"},
    {"pgm_flash_template_T.xml", "old T"},
};

std::map<std::string, std::string> contents(const std::string& dir) {
    std::map<std::string, std::string> out;
    for (const auto& entry : directory_iterator(dir))
        out[entry.path().filename().string()] = vorn_fuzz::read_text(entry.path().string());
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string dir = vorn_fuzz::SCRATCH::get().dir("journal");
    vorn_fuzz::fs::remove_all(dir);
    vorn_fuzz::fs::create_directories(dir);
    for (const auto& file : BEFORE)
        vorn_fuzz::write_text(dir + file.first, file.second.data(), file.second.size());
    vorn_fuzz::write_text(dir + ".vorn-journal", reinterpret_cast<const char*>(data), size);

    FIO_FOLDER_CHANGE::recover_folder(dir);

    std::map<std::string, std::string> after = contents(dir);
    if (after.count(".vorn-journal") != 0) vorn_fuzz::finding("journal", "left in place");
    const bool set_aside = after.erase(".vorn-journal.damaged") != 0;
    if (after.count(".pgm_flash_A.xml.Ab12Cd") != 0)
        vorn_fuzz::finding("temporary", "a save's temporary was left behind");
    if (after.count("notes.txt") == 0) vorn_fuzz::finding("file", "the user's file is gone");
    for (const auto& file : after) {
        const auto was = BEFORE.find(file.first);
        if (was == BEFORE.end()) vorn_fuzz::finding("file", "made up: " + file.first);
        const bool completed = file.first == "pgm_flash_A.xml" && file.second == "new A";
        if (file.second != was->second && !completed)
            vorn_fuzz::finding("file", "changed: " + file.first);
    }
    // A journal set aside is acted on in nothing: only the temporary goes.
    std::map<std::string, std::string> untouched = BEFORE;
    untouched.erase(".pgm_flash_A.xml.Ab12Cd");
    if (set_aside && after != untouched)
        vorn_fuzz::finding("journal", "a damaged journal was acted on");
    return 0;
}
