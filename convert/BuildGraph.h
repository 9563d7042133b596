#pragma once
// Turns a graph description into a connected filter graph inside the given graph manager.

#include "convert/GraphDescription.h"

#include <dshow.h>

#include <string>

// Reads the description that the graph choice names and builds it: the input path goes to every
// filter that reads a file, the output path to every filter that writes one. Messages are appended
// to report; gives the run status (negative: the first failing entry ended the building).
HRESULT BuildGraph(IGraphBuilder* graph, const GraphSource& source, const std::wstring& graphChoice,
                   const std::wstring& inputPath, const std::wstring& outputPath, std::wstring& report);

// The building itself, for a description already read.
HRESULT BuildGraphFromDescription(IGraphBuilder* graph, const GraphDescription& description,
                                  const std::wstring& inputPath, const std::wstring& outputPath, std::wstring& report);
