#include "log/ini_reader.h"

#include <iterator>

namespace mINI {

namespace INIStringUtil {

void trim(std::string& text)
{
    static const char* const blanks = " \t\n\r\f\v";
    text.erase(text.find_last_not_of(blanks) + 1);
    text.erase(0, text.find_first_not_of(blanks));
}

} // namespace INIStringUtil

namespace INIParser {

namespace {

// Positions of unescaped '=': every "\=" is masked while searching.
size_t findAssignment(const std::string& line)
{
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '=') {
            ++i;
            continue;
        }
        if (line[i] == '=') {
            return i;
        }
    }
    return std::string::npos;
}

void unescapeAssignments(std::string& key)
{
    size_t pos = 0;
    while ((pos = key.find("\\=", pos)) != std::string::npos) {
        key.replace(pos, 2, "=");
        ++pos;
    }
}

} // namespace

PDataType parseLine(std::string line, std::pair<std::string, std::string>& out)
{
    out.first.clear();
    out.second.clear();
    INIStringUtil::trim(line);
    if (line.empty()) {
        return PDataType::LINE_EMPTY;
    }
    if (line[0] == ';') {
        return PDataType::LINE_COMMENT;
    }
    if (line[0] == '[') {
        auto comment = line.find(';');
        if (comment != std::string::npos) {
            line.erase(comment);
        }
        auto closing = line.rfind(']');
        if (closing != std::string::npos) {
            std::string section = line.substr(1, closing - 1);
            INIStringUtil::trim(section);
            out.first = section;
            return PDataType::LINE_SECTION;
        }
    }
    auto assignment = findAssignment(line);
    if (assignment == std::string::npos) {
        return PDataType::LINE_OTHER;
    }
    std::string key = line.substr(0, assignment);
    std::string value = line.substr(assignment + 1);
    INIStringUtil::trim(key);
    unescapeAssignments(key);
    INIStringUtil::trim(value);
    out.first = key;
    out.second = value;
    return PDataType::LINE_KEY_VALUE;
}

} // namespace INIParser

namespace {

std::vector<std::string> splitLines(const std::string& content)
{
    std::vector<std::string> lines;
    if (content.empty()) {
        return lines;
    }
    std::string line;
    for (char c : content) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (c != '\r' && c != '\0') {
            line += c;
        }
    }
    lines.push_back(line);
    return lines;
}

void merge(const std::vector<std::string>& lines, INIStructure& data)
{
    std::string section;
    bool inSection = false;
    std::pair<std::string, std::string> parsed;
    for (const auto& line : lines) {
        switch (INIParser::parseLine(line, parsed)) {
        case INIParser::PDataType::LINE_SECTION:
            section = parsed.first;
            inSection = true;
            data[section];
            break;
        case INIParser::PDataType::LINE_KEY_VALUE:
            if (inSection) {
                data[section][parsed.first] = parsed.second;
            }
            break;
        default:
            break;
        }
    }
}

} // namespace

INIReader::INIReader(const std::string& path)
    : stream(path, std::ios::in | std::ios::binary)
{
}

std::vector<std::string> INIReader::readFile()
{
    stream.seekg(0, std::ios::end);
    auto size = stream.tellg();
    stream.seekg(0, std::ios::beg);
    std::string content;
    if (size > 0) {
        content.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    }
    stream.close();
    if (content.size() >= 3 && static_cast<unsigned char>(content[0]) == 0xEF
        && static_cast<unsigned char>(content[1]) == 0xBB && static_cast<unsigned char>(content[2]) == 0xBF) {
        hasBom = true;
        content.erase(0, 3);
    }
    return splitLines(content);
}

bool INIReader::operator>>(INIStructure& data)
{
    if (!stream.is_open()) {
        return false;
    }
    merge(readFile(), data);
    return true;
}

void parseText(const std::string& text, INIStructure& data)
{
    merge(splitLines(text), data);
}

} // namespace mINI
