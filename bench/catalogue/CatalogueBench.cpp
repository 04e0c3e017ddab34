// catalogue-bench make CARD COUNT: a card folder of COUNT recordings named as the device names
//   them, 70 % normal, 20 % event, 10 % manual, with sparse sizes from 50 MB to 3.5 GB.
// catalogue-bench run CARD: times ScanCatalogue (listing, stat, sort, split) warm and, when the
//   page cache can be dropped (root), cold; times the sort alone and the neighbour-swap sort on
//   the same work list, checks that both give the same order and that the scan's lists follow
//   it, and prints one table.
#include "BubbleSort.h"
#include "Catalogue.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using velk::RecordingCategory;
using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int Make(const std::string& card, int count) {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> kind(0, 9);
    std::uniform_int_distribution<std::int64_t> size(50'000'000, 3'500'000'000);
    for (const char* folder : {"ory_rec", "evt_rec", "usr_rec"})
        mkdir((card + "/" + folder).c_str(), 0755);
    // One recording a minute from 2020-01-01 00:00, as the device names them.
    for (int i = 0; i < count; ++i) {
        const int k = kind(random);
        const char key = k < 7 ? 'N' : k < 9 ? 'E' : 'U';
        const char* folder = key == 'N' ? "ory_rec" : key == 'E' ? "evt_rec" : "usr_rec";
        const int minute = i % 60, hour = (i / 60) % 24, day = 1 + (i / 1440) % 28,
                  month = 1 + (i / (1440 * 28)) % 12;
        char name[64];
        std::snprintf(name, sizeof name, "2020%02d%02d_%02d%02d00_%c.mp4", month, day, hour, minute,
                      key);
        const std::string path = card + "/" + folder + "/" + name;
        const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        if (fd < 0 || ftruncate(fd, size(random)) != 0) {
            std::perror(path.c_str());
            return 1;
        }
        close(fd);
    }
    return 0;
}

// The work list as the scan collects it: the three folders in order, each in listing order.
std::vector<std::string> WorkList(const std::string& card) {
    std::vector<std::string> entries;
    for (const char* folder : {"ory_rec", "evt_rec", "usr_rec"}) {
        const std::string path = card + "/" + folder;
        DIR* dir = opendir(path.c_str());
        if (!dir) continue;
        while (const dirent* entry = readdir(dir)) {
            struct stat status {};
            if (!velk::CategoryOfName(entry->d_name, false) ||
                fstatat(dirfd(dir), entry->d_name, &status, 0) != 0 || !S_ISREG(status.st_mode))
                continue;
            entries.push_back(velk::EntryText(entry->d_name, status.st_size));
        }
        closedir(dir);
    }
    return entries;
}

bool DropCaches(std::string& why) {
    sync();
    std::ofstream drop("/proc/sys/vm/drop_caches");
    if (drop << "3\n" << std::flush) return true;
    why = "cannot write /proc/sys/vm/drop_caches (needs root)";
    return false;
}

double TimedScan(const QString& card, velk::CatalogueLists& lists) {
    lists = {};
    const auto start = Clock::now();
    velk::ScanCatalogue(card, lists);
    return Milliseconds(Clock::now() - start);
}

int Run(const std::string& card) {
    const QString cardRoot = QString::fromStdString(card + "/");
    constexpr int warmRuns = 15, coldRuns = 5;
    velk::CatalogueLists lists;

    std::string coldNote;
    std::vector<double> cold;
    for (int i = 0; i < coldRuns && DropCaches(coldNote); ++i)
        cold.push_back(TimedScan(cardRoot, lists));

    std::vector<double> warm;
    TimedScan(cardRoot, lists); // fills the cache
    for (int i = 0; i < warmRuns; ++i)
        warm.push_back(TimedScan(cardRoot, lists));

    const std::vector<std::string> entries = WorkList(card);
    std::vector<double> sortTimes;
    std::vector<std::size_t> stable;
    for (int i = 0; i < warmRuns; ++i) {
        const auto start = Clock::now();
        stable = velk::StableOrder(entries);
        sortTimes.push_back(Milliseconds(Clock::now() - start));
    }
    const auto bubbleStart = Clock::now();
    const std::vector<std::size_t> bubble = velk::reference::BubbleOrder(entries);
    const double bubbleTime = Milliseconds(Clock::now() - bubbleStart);

    // The scan's lists must be the bubble-sorted work list split by key.
    velk::CatalogueLists expected;
    for (const std::size_t i : bubble) {
        const std::string& entry = entries[i];
        const auto slash = entry.rfind('/');
        const std::string name = entry.substr(0, slash);
        expected[int(*velk::CategoryOfName(name, false))].push_back(
            {name, std::stoll(entry.substr(slash + 1)), RecordingCategory::Normal});
    }
    bool listsMatch = true;
    for (int c = 0; c < 3; ++c) {
        listsMatch = listsMatch && lists[c].size() == expected[c].size();
        for (std::size_t i = 0; listsMatch && i < lists[c].size(); ++i)
            listsMatch = lists[c][i].fileName == expected[c][i].fileName &&
                         lists[c][i].fileSize == expected[c][i].fileSize;
    }

    const double warmMedian = Median(warm);
    std::printf("catalogue: %zu recordings (%zu normal, %zu event, %zu manual) in %s\n",
                entries.size(), lists[0].size(), lists[1].size(), lists[2].size(), card.c_str());
    std::printf("| measure | median ms | min ms | max ms | runs |\n|---|---:|---:|---:|---:|\n");
    auto row = [](const char* what, const std::vector<double>& t) {
        std::printf("| %s | %.2f | %.2f | %.2f | %zu |\n", what, Median(t),
                    *std::min_element(t.begin(), t.end()), *std::max_element(t.begin(), t.end()),
                    t.size());
    };
    row("ScanCatalogue (list, stat, sort, split), warm cache", warm);
    if (cold.empty())
        std::printf("| ScanCatalogue, cold cache | not measured: %s | | | 0 |\n", coldNote.c_str());
    else
        row("ScanCatalogue (list, stat, sort, split), cold cache", cold);
    row("of which the stable sort alone", sortTimes);
    row("reference: neighbour-swap sort, same work list", {bubbleTime});
    std::printf("orders identical (stable sort = neighbour-swap sort): %s\n",
                stable == bubble ? "yes" : "NO");
    std::printf("scan lists follow that order: %s\n", listsMatch ? "yes" : "NO");
    std::printf("goal, scan and sort at most 50 ms (warm median %.2f ms%s): %s\n", warmMedian,
                cold.empty() ? ""
                             : (", cold median " + std::to_string(Median(cold)) + " ms").c_str(),
                warmMedian <= 50 && (cold.empty() || Median(cold) <= 50) ? "met" : "NOT met");
    return stable == bubble && listsMatch ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "make") == 0) return Make(argv[2], std::atoi(argv[3]));
    if (argc == 3 && std::strcmp(argv[1], "run") == 0) return Run(argv[2]);
    std::fprintf(stderr, "usage: catalogue-bench make CARD COUNT | run CARD\n");
    return 2;
}
