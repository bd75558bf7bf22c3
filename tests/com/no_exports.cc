// A shared library that is no server: it lacks DllGetClassObject.
extern "C" [[gnu::visibility("default")]] int NotAServer() { return 1; }
