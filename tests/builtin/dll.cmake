# HalvernFilters.dll through the program's manifest.
halvern_test(builtin_dll_test DllTest.cpp)
# The class identifiers only: the filters themselves are the DLL's, loaded as COM loads them.
target_link_libraries(builtin_dll_test PRIVATE halvern_builtin strmiids)
