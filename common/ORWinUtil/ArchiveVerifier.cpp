#include "ArchiveVerifier.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>

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

// One entry as the walk of the central directory found it: whether its data
// is to be read, and how much of it there is.
struct EntryToRead {
    ULONGLONG size;
    bool read;
};

// The data of the entries, read by two readers of the file at once. Each
// reader takes the next entry no reader has taken, so a large entry on one
// does not hold up the rest. Every entry before the first failing one (in
// archive order) is always read to its end, so that entry is the one named,
// as a single reader would name it.
class CDataCheck {
public:
    CDataCheck(const std::vector<EntryToRead>& entries, const volatile bool* stop)
        : m_entries(entries), m_stop(stop), m_failed(entries.size()) {}
    CDataCheck(const CDataCheck&) = delete;
    CDataCheck& operator=(const CDataCheck&) = delete;

    // Reads entries on this reader (opened on the archive) until none is left.
    void Run(CUnzipper& reader) {
        size_t at = 0, index = 0;
        bool positioned = reader.GotoFirstEntry();
        while (Take(index)) {
            for (; positioned && at < index; ++at) positioned = reader.GotoNextEntry();
            if (!positioned) {
                Fail(index, "", "an entry of the central directory cannot be read");
            } else if (m_entries[index].read && !reader.CheckEntryData()) {
                ZipEntryInfo info;
                reader.GetEntryInfo(info);
                Fail(index, info.name, "its data does not inflate to its CRC-32 and size");
            }
        }
    }
    // The first failing entry's index; the entry count when none failed.
    size_t FailedIndex() const { return m_failed; }
    const char* FailedName() const { return m_name; }
    const char* FailedReason() const { return m_reason; }

private:
    bool Take(size_t& index) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_next >= m_failed || (m_stop && *m_stop)) return false;
        index = m_next++;
        return true;
    }
    void Fail(size_t index, const char* name, const char* reason) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (index >= m_failed) return;
        m_failed = index;
        snprintf(m_name, sizeof(m_name), "%s", name);
        snprintf(m_reason, sizeof(m_reason), "%s", reason);
    }

    const std::vector<EntryToRead>& m_entries;
    const volatile bool* m_stop;
    std::mutex m_lock;
    size_t m_next = 0;
    size_t m_failed;
    char m_name[MAX_PATH + 1] = {};
    char m_reason[64] = {};
};

// The central directory against what was written: false at the first entry
// that differs (entries then holds those before it).
bool CheckDirectory(CUnzipper& unzipper, const std::vector<ZipWrittenEntry>* written,
                    std::vector<EntryToRead>& entries, ArchiveCheck& check) {
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
        if (expected && !expected->whole) {
            entries.push_back({0, false});
            continue;
        }
        if (expected && (info.crc != expected->crc || info.uncompressedSize != expected->size))
            return Fail(check, info.name, "its CRC-32 or size differs from the data written");
        entries.push_back({info.uncompressedSize, true});
    }
    if (written && index != written->size()) {
        std::string reason = "the central directory ends before the entry " + (*written)[index].name;
        return Fail(check, nullptr, reason.c_str());
    }
    return true;
}

bool CheckEntries(CUnzipper& unzipper, const char* path, const std::vector<ZipWrittenEntry>* written,
                  ArchiveCheck& check, const volatile bool* stop) {
    char structure[512] = {};
    if (!unzipper.CheckStructure(structure, sizeof(structure))) return Fail(check, nullptr, structure);
    std::vector<EntryToRead> entries;
    bool directoryOk;
    try {
        directoryOk = CheckDirectory(unzipper, written, entries, check);
    } catch (const std::bad_alloc&) {
        return Fail(check, nullptr, "not enough memory to check the archive");
    }

    // The entries before a difference in the directory are read all the same:
    // a damaged one among them comes first.
    CDataCheck data(entries, stop);
    CUnzipper second;
    second.SetStopFlag(stop);
    std::thread helper;
    if (entries.size() > 1 && second.OpenArchive(path)) {
        try {
            helper = std::thread([&data, &second] { data.Run(second); });
        } catch (const std::system_error&) {
            // One reader then reads them all.
        }
    }
    data.Run(unzipper);
    if (helper.joinable()) helper.join();

    for (size_t i = 0; i < data.FailedIndex(); ++i) {
        if (!entries[i].read) continue;
        ++check.entries;
        check.bytes += entries[i].size;
    }
    if (data.FailedIndex() < entries.size()) return Fail(check, data.FailedName(), data.FailedReason());
    return directoryOk;
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
        check.passed = CheckEntries(unzipper, path, written, check, stop);
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
