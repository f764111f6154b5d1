// Fontconfig, which Qt's text drawing loads, keeps a small cache of its own for the life of the
// process; the leak checker of the sanitizer build is told to leave it alone.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
