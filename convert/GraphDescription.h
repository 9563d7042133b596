#pragma once
// The parsed form of a GraphEdit "xgr" export, read line by line without an XML parser: only
// lines holding "<FILTER " or "<connect " mean anything, and attributes are found by substring.
// The text stays in the file's bytes (UTF-8, or the ANSI code page of an older export); it becomes
// UTF-16 only where the graph is built.

#include "framework/StdioFile.h"

#include <windows.h>

#include <string>
#include <variant>
#include <vector>

struct FilterEntry {
    std::string ID;    // the name the filter is added under; connect entries refer to it
    std::string clsid; // braced text form, converted only when the graph is built
};

struct ConnectEntry {
    std::string src;
    std::string srcpin;
    std::string dest;
    std::string destpin;
    bool direct = false; // pin to pin, with no filter put between them
};

using GraphEntry = std::variant<FilterEntry, ConnectEntry>;

struct GraphDescription {
    std::vector<GraphEntry> Entries; // in the order of their lines
};

// Finds the first occurrence of key anywhere in the line (case-sensitive) and gives the text between
// the next two double quotes after it. False when the key or either quote is missing.
bool ExtractAttribute(const std::string& line, const char* key, std::string& value);

// The entry one line gives, if any.
bool ParseGraphLine(const std::string& line, GraphEntry& entry);

// Every entry from the stream's current position to its end. A read error counts as the end.
GraphDescription ReadGraphDescription(CStdioFile& source);
// Every entry of a description held whole in memory, its lines ended as a file's are.
GraphDescription ParseGraphDescription(const std::string& text);

// Where graph choices are read: the internal graph, read once at start-up from the file that holds
// it, and the program's directory, which holds the graph description files.
struct GraphSource {
    GraphDescription InternalGraph;
    std::wstring ProgramDirectory; // ends with a backslash
};

// The description the graph choice names: the internal graph, or the bare-named file in the
// program's directory. Fails when that file cannot be opened or is no graph description.
HRESULT ReadGraphDescription(const GraphSource& source, const std::wstring& graphChoice, GraphDescription& description);
