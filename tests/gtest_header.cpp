// Compiles GoogleTest's header once for the test programs (tests/CMakeLists.txt).
