// Generated machines, Windows paths: how Windows resolves a path and the
// small text helpers on paths, so that the oracle and the checks compare
// paths as Windows would and never as strings.
#include <algorithm>
#include <cstring>

#include "tests/generated/generated_machines.h"

namespace generated {

std::string UpperAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

const WinPath& RootOfC()
{
    static const WinPath root = [] {
        WinPath p;
        p.valid = true;
        return p;
    }();
    return root;
}

// Resolves text as Windows does for a process whose current directory is
// cwd: "/" is a separator, repeated separators count once, "." and ".." are
// applied ("..") never climbs above the root), "X:" without a separator is
// the current directory on drive X, a leading "\" is the root of the current
// drive. Names with bytes below 32 or with <>"|*? in them, a ":" anywhere but
// after the drive letter, and "\\" network paths resolve to nothing.
WinPath Resolve(const std::string& text, const WinPath& cwd)
{
    WinPath out;
    std::string s = text;
    std::replace(s.begin(), s.end(), '/', '\\');
    if (s.empty() || (s.size() >= 2 && s[0] == '\\' && s[1] == '\\')) {
        return out;
    }
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 32 || std::strchr("<>\"|*?", c) != nullptr || (c == ':' && i != 1)) {
            return out;
        }
    }
    std::string rest;
    if (s.size() >= 2 && s[1] == ':') {
        const char letter = UpperAscii(s.substr(0, 1))[0];
        if (letter < 'A' || letter > 'Z') {
            return out;
        }
        out.drive = letter;
        rest = s.substr(2);
        if ((rest.empty() || rest[0] != '\\') && letter == cwd.drive) {
            out.names = cwd.names;
        }
    } else {
        out.drive = cwd.drive;
        if (s[0] != '\\') {
            out.names = cwd.names;
        }
        rest = s;
    }
    std::string name;
    for (size_t i = 0; i <= rest.size(); ++i) {
        if (i < rest.size() && rest[i] != '\\') {
            name += rest[i];
            continue;
        }
        if (name == "..") {
            if (!out.names.empty()) {
                out.names.pop_back();
            }
        } else if (!name.empty() && name != ".") {
            out.names.push_back(UpperAscii(name));
        }
        name.clear();
    }
    out.valid = true;
    return out;
}

bool IsListedName(const std::string& name)
{
    for (const char* listed : kProductFiles) {
        if (UpperAscii(name) == UpperAscii(listed)) {
            return true;
        }
    }
    return false;
}

std::string WithZero(const std::string& text)
{
    return text + std::string(1, '\0');
}

// folder + "\" + name, without doubling the root's separator.
std::string Join(const std::string& folder, const std::string& name)
{
    return folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

std::string ParentText(const std::string& path)
{
    const size_t cut = path.find_last_of('\\');
    return cut == 2 ? path.substr(0, 3) : path.substr(0, cut);
}

std::string NameText(const std::string& path)
{
    return path.substr(path.find_last_of('\\') + 1);
}

}  // namespace generated
