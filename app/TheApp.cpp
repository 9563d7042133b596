#include "app/ConverterApp.h"

namespace {

CConverterApp theApp;

} // namespace

CConverterApp& ConverterApp()
{
    return theApp;
}
