// CUnzipper::UnzipFilesTo: a list of entries extracted several at once, reported
// in list order, with each file checked before it replaces its destination.
#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>

#include <string>
#include <vector>

#include "Handles.h"
#include "Log.h"
#include "TestSupport.h"
#include "Unzipper.h"
#include "Zipper.h"

using namespace testsupport;

namespace {
// Text, noise and zeros in runs, so inflate takes its several paths.
std::string Content(unsigned seed, size_t size) {
    std::string data;
    data.reserve(size);
    unsigned state = seed * 2654435761u + 1;
    while (data.size() < size) {
        state = state * 1103515245u + 12345u;
        size_t run = 500 + (state >> 8) % 40000;
        switch ((state >> 4) % 3) {
        case 0:
            for (size_t i = 0; i < run; ++i) data += "Subject: quarterly report\r\n"[i % 27];
            break;
        case 1:
            for (size_t i = 0; i < run; ++i) data += static_cast<char>((state = state * 69069u + 1) >> 24);
            break;
        default:
            data.append(run, '\0');
        }
    }
    data.resize(size);
    return data;
}

// Files below a source folder zipped under "Messages\<relative path>".
struct Archive {
    ScratchFolder scratch;
    std::string path = scratch / "test.vlb";
    std::vector<std::string> names;      // entry names in archive order
    std::vector<std::string> contents;

    void Add(const std::string& relative, const std::string& content) {
        names.push_back("Messages\\" + relative);
        contents.push_back(content);
    }
    void Write() {
        for (size_t i = 0; i < names.size(); ++i) {
            const std::string file = scratch / names[i];
            ASSERT_TRUE(MakeDirs(file.substr(0, file.rfind('\\'))) && WriteFileBytes(file, contents[i]));
        }
        CZipper zip(path.c_str(), scratch.Path().c_str());
        for (const std::string& name : names) ASSERT_TRUE(zip.AddFile(name.c_str(), false)) << name;
        ASSERT_TRUE(zip.CloseArchive());
    }
    std::vector<UnzipTarget> Targets(const std::string& folder) const {
        std::vector<UnzipTarget> targets;
        for (const std::string& name : names) targets.push_back({name, folder + "\\" + name.substr(9)});
        return targets;
    }
    // Overwrites bytes of the archive file at an offset.
    void Patch(size_t offset, const std::string& bytes) {
        std::string all;
        ASSERT_TRUE(ReadFileBytes(path, all));
        ASSERT_LE(offset + bytes.size(), all.size());
        all.replace(offset, bytes.size(), bytes);
        ASSERT_TRUE(WriteFileBytes(path, all));
    }
    // Where a header of the entry begins: the local one ("PK\3\4", name at
    // 30) or its central directory record ("PK\1\2", name at 46).
    size_t Find(const std::string& name, bool central) const {
        std::string all;
        EXPECT_TRUE(ReadFileBytes(path, all));
        const char* signature = central ? "PK\x01\x02" : "PK\x03\x04";
        const size_t nameAt = central ? 46 : 30;
        for (size_t at = 0; (at = all.find(signature, at, 4)) != std::string::npos; ++at)
            if (all.compare(at + nameAt, name.size(), name) == 0) return at;
        ADD_FAILURE() << "no header for " << name;
        return 0;
    }
};

// Every report, in the order it came.
struct Reports {
    std::vector<std::pair<size_t, UnzipOutcome>> seen;
    CUnzipper::UnzipReport Recorder() {
        return [this](size_t index, UnzipOutcome outcome) {
            seen.emplace_back(index, outcome);
            return true;
        };
    }
};

// The module log written to a file of its own while the object lives.
struct LogToFile {
    ScratchFolder folder;
    LogToFile() {
        EXPECT_TRUE(g_Log.OpenLogFile((folder / "unzip.log").c_str(), true));
        g_Log.SetLogLevel(1);
    }
    ~LogToFile() {
        g_Log.Close();
        g_Log.SetLogLevel(0);
    }
    std::string Text() const {
        std::string text;
        return ReadFileBytes(folder / "unzip.log", text) ? text : std::string();
    }
};

// Temporary files the extraction leaves behind ("vlb*.tmp"), anywhere below.
size_t TemporaryFilesBelow(const std::string& folder) {
    size_t count = 0;
    for (const auto& file : ReadTree(folder)) {
        const std::string base = file.first.substr(file.first.rfind('\\') + 1);
        if (base.compare(0, 3, "vlb") == 0 && base.size() > 4 && base.compare(base.size() - 4, 4, ".tmp") == 0)
            ++count;
    }
    return count;
}

FILETIME LastWrite(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    EXPECT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) << path;
    return data.ftLastWriteTime;
}
}  // namespace

// Many entries of many sizes, in sub-folders: the batch writes what one
// extraction at a time writes, byte for byte and with the same times, and
// reports every target once, in list order, a missing entry as not found.
TEST(UnzipParallel, ManyEntriesMatchOneAtATimeInListOrder) {
    Archive archive;
    for (unsigned i = 0; i < 60; ++i) {
        size_t size = i % 10 == 0 ? 3 * 1024 * 1024 + i : i % 3 == 0 ? 70000 + i * 997 : i * 37;
        archive.Add((i % 4 ? "Folder" + std::to_string(i % 4) + "\\" : std::string()) + "File" +
                        std::to_string(i) + ".dbx",
                    Content(i, size));
    }
    ASSERT_NO_FATAL_FAILURE(archive.Write());

    const std::string parallel = archive.scratch / "parallel", single = archive.scratch / "single";
    std::vector<UnzipTarget> targets = archive.Targets(parallel);
    targets.insert(targets.begin() + 30, UnzipTarget{"Messages\\Missing.dbx", parallel + "\\Missing.dbx"});
    CUnzipper unzip(archive.path.c_str());
    Reports reports;
    ASSERT_TRUE(unzip.UnzipFilesTo(targets, reports.Recorder()));
    ASSERT_EQ(targets.size(), reports.seen.size());
    for (size_t i = 0; i < targets.size(); ++i) {
        EXPECT_EQ(i, reports.seen[i].first);
        EXPECT_EQ(i == 30 ? UnzipOutcome::NotFound : UnzipOutcome::Extracted, reports.seen[i].second) << i;
    }

    for (const UnzipTarget& target : archive.Targets(single)) {
        ASSERT_TRUE(unzip.GotoFile(target.entry.c_str(), false));
        ASSERT_TRUE(unzip.UnzipFileTo(target.destination.c_str())) << target.entry;
    }
    const auto ours = ReadTree(parallel), theirs = ReadTree(single);
    ASSERT_EQ(archive.names.size(), ours.size());
    EXPECT_TRUE(ours == theirs);
    for (size_t i = 0; i < archive.names.size(); ++i) {
        const std::string relative = archive.names[i].substr(9);
        std::string bytes;
        EXPECT_TRUE(ReadFileBytes(parallel + "\\" + relative, bytes) && bytes == archive.contents[i]) << relative;
        const FILETIME ourTime = LastWrite(parallel + "\\" + relative), theirTime = LastWrite(single + "\\" + relative);
        EXPECT_EQ(0, CompareFileTime(&ourTime, &theirTime)) << relative;
    }
    EXPECT_EQ(0u, TemporaryFilesBelow(archive.scratch.Path()));
}

static SIZE_T PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    EXPECT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters)));
    return counters.PeakWorkingSetSize;
}

// Lists in which nothing, or only one entry, is found: each target is
// reported, nothing but the one file appears, and no lane is opened for
// entries that are not there (each would hold a handle and its buffers).
TEST(UnzipParallel, ListsWithoutEntriesToExtract) {
    const SIZE_T peakBefore = PeakWorkingSet();
    Archive archive;
    archive.Add("Only.dbx", Content(1, 5000));
    ASSERT_NO_FATAL_FAILURE(archive.Write());
    const std::string out = archive.scratch / "out";
    CUnzipper unzip(archive.path.c_str());
    Reports none;
    EXPECT_TRUE(unzip.UnzipFilesTo({}, none.Recorder()));
    EXPECT_TRUE(none.seen.empty());

    const std::vector<UnzipTarget> missing = {{"Messages\\Gone1.dbx", out + "\\Gone1.dbx"},
                                              {"Messages\\Gone2.dbx", out + "\\Gone2.dbx"}};
    Reports notFound;
    ASSERT_TRUE(unzip.UnzipFilesTo(missing, notFound.Recorder()));
    ASSERT_EQ(2u, notFound.seen.size());
    EXPECT_EQ(UnzipOutcome::NotFound, notFound.seen[0].second);
    EXPECT_EQ(UnzipOutcome::NotFound, notFound.seen[1].second);

    std::vector<UnzipTarget> one = missing;
    one.push_back({"Messages\\Only.dbx", out + "\\Only.dbx"});
    Reports single;
    ASSERT_TRUE(unzip.UnzipFilesTo(one, single.Recorder()));
    ASSERT_EQ(3u, single.seen.size());
    EXPECT_EQ(UnzipOutcome::Extracted, single.seen[2].second);
    const auto tree = ReadTree(out);
    ASSERT_EQ(1u, tree.size());
    std::string bytes;
    EXPECT_TRUE(ReadFileBytes(out + "\\Only.dbx", bytes) && bytes == archive.contents[0]);
    EXPECT_LT(PeakWorkingSet() - peakBefore, SIZE_T(32) << 20);
}

// A bad entry in the middle (a CRC-32 that does not match its data, or data
// that does not inflate) fails alone, logged as damaged, and its old file
// stays; the entries around it are restored.
TEST(UnzipParallel, DamagedEntryFailsAloneAndKeepsItsFile) {
    Archive archive;
    // File10 is large enough to be written by a thread of its own.
    for (unsigned i = 0; i < 12; ++i)
        archive.Add("File" + std::to_string(i) + ".dbx", Content(100 + i, i == 10 ? 5 << 20 : 200000 + i));
    ASSERT_NO_FATAL_FAILURE(archive.Write());
    // File4 and File10: another CRC-32 in both headers (local at 14, central
    // at 16), so only the data can tell; File8: deflate data overwritten a
    // little into the entry.
    const std::string badData = "Messages\\File8.dbx";
    const std::vector<std::string> wrongCrc = {"Messages\\File4.dbx", "Messages\\File10.dbx"};
    for (const std::string& name : wrongCrc) {
        ASSERT_NO_FATAL_FAILURE(archive.Patch(archive.Find(name, false) + 14, "\x01\x02\x03\x04"));
        ASSERT_NO_FATAL_FAILURE(archive.Patch(archive.Find(name, true) + 16, "\x01\x02\x03\x04"));
    }
    ASSERT_NO_FATAL_FAILURE(
        archive.Patch(archive.Find(badData, false) + 30 + badData.size() + 2000, std::string(64, '\xff')));

    const std::string target = archive.scratch / "target";
    const std::vector<UnzipTarget> targets = archive.Targets(target);
    for (const UnzipTarget& each : targets) ASSERT_TRUE(MakeDirs(target) && WriteFileBytes(each.destination, "old"));
    LogToFile log;
    CUnzipper unzip(archive.path.c_str());
    Reports reports;
    ASSERT_TRUE(unzip.UnzipFilesTo(targets, reports.Recorder()));
    ASSERT_EQ(targets.size(), reports.seen.size());
    for (size_t i = 0; i < targets.size(); ++i) {
        const bool bad = targets[i].entry == badData || targets[i].entry == wrongCrc[0] ||
                         targets[i].entry == wrongCrc[1];
        EXPECT_EQ(i, reports.seen[i].first);
        EXPECT_EQ(bad ? UnzipOutcome::Failed : UnzipOutcome::Extracted, reports.seen[i].second) << i;
        std::string bytes;
        ASSERT_TRUE(ReadFileBytes(targets[i].destination, bytes));
        EXPECT_TRUE(bytes == (bad ? std::string("old") : archive.contents[i])) << targets[i].entry;
    }
    const std::string text = log.Text();
    for (const std::string& bad : {wrongCrc[0], wrongCrc[1], badData})
        EXPECT_NE(std::string::npos, text.find("The entry " + bad + " is damaged in the backup file")) << text;
    EXPECT_EQ(0u, TemporaryFilesBelow(target));
}

// A stop set while the first report is made: no further target is reported,
// both lanes end before the call returns (no temporary file stays), every
// destination holds either its old data or the whole new file, and the
// large entries still being inflated are not put in place.
TEST(UnzipParallel, StopEndsBothLanesAndKeepsWhatWasNotReplaced) {
    Archive archive;
    archive.Add("Small.dbx", Content(1, 1000));
    for (unsigned i = 0; i < 5; ++i) archive.Add("Large" + std::to_string(i) + ".dbx", Content(50 + i, 12 << 20));
    ASSERT_NO_FATAL_FAILURE(archive.Write());

    const std::string target = archive.scratch / "target";
    const std::vector<UnzipTarget> targets = archive.Targets(target);
    for (const UnzipTarget& each : targets) ASSERT_TRUE(MakeDirs(target) && WriteFileBytes(each.destination, "old"));
    volatile bool stop = false;
    CUnzipper unzip(archive.path.c_str());
    unzip.SetStopFlag(&stop);
    size_t reported = 0;
    EXPECT_FALSE(unzip.UnzipFilesTo(targets, [&](size_t, UnzipOutcome) {
        ++reported;
        stop = true;
        return true;
    }));
    EXPECT_EQ(1u, reported);
    EXPECT_EQ(0u, TemporaryFilesBelow(target));
    size_t replaced = 0;
    for (size_t i = 0; i < targets.size(); ++i) {
        std::string bytes;
        ASSERT_TRUE(ReadFileBytes(targets[i].destination, bytes));
        EXPECT_TRUE(bytes == "old" || bytes == archive.contents[i]) << targets[i].entry << ": " << bytes.size();
        replaced += bytes != "old";
    }
    EXPECT_LT(replaced, targets.size() - 2);

    // Stopped before it starts: nothing is reported or touched.
    reported = 0;
    EXPECT_FALSE(unzip.UnzipFilesTo(targets, [&](size_t, UnzipOutcome) { return ++reported, true; }));
    EXPECT_EQ(0u, reported);
}

// A destination another program holds open without sharing is not replaced:
// the log names it with the error of the failed replace, and the others are
// restored.
TEST(UnzipParallel, HeldDestinationIsLoggedWithItsError) {
    Archive archive;
    for (unsigned i = 0; i < 4; ++i) archive.Add("File" + std::to_string(i) + ".dbx", Content(200 + i, 50000));
    ASSERT_NO_FATAL_FAILURE(archive.Write());
    const std::string target = archive.scratch / "target";
    const std::vector<UnzipTarget> targets = archive.Targets(target);
    for (const UnzipTarget& each : targets) ASSERT_TRUE(MakeDirs(target) && WriteFileBytes(each.destination, "old"));

    LogToFile log;
    Reports reports;
    {
        CHandle held(CreateFileA(targets[2].destination.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held.IsValid());
        CUnzipper unzip(archive.path.c_str());
        ASSERT_TRUE(unzip.UnzipFilesTo(targets, reports.Recorder()));
    }
    ASSERT_EQ(targets.size(), reports.seen.size());
    for (size_t i = 0; i < targets.size(); ++i) {
        EXPECT_EQ(i == 2 ? UnzipOutcome::Failed : UnzipOutcome::Extracted, reports.seen[i].second) << i;
        std::string bytes;
        ASSERT_TRUE(ReadFileBytes(targets[i].destination, bytes));
        EXPECT_TRUE(bytes == (i == 2 ? std::string("old") : archive.contents[i])) << i;
    }
    const std::string text = log.Text();
    const std::string line = "Failed to replace " + targets[2].destination + " with error = ";
    const size_t at = text.find(line);
    ASSERT_NE(std::string::npos, at) << text;
    const int error = atoi(text.c_str() + at + line.size());
    EXPECT_TRUE(error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) << text;
    EXPECT_EQ(0u, TemporaryFilesBelow(target));
}
