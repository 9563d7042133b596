#include "framework/WinApp.h"

// The framework's tests run without Halvern's application object; this one stands in.
static CWinApp testApp;
