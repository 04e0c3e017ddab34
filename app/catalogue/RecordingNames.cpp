#include "Catalogue.h"

namespace velk {

std::string_view FileNameKey(std::string_view name) {
    const auto underscore = name.rfind('_');
    return underscore == std::string_view::npos ? name : name.substr(underscore + 1);
}

std::optional<RecordingCategory> CategoryOfKey(std::string_view key, bool aviToo) {
    if (key.size() != 5 || key[1] != '.') return std::nullopt;
    const std::string_view extension = key.substr(2);
    if (extension != "mp4" && !(aviToo && extension == "avi")) return std::nullopt;
    switch (key[0]) {
    case 'N':
        return RecordingCategory::Normal;
    case 'E':
        return RecordingCategory::Event;
    case 'U':
        return RecordingCategory::Manual;
    default:
        return std::nullopt;
    }
}

std::string_view CategoryFolderName(RecordingCategory category) {
    switch (category) {
    case RecordingCategory::Normal:
        return "ory_rec";
    case RecordingCategory::Event:
        return "evt_rec";
    case RecordingCategory::Manual:
        return "usr_rec";
    }
    return "ory_rec";
}

std::string RecordingPath(std::string_view baseFolder, RecordingCategory folder,
                          std::string_view name, bool catalogueMode) {
    std::string path(baseFolder);
    if (path.empty() || path.back() != '/') path += '/';
    if (catalogueMode) {
        path += CategoryFolderName(folder);
        path += '/';
    }
    path += name;
    return path;
}

std::string FolderOfFile(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}

QString SizeText(std::int64_t fileSize) {
    const double kb = double(fileSize) / 1024.0;
    if (kb <= 1024) return QString::asprintf("%.02lf KB", kb);
    if (kb / 1024 <= 1024) return QString::asprintf("%.02lf MB", kb / 1024);
    return QString::asprintf("%.02lf GB", kb / 1048576);
}

QString RowText(int index, std::string_view name) {
    return QString::asprintf("%04d. ", index) +
           QString::fromUtf8(name.data(), qsizetype(name.size()));
}

std::string NameOfRowText(const QString& rowText) {
    const auto space = rowText.indexOf(QLatin1Char(' '));
    return rowText.mid(space + 1).toStdString();
}

bool IsValidUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char lead = *p;
        if (lead < 0x80) {
            ++p;
            continue;
        }
        int length;
        char32_t low; // smallest code point of this length: rejects overlong forms
        if ((lead & 0xE0) == 0xC0) {
            length = 2, low = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, low = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, low = 0x10000;
        } else {
            return false;
        }
        if (end - p < length) return false;
        char32_t code = lead & (0x7F >> length);
        for (int i = 1; i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            code = (code << 6) | (p[i] & 0x3F);
        }
        if (code < low || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        p += length;
    }
    return true;
}

} // namespace velk
