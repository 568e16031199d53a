#include "server/fs/JournalFormat.h"

#include <charconv>
#include <cstdio>

namespace orvex::JournalFormat {

namespace {

uint32_t Check(std::string_view text) {
    const uint64_t d = Digest(text);
    return static_cast<uint32_t>(d ^ (d >> 32));
}

void Escape(std::string_view in, std::string& out) {
    for (char c : in) {
        switch (c) {
            case '%':
                out += "%25";
                break;
            case ';':
                out += "%3B";
                break;
            case '\r':
                out += "%0D";
                break;
            case '\n':
                out += "%0A";
                break;
            default:
                out += c;
        }
    }
}

std::optional<std::string> Unescape(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out += in[i];
            continue;
        }
        if (i + 2 >= in.size()) return std::nullopt;
        const std::string_view code = in.substr(i + 1, 2);
        if (code == "25")
            out += '%';
        else if (code == "3B")
            out += ';';
        else if (code == "0D")
            out += '\r';
        else if (code == "0A")
            out += '\n';
        else
            return std::nullopt;
        i += 2;
    }
    return out;
}

}  // namespace

size_t FieldCount(char kind) {
    switch (kind) {
        case 'D':
            return 8;
        case 'F':
            return 7;
        case 'A':
            return 3;
        case 'M':
            return 2;
        case 'd':
        case 'X':
        case 'f':
        case 'E':
        case 'R':
        case 'r':
        case 'C':
            return 1;
        default:
            return 0;
    }
}

uint64_t Digest(std::string_view text) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    return h;
}

std::string DigestText(uint64_t digest) {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(digest));
    return buf;
}

std::optional<uint64_t> Unsigned(std::string_view field) {
    uint64_t v = 0;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), v);
    if (ec != std::errc() || end != field.data() + field.size() || field.empty())
        return std::nullopt;
    return v;
}

std::optional<int64_t> Signed(std::string_view field) {
    int64_t v = 0;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), v);
    if (ec != std::errc() || end != field.data() + field.size() || field.empty())
        return std::nullopt;
    return v;
}

std::string FormatLine(uint64_t seq, char kind, const std::vector<std::string_view>& fields) {
    std::string line = std::to_string(seq);
    line += ';';
    line += kind;
    for (std::string_view f : fields) {
        line += ';';
        Escape(f, line);
    }
    char check[10];
    std::snprintf(check, sizeof check, ";%08x", Check(line));
    line += check;
    line += '\n';
    return line;
}

std::optional<Entry> ParseLine(std::string_view line) {
    const size_t last = line.rfind(';');
    if (last == std::string_view::npos || line.size() - last != 9) return std::nullopt;
    const std::optional<uint64_t> check = [&]() -> std::optional<uint64_t> {
        uint64_t v = 0;
        const std::string_view hex = line.substr(last + 1);
        const auto [end, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), v, 16);
        if (ec != std::errc() || end != hex.data() + hex.size()) return std::nullopt;
        return v;
    }();
    const std::string_view body = line.substr(0, last);
    if (!check || *check != Check(body)) return std::nullopt;
    std::vector<std::string_view> parts;
    for (size_t from = 0;;) {
        const size_t sep = body.find(';', from);
        parts.push_back(body.substr(from, sep == std::string_view::npos ? sep : sep - from));
        if (sep == std::string_view::npos) break;
        from = sep + 1;
    }
    Entry e;
    const std::optional<uint64_t> seq = Unsigned(parts[0]);
    if (!seq || parts.size() < 2 || parts[1].size() != 1) return std::nullopt;
    e.seq = *seq;
    e.kind = parts[1][0];
    const size_t wanted = FieldCount(e.kind);
    if (wanted == 0 || parts.size() != wanted + 2) return std::nullopt;
    for (size_t i = 2; i < parts.size(); ++i) {
        std::optional<std::string> field = Unescape(parts[i]);
        if (!field) return std::nullopt;
        e.fields.push_back(std::move(*field));
    }
    return e;
}

Read ReadText(std::string_view text) {
    Read out;
    int number = 0;
    for (size_t from = 0; from < text.size();) {
        const size_t end = text.find('\n', from);
        ++number;
        if (end == std::string_view::npos) {
            out.tornTail = true;
            break;
        }
        std::string_view line = text.substr(from, end - from);
        from = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line[0] == '#') continue;
        if (std::optional<Entry> e = ParseLine(line))
            out.entries.push_back(std::move(*e));
        else
            out.badLines.push_back(number);
    }
    return out;
}

}  // namespace orvex::JournalFormat
