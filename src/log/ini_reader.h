#pragma once

#include <cstddef>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

// A small read-only INI reader: section -> (key -> value), in insertion order,
// names case-sensitive, no quoting and no inline comments.
namespace mINI {

namespace INIStringUtil {
// Removes trailing, then leading, blanks (space, \t, \n, \r, \f, \v).
void trim(std::string& text);
} // namespace INIStringUtil

template <typename T>
class INIMap {
public:
    using Item = std::pair<std::string, T>;

    T& operator[](std::string key)
    {
        INIStringUtil::trim(key);
        auto found = index.find(key);
        if (found != index.end()) {
            return items[found->second].second;
        }
        index.emplace(key, items.size());
        items.emplace_back(std::move(key), T());
        return items.back().second;
    }

    T get(std::string key) const
    {
        INIStringUtil::trim(key);
        auto found = index.find(key);
        return found == index.end() ? T() : items[found->second].second;
    }

    bool contains(std::string key) const
    {
        INIStringUtil::trim(key);
        return index.count(key) != 0;
    }

    size_t size() const { return items.size(); }
    void clear()
    {
        index.clear();
        items.clear();
    }

    typename std::vector<Item>::const_iterator begin() const { return items.begin(); }
    typename std::vector<Item>::const_iterator end() const { return items.end(); }

private:
    std::map<std::string, std::size_t> index;
    std::vector<Item> items;
};

using INIStructure = INIMap<INIMap<std::string>>;

namespace INIParser {

enum class PDataType : char { LINE_EMPTY = 0, LINE_COMMENT = 1, LINE_SECTION = 2, LINE_KEY_VALUE = 3, LINE_OTHER = 4 };

// Classifies one line; fills out with the section name, or the key and value.
PDataType parseLine(std::string line, std::pair<std::string, std::string>& out);

} // namespace INIParser

class INIReader {
public:
    explicit INIReader(const std::string& path);

    // False, with data untouched, when the file could not be opened; otherwise
    // merges the file into data.
    bool operator>>(INIStructure& data);

    bool hasBom = false;

private:
    std::vector<std::string> readFile();

    std::ifstream stream;
};

// Parses text as the reader parses a file's content (after its BOM), merging into data.
void parseText(const std::string& text, INIStructure& data);

} // namespace mINI
