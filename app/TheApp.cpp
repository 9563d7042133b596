#include "app/ConverterApp.h"

namespace {

// The one application object; the framework finds it through AfxGetApp.
CConverterApp theApp;

} // namespace
