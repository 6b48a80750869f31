// Console front end of CZipper/CUnzipper for the interoperation checks:
//   ZipTool zip <archive> [<folder>]   the folder and its content, named from its parent
//                                      (no folder: an empty archive)
//   ZipTool add <archive> <file>       one file, named by its base name
//   ZipTool list <archive>             one line per entry: name, size, CRC-32, kind
//   ZipTool extract <archive> <folder> every entry below the folder
//   ZipTool addlocked <archive> <file> <offset>
//                                      one file whose bytes from the offset on
//                                      are locked, so reading fails part-way;
//                                      exit code 0 when the add reported it
// Exit code 0 when everything succeeded.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Handles.h"
#include "Log.h"
#include "Unzipper.h"
#include "Zipper.h"

CLog g_Log;

namespace {

std::string ParentOf(const char* path) {
    std::string text = path;
    while (text.size() > 3 && text.back() == '\\') text.pop_back();
    size_t slash = text.find_last_of('\\');
    return slash == std::string::npos ? std::string() : text.substr(0, slash + 1);
}

int Write(const char* archive, const char* source, bool folder) {
    CZipper zip(archive, source ? ParentOf(source).c_str() : nullptr);
    if (!zip.IsOpen()) {
        fprintf(stderr, "cannot create %s\n", archive);
        return 1;
    }
    bool added = !source || (folder ? zip.AddFolder(source, false) : zip.AddFile(source, false));
    bool closed = zip.CloseArchive();
    if (!added || !closed) fprintf(stderr, "adding %s failed\n", source);
    return added && closed ? 0 : 1;
}

int AddLocked(const char* archive, const char* source, const char* offset) {
    CHandle held(CreateFileA(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD from = strtoul(offset, nullptr, 10);
    if (!held.IsValid() || !LockFile(held, from, 0, 0xFFFFFFFFu - from, 0)) {
        fprintf(stderr, "cannot lock %s\n", source);
        return 1;
    }
    CZipper zip(archive, ParentOf(source).c_str());
    bool added = zip.AddFile(source, false);
    bool closed = zip.CloseArchive();
    if (added || !closed) fprintf(stderr, "the add of %s did not fail as it should\n", source);
    return !added && closed ? 0 : 1;
}

int Walk(const char* archive, const char* target) {
    CUnzipper unzip(archive);
    if (!unzip.IsOpen()) {
        fprintf(stderr, "cannot open %s\n", archive);
        return 1;
    }
    int failures = 0;
    for (bool ok = unzip.GotoFirstEntry(); ok; ok = unzip.GotoNextEntry()) {
        ZipEntryInfo info;
        if (!unzip.GetEntryInfo(info)) {
            ++failures;
            continue;
        }
        if (!target) {
            printf("%s\t%llu\t%08lx\t%s\n", info.name, info.uncompressedSize, info.crc,
                   info.isFolder ? "folder" : "file");
        } else if (!unzip.UnzipFile(target, false)) {
            fprintf(stderr, "extracting %s failed\n", info.name);
            ++failures;
        }
    }
    return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && strcmp(argv[1], "zip") == 0) return Write(argv[2], argc >= 4 ? argv[3] : nullptr, true);
    if (argc >= 4 && strcmp(argv[1], "add") == 0) return Write(argv[2], argv[3], false);
    if (argc >= 5 && strcmp(argv[1], "addlocked") == 0) return AddLocked(argv[2], argv[3], argv[4]);
    if (argc >= 3 && strcmp(argv[1], "list") == 0) return Walk(argv[2], nullptr);
    if (argc >= 4 && strcmp(argv[1], "extract") == 0) return Walk(argv[2], argv[3]);
    fprintf(stderr, "usage: ZipTool zip|add <archive> <source> | list <archive> | extract <archive> <folder>\n");
    return 2;
}
