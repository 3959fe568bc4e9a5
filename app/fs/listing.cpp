#include "app/fs/listing.h"

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <memory>

#include "common/globals.h"

struct DirCloser {
    void operator()(DIR *dir) const { closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

static const char kParentEntry[] = "../";

static bool IsDot(const char *name) {
    return name[0] == '.' && name[1] == '\0';
}

int CountDir(const char *path) {
    DirPtr dir(opendir(path));
    if (!dir)
        FatalExit("cannot open dir %s\n", path);
    int count = 0;
    while (const dirent *entry = readdir(dir.get()))
        if (!IsDot(entry->d_name))
            count++;
    return count;
}

bool IsParentEntry(const char *name) {
    return strcmp(name, kParentEntry) == 0;
}

int comp_func(const void *left, const void *right) {
    return strcmp(static_cast<const char *>(left), static_cast<const char *>(right));
}

int SeekDir(const char *path, EntryName *entries, int capacity, int *left_out) {
    DirPtr dir(opendir(path));
    if (!dir)
        FatalExit("error: cannot open dir %s\n", path);

    EntryName dirs[kGroupLimit];
    EntryName files[kGroupLimit];
    int dir_count = 0;
    int file_count = 0;
    int unlisted = 0;
    while (const dirent *entry = readdir(dir.get())) {
        if (IsDot(entry->d_name))
            continue;
        // A directory whose name leaves no room in a slot for its "/" is left out: cut short, the
        // name could be another entry's, and among the files it could not be entered.
        if (entry->d_type == DT_DIR && strlen(entry->d_name) >= kNameSize - 1) {
            unlisted++;
            continue;
        }
        if (entry->d_type == DT_DIR) {
            char *slot = dirs[dir_count];
            CopyString(slot, kNameSize - 1, entry->d_name);
            size_t length = strlen(slot);
            slot[length] = '/';
            slot[length + 1] = '\0';
            if (++dir_count == kGroupLimit)
                FatalExit("error: too many subdirs\n");
        } else {
            CopyString(files[file_count], kNameSize, entry->d_name);
            if (++file_count == kGroupLimit)
                FatalExit("error: too many files\n");
        }
    }
    dir.reset();
    if (left_out != nullptr)
        *left_out = unlisted;

    qsort(dirs, dir_count, kNameSize, comp_func);
    qsort(files, file_count, kNameSize, comp_func);

    // The directory may have grown since it was counted: never write past the caller's table.
    int stored = 0;
    for (int i = 0; i < dir_count && stored < capacity; i++)
        memcpy(entries[stored++], dirs[i], kNameSize);
    for (int i = 0; i < file_count && stored < capacity; i++)
        memcpy(entries[stored++], files[i], kNameSize);
    return stored;
}
