#pragma once
// The recording catalogue: the naming rules of the device's recordings (key, category, card
// folder, path), the order of the lists, and the two scans that fill the three lists (the card,
// and the folder of a file opened by hand). Everything here runs on the user-interface thread.
//
// Names and paths are UTF-8 bytes exactly as the file system gives them; a name that is not
// valid UTF-8 is never listed, so every listed name opens again under the path built from it.

#include "AppGlobals.h"

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velk {

// One catalogue entry.
struct FileInfo {
    std::string fileName;      // without folder
    std::int64_t fileSize = 0; // bytes, the whole 64-bit size
    // The card folder the file was found in. The name's key chooses the list; this chooses the
    // path, so a file whose key names another folder still opens. For an opened folder it is the
    // key's category and unused (all files share one folder).
    RecordingCategory folder = RecordingCategory::Normal;

    bool operator==(const FileInfo&) const = default;
};

// Indexed by RecordingCategory; each list keeps the order in which the scan appended.
using CatalogueList = std::vector<FileInfo>;
using CatalogueLists = std::array<CatalogueList, kRecordingCategoryCount>;

// --- Naming rules (RecordingNames.cpp)

// The text after the last "_", or the whole name when there is none.
std::string_view FileNameKey(std::string_view name);
// "N.mp4", "E.mp4", "U.mp4" (and with aviToo "N.avi", "E.avi", "U.avi"), compared exactly.
std::optional<RecordingCategory> CategoryOfKey(std::string_view key, bool aviToo);
inline std::optional<RecordingCategory> CategoryOfName(std::string_view name, bool aviToo) {
    return CategoryOfKey(FileNameKey(name), aviToo);
}
// "ory_rec", "evt_rec", "usr_rec".
std::string_view CategoryFolderName(RecordingCategory category);

// The path of a listed recording. In catalogue mode: baseFolder (the card root), the card folder
// and the name, "/media/u/VELK-T/" + "evt_rec/" + name; a root given without its trailing "/"
// gets one. Otherwise baseFolder + "/" + name (a baseFolder of "" is the file system root).
// Pass the entry's own FileInfo::folder, not the category of the list it is shown in.
std::string RecordingPath(std::string_view baseFolder, RecordingCategory folder,
                          std::string_view name, bool catalogueMode);
// The folder part of a path opened by hand: everything before its last "/" ("" for "/x").
std::string FolderOfFile(std::string_view path);

// "%.02lf KB" up to 1024 KB, then "%.02lf MB" up to 1024 MB, then "%.02lf GB".
QString SizeText(std::int64_t fileSize);
// A list row's text, "%04d. %s", and back: everything after the first space (the whole text
// when it has none).
QString RowText(int index, std::string_view name);
std::string NameOfRowText(const QString& rowText);

bool IsValidUtf8(std::string_view text);

// --- Order (CatalogueOrder.cpp)

// The case-insensitive comparison of two work-list entries ("name/size"): code point by code
// point after Unicode simple case folding (one code point to one, locale-independent), then by
// length. A byte that is not part of valid UTF-8 compares as a code point of its own
// (U+DC80..U+DCFF), so the order stays total on any input. Returns <0, 0 or >0.
int CompareEntries(std::string_view a, std::string_view b);
// The UTF-8 text whose plain byte order is CompareEntries' order.
std::string CaseFoldKey(std::string_view text);
// The permutation that orders entries ascending by CompareEntries, equal entries in their
// given order: the order repeated neighbour swaps give, in O(n log n).
std::vector<std::size_t> StableOrder(const std::vector<std::string>& entries);
// "name/size" with the size in decimal.
std::string EntryText(std::string_view name, std::int64_t fileSize);

// --- Scans (CatalogueScan.cpp)

// Catalogues the card mounted at cardRoot: the files of its three folders whose key is one of
// the three ".mp4" keys, in one sorted order, appended to the list of each key's category (the
// lists are not cleared here). On success sets catalogueMode and baseFolder (= cardRoot) in
// Globals() and returns true; the caller then hands Normal, Event and Manual to the panels in
// that order. A card without recordings returns false and changes nothing: lists, baseFolder and
// catalogueMode keep describing what the panels still show.
bool ScanCatalogue(const QString& cardRoot, CatalogueLists& lists);

// Catalogues the folder of a file opened by hand (".avi" keys too), appending to the lists.
// Where a listed name equals currentFileName exactly, sets currentIndex of its category to its
// row. Returns the number of recordings listed. Touches no global state.
int CatalogueOpenedFolder(const QString& folder, std::string_view currentFileName,
                          CatalogueLists& lists,
                          std::array<std::int32_t, kRecordingCategoryCount>& currentIndex);

} // namespace velk
