#include <windows.h>

#include <gtest/gtest.h>

#include "MailFixture.h"
#include "TestSupport.h"

using namespace testsupport;

TEST(MailFixture, SetUpIsDeterministicAndRemoveLeavesNothing) {
    ScratchRegistry registry;
    ScratchFolder profile;
    ASSERT_TRUE(mailfixture::SetUp(profile.Path(), false));
    const std::string first = mailfixture::Snapshot(profile.Path());
    for (const auto& identity : mailfixture::Identities()) {
        std::string store = mailfixture::ExpandedStoreFolder(profile.Path(), identity);
        EXPECT_TRUE(FileExistsAt(store + "\\Inbox.dbx")) << store;
        EXPECT_TRUE(FileExistsAt(store + "\\Archive\\Inbox.dbx")) << store;
        std::string name;
        EXPECT_TRUE(GetString(HKEY_CURRENT_USER, "Identities\\" + identity.id, "Username", name));
        EXPECT_EQ(identity.userName, name);
    }
    std::string wab;
    EXPECT_TRUE(GetString(HKEY_CURRENT_USER, "Software\\Microsoft\\WAB\\WAB4\\Wab File Name", "", wab));
    EXPECT_EQ(mailfixture::WabPath(profile.Path()), wab);

    ASSERT_TRUE(mailfixture::Remove(profile.Path()));
    EXPECT_NE(first, mailfixture::Snapshot(profile.Path()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Identities"));
    EXPECT_FALSE(FileExistsAt(mailfixture::WabPath(profile.Path())));

    ASSERT_TRUE(mailfixture::SetUp(profile.Path(), false));
    EXPECT_EQ(first, mailfixture::Snapshot(profile.Path()));
}

TEST(MailFixture, StoreFilesLookLikeMessageStores) {
    std::string a = mailfixture::MakeStoreFile(7, 50000);
    EXPECT_EQ(50000u, a.size());
    EXPECT_EQ(a, mailfixture::MakeStoreFile(7, 50000));
    EXPECT_NE(a, mailfixture::MakeStoreFile(8, 50000));
    EXPECT_EQ(std::string("\xcf\xad\x12\xfe", 4), a.substr(0, 4));
    EXPECT_NE(std::string::npos, a.find("Subject: "));
}
