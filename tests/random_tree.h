// Random trees for the property tests and the monkey run: files of many sizes, nested
// directories, links to files and directories inside and outside the tree, dangling links, named
// pipes, and names with every character a shell or a terminal takes as special.
#pragma once

#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "common/limits.h"
#include "tests/harness.h"

// Names that a shell, a terminal or a careless join would take for something else.
// clang-format off
static const char *const kOddNames[] = {
    "plain", "with space", " leading", "trailing ", "it's", "say \"hi\"", "semi;colon",
    "$(touch PWNED)", "`touch PWNED`", "new\nline", "tab\there", "-rf", "--", "-", "back\\slash",
    "star*", "what?", "..dots", "...", "\xff\xfe", "\xe3\x81", "\xc3", "caf\xc3\xa9", "~", "&",
    "|pipe", ">out", "#hash", "%s%n", "\x1b[2J"};
// clang-format on

struct Random {
    std::mt19937 engine;
    explicit Random(uint32_t seed) : engine(seed) {}
    // A number from 0 to below (the generator's own output, so every platform makes the same).
    uint32_t Below(uint32_t below) { return engine() % below; }
    bool OneIn(uint32_t chances) { return Below(chances) == 0; }
};

// A name no sibling has, as serial differs: an odd one, random bytes (no "/" nor NUL), or 255
// bytes.
inline std::string MakeName(Random &random, int serial) {
    std::string tag = std::to_string(serial), name;
    uint32_t kind = random.Below(4);
    if (kind < 2)
        return kOddNames[random.Below(sizeof kOddNames / sizeof kOddNames[0])] + tag;
    if (kind == 3)
        return std::string(kNameSize - 1 - tag.size(), 'L') + tag;
    for (uint32_t i = 1 + random.Below(12); i > 0; i--) {
        char byte = static_cast<char>(1 + random.Below(255));
        name += byte == '/' ? '_' : byte;
    }
    return name + tag;
}

// Empty, a multiple of twenty, small, or now and then more than one copy block.
inline std::string FileContent(Random &random) {
    uint32_t kind = random.Below(10);
    size_t size = kind < 2 ? 0 : kind < 4 ? 20 * (1 + random.Below(100)) : 1 + random.Below(6000);
    if (random.OneIn(150))
        size = kCopyBlockSize + (random.OneIn(2) ? 20 : 7);
    std::string content(size, '\0');
    for (char &byte : content)
        byte = static_cast<char>(random.Below(256));
    return content;
}

// The paths a tree offers as link targets: inside it, and outside it.
struct Targets {
    std::vector<std::string> files, dirs;
};

// Fills dir with up to `most` random entries a level, depth levels deep, counting names from
// serial; records the directories and files made as targets. Scripts, when asked for, are
// executable files that do nothing.
inline void Populate(Random &random, const std::string &dir, int depth, int most, Targets &inside,
                     const Targets &outside, int &serial, bool scripts = false) {
    for (uint32_t left = random.Below(most + 1); left > 0; left--) {
        std::string path = dir + "/" + MakeName(random, serial++);
        uint32_t kind = random.Below(20);
        if (kind < 9) {
            WriteFile(path, FileContent(random));
            inside.files.push_back(path);
        } else if (kind < 13 && depth > 0) {
            MakeDir(path);
            Populate(random, path, depth - 1, most, inside, outside, serial, scripts);
            inside.dirs.push_back(path);
        } else if (kind < 15 && !inside.files.empty()) {
            symlink(inside.files[random.Below(inside.files.size())].c_str(), path.c_str());
        } else if (kind < 16 && !inside.dirs.empty()) {
            // Directories already finished: never one that holds this link.
            symlink(inside.dirs[random.Below(inside.dirs.size())].c_str(), path.c_str());
        } else if (kind < 17) {
            const std::vector<std::string> &pool = random.OneIn(2) ? outside.files : outside.dirs;
            symlink(pool[random.Below(pool.size())].c_str(), path.c_str());
        } else if (kind < 18) {
            symlink((dir + "/missing").c_str(), path.c_str());
        } else if (kind < 19) {
            mkfifo(path.c_str(), 0644);
        } else { // an empty file, or a script that does nothing
            WriteFile(path, scripts ? "#!/bin/sh\nexit 0\n" : "");
            chmod(path.c_str(), scripts ? 0755 : 0644);
        }
    }
}
