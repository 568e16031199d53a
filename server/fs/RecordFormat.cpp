#include "server/fs/RecordFormat.h"

#include <limits>

#include "engine/StringUtil.h"

namespace orvex::RecordFormat {

namespace {

// Room for the separators the normalised form adds within a link's 264 characters.
constexpr size_t kLinkFieldMax = 262;

// A link directory as stored: whole when its normalised form fits, so that what the store
// wrote reads back unchanged; else cut before normalising.
std::string LinkPath(std::string_view field) {
    std::string whole = NormaliseStoredPath(field);
    if (whole.size() <= kLinkPathMax) return whole;
    return NormaliseStoredPath(field.substr(0, kLinkFieldMax));
}

uint32_t ReadOwner(std::string_view field) {
    const uint32_t id = AccountText::ReadUnsigned(field);
    return id == 0 ? kDefaultOwnerId : id;
}

std::string Mode(std::string_view field) {
    return std::string(field.substr(0, kModeMax));
}

}  // namespace

Fields SplitFields(std::string_view line) {
    Fields f;
    size_t start = 0;
    for (size_t i = 0; i <= line.size(); ++i) {
        if (i < line.size() && line[i] != ';' && line[i] != '\t') continue;
        if (f.count < kMaxFields) f.at[f.count] = line.substr(start, i - start);
        ++f.count;
        start = i + 1;
    }
    return f;
}

uint64_t ReadUnsigned64(std::string_view field) {
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    uint64_t v = 0;
    for (char c : field) {
        if (c < '0' || c > '9') break;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        v = v > (kMax - digit) / 10 ? kMax : v * 10 + digit;
    }
    return v;
}

std::string NormaliseStoredPath(std::string_view path, bool stripLeading) {
    return stripLeading ? AccountText::RelativePath(path) : AccountText::AbsolutePath(path);
}

bool IsStorableText(std::string_view text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f || c == ';' || c == '#' || c == '*' || c == '?') return false;
    return true;
}

std::string FileListHeader(int32_t directoryId) {
    return StringUtil::Format(
        "# Filename;Permissions;UserID;GroupID;Size;Free\n"
        "#\n"
        "# This file contains the names of the files inside the directory\n"
        "# with ID = %ld.\n"
        "#\n",
        static_cast<long>(directoryId));
}

std::optional<DirectoryRecord> ParseDirectoryLine(const Fields& f) {
    if (f.count < 7) return std::nullopt;
    DirectoryRecord r;
    r.path = NormaliseStoredPath(f.at[0]);
    r.id = AccountText::ReadSigned(f.at[1]);
    r.permissions = Mode(f.at[2]);
    r.owner = ReadOwner(f.at[3]);
    r.group = ReadOwner(f.at[4]);
    // An empty or non-numeric ratio means "none set here"; only a written 0 is a free directory.
    const int32_t ratio = AccountText::ReadSigned(f.at[5]);
    r.ratio = (!f.at[5].empty() && f.at[5][0] == '0') || ratio != 0 ? ratio : -1;
    r.dupeDisable = AccountText::ReadSigned(f.at[6]);
    r.mirrorId = f.count >= 8 ? AccountText::ReadSigned(f.at[7]) : 0;
    return r;
}

std::optional<FileRecord> ParseFileLine(const Fields& f) {
    if (f.count < 6 || f.at[0].empty()) return std::nullopt;
    FileRecord r;
    r.name = std::string(f.at[0]);
    r.permissions = Mode(f.at[1]);
    r.owner = ReadOwner(f.at[2]);
    r.group = ReadOwner(f.at[3]);
    r.size = ReadUnsigned64(f.at[4]);
    r.free = AccountText::ReadUnsigned(f.at[5]);
    if (f.count >= 7 && !f.at[6].empty()) r.earnedRatio = AccountText::ReadSigned(f.at[6]);
    return r;
}

std::optional<DupeRecord> ParseDupeLine(const Fields& f) {
    if (f.count < 3 || f.at[0].empty()) return std::nullopt;
    DupeRecord r;
    r.name = std::string(f.at[0]);
    r.uploader = ReadOwner(f.at[1]);
    r.time = AccountText::ReadUnsigned(f.at[2]);
    return r;
}

std::optional<DirectoryLink> ParseLinkLine(const Fields& f) {
    if (f.count < 2) return std::nullopt;
    DirectoryLink r;
    r.linkDir = LinkPath(f.at[0]);
    r.realDir = LinkPath(f.at[1]);
    return r;
}

std::string FormatDirectoryLine(const DirectoryRecord& r) {
    if (!IsStorableText(r.path) || !IsStorableText(r.permissions)) return {};
    return StringUtil::Format("%s;%ld;%s;%lu;%lu;%ld;%ld;%ld\n", r.path.c_str(),
                              static_cast<long>(r.id), r.permissions.c_str(),
                              static_cast<unsigned long>(r.owner),
                              static_cast<unsigned long>(r.group), static_cast<long>(r.ratio),
                              static_cast<long>(r.dupeDisable), static_cast<long>(r.mirrorId));
}

std::string FormatFileLine(const FileRecord& r) {
    if (r.name.empty() || !IsStorableText(r.name) || !IsStorableText(r.permissions)) return {};
    std::string line = StringUtil::Format(
        "%s;%s;%lu;%lu;%llu;%lu", r.name.c_str(), r.permissions.c_str(),
        static_cast<unsigned long>(r.owner), static_cast<unsigned long>(r.group),
        static_cast<unsigned long long>(r.size), static_cast<unsigned long>(r.free));
    // Only a known earning adds a field, so other files keep the six-field form.
    if (r.earnedRatio >= 0) line += StringUtil::Format(";%ld", static_cast<long>(r.earnedRatio));
    return line + "\n";
}

std::string FormatDupeLine(const DupeRecord& r) {
    if (r.name.empty() || !IsStorableText(r.name)) return {};
    return StringUtil::Format("%s;%lu;%lu\n", r.name.c_str(),
                              static_cast<unsigned long>(r.uploader),
                              static_cast<unsigned long>(r.time));
}

std::string FormatLinkLine(const DirectoryLink& r) {
    if (!IsStorableText(r.linkDir) || !IsStorableText(r.realDir)) return {};
    return r.linkDir + ";" + r.realDir + "\n";
}

}  // namespace orvex::RecordFormat
