#include "app/ConverterApp.h"

void CConverterApp::StopAutoConvert()
{
    LONG wasRunning = AutoConvertRunning.load();
    AutoConvertStopRequest = 1;
    if (!wasRunning)
        return;
    if (AutoConvertStopEvent)
        ::SetEvent(AutoConvertStopEvent.Get());
    while (AutoConvertRunning.load())
        ::Sleep(100);
    AutoConvertStopEvent.Reset();
}
