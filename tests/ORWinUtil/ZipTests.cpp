// The zip wrapper: entry naming, lookup and extraction, the chunked deflate,
// and damaged or hostile archives built byte for byte with minizip's raw mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "FileUtil.h"
#include "Handles.h"
#include "Log.h"
#include "MoveReplace.h"
#include "TestSupport.h"
#include "Unzipper.h"
#include "FileUtil.h"
#include "Zipper.h"
#include "zip.h"

using namespace testsupport;

namespace {
// 2021-06-15 10:20:30 as a DOS date-time (local time).
const DWORD kStampDos = (((2021 - 1980) << 9 | 6 << 5 | 15) << 16) | (10 << 11 | 20 << 5 | 30 / 2);

std::string Read(const std::string& path) {
    std::string bytes;
    return ReadFileBytes(path, bytes) ? bytes : "(missing)";
}

std::vector<ZipEntryInfo> ListEntries(const std::string& archive) {
    std::vector<ZipEntryInfo> entries;
    CUnzipper unzip(archive.c_str());
    ZipEntryInfo info;
    for (bool ok = unzip.GotoFirstEntry(); ok && unzip.GetEntryInfo(info); ok = unzip.GotoNextEntry())
        entries.push_back(info);
    return entries;
}

uLong Crc(const std::string& data) {
    return crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
}

// zlib's default deflate without the zlib header and trailer.
std::string RawDeflate(const std::string& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    EXPECT_EQ(Z_OK, compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(data.data()),
                              static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION));
    return out.substr(2, size - 6);
}

// Runs of text, random bytes and zeros: deflate takes a different path through each.
std::string MixedContent(unsigned seed, size_t size) {
    std::string data;
    auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    for (unsigned kind = 0; data.size() < size; kind = next() % 3)
        for (unsigned i = 0, run = 1000 + next() % 90000; i < run; ++i)
            data += kind == 0 ? "regards, invoice\r\n"[i % 18] : kind == 1 ? static_cast<char>(next()) : '\0';
    data.resize(size);
    return data;
}

// One entry exactly as it should appear in the archive, whatever it claims:
// data as stored (already deflated for method 8), the declared CRC and size.
struct RawEntry { std::string name, data; int method; uLong crc; ULONGLONG size; DWORD attributes; };
RawEntry Stored(const std::string& name, const std::string& content, DWORD attributes = FILE_ATTRIBUTE_ARCHIVE) {
    return {name, content, 0, Crc(content), content.size(), attributes};
}

void WriteRawArchive(const std::string& path, const std::vector<RawEntry>& entries) {
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    ASSERT_NE(nullptr, zip) << path;
    for (const RawEntry& e : entries) {
        zip_fileinfo info = {};
        info.external_fa = e.attributes;
        EXPECT_EQ(ZIP_OK, zipOpenNewFileInZip3_64(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                                  e.method, Z_DEFAULT_COMPRESSION, 1, -MAX_WBITS, 8,
                                                  Z_DEFAULT_STRATEGY, nullptr, 0, 0));
        if (!e.data.empty()) EXPECT_EQ(ZIP_OK, zipWriteInFileInZip(zip, e.data.data(), unsigned(e.data.size())));
        EXPECT_EQ(ZIP_OK, zipCloseFileInZipRaw64(zip, e.size, e.crc));
    }
    EXPECT_EQ(ZIP_OK, zipClose(zip, nullptr));
}

// The module log written to a file of its own while the object lives.
class LogCapture {
public:
    LogCapture() {
        EXPECT_TRUE(g_Log.OpenLogFile((m_folder / "zip.log").c_str(), true));
        g_Log.SetLogLevel(1);
    }
    ~LogCapture() { g_Log.Close(); g_Log.SetLogLevel(0); }
    std::string Text() const { return Read(m_folder / "zip.log"); }
    size_t Count(const std::string& text) const {
        std::string all = Text();
        size_t n = 0;
        for (size_t at = 0; (at = all.find(text, at)) != std::string::npos; at += text.size()) ++n;
        return n;
    }

private:
    ScratchFolder m_folder;
};

// A backup's usual layout; the archive lies in the root, the default root folder.
class ZipFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(MakeDirs(root + "\\Outlook\\Accounts"));
        ASSERT_TRUE(WriteFileBytes(root + "\\Outlook\\Accounts\\Account.txt", "account data"));
        ASSERT_TRUE(WriteFileBytes(root + "\\Outlook\\summary.txt", "summary"));
    }
    ScratchFolder scratch;
    std::string root = scratch / "Backup";
    std::string archive = root + "\\Test.vlb";
};
}  // namespace

// Names are relative to the root: nothing outside it, no climbing name, no
// file another program holds open. A folder comes first, then its content
// without dot-names. Entries carry their attributes and local write time.
TEST_F(ZipFixture, EntryNamesAttributesAndTimes) {
    const std::string summary = root + "\\Outlook\\summary.txt";
    ASSERT_TRUE(WriteFileBytes(scratch / "x.txt", "beside") && WriteFileBytes(root + "\\Outlook\\.profile", "-"));
    ASSERT_TRUE(SetFileTimeFromDos(summary.c_str(), kStampDos));
    {
        CZipper zip(archive.c_str());
        for (std::string outside : {scratch / "x.txt", std::string("..\\x.txt"), std::string("Outlook\\..\\..\\x.txt")})
            EXPECT_FALSE(zip.AddFile(outside.c_str(), false)) << outside;
        EXPECT_TRUE(zip.AddFile("..\\x.txt", true));   // read beside the root, stored by base name
        EXPECT_TRUE(zip.AddFile(".\\Outlook\\summary.txt", false));
        CHandle held(CreateFileA(summary.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(zip.AddFile(summary.c_str(), false));
        held.Close();
        EXPECT_TRUE(zip.AddFolder((root + "\\Outlook").c_str(), false));
        EXPECT_TRUE(zip.AddFolder((root + "\\Outlook\\Accounts\\").c_str(), true));
        EXPECT_FALSE(zip.AddFolder(scratch.Path().c_str(), false));   // not below the root
    }
    std::vector<std::string> names;
    for (const ZipEntryInfo& e : ListEntries(archive)) {
        names.push_back(e.name);
        EXPECT_EQ(e.isFolder ? DWORD(FILE_ATTRIBUTE_DIRECTORY) : DWORD(FILE_ATTRIBUTE_ARCHIVE),
                  e.externalAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE)) << e.name;
        if (names.back() == "Outlook\\summary.txt") EXPECT_EQ(kStampDos, e.dosDate);
    }
    ASSERT_EQ(8u, names.size());
    auto at = [&](const char* name) { return std::find(names.begin(), names.end(), name) - names.begin(); };
    EXPECT_EQ(at("Outlook\\Accounts\\") + 1, at("Outlook\\Accounts\\Account.txt"));   // right after its folder
    std::sort(names.begin() + 3, names.begin() + 6);   // the file system decides the order within a folder
    EXPECT_EQ(std::vector<std::string>({"x.txt", "Outlook\\summary.txt", "Outlook\\", "Outlook\\Accounts\\",
                                        "Outlook\\Accounts\\Account.txt", "Outlook\\summary.txt", "Accounts\\",
                                        "Account.txt"}),
              names);
}

// Lookup ignores case and slash direction; with ignorePath a base name
// matches, a full name first. Extraction replaces an older file, restores the
// entry's time and leaves no temporary file.
TEST_F(ZipFixture, LookupAndExtraction) {
    const std::string source = root + "\\Outlook\\Accounts\\Account.txt", target = scratch / "Restore\\Deep";
    ASSERT_TRUE(SetFileTimeFromDos(source.c_str(), kStampDos));
    {
        CZipper zip(archive.c_str());
        ASSERT_TRUE(zip.AddFolder((root + "\\Outlook").c_str(), false));
        ASSERT_TRUE(zip.AddFile("Outlook\\summary.txt", true));
    }
    CUnzipper unzip(archive.c_str());
    ZipEntryInfo info;
    auto current = [&] { return unzip.GetEntryInfo(info) ? std::string(info.name) : std::string("-"); };
    EXPECT_FALSE(unzip.GotoFile("account.txt", false));
    EXPECT_TRUE(unzip.GotoFile("account.txt", true));
    EXPECT_EQ("Outlook\\Accounts\\Account.txt", current());
    EXPECT_TRUE(unzip.GotoFile("SUMMARY.txt", true));
    EXPECT_EQ("summary.txt", current());

    ASSERT_TRUE(unzip.GotoFile("outlook/accounts/ACCOUNT.TXT", false));
    ASSERT_TRUE(unzip.UnzipFile(target.c_str(), false));
    EXPECT_EQ("account data", Read(target + "\\Outlook\\Accounts\\Account.txt"));
    ASSERT_TRUE(WriteFileBytes(target + "\\Account.txt", "old"));
    ASSERT_TRUE(unzip.UnzipFileTo((target + "\\Account.txt").c_str()));
    EXPECT_EQ("account data", Read(target + "\\Account.txt"));
    EXPECT_EQ(2u, ReadTree(target).size());
    WIN32_FILE_ATTRIBUTE_DATA in = {}, out = {};
    ASSERT_TRUE(GetFileAttributesExA(source.c_str(), GetFileExInfoStandard, &in));
    ASSERT_TRUE(GetFileAttributesExA((target + "\\Account.txt").c_str(), GetFileExInfoStandard, &out));
    EXPECT_EQ(0, CompareFileTime(&in.ftLastWriteTime, &out.ftCreationTime));
    EXPECT_EQ(0, CompareFileTime(&in.ftLastWriteTime, &out.ftLastWriteTime));
}

// Lookups through the index answer as a walk from the first entry would: the
// first of names equal but for case and slash direction, a full name before an
// earlier base name, and a miss leaves the current entry alone. Reopening the
// object on another archive forgets the first one's entries.
TEST(ZipLookup, IndexAnswersAsAWalk) {
    ScratchFolder scratch;
    const std::string first = scratch / "first.zip", second = scratch / "second.zip";
    WriteRawArchive(first, {Stored(std::string(MAX_PATH + 10, 'n'), "unreadable"), Stored("a\\Dup.txt", "dup 1"),
                            Stored("A/DUP.TXT", "dup 2"), Stored("x\\base.txt", "deep base"),
                            Stored("Base.txt", "top base"), Stored("deep\\only.txt", "only"),
                            Stored("more\\ONLY.txt", "only 2")});
    WriteRawArchive(second, {Stored("a\\dup.txt", "other archive")});
    const std::string out = scratch / "out";
    CUnzipper unzip(first.c_str());
    auto content = [&](const char* name, bool ignorePath) {
        if (!unzip.GotoFile(name, ignorePath)) return std::string("-");
        return unzip.UnzipFileTo(out.c_str()) ? Read(out) : std::string("(failed)");
    };
    EXPECT_EQ("dup 1", content("a/dup.TXT", false));
    EXPECT_EQ("dup 1", content("A\\DUP.txt", true));
    EXPECT_EQ("top base", content("BASE.TXT", true));
    EXPECT_EQ("deep base", content("x/base.txt", false));
    EXPECT_EQ("only", content("Only.txt", true));
    EXPECT_EQ("-", content("only.txt", false));
    EXPECT_EQ("-", content("dup.txt\\", true));
    EXPECT_EQ("-", content(std::string(MAX_PATH + 10, 'n').c_str(), false));
    ZipEntryInfo info;
    ASSERT_TRUE(unzip.GotoFile("more\\only.txt", false));
    EXPECT_FALSE(unzip.GotoFile("missing.txt", true));
    ASSERT_TRUE(unzip.GetEntryInfo(info));
    EXPECT_STREQ("more\\ONLY.txt", info.name);

    ASSERT_TRUE(unzip.OpenArchive(second.c_str()));
    EXPECT_EQ("other archive", content("a\\dup.txt", false));
    EXPECT_EQ("-", content("base.txt", true));
}

// An archive of another tool whose directory and headers span many of the
// reader's buffers (long names of varying length, entries of every size,
// some larger than a buffer): every walk, lookup, check and extraction
// sees each entry exactly as written.
TEST(ZipLookup, LargeDirectoriesReadAsWritten) {
    ScratchFolder scratch;
    const std::string path = scratch / "large.zip", out = scratch / "out";
    std::vector<RawEntry> entries;
    for (int i = 0; i < 700; ++i) {
        std::string name = "Folder " + std::to_string(i % 7) + "\\" + std::string(40 + (i * 37) % 150, 'a' + i % 26) +
                           std::to_string(i) + ".eml";
        size_t size = i % 97 == 0 ? 40000 + i : (i * 131) % 3000;
        std::string data(size, '\0');
        for (size_t b = 0; b < size; ++b) data[b] = static_cast<char>((b * 7 + i) % 251);
        entries.push_back(Stored(name, data));
    }
    ASSERT_NO_FATAL_FAILURE(WriteRawArchive(path, entries));
    CUnzipper unzip(path.c_str());
    ASSERT_TRUE(unzip.IsOpen());
    char reason[256] = {};
    EXPECT_TRUE(unzip.CheckStructure(reason, sizeof(reason))) << reason;
    size_t walked = 0;
    for (bool more = unzip.GotoFirstEntry(); more; more = unzip.GotoNextEntry(), ++walked) {
        ZipEntryInfo info;
        ASSERT_TRUE(unzip.GetEntryInfo(info));
        ASSERT_LT(walked, entries.size());
        EXPECT_EQ(entries[walked].name, info.name);
        EXPECT_EQ(entries[walked].size, info.uncompressedSize);
    }
    EXPECT_EQ(entries.size(), walked);
    // Backwards, so that every lookup moves away from the last one.
    for (size_t i = entries.size(); i-- > 0;) {
        ASSERT_TRUE(unzip.GotoFile(entries[i].name.c_str(), false)) << i;
        ASSERT_TRUE(unzip.UnzipFileTo(out.c_str())) << entries[i].name;
        ASSERT_EQ(entries[i].data, Read(out)) << entries[i].name;
    }
}

// Files and folders named to land outside the target are refused, with and
// without ignorePath, and nothing appears anywhere.
TEST(ZipSafety, HostileNamesNeverLeaveTheTarget) {
    ScratchFolder scratch;
    const std::string archive = scratch / "hostile.zip", target = scratch / "target";
    const std::string unique = "velmora-zip-" + std::to_string(GetCurrentProcessId());
    std::vector<RawEntry> entries;
    for (const char* prefix : {"..\\", "../", "inside\\..\\..\\", "a/../../", ".. \\", "...\\", "C:\\", "C:", "\\", "/",
                               "\\\\server\\share\\", "\\\\?\\C:\\", "a\\b:"}) {
        entries.push_back(Stored(prefix + unique + ".txt", "evil"));
        entries.push_back(Stored(prefix + unique + "-dir\\", "", FILE_ATTRIBUTE_DIRECTORY));
    }
    WriteRawArchive(archive, entries);
    CUnzipper unzip(archive.c_str());
    size_t seen = 0;
    for (bool ok = unzip.GotoFirstEntry(); ok; ok = unzip.GotoNextEntry(), ++seen) {
        EXPECT_FALSE(unzip.UnzipFile(target.c_str(), false)) << entries[seen].name;
        EXPECT_FALSE(unzip.UnzipFile(target.c_str(), true)) << entries[seen].name;
        EXPECT_FALSE(unzip.UnzipFileTo((target + "\\plain.txt").c_str())) << entries[seen].name;
    }
    EXPECT_EQ(entries.size(), seen);
    EXPECT_EQ(1u, ReadTree(scratch.Path()).size());
    for (const std::string& outside : {scratch / unique, "C:\\" + unique, "\\" + unique})
        for (const char* suffix : {".txt", "-dir"})
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((outside + suffix).c_str())) << outside + suffix;
    for (const char* name : {"a..b\\c", "..a", "x/y", "Outlook\\", ".profile"})   // dots that do not climb
        EXPECT_TRUE(CUnzipper::IsSafeEntryName(name)) << name;
}

// Bad CRC, cut or overlong data, a declared size that does not match: the
// entry fails, leaves no temporary file, and the file it would have replaced
// stays as it was. A cut archive does not open at all.
TEST(ZipSafety, DamagedEntriesNeverReplaceAGoodFile) {
    ScratchFolder scratch;
    const std::string archive = scratch / "damaged.zip", target = scratch / "target";
    std::string text;
    for (int i = 0; text.size() < 100000; ++i) text += "line " + std::to_string(i) + "\n";
    const std::string deflated = RawDeflate(text);
    const std::string zeros(16 << 20, '\0');
    const std::vector<RawEntry> entries = {
        // An inflating bomb: 16 MiB of zeros in a few KiB, declared as 1000 bytes.
        {"bomb.txt", RawDeflate(zeros), Z_DEFLATED, Crc(zeros.substr(0, 1000)), 1000, 0},
        {"crc.txt", deflated, Z_DEFLATED, Crc(text) ^ 1, text.size(), 0},
        {"short.txt", deflated.substr(0, deflated.size() / 2), Z_DEFLATED, Crc(text), text.size(), 0},
        // Declares a prefix of its data with that prefix's CRC: the rest must not be dropped silently.
        {"prefix.txt", deflated, Z_DEFLATED, Crc(text.substr(0, 1000)), 1000, 0},
        {"long.txt", deflated, Z_DEFLATED, Crc(text), text.size() + 10, 0},
        {"garbage.txt", "not a deflate stream at all", Z_DEFLATED, 0, 10, 0},
        {"stored-size.txt", "12345678", 0, Crc("123"), 3, 0},
        {"good.txt", deflated, Z_DEFLATED, Crc(text), text.size(), 0},
    };
    WriteRawArchive(archive, entries);
    ASSERT_TRUE(MakeDirs(target));
    {
        CUnzipper unzip(archive.c_str());
        for (size_t i = 0; i + 1 < entries.size(); ++i) {
            const std::string& name = entries[i].name;
            ASSERT_TRUE(WriteFileBytes(target + "\\" + name, "previous"));
            ASSERT_TRUE(unzip.GotoFile(name.c_str(), false)) << name;
            EXPECT_FALSE(unzip.UnzipFileTo((target + "\\" + name).c_str())) << name;
            EXPECT_TRUE(Read(target + "\\" + name) == "previous") << name;
        }
        ASSERT_TRUE(unzip.GotoFile("good.txt", false) && unzip.UnzipFile(target.c_str(), false));
        EXPECT_TRUE(Read(target + "\\good.txt") == text);
        EXPECT_EQ(entries.size(), ReadTree(target).size());
    }
    const std::string bytes = Read(archive);
    ASSERT_TRUE(WriteFileBytes(archive, bytes.substr(0, bytes.size() / 2)));
    EXPECT_FALSE(CUnzipper(archive.c_str()).IsOpen());
}

// Paths and names beyond MAX_PATH fail cleanly, on the way in and on the way
// out, and the next entry is still reachable.
TEST_F(ZipFixture, OverlongNamesFailCleanly) {
    CZipper zip(archive.c_str());
    EXPECT_FALSE(zip.AddFile((root + "\\Outlook\\" + std::string(300, 'g')).c_str(), false));
    const std::string longName(MAX_PATH + 40, 'n');
    WriteRawArchive(scratch / "long.zip", {Stored(longName, "x"), Stored("short.txt", "y")});
    CUnzipper unzip((scratch / "long.zip").c_str());
    ZipEntryInfo info;
    ASSERT_TRUE(unzip.GotoFirstEntry());
    EXPECT_FALSE(unzip.GetEntryInfo(info));
    EXPECT_FALSE(unzip.UnzipFile(scratch.Path().c_str(), false));
    EXPECT_FALSE(unzip.UnzipFileTo((scratch / "x").c_str()));
    EXPECT_TRUE(unzip.GotoFile("short.txt", false));
}

// Files are deflated in chunks on worker threads. At every size around the chunk
// boundaries an entry is one deflate stream with the joined CRC. Each chunk is
// primed with the end of the one before: a 20 KB random block repeated over 2 MiB
// costs about one block. One writer writes two archives in turn (its workers end
// with each). A stop abandons the file in hand, on the way in and on the way out.
TEST_F(ZipFixture, ChunkedDeflateRoundTripsAndStops) {
    const size_t kChunk = 256 * 1024;
    std::vector<std::string> contents;
    for (size_t size : {size_t(0), size_t(1), kChunk - 1, kChunk, kChunk + 1, 2 * kChunk, 5 * kChunk + 77})
        contents.push_back(MixedContent(static_cast<unsigned>(size), size));
    std::string block;
    for (unsigned s = 7; block.size() < 20000;) block += static_cast<char>((s = s * 1664525u + 1013904223u) >> 24);
    for (contents.emplace_back(); contents.back().size() < 2 * 1024 * 1024;) contents.back() += block;
    for (size_t i = 0; i < contents.size(); ++i)
        ASSERT_TRUE(WriteFileBytes(root + "\\Outlook\\file" + std::to_string(i), contents[i]));
    CZipper zip;
    const std::string out = scratch / "out";
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(zip.OpenArchive(archive.c_str(), root.c_str()));
        for (size_t i = 0; i < contents.size(); ++i)
            EXPECT_TRUE(zip.AddFile(("Outlook\\file" + std::to_string(i)).c_str(), false)) << i;
        EXPECT_TRUE(zip.CloseArchive());
        std::vector<ZipEntryInfo> entries = ListEntries(archive);
        ASSERT_EQ(contents.size(), entries.size());
        EXPECT_LT(entries.back().compressedSize, RawDeflate(contents.back()).size() + 20000);
        CUnzipper unzip(archive.c_str());
        for (size_t i = 0; i < contents.size(); ++i) {
            ASSERT_TRUE(unzip.GotoFile(entries[i].name, false));
            ASSERT_TRUE(unzip.UnzipFileTo(out.c_str())) << entries[i].name;   // checks CRC and size
            EXPECT_TRUE(Read(out) == contents[i]) << entries[i].name;
        }
    }
    volatile bool stop = true;
    CUnzipper unzip(archive.c_str());
    unzip.SetStopFlag(&stop);
    ASSERT_TRUE(unzip.GotoFile("Outlook\\file6", false));
    EXPECT_FALSE(unzip.UnzipFileTo(out.c_str()));
    EXPECT_TRUE(Read(out) == contents.back());
    ASSERT_TRUE(zip.OpenArchive((scratch / "stopped.vlb").c_str(), root.c_str()));
    zip.SetStopFlag(&stop);
    EXPECT_FALSE(zip.AddFile("Outlook\\file6", false));
}

// Names Windows would rewrite or read as something else: a trailing dot or
// blank, an empty or "." component, a device (with an extension too), a
// control or reserved character, a stream. Each is refused on every way out,
// with one log line per refusal, and the good file keeps its content.
TEST(ZipSafety, NamesWindowsWouldRewriteAreRefusedAndLogged) {
    ASSERT_EQ(1252u, GetACP());   // the superscript digits below are bytes of code page 1252
    ScratchFolder scratch;
    const std::string archive = scratch / "rewrite.zip", target = scratch / "target";
    const std::vector<std::string> names = {
        "Messages\\Inbox.dbx ", "Messages\\Inbox.dbx.", "Messages\\Inbox.dbx. .", "Messages.\\Inbox.dbx",
        "Messages \\Inbox.dbx", "Messages\\.\\Inbox.dbx", "Messages\\\\Inbox.dbx", "Messages\\CON", "Messages\\nul.txt",
        "Messages\\Aux .dbx", "Messages\\prn.tar.gz", "Messages\\COM1", "Messages\\lpt9.dbx", "Messages\\COM\xB9",
        "Messages\\LPT\xB2.txt", "Messages\\com\xB3", "Messages\\CONIN$", "Messages\\conout$.log", "CON\\Inbox.dbx",
        "Messages\\In\x1b" "box.dbx", "Messages\\Inbox\t.dbx", "Messages\\a<b", "Messages\\a>b", "Messages\\a\"b",
        "Messages\\a|b", "Messages\\a?b", "Messages\\a*b", "Messages\\Inbox.dbx:evil", "Messages\\Inbox.dbx::$DATA"};
    std::vector<RawEntry> entries;
    for (const std::string& name : names) entries.push_back(Stored(name, "evil"));
    WriteRawArchive(archive, entries);
    const std::string good = target + "\\Messages\\Inbox.dbx";
    ASSERT_TRUE(MakeDirs(target + "\\Messages") && WriteFileBytes(good, "good"));

    LogCapture log;
    CUnzipper unzip(archive.c_str());
    size_t seen = 0;
    for (bool ok = unzip.GotoFirstEntry(); ok; ok = unzip.GotoNextEntry(), ++seen) {
        EXPECT_FALSE(CUnzipper::IsSafeEntryName(names[seen].c_str())) << names[seen];
        EXPECT_FALSE(unzip.UnzipFile(target.c_str(), false)) << names[seen];
        EXPECT_FALSE(unzip.UnzipFile(target.c_str(), true)) << names[seen];
        EXPECT_FALSE(unzip.UnzipFileTo(good.c_str())) << names[seen];
    }
    EXPECT_EQ(names.size(), seen);
    EXPECT_EQ("good", Read(good));
    EXPECT_EQ(1u, ReadTree(target).size());
    EXPECT_EQ(3 * names.size(), log.Count("\tError\tRefused to restore the unsafe entry "));
    EXPECT_EQ(3u, log.Count("Refused to restore the unsafe entry Messages\\In\\x1bbox.dbx.\r\n"));   // escaped

    // Near misses are ordinary names.
    for (const char* name : {"Messages\\COM10", "Messages\\COM0", "Messages\\LPT", "Messages\\CONFIG.SYS",
                             "Messages\\NULL.txt", "Messages\\con-1.dbx", "Messages\\.dbx", "Messages\\a.b.c",
                             "Messages\\\xE9t\xE9.dbx", "Messages\\COM\xB9x"})
        EXPECT_TRUE(CUnzipper::IsSafeEntryName(name)) << name;
}

// Under the Korean code page (run by its own CTest entry) a name is judged by
// its characters, not its bytes: 0xB9 begins a Hangul syllable there, while
// the two-byte superscript one still makes "COM1" a device.
TEST(ZipSafety, NamesUnderTheKoreanCodePage) {
    if (GetACP() != 949) GTEST_SKIP() << "needs the Korean code page";
    EXPECT_TRUE(CUnzipper::IsSafeEntryName("Messages\\COM\xB9\xB0.dbx"));   // COM + one syllable
    EXPECT_TRUE(CUnzipper::IsSafeEntryName("Messages\\\xB0\xA1\\\xB9\xB0.dbx"));
    EXPECT_FALSE(CUnzipper::IsSafeEntryName("Messages\\COM\xA9\xF6"));        // COM + superscript one
    EXPECT_FALSE(CUnzipper::IsSafeEntryName("Messages\\\xB0\xA1."));
    EXPECT_FALSE(CUnzipper::IsSafeEntryName("Messages\\\xB0\xA1 \\x"));
}

namespace {
// Offsets into an archive's bytes: the central record and the local header of
// an entry (found by signature and name).
size_t FindRecord(const std::string& bytes, const char* signature, size_t nameAt, const std::string& name) {
    for (size_t at = 0; (at = bytes.find(signature, at, 4)) != std::string::npos; ++at)
        if (bytes.compare(at + nameAt, name.size(), name) == 0) return at;
    ADD_FAILURE() << "no record for " << name;
    return 0;
}
size_t Central(const std::string& bytes, const std::string& name) { return FindRecord(bytes, "PK\1\2", 46, name); }
size_t Local(const std::string& bytes, const std::string& name) { return FindRecord(bytes, "PK\3\4", 30, name); }
void Put32(std::string& bytes, size_t at, DWORD value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}
DWORD Get32At(const std::string& bytes, size_t at) {
    DWORD value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}
}  // namespace

// Entries that share or overlap data, data that runs into the central
// directory, a local header naming its entry otherwise (case counts, the
// slash direction does not): the structure check refuses each and says why;
// an ordinary archive passes, and its current entry stays current.
TEST_F(ZipFixture, StructureCheckRefusesSharedDataAndRenamedEntries) {
    {
        CZipper zip(archive.c_str());
        ASSERT_TRUE(zip.AddFolder((root + "\\Outlook").c_str(), false));
    }
    char reason[256] = {};
    {
        CUnzipper unzip(archive.c_str());
        ASSERT_TRUE(unzip.GotoFile("Outlook\\summary.txt", false));
        EXPECT_TRUE(unzip.CheckStructure(reason, sizeof(reason))) << reason;
        ZipEntryInfo info;
        ASSERT_TRUE(unzip.GetEntryInfo(info));
        EXPECT_STREQ("Outlook\\summary.txt", info.name);
    }
    WriteRawArchive(scratch / "raw.zip", {Stored("a\\one.txt", "first data"), Stored("b/two.txt", "second data"),
                                          Stored("a\\three.txt", "third data")});
    const std::string clean = Read(scratch / "raw.zip");
    const size_t one = Local(clean, "a\\one.txt");
    struct Case { const char* expected; std::string bytes; };
    std::vector<Case> cases;
    std::string bytes;
    // The second entry's data declared long enough to cover the third's header.
    bytes = clean;
    Put32(bytes, Central(bytes, "b/two.txt") + 20, Get32At(bytes, Central(bytes, "b/two.txt") + 20) + 40);
    cases.push_back({"the entries b/two.txt and a\\three.txt share data", bytes});
    // The third entry's data declared to run on into the central directory.
    bytes = clean;
    Put32(bytes, Central(bytes, "a\\three.txt") + 20, 1000);
    cases.push_back({"the data of a\\three.txt runs into the central directory", bytes});
    // Two central entries on the first entry's local header, the second named
    // as the local header names it.
    bytes = clean;
    Put32(bytes, Central(bytes, "b/two.txt") + 42, static_cast<DWORD>(one));
    cases.push_back({"the entry b/two.txt is named a\\one.txt in its local header", bytes});
    // A local header that differs only in case.
    bytes = clean;
    bytes[Local(bytes, "a\\three.txt") + 32] = 'T';
    cases.push_back({"the entry a\\three.txt is named a\\Three.txt in its local header", bytes});
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFileBytes(scratch / "bad.zip", c.bytes));
        CUnzipper unzip((scratch / "bad.zip").c_str());
        ASSERT_TRUE(unzip.IsOpen()) << c.expected;
        reason[0] = '\0';
        EXPECT_FALSE(unzip.CheckStructure(reason, sizeof(reason))) << c.expected;
        EXPECT_STREQ(c.expected, reason);
    }
    // Only the slash direction differs between central and local name: fine.
    bytes = clean;
    bytes[Local(bytes, "b/two.txt") + 31] = '\\';
    ASSERT_TRUE(WriteFileBytes(scratch / "slash.zip", bytes));
    EXPECT_TRUE(CUnzipper((scratch / "slash.zip").c_str()).CheckStructure(reason, sizeof(reason))) << reason;
}

// An entry that declares more than the destination drive has free is not
// started, also after one that fitted: no temporary file, the old file kept,
// a log line naming it.
TEST(ZipSafety, EntryLargerThanTheFreeSpaceIsNotStarted) {
    ScratchFolder scratch;
    ULARGE_INTEGER available;
    ASSERT_TRUE(GetDiskFreeSpaceExA((scratch.Path() + "\\").c_str(), &available, nullptr, nullptr));
    const std::string archive = scratch / "huge.zip", target = scratch / "target\\Store.pst";
    {
        zipFile zip = zipOpen64(archive.c_str(), APPEND_STATUS_CREATE);
        ASSERT_NE(nullptr, zip);
        zip_fileinfo info = {};
        ASSERT_EQ(ZIP_OK, zipOpenNewFileInZip3_64(zip, "Small.txt", &info, nullptr, 0, nullptr, 0, nullptr, 0, 0, 0,
                                                  -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, 0));
        ASSERT_EQ(ZIP_OK, zipWriteInFileInZip(zip, "small", 5));
        EXPECT_EQ(ZIP_OK, zipCloseFileInZipRaw64(zip, 5, Crc("small")));
        ASSERT_EQ(ZIP_OK, zipOpenNewFileInZip3_64(zip, "Store.pst", &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 0, 1,
                                                  -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, 1));
        ASSERT_EQ(ZIP_OK, zipWriteInFileInZip(zip, "tiny", 4));
        EXPECT_EQ(ZIP_OK, zipCloseFileInZipRaw64(zip, available.QuadPart + (1ull << 30), 0));
        EXPECT_EQ(ZIP_OK, zipClose(zip, nullptr));
    }
    ASSERT_TRUE(MakeDirs(scratch / "target") && WriteFileBytes(target, "old store"));
    LogCapture log;
    CUnzipper unzip(archive.c_str());
    // A small entry first: the free space it was judged by is not trusted
    // for the large one.
    ASSERT_TRUE(unzip.GotoFile("Small.txt", false));
    ASSERT_TRUE(unzip.UnzipFileTo((scratch / "target\\Small.txt").c_str()));
    ASSERT_TRUE(unzip.GotoFile("Store.pst", false));
    EXPECT_FALSE(unzip.UnzipFileTo(target.c_str()));
    EXPECT_EQ("old store", Read(target));
    EXPECT_EQ(2u, ReadTree(scratch / "target").size());
    EXPECT_EQ(1u, log.Count("\tError\tNot enough free space on "));
    EXPECT_EQ(1u, log.Count(" to restore Store.pst: " + std::to_string(available.QuadPart + (1ull << 30)) +
                            " bytes needed, "));
}

// A read of the source that fails part-way, inside the first chunk or a later
// one: AddFile fails, and the entry it leaves is refused on extraction (the
// file it would replace stays), while the next file of the same archive is
// whole.
static ULONGLONG g_readBeforeFailure = 0;
static BOOL WINAPI ReadThenFail(HANDLE file, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED overlapped) {
    LARGE_INTEGER at = {}, zero = {};
    SetFilePointerEx(file, zero, &at, FILE_CURRENT);
    ULONGLONG left = static_cast<ULONGLONG>(at.QuadPart) < g_readBeforeFailure ? g_readBeforeFailure - at.QuadPart : 0;
    if (left == 0) {
        *got = 0;
        SetLastError(ERROR_CRC);
        return FALSE;
    }
    return ReadFile(file, buffer, static_cast<DWORD>(std::min<ULONGLONG>(size, left)), got, overlapped);
}

TEST_F(ZipFixture, EntryCutByAReadFailureIsRejectedByTheReader) {
    const std::string big = root + "\\Outlook\\Inbox.dbx", out = scratch / "out.dbx";
    for (size_t size : {size_t(200 * 1024), size_t(700 * 1024)}) {
        const std::string content = MixedContent(3, size);
        ASSERT_TRUE(WriteFileBytes(big, content));
        g_readBeforeFailure = size / 2;
        {
            CZipper zip(archive.c_str());
            zip.SetSourceReader(ReadThenFail);
            EXPECT_FALSE(zip.AddFile(big.c_str(), false)) << size;
            zip.SetSourceReader(nullptr);
            EXPECT_TRUE(zip.AddFile((root + "\\Outlook\\summary.txt").c_str(), false));
            EXPECT_TRUE(zip.CloseArchive());
        }
        ASSERT_TRUE(WriteFileBytes(out, "previous"));
        CUnzipper unzip(archive.c_str());
        ASSERT_TRUE(unzip.GotoFile("Outlook\\Inbox.dbx", false));
        EXPECT_FALSE(unzip.UnzipFileTo(out.c_str())) << size;
        EXPECT_EQ("previous", Read(out));
        ASSERT_TRUE(unzip.GotoFile("Outlook\\summary.txt", false));
        EXPECT_TRUE(unzip.UnzipFileTo(out.c_str()));
        EXPECT_EQ("summary", Read(out));
    }
}

// Small files deflated several at once on the workers go into the archive
// exactly as one file after another would: same entries, order, times and
// bytes, with folders and files of several chunks in between. A file that
// cannot be opened, or whose read fails, fails its own AddFile and no other:
// the first has no entry, the second one no reader accepts.
TEST_F(ZipFixture, SmallFilesOnTheWorkersMatchOneAtATimeByteForByte) {
    const size_t kChunk = 256 * 1024;
    const std::string store = root + "\\Outlook\\Store";
    std::vector<std::string> names;
    for (unsigned i = 0; i < 150; ++i) {
        const std::string folder = store + "\\f" + std::to_string(i / 40);
        ASSERT_TRUE(MakeDirs(folder));
        // Mostly small files of every size up to a chunk, a few of several chunks.
        size_t size = i % 37 == 5 ? kChunk * 2 + i : i % 11 == 3 ? kChunk - 1 : (i * 7919u) % 60000u;
        names.push_back(folder + "\\m" + std::to_string(i) + ".eml");
        ASSERT_TRUE(WriteFileBytes(names.back(), MixedContent(i, size)));
    }
    const std::string unreadable = names[60], held = names[61];
    auto write = [&](const std::string& path, unsigned threads, std::vector<bool>& added) {
        CZipper zip;
        zip.SetDeflateThreads(threads);
        ASSERT_TRUE(zip.OpenArchive(path.c_str(), root.c_str()));
        EXPECT_TRUE(zip.AddFolder((root + "\\Outlook\\Accounts").c_str(), false));
        CHandle writer(CreateFileA(held.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(writer.IsValid());
        for (size_t i = 0; i < names.size(); ++i) {
            if (i == 100) EXPECT_TRUE(zip.AddFolder((root + "\\Outlook\\Accounts").c_str(), true));
            g_readBeforeFailure = 1000;
            zip.SetSourceReader(names[i] == unreadable ? ReadThenFail : nullptr);
            added.push_back(zip.AddFileAs(names[i].c_str(), ("Messages" + names[i].substr(store.size())).c_str()));
            if (names[i] == unreadable) EXPECT_EQ(DWORD(ERROR_CRC), GetLastError());
        }
        writer.Close();
        std::vector<ZipWrittenEntry> written = zip.GetWrittenEntries();
        EXPECT_TRUE(zip.CloseArchive());
        EXPECT_EQ(names.size() + 4 - 1, written.size());
        for (const ZipWrittenEntry& entry : written)
            EXPECT_EQ(entry.name != "Messages" + unreadable.substr(store.size()), entry.whole) << entry.name;
    };
    std::vector<bool> pooled, single;
    write(scratch / "pooled.vlb", 4, pooled);
    write(scratch / "single.vlb", 0, single);
    EXPECT_EQ(single, pooled);
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(names[i] != unreadable && names[i] != held, pooled[i]) << names[i];
    std::string a, b;
    ASSERT_TRUE(ReadFileBytes(scratch / "pooled.vlb", a) && ReadFileBytes(scratch / "single.vlb", b));
    EXPECT_TRUE(a == b) << a.size() << " bytes against " << b.size();

    // Every entry the pool wrote restores its file, but the unreadable one.
    CUnzipper unzip((scratch / "pooled.vlb").c_str());
    const std::string out = scratch / "out";
    for (const std::string& name : names) {
        const std::string entry = "Messages" + name.substr(store.size());
        EXPECT_EQ(name != held, unzip.GotoFile(entry.c_str(), false)) << entry;
        if (name == held) continue;
        EXPECT_EQ(name != unreadable, bool(unzip.UnzipFileTo(out.c_str()))) << entry;
        if (name != unreadable) EXPECT_TRUE(Read(out) == Read(name)) << entry;
    }
}

// A write to the archive that fails after its file's AddFile returned (the
// drive filled up) breaks the archive for good, even once there is room
// again: every later call fails with the drive's error, no entry after it
// looks whole, and CloseArchive fails, so a backup never publishes the
// archive as sound. One file at a time alike.
TEST_F(ZipFixture, AFailedArchiveWriteFailsEveryLaterCall) {
    std::vector<std::string> names;
    for (unsigned i = 0; i < 16; ++i) {
        names.push_back(root + "\\Outlook\\random" + std::to_string(i));
        std::string data;
        for (unsigned s = i + 1; data.size() < 40000;) data += static_cast<char>((s = s * 1664525u + 1013904223u) >> 24);
        ASSERT_TRUE(WriteFileBytes(names.back(), data));
    }
    for (unsigned threads : {4u, 0u}) {
        CZipper zip;
        zip.SetDeflateThreads(threads);
        ASSERT_TRUE(zip.OpenArchive(archive.c_str(), root.c_str()));
        zip.SetArchiveWriteLimit(180 * 1024);   // room for four of the files
        size_t firstFailure = names.size();
        for (size_t i = 0; i < names.size(); ++i) {
            bool added = zip.AddFile(names[i].c_str(), false);
            if (!added) {
                EXPECT_EQ(DWORD(ERROR_DISK_FULL), GetLastError()) << threads << " " << i;
                if (firstFailure == names.size()) firstFailure = i;
                zip.SetArchiveWriteLimit(0);   // room again: the archive is broken all the same
            }
            EXPECT_EQ(i < firstFailure, added) << threads << " " << i;
        }
        EXPECT_LE(4u, firstFailure) << threads;
        EXPECT_GT(names.size(), firstFailure) << threads;
        EXPECT_FALSE(zip.AddFolder((root + "\\Outlook\\Accounts").c_str(), false));
        EXPECT_EQ(DWORD(ERROR_DISK_FULL), GetLastError());
        const std::vector<ZipWrittenEntry>& written = zip.GetWrittenEntries();
        size_t whole = 0;
        while (whole < written.size() && written[whole].whole) ++whole;
        EXPECT_EQ(4u, whole) << threads;
        EXPECT_GE(whole + 1, written.size()) << threads;   // at most the one cut short after them
        EXPECT_FALSE(zip.CloseArchive()) << threads;
        EXPECT_EQ(DWORD(ERROR_DISK_FULL), GetLastError());
    }
}

// Shared with readers only: a reader that shares does not keep a file out, a
// writer always does, and a handle without sharing that is let go within the
// retries only delays the add.
TEST_F(ZipFixture, FilesHeldByOthersAreRetriedButNeverReadWhileWritten) {
    const std::string file = root + "\\Outlook\\summary.txt";
    CZipper zip(archive.c_str());
    {
        CHandle reader(CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(reader.IsValid());
        EXPECT_TRUE(zip.AddFile(file.c_str(), true));
    }
    {
        CHandle writer(CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(writer.IsValid());
        EXPECT_FALSE(zip.AddFile(file.c_str(), true));
    }
    {
        HANDLE exclusive = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, exclusive);
        std::thread release([exclusive] {
            Sleep(2 * kSharingRetryPauseMs);
            CloseHandle(exclusive);
        });
        EXPECT_TRUE(zip.AddFile(file.c_str(), false));
        release.join();
    }
    EXPECT_TRUE(zip.CloseArchive());
    std::vector<ZipEntryInfo> entries = ListEntries(archive);
    ASSERT_EQ(2u, entries.size());
    EXPECT_STREQ("Outlook\\summary.txt", entries[1].name);
}

// The read-only bit of a file being replaced is cleared for the move only:
// the replaced file carries the new file's attributes (the archived ones are
// not applied), and a move that fails leaves the old file read-only. Wine run
// as root moves over read-only files anyway, so this shows the attribute
// handling, not Windows' refusal.
TEST(ZipSafety, ReadOnlyFilesAreReplacedAndKeptReadOnlyOnFailure) {
    ScratchFolder scratch;
    const std::string old = scratch / "Inbox.dbx", fresh = scratch / "fresh.tmp";
    ASSERT_TRUE(WriteFileBytes(old, "old") && WriteFileBytes(fresh, "new"));
    ASSERT_TRUE(SetFileAttributesA(old.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_FALSE(MoveFileReplacing((scratch / "missing.tmp").c_str(), old.c_str()));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              GetFileAttributesA(old.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ("old", Read(old));
    ASSERT_TRUE(SetFileAttributesA(fresh.c_str(), FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_TRUE(MoveFileReplacing(fresh.c_str(), old.c_str()));
    EXPECT_EQ("new", Read(old));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA(old.c_str()));

    // A restore over a read-only file leaves an ordinary file.
    WriteRawArchive(scratch / "a.zip", {Stored("Inbox.dbx", "restored", FILE_ATTRIBUTE_READONLY)});
    ASSERT_TRUE(SetFileAttributesA(old.c_str(), FILE_ATTRIBUTE_READONLY));
    CUnzipper unzip((scratch / "a.zip").c_str());
    ASSERT_TRUE(unzip.GotoFile("Inbox.dbx", false));
    EXPECT_TRUE(unzip.UnzipFileTo(old.c_str()));
    EXPECT_EQ("restored", Read(old));
    EXPECT_EQ(0u, GetFileAttributesA(old.c_str()) & FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA(old.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The folder an entry went into is made once for the entries after it; one
// removed in between (the restore of another item cleared it) is made again.
TEST(ZipSafety, AFolderRemovedBetweenEntriesIsMadeAgain) {
    ScratchFolder scratch;
    WriteRawArchive(scratch / "a.zip", {Stored("Inbox.dbx", "inbox"), Stored("Sent.dbx", "sent")});
    const std::string folder = scratch / "Store", inbox = folder + "\\Inbox.dbx", sent = folder + "\\Sent.dbx";
    CUnzipper unzip((scratch / "a.zip").c_str());
    ASSERT_TRUE(unzip.GotoFile("Inbox.dbx", false));
    ASSERT_TRUE(unzip.UnzipFileTo(inbox.c_str()));
    ASSERT_TRUE(DeleteFileA(inbox.c_str()) && RemoveDirectoryA(folder.c_str()));
    ASSERT_TRUE(unzip.GotoFile("Sent.dbx", false));
    EXPECT_TRUE(unzip.UnzipFileTo(sent.c_str()));
    EXPECT_EQ("sent", Read(sent));
}
