#include "tests/convert/TestFilters.h"

#include "filters/BaseFilter.h"
#include "filters/ClassFactory.h"
#include "filters/InputPin.h"
#include "filters/OutputPin.h"
#include "framework/ScopedWin.h"

#include <memory>
#include <new>
#include <utility>

namespace testfilters {

// {5E1F0000-...}: an arbitrary range of this test program's own.
const GUID MediaMajor = {0x5e1f0000, 0x1111, 0x4a4a, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
const GUID SubtypeA = {0x5e1f0001, 0x1111, 0x4a4a, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
const GUID SubtypeB = {0x5e1f0002, 0x1111, 0x4a4a, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
const GUID SubtypeLonely = {0x5e1f0003, 0x1111, 0x4a4a, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};

const CLSID SourceClsid = {0x5e1f0100, 0x1111, 0x4a4a, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
const CLSID DvrSourceClsid = {0x5e1f0101, 0x1111, 0x4a4a, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
const CLSID SinkClsid = {0x5e1f0102, 0x1111, 0x4a4a, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
const CLSID PickyClsid = {0x5e1f0103, 0x1111, 0x4a4a, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
const CLSID ConverterClsid = {0x5e1f0104, 0x1111, 0x4a4a, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
const CLSID InputOnlyClsid = {0x5e1f0105, 0x1111, 0x4a4a, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
const CLSID LonelySourceClsid = {0x5e1f0106, 0x1111, 0x4a4a, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
const CLSID BothFilesClsid = {0x5e1f0107, 0x1111, 0x4a4a, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
const CLSID BadInputClsid = {0x5e1f0108, 0x1111, 0x4a4a, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
const CLSID BadOutputClsid = {0x5e1f0109, 0x1111, 0x4a4a, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
const CLSID UnjoinableClsid = {0x5e1f010a, 0x1111, 0x4a4a, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};

namespace {

struct PinSpec {
    const wchar_t* name;
    PIN_DIRECTION direction;
    const GUID* subtype;
};

struct FilterSpec {
    const CLSID* clsid;
    std::vector<PinSpec> pins;
    bool readsFile;
    bool writesFile;
    HRESULT loadResult;
    HRESULT setFileNameResult;
    HRESULT joinResult;
};

const FilterSpec& SpecAt(size_t index);

CriticalSection& CallLock()
{
    static CriticalSection lock;
    return lock;
}

std::vector<FileCall>& Calls()
{
    static std::vector<FileCall> calls;
    return calls;
}

void RecordCall(const CLSID& filter, const char* method, LPCOLESTR path)
{
    CriticalSectionLock lock(CallLock());
    Calls().push_back(FileCall{filter, method, path ? path : L""});
}

bool Accepts(const GUID& subtype, const AM_MEDIA_TYPE& type)
{
    return type.majortype == MediaMajor && type.subtype == subtype;
}

class CTestInputPin final : public CBaseInputPin {
public:
    CTestInputPin(CBaseFilter* filter, const wchar_t* name, const GUID& subtype)
        : CBaseInputPin(filter, name), subtype_(subtype)
    {
    }
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override { return Accepts(subtype_, type) ? S_OK : S_FALSE; }

protected:
    HRESULT OnReceive(IMediaSample*) override { return S_OK; }

private:
    const GUID subtype_;
};

class CTestOutputPin final : public CBaseOutputPin {
public:
    CTestOutputPin(CBaseFilter* filter, const wchar_t* name, const GUID& subtype)
        : CBaseOutputPin(filter, name), subtype_(subtype)
    {
    }
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override { return Accepts(subtype_, type) ? S_OK : S_FALSE; }
    HRESULT GetMediaType(int index, CMediaType& type) override
    {
        if (index != 0)
            return VFW_S_NO_MORE_ITEMS;
        type = CMediaType(MediaMajor, subtype_);
        return S_OK;
    }

protected:
    void GetBufferRequirements(ALLOCATOR_PROPERTIES& properties) override
    {
        properties.cBuffers = 1;
        properties.cbBuffer = 16;
        properties.cbAlign = 1;
    }

private:
    const GUID subtype_;
};

class CTestFilter final : public CBaseFilter, public IFileSourceFilter, public IFileSinkFilter {
public:
    explicit CTestFilter(const FilterSpec& spec) : CBaseFilter(*spec.clsid), spec_(spec)
    {
        for (const PinSpec& pin : spec.pins) {
            if (pin.direction == PINDIR_INPUT)
                pins_.push_back(std::make_unique<CTestInputPin>(this, pin.name, *pin.subtype));
            else
                pins_.push_back(std::make_unique<CTestOutputPin>(this, pin.name, *pin.subtype));
        }
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override { return CBaseFilter::QueryInterface(iid, object); }
    STDMETHODIMP_(ULONG) AddRef() override { return CBaseFilter::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return CBaseFilter::Release(); }

    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override
    {
        if (graph && FAILED(spec_.joinResult))
            return spec_.joinResult;
        return CBaseFilter::JoinFilterGraph(graph, name);
    }

    STDMETHODIMP Load(LPCOLESTR path, const AM_MEDIA_TYPE*) override
    {
        RecordCall(*spec_.clsid, "Load", path);
        return spec_.loadResult;
    }
    STDMETHODIMP SetFileName(LPCOLESTR path, const AM_MEDIA_TYPE*) override
    {
        RecordCall(*spec_.clsid, "SetFileName", path);
        return spec_.setFileNameResult;
    }
    STDMETHODIMP GetCurFile(LPOLESTR* path, AM_MEDIA_TYPE*) override
    {
        if (!path)
            return E_POINTER;
        *path = nullptr;
        return E_NOTIMPL;
    }

    int PinCount() override { return static_cast<int>(pins_.size()); }
    CBasePin* PinAt(int index) override { return pins_[static_cast<size_t>(index)].get(); }

protected:
    HRESULT QueryFilterInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IFileSourceFilter && spec_.readsFile)
            *object = static_cast<IFileSourceFilter*>(this);
        else if (iid == IID_IFileSinkFilter && spec_.writesFile)
            *object = static_cast<IFileSinkFilter*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

private:
    const FilterSpec& spec_;
    std::vector<std::unique_ptr<CBasePin>> pins_;
};

const FilterSpec& SpecAt(size_t index)
{
    static const FilterSpec specs[] = {
        {&SourceClsid, {{L"Out 1", PINDIR_OUTPUT, &SubtypeA}, {L"Out 2", PINDIR_OUTPUT, &SubtypeA}}, true, false, S_OK, S_OK, S_OK},
        {&DvrSourceClsid, {{L"DVR Out - 1", PINDIR_OUTPUT, &SubtypeA}, {L"DVR Out - 2", PINDIR_OUTPUT, &SubtypeA}}, false, false, S_OK, S_OK, S_OK},
        {&SinkClsid, {{L"In 1", PINDIR_INPUT, &SubtypeA}, {L"In 2", PINDIR_INPUT, &SubtypeA}}, false, true, S_OK, S_OK, S_OK},
        {&PickyClsid, {{L"Picky In", PINDIR_INPUT, &SubtypeB}}, false, false, S_OK, S_OK, S_OK},
        {&ConverterClsid, {{L"In", PINDIR_INPUT, &SubtypeA}, {L"Out", PINDIR_OUTPUT, &SubtypeB}}, false, false, S_OK, S_OK, S_OK},
        {&InputOnlyClsid, {{L"In", PINDIR_INPUT, &SubtypeLonely}}, false, false, S_OK, S_OK, S_OK},
        {&LonelySourceClsid, {{L"Out", PINDIR_OUTPUT, &SubtypeLonely}}, false, false, S_OK, S_OK, S_OK},
        {&BothFilesClsid, {}, true, true, S_OK, S_OK, S_OK},
        {&BadInputClsid, {}, true, false, LoadError, S_OK, S_OK},
        {&BadOutputClsid, {}, false, true, S_OK, SetFileNameError, S_OK},
        {&UnjoinableClsid, {}, false, false, S_OK, S_OK, JoinError},
    };
    return specs[index];
}
constexpr size_t kSpecCount = 11;

template <size_t Index>
HRESULT CreateFilter(IUnknown** object)
{
    CTestFilter* filter = new (std::nothrow) CTestFilter(SpecAt(Index));
    if (!filter)
        return E_OUTOFMEMORY;
    *object = static_cast<IBaseFilter*>(filter);
    return S_OK;
}

template <size_t... Index>
constexpr FilterCreator CreatorAt(size_t index, std::index_sequence<Index...>)
{
    constexpr FilterCreator creators[] = {&CreateFilter<Index>...};
    return creators[index];
}

std::vector<DWORD>& Cookies()
{
    static std::vector<DWORD> cookies;
    return cookies;
}

} // namespace

std::vector<FileCall> TakeFileCalls()
{
    CriticalSectionLock lock(CallLock());
    std::vector<FileCall> calls;
    calls.swap(Calls());
    return calls;
}

HRESULT RegisterTestFilters()
{
    for (size_t i = 0; i < kSpecCount; ++i) {
        IClassFactory* factory = new (std::nothrow) CFilterClassFactory(CreatorAt(i, std::make_index_sequence<kSpecCount>()));
        if (!factory)
            return E_OUTOFMEMORY;
        DWORD cookie = 0;
        HRESULT hr = ::CoRegisterClassObject(*SpecAt(i).clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
        factory->Release();
        if (FAILED(hr))
            return hr;
        Cookies().push_back(cookie);
    }
    return S_OK;
}

void RevokeTestFilters()
{
    for (DWORD cookie : Cookies())
        ::CoRevokeClassObject(cookie);
    Cookies().clear();
}

std::string ClsidText(const CLSID& clsid)
{
    wchar_t text[64] = {};
    ::StringFromGUID2(clsid, text, 64);
    std::string narrow;
    for (const wchar_t* c = text; *c; ++c)
        narrow += static_cast<char>(*c);
    return narrow;
}

} // namespace testfilters
