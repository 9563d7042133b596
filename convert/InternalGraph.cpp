#include "convert/InternalGraph.h"

#include "res/resource.h"

const wchar_t kInternalGraphFileName[] = L"InternalXGR.tmp";

namespace {

// Writes the graph from the program's resources into the open file and flushes it; false when any
// of it did not reach the file.
bool WriteInternalGraph(CStdioFile& file)
{
    HRSRC resource = ::FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_INTERNAL_XGR), L"XGR");
    HGLOBAL loaded = resource ? ::LoadResource(nullptr, resource) : nullptr;
    const void* graph = loaded ? ::LockResource(loaded) : nullptr;
    if (!graph)
        return false;
    return file.Write(graph, ::SizeofResource(nullptr, resource)) && file.Flush();
}

} // namespace

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
