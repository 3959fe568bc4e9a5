// CountDir and SeekDir on directories made from the input: files, directories, links of every
// kind and pipes, with any names a file system takes, into tables of any capacity. The count
// takes every entry but "."; the table holds, up to its capacity and never past it, the
// directories with their "/" and then the rest, each group in byte order, every name the very
// name of its entry.
#include <algorithm>
#include <cerrno>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/fs/listing.h"
#include "fuzz/fuzz_input.h"

enum EntryKind { kFile, kDirectory, kLinkToDirectory, kLinkToFile, kDanglingLink, kPipe, kKinds };

// The most subdirectories (besides the parent entry) and other entries a directory may hold.
static const int kMostDirectories = kGroupLimit - 2;
static const int kMostOthers = kGroupLimit - 1;

static std::string base;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    char pattern[] = "/tmp/zorvel-fuzz-listing-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        FuzzFailure("cannot make a temporary directory");
    base = pattern;
    atexit([] { rmdir(base.c_str()); });
    return 0;
}

static int RemoveEntry(const char *path, const struct stat *, int, struct FTW *) {
    return remove(path);
}

// A name a file system takes: no "/", no NUL, not "." nor "..", at most 255 bytes.
static std::string TakeName(FuzzInput &input) {
    size_t length = 1 + input.Take(1) % (kNameSize - 1);
    std::string name;
    for (size_t i = 0; i < length && input.Left() > 0; i++) {
        char c = static_cast<char>(input.Take(1));
        name += c == '/' ? '%' : c == '\0' ? '\x01' : c;
    }
    if (name.empty() || name == "." || name == "..")
        name += "_";
    return name;
}

static bool Make(const std::string &dir, const std::string &name, int kind) {
    std::string path = dir + "/" + name;
    switch (kind) {
    case kFile: {
        FILE *file = fopen(path.c_str(), "wx");
        return file != nullptr && fclose(file) == 0;
    }
    case kDirectory:
        return mkdir(path.c_str(), 0755) == 0;
    case kLinkToDirectory:
        return symlink(".", path.c_str()) == 0;
    case kLinkToFile:
        return symlink("/etc/passwd", path.c_str()) == 0;
    case kDanglingLink:
        return symlink("/nonexistent/zorvel", path.c_str()) == 0;
    default:
        return mkfifo(path.c_str(), 0644) == 0;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    int capacity_choice = static_cast<int>(input.Take(1));
    std::string dir = base + "/d";
    if (mkdir(dir.c_str(), 0755) != 0)
        FuzzFailure("cannot make the directory");

    std::vector<std::string> directories = {"../"};
    std::vector<std::string> others;
    int left_out = 0;
    while (input.Left() > 0) {
        int kind = static_cast<int>(input.Take(1) % kKinds);
        std::string name = TakeName(input);
        bool directory = kind == kDirectory;
        if (directory && static_cast<int>(directories.size()) > kMostDirectories)
            continue;
        if (!directory && static_cast<int>(others.size()) >= kMostOthers)
            continue;
        if (!Make(dir, name, kind))
            continue; // a name already taken
        // A directory's name with its "/" must fit a slot, or it is left out: cut short, it would
        // stand for another name.
        if (directory && name.size() + 1 < kNameSize)
            directories.push_back(name + "/");
        else if (directory)
            left_out++;
        else
            others.push_back(name);
    }
    auto by_bytes = [](const std::string &a, const std::string &b) {
        return strcmp(a.c_str(), b.c_str()) < 0;
    };
    std::sort(directories.begin(), directories.end(), by_bytes);
    std::sort(others.begin(), others.end(), by_bytes);
    std::vector<std::string> expected = directories;
    expected.insert(expected.end(), others.begin(), others.end());

    int count = CountDir(dir.c_str());
    if (count != static_cast<int>(expected.size()) + left_out)
        FuzzFailure("the count differs from the entries made");
    // Tables a little smaller or larger than the count, exactly that large.
    int capacity = std::max(0, count + capacity_choice % 7 - 3);
    auto table = std::unique_ptr<EntryName[]>(new EntryName[capacity]);
    memset(table.get(), '#', sizeof(EntryName) * capacity);
    int unlisted = -1;
    int stored = SeekDir(dir.c_str(), table.get(), capacity, &unlisted);
    if (stored != std::min(static_cast<int>(expected.size()), capacity) || unlisted != left_out)
        FuzzFailure("the table holds another number of names");
    for (int i = 0; i < stored; i++)
        if (strnlen(table[i], kNameSize) == kNameSize || expected[i] != table[i])
            FuzzFailure("a slot differs from the sorted listing");

    nftw(dir.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    return 0;
}
