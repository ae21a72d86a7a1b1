// A library with one harmless function, for preloading into the test program.
extern "C" int securityTestPreloadMarker() {
  return 42;
}
