// A store's files read straight into the archive: the entries are those a
// copy of the store below the staging folder would have given, and a part of
// the store that cannot be read fails the backup.
#include <windows.h>

#include "WrenfoldHarness.h"

#include "FileUtil.h"
#include "Unzipper.h"
#include "Zipper.h"

using namespace testsupport;

namespace {
// What the stored entry says of its file, beside its name.
std::string Describe(const ZipEntryInfo& info) {
    char text[128];
    snprintf(text, sizeof(text), " time %08lx attributes %08lx crc %08lx size %llu", info.dosDate,
             info.externalAttributes, info.crc, static_cast<unsigned long long>(info.uncompressedSize));
    return info.name + std::string(text);
}

// The entries below the folder prefix (ending in "\\"), in stored order.
std::vector<std::string> EntriesBelow(const std::string& archive, const std::string& prefix) {
    std::vector<std::string> entries;
    CUnzipper unzip(archive.c_str());
    ZipEntryInfo info;
    for (bool more = unzip.GotoFirstEntry(); more && unzip.GetEntryInfo(info); more = unzip.GotoNextEntry())
        if (strncmp(info.name, prefix.c_str(), prefix.size()) == 0 && info.name[prefix.size()])
            entries.push_back(Describe(info));
    return entries;
}

// Zips each copied file, as the backup did from its staging copy.
class CZipEachCopy : public ICopyFolderSink {
public:
    explicit CZipEachCopy(CZipper& zipper) : m_zipper(zipper) {}
    void OnFileCopied(const char* targetPath, bool copied) override {
        EXPECT_TRUE(copied && m_zipper.AddFile(targetPath, false)) << targetPath;
    }
    bool IsCancelled() override { return false; }

private:
    CZipper& m_zipper;
};

// Creates a folder whatever its length.
bool MakeLongFolder(const std::string& path) {
    std::wstring wide = L"\\\\?\\" + std::wstring(path.begin(), path.end());
    return CreateDirectoryW(wide.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}
}  // namespace

TEST_F(WrenfoldTest, StoreEntriesAreThoseOfACopyAndAnUnreadableSubFolderFailsTheBackup) {
    const mailfixture::OEIdentity& main = Identity("Main Identity");
    const std::string store = mailfixture::ExpandedStoreFolder(profile.Path(), main);
    // Attributes a copy carries over, a nested folder and an empty one.
    ASSERT_TRUE(SetFileAttributesA((store + "\\Archive\\Inbox.dbx").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA((store + "\\Inbox.dbx").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(MakeDirs(store + "\\Archive\\2019\\May") && MakeDirs(store + "\\Empty"));
    ASSERT_TRUE(WriteFileBytes(store + "\\Archive\\2019\\May\\Old.dbx", std::string(300000, 'm')));
    StartPlugIn();
    Find(BackupList(), "Main Identity")->Enable();
    ASSERT_EQ(1, Backup(target.Path())) << NewLog();

    const std::string messages = "Outlook Express\\" + main.id + "$" + main.userName + "\\Messages\\";
    ScratchFolder staging;
    const std::string copy = staging / messages.substr(0, messages.size() - 1);
    ASSERT_TRUE(MakeDirs(copy));
    {
        CZipper zipper((staging / "copy.zip").c_str(), staging.Path().c_str());
        CZipEachCopy sink(zipper);
        ASSERT_TRUE(CopyFolder(store.c_str(), copy.c_str(), &sink, "copy failed %d"));
        ASSERT_TRUE(zipper.CloseArchive());
    }
    const std::vector<std::string> copied = EntriesBelow(staging / "copy.zip", messages);
    EXPECT_EQ(copied, EntriesBelow(Archive(), messages));
    EXPECT_LT(5u, copied.size());

    // A folder nested past the length Windows lists cannot be read: its
    // files would be missing without a word.
    std::string deep = store + "\\Archive";
    while (deep.size() < MAX_PATH + 20) {
        deep += "\\" + std::string(40, 'd');
        ASSERT_TRUE(MakeLongFolder(deep)) << deep;
    }
    ASSERT_EQ(0, Backup(target.Path()));
    const std::string log = NewLog();
    EXPECT_NE(std::string::npos, log.find("could not be read and is missing from the backup")) << log;
    EXPECT_NE(std::string::npos, log.find(std::string(40, 'd'))) << log;
    // What could be read is still all there.
    for (const std::string& entry : copied)
        EXPECT_TRUE(Contains(EntriesBelow(target / "Outlook Express (incomplete).vlb", messages), entry)) << entry;
}
