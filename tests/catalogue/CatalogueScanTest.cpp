// The card catalogue and the opened-folder catalogue on real folders and files.
#include "Catalogue.h"
#include "EventLog.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace velk {
namespace {

using C = RecordingCategory;
constexpr std::int64_t GiB = std::int64_t(1) << 30;

class CatalogueScan : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_root = m_dir.path().toStdString() + "/";
        Globals() = AppGlobals{};
    }
    void TearDown() override {
        // Without following links: QTemporaryDir's own removal stops at a symlink loop.
        std::filesystem::remove_all(m_dir.path().toStdString());
        SetEventLogEnabled(false);
        Globals() = AppGlobals{};
    }

    QString Root() const { return QString::fromStdString(m_root); }
    std::string Path(const std::string& relative) const { return m_root + relative; }

    // A file of the given size; large sizes cost nothing on disk.
    void File(const std::string& relative, std::int64_t size = 0) const {
        std::filesystem::create_directories(std::filesystem::path(Path(relative)).parent_path());
        const int fd = ::open(Path(relative).c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0) << relative;
        ASSERT_EQ(::ftruncate(fd, size), 0) << relative;
        ::close(fd);
    }
    void Folder(const std::string& relative) const {
        std::filesystem::create_directories(Path(relative));
    }

    // Every listed entry names, under the path built from it, a file of its listed size.
    void ExpectEntriesOpen(const CatalogueLists& lists, bool catalogueMode) const {
        for (const auto& list : lists) {
            for (const auto& entry : list) {
                const std::string path = RecordingPath(Globals().baseFolder, entry.folder,
                                                       entry.fileName, catalogueMode);
                const QFileInfo info(QString::fromStdString(path));
                EXPECT_TRUE(info.isFile()) << path;
                EXPECT_EQ(info.size(), entry.fileSize) << path;
            }
        }
    }

    QTemporaryDir m_dir;
    std::string m_root;
};

TEST_F(CatalogueScan, KeyChoosesTheListFolderChoosesThePath) {
    File("ory_rec/20200101_120000_N.mp4", 512);
    File("ory_rec/20200101_130000_E.mp4", 1000); // an event recording in the normal folder
    File("ory_rec/20200101_120000_N.MP4", 1);
    File("ory_rec/20200101_120000_N.avi", 1);
    File("ory_rec/notes.txt", 1);
    File("ory_rec/20200101_140000_N.mp4/inner_N.mp4", 1); // a folder named like a recording
    File("evt_rec/20200101_120500_E.mp4", 3145728);
    File("usr_rec/20200101_121000_U.mp4", 0);
    File("usr_rec/E.mp4", 7); // no underscore: the whole name is the key

    CatalogueLists lists;
    lists[0].push_back({"kept_N.mp4", 1, C::Normal}); // the scan appends; the caller clears
    ASSERT_TRUE(ScanCatalogue(Root(), lists));

    EXPECT_EQ(Globals().baseFolder, m_root);
    EXPECT_TRUE(Globals().catalogueMode);
    EXPECT_EQ(lists[0], (CatalogueList{{"kept_N.mp4", 1, C::Normal},
                                       {"20200101_120000_N.mp4", 512, C::Normal}}));
    EXPECT_EQ(lists[1], (CatalogueList{{"20200101_120500_E.mp4", 3145728, C::Event},
                                       {"20200101_130000_E.mp4", 1000, C::Normal},
                                       {"E.mp4", 7, C::Manual}}));
    EXPECT_EQ(lists[2], (CatalogueList{{"20200101_121000_U.mp4", 0, C::Manual}}));
    lists[0].erase(lists[0].begin());
    ExpectEntriesOpen(lists, true);
}

TEST_F(CatalogueScan, FoldersMergeIntoOneCaseInsensitiveOrder) {
    File("ory_rec/b_N.mp4", 1);
    File("ory_rec/a_N.mp4", 1);
    File("ory_rec/x_N.mp4", 900);
    File("evt_rec/B_N.mp4", 1);
    File("evt_rec/x_N.mp4", 1000);
    File("usr_rec/A_N.mp4", 1);

    CatalogueLists lists;
    ASSERT_TRUE(ScanCatalogue(Root(), lists));
    // Equal but for case: next to each other, in folder order. Equal names: "/1000" before
    // "/900", because the size is compared as text.
    EXPECT_EQ(lists[0], (CatalogueList{{"a_N.mp4", 1, C::Normal},
                                       {"A_N.mp4", 1, C::Manual},
                                       {"b_N.mp4", 1, C::Normal},
                                       {"B_N.mp4", 1, C::Event},
                                       {"x_N.mp4", 1000, C::Event},
                                       {"x_N.mp4", 900, C::Normal}}));
    EXPECT_TRUE(lists[1].empty());
    EXPECT_TRUE(lists[2].empty());
    ExpectEntriesOpen(lists, true);
}

TEST_F(CatalogueScan, CardWithoutRecordingsChangesNothing) {
    const char* const cards[] = {"missing", "empty", "others"};
    File("others/ory_rec/notes.txt");
    File("others/ory_rec/x_N.MP4");
    File("others/evt_rec/y_E.avi");
    Folder("others/usr_rec/z_U.mp4");
    Folder("empty");
    for (const char* card : cards) {
        // What a folder opened by hand left behind, still shown by the panels.
        Globals().baseFolder = "/home/u/clips";
        Globals().catalogueMode = false;
        CatalogueLists lists;
        lists[1].push_back({"b_E.avi", 5, C::Event});
        const CatalogueLists before = lists;

        EXPECT_FALSE(ScanCatalogue(QString::fromStdString(Path(card)), lists)) << card;
        EXPECT_EQ(lists, before) << card;
        EXPECT_EQ(Globals().baseFolder, "/home/u/clips") << card;
        EXPECT_FALSE(Globals().catalogueMode) << card;
    }
}

TEST_F(CatalogueScan, SizesOfTwoGibibytesAndMore) {
    File("ory_rec/a_N.mp4", 2 * GiB + 1); // low 32 bits negative
    File("ory_rec/b_N.mp4", 5 * GiB);
    File("ory_rec/c_N.mp4", 4 * GiB + 512); // low 32 bits: 512
    CatalogueLists lists;
    ASSERT_TRUE(ScanCatalogue(Root(), lists));
    EXPECT_EQ(lists[0], (CatalogueList{{"a_N.mp4", 2 * GiB + 1, C::Normal},
                                       {"b_N.mp4", 5 * GiB, C::Normal},
                                       {"c_N.mp4", 4 * GiB + 512, C::Normal}}));
    EXPECT_EQ(SizeText(lists[0][0].fileSize), "2.00 GB");
    EXPECT_EQ(SizeText(lists[0][1].fileSize), "5.00 GB");
    EXPECT_EQ(SizeText(lists[0][2].fileSize), "4.00 GB");
}

TEST_F(CatalogueScan, BadEntriesAreSkippedAndLogged) {
    const std::string longName = std::string(249, 'a') + "_N.mp4"; // 255 bytes, the most allowed
    File("ory_rec/" + longName, 3);
    File("ory_rec/ok_N.mp4", 4);
    File("ory_rec/\xff\xfe_N.mp4", 5);
    std::filesystem::create_symlink(Path("nowhere"), Path("ory_rec/gone_N.mp4"));
    ASSERT_EQ(::mkfifo(Path("ory_rec/pipe_N.mp4").c_str(), 0644), 0);
    Folder("elsewhere");
    std::filesystem::create_directory_symlink(Path("elsewhere"), Path("ory_rec/dir_N.mp4"));
    File("evt_rec", 1); // a file where the folder should be
    std::filesystem::create_directory_symlink(Path("usr_rec"), Path("usr_rec")); // a loop

    SetEventLogEnabled(true);
    testing::internal::CaptureStderr();
    CatalogueLists lists;
    const bool found = ScanCatalogue(Root(), lists);
    const std::string log = testing::internal::GetCapturedStderr();

    ASSERT_TRUE(found);
    EXPECT_EQ(lists[0], (CatalogueList{{longName, 3, C::Normal}, {"ok_N.mp4", 4, C::Normal}}));
    ExpectEntriesOpen(lists, true);
    const std::string expectedLines[] = {
        "skip " + m_root + "ory_rec/\\xff\\xfe_N.mp4 not-utf8\n",
        "skip " + m_root + "ory_rec/gone_N.mp4 vanished\n",
        "skip " + m_root + "ory_rec/pipe_N.mp4 not-a-file\n",
        "skip " + m_root + "ory_rec/dir_N.mp4 directory\n",
        "skip " + m_root + "evt_rec/ unreadable\n",
        "skip " + m_root + "usr_rec/ unreadable\n",
    };
    for (const auto& line : expectedLines)
        EXPECT_NE(log.find(line), std::string::npos) << line << "in:\n" << log;
}

TEST_F(CatalogueScan, OpenedFolderListsAviTooAndFindsTheOpenedFile) {
    File("clips/a_N.mp4", 10);
    File("clips/b_E.avi", 20);
    File("clips/B_N.mp4", 30);
    File("clips/c_N.avi", 40);
    File("clips/c_N.MP4", 1);
    File("clips/notes.txt", 1);
    Folder("clips/d_U.mp4");
    const QString folder = QString::fromStdString(Path("clips"));

    struct Case {
        const char* current;
        std::size_t prefilled; // entries a caller left in the Normal list
        std::array<std::int32_t, 3> index;
    } const cases[] = {
        {"c_N.avi", 0, {2, 8, 9}},
        {"b_E.avi", 0, {7, 0, 9}},
        {"C_N.avi", 0, {7, 8, 9}}, // the name must match exactly
        {"a_N.mp4", 2, {2, 8, 9}}, // the row it lands on, after the entries left in the list
    };
    for (const auto& c : cases) {
        CatalogueLists lists;
        lists[0].assign(c.prefilled, FileInfo{"old_N.mp4", 1, C::Normal});
        std::array<std::int32_t, 3> index{7, 8, 9};
        EXPECT_EQ(CatalogueOpenedFolder(folder, c.current, lists, index), 4) << c.current;
        EXPECT_EQ(index, c.index) << c.current;
        lists[0].erase(lists[0].begin(), lists[0].begin() + std::ptrdiff_t(c.prefilled));
        EXPECT_EQ(lists[0], (CatalogueList{{"a_N.mp4", 10, C::Normal},
                                           {"B_N.mp4", 30, C::Normal},
                                           {"c_N.avi", 40, C::Normal}}));
        EXPECT_EQ(lists[1], (CatalogueList{{"b_E.avi", 20, C::Event}}));
        EXPECT_TRUE(lists[2].empty());
    }
    EXPECT_FALSE(Globals().catalogueMode);
    Globals().baseFolder = FolderOfFile(Path("clips/b_E.avi"));
    CatalogueLists lists;
    std::array<std::int32_t, 3> index{};
    CatalogueOpenedFolder(QString::fromStdString(Globals().baseFolder), "b_E.avi", lists, index);
    ExpectEntriesOpen(lists, false);
}

} // namespace
} // namespace velk
