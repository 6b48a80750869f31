// The zip wrapper: entry naming, the archive conventions, lookup and
// extraction, and extraction of damaged or hostile archives that we build
// byte for byte with minizip's raw mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "Unzipper.h"
#include "Zipper.h"
#include "unzip.h"
#include "zip.h"

using testsupport::DirExistsAt;
using testsupport::FileExistsAt;
using testsupport::MakeDirs;
using testsupport::ReadFileBytes;
using testsupport::ScratchFolder;
using testsupport::WriteFileBytes;

namespace {

// 2021-06-15 10:20:30 local time, and the same as a DOS date-time.
const SYSTEMTIME kStamp = {2021, 6, 2, 15, 10, 20, 30, 0};
const DWORD kStampDos = (((2021 - 1980) << 9 | 6 << 5 | 15) << 16) | (10 << 11 | 20 << 5 | 30 / 2);

bool SetLocalWriteTime(const std::string& path, const SYSTEMTIME& localTime) {
    FILETIME local, utc;
    HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = SystemTimeToFileTime(&localTime, &local) && LocalFileTimeToFileTime(&local, &utc) &&
              SetFileTime(h, nullptr, nullptr, &utc);
    CloseHandle(h);
    return ok;
}

// Creation and last-write time of a file, in local time.
void LocalTimes(const std::string& path, SYSTEMTIME& created, SYSTEMTIME& written) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) << path;
    FILETIME local;
    FileTimeToLocalFileTime(&data.ftCreationTime, &local);
    FileTimeToSystemTime(&local, &created);
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
    FileTimeToSystemTime(&local, &written);
}

#define EXPECT_STAMP(st)                                                                       \
    EXPECT_EQ(std::vector<int>({2021, 6, 15, 10, 20, 30}),                                     \
              std::vector<int>({(st).wYear, (st).wMonth, (st).wDay, (st).wHour, (st).wMinute, \
                                (st).wSecond}))

std::vector<ZipEntryInfo> ListEntries(const std::string& archive) {
    std::vector<ZipEntryInfo> entries;
    CUnzipper unzip(archive.c_str());
    EXPECT_TRUE(unzip.IsOpen()) << archive;
    for (bool ok = unzip.GotoFirstEntry(); ok; ok = unzip.GotoNextEntry()) {
        ZipEntryInfo info;
        EXPECT_TRUE(unzip.GetEntryInfo(info));
        entries.push_back(info);
    }
    return entries;
}

std::vector<std::string> EntryNames(const std::string& archive) {
    std::vector<std::string> names;
    for (const ZipEntryInfo& info : ListEntries(archive)) names.push_back(info.name);
    return names;
}

std::string Read(const std::string& path) {
    std::string bytes;
    EXPECT_TRUE(ReadFileBytes(path, bytes)) << path;
    return bytes;
}

// Names of everything directly in a folder, sorted.
std::vector<std::string> FolderContent(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = data.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

std::string RawDeflate(const std::string& data) {
    z_stream stream = {};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(Z_STREAM_END, deflate(&stream, Z_FINISH));
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

uLong Crc(const std::string& data) {
    return crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(data.data()),
                 static_cast<uInt>(data.size()));
}

// One entry exactly as it should appear in the archive, whatever it claims.
struct RawEntry {
    std::string name;
    std::string data;   // as stored: already deflated for method 8
    int method;
    uLong crc;
    ULONGLONG size;   // declared uncompressed size
    DWORD attributes;
};

RawEntry Stored(const std::string& name, const std::string& content) {
    return {name, content, 0, Crc(content), content.size(), FILE_ATTRIBUTE_ARCHIVE};
}

RawEntry Folder(const std::string& name) {
    return {name, "", 0, 0, 0, FILE_ATTRIBUTE_DIRECTORY};
}

void WriteRawArchive(const std::string& path, const std::vector<RawEntry>& entries) {
    std::unique_ptr<void, int (*)(zipFile)> owner(zipOpen64(path.c_str(), APPEND_STATUS_CREATE),
                                                 [](zipFile z) { return zipClose(z, nullptr); });
    zipFile zip = owner.get();
    ASSERT_NE(nullptr, zip) << path;
    for (const RawEntry& e : entries) {
        zip_fileinfo info = {};
        info.dosDate = kStampDos;
        info.external_fa = e.attributes;
        ASSERT_EQ(ZIP_OK, zipOpenNewFileInZip3_64(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                                  e.method, Z_DEFAULT_COMPRESSION, 1, -MAX_WBITS, 8,
                                                  Z_DEFAULT_STRATEGY, nullptr, 0, 0));
        if (!e.data.empty())
            ASSERT_EQ(ZIP_OK, zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size())));
        ASSERT_EQ(ZIP_OK, zipCloseFileInZipRaw64(zip, e.size, e.crc));
    }
    ASSERT_EQ(ZIP_OK, zipClose(owner.release(), nullptr));
}

// A tree under <scratch>\Backup: the usual layout of a backup.
class ZipFixture : public ::testing::Test {
protected:
    void SetUp() override {
        root = scratch / "Backup";
        archive = root + "\\Test.vlb";
        ASSERT_TRUE(MakeDirs(root + "\\Outlook\\Accounts"));
        ASSERT_TRUE(WriteFileBytes(root + "\\Outlook\\Accounts\\Account.txt", "account data"));
        ASSERT_TRUE(WriteFileBytes(root + "\\Outlook\\summary.txt", "summary"));
    }

    ScratchFolder scratch;
    std::string root;
    std::string archive;
};

}  // namespace

TEST_F(ZipFixture, EntryNamesAreRelativeToTheRootFolder) {
    ASSERT_TRUE(MakeDirs(scratch / "Other"));
    ASSERT_TRUE(WriteFileBytes(scratch / "Other\\y.txt", "elsewhere"));
    ASSERT_TRUE(WriteFileBytes(scratch / "x.txt", "beside"));
    {
        CZipper zip(archive.c_str(), (root + "\\").c_str());
        ASSERT_TRUE(zip.IsOpen());
        EXPECT_STREQ((root + "\\").c_str(), zip.GetRootFolder());
        EXPECT_TRUE(zip.AddFile((root + "\\Outlook\\Accounts\\Account.txt").c_str(), false));
        EXPECT_FALSE(zip.AddFile((scratch / "Other\\y.txt").c_str(), false));   // outside the root
        EXPECT_TRUE(zip.AddFile((scratch / "Other\\y.txt").c_str(), true));
        EXPECT_FALSE(zip.AddFile("..\\x.txt", false));
        EXPECT_TRUE(zip.AddFile("..\\x.txt", true));   // read from the root's parent
        EXPECT_TRUE(zip.AddFile(".\\Outlook\\summary.txt", false));
        EXPECT_FALSE(zip.AddFile("Outlook\\..\\..\\x.txt", false));   // a name no reader may place
        EXPECT_FALSE(zip.AddFile("Outlook\\missing.txt", false));
        EXPECT_TRUE(zip.CloseArchive());
    }
    EXPECT_EQ(std::vector<std::string>({"Outlook\\Accounts\\Account.txt", "y.txt", "x.txt", "Outlook\\summary.txt"}),
              EntryNames(archive));

    // Without a root folder the archive's own folder is the root; a relative
    // root gets its backslash.
    CZipper byArchive((root + "\\a.vlb").c_str());
    EXPECT_STREQ((root + "\\").c_str(), byArchive.GetRootFolder());
    CZipper byText((root + "\\b.vlb").c_str(), "Somewhere");
    EXPECT_STREQ("Somewhere\\", byText.GetRootFolder());
    CZipper none((root + "\\c.vlb").c_str(), "");
    EXPECT_STREQ("", none.GetRootFolder());
    EXPECT_FALSE(CZipper().AddFile(archive.c_str(), true));   // nothing open
    EXPECT_FALSE(CZipper("").IsOpen());
}

TEST_F(ZipFixture, AddFolderWritesTheFolderThenItsContentAndSkipsDotNames) {
    const std::string outlook = root + "\\Outlook";
    ASSERT_TRUE(WriteFileBytes(outlook + "\\.profile", "hidden"));
    ASSERT_TRUE(MakeDirs(outlook + "\\.cache"));
    ASSERT_TRUE(WriteFileBytes(outlook + "\\.cache\\c.txt", "hidden"));
    ASSERT_TRUE(SetLocalWriteTime(outlook + "\\summary.txt", kStamp));
    ASSERT_TRUE(SetLocalWriteTime(outlook + "\\Accounts", kStamp));
    {
        CZipper zip(archive.c_str());
        ASSERT_TRUE(zip.AddFolder(outlook.c_str(), false));
        ASSERT_TRUE(zip.AddFolder((root + "\\Outlook\\Accounts\\").c_str(), true));   // ignore path
        EXPECT_FALSE(zip.AddFolder((root + "\\Nowhere").c_str(), false));
        EXPECT_FALSE(zip.AddFolder(scratch.Path().c_str(), false));   // not below the root
        ASSERT_TRUE(zip.CloseArchive());
    }
    std::vector<ZipEntryInfo> entries = ListEntries(archive);
    std::vector<std::string> names;
    for (const ZipEntryInfo& e : entries) names.push_back(e.name);
    ASSERT_EQ(6u, names.size()) << ::testing::PrintToString(names);
    EXPECT_EQ("Outlook\\", names[0]);
    std::vector<std::string> content(names.begin() + 1, names.begin() + 4);
    std::sort(content.begin(), content.end());
    EXPECT_EQ(std::vector<std::string>({"Outlook\\Accounts\\", "Outlook\\Accounts\\Account.txt", "Outlook\\summary.txt"}),
              content);
    auto accounts = std::find(names.begin(), names.end(), "Outlook\\Accounts\\");
    EXPECT_EQ("Outlook\\Accounts\\Account.txt", *(accounts + 1));   // a folder's content follows it
    EXPECT_EQ("Accounts\\", names[4]);
    EXPECT_EQ("Account.txt", names[5]);

    for (const ZipEntryInfo& e : entries) {
        SCOPED_TRACE(e.name);
        bool folder = e.name[strlen(e.name) - 1] == '\\';
        EXPECT_EQ(folder, e.isFolder);
        EXPECT_EQ(8u, e.compressionMethod);
        EXPECT_EQ(0u, e.internalAttributes);
        EXPECT_EQ(folder ? DWORD(FILE_ATTRIBUTE_DIRECTORY) : DWORD(FILE_ATTRIBUTE_ARCHIVE),
                  e.externalAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE));
        EXPECT_EQ(0u, e.flags & 1);
        EXPECT_STREQ("", e.comment);
        if (folder) EXPECT_EQ(0u, e.uncompressedSize);
    }
    auto summary = std::find(names.begin(), names.end(), "Outlook\\summary.txt") - names.begin();
    EXPECT_EQ(kStampDos, entries[summary].dosDate);
    EXPECT_EQ(7u, entries[summary].uncompressedSize);
    EXPECT_EQ(kStampDos, entries[accounts - names.begin()].dosDate);
}

TEST_F(ZipFixture, FileHeldOpenElsewhereIsNotAdded) {
    const std::string held = root + "\\Outlook\\summary.txt";
    HANDLE h = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    {
        CZipper zip(archive.c_str());
        EXPECT_FALSE(zip.AddFile(held.c_str(), false));
        EXPECT_TRUE(zip.AddFile((root + "\\Outlook\\Accounts\\Account.txt").c_str(), false));
        EXPECT_TRUE(zip.CloseArchive());
    }
    CloseHandle(h);
    EXPECT_EQ(std::vector<std::string>({"Outlook\\Accounts\\Account.txt"}), EntryNames(archive));
}

TEST_F(ZipFixture, EmptyArchiveIsValid) {
    CZipper zip(archive.c_str());
    ASSERT_TRUE(zip.IsOpen());
    EXPECT_TRUE(zip.CloseArchive());
    EXPECT_FALSE(zip.IsOpen());
    EXPECT_STREQ("", zip.GetRootFolder());
    // Just the end record with no entries (other zip programs read it: see
    // the interoperation test). minizip itself refuses to open an archive
    // whose end record starts the file.
    EXPECT_EQ(std::string("PK\x05\x06", 4) + std::string(18, '\0'), Read(archive));
    CUnzipper unzip(archive.c_str());
    EXPECT_FALSE(unzip.GotoFirstEntry());
    EXPECT_FALSE(unzip.GotoFile("anything", true));
}

TEST_F(ZipFixture, OutputFolderIsTheArchivePathWithoutExtension) {
    {
        CZipper zip(archive.c_str());
        ASSERT_TRUE(zip.AddFile("Outlook\\summary.txt", false));
    }
    CUnzipper unzip(archive.c_str());
    ASSERT_TRUE(unzip.IsOpen());
    EXPECT_STREQ((root + "\\Test").c_str(), unzip.GetOutputFolder());
    unzip.CloseArchive();
    EXPECT_STREQ("", unzip.GetOutputFolder());
    EXPECT_FALSE(unzip.OpenArchive((root + "\\missing.vlb").c_str()));
    EXPECT_FALSE(unzip.OpenArchive((root + "\\Outlook\\summary.txt").c_str()));   // not a zip file
    EXPECT_FALSE(unzip.IsOpen());
}

TEST_F(ZipFixture, GotoFileAndExtensionFilters) {
    ASSERT_TRUE(MakeDirs(root + "\\Second"));
    ASSERT_TRUE(WriteFileBytes(root + "\\Second\\Account.txt", "second account"));
    ASSERT_TRUE(WriteFileBytes(root + "\\Second\\data.DAT", "dat"));
    ASSERT_TRUE(WriteFileBytes(root + "\\Second\\notes.TXT", "notes"));
    {
        CZipper zip(archive.c_str());
        for (const char* file : {"Outlook\\Accounts\\Account.txt", "Second\\Account.txt", "Second\\data.DAT",
                                 "Second\\notes.TXT", "Outlook\\summary.txt"})
            ASSERT_TRUE(zip.AddFile(file, false)) << file;
        ASSERT_TRUE(zip.AddFolder("Second", false));
    }
    CUnzipper unzip(archive.c_str());
    ZipEntryInfo info;
    ASSERT_TRUE(unzip.GotoFile("second\\ACCOUNT.TXT", false));
    ASSERT_TRUE(unzip.GetEntryInfo(info));
    EXPECT_STREQ("Second\\Account.txt", info.name);
    EXPECT_TRUE(unzip.GotoFile("Second/data.dat", false));
    EXPECT_FALSE(unzip.GotoFile("Account.txt", false));
    EXPECT_FALSE(unzip.GotoFile("", true));
    ASSERT_TRUE(unzip.GotoFile("account.txt", true));   // first of the two in archive order
    ASSERT_TRUE(unzip.GetEntryInfo(info));
    EXPECT_STREQ("Outlook\\Accounts\\Account.txt", info.name);
    EXPECT_FALSE(unzip.GotoFile("missing.txt", true));
    ASSERT_TRUE(unzip.GetEntryInfo(info));   // a failed lookup leaves the current entry
    EXPECT_STREQ("Outlook\\Accounts\\Account.txt", info.name);

    auto walk = [&](const char* extension) {
        std::vector<std::string> names;
        for (bool ok = unzip.GotoFirstEntry(extension); ok; ok = unzip.GotoNextEntry(extension)) {
            EXPECT_TRUE(unzip.GetEntryInfo(info));
            names.push_back(info.name);
        }
        return names;
    };
    // The folder's entries come in the order the file system lists them.
    std::vector<std::string> texts = walk("txt");
    ASSERT_EQ(6u, texts.size());
    std::sort(texts.begin() + 4, texts.end());
    EXPECT_EQ(std::vector<std::string>({"Outlook\\Accounts\\Account.txt", "Second\\Account.txt", "Second\\notes.TXT",
                                        "Outlook\\summary.txt", "Second\\Account.txt", "Second\\notes.TXT"}),
              texts);
    EXPECT_EQ(std::vector<std::string>({"Second\\data.DAT", "Second\\data.DAT"}), walk("Dat"));
    EXPECT_TRUE(walk("pst").empty());
    EXPECT_EQ(9u, walk(nullptr).size());
    EXPECT_EQ(9u, walk("").size());
}

TEST_F(ZipFixture, UnzipFilePlacesEntriesAndRestoresTheirTimes) {
    ASSERT_TRUE(SetLocalWriteTime(root + "\\Outlook\\Accounts\\Account.txt", kStamp));
    {
        CZipper zip(archive.c_str());
        ASSERT_TRUE(zip.AddFolder((root + "\\Outlook").c_str(), false));
    }
    const std::string target = scratch / "Restore\\Deep";
    CUnzipper unzip(archive.c_str());
    ASSERT_TRUE(unzip.GotoFile("Outlook\\Accounts\\Account.txt", false));
    ASSERT_TRUE(unzip.UnzipFile(target.c_str(), true));
    EXPECT_EQ("account data", Read(target + "\\Account.txt"));
    SYSTEMTIME created, written;
    LocalTimes(target + "\\Account.txt", created, written);
    EXPECT_STAMP(created);
    EXPECT_STAMP(written);

    ASSERT_TRUE(unzip.UnzipFile(target.c_str(), false));
    EXPECT_EQ("account data", Read(target + "\\Outlook\\Accounts\\Account.txt"));

    // A good entry replaces an existing file.
    ASSERT_TRUE(WriteFileBytes(target + "\\Account.txt", "old"));
    ASSERT_TRUE(unzip.UnzipFile((target + "\\").c_str(), true));
    EXPECT_EQ("account data", Read(target + "\\Account.txt"));

    ASSERT_TRUE(unzip.UnzipFileTo((scratch / "Elsewhere\\renamed.bin").c_str()));
    EXPECT_EQ("account data", Read(scratch / "Elsewhere\\renamed.bin"));

    // Folder entries make folders (again, when they exist), whatever ignorePath says.
    ASSERT_TRUE(unzip.GotoFile("Outlook\\Accounts\\", false));
    ASSERT_TRUE(unzip.UnzipFile((scratch / "Folders").c_str(), true));
    EXPECT_TRUE(DirExistsAt(scratch / "Folders\\Outlook\\Accounts"));
    EXPECT_TRUE(unzip.UnzipFile((scratch / "Folders").c_str(), false));
    EXPECT_FALSE(unzip.UnzipFileTo((scratch / "Folders\\x").c_str()));

    // No target: the archive's path without its extension.
    ASSERT_TRUE(unzip.GotoFile("summary.txt", true));
    ASSERT_TRUE(unzip.UnzipFile(nullptr, false));
    EXPECT_EQ("summary", Read(root + "\\Test\\Outlook\\summary.txt"));

    // Nothing but the extracted files is left behind (no temporary files).
    EXPECT_EQ(std::vector<std::string>({"Account.txt", "Outlook"}), FolderContent(target));
}

TEST(ZipPaths, CreateFolderPathAndSetFileTimeFromDos) {
    ScratchFolder scratch;
    EXPECT_TRUE(CreateFolderPath((scratch / "a\\b\\c").c_str()));
    EXPECT_TRUE(DirExistsAt(scratch / "a\\b\\c"));
    EXPECT_TRUE(CreateFolderPath((scratch / "a\\b\\d\\").c_str()));
    EXPECT_TRUE(CreateFolderPath((scratch / "a\\b\\d\\").c_str()));
    EXPECT_FALSE(CreateFolderPath(""));
    ASSERT_TRUE(WriteFileBytes(scratch / "file", "x"));
    EXPECT_FALSE(CreateFolderPath((scratch / "file").c_str()));
    EXPECT_FALSE(CreateFolderPath((scratch / "file\\below").c_str()));
    EXPECT_FALSE(CreateFolderPath((scratch / std::string(300, 'n')).c_str()));

    ASSERT_TRUE(SetFileTimeFromDos((scratch / "file").c_str(), kStampDos));
    SYSTEMTIME created, written;
    LocalTimes(scratch / "file", created, written);
    EXPECT_STAMP(created);
    EXPECT_STAMP(written);
    EXPECT_FALSE(SetFileTimeFromDos((scratch / "missing").c_str(), kStampDos));
}

TEST(ZipSafety, IsSafeEntryName) {
    for (const char* name : {"a.txt", "Outlook\\a.txt", "Outlook\\", "a\\.\\b", "a..b\\c..", "..a", "x/y"})
        EXPECT_TRUE(CUnzipper::IsSafeEntryName(name)) << name;
    std::string longName(MAX_PATH, 'n');
    for (const char* name : {"", "..", "..\\x", "../x", "a\\..\\..\\x", "a/../x", "a\\..", "...\\x", ".. \\x",
                             "C:\\x", "C:x", "a\\b:stream", "\\x", "/x", "\\\\server\\share\\x", "\\\\?\\C:\\x",
                             longName.c_str()})
        EXPECT_FALSE(CUnzipper::IsSafeEntryName(name)) << name;
    EXPECT_FALSE(CUnzipper::IsSafeEntryName(nullptr));
}

// Entry names that point outside the target are refused, for files and folders,
// with and without ignorePath, and nothing appears outside the target.
TEST(ZipSafety, HostileNamesNeverLeaveTheTarget) {
    ScratchFolder scratch;
    const std::string archive = scratch / "hostile.zip";
    const std::string unique = "velmora-zip-" + std::to_string(GetCurrentProcessId());
    std::vector<RawEntry> entries = {
        Stored("..\\" + unique + ".txt", "evil"),
        Stored("../" + unique + ".txt", "evil"),
        Stored("inside\\..\\..\\" + unique + ".txt", "evil"),
        Stored("C:\\" + unique + ".txt", "evil"),
        Stored("\\" + unique + ".txt", "evil"),
        Stored("\\\\server\\share\\" + unique + ".txt", "evil"),
        Stored(".. \\" + unique + ".txt", "evil"),
        Folder("..\\" + unique + "-dir\\"),
        Folder("C:\\" + unique + "-dir\\"),
        Folder("\\" + unique + "-dir\\"),
        Folder("\\\\server\\share\\" + unique + "-dir\\"),
        Folder("../" + unique + "-dir/"),
    };
    WriteRawArchive(archive, entries);
    const std::string target = scratch / "target";
    ASSERT_TRUE(MakeDirs(target));

    CUnzipper unzip(archive.c_str());
    ASSERT_TRUE(unzip.IsOpen());
    int seen = 0;
    for (bool ok = unzip.GotoFirstEntry(); ok; ok = unzip.GotoNextEntry(), ++seen) {
        ZipEntryInfo info;
        ASSERT_TRUE(unzip.GetEntryInfo(info));
        SCOPED_TRACE(info.name);
        EXPECT_FALSE(unzip.UnzipFile(target.c_str(), false));
        EXPECT_FALSE(unzip.UnzipFile(target.c_str(), true));
        EXPECT_FALSE(unzip.UnzipFileTo((target + "\\plain.txt").c_str()));
    }
    EXPECT_EQ(int(entries.size()), seen);
    EXPECT_TRUE(FolderContent(target).empty());
    EXPECT_EQ(std::vector<std::string>({"hostile.zip", "target"}), FolderContent(scratch.Path()));
    for (const std::string& outside : {"C:\\" + unique + ".txt", "C:\\" + unique + "-dir", "\\" + unique + ".txt",
                                       "\\" + unique + "-dir"})
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(outside.c_str())) << outside;
}

// Damaged entries fail, leave no temporary file and leave the existing
// destination as it was.
TEST(ZipSafety, DamagedEntriesNeverReplaceAGoodFile) {
    ScratchFolder scratch;
    const std::string archive = scratch / "damaged.zip";
    std::string pattern;
    for (int i = 0; pattern.size() < 100000; ++i) pattern += "line " + std::to_string(i) + "\n";
    const std::string deflated = RawDeflate(pattern);
    const std::string zeros(64 << 20, '\0');
    const std::string bomb = RawDeflate(zeros);
    ASSERT_LT(bomb.size(), 200000u);

    std::vector<RawEntry> entries = {
        Stored("crc.txt", "hello world, stored"),   // patched below
        {"crc2.txt", deflated, Z_DEFLATED, Crc(pattern) ^ 1, pattern.size(), FILE_ATTRIBUTE_ARCHIVE},
        {"short.txt", deflated.substr(0, deflated.size() / 2), Z_DEFLATED, Crc(pattern), pattern.size(),
         FILE_ATTRIBUTE_ARCHIVE},
        // Declares a prefix of its data, with that prefix's CRC: the rest must not be dropped silently.
        {"prefix.txt", deflated, Z_DEFLATED, Crc(pattern.substr(0, 1000)), 1000, FILE_ATTRIBUTE_ARCHIVE},
        {"long.txt", deflated, Z_DEFLATED, Crc(pattern), pattern.size() + 10, FILE_ATTRIBUTE_ARCHIVE},
        {"bomb.txt", bomb, Z_DEFLATED, Crc("tiny"), 4, FILE_ATTRIBUTE_ARCHIVE},
        {"garbage.txt", "not a deflate stream at all", Z_DEFLATED, 0, 10, FILE_ATTRIBUTE_ARCHIVE},
        {"stored-size.txt", "12345678", 0, Crc("123"), 3, FILE_ATTRIBUTE_ARCHIVE},
        {"good.txt", deflated, Z_DEFLATED, Crc(pattern), pattern.size(), FILE_ATTRIBUTE_ARCHIVE},
    };
    WriteRawArchive(archive, entries);
    std::string bytes = Read(archive);
    size_t at = bytes.find("hello world, stored");
    ASSERT_NE(std::string::npos, at);
    bytes[at] = 'H';
    ASSERT_TRUE(WriteFileBytes(archive, bytes));

    const std::string target = scratch / "target";
    ASSERT_TRUE(MakeDirs(target));
    CUnzipper unzip(archive.c_str());
    ASSERT_TRUE(unzip.IsOpen());
    for (size_t i = 0; i + 1 < entries.size(); ++i) {
        const std::string& name = entries[i].name;
        SCOPED_TRACE(name);
        ASSERT_TRUE(WriteFileBytes(target + "\\" + name, "previous"));
        ASSERT_TRUE(unzip.GotoFile(name.c_str(), false));
        EXPECT_FALSE(unzip.UnzipFile(target.c_str(), false));
        EXPECT_FALSE(unzip.UnzipFileTo((target + "\\" + name).c_str()));
        EXPECT_EQ("previous", Read(target + "\\" + name));
    }
    ASSERT_TRUE(unzip.GotoFile("good.txt", false));
    ASSERT_TRUE(unzip.UnzipFile(target.c_str(), false));
    EXPECT_EQ(pattern, Read(target + "\\good.txt"));
    EXPECT_EQ(entries.size(), FolderContent(target).size());   // no temporary file left over
}

TEST_F(ZipFixture, TruncatedArchiveFailsCleanly) {
    std::string big;
    for (int i = 0; big.size() < 300000; ++i) big += std::to_string(i * 7919) + ",";
    ASSERT_TRUE(WriteFileBytes(root + "\\Outlook\\big.csv", big));
    {
        CZipper zip(archive.c_str());
        ASSERT_TRUE(zip.AddFolder((root + "\\Outlook").c_str(), false));
    }
    std::string bytes = Read(archive);
    const std::string cut = scratch / "cut.zip";
    const std::string target = scratch / "target";
    for (size_t length : {size_t(0), size_t(30), bytes.size() / 3, bytes.size() / 2, bytes.size() - 22,
                          bytes.size() - 1}) {
        SCOPED_TRACE(length);
        ASSERT_TRUE(WriteFileBytes(cut, bytes.substr(0, length)));
        CUnzipper unzip(cut.c_str());
        if (!unzip.IsOpen()) continue;
        for (bool ok = unzip.GotoFirstEntry(); ok; ok = unzip.GotoNextEntry()) {
            ZipEntryInfo info;
            ASSERT_TRUE(unzip.GetEntryInfo(info));
            if (unzip.UnzipFile(target.c_str(), false) && !info.isFolder)
                EXPECT_EQ(Read(root + "\\" + info.name), Read(target + "\\" + info.name));
        }
    }
}

TEST_F(ZipFixture, OverlongNamesFailCleanly) {
    std::string deep = root;
    while (deep.size() < 200) deep += "\\folder";
    ASSERT_TRUE(MakeDirs(deep));
    const std::string file = deep + "\\" + std::string(MAX_PATH - deep.size() - 2, 'f');
    ASSERT_TRUE(WriteFileBytes(file, "deep"));
    {
        CZipper zip(archive.c_str());
        EXPECT_TRUE(zip.AddFile(file.c_str(), false));
        EXPECT_FALSE(zip.AddFile((deep + "\\" + std::string(300, 'g')).c_str(), false));
        EXPECT_FALSE(zip.AddFolder((deep + "\\" + std::string(300, 'g')).c_str(), false));
    }
    const std::string longName = std::string(MAX_PATH + 40, 'n');
    WriteRawArchive(scratch / "long.zip", {Stored(longName, "x"), Stored("short.txt", "y")});
    CUnzipper unzip((scratch / "long.zip").c_str());
    ASSERT_TRUE(unzip.GotoFirstEntry());
    ZipEntryInfo info;
    EXPECT_FALSE(unzip.GetEntryInfo(info));
    EXPECT_FALSE(unzip.UnzipFile(scratch.Path().c_str(), false));
    EXPECT_FALSE(unzip.GotoFile(longName.c_str(), false));
    ASSERT_TRUE(unzip.GotoFile("short.txt", false));

    // The extracted path of a legal entry may still be too long for the target.
    CUnzipper deepArchive(archive.c_str());
    ASSERT_TRUE(deepArchive.GotoFirstEntry());
    const std::string target = scratch / "a-target-longer-than-Backup";
    EXPECT_FALSE(deepArchive.UnzipFile(target.c_str(), false));
    EXPECT_TRUE(deepArchive.UnzipFile(target.c_str(), true));
}

namespace {
// Deterministic content of mixed compressibility: text, random and zero runs.
std::string MixedContent(unsigned seed, size_t size) {
    std::string data;
    data.reserve(size);
    unsigned state = seed * 2654435761u + 1;
    auto next = [&state] { return (state = state * 1664525u + 1013904223u) >> 8; };
    static const char* const kWords[] = {"meeting ", "invoice ", "attached ", "regards\r\n", "quarter "};
    while (data.size() < size) {
        size_t run = 1000 + next() % 90000;
        switch (next() % 3) {
            case 0:
                for (size_t start = data.size(); data.size() - start < run;) data += kWords[next() % 5];
                break;
            case 1:
                for (size_t i = 0; i < run; ++i) data += static_cast<char>(next());
                break;
            default:
                data.append(run, '\0');
        }
    }
    data.resize(size);
    return data;
}

std::string Inflate(const std::string& deflated, size_t expected) {
    z_stream stream = {};
    inflateInit2(&stream, -MAX_WBITS);
    std::string out(expected + 1, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
    stream.avail_in = static_cast<uInt>(deflated.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    int rc = inflate(&stream, Z_FINISH);
    EXPECT_EQ(Z_STREAM_END, rc) << "the entry is not one complete deflate stream";
    EXPECT_EQ(0u, stream.avail_in) << "data after the end of the deflate stream";
    out.resize(stream.total_out);
    inflateEnd(&stream);
    return out;
}

// An entry's stored bytes, read raw (not inflated) through minizip.
std::string RawEntryData(const std::string& archive, const std::string& name, int& method) {
    std::string data;
    unzFile unzip = unzOpen64(archive.c_str());
    EXPECT_NE(nullptr, unzip);
    if (!unzip) return data;
    int level = 0;
    if (unzLocateFile(unzip, name.c_str(), 0) == UNZ_OK &&
        unzOpenCurrentFile2(unzip, &method, &level, 1) == UNZ_OK) {
        char buffer[65536];
        for (int got; (got = unzReadCurrentFile(unzip, buffer, sizeof(buffer))) > 0;) data.append(buffer, got);
        unzCloseCurrentFile(unzip);
    } else {
        ADD_FAILURE() << name << " not found in " << archive;
    }
    unzClose(unzip);
    return data;
}
}  // namespace

// Large files are deflated in chunks on worker threads; whatever the size
// (chunk boundaries included), each entry must be one standard deflate stream
// with the right CRC and size, and come back byte for byte.
TEST_F(ZipFixture, FilesOfManyChunksRoundTripAsOneDeflateStream) {
    const size_t kChunk = 256 * 1024;
    const std::vector<size_t> sizes = {0, 1, kChunk - 1, kChunk, kChunk + 1, 2 * kChunk, 5 * kChunk + 77,
                                       9 * 1024 * 1024 + 13};
    std::vector<std::string> contents;
    for (size_t i = 0; i < sizes.size(); ++i) {
        contents.push_back(MixedContent(static_cast<unsigned>(i + 1), sizes[i]));
        ASSERT_TRUE(WriteFileBytes(root + "\\Outlook\\file" + std::to_string(i) + ".dbx", contents.back()));
    }
    {
        CZipper zip(archive.c_str());
        ASSERT_TRUE(zip.IsOpen());
        for (size_t i = 0; i < sizes.size(); ++i)
            EXPECT_TRUE(zip.AddFile((root + "\\Outlook\\file" + std::to_string(i) + ".dbx").c_str(), false)) << i;
        EXPECT_TRUE(zip.CloseArchive());
    }
    std::vector<ZipEntryInfo> entries = ListEntries(archive);
    ASSERT_EQ(sizes.size(), entries.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        SCOPED_TRACE(entries[i].name);
        EXPECT_EQ(8u, entries[i].compressionMethod);
        EXPECT_EQ(sizes[i], entries[i].uncompressedSize);
        EXPECT_EQ(Crc(contents[i]), entries[i].crc);
        int method = -1;
        std::string raw = RawEntryData(archive, entries[i].name, method);
        EXPECT_EQ(Z_DEFLATED, method);
        EXPECT_EQ(entries[i].compressedSize, raw.size());
        EXPECT_TRUE(Inflate(raw, sizes[i]) == contents[i]);
    }
    // And through our own reader, which checks the CRC as it extracts.
    CUnzipper unzip(archive.c_str());
    for (size_t i = 0; i < sizes.size(); ++i) {
        std::string name = "Outlook\\file" + std::to_string(i) + ".dbx";
        ASSERT_TRUE(unzip.GotoFile(name.c_str(), false)) << name;
        ASSERT_TRUE(unzip.UnzipFile((scratch / "Out").c_str(), false)) << name;
        EXPECT_TRUE(Read(scratch / "Out" + "\\" + name) == contents[i]) << name;
    }
}

// Each chunk is primed with the end of the one before, so redundancy across
// chunk boundaries still compresses as in one stream: a 20 KB random block
// repeated over 2 MiB costs about one block, not one per chunk.
TEST_F(ZipFixture, ChunksShareTheirWindowAcrossBoundaries) {
    std::string block;
    for (unsigned state = 7; block.size() < 20000;) block += static_cast<char>((state = state * 1664525u + 1013904223u) >> 24);
    std::string data;
    while (data.size() < 2 * 1024 * 1024) data += block;
    const std::string path = root + "\\Outlook\\repeated.dbx";
    ASSERT_TRUE(WriteFileBytes(path, data));
    {
        CZipper zip(archive.c_str());
        EXPECT_TRUE(zip.AddFile(path.c_str(), false));
    }
    std::vector<ZipEntryInfo> entries = ListEntries(archive);
    ASSERT_EQ(1u, entries.size());
    size_t single = RawDeflate(data).size();
    EXPECT_LT(entries[0].compressedSize, single + 2 * 20000 / 10) << "one stream: " << single;
    int method = -1;
    EXPECT_TRUE(Inflate(RawEntryData(archive, "Outlook\\repeated.dbx", method), data.size()) == data);
}

// One writer, several archives in turn: the chunk workers of one archive end
// with it and the next archive starts its own.
TEST_F(ZipFixture, OneWriterWritesSeveralArchivesOfLargeFiles) {
    const std::string path = root + "\\Outlook\\Inbox.dbx";
    const std::string content = MixedContent(11, 3 * 1024 * 1024 + 5);
    ASSERT_TRUE(WriteFileBytes(path, content));
    CZipper zip;
    for (int round = 0; round < 3; ++round) {
        std::string name = scratch / ("Round" + std::to_string(round) + ".vlb");
        ASSERT_TRUE(zip.OpenArchive(name.c_str(), root.c_str()));
        EXPECT_TRUE(zip.AddFile(path.c_str(), false));
        EXPECT_TRUE(zip.AddFile(path.c_str(), true));
        EXPECT_TRUE(zip.CloseArchive());
        CUnzipper unzip(name.c_str());
        for (const char* entry : {"Outlook\\Inbox.dbx", "Inbox.dbx"}) {
            ASSERT_TRUE(unzip.GotoFile(entry, false)) << entry;
            std::string out = scratch / ("Out" + std::to_string(round));
            ASSERT_TRUE(unzip.UnzipFile(out.c_str(), false)) << entry;
            EXPECT_TRUE(Read(out + "\\" + entry) == content) << round << " " << entry;
        }
    }
}
