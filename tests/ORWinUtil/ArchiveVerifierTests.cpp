// The read-back check: an archive as written passes; every way the file or
// the central directory can differ from what was written is caught and the
// entry named.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ArchiveVerifier.h"
#include "TestSupport.h"
#include "Zipper.h"
#include "zip.h"

using namespace testsupport;

namespace {
class VerifierFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(MakeDirs(root + "\\Outlook\\Accounts"));
        ASSERT_TRUE(WriteFileBytes(root + "\\Outlook\\Accounts\\Account.txt", "account data"));
        std::string big;
        for (unsigned i = 0; big.size() < 300000; ++i) big += "message " + std::to_string(i * 7919u % 100003u) + "\r\n";
        bigSize = big.size();
        ASSERT_TRUE(WriteFileBytes(root + "\\Outlook\\Inbox.pst", big));
        ASSERT_TRUE(WriteFileBytes(root + "\\Outlook\\summary.txt", "summary"));
        CZipper zipper(archive.c_str(), root.c_str());
        ASSERT_TRUE(zipper.AddFolder((root + "\\Outlook").c_str(), false));
        ASSERT_TRUE(zipper.CloseArchive());
        written = zipper.GetWrittenEntries();
    }
    // Offset of the first byte of an entry's data: its local header is
    // 30 bytes, the name and the extra field (none here) follow.
    size_t DataOffset(const std::string& bytes, const std::string& name) {
        size_t at = bytes.find("PK\3\4" );
        while (at != std::string::npos && bytes.compare(at + 30, name.size(), name) != 0) at = bytes.find("PK\3\4", at + 4);
        EXPECT_NE(std::string::npos, at) << name;
        unsigned extra = static_cast<unsigned char>(bytes[at + 28]) | static_cast<unsigned char>(bytes[at + 29]) << 8;
        return at + 30 + name.size() + extra;
    }
    ScratchFolder scratch;
    std::string root = scratch / "Backup";
    std::string archive = scratch / "Test.vlb";
    std::vector<ZipWrittenEntry> written;
    size_t bigSize = 0;
};
}  // namespace

TEST_F(VerifierFixture, TheArchiveAsWrittenPassesWithCountsAndBytes) {
    ASSERT_EQ(5u, written.size());   // Outlook\, Accounts\, Account.txt, Inbox.pst, summary.txt
    ArchiveCheck check;
    EXPECT_TRUE(VerifyArchive(archive.c_str(), &written, check)) << check.entry << ": " << check.reason;
    EXPECT_EQ(5u, check.entries);
    EXPECT_EQ(bigSize + 12 + 7, check.bytes);
    EXPECT_TRUE(VerifyArchive(archive.c_str(), nullptr, check));
    EXPECT_FALSE(VerifyArchive((scratch / "missing.vlb").c_str(), nullptr, check));
    EXPECT_FALSE(check.ran);
}

// The central directory must hold the entries written, no more, no fewer,
// in order, with the names and data written.
TEST_F(VerifierFixture, ADirectoryThatDiffersFromWhatWasWrittenFailsAtTheEntry) {
    ArchiveCheck check;
    std::vector<ZipWrittenEntry> swapped = written;
    std::swap(swapped[2], swapped[3]);
    EXPECT_FALSE(VerifyArchive(archive.c_str(), &swapped, check));
    EXPECT_EQ(written[2].name, check.entry);

    std::vector<ZipWrittenEntry> fewer(written.begin(), written.end() - 1);
    EXPECT_FALSE(VerifyArchive(archive.c_str(), &fewer, check));
    EXPECT_EQ(written.back().name, check.entry);

    std::vector<ZipWrittenEntry> more = written;
    more.push_back({"Outlook\\lost.txt", 0, 0, true});
    EXPECT_FALSE(VerifyArchive(archive.c_str(), &more, check));
    EXPECT_NE(std::string::npos, std::string(check.reason).find("Outlook\\lost.txt"));

    std::vector<ZipWrittenEntry> renamed = written;
    renamed[4].name = "Outlook\\Summary.txt";
    EXPECT_FALSE(VerifyArchive(archive.c_str(), &renamed, check));
    EXPECT_EQ(written[4].name, check.entry);

    std::vector<ZipWrittenEntry> otherData = written;
    otherData[3].crc ^= 1;
    EXPECT_FALSE(VerifyArchive(archive.c_str(), &otherData, check));
    EXPECT_EQ(written[3].name, check.entry);
    // An entry the writer could not finish is expected to be bad: only its
    // place and name count.
    otherData[3].whole = false;
    EXPECT_TRUE(VerifyArchive(archive.c_str(), &otherData, check)) << check.entry << ": " << check.reason;
    EXPECT_EQ(4u, check.entries);
}

TEST_F(VerifierFixture, DamagedBytesOnDiskFailAtTheEntry) {
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(archive, bytes));
    ArchiveCheck check;
    for (const char* name : {"Outlook\\Inbox.pst", "Outlook\\summary.txt"}) {
        std::string damaged = bytes;
        damaged[DataOffset(bytes, name) + 1] ^= 0x20;
        ASSERT_TRUE(WriteFileBytes(archive, damaged));
        EXPECT_FALSE(VerifyArchive(archive.c_str(), &written, check)) << name;
        EXPECT_EQ(std::string(name), check.entry);
        EXPECT_FALSE(VerifyArchive(archive.c_str(), nullptr, check)) << name;
        EXPECT_EQ(std::string(name), check.entry);
    }
    // A local header that names its entry differently.
    std::string renamed = bytes;
    renamed[DataOffset(bytes, "Outlook\\summary.txt") - 5] = 'S';
    ASSERT_TRUE(WriteFileBytes(archive, renamed));
    EXPECT_FALSE(VerifyArchive(archive.c_str(), &written, check));
    // Cut short: the central directory is gone.
    ASSERT_TRUE(WriteFileBytes(archive, bytes.substr(0, bytes.size() - 30)));
    EXPECT_FALSE(VerifyArchive(archive.c_str(), &written, check));
    EXPECT_FALSE(check.passed);
}

// Two readers share the entries of a large archive: a damaged entry late in
// it is still named, and of two damaged entries the first in archive order,
// even when the other reader finds the later one first; the count is of the
// entries before it.
TEST_F(VerifierFixture, TheFirstDamagedEntryOfManyIsNamed) {
    const std::string many = scratch / "Many.vlb", folder = root + "\\Many";
    ASSERT_TRUE(MakeDirs(folder));
    std::vector<ZipWrittenEntry> entries;
    {
        CZipper zipper(many.c_str(), root.c_str());
        for (unsigned i = 0; i < 300; ++i) {
            // A large entry keeps one reader busy while the other goes on.
            std::string data = "message " + std::to_string(i * 7919u) + "\r\n";
            for (unsigned s = i, size = i == 150 ? 8000000 : 2000; data.size() < size;)
                data += static_cast<char>('a' + (s = s * 1664525u + 1013904223u) % 26);
            const std::string file = folder + "\\m" + std::to_string(i) + ".eml";
            ASSERT_TRUE(WriteFileBytes(file, data));
            ASSERT_TRUE(zipper.AddFile(file.c_str(), false));
        }
        ASSERT_TRUE(zipper.CloseArchive());
        entries = zipper.GetWrittenEntries();
    }
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(many, bytes));
    ArchiveCheck check;
    ASSERT_TRUE(VerifyArchive(many.c_str(), &entries, check)) << check.entry << ": " << check.reason;
    EXPECT_EQ(300u, check.entries);

    std::string damaged = bytes;
    damaged[DataOffset(bytes, "Many\\m290.eml") + 3] ^= 0x20;
    ASSERT_TRUE(WriteFileBytes(many, damaged));
    EXPECT_FALSE(VerifyArchive(many.c_str(), &entries, check));
    EXPECT_STREQ("Many\\m290.eml", check.entry);
    EXPECT_EQ(290u, check.entries);

    // Late in the large entry: found only once the other reader is past 290.
    damaged[DataOffset(bytes, "Many\\m151.eml") - 30 - strlen("Many\\m151.eml") - 200] ^= 0x20;
    ASSERT_TRUE(WriteFileBytes(many, damaged));
    for (int round = 0; round < 5; ++round) {
        EXPECT_FALSE(VerifyArchive(many.c_str(), &entries, check));
        EXPECT_STREQ("Many\\m150.eml", check.entry) << round;
        EXPECT_EQ(150u, check.entries) << round;
    }
    // A directory that differs after a damaged entry: the damage comes first.
    std::vector<ZipWrittenEntry> renamed = entries;
    renamed[200].name = "Many\\other.eml";
    EXPECT_FALSE(VerifyArchive(many.c_str(), &renamed, check));
    EXPECT_STREQ("Many\\m150.eml", check.entry);
}
