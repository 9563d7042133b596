# HalvernFilters.dll through the program's manifest, its registration, and the shipped graph.
halvern_test(builtin_dll_test DllTest.cpp)
add_dependencies(builtin_dll_test halvern_builtin_graph)
if(TEST builtin_dll_test)
    # It registers the DLL in the shared prefix for a moment, and needs nothing of it registered
    # otherwise.
    set_tests_properties(builtin_dll_test PROPERTIES RESOURCE_LOCK standin_registry)
endif()
