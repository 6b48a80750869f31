#include "ArchiveVerifier.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "Handles.h"
#include "Log.h"
#include "Unzipper.h"

const char* const kDamageBeforeCheckVariable = "VELMORA_TEST_DAMAGE_ARCHIVE_BEFORE_CHECK";

namespace {

bool Fail(ArchiveCheck& check, const char* entry, const char* reason) {
    snprintf(check.entry, sizeof(check.entry), "%s", entry ? entry : "");
    snprintf(check.reason, sizeof(check.reason), "%s", reason);
    return false;
}

// Entry names as the reader reports them: every "/" a "\".
std::string ReaderName(const std::string& name) {
    std::string out = name;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

bool CheckEntries(CUnzipper& unzipper, const std::vector<ZipWrittenEntry>* written, ArchiveCheck& check) {
    char structure[512] = {};
    if (!unzipper.CheckStructure(structure, sizeof(structure))) return Fail(check, nullptr, structure);
    size_t index = 0;
    for (bool more = unzipper.GotoFirstEntry(); more; more = unzipper.GotoNextEntry(), ++index) {
        ZipEntryInfo info;
        if (!unzipper.GetEntryInfo(info)) return Fail(check, nullptr, "an entry of the central directory cannot be read");
        const ZipWrittenEntry* expected = written && index < written->size() ? &(*written)[index] : nullptr;
        if (written && !expected) return Fail(check, info.name, "the entry was not written");
        if (expected && ReaderName(expected->name) != info.name) {
            std::string reason = "the entry stands where " + expected->name + " was written";
            return Fail(check, info.name, reason.c_str());
        }
        // An entry the writer could not complete is known to be bad: its
        // place and name are all there is to check.
        if (expected && !expected->whole) continue;
        if (expected && (info.crc != expected->crc || info.uncompressedSize != expected->size))
            return Fail(check, info.name, "its CRC-32 or size differs from the data written");
        if (!unzipper.CheckEntryData())
            return Fail(check, info.name, "its data does not inflate to its CRC-32 and size");
        ++check.entries;
        check.bytes += info.uncompressedSize;
    }
    if (written && index != written->size()) {
        std::string reason = "the central directory ends before the entry " + (*written)[index].name;
        return Fail(check, nullptr, reason.c_str());
    }
    return true;
}

// The test seam: one byte in the middle of the file inverted.
void DamageForTests(const char* path) {
    char value[8];
    if (!GetEnvironmentVariableA(kDamageBeforeCheckVariable, value, sizeof(value)) &&
        GetLastError() == ERROR_ENVVAR_NOT_FOUND)
        return;
    CHandle file(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size, middle;
    if (!file.IsValid() || !GetFileSizeEx(file, &size) || size.QuadPart == 0) return;
    middle.QuadPart = size.QuadPart / 2;
    unsigned char byte = 0;
    DWORD done = 0;
    if (!SetFilePointerEx(file, middle, nullptr, FILE_BEGIN) || !ReadFile(file, &byte, 1, &done, nullptr) || done != 1)
        return;
    byte ^= 0xFF;
    if (SetFilePointerEx(file, middle, nullptr, FILE_BEGIN)) WriteFile(file, &byte, 1, &done, nullptr);
}
}  // namespace

bool VerifyArchive(const char* path, const std::vector<ZipWrittenEntry>* written, ArchiveCheck& check,
                   const volatile bool* stop) {
    check = ArchiveCheck();
    const DWORD start = GetTickCount();
    CUnzipper unzipper;
    unzipper.SetStopFlag(stop);
    if (!unzipper.OpenArchive(path)) {
        Fail(check, nullptr, "the file cannot be opened as an archive");
    } else {
        check.ran = true;
        check.passed = CheckEntries(unzipper, written, check);
        // A stop ends the read of an entry early: that entry is not damaged.
        if (stop && *stop) check.passed = Fail(check, nullptr, "the check was stopped");
    }
    check.milliseconds = GetTickCount() - start;
    return check.passed;
}

bool VerifyWrittenArchive(const char* path, CZipper& zipper, ArchiveCheck& check, const volatile bool* stop) {
    DamageForTests(path);
    if (VerifyArchive(path, &zipper.GetWrittenEntries(), check, stop)) return true;
    if (check.entry[0])
        LOG_ERROR("The written backup file %s failed its check at the entry %s: %s. The existing backup file is kept.",
                  path, check.entry, check.reason);
    else
        LOG_ERROR("The written backup file %s failed its check: %s. The existing backup file is kept.", path,
                  check.reason);
    return false;
}

void LogArchiveCheck(const ArchiveCheck& check) {
    if (!check.ran) {
        LOG_RESULT("Backup check: the archive was not checked; 0 entries verified, 0 bytes.");
        return;
    }
    // The log's formatter has no 64-bit conversion.
    char bytes[24];
    snprintf(bytes, sizeof(bytes), "%llu", check.bytes);
    LOG_RESULT("Backup check: %lu entries verified, %s bytes, in %lu ms%s.", check.entries, bytes,
               static_cast<unsigned long>(check.milliseconds), check.passed ? "" : "; the check failed");
}
