#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

namespace {

// The dynamic symbols the library defines, as nm prints them (demangled or not).
std::set<std::string> definedSymbols(bool demangle)
{
    std::string command = std::string("nm -D --defined-only ") + (demangle ? "-C " : "") + KXDIAG_LIBRARY;
    FILE* pipe = popen(command.c_str(), "r");
    std::set<std::string> names;
    if (!pipe) {
        return names;
    }
    char line[4096];
    while (fgets(line, sizeof(line), pipe)) {
        std::string text(line);
        // "<address> <type> <name>\n"
        auto first = text.find(' ');
        auto second = text.find(' ', first + 1);
        if (first == std::string::npos || second == std::string::npos) {
            continue;
        }
        names.insert(text.substr(second + 1, text.size() - second - 2));
    }
    pclose(pipe);
    return names;
}

TEST(Exports, FlatEntryPointsArePlainNames)
{
    auto names = definedSymbols(false);
    ASSERT_FALSE(names.empty());
    for (const char* name : { "registerLogger", "unRegisterLogger", "shouldLog", "kxLog", "backtraces" }) {
        EXPECT_EQ(names.count(name), 1u) << name;
    }
}

TEST(Exports, NamespacedInterfaceIsExported)
{
    auto names = definedSymbols(true);
    for (const char* name : { "kxlog::g_logMask", "kxsnapper::utils::g_snapperlog",
             "kxlog::api::registerLogger(std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> >, bool)",
             "kxlog::api::kxlogger::shouldLog(kxlog::kxLevel_enum)" }) {
        EXPECT_EQ(names.count(name), 1u) << name;
    }
}

TEST(Exports, NothingOfSpdlogOrFmtIsExported)
{
    std::ostringstream leaked;
    for (const auto& name : definedSymbols(true)) {
        for (const char* space : { "spdlog::", "fmt::" }) {
            auto pos = name.find(space);
            // Our own functions may take spdlog types as arguments; what must
            // not leak is spdlog's or fmt's own code, data, vtables and typeinfo.
            bool owned = pos == 0 || name.rfind("vtable for ", 0) == 0 || name.rfind("typeinfo", 0) == 0
                || name.rfind("guard variable for ", 0) == 0;
            if (pos != std::string::npos && owned) {
                leaked << name << "\n";
            }
        }
    }
    EXPECT_EQ(leaked.str(), "");
}

TEST(Exports, InternalsStayHidden)
{
    auto names = definedSymbols(true);
    for (const auto& name : names) {
        EXPECT_EQ(name.find("kxlog::impl::"), std::string::npos) << name;
        EXPECT_EQ(name.find("mINI::"), std::string::npos) << name;
    }
}

} // namespace
