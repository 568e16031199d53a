#include "server/remote/AliasFile.h"

#include <cctype>

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/accounts/AccountText.h"
#include "server/accounts/PasswordCipher.h"

namespace orvex::AliasFile {

namespace {

constexpr size_t kFieldCount = 12;
constexpr char kSep = ';';

std::string Cut(std::string_view field, size_t max) {
    return std::string(field.substr(0, max));
}

std::optional<AliasRecord> ParseLine(std::string_view line) {
    const std::vector<std::string_view> f = SplitFields(line);
    if (f.size() < kFieldCount || (!f[0].empty() && f[0][0] == '#')) return std::nullopt;
    AliasRecord r;
    r.directory = ReadPathField(f[0], LocalForm);
    r.address = Cut(f[1], kAliasTextMax);
    r.port = AccountText::ReadUnsigned(f[2]);
    r.user = Cut(f[3], kAliasTextMax);
    r.password = Cut(f[4], kAliasTextMax);
    r.remotePath = ReadPathField(f[5], RemoteForm);
    // An empty type would write a NUL into the file; such a line means a generic server.
    r.serverType =
        f[6].empty() ? 'G' : static_cast<char>(std::toupper(static_cast<unsigned char>(f[6][0])));
    r.maxLogins = AccountText::ReadUnsigned(f[7]);
    r.shareUsers = AccountText::ReadUnsigned(f[8]);
    r.localPath = ReadPathField(f[9], LocalForm);
    r.encMode = AccountText::ReadUnsigned(f[10]);
    r.timeout = AccountText::ReadUnsigned(f[11]);
    return r;
}

}  // namespace

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> out;
    size_t start = 0;
    for (size_t i = 0; i <= line.size(); ++i) {
        if (i < line.size() && line[i] != ';' && line[i] != '\t') continue;
        out.push_back(line.substr(start, i - start));
        start = i + 1;
    }
    return out;
}

std::string ReadPathField(std::string_view field, std::string (*form)(std::string_view)) {
    if (field.size() <= kAliasPathMax) {
        std::string whole = form(field);
        if (whole.size() <= kAliasPathMax) return whole;
    }
    return form(field.substr(0, kAliasFieldCut));
}

std::string LocalForm(std::string_view path) {
    // Once more until nothing changes: a form that lost its leading "." (".:x") must read back
    // as itself when written.
    std::string p = AccountText::AbsolutePath(path);
    for (std::string again; (again = AccountText::AbsolutePath(p)) != p;) p = std::move(again);
    return p;
}

std::string RemoteForm(std::string_view path) {
    std::string p = LocalForm(path);
    FileUtil::ToSlashes(p);
    return p;
}

std::vector<AliasRecord> Parse(std::string_view text) {
    std::vector<AliasRecord> out;
    AccountText::ForEachLine(text, [&out](std::string_view line, int) {
        std::optional<AliasRecord> r = ParseLine(line);
        if (!r) return;
        for (const AliasRecord& seen : out)
            if (StringUtil::EqualNoCase(seen.directory, r->directory)) return;
        out.push_back(std::move(*r));
    });
    return out;
}

std::string FormatLine(const AliasRecord& r) {
    auto u = [](uint32_t v) { return static_cast<unsigned long>(v); };
    return StringUtil::Format("%s%c%s%c%lu%c%s%c%s%c%s%c%c%c%lu%c%lu%c%s%c%lu%c%lu\n",
                              r.directory.c_str(), kSep, r.address.c_str(), kSep, u(r.port), kSep,
                              r.user.c_str(), kSep, r.password.c_str(), kSep, r.remotePath.c_str(),
                              kSep, r.serverType, kSep, u(r.maxLogins), kSep, u(r.shareUsers), kSep,
                              r.localPath.c_str(), kSep, u(r.encMode), kSep, u(r.timeout));
}

std::string Format(const std::vector<AliasRecord>& records) {
    std::string text = kHeader;
    for (const AliasRecord& r : records) text += FormatLine(r);
    return text;
}

bool IsStorable(std::string_view value) {
    return AccountText::IsTableField(value);
}

bool IsStorable(const AliasRecord& r) {
    for (const std::string* s :
         {&r.directory, &r.address, &r.user, &r.password, &r.remotePath, &r.localPath})
        if (!IsStorable(*s)) return false;
    return r.directory.size() <= kAliasPathMax && r.remotePath.size() <= kAliasPathMax &&
           r.localPath.size() <= kAliasPathMax && r.address.size() <= kAliasTextMax &&
           r.user.size() <= kAliasTextMax && r.password.size() <= kAliasTextMax &&
           (r.serverType == 'D' || r.serverType == 'G');
}

std::string EncryptPassword(std::string_view user, std::string_view plain) {
    return EncryptToHex(plain, user, user, kAliasPasswordMax);
}

std::optional<std::string> DecryptPassword(std::string_view user, std::string_view stored) {
    return DecryptFromHex(stored, user, user);
}

}  // namespace orvex::AliasFile
