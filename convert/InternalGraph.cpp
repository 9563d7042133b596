#include "convert/InternalGraph.h"

#include "res/resource.h"

const wchar_t InternalGraphFileName[] = L"InternalXGR.tmp";

namespace {

// The graph's bytes in the program's resources; false when they cannot be had.
bool FindInternalGraph(const char*& bytes, DWORD& size)
{
    HRSRC resource = ::FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_INTERNAL_XGR), L"XGR");
    HGLOBAL loaded = resource ? ::LoadResource(nullptr, resource) : nullptr;
    bytes = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
    size = bytes ? ::SizeofResource(nullptr, resource) : 0;
    return bytes != nullptr;
}

// Writes the graph from the program's resources into the open file and flushes it; false when any
// of it did not reach the file.
bool WriteInternalGraph(CStdioFile& file)
{
    const char* graph = nullptr;
    DWORD size = 0;
    return FindInternalGraph(graph, size) && file.Write(graph, size) && file.Flush();
}

} // namespace

bool LoadInternalGraph(GraphDescription& graph)
{
    const char* bytes = nullptr;
    DWORD size = 0;
    if (!FindInternalGraph(bytes, size))
        return false;
    graph = ParseGraphDescription(std::string(bytes, size));
    return true;
}

InternalGraphOpen OpenInternalGraph(const wchar_t* path, CStdioFile& file, GraphDescription& graph)
{
    // A running instance holds the file, and it stays.
    ::DeleteFileW(path);
    if (!file.Open(path, CStdioFile::modeCreate | CStdioFile::modeReadWrite | CStdioFile::shareExclusive
                             | CStdioFile::typeText))
        return InternalGraphOpen::Locked;
    // A file that did not take the graph whole would fail every conversion later, each with a
    // misleading message.
    if (!WriteInternalGraph(file)) {
        file.Close();
        ::DeleteFileW(path);
        return InternalGraphOpen::NotWritten;
    }
    file.SeekToBegin();
    graph = ReadGraphDescription(file);
    return InternalGraphOpen::Opened;
}
