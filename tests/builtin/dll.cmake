# HalvernFilters.dll through the program's manifest, and its registration.
halvern_test(builtin_dll_test DllTest.cpp)
# The class identifiers only: the filters themselves are the DLL's, loaded as COM loads them.
target_link_libraries(builtin_dll_test PRIVATE halvern_builtin strmiids)
if(TEST builtin_dll_test)
    # It registers the DLL in the shared prefix for a moment, and needs nothing of it registered
    # otherwise.
    set_tests_properties(builtin_dll_test PROPERTIES RESOURCE_LOCK standin_registry)
endif()
