#pragma once
// The internal graph: a graph description carried in the program's resources. It is extracted
// into a temporary file that stays open exclusively while the program runs, which makes that file
// the single-instance lock as well.

#include "convert/GraphDescription.h"
#include "framework/StdioFile.h"

extern const wchar_t InternalGraphFileName[]; // "InternalXGR.tmp"

enum class InternalGraphOpen {
    Opened,
    Locked,     // the file is held by a running instance, or cannot be created
    NotWritten, // the graph did not reach the file whole; the file is closed and deleted again
};

// The internal graph read straight from the program's resources, taking no lock: for a run beside
// a running instance. False when the resource cannot be had.
bool LoadInternalGraph(GraphDescription& graph);

// Deletes a file left at path by a run that ended abnormally, creates it anew held open
// exclusively in file, writes the internal graph into it and reads it back into graph.
InternalGraphOpen OpenInternalGraph(const wchar_t* path, CStdioFile& file, GraphDescription& graph);
