#include "zel/foundation/CZELIniManager.h"

#include "zel/foundation/ZELStatus.h"
#include "zel/platform/ZELFile.h"
#include "zel/platform/ZELProcess.h"

// Bytes are taken as they are: the file is in the platform's 8-bit text.
#define SI_NO_CONVERSION
#include <SimpleIni.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>
#include <vector>

namespace {

std::string_view Trim(std::string_view text)
{
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

// Name of a section header line ("[name]"), or nothing for any other line.
std::optional<std::string_view> SectionName(std::string_view line)
{
    constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    if (line.starts_with(byteOrderMark))
        line.remove_prefix(byteOrderMark.size());
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[')
        return std::nullopt;
    const auto close = line.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return Trim(line.substr(1, close - 1));
}

// Key of a "key=value" line, or nothing for comments and other lines.
std::optional<std::string_view> KeyName(std::string_view line)
{
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#')
        return std::nullopt;
    const auto equals = trimmed.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    return Trim(trimmed.substr(0, equals));
}

// Splits into lines that keep their own line endings (CR LF, LF or a lone CR, as the reader
// counts them), so the file can be put back byte for byte.
std::vector<std::string> SplitLines(const std::string& content)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        auto stop = content.find_first_of("\r\n", start);
        if (stop == std::string::npos)
            stop = content.size();
        else if (content[stop] == '\r' && stop + 1 < content.size() && content[stop + 1] == '\n')
            stop += 2;
        else
            stop += 1;
        lines.push_back(content.substr(start, stop - start));
        start = stop;
    }
    return lines;
}

// Lines [first, end) of the first section of that name: a later section of the same name and
// every duplicate key after the first are never read and never written.
struct SectionLines
{
    std::size_t first;
    std::size_t end;
};

std::optional<SectionLines> FindFirstSection(const std::vector<std::string>& lines, std::string_view section)
{
    std::optional<SectionLines> found;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto name = SectionName(lines[i]);
        if (!name)
            continue;
        if (found) {
            found->end = i;
            return found;
        }
        if (EqualNoCase(*name, section))
            found = SectionLines{i + 1, lines.size()};
    }
    return found;
}

} // namespace

CZELIniManager::CZELIniManager()
{
    const std::string directory = ZELPlatform::GetCurrentDirectory();
    if (!directory.empty())
        m_defaultPath = ZELPlatform::JoinPath(directory, "ZEL.ini");
}

const std::string& CZELIniManager::Resolve(const std::string& file) const
{
    return file.empty() ? m_defaultPath : file;
}

long CZELIniManager::GetEntry(const std::string& section, const std::string& key, std::string* value,
    const std::string& file)
{
    if (value == nullptr)
        return ZEL_STATUS_INVALID_PARAMETER;
    std::string content;
    if (section.empty() || key.empty() || !ZELPlatform::ReadWholeFile(Resolve(file), content))
        return ZEL_STATUS_NOT_FOUND;

    // The parser stops at a NUL byte; the writer does not, so neither may the reader.
    std::replace(content.begin(), content.end(), '\0', ' ');
    const std::vector<std::string> lines = SplitLines(content);
    const auto span = FindFirstSection(lines, section);
    if (!span)
        return ZEL_STATUS_NOT_FOUND;
    // The parser sees only that section, under a name of its own, and keeps every duplicate key
    // so that the first one can be taken.
    std::string body = "[s]\n";
    for (std::size_t i = span->first; i < span->end; ++i)
        body += lines[i];
    CSimpleIniA ini(/*isUtf8=*/false, /*multiKey=*/true, /*multiLine=*/false);
    ini.SetQuotes(true);
    if (ini.LoadData(body.data(), body.size()) < 0)
        return ZEL_STATUS_NOT_FOUND;
    const char* found = ini.GetValue("s", key.c_str(), nullptr);
    if (found == nullptr || *found == '\0')
        return ZEL_STATUS_NOT_FOUND;
    value->assign(found, std::min(std::char_traits<char>::length(found), kBufferSize - 1));
    return ZEL_STATUS_SUCCESS;
}

long CZELIniManager::SetEntry(const std::string& section, const std::string& key, const std::string& value,
    const std::string& file)
{
    const auto hasLineBreak = [](const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; };
    if (section.empty() || key.empty() || hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value))
        return ZEL_STATUS_INVALID_PARAMETER;
    const std::string& path = Resolve(file);
    if (path.empty())
        return ZEL_STATUS_UNSPECIFIC_ERROR;

    std::string content;
    if (ZELPlatform::FileExists(path) && !ZELPlatform::ReadWholeFile(path, content))
        return ZEL_STATUS_UNSPECIFIC_ERROR;

    const std::string newline = content.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    std::vector<std::string> lines = SplitLines(content);
    const std::string entry = key + "=" + value;

    // The key inside the section, or the place after the section's last entry.
    const auto span = FindFirstSection(lines, section);
    std::optional<std::size_t> keyLine;
    std::size_t insertAt = span ? span->first : lines.size();
    for (std::size_t i = insertAt; span && i < span->end; ++i) {
        if (const auto name = KeyName(lines[i]); name && EqualNoCase(*name, key)) {
            keyLine = i;
            break;
        }
        if (!Trim(lines[i]).empty())
            insertAt = i + 1;
    }

    const auto endsWithNewline = [](const std::string& line) {
        return !line.empty() && (line.back() == '\n' || line.back() == '\r');
    };
    if (keyLine) {
        std::string& line = lines[*keyLine];
        const auto ending = line.find_first_of("\r\n");
        line = entry + (ending == std::string::npos ? std::string() : line.substr(ending));
    } else if (span) {
        if (insertAt > 0 && !endsWithNewline(lines[insertAt - 1]))
            lines[insertAt - 1] += newline;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), entry + newline);
    } else {
        if (!lines.empty() && !endsWithNewline(lines.back()))
            lines.back() += newline;
        lines.push_back("[" + section + "]" + newline);
        lines.push_back(entry + newline);
    }

    std::string updated;
    updated.reserve(content.size() + entry.size() + section.size() + 8);
    for (const std::string& line : lines)
        updated += line;
    return ZELPlatform::ReplaceFileContent(path, updated) ? ZEL_STATUS_SUCCESS : ZEL_STATUS_UNSPECIFIC_ERROR;
}
