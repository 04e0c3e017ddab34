#include "Catalogue.h"
#include "EventLog.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace velk {
namespace {

// A file taken into the work list.
struct Found {
    std::string name;
    std::int64_t size;
    RecordingCategory list;   // by its key
    RecordingCategory folder; // where it was found
};

void LogSkip(const std::string& path, const char* reason) {
    if (EventLogEnabled())
        LogEvent(QStringLiteral("skip %1 %2").arg(EscapedText(path), QLatin1String(reason)));
}

// Appends the recordings of one folder in the file system's listing order. A folder that is
// missing or unreadable contributes nothing, an entry that cannot be taken is skipped, and
// either is named in the event log.
void CollectFolder(const std::string& folderPath, RecordingCategory folder, bool aviToo,
                   std::vector<Found>& found) {
    DIR* dir = opendir(folderPath.c_str());
    if (!dir) {
        LogSkip(folderPath, errno == ENOENT ? "missing" : "unreadable");
        return;
    }
    const int dirFd = dirfd(dir);
    std::string prefix = folderPath;
    if (prefix.empty() || prefix.back() != '/') prefix += '/';
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir);
        if (!entry) {
            if (errno != 0) LogSkip(folderPath, "read-error");
            break;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        const auto list = CategoryOfName(name, aviToo);
        if (!list) {
            LogSkip(prefix + std::string(name), "no-key");
            continue;
        }
        // Such a name could not be given back to the file system unchanged from its shown text.
        if (!IsValidUtf8(name)) {
            LogSkip(prefix + std::string(name), "not-utf8");
            continue;
        }
        if (entry->d_type == DT_DIR) {
            LogSkip(prefix + std::string(name), "directory");
            continue;
        }
        struct stat status {};
        if (fstatat(dirFd, entry->d_name, &status, 0) != 0) {
            LogSkip(prefix + std::string(name), errno == ENOENT ? "vanished" : "unreadable");
            continue;
        }
        if (S_ISDIR(status.st_mode)) {
            LogSkip(prefix + std::string(name), "directory");
            continue;
        }
        // A pipe or a device would block or never end when played.
        if (!S_ISREG(status.st_mode)) {
            LogSkip(prefix + std::string(name), "not-a-file");
            continue;
        }
        found.push_back({std::string(name), std::int64_t(status.st_size), *list, folder});
    }
    closedir(dir);
}

// The work list in its sorted order.
std::vector<std::size_t> SortedOrder(const std::vector<Found>& found) {
    std::vector<std::string> entries;
    entries.reserve(found.size());
    for (const auto& file : found)
        entries.push_back(EntryText(file.name, file.size));
    return StableOrder(entries);
}

} // namespace

bool ScanCatalogue(const QString& cardRoot, CatalogueLists& lists) {
    const std::string root = QFile::encodeName(cardRoot).toStdString();
    std::vector<Found> found;
    for (const auto folder :
         {RecordingCategory::Normal, RecordingCategory::Event, RecordingCategory::Manual}) {
        const std::string folderPath =
            RecordingPath(root, folder, std::string_view(), /*catalogueMode=*/true);
        CollectFolder(folderPath, folder, /*aviToo=*/false, found);
    }
    // Nothing found: the panels keep showing their rows, so baseFolder and catalogueMode must
    // keep resolving those rows to their files.
    if (found.empty()) return false;

    AppGlobals& globals = Globals();
    globals.baseFolder = root;
    globals.catalogueMode = true;
    for (const std::size_t i : SortedOrder(found)) {
        Found& file = found[i];
        lists[int(file.list)].push_back({std::move(file.name), file.size, file.folder});
    }
    return true;
}

int CatalogueOpenedFolder(const QString& folder, std::string_view currentFileName,
                          CatalogueLists& lists,
                          std::array<std::int32_t, kRecordingCategoryCount>& currentIndex) {
    std::string path = QFile::encodeName(folder).toStdString();
    if (path.empty()) path = "/";
    std::vector<Found> found;
    CollectFolder(path, RecordingCategory::Normal, /*aviToo=*/true, found);
    for (const std::size_t i : SortedOrder(found)) {
        Found& file = found[i];
        CatalogueList& list = lists[int(file.list)];
        // The row the entry lands on, also when the caller left earlier entries in the list.
        if (file.name == currentFileName) currentIndex[int(file.list)] = std::int32_t(list.size());
        list.push_back({std::move(file.name), file.size, file.list});
    }
    return int(found.size());
}

} // namespace velk
